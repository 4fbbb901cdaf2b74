#include "platform/KmlNames.h"

#include <cstdio>

#include "platform/WideText.h"

namespace kmztile::platform {

std::string KmlAttributeText(const std::string& value) {
  if (value.find_first_of("&<\"") == std::string::npos) return value;
  std::string text;
  text.reserve(value.size() + 16);
  for (const char c : value) {
    switch (c) {
      case '&': text += "&amp;"; break;
      case '<': text += "&lt;"; break;
      case '"': text += "&quot;"; break;
      default: text += c;
    }
  }
  return text;
}

std::string WhyKmlCannotHoldName(const std::string& name) {
  if (name.find("]]>") != std::string::npos)
    return "the model name holds \"]]>\", which ends the CDATA section KML writes the name in; rename the model";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20) continue;
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", byte);
    return std::string("the model name holds the control character ") + code +
           ", which KML cannot hold or does not read back; rename the model";
  }
  // A sequence that is not UTF-8 makes the whole KML unreadable, and with
  // it every other model of the tile; decoding and encoding again changes it.
  if (WideToUtf8(Utf8ToWide(name)) != name)
    return "the model name is not UTF-8 text, the only encoding the KML is written in; rename the model";
  return {};
}

}  // namespace kmztile::platform
