#pragma once
// Things the library left out or changed on its way, kept for the caller.
// The library never prints: a listing that skips a hostile name, a texture
// that does not decode, a model left out of its packages all land in a list
// of this thread, which the command (or a host) takes and reports with the
// file concerned. Each thread has its own list; a forked worker takes its
// own and passes it on.
#include <cstddef>
#include <string>
#include <vector>

namespace kmztile::platform {

/** One thing left out or changed: the file concerned and why. */
struct Problem {
  std::string file;    ///< as a path of this system ("/" separators)
  std::string reason;  ///< a sentence
};

/**
 * Adds a problem to this thread's list. @p file is spelled as the user
 * should see it: a path of this system, its folders joined with "/".
 */
void ReportProblem(const std::string& file, const std::string& reason);
/** This thread's problems since the last call, oldest first; the list is emptied. */
std::vector<Problem> TakeProblems();

/** A thread's list as recorded: the problems kept and how many more the bound dropped. */
struct ProblemList {
  std::vector<Problem> kept;
  std::size_t dropped = 0;
};
/** As TakeProblems, with the count of dropped problems kept apart instead of written as a last entry. */
ProblemList TakeProblemList();
/**
 * Records @p problems on this thread after what it holds, as if reported here
 * in order: lists of several threads put back one after another read as the
 * list one thread would have recorded, bound and count of dropped included.
 */
void PutBackProblems(ProblemList problems);

}  // namespace kmztile::platform
