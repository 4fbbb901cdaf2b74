#pragma once
// Many texts that are nearly one another (a template rewritten for every
// model of a city) held compressed against one reference text: each keeps
// only what differs, a few dozen bytes instead of a kilobyte.
#include <cstddef>
#include <string>

namespace kmztile::platform {

/** A compressed store of texts that resemble one reference text. */
class SimilarTexts {
 public:
  /** The first text stored becomes the reference the others are compressed against. */
  SimilarTexts() = default;

  /** Compresses @p text into @p packed (the reference is taken from the first call). @return false when zlib fails. */
  bool Pack(const std::string& text, std::string& packed);

  /** The text @p packed was made from. @return false when it is damaged. */
  bool Unpack(const std::string& packed, std::string& text) const;

  /** Bytes held by the reference. */
  std::size_t ReferenceSize() const { return reference_.size(); }

 private:
  std::string reference_;
  bool haveReference_ = false;
};

}  // namespace kmztile::platform
