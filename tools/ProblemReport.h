#pragma once
// What the library left out or altered during a subcommand, printed to
// standard error with the file concerned (the library itself never prints).
#include <cstddef>

namespace kmztool {

/** Prints this thread's recorded problems as "kmztile COMMAND: FILE: reason"; @return how many. */
std::size_t PrintRecordedProblems(const char* command);

}  // namespace kmztool
