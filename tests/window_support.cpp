#include "window_support.h"

#include "graphics.h"
#include "normalsObj.h"
#include "shell.h"

#include <cstdlib>
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
  if (!getenv("KEEP_FRAME")) unlink(path.c_str());
  return img;
}
