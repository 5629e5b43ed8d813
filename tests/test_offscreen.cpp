// Snapshots without a display: drawn off-screen, the same picture as the window's.
#include "support.h"
#include "window_support.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// A display number nobody serves: no socket and no lock file.
std::string DeadDisplay() {
  for (int n = 917;; ++n) {
    std::string x = std::to_string(n);
    if (!FileExists("/tmp/.X11-unix/X" + x) && !FileExists("/tmp/.X" + x + "-lock")) return ":" + x;
  }
}

// The largest difference of one colour channel between two pictures, and how many pixels differ
// by more than `tolerance` in some channel.
struct Difference {
  int worst = 0;
  int pixels = 0;
};
Difference Compare(const Image &a, const Image &b, int tolerance) {
  Difference d;
  for (std::size_t i = 0; i + 2 < a.rgb.size() && i + 2 < b.rgb.size(); i += 3) {
    int most = 0;
    for (int k = 0; k < 3; ++k) most = std::max(most, std::abs(a.rgb[i + k] - b.rgb[i + k]));
    d.worst = std::max(d.worst, most);
    d.pixels += most > tolerance;
  }
  return d;
}

// Rasterisers may round an edge or a shade differently; anything more is another picture.
void ExpectSamePicture(const Image &window, const Image &offscreen, const std::string &what) {
  ASSERT_EQ(offscreen.width, window.width) << what;
  ASSERT_EQ(offscreen.height, window.height) << what;
  Difference d = Compare(window, offscreen, 24);
  EXPECT_LE(d.pixels, window.width * window.height / 500) << what << ", worst " << d.worst;
  EXPECT_GT(CountPixels(offscreen, Pink), 1000) << what;
  EXPECT_GT(CountPixels(offscreen, Grey), 200) << what << ": the ground";
}

class Offscreen : public ::testing::Test {
protected:
  void SetUp() override { dir.write("torus.geom", ReadFile(SourcePath("samples/torus.geom"))); }
  // The snapshot of the torus with `extra` options; DISPLAY as `display` says. Off-screen the
  // leak check runs as in any run; the window's toolkit keeps what it cannot attribute.
  RunResult Snapshot(const EnvChange &display, const std::string &png,
                     const std::vector<std::string> &extra = {}, bool window = false) {
    std::vector<std::string> args{"--snapshot", dir.file(png)};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {"-in", "torus.geom"});
    Env env{display, {"OBJ_PATH", true, dir.path()}};
    if (window) env.push_back({"ASAN_OPTIONS", true, "detect_leaks=0"});
    return RunMirandel(args, env);
  }
  TempDir dir;
};

} // namespace

TEST_F(Offscreen, SnapshotWithoutADisplayIsTheWindowsPicture) {
  XServer x;
  if (!x.ok()) GTEST_SKIP() << "no Xvfb";
  const EnvChange noDisplays[] = {
      Unset("DISPLAY"), {"DISPLAY", true, ""}, {"DISPLAY", true, DeadDisplay()}};
  struct Size {
    std::vector<std::string> option;
    int width, height;
  };
  // The window takes the size asked for as the picture does; without one both are 560 x 525 on
  // the test server's 1024 x 768 screen.
  const Size sizes[] = {
      {{}, 560, 525}, {{"--size", "300x200"}, 300, 200}, {{"--size", "257"}, 257, 257}};
  for (const Size &size : sizes) {
    std::string what = size.option.empty() ? "default size" : size.option[1];
    RunResult r = Snapshot(x.env(), "window.png", size.option, true);
    ASSERT_EQ(r.status, 0) << what << ": " << r.err;
    Image window = ReadPng(dir.file("window.png"));
    ASSERT_EQ(window.width, size.width) << what;
    ASSERT_EQ(window.height, size.height) << what;
    for (const EnvChange &display : noDisplays) {
      std::string how = what + ", DISPLAY " + (display.set ? "'" + display.value + "'" : "unset");
      unlink(dir.file("offscreen.png").c_str());
      auto start = std::chrono::steady_clock::now();
      r = Snapshot(display, "offscreen.png", size.option);
      double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      EXPECT_EQ(r.status, 0) << how << ": " << r.err;
      EXPECT_EQ(r.err, "") << how;
      // A display that is not there is given up at once, not after a wait.
      EXPECT_LT(seconds, 30) << how;
      ExpectSamePicture(window, ReadPng(dir.file("offscreen.png")), how);
    }
  }
}

TEST_F(Offscreen, StatusTextNeedsADisplay) {
  struct Case {
    EnvChange display;
    std::string message;
  };
  std::string dead = DeadDisplay();
  const Case cases[] = {
      {Unset("DISPLAY"), "--status: the status text needs a display, and DISPLAY names none\n"},
      {{"DISPLAY", true, dead},
       "--status: the status text needs a display, and DISPLAY=" + dead + " cannot be used\n"},
  };
  for (const Case &c : cases) {
    RunResult r = Snapshot(c.display, "status.png", {"--status"});
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.err, c.message);
    EXPECT_FALSE(FileExists(dir.file("status.png")));
  }
}

TEST_F(Offscreen, SizeTakesOneOrTwoSidesWithinBounds) {
  struct Case {
    const char *value;
    int width, height; // 0: refused
  };
  const Case cases[] = {
      {"1", 1, 1},    {"40x7", 40, 7}, {"4096x2", 4096, 2}, {"0", 0, 0},           {"4097", 0, 0},
      {"20x0", 0, 0}, {"x20", 0, 0},   {"20x", 0, 0},       {"-5", 0, 0},          {"5x5x5", 0, 0},
      {"1e3", 0, 0},  {"", 0, 0},      {" 20", 0, 0},       {"99999999999", 0, 0},
  };
  for (const Case &c : cases) {
    unlink(dir.file("sized.png").c_str());
    RunResult r = Snapshot(Unset("DISPLAY"), "sized.png", {"--size", c.value});
    if (c.width == 0) {
      EXPECT_EQ(r.status, 1) << c.value;
      EXPECT_EQ(r.err,
                std::string("--size ") + c.value +
                    ": give WIDTHxHEIGHT, or one number for a square, each from 1 to 4096\n");
      continue;
    }
    EXPECT_EQ(r.status, 0) << c.value << ": " << r.err;
    Image img = ReadPng(dir.file("sized.png"));
    EXPECT_EQ(img.width, c.width) << c.value;
    EXPECT_EQ(img.height, c.height) << c.value;
  }
}
