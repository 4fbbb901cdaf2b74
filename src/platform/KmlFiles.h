#pragma once
// libkml's own file functions, handed translated paths.
#include <string>

#include "kml/base/file.h"
#include "kml/engine.h"

namespace kmztile::platform {

/** kmlbase::File::ReadFileToString's contract (empties @p out, then the file's bytes), through ReadWholeFile. */
bool KmlReadFileToString(const std::string& path, std::string* out);
/** kmlbase::File::WriteStringToFile's contract, through WriteFileAtomically. */
bool KmlWriteStringToFile(const std::string& data, const std::string& path);
/** kmlengine::KmzFile::Create on the translated path; NULL when it cannot be created or @p path exists already. */
kmlengine::KmzFilePtr KmzCreate(const std::string& path);

}  // namespace kmztile::platform
