// Shapes built in code and one X server per test process for drawing them in-process.
#pragma once

#include "viewer/model/shape.h"
#include "support.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The X server shared by every in-process drawing test (GLUT connects once per process); DISPLAY
// points at it. Null when Xvfb cannot start.
const XServer *SharedDisplay();

// Makes a Shape of the given points and facets current and runs the load steps after reading
// (orientation, normals, fit, adjacency, render defaults), as a reader's load would.
Part &MakeShape(const std::vector<Coord> &points, const std::vector<std::vector<uint32_t>> &faces,
                const std::string &name = "hand.geom");
// A cube of side 2 around the origin, facets counter-clockwise seen from outside.
Part &MakeCube();
// Sets up the window for the current Shape, writes its first frame and reads it back.
Image DrawFrame();

// Writes the sample cube into `dir` under `name` and returns the name.
std::string WriteCubeObject(const TempDir &dir, const std::string &name = "cube.geom");

// The viewer running on its own X server with one object, driven by xdotool: the sample cube
// under `objectName`, or the file itself when `objectName` is a full path.
class ViewerSession {
public:
  explicit ViewerSession(const std::vector<std::string> &extraArgs = {},
                         const std::string &objectName = "cube.geom", const Env &extraEnv = {});
  ~ViewerSession();
  bool ok() const { return !window_.empty(); }
  const XServer &x() const { return x_; }
  const std::string &window() const { return window_; }
  const std::string &objectName() const { return name_; }
  Image Capture() const { return CaptureWindow(x_, window_); }
  // xdotool with the arguments.
  RunResult Do(const std::vector<std::string> &args) const;
  void Key(const std::string &key) const;
  // Moves to (x, y) in the window, presses `button`, moves through `path`, releases.
  void Drag(int button, int x, int y, const std::vector<std::pair<int, int>> &path) const;
  // Waits for the program to end.
  RunResult Finish(double timeoutSeconds = 30);
  // The folder the object's name is looked up in (OBJ_PATH).
  const TempDir &folder() const { return dir_; }
  // Lets the program handle what was sent and draw.
  void Settle(int ms = 400) const;
  // Captures until the picture differs from `from` (a key took effect), or until it equals `to`,
  // for at most `timeoutSeconds`; the last capture. A loaded machine may draw late.
  Image CaptureChanged(const Image &from, double timeoutSeconds = 5) const;
  Image CaptureSame(const Image &to, double timeoutSeconds = 5) const;

private:
  Image CaptureUntil(const std::function<bool(const Image &)> &done, double timeoutSeconds) const;
  XServer x_;
  TempDir dir_;
  std::string name_;
  std::unique_ptr<Child> child_;
  std::string window_;
};

// Pixel tests shared by the drawing tests.
bool Pink(const unsigned char *p);
bool Blue(const unsigned char *p); // the status text colour
bool Grey(const unsigned char *p);
bool Green(const unsigned char *p);  // the edge lines
bool Yellow(const unsigned char *p); // the normal lines
bool Black(const unsigned char *p);  // the background
int CountPixels(const Image &img, bool (*pred)(const unsigned char *), int x0 = 0, int y0 = 0,
                int x1 = -1, int y1 = -1);
// Number of pixels that differ between two images of one size.
int DiffPixels(const Image &a, const Image &b);
