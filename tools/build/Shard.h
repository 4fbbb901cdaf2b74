#pragma once
// --shard K/N: a deterministic share of a build's tiles, so that N machines
// on shared storage each build 1/N of them. Shards take whole level-15
// areas: a tile goes to the shard of the level-15 tile that holds it, picked
// by a fixed hash of that tile alone. So every shard of the same run agrees,
// the shards are disjoint and together hold every tile, and a tile's shard
// does not depend on the list it comes in nor on the levels being built.
#include <string>
#include <vector>

#include "build/TileRecord.h"

namespace kmztool::build {

/** The most shards a build can be split into. */
inline constexpr unsigned kMaxShards = 1000000;

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

/** The shard (1 to count) that @p key hashes to among @p count shards. */
unsigned ShardOf(const TileKey& key, unsigned count);

/**
 * The shard (1 to count) that builds tile @p key: the ShardOf its level-15
 * area (a tile outside levels 15 to 18, which no build makes, hashes alone).
 */
unsigned ShardOfTile(const TileKey& key, unsigned count);

}  // namespace kmztool::build
