// Runs one of the part readers over the current fuzz object, then the steps of the load pipeline
// that walk its indices. An index that reaches outside the vertices is a reader fault: trap.
#pragma once

#include "fuzz_support.h"
#include "viewer/model/normalsObj.h"
#include "viewer/model/shape.h"

inline void FuzzLoad(int16_t type, void (*load)()) {
  try {
    CreateShape(type);
    load();
    Part &part = *currentShape->part;
    if (part.facets.size() != part.facet_count || part.vertices.size() != part.vertex_count)
      __builtin_trap();
    for (const FacetList &f : part.facets) {
      if (std::size_t(f.first) + f.count > part.facet_vertex_pool.size()) __builtin_trap();
      for (uint32_t k = 0; k < f.count; ++k)
        if (part.facet_vertex_pool[f.first + k] >= part.vertex_count) __builtin_trap();
    }
    if (!part.vertex_colors.empty() && part.vertex_colors.size() != part.vertex_count)
      __builtin_trap();
    if (!part.vertex_normals.empty() && part.vertex_normals.size() != part.vertex_count)
      __builtin_trap();
    if (!part.polygon_colors.empty() && part.polygon_colors.size() != part.facet_count)
      __builtin_trap();
    ComputeFacetNormals(part);
    ComputeVertexNormals(part);
    FitObject(part);
    BuildVertexFacetLists(part);
  } catch (const FatalError &) {
  }
  ReleaseShape();
}
