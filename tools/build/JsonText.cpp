#include "build/JsonText.h"

namespace kmztool::build {

std::string JsonText(const nlohmann::json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace kmztool::build
