#include "viewer/model/shape.h"

#include "base/fatal.h"

Shape *currentShape = nullptr;
std::vector<Coord> morph_vertices;
std::vector<Vector> flyby_prp;
std::vector<Vector> flyby_vpn;

static const char *const kModule = "initOmbrix";

Shape *CreateShape(int16_t type) {
  std::unique_ptr<Shape> shape;
  ALLOC_OR_REPORT("Shape", 1, kModule, shape.reset(new Shape()));
  ALLOC_OR_REPORT("Part", 1, kModule, shape->part.reset(new Part()));
  shape->type = type;
  Part &p = *shape->part;
  p.back_faces = 2;
  p.vertex_order = 2;
  p.facet_offset = 1;
  p.facet_count = 0;
  p.vertex_count = 0;
  p.scale_on = p.rotate_on = p.translate_on = 0;
  ReleaseShape();
  currentShape = shape.release();
  return currentShape;
}

void ReleaseShape() {
  if (currentShape) {
    delete currentShape;
    currentShape = nullptr;
  }
  std::vector<Coord>().swap(morph_vertices);
}

uint32_t *AddFacet(Part &part, uint32_t count, const char *module, int line) {
  std::size_t first = part.facet_vertex_pool.size();
  if (first + count > UINT32_MAX) fatal(1, "%s: the object has too many facet indices\n", module);
  allocOrReport(
      [&] {
        part.facet_vertex_pool.resize(first + count);
        part.facets.push_back(FacetList{count, static_cast<uint32_t>(first)});
      },
      "uint", count, line, module);
  return part.facet_vertex_pool.data() + first;
}
