#include "window_support.h"

#include "graphics.h"
#include "normalsObj.h"
#include "shell.h"

#include <cstdlib>
#include <unistd.h>

// The sanitizer's leak check, when it is linked in.
extern "C" void __lsan_disable() __attribute__((weak));

const XServer *SharedDisplay() {
  // The graphics libraries keep allocations past exit in modules unloaded by then, which the leak
  // check can neither attribute nor suppress: a drawing test process does without it.
  static bool once = [] {
    if (__lsan_disable) __lsan_disable();
    return true;
  }();
  (void)once;
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
