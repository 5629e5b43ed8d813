#include "window_support.h"

#include "viewer/graphics/graphics.h"
#include "viewer/model/normalsObj.h"
#include "viewer/model/orientObj.h"
#include "viewer/shell/shell.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

const XServer *SharedDisplay() {
  static XServer server;
  if (!server.ok()) return nullptr;
  setenv("DISPLAY", server.display().c_str(), 1);
  return &server;
}

Part &MakeShape(const std::vector<Coord> &points, const std::vector<std::vector<uint32_t>> &faces,
                const std::string &name) {
  ReleaseAll();
  objName = name;
  CreateShape(kTypeOFF);
  Part &p = *currentShape->part;
  p.vertices = points;
  p.vertex_count = static_cast<uint32_t>(points.size());
  for (const auto &f : faces) {
    uint32_t *dst = AddFacet(p, static_cast<uint32_t>(f.size()), "test", __LINE__);
    std::copy(f.begin(), f.end(), dst);
  }
  p.facet_count = static_cast<uint32_t>(faces.size());
  p.facet_offset = 0;
  ApplyOrientation(p, PlanOrientation(p));
  ComputeFacetNormals(p);
  ComputeVertexNormals(p);
  FitObject(p);
  BuildVertexFacetLists(p);
  InitRenderSettings();
  return p;
}

Part &MakeCube() {
  return MakeShape(
      {{-1, -1, -1},
       {1, -1, -1},
       {1, 1, -1},
       {-1, 1, -1},
       {-1, -1, 1},
       {1, -1, 1},
       {1, 1, 1},
       {-1, 1, 1}},
      {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {2, 3, 7, 6}, {1, 2, 6, 5}, {0, 4, 7, 3}});
}

Image DrawFrame() {
  SetupGraphics();
  std::string path = "/tmp/mirandel-frame-" + std::to_string(getpid()) + ".png";
  WriteSnapshot(path);
  Image img = ReadPng(path);
  unlink(path.c_str());
  return img;
}

std::string WriteCubeObject(const TempDir &dir, const std::string &name) {
  // The bundled sample, alone: loading gives it its header and normal files in `dir`.
  dir.write(name, ReadFile(SourcePath("samples/cube.geom")));
  return name;
}

ViewerSession::ViewerSession(const std::vector<std::string> &extraArgs,
                             const std::string &objectName, const Env &extraEnv) {
  if (!x_.ok()) return;
  // A full path is shown from where it is; a bare name gets the sample cube.
  name_ = objectName[0] == '/' ? objectName : WriteCubeObject(dir_, objectName);
  std::vector<std::string> argv{MirandelBin()};
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  argv.push_back("-in");
  argv.push_back(name_);
  Env env{x_.env(), {"OBJ_PATH", true, dir_.path()}, {"ASAN_OPTIONS", true, "detect_leaks=0"}};
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  child_.reset(new Child(argv, env));
  window_ = x_.WaitForWindow("^Mirandel: ", 60);
  if (!window_.empty()) Settle();
}

ViewerSession::~ViewerSession() {
  child_.reset();
}

RunResult ViewerSession::Do(const std::vector<std::string> &args) const {
  std::vector<std::string> argv{"xdotool"};
  argv.insert(argv.end(), args.begin(), args.end());
  return x_.Run(argv);
}

void ViewerSession::Key(const std::string &key) const {
  Do({"key", "--window", window_, key});
  Settle();
}

void ViewerSession::Drag(int button, int x, int y,
                         const std::vector<std::pair<int, int>> &path) const {
  std::string b = std::to_string(button);
  Do({"mousemove", "--window", window_, std::to_string(x), std::to_string(y)});
  Settle(100);
  Do({"mousedown", b});
  Settle(100);
  for (const auto &p : path) {
    Do({"mousemove", "--window", window_, std::to_string(p.first), std::to_string(p.second)});
    Settle(60);
  }
  Do({"mouseup", b});
  Settle();
}

RunResult ViewerSession::Finish(double timeoutSeconds) {
  return child_->Wait(timeoutSeconds);
}

void ViewerSession::Settle(int ms) const {
  usleep(ms * 1000);
}

Image ViewerSession::CaptureUntil(const std::function<bool(const Image &)> &done,
                                  double timeoutSeconds) const {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  Image img = Capture();
  while (!done(img) && std::chrono::steady_clock::now() < end) {
    Settle(200);
    img = Capture();
  }
  return img;
}

Image ViewerSession::CaptureChanged(const Image &from, double timeoutSeconds) const {
  return CaptureUntil([&](const Image &img) { return DiffPixels(from, img) != 0; }, timeoutSeconds);
}

Image ViewerSession::CaptureSame(const Image &to, double timeoutSeconds) const {
  return CaptureUntil([&](const Image &img) { return DiffPixels(to, img) == 0; }, timeoutSeconds);
}

bool Pink(const unsigned char *p) {
  return p[0] > 30 && p[0] > p[1] + 20 && p[2] > p[1];
}
bool Blue(const unsigned char *p) {
  return p[0] < 40 && p[1] > 90 && p[1] < 170 && p[2] > 200;
}
bool Grey(const unsigned char *p) {
  return p[0] > 100 && p[0] == p[1] && p[1] == p[2];
}
bool Green(const unsigned char *p) {
  return p[1] > 200 && p[0] < 60 && p[2] < 60;
}
bool Yellow(const unsigned char *p) {
  return p[0] > 200 && p[1] > 200 && p[2] < 60;
}
bool Black(const unsigned char *p) {
  return p[0] == 0 && p[1] == 0 && p[2] == 0;
}

int CountPixels(const Image &img, bool (*pred)(const unsigned char *), int x0, int y0, int x1,
                int y1) {
  if (x1 < 0) x1 = img.width;
  if (y1 < 0) y1 = img.height;
  int n = 0;
  for (int y = y0; y < y1 && y < img.height; ++y)
    for (int x = x0; x < x1 && x < img.width; ++x) n += pred(img.at(x, y));
  return n;
}

int DiffPixels(const Image &a, const Image &b) {
  if (a.width != b.width || a.height != b.height) return -1;
  int n = 0;
  for (size_t i = 0; i < a.rgb.size(); i += 3)
    n += a.rgb[i] != b.rgb[i] || a.rgb[i + 1] != b.rgb[i + 1] || a.rgb[i + 2] != b.rgb[i + 2];
  return n;
}
