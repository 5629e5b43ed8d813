#include "normalsObj.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

Part MakePart(std::vector<Coord> pts, std::vector<std::vector<uint32_t>> faces) {
  Part p;
  p.vertices = pts;
  p.vertex_count = static_cast<uint32_t>(pts.size());
  for (const auto &f : faces) {
    uint32_t *dst = AddFacet(p, static_cast<uint32_t>(f.size()), "test", __LINE__);
    std::copy(f.begin(), f.end(), dst);
  }
  p.facet_count = static_cast<uint32_t>(faces.size());
  return p;
}

} // namespace

TEST(Normals, FacetNormalsFollowWindingAndRepeatForDegenerateFacets) {
  Part p = MakePart({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}},
                    {{3, 0, 3}, {0, 1, 2}, {0, 3, 2}, {2, 1, 0}});
  ComputeFacetNormals(p);
  ASSERT_EQ(p.polygon_normals.size(), 4u);
  // First facet degenerate: zero vector.
  EXPECT_EQ(p.polygon_normals[0].z, 0.0f);
  EXPECT_FLOAT_EQ(p.polygon_normals[1].z, 1.0f);
  // First two vertices coincide, so b is the last one and there is no c: repeats the previous.
  EXPECT_FLOAT_EQ(p.polygon_normals[2].z, 1.0f);
  EXPECT_FLOAT_EQ(p.polygon_normals[3].z, -1.0f);
}

TEST(Normals, VertexNormalsAreUnweightedSumsNormalised) {
  // Two facets at right angles share an edge; a vertex used by none keeps zero.
  Part p =
      MakePart({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {5, 5, 5}}, {{0, 1, 2}, {0, 3, 1}});
  ComputeFacetNormals(p);
  ComputeVertexNormals(p);
  const float r = 1.0f / std::sqrt(2.0f);
  EXPECT_NEAR(p.vertex_normals[0].y, r, 1e-6);
  EXPECT_NEAR(p.vertex_normals[0].z, r, 1e-6);
  EXPECT_FLOAT_EQ(p.vertex_normals[2].z, 1.0f);
  EXPECT_EQ(p.vertex_normals[4].x + p.vertex_normals[4].y + p.vertex_normals[4].z, 0.0f);
}

TEST(Normals, FitScaleRanges) {
  EXPECT_FLOAT_EQ(FitScale(10), 0.4f);
  EXPECT_FLOAT_EQ(FitScale(2), 1.0f);
  EXPECT_FLOAT_EQ(FitScale(4), 1.0f);
  EXPECT_FLOAT_EQ(FitScale(0.8f), 3.2f);
  EXPECT_FLOAT_EQ(FitScale(0.2f), 10.0f);
  Part p = MakePart({{4, 4, 4}, {6, 5, 5}}, {});
  FitObject(p);
  EXPECT_FLOAT_EQ(p.translate[0], -5.0f);
  EXPECT_FLOAT_EQ(p.translate[1], -4.5f);
  EXPECT_EQ(p.scale_on, 1);
  EXPECT_FLOAT_EQ(p.scale[2], 1.0f);
}

TEST(Normals, VertexFacetListsInIncreasingOrder) {
  // Vertex 0 is shared by five facets, one of which lists it twice.
  Part p = MakePart({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
                    {{0, 1, 2}, {1, 2, 0}, {2, 1, 0}, {0, 0, 1}, {1, 0, 2}, {1, 2, 1}});
  BuildVertexFacetLists(p);
  ASSERT_EQ(p.vertex_facets[0].count, 6u);
  std::vector<uint32_t> got(p.vertexFacets(0), p.vertexFacets(0) + 6);
  EXPECT_EQ(got, (std::vector<uint32_t>{0, 1, 2, 3, 3, 4}));
  EXPECT_EQ(p.vertex_facets[2].count, 5u);
}

// Objects of unshared triangles in order (STL) take a short way to their lists; one that only
// nearly is one (a facet out of order, a vertex shared) must not.
TEST(Normals, VertexFacetListsOfUnsharedTrianglesAndNearMisses) {
  const std::vector<Coord> six = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 0, 0}, {6, 0, 0}, {5, 1, 0}};
  struct Case {
    std::vector<std::vector<uint32_t>> faces;
    std::vector<uint32_t> facetOf; // the one facet of each vertex, or 9 for none
  } cases[] = {
      {{{0, 1, 2}, {3, 4, 5}}, {0, 0, 0, 1, 1, 1}},
      {{{3, 4, 5}, {0, 1, 2}}, {1, 1, 1, 0, 0, 0}},
      {{{0, 1, 2}, {3, 4, 4}}, {0, 0, 0, 1, 1, 9}},
  };
  for (const Case &c : cases) {
    Part p = MakePart(six, c.faces);
    BuildVertexFacetLists(p);
    ASSERT_EQ(p.vertex_facets.size(), 6u);
    for (uint32_t v = 0; v < 6; ++v) {
      SCOPED_TRACE(v);
      if (c.facetOf[v] == 9) {
        EXPECT_EQ(p.vertex_facets[v].count, 0u);
        continue;
      }
      const uint32_t twice = (c.faces[1][1] == c.faces[1][2] && v == c.faces[1][1]) ? 2 : 1;
      ASSERT_EQ(p.vertex_facets[v].count, twice);
      EXPECT_EQ(p.vertexFacets(v)[0], c.facetOf[v]);
    }
  }
}
