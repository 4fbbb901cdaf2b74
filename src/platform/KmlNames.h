#pragma once
// Model names in the KML the library writes. A model's name becomes a
// placemark's id attribute, its name and the path of its model link; libkml
// writes attribute values as they are and wraps text holding markup
// characters in one CDATA section. So an id needs its markup characters
// escaped here, and a name that no CDATA section can hold is refused.
#include <string>

namespace kmztile::platform {

/**
 * @p value ready for libkml's attribute writer: "&", "<" and '"' written
 * as character references, so that the attribute is well-formed and an XML
 * reader gets @p value back. Any other value is returned unchanged.
 */
std::string KmlAttributeText(const std::string& value);

/**
 * Why the KML written for a model named @p name would not be well-formed or
 * would not read back as @p name: it holds "]]>" (which ends the CDATA
 * section libkml wraps it in), a control character, bytes that are not
 * UTF-8 or a character XML does not allow (U+FFFE, U+FFFF). Empty when it can be
 * written.
 */
std::string WhyKmlCannotHoldName(const std::string& name);

}  // namespace kmztile::platform
