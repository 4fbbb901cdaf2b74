#pragma once
// JSON as the command writes it. Names and paths are bytes and JSON holds
// UTF-8 text only: a byte sequence that is not UTF-8 is written as U+FFFD
// instead of aborting the output.
#include <string>

#include <nlohmann/json.hpp>

namespace kmztool::build {

/** @p value as text, indented by @p indent spaces (-1: one line); invalid UTF-8 shown as U+FFFD. */
std::string JsonText(const nlohmann::json& value, int indent = -1);

}  // namespace kmztool::build
