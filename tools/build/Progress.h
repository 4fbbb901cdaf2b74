#pragma once
// The progress line a build keeps on standard error while tiles are built:
// tiles done of total, rate and time left, redrawn in place. Shown only when
// standard error is a terminal, so logs and pipes stay clean.
#include <chrono>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>

namespace kmztool::build {

/**
 * "tiles 120/526 (22.8%)  35.2 tiles/s  0:11 left". Before any tile is done,
 * or without elapsed time, rate and time left are left out; time left is
 * given as h:mm:ss from an hour on.
 */
std::string FormatProgress(std::size_t done, std::size_t total, double elapsedSeconds);

/** {"done": N, "total": T, "tiles_per_second": R, "seconds_left": S}; rate and time left null before they are known. */
std::string FormatProgressJson(std::size_t done, std::size_t total, double elapsedSeconds);

/** True when standard error is a terminal. */
bool StderrIsTerminal();

/**
 * The stage a build is in before and after its tiles ("checking 16000
 * models"), a line redrawn in place on the terminal, so that the minutes a
 * large city takes to read are not silent. The tile progress line takes the
 * same line over.
 */
class StageLine {
 public:
  /** @p enabled false draws nothing at all (not a terminal, --quiet, --progress other than auto). */
  StageLine(std::ostream& out, bool enabled) : out_(out), enabled_(enabled) {}
  StageLine(const StageLine&) = delete;
  StageLine& operator=(const StageLine&) = delete;
  ~StageLine() { Clear(); }
  /** Replaces the line with "kmztile build: " and @p text. */
  void Show(const std::string& text);
  /** Erases the line. */
  void Clear();

 private:
  std::ostream& out_;
  bool enabled_;
  std::size_t lastWidth_ = 0;
};

/** A throttled, in-place progress line. */
class ProgressLine {
 public:
  /** Seconds since some fixed start; replaceable for tests. */
  using Clock = std::function<double()>;

  /**
   * @param out where the line goes (standard error in the command)
   * @param enabled false draws nothing at all (not a terminal, --quiet)
   * @param total number of tiles of the run
   * @param clock defaults to a steady clock
   */
  ProgressLine(std::ostream& out, bool enabled, std::size_t total, Clock clock = {});
  /** How progress is shown: a line redrawn in place, or one JSON line per second (for machines). */
  enum class Style { Line, Json };
  void SetStyle(Style style) { style_ = style; }

  /** Counts @p tiles more done; redraws at most ten times a second, and always at the last tile. */
  void Advance(std::size_t tiles = 1);

  /** Tiles counted so far. */
  std::size_t Done() const { return done_; }

  /** Erases the line (when one was drawn) so the summary starts on a clean line. */
  void Finish();

 private:
  void Draw(double now);

  std::ostream& out_;
  bool enabled_;
  std::size_t total_;
  std::size_t done_ = 0;
  Clock clock_;
  double start_ = 0;
  double lastDraw_ = -1;
  std::size_t lastWidth_ = 0;
  Style style_ = Style::Line;
};

}  // namespace kmztool::build
