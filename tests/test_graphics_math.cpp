// The renderer's arithmetic against hand-computed values, without a window.
#include "viewer/graphics/graphics.h"
#include "viewer/graphics/graphicsMath.h"
#include "viewer/model/shape.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

// Applies an OpenGL (column-major) matrix to a point.
Coord Apply(const float m[16], Coord p) {
  return Coord{m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12],
               m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
               m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
}

void ExpectPoint(Coord got, float x, float y, float z) {
  EXPECT_NEAR(got.x, x, 1e-5);
  EXPECT_NEAR(got.y, y, 1e-5);
  EXPECT_NEAR(got.z, z, 1e-5);
}

} // namespace

TEST(GraphicsMath, MatMultiplyAppliesFirstArgumentFirstAndMayOverwriteIt) {
  float t[16], s[16], d[16];
  TranslateMatrix(1, 2, 3, t);
  ScaleMatrix(2, 2, 2, s);
  MatMultiply(t, s, d); // translate, then scale
  ExpectPoint(Apply(d, Coord{0, 0, 0}), 2, 4, 6);
  MatMultiply(s, t, d); // scale, then translate
  ExpectPoint(Apply(d, Coord{1, 1, 1}), 3, 4, 5);
  // The destination may be either operand.
  MatMultiply(t, s, t);
  ExpectPoint(Apply(t, Coord{0, 0, 0}), 2, 4, 6);
  float r[16];
  RotationMatrix(0, 0, 1, 90, r);
  MatMultiply(s, r, r);
  ExpectPoint(Apply(r, Coord{1, 0, 0}), 0, 2, 0);
}

TEST(GraphicsMath, RotationMatrixNormalisesTheAxisButLeavesAZeroOne) {
  float m[16];
  RotationMatrix(0, 0, 5, 90, m); // a long axis turns like a unit one
  ExpectPoint(Apply(m, Coord{1, 0, 0}), 0, 1, 0);
  EXPECT_FLOAT_EQ(m[15], 1);
  RotationMatrix(1, 0, 0, 90, m);
  ExpectPoint(Apply(m, Coord{0, 1, 0}), 0, 0, 1);
  RotationMatrix(0, 2, 0, -90, m);
  ExpectPoint(Apply(m, Coord{1, 0, 0}), 0, 0, 1);
  // A zero axis at 180 degrees gives the point reflection (-1, -1, -1, 1).
  RotationMatrix(0, 0, 0, 180, m);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], i == 15 ? 1 : (i % 5 == 0 ? -1 : 0), 1e-6) << i;
  // No turn at all is the identity, whatever the axis.
  RotationMatrix(0, 0, 0, 0, m);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], i % 5 == 0 ? 1 : 0, 1e-7) << i;
}

TEST(GraphicsMath, PlacementTranslatesThenRotatesXYZThenScales) {
  Part p;
  p.translate_on = 1;
  p.translate[0] = -4, p.translate[1] = 5, p.translate[2] = 0.5f;
  p.scale_on = 1;
  p.scale[0] = p.scale[1] = p.scale[2] = 7;
  float m[16];
  PlacementMatrix(p, m);
  // The translation's negative lands at the origin whatever the scale.
  ExpectPoint(Apply(m, Coord{4, -5, -0.5f}), 0, 0, 0);

  Part q;
  q.rotate_on = 1;
  q.rotate[0] = 90, q.rotate[1] = 90;
  PlacementMatrix(q, m);
  // About x first: (0, 1, 0) -> (0, 0, 1), then about y -> (1, 0, 0).
  ExpectPoint(Apply(m, Coord{0, 1, 0}), 1, 0, 0);

  q.scale_on = q.translate_on = 1;
  q.rotate[0] = q.rotate[1] = 0, q.rotate[2] = 90;
  q.scale[0] = q.scale[1] = q.scale[2] = 2;
  q.translate[0] = 1;
  PlacementMatrix(q, m);
  ExpectPoint(Apply(m, Coord{0, 0, 0}), 0, 2, 0);
  // Switches off: the identity, whatever the values.
  Part off;
  off.scale[0] = 9, off.translate[1] = 3;
  PlacementMatrix(off, m);
  ExpectPoint(Apply(m, Coord{1, 2, 3}), 1, 2, 3);
}

TEST(GraphicsMath, BallProjectMapsTheWindowOntoTheSphere) {
  float b[3];
  BallProject(50, 50, 100, 100, b);
  ExpectPoint(Coord{b[0], b[1], b[2]}, 0, 0, 1);
  BallProject(100, 50, 100, 100, b); // right edge: on the rim
  ExpectPoint(Coord{b[0], b[1], b[2]}, 1, 0, 0);
  BallProject(75, 25, 100, 100, b); // d = 0.7071: pz = cos(d * pi / 2), then normalised
  double pz = std::cos(std::sqrt(0.5) * M_PI / 2), l = std::sqrt(0.5 + pz * pz);
  ExpectPoint(Coord{b[0], b[1], b[2]}, float(0.5 / l), float(0.5 / l), float(pz / l));
  // Outside the window (possible while dragging): on the rim, y upwards.
  BallProject(-300, -300, 100, 100, b);
  ExpectPoint(Coord{b[0], b[1], b[2]}, -std::sqrt(0.5f), std::sqrt(0.5f), 0);
  // A window without size yet gives a finite point.
  BallProject(3, 4, 0, 0, b);
  EXPECT_TRUE(std::isfinite(b[0]) && std::isfinite(b[1]) && std::isfinite(b[2]));
}

TEST(GraphicsMath, ViewTiltsOfTheDefaultViewAndUndefinedOnes) {
  ViewParams v{};
  v.up_vector = Vector{0, 1, 0};
  v.view_normal[0] = 1, v.view_normal[1] = 1.2f, v.view_normal[2] = 1;
  v.eye_point = Coord{0, 0, 10};
  v.near_offset = -10, v.far_offset = 5;
  Tilt a, b;
  ViewTilts(v, a, b);
  ASSERT_TRUE(a.on && b.on);
  EXPECT_NEAR(a.angle, 45.1944, 1e-4);
  EXPECT_NEAR(a.axis[0], 1, 1e-9);
  EXPECT_NEAR(a.axis[1], 0, 1e-9);
  EXPECT_NEAR(a.axis[2], 0, 1e-9);
  EXPECT_NEAR(b.angle, -39.8056, 1e-4);
  EXPECT_EQ(b.axis[1], 1);
  double nearPlane, farPlane;
  ViewPlanes(v, nearPlane, farPlane);
  EXPECT_DOUBLE_EQ(nearPlane, 1.0);
  EXPECT_DOUBLE_EQ(farPlane, 20.0);
  v.near_offset = -4;
  ViewPlanes(v, nearPlane, farPlane);
  EXPECT_DOUBLE_EQ(nearPlane, 6.0);

  // Ny = Nz = 0: no first tilt; the second one is still defined (90 degrees).
  v.view_normal[1] = v.view_normal[2] = 0;
  ViewTilts(v, a, b);
  EXPECT_FALSE(a.on);
  ASSERT_TRUE(b.on);
  EXPECT_NEAR(b.angle, -90, 1e-6);
  // Nx = Ny = 0: no second tilt.
  v.view_normal[0] = 0, v.view_normal[2] = 1;
  ViewTilts(v, a, b);
  EXPECT_TRUE(a.on);
  EXPECT_FALSE(b.on);
  // A zero up vector: neither; up parallel to (0, Ny, Nz): no axis for the first.
  v.up_vector = Vector{0, 0, 0};
  ViewTilts(v, a, b);
  EXPECT_FALSE(a.on || b.on);
  v.up_vector = Vector{0, 0, 2};
  ViewTilts(v, a, b);
  EXPECT_FALSE(a.on);
  // Never NaN, even from values that round past the arccos range.
  v.up_vector = Vector{0, 1e-20f, 3e30f};
  v.view_normal[0] = 1e-30f, v.view_normal[1] = 1e-20f, v.view_normal[2] = 3e30f;
  ViewTilts(v, a, b);
  EXPECT_FALSE(std::isnan(a.angle) || std::isnan(b.angle));
}

TEST(GraphicsMath, AspectWindowMakesAWindowUnitAsWideAsItIsHigh) {
  const float square[4] = {-2, -2, 2, 2};
  const float panned[4] = {-1.3f, -2.45f, 2.7f, 1.55f};
  const float wide[4] = {-3, -1, 3, 1};
  double out[4];
  // A square window on a square viewport, and a viewport without size, keep it bit for bit.
  for (auto [w, h] : {std::pair{600, 600}, {0, 400}, {800, 0}, {-5, -5}})
    for (const float *win : {square, panned}) {
      AspectWindow(win, w, h, out);
      for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], double(win[i])) << w << "x" << h << " " << i;
    }
  for (auto [w, h] :
       {std::pair{560, 525}, {1000, 500}, {400, 700}, {1, 1000}, {1000, 1}, {300, 100}})
    for (const float *win : {square, panned, wide}) {
      AspectWindow(win, w, h, out);
      double across = out[2] - out[0], down = out[3] - out[1];
      EXPECT_NEAR((w / across) / (h / down), 1.0, 1e-9) << w << "x" << h;
      // One side keeps its extent, the other widens about the same centre.
      bool widensX = across > double(win[2]) - win[0] + 1e-9;
      int keep = widensX ? 1 : 0, grow = widensX ? 0 : 1;
      EXPECT_EQ(out[keep], double(win[keep])) << w << "x" << h;
      EXPECT_EQ(out[keep + 2], double(win[keep + 2])) << w << "x" << h;
      EXPECT_LE(out[grow], win[grow]) << w << "x" << h;
      EXPECT_NEAR(out[grow] + out[grow + 2], double(win[grow]) + win[grow + 2], 1e-6);
    }
}

TEST(GraphicsMath, StippleTableAndTransmission) {
  EXPECT_EQ(StippleIndex(0), -1);
  EXPECT_EQ(StippleIndex(1e-31f), -1);
  EXPECT_EQ(StippleIndex(0.05f), 0);
  EXPECT_EQ(StippleIndex(0.5f), 5);
  EXPECT_EQ(StippleIndex(0.95f), 9);
  EXPECT_EQ(StippleIndex(1.0f), 10);
  // Outside the table: clamped to its ends.
  EXPECT_EQ(StippleIndex(1.7f), 16);
  EXPECT_EQ(StippleIndex(1e30f), 16);
  EXPECT_EQ(StippleIndex(-0.05f), 0);
  EXPECT_EQ(StippleIndex(-3), 0);
  EXPECT_EQ(StippleIndex(NAN), 16);
  // Pattern k lets k of every 16 pixels through; rows repeat every 4.
  unsigned char bits[128];
  for (int k = 0; k <= 16; ++k) {
    StipplePattern(k, bits);
    int set = 0;
    for (int i = 0; i < 128; ++i) set += __builtin_popcount(bits[i]);
    EXPECT_EQ(set, k * 64) << k;
    for (int row = 4; row < 32; ++row)
      for (int c = 0; c < 4; ++c) ASSERT_EQ(bits[4 * row + c], bits[4 * (row % 4)]) << k;
  }
  StipplePattern(9, bits);
  EXPECT_EQ(bits[0], 0xEE);
  EXPECT_EQ(bits[4], 0x55);
  EXPECT_EQ(bits[8], 0xAA);
  EXPECT_EQ(bits[12], 0x55);
}

TEST(GraphicsMath, ProjectedBoxDividesByWAndRefusesPointsBehindTheEye) {
  float model[16];
  double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  // A perspective divide by w = -z, as glFrustum gives with near 1.
  double perspective[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, -1, 0, 0, -2, 0};
  struct Case {
    const char *what;
    const double *projection;
    std::vector<Coord> points;
    float scale; // model scale
    bool boxed;
    double box[4];
  };
  const Case cases[] = {
      {"plain", identity, {{0.1f, 0.2f, 0}, {0.5f, 0.3f, 0}}, 1, true, {0.1, 0.2, 0.5, 0.3}},
      {"through the model matrix",
       identity,
       {{0.05f, 0.1f, 0}, {0.25f, 0.15f, 0}},
       2,
       true,
       {0.1, 0.2, 0.5, 0.3}},
      {"one point", identity, {{0.5f, 0.5f, 0}}, 1, true, {0.5, 0.5, 0.5, 0.5}},
      // (1, 1, -2) and (-1, -1, -4) divide to (0.5, 0.5) and (0.25, 0.25).
      {"perspective", perspective, {{1, 1, -2}, {1, 1, -4}}, 1, true, {0.25, 0.25, 0.5, 0.5}},
      {"a point behind the eye", perspective, {{1, 1, -2}, {1, 1, 2}}, 1, false, {}},
      {"no points", identity, {}, 1, false, {}},
      {"only points at infinity", identity, {{INFINITY, 0, 0}, {NAN, 1, 1}}, 1, false, {}},
  };
  for (const Case &c : cases) {
    ScaleMatrix(c.scale, c.scale, c.scale, model);
    double box[4] = {-1, -1, -1, -1};
    bool boxed = ProjectedBox(c.projection, model, c.points.data(), c.points.size(), box);
    EXPECT_EQ(boxed, c.boxed) << c.what;
    if (!boxed || !c.boxed) continue;
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(box[k], c.box[k], 1e-6) << c.what << " " << k;
  }
}

// Large point sets are boxed in two halves on two threads: the halves' extremes, a point behind
// the eye or at infinity in either half, must come out as one pass over them all.
TEST(GraphicsMath, ProjectedBoxOfManyPointsIsTheBoxOfThemAll) {
  double perspective[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, -1, 0, 0, -2, 0};
  float model[16];
  ScaleMatrix(1, 1, 1, model);
  const std::size_t n = std::size_t(1) << 20;
  std::vector<Coord> points(n, Coord{0.5f, 0.5f, -2});
  points[n / 4] = Coord{-1, 0.75f, -2};   // the lowest x, in the lower half
  points[n - 1] = Coord{1.5f, -0.5f, -2}; // the highest x and the lowest y, at the very end
  points[n / 2] = Coord{NAN, 0, -2};      // no place: passed over
  double box[4];
  ASSERT_TRUE(ProjectedBox(perspective, model, points.data(), n, box));
  const double want[4] = {-0.5, -0.25, 0.75, 0.375};
  for (int k = 0; k < 4; ++k) EXPECT_DOUBLE_EQ(box[k], want[k]) << k;
  for (std::size_t at : {std::size_t(3), n - 2}) {
    std::vector<Coord> behind = points;
    behind[at] = Coord{0, 0, 1};
    EXPECT_FALSE(ProjectedBox(perspective, model, behind.data(), n, box)) << at;
  }
}

namespace {

// The points of a box from lo to hi and a few inside it.
std::vector<Coord> BoxPoints(Coord lo, Coord hi) {
  std::vector<Coord> p;
  for (int i = 0; i < 8; ++i)
    p.push_back(Coord{i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z});
  p.push_back(Coord{(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2});
  return p;
}

// Where the points land in the picture: normalised device coordinates, x, y and depth boxes.
struct Landing {
  double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
};
Landing Land(const ViewParams &view, const ViewFrame &frame, const float placement[16],
             const std::vector<Coord> &points, int w, int h) {
  double m[16];
  ObjectProjection(view, frame, w, h, m);
  float model[16];
  MatMultiply(placement, frame.model, model);
  Landing l;
  for (const Coord &p : points) {
    Coord e = Apply(model, p);
    double c[4];
    for (int r = 0; r < 4; ++r) c[r] = m[r] * e.x + m[4 + r] * e.y + m[8 + r] * e.z + m[12 + r];
    for (int k = 0; k < 3; ++k) {
      l.lo[k] = std::min(l.lo[k], c[k] / c[3]);
      l.hi[k] = std::max(l.hi[k], c[k] / c[3]);
    }
  }
  return l;
}

} // namespace

// Whatever the object's size, place and shape, and the viewport's, the framed object sits in the
// middle of the picture, fills its tighter side to the fill share, and lies between the near and
// far planes; copies at other scales land alike.
TEST(GraphicsMath, FramingCentresAndFillsForEverySizePlaceAndViewport) {
  const ViewParams view = DefaultView();
  struct Case {
    const char *what;
    Coord lo, hi;
    float placeScale;
  };
  const Case cases[] = {
      {"unit cube", {-0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f}, 1},
      {"a micrometre, off the origin", {2e-6f, 2e-6f, -4e-6f}, {3e-6f, 3e-6f, -3e-6f}, 1},
      {"a million units", {-5e5f, -5e5f, -5e5f}, {5e5f, 5e5f, 5e5f}, 1},
      {"a million units, placed smaller", {0, 0, 0}, {1e6f, 2e5f, 1e5f}, 1e-3f},
      {"a rod along x", {-10, -0.1f, -0.1f}, {10, 0.1f, 0.1f}, 1},
      {"a rod along y, off the origin", {40, 0, 3}, {40.2f, 30, 3.2f}, 1},
      {"a plate", {-1, -1, 0}, {1, 1, 0}, 1},
  };
  for (const Case &c : cases) {
    std::vector<Coord> points = BoxPoints(c.lo, c.hi);
    float placement[16];
    ScaleMatrix(c.placeScale, c.placeScale, c.placeScale, placement);
    ViewFrame frame = FrameObject(view, placement, points.data(), points.size());
    ASSERT_TRUE(frame.boxed) << c.what;
    for (auto [w, h] : {std::pair{560, 525}, {600, 600}, {1000, 500}, {400, 700}}) {
      SCOPED_TRACE(std::string(c.what) + " " + std::to_string(w) + "x" + std::to_string(h));
      Landing l = Land(view, frame, placement, points, w, h);
      EXPECT_NEAR(l.lo[0] + l.hi[0], 0, 1e-4);
      EXPECT_NEAR(l.lo[1] + l.hi[1], 0, 1e-4);
      EXPECT_NEAR(std::max(l.hi[0] - l.lo[0], l.hi[1] - l.lo[1]) / 2, kFrameFill, 1e-4);
      EXPECT_GT(l.lo[2], -1);
      EXPECT_LT(l.hi[2], 1);
    }
  }
  // A copy a hundred thousand times larger, elsewhere, lands where the first does.
  std::vector<Coord> small = BoxPoints({0, 0, 0}, {0.02f, 0.01f, 0.005f});
  std::vector<Coord> large = BoxPoints({-500, 7000, 0}, {1500, 8000, 500});
  float identity[16];
  MatIdentity(identity);
  Landing a = Land(view, FrameObject(view, identity, small.data(), small.size()), identity, small,
                   560, 525);
  Landing b = Land(view, FrameObject(view, identity, large.data(), large.size()), identity, large,
                   560, 525);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(a.lo[k], b.lo[k], 1e-5) << k;
    EXPECT_NEAR(a.hi[k], b.hi[k], 1e-5) << k;
  }
}

TEST(GraphicsMath, FrameWithoutPointsZoomsNothingAndPanFollowsThePointer) {
  const ViewParams view = DefaultView();
  float identity[16];
  MatIdentity(identity);
  ViewFrame none = FrameObject(view, identity, nullptr, 0);
  EXPECT_FALSE(none.boxed);
  double zoom[3];
  FrameZoom(none, 560, 525, kFrameFill, zoom);
  EXPECT_EQ(zoom[0], 1);
  EXPECT_EQ(zoom[1], 0);
  EXPECT_EQ(zoom[2], 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(none.model[i], identity[i]);

  // A pan of PanStep units per pixel moves the object's centre by as many pixels.
  std::vector<Coord> points = BoxPoints({-3, -1, -2}, {5, 1, 0});
  ViewFrame frame = FrameObject(view, identity, points.data(), points.size());
  for (auto [w, h] : {std::pair{560, 525}, {400, 700}}) {
    ViewParams panned = view;
    double step = PanStep(frame, w, h);
    for (int i : {0, 2}) panned.window[i] += static_cast<float>(-30 * step);
    Landing before = Land(view, frame, identity, points, w, h);
    Landing after = Land(panned, frame, identity, points, w, h);
    double moved = ((after.lo[0] + after.hi[0]) - (before.lo[0] + before.hi[0])) / 4 * w;
    EXPECT_NEAR(moved, 30, 0.01) << w << "x" << h;
  }
}

TEST(GraphicsMath, EyeDirectionPointsAtTheEye) {
  ViewParams view = DefaultView();
  float d[3];
  EyeDirection(view, d);
  EXPECT_NEAR(d[0] * d[0] + d[1] * d[1] + d[2] * d[2], 1, 1e-6);
  // A point towards the eye lands in the middle of the picture, in front of the origin.
  double m[16];
  ViewProjection(view, 600, 600, m);
  auto ndc = [&m](double x, double y, double z, int k) {
    double c = m[k] * x + m[4 + k] * y + m[8 + k] * z + m[12 + k];
    double w = m[3] * x + m[7] * y + m[11] * z + m[15];
    return c / w;
  };
  EXPECT_NEAR(ndc(3 * d[0], 3 * d[1], 3 * d[2], 0), 0, 1e-6);
  EXPECT_NEAR(ndc(3 * d[0], 3 * d[1], 3 * d[2], 1), 0, 1e-6);
  EXPECT_LT(ndc(3 * d[0], 3 * d[1], 3 * d[2], 2), ndc(0, 0, 0, 2));
}

TEST(GraphicsMath, NormalLinesAreAShareOfTheDiagonal) {
  std::vector<Coord> box = BoxPoints({0, 0, 0}, {3, 4, 12}); // diagonal 13
  EXPECT_NEAR(NormalLineLength(box.data(), box.size()), 0.03 * 13, 1e-6);
  std::vector<Coord> tiny = BoxPoints({0, 0, 0}, {0.02f, 0, 0});
  EXPECT_NEAR(NormalLineLength(tiny.data(), tiny.size()), 0.03 * 0.02, 1e-9);
  box.push_back(Coord{NAN, 1e30f, 0}); // a point without a place is passed over
  EXPECT_NEAR(NormalLineLength(box.data(), box.size()), 0.03 * 13, 1e-6);
  const Coord one{1, 2, 3};
  EXPECT_EQ(NormalLineLength(&one, 1), 0.2f);
  EXPECT_EQ(NormalLineLength(nullptr, 0), 0.2f);
}

TEST(GraphicsMath, OverlayTakesTheLargestFontThatFitsAndCutsWhatStillDoesNot) {
  // 10, 6 and 5 pixels a character.
  TextWidth width = [](int font, const std::string &t) {
    return static_cast<int>(t.size()) * (font == 0 ? 10 : font == 1 ? 6 : 5);
  };
  const int steps[] = {18, 14, 12};
  std::vector<std::string> lines = {std::string(30, 'a'), "b"};
  EXPECT_EQ(OverlayFont(lines, 2, 310, 46, steps, 3, width), 0);
  EXPECT_EQ(OverlayFont(lines, 2, 309, 46, steps, 3, width), 1); // too narrow for the first
  EXPECT_EQ(OverlayFont(lines, 3, 310, 46, steps, 3, width), 2); // too low for 3 x 14
  EXPECT_EQ(OverlayFont(lines, 9, 20, 20, steps, 3, width), 2);  // nothing fits: the smallest
  EXPECT_EQ(CutToWidth("hand.off", 80, 0, true, width), "hand.off");
  EXPECT_EQ(CutToWidth("Object: a-long-name.off", 100, 0, true, width), "...ame.off");
  EXPECT_EQ(CutToWidth("r: reset    Esc: quit", 50, 1, false, width), "r: re...");
  EXPECT_EQ(CutToWidth("abc", 20, 0, false, width), "");
}

TEST(GraphicsMath, BoxDownsampleWeighsColoursByOpacity) {
  // 4 x 2 pixels into 2 x 1: an opaque block, and a block half red and half transparent.
  const unsigned char in[] = {
      10, 20, 30, 255, 30, 40, 50, 255, 200, 0, 0, 255, 0, 0, 0, 0, //
      10, 20, 30, 255, 30, 40, 50, 255, 200, 0, 0, 255, 0, 0, 0, 0, //
  };
  unsigned char out[8];
  BoxDownsample(in, 4, 2, 2, out);
  const unsigned char expected[] = {20, 30, 40, 255, 200, 0, 0, 128};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(out[k], expected[k]) << k;
  // A block with nothing in it stays transparent black; a factor of 1 copies.
  const unsigned char empty[16] = {};
  BoxDownsample(empty, 2, 2, 2, out);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(out[k], 0) << k;
  unsigned char copy[16];
  BoxDownsample(in, 4, 1, 1, copy);
  EXPECT_EQ(std::vector<unsigned char>(copy, copy + 16), std::vector<unsigned char>(in, in + 16));
}

TEST(GraphicsMath, FitLineKeepsTheEndOfALongName) {
  EXPECT_EQ(FitLine("Mirandel: ", "cube.geom", 80), "Mirandel: cube.geom");
  std::string name(70, 'a');
  EXPECT_EQ(FitLine("Mirandel: ", name, 80).size(), 79u); // exactly fits
  name += "bcdef.geom";
  std::string t = FitLine("Mirandel: ", name, 80);
  EXPECT_EQ(t.size(), 79u);
  EXPECT_EQ(t.substr(0, 13), "Mirandel: ...");
  EXPECT_EQ(t.substr(t.size() - 10), "bcdef.geom");
  EXPECT_EQ(FitLine("Object: ", std::string(500, 'x'), 64).size(), 63u);
}

// The mouse steps act on the program-wide trackball state; no window is needed.
class MouseSteps : public ::testing::Test {
protected:
  void SetUp() override {
    window_width = 100, window_height = 100;
    MatIdentity(trackball_matrix);
    for (float &f : spin_step) f = 0;
  }
};

TEST_F(MouseSteps, ReleaseSpinsOnlyAfterADiagonalRotationStep) {
  // A click without motion: no spin, even released elsewhere (no step of this drag to repeat).
  StartDrag(50, 50);
  EXPECT_FALSE(ReleaseSpins(0, 50, 50));
  EXPECT_FALSE(ReleaseSpins(0, 60, 70));
  // The last motion moved in both x and y: released there, the turn keeps going.
  StartDrag(50, 50);
  DragRotate(55, 52);
  EXPECT_TRUE(ReleaseSpins(0, 55, 52));
  EXPECT_FALSE(ReleaseSpins(1, 55, 52)); // any other button stops it
  EXPECT_FALSE(ReleaseSpins(2, 55, 52));
  // A last step purely horizontal or vertical: no spin.
  DragRotate(60, 52);
  EXPECT_FALSE(ReleaseSpins(0, 60, 52));
  DragRotate(60, 58);
  EXPECT_FALSE(ReleaseSpins(0, 60, 58));
  // A new press forgets the earlier turn's step.
  StartDrag(10, 10);
  EXPECT_FALSE(ReleaseSpins(0, 20, 30));
}

TEST_F(MouseSteps, RotateStepTurnsAboutTheScreenAxisAndAccumulates) {
  StartDrag(50, 50);
  DragRotate(75, 50); // to the right: about +y by 90 * |q - p|
  float q[3];
  BallProject(75, 50, 100, 100, q);
  float dist = std::sqrt(q[0] * q[0] + q[1] * q[1] + (q[2] - 1) * (q[2] - 1));
  float expected[16];
  RotationMatrix(0, 1, 0, 90 * dist, expected);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(spin_step[i], expected[i], 1e-5) << i;
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(trackball_matrix[i], expected[i], 1e-5) << i;
  EXPECT_EQ(ball_point[0], q[0]);
  EXPECT_EQ(last_x, 75);
  EXPECT_EQ(prev_x, 50);
  // The next step acts after the first: the product, not a replacement.
  DragRotate(75, 25);
  float both[16];
  MatMultiply(expected, spin_step, both);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(trackball_matrix[i], both[i], 1e-5) << i;
}

TEST_F(MouseSteps, ZoomAndPan) {
  StartDrag(50, 50);
  DragZoom(50, 40); // up: smaller
  EXPECT_FLOAT_EQ(trackball_matrix[0], 0.95f);
  DragZoom(80, 40); // sideways only: larger
  EXPECT_FLOAT_EQ(trackball_matrix[0], 0.95f * 1.05f);
  DragZoom(80, 90); // down, however far: one factor
  EXPECT_FLOAT_EQ(trackball_matrix[10], 0.95f * 1.05f * 1.05f);
  EXPECT_EQ(prev_y, 40);

  CreateShape(2);
  float *w = currentShape->view.window;
  w[0] = -2, w[1] = -2, w[2] = 2, w[3] = 2;
  view_frame = ViewFrame();
  StartDrag(50, 50);
  // Right and up: the window moves left and down, a hundredth of it per pixel here.
  DragPan(60, 30);
  EXPECT_FLOAT_EQ(w[0], -2.4f);
  EXPECT_FLOAT_EQ(w[2], 1.6f);
  EXPECT_FLOAT_EQ(w[1], -2.8f);
  EXPECT_FLOAT_EQ(w[3], 1.2f);
  EXPECT_EQ(last_x, 60);
  ReleaseShape();
}
