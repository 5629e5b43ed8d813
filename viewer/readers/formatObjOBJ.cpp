// Conversion of an OBJ mesh into the display model: its arrays are handed over, the normals the
// file gave are kept where they are one per vertex, material colours become facet colours.
#include "base/fatal.h"
#include "viewer/model/object.h"
#include "viewer/readers/readOBJObj.h"

#include <map>
#include <string>

static const char *kModule = "formatObj";

// The object colour the render settings give: faces without a material colour keep it.
static const ColorRGB kObjectColor = {1.0f, 0.2f, 0.5f};

// The file's normals become the vertex normals only where every corner names one and all the
// corners of a vertex name the same direction; otherwise (flat-shaded edges, faces without
// normals) they are computed from the facets like any object's.
static void KeepFileNormals(const OBJMesh &mesh, Part &part) {
  if (mesh.corner_normals.empty() || mesh.normals.empty()) return;
  std::vector<uint32_t> chosen;
  ALLOC_ARRAY(chosen, part.vertex_count, "uint", kModule);
  std::fill(chosen.begin(), chosen.end(), kNoNormal);
  const std::size_t corners = mesh.corner_vertices.size();
  for (std::size_t c = 0; c < corners; ++c) {
    const uint32_t n = mesh.corner_normals[c];
    if (n == kNoNormal) return;
    uint32_t &mine = chosen[mesh.corner_vertices[c]];
    if (mine == kNoNormal || mine == n) {
      mine = n;
      continue;
    }
    const Vector &a = mesh.normals[mine], &b = mesh.normals[n];
    if (a.x != b.x || a.y != b.y || a.z != b.z) return;
  }
  ALLOC_ARRAY(part.vertex_normals, part.vertex_count, "Vector", kModule);
  for (uint32_t v = 0; v < part.vertex_count; ++v)
    if (chosen[v] != kNoNormal) part.vertex_normals[v] = mesh.normals[chosen[v]];
}

// Each face's material colour; none at all when no face has one.
static void MaterialColors(const OBJMesh &mesh, const std::vector<OBJMaterial> &materials,
                           Part &part) {
  if (mesh.materials.empty()) return;
  std::map<std::string, const OBJMaterial *> byName;
  // The first definition of a name counts, as later libraries do not override earlier ones.
  for (const OBJMaterial &m : materials) byName.emplace(m.name, &m);
  std::vector<const OBJMaterial *> used(mesh.materials.size(), nullptr);
  bool any = false;
  for (std::size_t i = 0; i < mesh.materials.size(); ++i) {
    auto found = byName.find(mesh.materials[i]);
    if (found == byName.end()) {
      warn("OBJReadObj: %s: material %s not found; its faces keep the object colour\n",
           objName.c_str(), mesh.materials[i].c_str());
      continue;
    }
    if (found->second->has_kd) used[i] = found->second, any = true;
  }
  if (!any) return;
  ALLOC_ARRAY(part.polygon_colors, part.facet_count, "ColorRGB", kModule);
  for (uint32_t f = 0; f < part.facet_count; ++f) {
    const uint32_t k = mesh.face_materials[f];
    part.polygon_colors[f] = k < used.size() && used[k] ? used[k]->kd : kObjectColor;
  }
}

void OBJFormatObj(OBJMesh &mesh, const std::vector<OBJMaterial> &materials, Shape &shape) {
  Part &part = *shape.part;
  part.vertex_count = static_cast<uint32_t>(mesh.vertices.size());
  part.facet_count = static_cast<uint32_t>(mesh.face_sizes.size());
  ALLOC_ARRAY(part.facets, part.facet_count, "FacetList", kModule);
  uint32_t first = 0;
  for (uint32_t f = 0; f < part.facet_count; ++f) {
    part.facets[f] = FacetList{mesh.face_sizes[f], first};
    first += mesh.face_sizes[f];
  }
  KeepFileNormals(mesh, part);
  MaterialColors(mesh, materials, part);
  part.vertices = std::move(mesh.vertices);
  part.vertex_colors = std::move(mesh.vertex_colors);
  part.facet_vertex_pool = std::move(mesh.corner_vertices);
  part.facet_offset = 0;
}
