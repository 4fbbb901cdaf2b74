#pragma once
// --shard auto: the shard a batch scheduler started this process as, read
// from the environment it sets for each task.
//
//   Slurm job array (sbatch --array=FIRST-LAST[:STEP]): SLURM_ARRAY_TASK_ID,
//     with SLURM_ARRAY_TASK_MIN and SLURM_ARRAY_TASK_MAX or
//     SLURM_ARRAY_TASK_COUNT (and SLURM_ARRAY_TASK_STEP when not 1). Task
//     FIRST is shard 1, FIRST+STEP shard 2, and so on; arrays need not start
//     at 0 or 1. An unevenly spaced list (--array=1,2,7) has no such order
//     and is refused.
//   Kubernetes Indexed Job: JOB_COMPLETION_INDEX (0 to completions-1) is
//     shard index+1; the count is not in the environment and comes from
//     --shards N (the Job's completions).
#include <functional>
#include <string>

#include "build/Shard.h"

namespace kmztool::build {

/** Looks up an environment variable; nullptr when it is not set. */
using EnvironmentLookup = std::function<const char*(const char* name)>;

/**
 * The shard of this task. @p shards is the --shards option (0 when not
 * given): required for Kubernetes, and checked against the array's size
 * for Slurm.
 * @return false with a reason in @p error when neither scheduler's variables
 *         are set, both are, or they are missing, malformed or inconsistent.
 */
bool ShardFromEnvironment(const EnvironmentLookup& env, unsigned shards, Shard& shard, std::string& error);

}  // namespace kmztool::build
