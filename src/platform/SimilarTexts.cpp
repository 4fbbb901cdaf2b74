#include "platform/SimilarTexts.h"

#include <zlib.h>

#include <limits>

namespace kmztile::platform {
namespace {

// Raw deflate (no header: the texts never leave the process); the
// reference is the preset dictionary, of which zlib uses the last 32 KB.
constexpr int kWindowBits = -15;

// What the dictionary can hold: zlib looks back at most its window.
std::string DictionaryOf(const std::string& reference) {
  constexpr std::size_t kWindow = 32768;
  return reference.size() <= kWindow ? reference : reference.substr(reference.size() - kWindow);
}

}  // namespace

bool SimilarTexts::Pack(const std::string& text, std::string& packed) {
  if (!haveReference_) {
    reference_ = DictionaryOf(text);
    haveReference_ = true;
  }
  if (text.size() > std::numeric_limits<uInt>::max() / 2) return false;
  z_stream stream{};
  if (deflateInit2(&stream, 1, Z_DEFLATED, kWindowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 16, '\0');
  bool ok = reference_.empty() || deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(reference_.data()),
                                                       static_cast<uInt>(reference_.size())) == Z_OK;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  ok = ok && deflate(&stream, Z_FINISH) == Z_STREAM_END;
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (!ok) return false;
  // The length first: inflating then needs no guess at the size.
  packed = std::to_string(text.size()) + ":" + out;
  packed.shrink_to_fit();
  return true;
}

bool SimilarTexts::Unpack(const std::string& packed, std::string& text) const {
  const std::size_t colon = packed.find(':');
  if (colon == std::string::npos || colon == 0 || colon > 19) return false;
  std::size_t size = 0;
  for (std::size_t i = 0; i < colon; ++i) {
    if (packed[i] < '0' || packed[i] > '9') return false;
    size = size * 10 + static_cast<std::size_t>(packed[i] - '0');
  }
  if (size > std::numeric_limits<uInt>::max() / 2) return false;
  z_stream stream{};
  if (inflateInit2(&stream, kWindowBits) != Z_OK) return false;
  // One byte to spare: an empty text still has room for its stream's end.
  std::string out(size + 1, '\0');
  bool ok = reference_.empty() || inflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(reference_.data()),
                                                       static_cast<uInt>(reference_.size())) == Z_OK;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data() + colon + 1));
  stream.avail_in = static_cast<uInt>(packed.size() - colon - 1);
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  ok = ok && inflate(&stream, Z_FINISH) == Z_STREAM_END && stream.total_out == size;
  inflateEnd(&stream);
  if (!ok) return false;
  out.resize(size);
  text.swap(out);
  return true;
}

}  // namespace kmztile::platform
