#include "base/fatal.h"
#include "viewer/readers/readGLTFObj.h"

static const char *const kModule = "formatObj";

void GLTFFormatObj(GLTFScene &scene, Shape &shape) {
  Part &part = *shape.part;
  part.facet_offset = 0; // glTF indices count from 0
  part.vertex_count = static_cast<uint32_t>(scene.vertices.size());
  part.facet_count = static_cast<uint32_t>(scene.triangles.size() / 3);
  ALLOC_ARRAY(part.facets, part.facet_count, "FacetList", kModule);
  for (uint32_t f = 0; f < part.facet_count; ++f) part.facets[f] = FacetList{3, 3 * f};
  part.vertices = std::move(scene.vertices);
  part.vertex_normals = std::move(scene.vertex_normals);
  part.vertex_colors = std::move(scene.vertex_colors);
  part.facet_vertex_pool = std::move(scene.triangles);
  part.polygon_colors = std::move(scene.triangle_colors);
}
