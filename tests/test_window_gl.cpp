// Drawing hand-built Shapes in-process: the lists, material, overlays and their failure paths.
#include "base/fatal.h"
#include "viewer/graphics/graphics.h"
#include "viewer/shell/shell.h"
#include "window_support.h"

#include <GL/gl.h>
#include <cmath>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

template <class Pred> int Count(const Image &img, Pred pred) {
  int n = 0;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) n += pred(img.at(x, y));
  return n;
}

class WindowGL : public ::testing::Test {
protected:
  void SetUp() override {
    if (!SharedDisplay()) GTEST_SKIP() << "no Xvfb";
    show_status = 0;
    show_ground = 1;
    verbose = 0;
  }
  void TearDown() override { ReleaseAll(); }
};

} // namespace

TEST_F(WindowGL, CubeInObjectColourOverTheGround) {
  MakeCube();
  Image img = DrawFrame();
  ASSERT_FALSE(img.empty());
  EXPECT_EQ(img.width, 560);
  EXPECT_EQ(img.height, 525);
  // The middle of the window shows the object, lit: red over blue over green as (1, .2, .5).
  EXPECT_TRUE(Pink(img.at(280, 262)));
  EXPECT_GT(Count(img, Pink), 40000);
  // The grids fade between black and white; the top-left corner is background.
  EXPECT_GT(Count(img, Grey), 500);
  const unsigned char *corner = img.at(2, 2);
  EXPECT_EQ(corner[0] + corner[1] + corner[2], 0);
  EXPECT_EQ(current_list, object_id);
}

TEST_F(WindowGL, TransmissionStipplesTheObject) {
  MakeCube();
  int solid = Count(DrawFrame(), Pink);
  ASSERT_GT(solid, 0);
  MakeCube().transmission = 0.95f; // pattern 9: 9 of 16 pixels
  int part = Count(DrawFrame(), Pink);
  EXPECT_NEAR(double(part) / solid, 9.0 / 16, 0.05);
  MakeCube().transmission = 0.15f; // pattern 1: 1 of 16
  EXPECT_NEAR(double(Count(DrawFrame(), Pink)) / solid, 1.0 / 16, 0.02);
  MakeCube().transmission = 4.0f; // past the table: all of it
  EXPECT_NEAR(double(Count(DrawFrame(), Pink)) / solid, 1.0, 0.01);
}

TEST_F(WindowGL, VerboseNamesTheListsInBuildOrder) {
  MakeCube();
  verbose = 1;
  testing::internal::CaptureStdout();
  SetupGraphics();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "top\tstructure id = 8\n"
                 "empty\tstructure id = 0\n"
                 "ground\tstructure id = 2\n"
                 "shadow\tstructure id = 3\n"
                 "edge\tstructure id = 5\n"
                 "normal\tstructure id = 6\n"
                 "object\tstructure id = 7\n");
  // Frames print nothing.
  testing::internal::CaptureStdout();
  Redisplay();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// A torus of 2 x rings x sides triangles wound outward, every triangle with vertices of its own
// (as an STL object comes): three points a triangle and the faces {0, 1, 2}, {3, 4, 5}, ...
static void UnsharedTorus(int rings, int sides, std::vector<Coord> &points,
                          std::vector<std::vector<uint32_t>> &faces) {
  auto at = [&](int i, int j) {
    double u = 2 * M_PI * i / rings, v = 2 * M_PI * j / sides;
    double r = 1.2 + 0.5 * std::cos(v);
    return Coord{float(r * std::cos(u)), float(r * std::sin(u)), float(0.5 * std::sin(v))};
  };
  auto add = [&](Coord a, Coord b, Coord c) {
    uint32_t first = static_cast<uint32_t>(points.size());
    points.insert(points.end(), {a, b, c});
    faces.push_back({first, first + 1, first + 2});
  };
  for (int i = 0; i < rings; ++i)
    for (int j = 0; j < sides; ++j) {
      Coord a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
      add(a, b, c);
      add(a, c, d);
    }
}

TEST_F(WindowGL, FirstFrameDrawnStraightIsTheListsPicture) {
  // The first frame draws the object from its arrays; the list is compiled once that frame is
  // shown and every later frame calls it. Where the two could differ (quadrilaterals drawn vertex
  // by vertex) the list is compiled at set-up instead. Either way, one picture.
  const std::vector<Coord> points{{-1, -1, 0},      {1, -1, 0},  {1.5f, 0.5f, 0}, {0, 1.5f, 0},
                                  {-1.5f, 0.5f, 0}, {-1, -1, 1}, {1, -1, 1},      {1, 1, 1}};
  const std::vector<std::vector<uint32_t>> mixed{
      {0, 1, 2, 3, 4}, {5, 6, 7}, {0, 1, 6, 5}, {1, 2, 7, 6}, {7, 6, 5}};
  const std::vector<std::vector<uint32_t>> noQuads{
      {5, 6, 7}, {7, 6, 5}, {0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 1, 2, 3, 4}, {1, 2, 7, 6, 5}};
  // More facets than one block of the drawing from arrays, a few pixels or less each.
  std::vector<Coord> torusPoints;
  std::vector<std::vector<uint32_t>> torus;
  UnsharedTorus(160, 70, torusPoints, torus);
  enum Arrays { kVertexNormals, kFacetNormals, kVertexColours, kFacetColours };
  struct Case {
    const std::vector<Coord> &points;
    const std::vector<std::vector<uint32_t>> &faces;
    Arrays arrays;
    bool straight; // the first frame is drawn without the list
    bool culled;   // back faces culled
  } cases[] = {
      {points, mixed, kVertexNormals, true, false},
      {points, mixed, kFacetNormals, false, false},
      {points, mixed, kFacetColours, false, false},
      {points, noQuads, kVertexNormals, true, false},
      {points, noQuads, kFacetNormals, true, false},
      {points, noQuads, kVertexColours, true, false},
      {points, noQuads, kFacetColours, true, false},
      {torusPoints, torus, kFacetNormals, true, false},
      {torusPoints, torus, kFacetNormals, true, true},
      {torusPoints, torus, kFacetColours, true, true},
  };
  int n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE("case " + std::to_string(n++));
    Part &p = MakeShape(c.points, c.faces);
    if (c.arrays != kVertexNormals) p.vertex_normals.clear();
    if (c.arrays == kVertexColours) p.vertex_colors.assign(c.points.size(), {0.2f, 0.9f, 0.4f});
    if (c.arrays == kFacetColours) {
      p.vertex_colors.clear();
      for (std::size_t f = 0; f < c.faces.size(); ++f)
        p.polygon_colors.push_back({0.1f * (f % 10), 0.9f, 0.4f});
    }
    currentShape->cull_face = c.culled ? GL_BACK : 0;
    SetupGraphics();
    SetCulling(currentShape->cull_face);
    EXPECT_EQ(object_list, c.straight ? 0 : object_id);
    std::string path = "/tmp/mirandel-first-" + std::to_string(getpid()) + ".png";
    WriteSnapshot(path);
    Image first = ReadPng(path);
    OnDisplay();
    EXPECT_EQ(object_list, object_id);
    WriteSnapshot(path);
    Image later = ReadPng(path);
    std::remove(path.c_str());
    EXPECT_GT(Count(later, [](const unsigned char *px) { return px[0] + px[1] + px[2] > 60; }),
              5000);
    EXPECT_TRUE(first.rgb == later.rgb);
  }
}

TEST_F(WindowGL, UnsharedTrianglesFromArraysLookAsWhenFedVertexByVertex) {
  // Triangles with vertices of their own are drawn from the arrays a block at a time; one
  // two-vertex facet more (which draws nothing) makes the drawing feed every vertex by itself.
  std::vector<Coord> points;
  std::vector<std::vector<uint32_t>> faces;
  UnsharedTorus(160, 70, points, faces);
  std::vector<std::vector<uint32_t>> fed = faces;
  fed.push_back({0, 1});
  for (bool culled : {false, true})
    for (bool colours : {false, true}) {
      SCOPED_TRACE(std::string(culled ? "culled" : "both sides") + (colours ? ", colours" : ""));
      std::vector<Image> shots;
      for (const auto *f : {&faces, &fed}) {
        Part &p = MakeShape(points, *f);
        p.vertex_normals.clear();
        if (colours)
          for (std::size_t i = 0; i < f->size(); ++i)
            p.polygon_colors.push_back({0.1f * (i % 10), 0.9f, 0.4f});
        currentShape->cull_face = culled ? GL_BACK : 0;
        SetupGraphics();
        SetCulling(currentShape->cull_face);
        std::string path = "/tmp/mirandel-fed-" + std::to_string(getpid()) + ".png";
        WriteSnapshot(path);
        shots.push_back(ReadPng(path));
        std::remove(path.c_str());
      }
      EXPECT_GT(Count(shots[0], [](const unsigned char *px) { return px[0] + px[1] + px[2] > 60; }),
                5000);
      EXPECT_TRUE(shots[0].rgb == shots[1].rgb);
    }
}

TEST_F(WindowGL, EdgeAndNormalOverlaysComeAndGoWithReset) {
  MakeCube();
  SetupGraphics();
  currentShape->show_edges = 1;
  RebuildWithEdges(1);
  EXPECT_NE(current_list, object_id);
  std::string path = "/tmp/mirandel-overlay.png";
  WriteSnapshot(path);
  EXPECT_GT(Count(ReadPng(path), Green), 200);
  currentShape->show_normals = 1;
  RebuildWithNormals(1); // both overlays now
  WriteSnapshot(path);
  Image both = ReadPng(path);
  EXPECT_GT(Count(both, Green), 200);
  EXPECT_GT(Count(both, Yellow), 20);
  trackball_matrix[0] = 0.5f;
  ResetDisplay();
  EXPECT_EQ(currentShape->show_edges, 0);
  EXPECT_EQ(currentShape->show_normals, 0);
  EXPECT_EQ(trackball_matrix[0], 1.0f);
  WriteSnapshot(path);
  Image plain = ReadPng(path);
  EXPECT_EQ(Count(plain, Green), 0);
  EXPECT_EQ(Count(plain, Yellow), 0);
  std::remove(path.c_str());
}

TEST_F(WindowGL, MixedAndDegenerateFacetsWithFacetNormalsOnly) {
  // A pentagon, a triangle, two quads, a two-vertex and an empty facet; no vertex normals (as
  // for STL): the normal overlay falls back to facet normals and skips the short facets.
  Part &p = MakeShape({{-1, -1, 0},
                       {1, -1, 0},
                       {1.5f, 0.5f, 0},
                       {0, 1.5f, 0},
                       {-1.5f, 0.5f, 0},
                       {-1, -1, 1},
                       {1, -1, 1},
                       {1, 1, 1}},
                      {{0, 1, 2, 3, 4}, {5, 6, 7}, {0, 1, 6, 5}, {1, 2, 7, 6}, {3, 4}, {}});
  p.vertex_normals.clear();
  SetupGraphics();
  currentShape->show_normals = 1;
  currentShape->cull_face = 0; // both sides, so the facets show from any side
  SetCulling(0);
  RebuildWithNormals(1);
  std::string path = "/tmp/mirandel-mixed.png";
  WriteSnapshot(path);
  Image img = ReadPng(path);
  std::remove(path.c_str());
  EXPECT_GT(Count(img, Pink), 5000);
  EXPECT_GT(Count(img, Yellow), 10);
}

TEST_F(WindowGL, EmptyObjectDrawsTheGroundOnly) {
  MakeShape({}, {});
  show_status = 1;
  Image img = DrawFrame();
  EXPECT_EQ(Count(img, Pink), 0);
  EXPECT_GT(Count(img, Grey), 500);
}

TEST_F(WindowGL, IndexOutsideTheVerticesIsRefused) {
  Part &p = MakeCube();
  p.facet_vertex_pool[5] = 8; // one past the last vertex
  try {
    SetupGraphics();
    FAIL() << "drawn";
  } catch (const FatalError &e) {
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(std::string(e.what()),
              "File hand.geom: facet 1 uses vertex index 8, there are 8 vertices\n");
  }
}

TEST_F(WindowGL, EdgeLinesOutlineEveryFacetWhereverItStarts) {
  // A triangle and a quadrilateral side by side, each facet's vertex list started at each of its
  // vertices in turn: the same outlines every time, all their sides.
  const std::vector<Coord> points{{-2, -1, 0}, {-0.2f, -1, 0}, {-1.1f, 1, 0}, {0.2f, -1, 0},
                                  {2, -1, 0},  {2, 1, 0},      {0.2f, 1, 0}};
  std::vector<Image> shots;
  for (uint32_t turn = 0; turn < 4; ++turn) {
    std::vector<uint32_t> tri, quad;
    for (uint32_t k = 0; k < 3; ++k) tri.push_back((k + turn) % 3);
    for (uint32_t k = 0; k < 4; ++k) quad.push_back(3 + (k + turn) % 4);
    MakeShape(points, {tri, quad});
    show_ground = 0;
    currentShape->show_edges = 1;
    SetupGraphics();
    RebuildWithEdges(1);
    std::string path = "/tmp/mirandel-edges.png";
    WriteSnapshot(path);
    shots.push_back(ReadPng(path));
    std::remove(path.c_str());
  }
  int green = Count(shots[0], Green);
  EXPECT_GT(green, 800);
  // (A line drawn the other way round may differ at an end pixel.)
  for (std::size_t i = 1; i < shots.size(); ++i) {
    int differ = 0;
    for (int y = 0; y < shots[0].height; ++y)
      for (int x = 0; x < shots[0].width; ++x)
        differ += Green(shots[0].at(x, y)) != Green(shots[i].at(x, y));
    EXPECT_LT(differ, 10) << "started at vertex " << i;
  }
  EXPECT_GT(Count(shots[0], Pink), 5000); // the facets under the lines
}

// Normal lines are a share of the object's size: a 0.02-unit and a 100-unit copy of one object
// show them alike.
TEST_F(WindowGL, NormalLinesReadAlikeAtEveryScale) {
  int yellow[2] = {0, 0};
  int k = 0;
  for (float side : {0.02f, 100.0f}) {
    std::vector<Coord> points;
    for (int i = 0; i < 8; ++i)
      points.push_back(Coord{i & 1 ? side : 0, i & 2 ? side : 0, i & 4 ? side : 0});
    MakeShape(points,
              {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}});
    SetupGraphics();
    ToggleDisplayMode('n');
    std::string path = "/tmp/mirandel-normals-" + std::to_string(getpid()) + ".png";
    WriteSnapshot(path);
    yellow[k++] = Count(ReadPng(path), Yellow);
    std::remove(path.c_str());
    ReleaseAll();
  }
  EXPECT_GT(yellow[0], 20);
  EXPECT_NEAR(yellow[1], yellow[0], yellow[0] / 10 + 2);
}
