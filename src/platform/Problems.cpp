#include "platform/Problems.h"

#include <utility>

namespace kmztile::platform {
namespace {

// Bounded so that a folder of a million hostile names cannot exhaust memory;
// the last entry says how many more there were.
constexpr std::size_t kMaxProblems = 10000;

struct ThreadProblems {
  std::vector<Problem> list;
  std::size_t dropped = 0;
};

ThreadProblems& Mine() {
  thread_local ThreadProblems problems;
  return problems;
}

}  // namespace

void ReportProblem(const std::string& file, const std::string& reason) {
  ThreadProblems& mine = Mine();
  if (mine.list.size() >= kMaxProblems) {
    ++mine.dropped;
    return;
  }
  mine.list.push_back({file, reason});
}

std::vector<Problem> TakeProblems() {
  ThreadProblems& mine = Mine();
  std::vector<Problem> out;
  out.swap(mine.list);
  if (mine.dropped > 0)
    out.push_back({"", std::to_string(mine.dropped) + " further problems were not recorded"});
  mine.dropped = 0;
  return out;
}

}  // namespace kmztile::platform
