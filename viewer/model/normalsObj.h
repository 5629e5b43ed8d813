// Normals, adjacency and fit of the display model.
#pragma once

#include "viewer/model/shape.h"

#include <cstddef>
#include <cstdint>

// Scales a vector to unit length, computed in double precision: left as it is when its squared
// length is within 1e-30 of 1, a zero vector stays zero. Returns the factor applied.
double NormalizeVector(Vector &v);

// The normal of one facet from its vertex indices (already zero-based): the cross product of the
// first edge that has length and the vertex after it, normalised. False for a degenerate facet.
bool FacetNormal(const Coord *vertices, const uint32_t *indices, uint32_t count, Vector &normal);

// Facet normals where the conversion supplied none. A degenerate facet repeats the normal of the
// facet before it (the zero vector for the first).
void ComputeFacetNormals(Part &part);
// Vertex normals where the conversion supplied none: the normalised sum of the normals of the
// facets that use the vertex.
void ComputeVertexNormals(Part &part);
// Bounding box, centre, and the translate and uniform scale that fit the object into the view.
void FitObject(Part &part);
// For every vertex, the facets that use it, in increasing order.
void BuildVertexFacetLists(Part &part);
// The fit scale for the largest extent m.
float FitScale(float m);
