// The display model: one Shape (the scene) owning one Part (the object).
//
// Facets and the vertex-to-facet lists are stored flat: every facet's indices sit in one pool
// (`facet_vertex_pool`) and a FacetList holds its count and the offset of its first index, so a
// million-facet object costs two allocations, not a million. The same holds for VertexList.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct Coord {
  float x, y, z;
};

struct Vector {
  float x, y, z;
};

struct ColorRGB {
  float r, g, b;
};

// One facet: `count` zero-based vertex indices starting at `first` in Part::facet_vertex_pool.
struct FacetList {
  uint32_t count;
  uint32_t first;
};

// The facets around one vertex: `count` facet numbers, increasing, starting at `first` in
// Part::vertex_facet_pool.
struct VertexList {
  uint32_t count;
  uint32_t first;
};

struct ViewParams {
  Coord ref_point;
  Coord eye_point;
  Vector up_vector;
  float view_normal[3];
  double far_offset;
  double near_offset;
  float window[4]; // xmin, ymin, xmax, ymax
};

struct LightSource {
  int16_t kind; // 1 ambient, 2 directional, 3 positional, 4 spot
  Vector direction;
  Coord position;
  float concentration;
  float spread_angle;
  float attenuation1;
  float attenuation2;
  int16_t color_model;
  ColorRGB color;
};

struct LightState {
  int16_t light_on[4];
  int32_t on_count;
  int16_t on_list[4];
  int32_t off_count;
  int16_t off_list[4];
  LightSource light[4];
};

struct Part {
  int16_t back_faces = 2;
  float ambient_coef = 0;
  ColorRGB ambient_color{};
  float diffuse_coef = 0;
  ColorRGB diffuse_color{};
  float specular_coef = 0;
  float specular_power = 0;
  ColorRGB specular_color{};
  float transmission = 0;

  uint32_t facet_count = 0;
  std::vector<FacetList> facets;
  std::vector<uint32_t> facet_vertex_pool;
  std::vector<ColorRGB> polygon_colors; // empty or facet_count entries
  std::vector<Vector> polygon_normals;  // empty or facet_count entries
  uint16_t facet_offset = 1;

  uint32_t vertex_count = 0;
  std::vector<Coord> vertices;
  std::vector<ColorRGB> vertex_colors; // empty or vertex_count entries
  std::vector<Vector> vertex_normals;  // empty or vertex_count entries
  int16_t vertex_order = 2;
  std::vector<VertexList> vertex_facets; // empty or vertex_count entries
  std::vector<uint32_t> vertex_facet_pool;

  Coord bbox_min{};
  Coord bbox_max{};
  Coord center{};
  int16_t scale_on = 0;
  float scale[3] = {0, 0, 0};
  int16_t rotate_on = 0;
  float rotate[3] = {0, 0, 0};
  int16_t translate_on = 0;
  float translate[3] = {0, 0, 0};
  float model_matrix[16] = {};
  // 1 where every facet's front is known to face outward (as an AOFF header declares it, or once
  // a closed mesh has been oriented): one side is drawn. 0: both sides, lit on both.
  int16_t fronts_known = 1;

  uint32_t *facetVertices(uint32_t f) { return facet_vertex_pool.data() + facets[f].first; }
  const uint32_t *facetVertices(uint32_t f) const {
    return facet_vertex_pool.data() + facets[f].first;
  }
  const uint32_t *vertexFacets(uint32_t v) const {
    return vertex_facet_pool.data() + vertex_facets[v].first;
  }
};

struct Shape {
  int16_t type = 0;
  ViewParams view{};
  LightState lights{};
  ColorRGB object_color{};
  int32_t polygon_mode = 0;
  int32_t shade_model = 0;
  int32_t cull_face = 0;
  int16_t show_edges = 0;
  int16_t show_normals = 0;
  std::unique_ptr<Part> part;
};

// The program-wide current Shape; null while no object is loaded.
extern Shape *currentShape;

// Extra AOFF data kept beside the Shape; nothing else reads it.
extern std::vector<Coord> morph_vertices;
extern std::vector<Vector> flyby_prp;
extern std::vector<Vector> flyby_vpn;

// Creates the Shape and its Part with the creation defaults and makes it the current one.
Shape *CreateShape(int16_t type);
// Frees the current Shape, its Part with all arrays, and the morph vertices. Nothing without one.
void ReleaseShape();

// Adds a facet of `count` indices to the Part's flat storage and returns where to write them.
// Reserve facets and facet_vertex_pool beforehand when the totals are known.
uint32_t *AddFacet(Part &part, uint32_t count, const char *module, int line);
