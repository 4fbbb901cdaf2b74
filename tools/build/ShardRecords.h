#pragma once
// The record each shard of a build leaves in the output folder once it has
// built its whole share: tileset-shard-K-of-N.json, a tileset of its tiles
// whose settings say which shard it was ("shard": {"index", "count"}) and
// which state of the source and settings it built ("state"). `merge` joins
// them only when all N are there, agree with each other and were built from
// the state of the build's last run.
#include <map>
#include <string>

#include "build/Shard.h"
#include "build/Tileset.h"

namespace kmztool::build {

/** "tileset-shard-K-of-N.json". */
std::string ShardRecordName(const Shard& shard);

/** The shard a record's file name names; false for any other name. */
bool ParseShardRecordName(const std::string& name, Shard& shard);

/** The text of the record of @p shard: @p tileset with the shard and @p state added to its settings. */
std::string ShardRecordText(Tileset tileset, const Shard& shard, const std::string& state);

/**
 * Joins the records of a build (file name -> text; other names are left
 * aside) into one tileset.
 * @param state the state of the build's last run (see ShardRecordText).
 * @return false with a reason in @p error that names the files and shards at
 *         fault: no record, records of different shard counts, shards that
 *         have not finished, a record that is not one or contradicts its
 *         name, records built with different settings or from another state,
 *         a tile in the record of a shard that does not build it.
 */
bool JoinShardRecords(const std::map<std::string, std::string>& files, const std::string& state, Tileset& merged,
                      std::string& error);

}  // namespace kmztool::build
