#pragma once
// --shard K/N: a deterministic share of a build's tiles, so that N machines
// on shared storage each build 1/N of them. A tile's shard depends on its
// level, row and column alone (a fixed hash), never on the list it comes in:
// every shard of the same run agrees, the shards are disjoint and together
// hold every tile.
#include <string>
#include <vector>

#include "build/TileRecord.h"

namespace kmztool::build {

/** Shard K of N (1 <= K <= N). */
struct Shard {
  unsigned index = 1;
  unsigned count = 1;
};

/**
 * Reads "K/N" (decimal, no blanks or signs, 1 <= K <= N <= 1000000).
 * @return false with a reason in @p error otherwise.
 */
bool ParseShard(const std::string& text, Shard& shard, std::string& error);

/** The shard (1 to count) that builds @p key among @p count shards. */
unsigned ShardOf(const TileKey& key, unsigned count);

}  // namespace kmztool::build
