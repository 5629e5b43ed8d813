// Meshes on which the library's repairs go wrong, refused before the repair that would. Vertices
// so far apart that their distances overflow make the tolerance for nearby vertices infinite:
// joining them all leaves facets whose neighbour links do not answer each other, and the hole
// filling, which walks a hole's edge from facet to neighbour until it is back where it began,
// never is.
#include "viewer/readers/readSTLObj.h"

#include "base/fatal.h"

#include <cmath>

void STLRefuseUnrepairable(const STLObj *obj, const std::string &name) {
  for (int i = 0; i < obj->stats.number_of_facets; ++i)
    for (const stl_vertex &v : obj->facet_start[i].vertex)
      for (float x : {v.x, v.y, v.z})
        if (!std::isfinite(x))
          fatal(1,
                "STLReadObj: %s: facet %d: coordinate %g is not a finite single-precision number\n",
                name.c_str(), i + 1, static_cast<double>(x));
}

void STLRefuseBrokenNeighbours(const STLObj *obj, const std::string &name) {
  const int n = obj->stats.number_of_facets;
  for (int i = 0; i < n; ++i)
    for (int edge = 0; edge < 3; ++edge) {
      int other = obj->neighbors_start[i].neighbor[edge];
      if (other < 0) continue;
      // The link must be answered on the very edge the hole filling steps to: the one after
      // the neighbour's vertex that is not on the shared edge.
      const int vnot = obj->neighbors_start[i].which_vertex_not[edge];
      bool answered = other < n && vnot >= 0 && vnot <= 5 &&
                      obj->neighbors_start[other].neighbor[(vnot % 3 + 1) % 3] == i;
      if (!answered)
        fatal(1,
              "STLReadObj: %s cannot be repaired: after joining nearby vertices facet %d meets "
              "facet %d, which does not meet it\n",
              name.c_str(), i + 1, other + 1);
    }
}
