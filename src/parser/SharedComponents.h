#pragma once
// The two process-wide conversion components (coordinate system and grid
// converter) shared by every parser object. Default construction and
// destruction of any parser release them; the next conversion recreates them.

namespace kmztile::detail {

/** Releases both shared components and leaves them empty. */
void ReleaseSharedComponents();

}  // namespace kmztile::detail
