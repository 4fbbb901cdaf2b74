#pragma once
// The image references of a COLLADA document: the URI of every <image>
// (COLLADA 1.4: <image><init_from>URI</init_from>; COLLADA 1.5:
// <image><init_from><ref>URI</ref></init_from>). The <init_from> of a
// <surface> names an image by id, not a file, and is not a reference.
#include <string>
#include <vector>

namespace kmztile::placement::detail {

/**
 * Parses @p xml with Expat and collects the image URIs in document order,
 * trimmed of surrounding white space.
 * @return false, with a reason (line and message) in @p error, when the
 * text is not well-formed XML or its root element is not COLLADA.
 */
bool ReadColladaImageUris(const std::string& xml, std::vector<std::string>& uris, std::string& error);

}  // namespace kmztile::placement::detail
