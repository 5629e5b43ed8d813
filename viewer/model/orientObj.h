// Which side of the facets faces out, for objects whose file does not say.
#pragma once

#include "viewer/model/shape.h"

#include <cstdint>
#include <vector>

// The closed pieces of the surface, where every edge (between vertices at the same place,
// whatever their indices) is met exactly once in each direction: a closed surface wound
// consistently. `piece[f]` numbers facet f's piece, from 0. False where some edge is open or met
// twice the same way, or a facet has fewer than three vertices.
bool ClosedPieces(const Part &part, std::vector<uint32_t> &piece, uint32_t &pieces);
// The signed volume each piece encloses: positive where its facets wind counter-clockwise seen
// from outside.
std::vector<double> PieceVolumes(const Part &part, const std::vector<uint32_t> &piece,
                                 uint32_t pieces);

// What orienting the object does: whether it is closed and wound consistently (so its fronts
// can be known), and which pieces are wound inward.
struct Orientation {
  bool closed = false;
  std::vector<uint32_t> piece;
  std::vector<bool> flip; // per piece
};
// Reads the facets only, so it may run beside other readers of the Part.
Orientation PlanOrientation(const Part &part);
// Reverses the vertex order of every facet of a piece wound inward and sets `fronts_known`: 1
// for a closed surface, now wound outward, 0 for anything else (left as it is, drawn both sides).
// Runs before the normals are computed from the facets.
void ApplyOrientation(Part &part, const Orientation &orientation);
