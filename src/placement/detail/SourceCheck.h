#pragma once
// The pre-flight check of a source folder laid out for packaging: F\N.dae
// (any letter case of the extension) per model, its location text F\N.txt,
// its texture folder F\N and the template F\doc.kml. It lists every problem
// with the file concerned and a reason, so that a user can fix them all
// before starting a long build.
#include <string>
#include <vector>

namespace kmztile::placement::detail {

/** How serious a problem is: an error breaks the build or its output. */
enum class ProblemSeverity { kWarning, kError };

/** One problem found in the source folder. */
struct SourceProblem {
  ProblemSeverity severity = ProblemSeverity::kError;
  /** The file or folder concerned, as a path of this system. */
  std::string file;
  /** Why it is a problem, in a sentence. */
  std::string reason;
  /** True when the build leaves the file (or what it names) out of the packages and tiles. */
  bool leftOut = false;
};

/** One texture a model's COLLADA file references. */
struct SourceTexture {
  /** The reference as written in the COLLADA file. */
  std::string uri;
  /** The file it names, as a path of this system (empty when not a local file). */
  std::string path;
  /** True when the file exists. */
  bool exists = false;
  /** True when it is a plain file directly in the model's texture folder, so it is packed. */
  bool packed = false;
};

/** What the check learnt about one model. */
struct SourceModel {
  /** The model file name as listed (N plus its extension). */
  std::string modelFile;
  /** N: the model file name without its four-character extension. */
  std::string name;
  /** True when the location text holds two numbers. */
  bool hasLocation = false;
  /** Line 1 and line 2 of the location text (valid when hasLocation). */
  double x = 0, y = 0;
  /** True when x and y look like grid coordinates (x > 180 and y > 90), converted at build time. */
  bool grid = false;
  std::vector<SourceTexture> textures;
};

/** The outcome of checking one source folder. */
struct SourceCheckReport {
  std::string folder;
  std::vector<SourceModel> models;
  std::vector<SourceProblem> problems;

  /** Number of problems of @p severity. */
  std::size_t Count(ProblemSeverity severity) const;
  /** True when a problem would break the build. */
  bool HasErrors() const { return Count(ProblemSeverity::kError) > 0; }
};

/**
 * Checks the source folder @p folder (a path with or without trailing
 * separator): the template, and for every model its location text, its
 * COLLADA file and the textures it references, and its texture folder.
 * Never throws for bad input; every finding is in the report. Models are
 * checked on up to @p threads threads at once; the report is the same for
 * any number.
 */
SourceCheckReport CheckSourceFolder(const std::string& folder, int threads = 1);

}  // namespace kmztile::placement::detail
