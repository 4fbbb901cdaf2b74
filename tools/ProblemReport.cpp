#include "ProblemReport.h"

#include <iostream>

#include "platform/Problems.h"

namespace kmztool {

std::size_t PrintRecordedProblems(const char* command) {
  const auto problems = kmztile::platform::TakeProblems();
  for (const auto& p : problems) std::cerr << "kmztile " << command << ": " << p.file << ": " << p.reason << "\n";
  return problems.size();
}

}  // namespace kmztool
