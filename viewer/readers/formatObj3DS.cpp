#include "viewer/readers/read3DSObj.h"

#include "base/fatal.h"

#include <cstdint>
#include <unordered_map>

static const char *kModule = "formatObj";

void FormatObj3DS(const H3dsScene &scene, Part &part, const std::string &file) {
  part.facet_offset = 0;
  // 3DS files are z-up; the viewer shows y up.
  part.rotate_on = 1;
  part.rotate[0] = -90;
  part.rotate[1] = 0;
  part.rotate[2] = 0;

  uint64_t vertexTotal = 0, facetTotal = 0;
  for (const H3dsMesh &mesh : scene.meshes) {
    vertexTotal += mesh.vertices.size();
    facetTotal += mesh.faces.size();
  }
  if (vertexTotal > UINT32_MAX || 3 * facetTotal > UINT32_MAX)
    fatal(1, "3DSFormatObj: %s: the object has too many vertices or faces\n", file.c_str());

  ALLOC_ARRAY(part.vertices, vertexTotal, "Coord", kModule);
  ALLOC_ARRAY(part.facets, facetTotal, "FacetList", kModule);
  ALLOC_ARRAY(part.facet_vertex_pool, 3 * facetTotal, "uint", kModule);
  const bool coloured = !scene.materials.empty();
  if (coloured) ALLOC_ARRAY(part.polygon_colors, facetTotal, "ColorRGB", kModule);
  part.vertex_count = static_cast<uint32_t>(vertexTotal);
  part.facet_count = static_cast<uint32_t>(facetTotal);

  // Materials match by the exact name, the first of equal names winning. A map, not a search per
  // mesh: a file of many tiny meshes and materials would otherwise take quadratic time.
  std::unordered_map<std::string, std::size_t> byName;
  for (std::size_t i = 0; i < scene.materials.size(); ++i)
    byName.emplace(scene.materials[i].name, i);

  uint32_t base = 0, facet = 0;
  for (std::size_t m = 0; m < scene.meshes.size(); ++m) {
    const H3dsMesh &mesh = scene.meshes[m];
    const uint32_t meshVertices = static_cast<uint32_t>(mesh.vertices.size());
    for (uint32_t v = 0; v < meshVertices; ++v) {
      const H3dsVert &p = mesh.vertices[v];
      part.vertices[base + v] = Coord{p.x, p.y, p.z};
    }

    // A name that matches no material leaves its faces black.
    ColorRGB colour{0, 0, 0};
    if (coloured) {
      auto it = byName.find(mesh.material);
      if (it != byName.end()) {
        const H3dsColor &d = scene.materials[it->second].diffuse;
        colour = ColorRGB{d.r, d.g, d.b};
      }
    }

    for (std::size_t f = 0; f < mesh.faces.size(); ++f, ++facet) {
      const H3dsFace &face = mesh.faces[f];
      const uint16_t idx[3] = {face.a, face.b, face.c};
      part.facets[facet] = FacetList{3, 3 * facet};
      uint32_t *dst = part.facet_vertex_pool.data() + 3 * facet;
      for (int k = 0; k < 3; ++k) {
        if (idx[k] >= meshVertices)
          fatal(1,
                "3DSFormatObj: %s: face %zu of mesh %zu (%s) uses vertex %u, but the mesh has %u "
                "vertices\n",
                file.c_str(), f, m, mesh.name->c_str(), unsigned(idx[k]), meshVertices);
        dst[k] = base + idx[k];
      }
      if (coloured) part.polygon_colors[facet] = colour;
    }
    base += meshVertices;
  }
}
