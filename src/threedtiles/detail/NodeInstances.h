#pragma once
// The <instance_node> references of a COLLADA document, checked before the
// importer sees it: it expands every instance recursively, so a node that
// instances itself (directly or through others) never ends, and a chain of
// nodes each instancing the next several times grows beyond any memory.
#include <string>

namespace kmztile::threedtiles::detail {

/** Most node copies that instancing may make in one model. */
constexpr double kMaxNodeInstances = 100000;

/**
 * @return false with a reason in @p error when a node of @p dae instances
 * itself or instancing would copy nodes more than kMaxNodeInstances times.
 * A document that is not well-formed passes: its reader reports that.
 */
bool CheckNodeInstances(const std::string& dae, std::string& error);

}  // namespace kmztile::threedtiles::detail
