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

ProblemList TakeProblemList() {
  ThreadProblems& mine = Mine();
  ProblemList out;
  out.kept.swap(mine.list);
  out.dropped = mine.dropped;
  mine.dropped = 0;
  return out;
}

std::vector<Problem> TakeProblems() {
  ProblemList taken = TakeProblemList();
  if (taken.dropped > 0)
    taken.kept.push_back({"", std::to_string(taken.dropped) + " further problems were not recorded"});
  return std::move(taken.kept);
}

void PutBackProblems(ProblemList problems) {
  ThreadProblems& mine = Mine();
  for (Problem& p : problems.kept) {
    if (mine.list.size() >= kMaxProblems) {
      ++mine.dropped;
      continue;
    }
    mine.list.push_back(std::move(p));
  }
  mine.dropped += problems.dropped;
}

}  // namespace kmztile::platform
