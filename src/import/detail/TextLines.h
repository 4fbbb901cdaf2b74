#pragma once
// The small text files of the pipeline hold one value per line. They are
// written with CR LF line ends on every platform; readers accept CR LF and
// LF alike, and a trailing CR is never part of a value or a name.
#include <istream>
#include <ostream>
#include <string>

namespace kmztile::import::detail {

/** The line end every text file of the pipeline is written with. */
inline constexpr char kLineEnd[] = "\r\n";

/**
 * Reads one line without its line end (LF or CR LF) into @p line.
 * @return false at the end of the stream; @p line is then "".
 */
bool ReadTextLine(std::istream& in, std::string& line);

/** Writes @p value followed by CR LF (the stream is opened in binary mode). */
void WriteTextLine(std::ostream& out, const std::string& value);

}  // namespace kmztile::import::detail
