#include "placement/detail/ColladaImages.h"

#include <algorithm>
#include <memory>
#include <string>

#include "platform/ExpatParser.h"

namespace kmztile::placement::detail {
namespace {

// The element name without a namespace prefix.
std::string LocalName(const XML_Char* name) {
  const std::string n = name;
  const auto colon = n.rfind(':');
  return colon == std::string::npos ? n : n.substr(colon + 1);
}

struct ImageCollector {
  std::vector<std::string> path;  // open elements, root first
  std::vector<std::string>* uris = nullptr;
  std::size_t captureDepth = 0;    // depth of the element whose text is a URI; 0 = none
  std::string text;
  std::string rootName;

  bool InImageInitFrom() const {
    const std::size_t n = path.size();
    if (n >= 2 && path[n - 1] == "init_from" && path[n - 2] == "image") return true;  // COLLADA 1.4
    return n >= 3 && path[n - 1] == "ref" && path[n - 2] == "init_from" && path[n - 3] == "image";  // 1.5
  }

  static void Start(void* data, const XML_Char* name, const XML_Char**) {
    auto* self = static_cast<ImageCollector*>(data);
    self->path.push_back(LocalName(name));
    if (self->path.size() == 1) self->rootName = self->path.back();
    // A COLLADA 1.5 <ref> inside the <init_from> takes over the capture.
    if (self->InImageInitFrom()) {
      self->captureDepth = self->path.size();
      self->text.clear();
    }
  }

  static void End(void* data, const XML_Char*) {
    auto* self = static_cast<ImageCollector*>(data);
    if (self->captureDepth == self->path.size() && self->captureDepth != 0) {
      const auto first = self->text.find_first_not_of(" \t\r\n");
      if (first != std::string::npos)
        self->uris->push_back(self->text.substr(first, self->text.find_last_not_of(" \t\r\n") - first + 1));
      self->captureDepth = 0;
    }
    self->path.pop_back();
  }

  static void Text(void* data, const XML_Char* s, int len) {
    auto* self = static_cast<ImageCollector*>(data);
    // Only the element's own text: a 1.5 <init_from> holding <ref> has none.
    if (self->captureDepth != 0 && self->captureDepth == self->path.size()) self->text.append(s, len);
  }
};

}  // namespace

bool ReadColladaImageUris(const std::string& xml, std::vector<std::string>& uris, std::string& error) {
  const platform::ExpatParser parser = platform::MakeExpatParser(nullptr);
  if (!parser) {
    error = "out of memory creating the XML parser";
    return false;
  }
  ImageCollector collector;
  std::vector<std::string> found;
  collector.uris = &found;
  XML_SetUserData(parser.get(), &collector);
  XML_SetElementHandler(parser.get(), &ImageCollector::Start, &ImageCollector::End);
  XML_SetCharacterDataHandler(parser.get(), &ImageCollector::Text);
  // Fed in pieces: Expat takes an int length.
  constexpr std::size_t kChunk = 1 << 20;
  std::size_t offset = 0;
  do {
    const std::size_t n = std::min(kChunk, xml.size() - offset);
    const bool last = offset + n == xml.size();
    if (XML_Parse(parser.get(), xml.data() + offset, static_cast<int>(n), last) != XML_STATUS_OK) {
      error = "not well-formed XML (line " + std::to_string(XML_GetCurrentLineNumber(parser.get())) +
              "): " + XML_ErrorString(XML_GetErrorCode(parser.get()));
      return false;
    }
    offset += n;
  } while (offset < xml.size());
  if (collector.rootName != "COLLADA") {
    error = "not a COLLADA document (root element <" + collector.rootName + ">)";
    return false;
  }
  uris.insert(uris.end(), found.begin(), found.end());
  return true;
}

}  // namespace kmztile::placement::detail
