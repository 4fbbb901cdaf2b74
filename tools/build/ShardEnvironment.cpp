#include "build/ShardEnvironment.h"

namespace kmztool::build {
namespace {

constexpr const char* kSlurmTask = "SLURM_ARRAY_TASK_ID";
constexpr const char* kKubernetesIndex = "JOB_COMPLETION_INDEX";

// Reads a variable holding a whole number (decimal digits only, at most 9:
// no scheduler numbers its tasks beyond that). Unset leaves @p value alone.
// @return false with a reason when it is set but is no such number.
bool ReadNumber(const EnvironmentLookup& env, const char* name, bool& set, unsigned long& value, std::string& error) {
  const char* text = env(name);
  set = text != nullptr;
  if (!set) return true;
  const std::string s(text);
  bool digits = !s.empty() && s.size() <= 9;
  for (char c : s) digits = digits && c >= '0' && c <= '9';
  if (!digits) {
    error = std::string("--shard auto: ") + name + "=\"" + s + "\" is not a task number";
    return false;
  }
  value = std::stoul(s);
  return true;
}

bool Refuse(const std::string& why, std::string& error) {
  error = "--shard auto: " + why;
  return false;
}

bool FromSlurm(const EnvironmentLookup& env, unsigned shards, Shard& shard, std::string& error) {
  unsigned long id = 0, min = 0, max = 0, count = 0, step = 1;
  bool hasId = false, hasMin = false, hasMax = false, hasCount = false, hasStep = false;
  if (!ReadNumber(env, kSlurmTask, hasId, id, error) || !ReadNumber(env, "SLURM_ARRAY_TASK_MIN", hasMin, min, error) ||
      !ReadNumber(env, "SLURM_ARRAY_TASK_MAX", hasMax, max, error) ||
      !ReadNumber(env, "SLURM_ARRAY_TASK_COUNT", hasCount, count, error) ||
      !ReadNumber(env, "SLURM_ARRAY_TASK_STEP", hasStep, step, error))
    return false;
  if (!hasMin) return Refuse("SLURM_ARRAY_TASK_ID is set but SLURM_ARRAY_TASK_MIN is not", error);
  if (!hasMax && !hasCount)
    return Refuse("SLURM_ARRAY_TASK_ID is set but neither SLURM_ARRAY_TASK_MAX nor SLURM_ARRAY_TASK_COUNT is", error);
  if (step == 0) return Refuse("SLURM_ARRAY_TASK_STEP=0 is no step", error);
  const std::string array = "the job array " + std::to_string(min) + (hasMax ? "-" + std::to_string(max) : "") +
                            (step != 1 ? ":" + std::to_string(step) : "");
  if (hasMax) {
    if (max < min || (max - min) % step != 0)
      return Refuse(array + " does not run from SLURM_ARRAY_TASK_MIN to SLURM_ARRAY_TASK_MAX in steps of " +
                        std::to_string(step),
                    error);
    const unsigned long spanned = (max - min) / step + 1;
    if (hasCount && count != spanned)
      return Refuse(array + " has " + std::to_string(count) + " tasks, not the " + std::to_string(spanned) +
                        " its bounds span: its task numbers are not evenly spaced (submit --array=FIRST-LAST[:STEP], "
                        "or give --shard K/N)",
                    error);
    count = spanned;
  }
  if (count < 1 || count > kMaxShards)
    return Refuse(array + " has " + std::to_string(count) + " tasks; shards must number 1 to " +
                      std::to_string(kMaxShards),
                  error);
  if (id < min || (id - min) % step != 0 || (id - min) / step >= count)
    return Refuse("SLURM_ARRAY_TASK_ID=" + std::to_string(id) + " is not a task of " + array + " (" +
                      std::to_string(count) + " tasks)",
                  error);
  if (shards != 0 && shards != count)
    return Refuse("--shards " + std::to_string(shards) + " but " + array + " has " + std::to_string(count) + " tasks",
                  error);
  shard.index = static_cast<unsigned>((id - min) / step + 1);
  shard.count = static_cast<unsigned>(count);
  return true;
}

bool FromKubernetes(const EnvironmentLookup& env, unsigned shards, Shard& shard, std::string& error) {
  unsigned long index = 0;
  bool set = false;
  if (!ReadNumber(env, kKubernetesIndex, set, index, error)) return false;
  if (shards == 0)
    return Refuse("JOB_COMPLETION_INDEX is set but the number of shards is not: give --shards N, the Job's completions",
                  error);
  if (index >= shards)
    return Refuse("JOB_COMPLETION_INDEX=" + std::to_string(index) + " is not below --shards " + std::to_string(shards),
                  error);
  shard.index = static_cast<unsigned>(index + 1);
  shard.count = shards;
  return true;
}

}  // namespace

bool ShardFromEnvironment(const EnvironmentLookup& env, unsigned shards, Shard& shard, std::string& error) {
  const bool slurm = env(kSlurmTask) != nullptr;
  const bool kubernetes = env(kKubernetesIndex) != nullptr;
  if (shards > kMaxShards) return Refuse("--shards must be 1 to " + std::to_string(kMaxShards), error);
  if (slurm && kubernetes)
    return Refuse("both SLURM_ARRAY_TASK_ID and JOB_COMPLETION_INDEX are set; give --shard K/N", error);
  if (slurm) return FromSlurm(env, shards, shard, error);
  if (kubernetes) return FromKubernetes(env, shards, shard, error);
  if (env("SLURM_JOB_ID"))
    return Refuse("this Slurm job is not a job array (no SLURM_ARRAY_TASK_ID): submit it with sbatch --array=1-N, "
                  "or give --shard K/N",
                  error);
  return Refuse("no scheduler task found: neither SLURM_ARRAY_TASK_ID (a Slurm job array) nor JOB_COMPLETION_INDEX "
                "(a Kubernetes Indexed Job) is set; give --shard K/N",
                error);
}

}  // namespace kmztool::build
