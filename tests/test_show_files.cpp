// Files as people write them look right in the window: the first frame of the real program.
#include "support.h"
#include "window_support.h"

#include <gtest/gtest.h>
#include <algorithm>

namespace {

Image Snapshot(const XServer &x, const TempDir &dir, const std::string &object) {
  std::string png = dir.file(object + ".png");
  RunResult r =
      RunMirandel({"--snapshot", png, "-in", object}, {x.env(),
                                                       {"OBJ_PATH", true, dir.path()},
                                                       Unset("WRL2GEOM_COMMAND"),
                                                       {"ASAN_OPTIONS", true, "detect_leaks=0"}});
  EXPECT_EQ(r.status, 0) << object << ": " << r.err;
  return ReadPng(png);
}

} // namespace

// An L-shaped face listed from a corner that cannot see the whole face: drawn as one polygon it
// spills into the L's notch; the converter's triangles keep the notch empty.
// Vertex colours written as bytes (0-255) shade like colours written as fractions instead of
// washing out to a white silhouette.
TEST(ShowFiles, ConcaveFacesAndByteColours) {
  XServer x;
  if (!x.ok()) GTEST_SKIP() << "no Xvfb";
  TempDir dir;
  dir.write("l_shape.wrl",
            "#VRML V2.0 utf8\n"
            "Shape { geometry IndexedFaceSet {\n"
            "  coord Coordinate { point [ 0 0 0, 2 0 0, 2 1 0, 1 1 0, 1 2 0, 0 2 0 ] }\n"
            "  coordIndex [ 1 2 3 4 5 0 -1 ]\n"
            "} }\n");
  Image l = Snapshot(x, dir, "l_shape.wrl");
  ASSERT_FALSE(l.empty());
  int x0 = l.width, y0 = l.height, x1 = -1, y1 = -1;
  for (int y = 0; y < l.height; ++y)
    for (int i = 0; i < l.width; ++i)
      if (Pink(l.at(i, y)))
        x0 = std::min(x0, i), x1 = std::max(x1, i), y0 = std::min(y0, y), y1 = std::max(y1, y);
  ASSERT_GT(x1 - x0, 100);
  ASSERT_GT(y1 - y0, 100);
  int cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
  // The notch is the upper right quarter of the face's box; the arms fill the lower left.
  int notch = CountPixels(l, Pink, cx + 5, y0, x1 + 1, cy);
  int arms = CountPixels(l, Pink, x0, cy, cx, y1 + 1);
  EXPECT_LT(notch, (x1 - cx) * (cy - y0) / 50) << "face spills into the notch";
  EXPECT_GT(arms, (cx - x0) * (y1 - cy) / 3);

  std::string cube = "COFF\n8 6 0\n";
  for (int i = 0; i < 8; ++i)
    cube += std::to_string(i & 1 ? 1 : -1) + " " + std::to_string(i & 2 ? 1 : -1) + " " +
            std::to_string(i & 4 ? 1 : -1) + " 192 192 192 255\n";
  cube += "4 0 2 3 1\n4 4 5 7 6\n4 0 1 5 4\n4 2 6 7 3\n4 1 3 7 5\n4 0 4 6 2\n";
  dir.write("byte_colours.off", cube);
  Image c = Snapshot(x, dir, "byte_colours.off");
  ASSERT_FALSE(c.empty());
  // The cube's middle: lit grey, at most the light's share of 192/255, never saturated.
  int brightest = 0, darkest = 255;
  for (int y = 222; y < 302; ++y)
    for (int i = 240; i < 320; ++i) {
      const unsigned char *p = c.at(i, y);
      int m = std::max({p[0], p[1], p[2]});
      brightest = std::max(brightest, m), darkest = std::min(darkest, m);
    }
  EXPECT_LT(brightest, 220);
  EXPECT_GT(darkest, 40);
}
