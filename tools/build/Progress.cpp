#include "build/Progress.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <ostream>

namespace kmztool::build {

namespace {

std::string Duration(double seconds) {
  const long s = static_cast<long>(std::llround(seconds));
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

}  // namespace

std::string FormatProgress(std::size_t done, std::size_t total, double elapsedSeconds) {
  char buf[160];
  const double percent = total ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 100.0;
  int n = std::snprintf(buf, sizeof buf, "tiles %zu/%zu (%.1f%%)", done, total, percent);
  std::string line(buf, static_cast<size_t>(n));
  if (done > 0 && elapsedSeconds > 0) {
    const double rate = static_cast<double>(done) / elapsedSeconds;
    n = std::snprintf(buf, sizeof buf, "  %.1f tiles/s", rate);
    line.append(buf, static_cast<size_t>(n));
    if (done < total) line += "  " + Duration(static_cast<double>(total - done) / rate) + " left";
  }
  return line;
}

std::string FormatProgressJson(std::size_t done, std::size_t total, double elapsedSeconds) {
  char buf[200];
  const bool known = done > 0 && elapsedSeconds > 0;
  const double rate = known ? static_cast<double>(done) / elapsedSeconds : 0;
  char rateText[40] = "null", leftText[40] = "null";
  if (known) {
    std::snprintf(rateText, sizeof rateText, "%.2f", rate);
    std::snprintf(leftText, sizeof leftText, "%.1f", done < total ? static_cast<double>(total - done) / rate : 0.0);
  }
  std::snprintf(buf, sizeof buf, "{\"done\": %zu, \"total\": %zu, \"tiles_per_second\": %s, \"seconds_left\": %s}",
                done, total, rateText, leftText);
  return buf;
}

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

ProgressLine::ProgressLine(std::ostream& out, bool enabled, std::size_t total, Clock clock)
    : out_(out), enabled_(enabled), total_(total), clock_(std::move(clock)) {
  if (!clock_) {
    clock_ = [] {
      return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
  }
  start_ = clock_();
}

void ProgressLine::Advance(std::size_t tiles) {
  done_ += tiles;
  if (!enabled_) return;
  const double now = clock_();
  const double interval = style_ == Style::Json ? 1.0 : 0.1;
  if (done_ < total_ && lastDraw_ >= 0 && now - lastDraw_ < interval) return;
  lastDraw_ = now;
  Draw(now);
}

void ProgressLine::Draw(double now) {
  if (style_ == Style::Json) {
    out_ << FormatProgressJson(done_, total_, now - start_) << '\n';
    out_.flush();
    return;
  }
  const std::string line = FormatProgress(done_, total_, now - start_);
  out_ << '\r' << line;
  // Blank out the rest of a longer earlier line.
  if (line.size() < lastWidth_) out_ << std::string(lastWidth_ - line.size(), ' ');
  lastWidth_ = line.size();
  out_.flush();
}

void StageLine::Show(const std::string& text) {
  if (!enabled_) return;
  const std::string line = "kmztile build: " + text;
  out_ << '\r' << line;
  if (line.size() < lastWidth_) out_ << std::string(lastWidth_ - line.size(), ' ');
  lastWidth_ = line.size();
  out_.flush();
}

void StageLine::Clear() {
  if (!enabled_ || lastWidth_ == 0) return;
  out_ << '\r' << std::string(lastWidth_, ' ') << '\r';
  out_.flush();
  lastWidth_ = 0;
}

void ProgressLine::Finish() {
  if (!enabled_ || lastWidth_ == 0) return;
  out_ << '\r' << std::string(lastWidth_, ' ') << '\r';
  out_.flush();
  lastWidth_ = 0;
}

}  // namespace kmztool::build
