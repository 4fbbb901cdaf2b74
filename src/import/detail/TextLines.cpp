#include "import/detail/TextLines.h"

namespace kmztile::import::detail {

bool ReadTextLine(std::istream& in, std::string& line) {
  line.clear();
  if (!std::getline(in, line)) {
    line.clear();
    return false;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

void WriteTextLine(std::ostream& out, const std::string& value) {
  out.write(value.data(), static_cast<std::streamsize>(value.size()));
  out.write(kLineEnd, 2);
}

}  // namespace kmztile::import::detail
