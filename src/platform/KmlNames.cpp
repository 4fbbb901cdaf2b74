#include "platform/KmlNames.h"

#include <cstdio>
#include <memory>

#include "platform/ExpatParser.h"

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

namespace {

// Whether an XML reader takes @p name as an attribute value and gives it back
// unchanged. KML is UTF-8, so bytes that are not UTF-8 (a name from a Latin-1
// file system) or characters XML does not allow (U+FFFE, U+FFFF) are refused,
// as they would be by any reader of the tile; and a name written into a
// document that no reader takes breaks every model written after it.
bool XmlReadsBack(const std::string& name) {
  const ExpatParser parser = MakeExpatParser("UTF-8");
  if (!parser) return false;
  struct Seen {
    const std::string* expected;
    bool same = false;
  } seen{&name};
  XML_SetUserData(parser.get(), &seen);
  XML_SetStartElementHandler(parser.get(), [](void* data, const XML_Char*, const XML_Char** attributes) {
    auto* s = static_cast<Seen*>(data);
    s->same = attributes[0] != nullptr && attributes[1] != nullptr && *s->expected == attributes[1];
  });
  const std::string document = "<a v=\"" + KmlAttributeText(name) + "\"/>";
  return XML_Parse(parser.get(), document.data(), static_cast<int>(document.size()), XML_TRUE) == XML_STATUS_OK &&
         seen.same;
}

}  // namespace

std::string WhyKmlCannotHoldName(const std::string& name) {
  if (name.find("]]>") != std::string::npos)
    return "the model name holds \"]]>\", which ends the CDATA section KML writes the name in; rename the model";
  bool ascii = true;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    ascii = ascii && byte < 0x80;
    if (byte >= 0x20) continue;
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", byte);
    return std::string("the model name holds the control character ") + code +
           ", which KML cannot hold or does not read back; rename the model";
  }
  // Printable ASCII is always XML text; only other bytes need a reader's word
  // (a parser per model name would cost a city of plain names for nothing).
  if (!ascii && !XmlReadsBack(name))
    return "the model name is not UTF-8 text, or holds a character XML does not allow (such as U+FFFE); KML cannot "
           "hold it; rename the model";
  return {};
}

}  // namespace kmztile::platform
