// The real program in its window on a private X server, driven by xdotool.
#include "support.h"
#include "window_support.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <regex>

namespace {

// Absolute position and size of a window as xwininfo reports them.
struct Geometry {
  int x = -1, y = -1, width = -1, height = -1;
};
Geometry WindowGeometry(const ViewerSession &s) {
  RunResult r = s.x().Run({"xwininfo", "-id", s.window()});
  Geometry g;
  std::smatch m;
  auto field = [&](const char *label) {
    std::regex re(std::string(label) + R"(:\s+(-?\d+))");
    return std::regex_search(r.out, m, re) ? std::stoi(m[1]) : -1;
  };
  g.x = field("Absolute upper-left X");
  g.y = field("Absolute upper-left Y");
  g.width = field("Width");
  g.height = field("Height");
  return g;
}

// Blue status pixels in the band of rows around a baseline `fromTop` rows below the top edge.
int TextPixels(const Image &img, int fromTop) {
  return CountPixels(img, Blue, 0, fromTop - 14, 300, fromTop + 5);
}

// The bounding box of the object's pixels.
struct Box {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
  int Width() const { return x1 - x0 + 1; }
  int Height() const { return y1 - y0 + 1; }
  double Shape() const { return double(Width()) / Height(); }
};
Box PinkBox(const Image &img) {
  Box b;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x)
      if (Pink(img.at(x, y)))
        b.x0 = std::min(b.x0, x), b.x1 = std::max(b.x1, x), b.y0 = std::min(b.y0, y),
        b.y1 = std::max(b.y1, y);
  return b;
}

#define START_SESSION(name, ...)                                                                   \
  ViewerSession name{__VA_ARGS__};                                                                 \
  if (!name.x().ok()) GTEST_SKIP() << "no Xvfb";                                                   \
  ASSERT_TRUE(name.ok()) << "no window"

} // namespace

TEST(Window, GeometryTitleFirstFrameAndEscape) {
  START_SESSION(s);
  Geometry g = WindowGeometry(s);
  EXPECT_EQ(g.width, 560);
  EXPECT_EQ(g.height, 525);
  EXPECT_EQ(g.x, 454);
  EXPECT_EQ(g.y, 233);
  RunResult name = s.Do({"getwindowname", s.window()});
  EXPECT_EQ(name.out, "Mirandel: " + s.objectName() + "\n");
  RunResult icon = s.x().Run({"xprop", "-id", s.window(), "WM_ICON_NAME"});
  EXPECT_NE(icon.out.find("\"Mirandel\""), std::string::npos) << icon.out;
  // Docks match the window to the desktop entry (StartupWMClass) by its class.
  RunResult cls = s.x().Run({"xprop", "-id", s.window(), "WM_CLASS"});
  EXPECT_EQ(cls.out, "WM_CLASS(STRING) = \"mirandel\", \"Mirandel\"\n");

  Image img = s.Capture();
  ASSERT_EQ(img.width, 560);
  // Diffuse light on (1.0, 0.2, 0.5) plus the scene ambient 0.2 x material ambient 0.2 = 0.04
  // (the ambient light itself is off): g and b follow r where no vertex saturates.
  for (auto [x, y] : {std::pair{280, 262}, {330, 250}}) {
    const unsigned char *p = img.at(x, y);
    ASSERT_GT(p[0], 60) << x << "," << y;
    double lit = p[0] - 10.2;
    EXPECT_NEAR(p[1], 0.2 * lit + 10.2, 3) << x << "," << y;
    EXPECT_NEAR(p[2], 0.5 * lit + 10.2, 3) << x << "," << y;
  }
  EXPECT_GT(CountPixels(img, Grey), 500); // the ground grids
  EXPECT_EQ(CountPixels(img, Blue), 0);   // no status text yet

  // A resize takes effect from the next frame and keeps the picture's proportions: the cube's
  // outline is as wide for its height as in the first frame, only smaller (the window is less
  // high), wherever the window is wider or taller than the first one.
  double firstShape = PinkBox(img).Shape();
  s.Do({"windowmove", "--sync", s.window(), "0", "0"});
  s.Do({"windowsize", "--sync", s.window(), "800", "400"});
  s.Settle();
  s.Key("s"); // draws a frame
  Image wide = s.Capture();
  ASSERT_EQ(wide.width, 800);
  ASSERT_EQ(wide.height, 400);
  EXPECT_NEAR(PinkBox(wide).Shape() / firstShape, 1, 0.03);
  EXPECT_NEAR(double(PinkBox(wide).Height()) / PinkBox(img).Height(), 400.0 / 525, 0.03);
  EXPECT_TRUE(Pink(wide.at(400, 200)));
  EXPECT_GT(CountPixels(wide, Grey, 600, 0, 800, 400), 100);
  EXPECT_GT(TextPixels(wide, 23), 50); // still 23 rows below the top
  s.Do({"windowsize", "--sync", s.window(), "400", "700"});
  s.Settle();
  s.Key("s");
  Image tall = s.Capture();
  ASSERT_EQ(tall.width, 400);
  EXPECT_NEAR(PinkBox(tall).Shape() / firstShape, 1, 0.03);
  EXPECT_EQ(TextPixels(tall, 23), 0); // the second s hid it again

  s.Key("Escape");
  RunResult r = s.Finish();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(Window, LongNameTitleKeepsItsEnd) {
  std::string stem(120, 'n');
  START_SESSION(s, {}, stem + ".geom");
  RunResult name = s.Do({"getwindowname", s.window()});
  std::string title = name.out.substr(0, name.out.find('\n'));
  EXPECT_EQ(title.size(), 79u);
  EXPECT_EQ(title.substr(0, 13), "Mirandel: ...");
  EXPECT_EQ(title.substr(title.size() - 6), "n.geom");
  s.Key("s"); // the status line is shortened the same way
  EXPECT_GT(CountPixels(s.Capture(), Blue), 100);
  s.Key("Escape");
  EXPECT_EQ(s.Finish().status, 0);
}

TEST(Window, StatusTextToggledByLowerCaseS) {
  START_SESSION(s);
  s.Key("S"); // upper case does nothing
  EXPECT_EQ(CountPixels(s.Capture(), Blue), 0);
  s.Key("s");
  Image shown = s.Capture();
  // Baselines 23, 41 and 59 rows below the top, from x = 5.
  EXPECT_GT(TextPixels(shown, 23), 50);
  EXPECT_GT(TextPixels(shown, 41), 50);
  EXPECT_GT(TextPixels(shown, 59), 50);
  EXPECT_EQ(CountPixels(shown, Blue, 0, 0, 5, 525), 0);
  EXPECT_EQ(CountPixels(shown, Blue, 0, 65, 560, 525), 0);
  s.Key("s");
  EXPECT_EQ(CountPixels(s.Capture(), Blue), 0);
  s.Key("Escape");
  EXPECT_EQ(s.Finish().status, 0);
}

TEST(Window, TurnSpinStopAndReset) {
  START_SESSION(s);
  Image start = s.Capture();
  // A turn released while still moving diagonally keeps spinning.
  s.Drag(1, 280, 262, {{290, 270}, {300, 280}, {310, 290}});
  Image a = s.Capture();
  s.Settle(300);
  Image b = s.Capture();
  EXPECT_GT(DiffPixels(start, a), 1000);
  EXPECT_GT(DiffPixels(a, b), 1000) << "not spinning";
  // Hiding the window stops it.
  s.Do({"windowunmap", "--sync", s.window()});
  s.Do({"windowmap", "--sync", s.window()});
  s.Settle();
  Image hidden = s.Capture();
  s.Settle(300);
  EXPECT_EQ(DiffPixels(hidden, s.Capture()), 0) << "spinning after a visibility change";
  s.Drag(1, 280, 262, {{290, 270}, {300, 280}, {310, 290}});
  // A click stops it.
  s.Drag(1, 100, 100, {});
  Image c = s.Capture();
  s.Settle(300);
  EXPECT_EQ(DiffPixels(c, s.Capture()), 0) << "still spinning";
  // A turn whose last step is purely horizontal leaves no spin.
  s.Drag(1, 280, 262, {{300, 280}, {330, 280}});
  Image d = s.Capture();
  s.Settle(300);
  EXPECT_EQ(DiffPixels(d, s.Capture()), 0);
  // R restores the first frame.
  s.Key("R");
  EXPECT_EQ(DiffPixels(start, s.Capture()), 0);
  s.Drag(1, 280, 262, {{250, 240}, {230, 240}});
  s.Key("r");
  EXPECT_EQ(DiffPixels(start, s.Capture()), 0);
  // R while spinning restores the orientation, and the spin goes on from there.
  s.Drag(1, 280, 262, {{290, 270}, {300, 280}});
  s.Key("R");
  Image e = s.Capture();
  s.Settle(300);
  EXPECT_GT(DiffPixels(e, s.Capture()), 1000);
  s.Key("Escape");
  EXPECT_EQ(s.Finish().status, 0);
}

TEST(Window, PanWithMiddleOrShiftLeftZoomWithRightResetKeepsPan) {
  START_SESSION(s);
  Image start = s.Capture();
  // Distance from the middle to the cube's lit left face on one row: the picture's scale.
  auto reach = [](const Image &img) {
    int x = 0;
    while (x < img.width && !Pink(img.at(x, 262))) ++x;
    return 280.0 - x;
  };
  double sizeStart = reach(start);
  ASSERT_GT(sizeStart, 80);
  // Right drag up shrinks (0.95 a step), down enlarges (1.05 a step).
  s.Drag(3, 280, 262, {{280, 240}, {280, 220}, {280, 200}});
  // Three motion events, three steps: 0.95^3 of the size.
  EXPECT_NEAR(reach(s.Capture()) / sizeStart, 0.857, 0.03);
  s.Key("R");
  s.Drag(3, 280, 262, {{280, 280}, {280, 300}, {280, 320}});
  EXPECT_NEAR(reach(s.Capture()) / sizeStart, 1.158, 0.03);
  s.Key("R");
  EXPECT_EQ(DiffPixels(start, s.Capture()), 0);

  // Middle drag to the right: the object follows the pointer, pixel for pixel.
  Box before = PinkBox(start);
  s.Drag(2, 280, 262, {{300, 262}, {330, 262}});
  Image panned = s.Capture();
  EXPECT_GT(DiffPixels(start, panned), 1000);
  EXPECT_NEAR(PinkBox(panned).x0 - before.x0, 50, 2);
  // R brings back the first picture, the pan undone.
  s.Key("R");
  EXPECT_EQ(DiffPixels(start, s.CaptureSame(start)), 0);
  // Shift + left pans instead of turning.
  // Through the server's own key state, so the button event carries the modifier.
  s.Do({"keydown", "shift"});
  s.Drag(1, 330, 262, {{300, 262}, {280, 262}});
  s.Do({"keyup", "shift"});
  s.Settle();
  EXPECT_NEAR(PinkBox(s.Capture()).x0 - before.x0, -50, 2);
  s.Key("r");
  EXPECT_EQ(DiffPixels(start, s.CaptureSame(start)), 0);
  s.Key("Escape");
  EXPECT_EQ(s.Finish().status, 0);
}

TEST(Window, DisplayModeKeysWheelAndReset) {
  START_SESSION(s);
  Image start = s.Capture();
  // The middle of the cube's outline: all object in the first picture.
  Box cube = PinkBox(start);
  ASSERT_GT(cube.Width(), 150);
  auto middle = [&](const Image &img, bool (*pred)(const unsigned char *)) {
    return CountPixels(img, pred, cube.x0 + cube.Width() / 4, cube.y0 + cube.Height() / 4,
                       cube.x1 - cube.Width() / 4, cube.y1 - cube.Height() / 4);
  };
  const int middleArea = (cube.Width() / 2) * (cube.Height() / 2);
  EXPECT_EQ(middle(start, Black), 0);
  const int startPink = CountPixels(start, Pink);
  // Unbroken edge lines in sight (six round the outline, three inside) cover about the outline
  // box's perimeter; lines half hidden by the facets they lie on come to far less.
  const int perimeter = 2 * (cube.Width() + cube.Height()) * 9 / 10;
  // Sends a key and waits for the picture to change, or to be the first one again.
  Image shown = start;
  auto key = [&](const char *k) {
    s.Do({"key", "--window", s.window(), k});
    return shown = s.CaptureChanged(shown);
  };
  auto backToStart = [&](const char *k) {
    s.Do({"key", "--window", s.window(), k});
    shown = s.CaptureSame(start);
    return DiffPixels(start, shown);
  };

  // w: the facets become their outlines, the background shows through; w again fills them.
  Image wire = key("w");
  EXPECT_GT(middle(wire, Black), middleArea / 2);
  EXPECT_GT(CountPixels(wire, Pink), 200); // the lines themselves
  EXPECT_EQ(backToStart("w"), 0);

  // f: one colour per facet; the object stays whole.
  Image flat = key("f");
  EXPECT_GT(DiffPixels(start, flat), 5000);
  EXPECT_EQ(middle(flat, Black), 0);
  EXPECT_EQ(backToStart("f"), 0);

  // e and n: edge and normal lines over the object, each off again on its own key.
  EXPECT_EQ(CountPixels(start, Green), 0);
  EXPECT_EQ(CountPixels(start, Yellow), 0);
  Image edges = key("e");
  EXPECT_GT(CountPixels(edges, Green), perimeter);
  Image both = key("n");
  EXPECT_GT(CountPixels(both, Yellow), 50);
  EXPECT_GT(CountPixels(both, Green), perimeter);
  Image normals = key("e");
  EXPECT_EQ(CountPixels(normals, Green), 0);
  EXPECT_GT(CountPixels(normals, Yellow), 50);
  EXPECT_EQ(backToStart("n"), 0);

  // g: the ground goes, the object stays.
  Image bare = key("g");
  EXPECT_EQ(CountPixels(bare, Grey), 0);
  EXPECT_NEAR(CountPixels(bare, Pink), startPink, startPink / 100);
  EXPECT_EQ(backToStart("g"), 0);

  // h: the help, in the status text's colour at the top (where no status lines are shown); h
  // again removes it.
  EXPECT_EQ(CountPixels(start, Blue), 0);
  Image help = key("h");
  EXPECT_GT(CountPixels(help, Blue, 0, 0, 560, 180), 1500);
  EXPECT_EQ(CountPixels(help, Blue, 0, 180, 560, 525), 0);
  EXPECT_EQ(backToStart("h"), 0);

  // The wheel zooms by a right-drag step: away from the user 1.05, towards 0.95.
  s.Do({"mousemove", "--window", s.window(), "280", "262"});
  auto wheel = [&](int xButton) {
    s.Do({"click", std::to_string(xButton)});
    return shown = s.CaptureChanged(shown);
  };
  EXPECT_NEAR(double(PinkBox(wheel(4)).Width()) / cube.Width(), 1.05, 0.015);
  wheel(5);
  EXPECT_NEAR(double(PinkBox(wheel(5)).Width()) / cube.Width(), 1.05 * 0.95 * 0.95, 0.015);

  // Everything at once, and a turn: r brings back the first picture.
  for (const char *k : {"w", "f", "e", "n", "g", "h", "c"}) key(k);
  s.Drag(1, 280, 262, {{250, 240}, {230, 240}});
  EXPECT_GT(DiffPixels(start, s.Capture()), 5000);
  EXPECT_GT(CountPixels(s.Capture(), Blue), 1500);
  EXPECT_EQ(backToStart("r"), 0);
  // Each mode starts over from the first picture's.
  EXPECT_GT(CountPixels(key("e"), Green), perimeter);
  s.Key("Escape");
  RunResult r = s.Finish();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

TEST(Window, TwoSidedDrawingFillsTheAircraftsStripes) {
  REQUIRE_REALWORLD();
  // Facets wound both ways: the first picture draws both sides; with back faces culled (c) the
  // fuselage shows stripes of background.
  START_SESSION(s, {}, RealWorld("3ds/cge-p47d.3ds"));
  Image start = s.Capture();
  s.Key("c");
  Image culled = s.CaptureChanged(start);
  int emptied = 0, coloured = 0, filled = 0;
  for (int y = 0; y < start.height; ++y)
    for (int x = 0; x < start.width; ++x) {
      const unsigned char *was = start.at(x, y), *now = culled.at(x, y);
      if (!Black(was) && Black(now)) {
        ++emptied;
        // In the facets' own colours (mostly olive), not the grey of a side without material.
        coloured += std::abs(was[0] - was[1]) >= 8 || std::abs(was[1] - was[2]) >= 8;
      }
      filled += Black(was) && !Black(now);
    }
  EXPECT_GT(emptied, 3000);
  EXPECT_GT(coloured, emptied / 2);
  EXPECT_LT(filled, 100);
  s.Key("c");
  EXPECT_EQ(DiffPixels(start, s.CaptureSame(start)), 0);
  s.Key("c");
  s.CaptureChanged(start);
  s.Key("r");
  EXPECT_EQ(DiffPixels(start, s.CaptureSame(start)), 0);
  s.Key("Escape");
  EXPECT_EQ(s.Finish().status, 0);
}

TEST(Window, VerboseNamesTheStructuresInOrder) {
  START_SESSION(s, {"-v"});
  s.Key("Escape");
  RunResult r = s.Finish();
  EXPECT_EQ(r.status, 0);
  std::string lists = "top\tstructure id = 8\n"
                      "empty\tstructure id = 0\n"
                      "ground\tstructure id = 2\n"
                      "shadow\tstructure id = 3\n"
                      "edge\tstructure id = 5\n"
                      "normal\tstructure id = 6\n"
                      "object\tstructure id = 7\n";
  ASSERT_GE(r.out.size(), lists.size());
  EXPECT_EQ(r.out.substr(r.out.size() - lists.size()), lists);
  EXPECT_EQ(r.out.find("FileName = " + s.objectName() + "\n"), 0u);
}

TEST(Window, SnapshotDrawsTheFirstFrame) {
  XServer x;
  if (!x.ok()) GTEST_SKIP() << "no Xvfb";
  TempDir dir;
  std::string name = WriteCubeObject(dir);
  Env env{x.env(), {"OBJ_PATH", true, dir.path()}, {"ASAN_OPTIONS", true, "detect_leaks=0"}};
  RunResult r = RunMirandel({"--snapshot", dir.file("plain.png"), "-in", name}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  Image plain = ReadPng(dir.file("plain.png"));
  ASSERT_EQ(plain.width, 560);
  ASSERT_EQ(plain.height, 525);
  EXPECT_TRUE(Pink(plain.at(280, 262)));
  EXPECT_EQ(CountPixels(plain, Blue), 0);

  r = RunMirandel({"--snapshot", dir.file("status.png"), "--status", "-in", name}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  Image status = ReadPng(dir.file("status.png"));
  EXPECT_GT(TextPixels(status, 23), 50);
  EXPECT_GT(TextPixels(status, 59), 50);

  // A file that cannot be written is a failure, not a silent success.
  r = RunMirandel({"--snapshot", dir.file("no/such/dir.png"), "-in", name}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no/such/dir.png"), std::string::npos) << r.err;
}
