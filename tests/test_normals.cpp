#include "viewer/model/normalsObj.h"
#include "support.h"
#include "window_support.h"

#include <cmath>
#include <gtest/gtest.h>
#include <sstream>

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

// A cube of side `side` around the origin, faces counter-clockwise seen from outside: as an OFF
// object (`off`) or as a native ".geom" file.
std::string Cube(double side, bool off) {
  std::ostringstream s;
  s << (off ? "OFF\n8 6 0\n" : "8 6 24\n");
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x)
        s << (x - 0.5) * side << " " << (y - 0.5) * side << " " << (z - 0.5) * side << "\n";
  int q[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                 {1, 3, 7, 5}, {3, 2, 6, 7}, {2, 0, 4, 6}};
  int base = off ? 0 : 1;
  for (auto &f : q)
    s << "4 " << f[0] + base << " " << f[1] + base << " " << f[2] + base << " " << f[3] + base
      << "\n";
  return s.str();
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
  // Objects of extent 1 to 4 keep their size; larger and smaller ones are brought to 4.
  struct Case {
    float extent, scale;
  } cases[] = {{10, 0.4f}, {5, 0.8f},  {4, 1},       {2, 1}, {1, 1},      {0.8f, 5},
               {0.5f, 8},  {0.2f, 20}, {0.02f, 200}, {0, 1}, {-2e30f, 1}, {1e-39f, 1}};
  for (const Case &c : cases) EXPECT_FLOAT_EQ(FitScale(c.extent), c.scale) << c.extent;
  Part p = MakePart({{4, 4, 4}, {6, 5, 5}}, {});
  FitObject(p);
  EXPECT_FLOAT_EQ(p.translate[0], -5.0f);
  EXPECT_FLOAT_EQ(p.translate[1], -4.5f);
  EXPECT_EQ(p.scale_on, 1);
  EXPECT_FLOAT_EQ(p.scale[2], 1.0f);
  // A part modelled in metres fills the view like one of 5 units.
  Part small = MakePart({{0, 0, 0}, {0.02f, 0.01f, 0}}, {});
  FitObject(small);
  EXPECT_FLOAT_EQ(small.scale[0] * 0.02f, 4.0f);
  EXPECT_FLOAT_EQ(small.translate[0], -0.01f);

  // Many vertices are fitted in two halves: extremes in either, and between 0 and -0 the first
  // met, as in one pass.
  for (bool negativeFirst : {true, false}) {
    Part large;
    large.vertices.assign(std::size_t(1) << 20, Coord{0.5f, 0.5f, 0.5f});
    large.vertices[10] = Coord{negativeFirst ? -0.0f : 0.0f, 1, 1};
    large.vertices[large.vertices.size() - 10] = Coord{negativeFirst ? 0.0f : -0.0f, 3, 0.25f};
    large.vertex_count = static_cast<uint32_t>(large.vertices.size());
    FitObject(large);
    EXPECT_EQ(std::signbit(large.bbox_min.x), negativeFirst);
    EXPECT_EQ(large.bbox_max.y, 3.0f);
    EXPECT_EQ(large.bbox_min.z, 0.25f);
    EXPECT_EQ(large.bbox_min.y, 0.5f);
  }
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

// A part modelled in metres (0.02 across) fills the view as the same part 5 units across does,
// both when the fit step scales it and when a native object's header carries the scale.
TEST(Normals, SmallObjectsFillTheViewLikeLargeOnes) {
  XServer x;
  if (!x.ok()) GTEST_SKIP() << "no Xvfb";
  TempDir dir;
  Env env{x.env(), {"OBJ_PATH", true, dir.path()}, {"ASAN_OPTIONS", true, "detect_leaks=0"}};
  dir.write("empty.off", "OFF\n0 0 0\n");
  auto shoot = [&](const std::string &name) {
    std::string png = dir.file(name + ".png");
    RunResult r = RunMirandel({"--snapshot", png, "-in", name}, env);
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    return ReadPng(png);
  };
  Image empty = shoot("empty.off");
  ASSERT_FALSE(empty.empty());
  for (bool off : {true, false}) {
    std::string ext = off ? ".off" : ".geom";
    dir.write("big" + ext, Cube(5, off));
    dir.write("small" + ext, Cube(0.02, off));
    Image big = shoot("big" + ext), small = shoot("small" + ext);
    ASSERT_EQ(big.width, empty.width);
    ASSERT_EQ(small.width, empty.width);
    int shown = DiffPixels(big, empty);
    EXPECT_GT(shown, 20000) << ext;
    EXPECT_LT(DiffPixels(small, big), shown / 100) << ext;
  }
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
