#pragma once
// Builds a zip archive in memory with minizip, entry by entry, in the layout
// libkml's KMZ writer produces (local headers, a central directory, zero
// timestamps, no extra fields), but with a per-entry choice between deflate
// and store so that already-compressed images are not deflated again.
#include <memory>
#include <string>

namespace kmztile::platform {

/**
 * The zlib level the library deflates text entries (KML and COLLADA) at, in
 * tiles and in model packages alike. Deflating the COLLADA copies dominates
 * the cost of a tile; level 1 writes a 100-model tile about three times
 * faster than level 6 for a tile about 9 % larger (bench/results/tiles.md).
 */
constexpr int kTextDeflateLevel = 1;

/** True when @p data already holds compressed image bytes (JPEG, PNG or GIF). */
bool IsCompressedImage(const std::string& data);

/**
 * A text deflated once, the way ZipWriter::AddFile deflates it, so that the
 * same file can enter many archives without being compressed again.
 */
struct DeflatedText {
  std::string bytes;   ///< raw deflate stream at kTextDeflateLevel
  unsigned long crc = 0;
  std::size_t size = 0;  ///< the text's own length
  bool text = false;     ///< zlib judged the data text (the entry's "text" attribute)
};

/** Deflates @p data as AddFile deflates a text entry. @return false when zlib fails or the text exceeds 1 GiB. */
bool DeflateText(const std::string& data, DeflatedText& out);

/** The text @p deflated was made from. @return false when the stream is damaged or its length or CRC differ. */
bool InflateText(const DeflatedText& deflated, std::string& out);

/** An archive being written into memory. */
class ZipWriter {
 public:
  /** Starts an empty archive. */
  ZipWriter();
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  /**
   * True for the names libkml's KMZ writer refuses: those beginning with
   * "/", "\" or "..".
   */
  static bool IsRefusedName(const std::string& name);

  /**
   * Appends one entry: stored when @p compress is false, deflated at
   * @p level otherwise. @return false for a refused name or a write failure.
   */
  bool Add(const std::string& name, const std::string& data, bool compress, int level = 6);

  /**
   * Appends one entry the way the library packs files: stored when @p data
   * already holds a compressed image (see IsCompressedImage), deflated at
   * kTextDeflateLevel otherwise. @return as Add.
   */
  bool AddFile(const std::string& name, const std::string& data);

  /**
   * Appends a text deflated beforehand by DeflateText: the entry is byte for
   * byte the one AddFile would write for the text. @return as Add.
   */
  bool AddDeflated(const std::string& name, const DeflatedText& text);

  /** Writes the central directory and hands over the archive bytes. @return false when writing failed. */
  bool Finish(std::string& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};


}  // namespace kmztile::platform
