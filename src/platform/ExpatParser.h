#pragma once
// Expat parsers as the library makes them: freed when they go out of scope,
// and salted for their hash tables from one random value per process. Left
// to itself, expat asks the system for random bytes on every parser, a
// system call per model file read.
#include <expat.h>

#include <memory>

namespace kmztile::platform {

struct ExpatParserFree {
  void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};
using ExpatParser = std::unique_ptr<XML_ParserStruct, ExpatParserFree>;

/** A parser for @p encoding (null: as the document declares), or null when out of memory. */
ExpatParser MakeExpatParser(const XML_Char* encoding);

}  // namespace kmztile::platform
