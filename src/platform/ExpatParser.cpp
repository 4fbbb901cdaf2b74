#include "platform/ExpatParser.h"

#include <random>

namespace kmztile::platform {

ExpatParser MakeExpatParser(const XML_Char* encoding) {
  // Never 0: expat takes a zero salt for "none given" and draws its own.
  static const unsigned long salt = [] {
    std::random_device device;
    const unsigned long value = (static_cast<unsigned long>(device()) << 16) ^ device();
    return value == 0 ? 1UL : value;
  }();
  ExpatParser parser(XML_ParserCreate(encoding));
  if (parser) XML_SetHashSalt(parser.get(), salt);
  return parser;
}

}  // namespace kmztile::platform
