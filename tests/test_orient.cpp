// Closed surfaces found across repeated vertices and turned outward piece by piece; anything else
// left as it is for two-sided drawing.
#include "viewer/model/orientObj.h"

#include "viewer/model/shape.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace {

const int kCubeFaces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                              {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};

// Cubes of side 1, the k-th at x = 3k, counter-clockwise seen from outside. `own` gives every
// face its own four vertices (as files of unshared facets do).
Part Cubes(int count, bool own = false) {
  Part p;
  for (int c = 0; c < count; ++c) {
    uint32_t base = p.vertex_count;
    auto corner = [&](int i) {
      return Coord{float(3 * c + (i & 1)), float((i >> 1) & 1), float((i >> 2) & 1)};
    };
    if (!own)
      for (int i = 0; i < 8; ++i) p.vertices.push_back(corner(i));
    for (int f = 0; f < 6; ++f) {
      uint32_t *idx = AddFacet(p, 4, "test", __LINE__);
      for (int k = 0; k < 4; ++k) {
        if (own) p.vertices.push_back(corner(kCubeFaces[f][k]));
        idx[k] = own ? static_cast<uint32_t>(p.vertices.size() - 1)
                     : base + static_cast<uint32_t>(kCubeFaces[f][k]);
      }
    }
    p.vertex_count = static_cast<uint32_t>(p.vertices.size());
    p.facet_count += 6;
  }
  return p;
}

void Reverse(Part &p, uint32_t f) {
  uint32_t *idx = p.facetVertices(f);
  std::reverse(idx, idx + p.facets[f].count);
}

} // namespace

TEST(Orient, ClosedPiecesNeedEveryEdgeOnceEachWay) {
  struct Case {
    const char *what;
    Part part;
    bool closed;
    uint32_t pieces;
  };
  Part open = Cubes(1);
  open.facets.pop_back();
  open.facet_count = 5;
  Part flipped = Cubes(1);
  Reverse(flipped, 2); // one face wound against its neighbours
  Part doubled = Cubes(1);
  uint32_t *again = AddFacet(doubled, 4, "test", __LINE__); // an edge met twice the same way
  for (int k = 0; k < 4; ++k) again[k] = static_cast<uint32_t>(kCubeFaces[0][k]);
  doubled.facet_count = 7;
  Part line = Cubes(1);
  uint32_t *two = AddFacet(line, 2, "test", __LINE__);
  two[0] = 0, two[1] = 1;
  line.facet_count = 7;
  Part nan = Cubes(1, true);
  nan.vertices[0] = Coord{NAN, 0, 0}; // its place unknown: welded to nothing, the face is open
  Part negativeZero = Cubes(1, true);
  for (Coord &c : negativeZero.vertices) // -0 is the place of 0 wherever it is written
    if (c.x == 0 && (&c - negativeZero.vertices.data()) % 2 == 0) c.x = -0.0f;
  Case cases[] = {
      {"a cube", Cubes(1), true, 1},
      {"a cube of unshared faces", Cubes(1, true), true, 1},
      {"two cubes", Cubes(2), true, 2},
      {"a face missing", std::move(open), false, 0},
      {"a face wound the other way", std::move(flipped), false, 0},
      {"a face twice", std::move(doubled), false, 0},
      {"a two-vertex facet", std::move(line), false, 0},
      {"a vertex without a place", std::move(nan), false, 0},
      {"-0 beside 0", std::move(negativeZero), true, 1},
      {"nothing", Part(), false, 0},
  };
  for (Case &c : cases) {
    std::vector<uint32_t> piece;
    uint32_t pieces = 99;
    EXPECT_EQ(ClosedPieces(c.part, piece, pieces), c.closed) << c.what;
    if (!c.closed) continue;
    EXPECT_EQ(pieces, c.pieces) << c.what;
    ASSERT_EQ(piece.size(), c.part.facet_count) << c.what;
    for (uint32_t f = 0; f < c.part.facet_count; ++f) EXPECT_EQ(piece[f], f / 6) << c.what;
  }
}

TEST(Orient, EachPieceWoundInwardIsTurnedAndTheRestKept) {
  Part p = Cubes(3, true);
  for (uint32_t f = 6; f < 12; ++f) Reverse(p, f); // the second cube inside out
  std::vector<uint32_t> piece;
  uint32_t pieces = 0;
  ASSERT_TRUE(ClosedPieces(p, piece, pieces));
  std::vector<double> volume = PieceVolumes(p, piece, pieces);
  ASSERT_EQ(volume.size(), 3u);
  EXPECT_NEAR(volume[0], 1, 1e-9);
  EXPECT_NEAR(volume[1], -1, 1e-9);
  EXPECT_NEAR(volume[2], 1, 1e-9);

  std::vector<uint32_t> before = p.facet_vertex_pool;
  p.fronts_known = 0;
  ApplyOrientation(p, PlanOrientation(p));
  EXPECT_EQ(p.fronts_known, 1);
  Part outward = Cubes(3, true);
  EXPECT_EQ(p.facet_vertex_pool, outward.facet_vertex_pool);

  // Open: nothing changes, and both sides are to be drawn.
  Part open = Cubes(1);
  open.facets.pop_back();
  open.facet_count = 5;
  for (uint32_t f = 0; f < 5; ++f) Reverse(open, f);
  std::vector<uint32_t> kept = open.facet_vertex_pool;
  ApplyOrientation(open, PlanOrientation(open));
  EXPECT_EQ(open.fronts_known, 0);
  EXPECT_EQ(open.facet_vertex_pool, kept);
}

namespace {

// A torus of n x m quadrilaterals, each with its own four vertices (welding has to find every
// place among many), `offset` along x.
void AddTorus(Part &p, int n, int m, float offset) {
  auto place = [&](int i, int j) {
    double u = 2 * M_PI * (i % n) / n, v = 2 * M_PI * (j % m) / m;
    return Coord{float(offset + (2 + std::cos(v)) * std::cos(u)),
                 float((2 + std::cos(v)) * std::sin(u)), float(std::sin(v))};
  };
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < m; ++j) {
      uint32_t *idx = AddFacet(p, 4, "test", __LINE__);
      const Coord corners[4] = {place(i, j), place(i + 1, j), place(i + 1, j + 1), place(i, j + 1)};
      for (int k = 0; k < 4; ++k) {
        p.vertices.push_back(corners[k]);
        idx[k] = static_cast<uint32_t>(p.vertices.size() - 1);
      }
      ++p.facet_count;
    }
  p.vertex_count = static_cast<uint32_t>(p.vertices.size());
}

} // namespace

TEST(Orient, LargePiecesWeldAndNumberInFacetOrder) {
  Part one;
  AddTorus(one, 120, 60, 0);
  std::vector<uint32_t> piece;
  uint32_t pieces = 0;
  ASSERT_TRUE(ClosedPieces(one, piece, pieces));
  EXPECT_EQ(pieces, 1u);

  // Two tori with their facets taken in turn: the pieces are numbered by their first facets.
  Part a, b, mixed;
  AddTorus(a, 40, 20, 0);
  AddTorus(b, 40, 20, 10);
  for (uint32_t f = 0; f < a.facet_count; ++f)
    for (const Part *from : {&a, &b}) {
      uint32_t *idx = AddFacet(mixed, 4, "test", __LINE__);
      for (int k = 0; k < 4; ++k) {
        mixed.vertices.push_back(from->vertices[from->facetVertices(f)[k]]);
        idx[k] = static_cast<uint32_t>(mixed.vertices.size() - 1);
      }
      ++mixed.facet_count;
    }
  mixed.vertex_count = static_cast<uint32_t>(mixed.vertices.size());
  ASSERT_TRUE(ClosedPieces(mixed, piece, pieces));
  EXPECT_EQ(pieces, 2u);
  for (uint32_t f = 0; f < mixed.facet_count; ++f) ASSERT_EQ(piece[f], f % 2) << f;

  // One quadrilateral turned the other way among thousands is still found.
  Part turned;
  AddTorus(turned, 120, 60, 0);
  Reverse(turned, 4321);
  EXPECT_FALSE(ClosedPieces(turned, piece, pieces));
}
