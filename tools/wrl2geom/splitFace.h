// Splitting the faces the viewer cannot draw as one polygon. It draws a facet as a convex flat
// polygon and lights it by the normal of its first corners, so a concave face comes out wrongly
// filled and, when its first corners turn the wrong way, dark. Such faces, and bent ones, are
// written as triangles instead.
#pragma once

#include <cstddef>
#include <vector>

namespace wrl2geom {

// The effort (corners looked at) that splitting may spend on one conversion. A face that needs
// more, which only a contrived one does, keeps what is left of it as one polygon.
constexpr long kMaxSplitWork = 1L << 26;

// Appends one face, given by its `n` corners (vertex numbers into `xyz`, three coordinates per
// vertex) in its winding, to `sizes` and `indices`. A triangle, a flat convex face and a face
// without area (no plane to split it in) go in as they are. Any other face goes in as triangles
// that tile it, projected along its normal, each wound the face's way; repeated corners and
// corners on straight edges do not make triangles of their own.
void SplitFace(const std::vector<double> &xyz, const int *corners, std::size_t n,
               std::vector<int> &sizes, std::vector<int> &indices, long &work);

} // namespace wrl2geom
