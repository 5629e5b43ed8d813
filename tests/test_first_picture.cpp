// The first picture of an object, by its pixels: whole, centred and framed whatever its size,
// undistorted at every window shape, seen from outside, every visible face lit; and the window's
// reset, scroll buttons and saved pictures.
#include "support.h"
#include "window_support.h"

#include <cmath>
#include <gtest/gtest.h>
#include <sstream>

namespace {

// The object's pixels: those that differ from the picture of an empty object (the ground alone).
struct Silhouette {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1, pixels = 0;
  int Width() const { return x1 - x0 + 1; }
  int Height() const { return y1 - y0 + 1; }
};
Silhouette Outline(const Image &shot, const Image &empty) {
  Silhouette s;
  for (int y = 0; y < shot.height; ++y)
    for (int x = 0; x < shot.width; ++x) {
      const unsigned char *a = shot.at(x, y), *b = empty.at(x, y);
      if (a[0] == b[0] && a[1] == b[1] && a[2] == b[2]) continue;
      ++s.pixels;
      s.x0 = std::min(s.x0, x), s.x1 = std::max(s.x1, x);
      s.y0 = std::min(s.y0, y), s.y1 = std::max(s.y1, y);
    }
  return s;
}

// Off-screen first pictures, no display needed.
class FirstPicture : public ::testing::Test {
protected:
  Image Snap(const std::string &object, int w = 560, int h = 525) {
    std::string png = dir.file("shot.png");
    unlink(png.c_str());
    Env env{
        Unset("DISPLAY"), {"OBJ_PATH", true, dir.path()}, {"ASAN_OPTIONS", true, "detect_leaks=0"}};
    RunResult r = RunMirandel(
        {"--snapshot", png, "--size", std::to_string(w) + "x" + std::to_string(h), "-in", object},
        env);
    EXPECT_EQ(r.status, 0) << object << ": " << r.err;
    return ReadPng(png);
  }
  Image Empty(int w = 560, int h = 525) {
    dir.write("empty.off", "OFF\n0 0 0\n");
    return Snap("empty.off", w, h);
  }
  // Whole (clear of every edge), centred, filling between half and nine tenths of the picture
  // along the side it comes closest to.
  void ExpectFramed(const Image &shot, const Image &empty, const std::string &what) {
    Silhouette s = Outline(shot, empty);
    ASSERT_GT(s.pixels, 100) << what << ": nothing drawn";
    int w = shot.width, h = shot.height;
    EXPECT_GE(s.x0, 3) << what;
    EXPECT_GE(s.y0, 3) << what;
    EXPECT_LE(s.x1, w - 4) << what;
    EXPECT_LE(s.y1, h - 4) << what;
    double fill = std::max(double(s.Width()) / w, double(s.Height()) / h);
    EXPECT_GE(fill, 0.5) << what;
    EXPECT_LE(fill, 0.9) << what;
    EXPECT_NEAR((s.x0 + s.x1) / 2.0, (w - 1) / 2.0, 0.03 * w) << what;
    EXPECT_NEAR((s.y0 + s.y1) / 2.0, (h - 1) / 2.0, 0.03 * h) << what;
  }
  TempDir dir;
};

// A UV sphere as OFF, facets counter-clockwise seen from outside unless `reversed`; `open` leaves
// out its lower half (a bowl).
std::string SphereOff(double radius, bool reversed = false, bool open = false) {
  const int rings = 24, segments = 32;
  std::ostringstream v, f;
  int vertices = 0, faces = 0;
  v << 0 << " " << radius << " " << 0 << "\n"; // the top pole
  ++vertices;
  int lastRing = open ? rings / 2 : rings - 1;
  for (int r = 1; r <= lastRing; ++r)
    for (int s = 0; s < segments; ++s) {
      double t = M_PI * r / rings, p = 2 * M_PI * s / segments;
      v << radius * std::sin(t) * std::cos(p) << " " << radius * std::cos(t) << " "
        << -radius * std::sin(t) * std::sin(p) << "\n";
      ++vertices;
    }
  if (!open) {
    v << 0 << " " << -radius << " " << 0 << "\n";
    ++vertices;
  }
  auto ring = [&](int r, int s) { return 1 + (r - 1) * segments + (s % segments); };
  auto face = [&](std::vector<int> idx) {
    if (reversed) std::reverse(idx.begin(), idx.end());
    f << idx.size();
    for (int i : idx) f << " " << i;
    f << "\n";
    ++faces;
  };
  for (int s = 0; s < segments; ++s) face({0, ring(1, s), ring(1, s + 1)});
  for (int r = 1; r < lastRing; ++r)
    for (int s = 0; s < segments; ++s)
      face({ring(r, s), ring(r + 1, s), ring(r + 1, s + 1), ring(r, s + 1)});
  if (!open)
    for (int s = 0; s < segments; ++s)
      face({ring(lastRing, s), vertices - 1, ring(lastRing, s + 1)});
  std::ostringstream out;
  out << "OFF\n" << vertices << " " << faces << " 0\n" << v.str() << f.str();
  return out.str();
}

// An OFF text with every facet's vertices in the other order (what follows the indices kept).
std::string ReversedOff(const std::string &text) {
  std::istringstream in(text);
  std::ostringstream out;
  std::string line;
  int vertices = -1, faces = 0, seen = 0;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string first;
    if (!(words >> first) || first[0] == '#' || vertices < 0 || seen < vertices) {
      if (vertices < 0 && !first.empty() && std::isdigit(static_cast<unsigned char>(first[0])))
        vertices = std::stoi(first), words >> faces;
      else if (vertices >= 0 && !first.empty() && first[0] != '#')
        ++seen;
      out << line << "\n";
      continue;
    }
    int n = std::stoi(first);
    std::vector<std::string> idx(n);
    for (std::string &i : idx) words >> i;
    std::string rest;
    std::getline(words, rest);
    out << n;
    for (int k = n - 1; k >= 0; --k) out << " " << idx[k];
    out << rest << "\n";
  }
  return out.str();
}

// A box from lo to hi, six quadrilaterals wound counter-clockwise seen from outside; with `flat`
// each face has corners of its own, as a file of flat faces gives them, so none is shaded round.
std::string BoxOff(const double lo[3], const double hi[3], bool flat = false) {
  const int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                           {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  auto corner = [&](int i) {
    std::ostringstream c;
    c << (i & 1 ? hi[0] : lo[0]) << " " << (i & 2 ? hi[1] : lo[1]) << " " << (i & 4 ? hi[2] : lo[2])
      << "\n";
    return c.str();
  };
  std::ostringstream out;
  out << "OFF\n" << (flat ? 24 : 8) << " 6 0\n";
  for (int i = 0; i < (flat ? 24 : 8); ++i) out << corner(flat ? faces[i / 4][i % 4] : i);
  for (int f = 0; f < 6; ++f) {
    out << 4;
    for (int k = 0; k < 4; ++k) out << " " << (flat ? 4 * f + k : faces[f][k]);
    out << "\n";
  }
  return out.str();
}

} // namespace

TEST_F(FirstPicture, RealObjectsOfEveryFormatAreWholeCentredAndFramed) {
  REQUIRE_REALWORLD();
  const Image empty = Empty();
  for (const char *file :
       {"byu/vtk-cow.byu", "byu/vtk-teapot.byu", "3ds/cge-p47d.3ds", "3ds/assimp-fels.3ds",
        "ply/vtk-horse.ply", "ply/trimesh-fuze.ply", "stl/assimp-Spider_binary.stl",
        "stl/trimesh-multibody.stl", "stl/numpystl-Cube-crlf.stl", "off/gv-office.off",
        "off/cgal-cactus.off", "wrl/vtk-v2-teapot.wrl", "obj/rabbit/rabbit.obj",
        "obj/motorBike.obj", "3mf/cube_gears.3mf", "3mf/sphere_logo.3mf"})
    ExpectFramed(Snap(RealWorld(file)), empty, file);
}

// Wound the other way round, a closed object is turned outward and an open one drawn on both
// sides: the picture is the same.
TEST_F(FirstPicture, AReversedCopyGivesTheSamePicture) {
  dir.write("ball.off", SphereOff(1));
  dir.write("ball-reversed.off", SphereOff(1, true));
  Image ball = Snap("ball.off");
  EXPECT_EQ(DiffPixels(ball, Snap("ball-reversed.off")), 0);
  ExpectFramed(ball, Empty(), "ball");

  // An open bowl: both sides drawn and lit. Its reversed quadrilaterals are split along their
  // other diagonals, which shades a few pixels apart, and no more.
  dir.write("bowl.off", SphereOff(1, false, true));
  dir.write("bowl-reversed.off", SphereOff(1, true, true));
  Image bowl = Snap("bowl.off"), back = Snap("bowl-reversed.off");
  int apart = 0;
  for (int y = 0; y < bowl.height; ++y)
    for (int x = 0; x < bowl.width; ++x) {
      const unsigned char *a = bowl.at(x, y), *b = back.at(x, y);
      apart += std::abs(a[0] - b[0]) > 8 || std::abs(a[1] - b[1]) > 8 || std::abs(a[2] - b[2]) > 8;
    }
  EXPECT_LT(apart, Outline(bowl, Empty()).pixels / 50);

  if (RealWorldMissing().empty()) {
    std::string cactus = ReadFile(RealWorld("off/cgal-cactus.off"));
    dir.write("cactus.off", cactus);
    dir.write("cactus-reversed.off", ReversedOff(cactus));
    EXPECT_EQ(DiffPixels(Snap("cactus.off"), Snap("cactus-reversed.off")), 0);
  }
}

// The faces the scene's lights miss still read against the black background.
TEST_F(FirstPicture, EveryVisibleFaceOfACubeIsLit) {
  const double lo[3] = {0, 0, 0}, hi[3] = {20, 20, 20};
  dir.write("cube.off", BoxOff(lo, hi, true));
  std::vector<std::string> cubes = {"cube.off"};
  if (RealWorldMissing().empty()) cubes.push_back(RealWorld("stl/numpystl-Cube-crlf.stl"));
  const Image empty = Empty();
  for (const std::string &cube : cubes) {
    Image shot = Snap(cube);
    ExpectFramed(shot, empty, cube);
    int dark = 0, object = 0;
    for (int y = 0; y < shot.height; ++y)
      for (int x = 0; x < shot.width; ++x) {
        const unsigned char *p = shot.at(x, y), *e = empty.at(x, y);
        if (p[0] == e[0] && p[1] == e[1] && p[2] == e[2]) continue;
        ++object;
        dark += std::max({p[0], p[1], p[2]}) < 40;
      }
    EXPECT_GT(object, 20000) << cube;
    EXPECT_LT(dark, object / 200) << cube;
  }
}

TEST_F(FirstPicture, ASphereIsRoundAtEveryWindowShape) {
  dir.write("ball.off", SphereOff(1));
  for (auto [w, h] : {std::pair{560, 525}, {600, 600}, {1000, 500}, {400, 700}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    Image empty = Empty(w, h), shot = Snap("ball.off", w, h);
    ExpectFramed(shot, empty, "ball");
    Silhouette s = Outline(shot, empty);
    EXPECT_NEAR(double(s.Width()) / s.Height(), 1, 0.02);
  }
}

// The object's size and place change nothing: the fit of a foreign format, and the view's framing
// of an AOFF object whose header places it as it is, whose header stays untouched.
TEST_F(FirstPicture, SmallAndLargeCopiesAreFramedAlike) {
  const double smallLo[3] = {0, 0, 0}, smallHi[3] = {0.02, 0.01, 0.005};
  const double largeLo[3] = {-500, 7000, 0}, largeHi[3] = {500, 7500, 250};
  dir.write("small.off", BoxOff(smallLo, smallHi));
  dir.write("large.off", BoxOff(largeLo, largeHi));
  const Image empty = Empty();
  Silhouette a = Outline(Snap("small.off"), empty), b = Outline(Snap("large.off"), empty);
  for (auto [p, q] : {std::pair{a.x0, b.x0}, {a.x1, b.x1}, {a.y0, b.y0}, {a.y1, b.y1}})
    EXPECT_NEAR(p, q, 1);

  const std::string header =
      "geometry indexed_poly fff %s.geom\nscale default fff 1 1 1\ntranslate default fff 0 0 0\n";
  Silhouette framed[2];
  int k = 0;
  for (double scale : {0.02, 1000.0}) {
    std::string stem = k ? "big" : "tiny";
    std::ostringstream geom;
    geom << "8 6 24\n";
    for (int i = 0; i < 8; ++i)
      geom << scale * (i & 1 ? 2 : 1) << " " << scale * (i & 2 ? 1.5 : 1) << " "
           << scale * (i & 4 ? 1.2 : 1) << "\n";
    geom << "4 1 3 4 2\n4 5 6 8 7\n4 1 2 6 5\n4 3 7 8 4\n4 1 5 7 3\n4 2 4 8 6\n";
    char text[200];
    std::snprintf(text, sizeof text, header.c_str(), stem.c_str());
    dir.write(stem + ".geom", geom.str());
    dir.write(stem + ".aoff", text);
    // The first load writes the normal files and names them in the header; the framing adds
    // nothing to it, on that load or the next.
    Image first = Snap(stem + ".geom");
    std::string before = ReadFile(dir.file(stem + ".aoff"));
    EXPECT_EQ(before.find("scale"), before.rfind("scale")) << before;
    EXPECT_EQ(before.find("translate"), before.rfind("translate")) << before;
    Image shot = Snap(stem + ".geom");
    EXPECT_EQ(DiffPixels(first, shot), 0);
    ExpectFramed(shot, empty, stem);
    framed[k++] = Outline(shot, empty);
    EXPECT_EQ(ReadFile(dir.file(stem + ".aoff")), before) << stem << ": the header was changed";
  }
  EXPECT_NEAR(framed[0].x0, framed[1].x0, 1);
  EXPECT_NEAR(framed[0].y1, framed[1].y1, 1);
  EXPECT_NEAR(framed[0].Width(), framed[1].Width(), 1);
}

// After a pan, a zoom and a turn (and the two-sided switch), r gives the first picture back, byte
// for byte; the sideways scroll buttons neither stop a spin nor move anything.
TEST(FirstPictureWindow, ResetBringsBackTheFirstPictureAndSidewaysScrollIsIgnored) {
  TempDir objects;
  objects.write("bowl.off", SphereOff(1, false, true));
  ViewerSession s({}, objects.file("bowl.off"));
  if (!s.x().ok()) GTEST_SKIP() << "no Xvfb";
  ASSERT_TRUE(s.ok()) << "no window";
  Image start = s.Capture();
  s.Drag(2, 280, 262, {{300, 270}, {330, 290}});
  s.Drag(3, 280, 262, {{280, 280}, {280, 300}});
  s.Drag(1, 280, 262, {{250, 240}, {230, 240}}); // ends in a straight line: no spin
  s.Key("c");
  Image moved = s.Capture();
  EXPECT_GT(DiffPixels(start, moved), 5000);
  s.Do({"key", "--window", s.window(), "r"});
  EXPECT_EQ(DiffPixels(start, s.CaptureSame(start)), 0);

  // Buttons 6 and 7 on a still object: nothing moves.
  s.Do({"mousemove", "--window", s.window(), "280", "262"});
  s.Do({"click", "6"});
  s.Do({"click", "7"});
  s.Settle();
  EXPECT_EQ(DiffPixels(start, s.Capture()), 0);
  // On a spinning one: it keeps spinning.
  s.Drag(1, 280, 262, {{290, 270}, {300, 280}, {310, 290}});
  s.Do({"click", "6"});
  s.Do({"click", "7"});
  s.Settle();
  Image one = s.Capture();
  EXPECT_GT(DiffPixels(one, s.CaptureChanged(one)), 0) << "the spin stopped";
  s.Key("Escape");
  EXPECT_EQ(s.Finish().status, 0);
}

// p saves the window's picture in the pictures folder under the object's name, never over a file,
// and says where; nothing is written beside the object.
TEST(FirstPictureWindow, PSavesThePictureWithoutReplacingAny) {
  TempDir pictures, home;
  pictures.write("cube-1.png", "not ours");
  ViewerSession s({}, "cube.geom",
                  {{"XDG_PICTURES_DIR", true, pictures.path()}, {"HOME", true, home.path()}});
  if (!s.x().ok()) GTEST_SKIP() << "no Xvfb";
  ASSERT_TRUE(s.ok()) << "no window";
  Image bare = s.Capture();
  s.Key("s"); // the picture as shown, overlays and all; a busy machine may draw it late
  Image shown = s.CaptureChanged(bare);
  std::vector<std::string> beside = ListDir(s.folder().path());
  s.Key("p");
  Image told = s.CaptureChanged(shown);
  s.Key("p");
  s.Key("Escape");
  RunResult r = s.Finish();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ListDir(pictures.path()),
            (std::vector<std::string>{"cube-1.png", "cube-2.png", "cube-3.png"}));
  EXPECT_EQ(ReadFile(pictures.file("cube-1.png")), "not ours");
  EXPECT_EQ(r.out, "Picture saved as " + pictures.file("cube-2.png") + "\nPicture saved as " +
                       pictures.file("cube-3.png") + "\n");
  Image saved = ReadPng(pictures.file("cube-2.png"));
  ASSERT_EQ(saved.width, shown.width);
  EXPECT_EQ(DiffPixels(saved, shown), 0);
  // The status line names the file at the window's foot.
  EXPECT_GT(CountPixels(told, Blue, 0, told.height - 25, told.width, told.height), 100);
  EXPECT_EQ(ListDir(s.folder().path()), beside);
}

// In a small window the status and help lines stay inside it, the help over a dark backdrop.
TEST(FirstPictureWindow, OverlaysFitASmallWindow) {
  ViewerSession s({"--size", "240x200"});
  if (!s.x().ok()) GTEST_SKIP() << "no Xvfb";
  ASSERT_TRUE(s.ok()) << "no window";
  Image start = s.Capture();
  s.Key("s");
  s.Key("h");
  Image both = s.CaptureChanged(start);
  ASSERT_EQ(both.width, 240);
  EXPECT_GT(CountPixels(both, Blue), 500);
  EXPECT_EQ(CountPixels(both, Blue, both.width - 3, 0, both.width, both.height), 0);
  EXPECT_EQ(CountPixels(both, Blue, 0, both.height - 3, both.width, both.height), 0);
  // Where the object was, the backdrop darkens it.
  int darkened = 0;
  for (int y = 0; y < both.height; ++y)
    for (int x = 0; x < both.width; ++x) {
      const unsigned char *a = start.at(x, y), *b = both.at(x, y);
      darkened += Pink(a) && !Blue(b) && b[0] < a[0] / 2;
    }
  EXPECT_GT(darkened, 200);
  s.Key("Escape");
  EXPECT_EQ(s.Finish().status, 0);
}
