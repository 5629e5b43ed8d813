#include "viewer/aoff/readAOFFObj.h"

#include "base/fatal.h"
#include "base/files.h"
#include "viewer/model/normalsObj.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

// Appends formatted text to a string; the canonical geometry can be large, so no streams.
static void Appendf(std::string &out, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
static void Appendf(std::string &out, const char *fmt, ...) {
  char buf[160];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof buf) {
    out.append(buf, static_cast<std::size_t>(n));
    return;
  }
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  va_start(ap, fmt);
  std::vsnprintf(&big[0], big.size(), fmt, ap);
  va_end(ap);
  out.append(big.data(), static_cast<std::size_t>(n));
}

static std::string CanonicalGeom(const AOFFValue &g) {
  std::string out;
  out.reserve(std::size_t(g.records) * 30 + g.indices.size() * 8 + std::size_t(g.polygons) * 4);
  Appendf(out, "%d\t%d\t%d\n", int(g.records), int(g.polygons), int(g.indices.size()));
  for (uint32_t v = 0; v < g.records; ++v)
    Appendf(out, "%.6f\t%.6f\t%.6f\n", g.Number(v, 0), g.Number(v, 1), g.Number(v, 2));
  std::size_t at = 0;
  for (uint32_t p = 0; p < g.polygons; ++p) {
    Appendf(out, "%d\t", g.sizes[p]);
    for (int32_t k = 0; k < g.sizes[p]; ++k) Appendf(out, "%d ", g.indices[at++]);
    out += '\n';
  }
  return out;
}

void processObj(const std::string &name) {
  AOFFFiles files;
  if (!AOFFFilesOf(name, files)) return;
  const std::string &headerPath = files.header, &geomPath = files.geom;

  if (!FileExistsAt(headerPath)) fatal(1, "File \"%s\" does not exist 4\n", headerPath.c_str());
  bool hasScale = false, hasTranslate = false, hasOffset = false;
  for (const std::string &chunk : ReadChunks(headerPath, 80)) {
    if (chunk.find("scale") != std::string::npos) hasScale = true;
    if (chunk.find("translate") != std::string::npos) hasTranslate = true;
    if (chunk.find("facet_offset") != std::string::npos) hasOffset = true;
  }

  AOFFValue g = ReadGeomFile(geomPath, "File \"%s\" does not exist 5\n");
  bool zeroIndex = false;
  for (int32_t i : g.indices)
    if (i == 0) {
      zeroIndex = true;
      break;
    }

  float s = 1, cx = 0, cy = 0, cz = 0, d = 0;
  // An object without vertices has no box to fit; it gets no scale or translate line. The box
  // is the object's own whether or not the header already holds its fit.
  if (g.records > 0) {
    float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
    for (uint32_t v = 0; v < g.records; ++v)
      for (int k = 0; k < 3; ++k) {
        float x = static_cast<float>(g.Number(v, k));
        lo[k] = std::fmin(lo[k], x);
        hi[k] = std::fmax(hi[k], x);
      }
    float e[3], c[3];
    for (int k = 0; k < 3; ++k) {
      e[k] = hi[k] - lo[k];
      c[k] = lo[k] + e[k] * 0.5f;
    }
    Part &part = *currentShape->part;
    part.bbox_min = Coord{lo[0], lo[1], lo[2]};
    part.bbox_max = Coord{hi[0], hi[1], hi[2]};
    part.center = Coord{c[0], c[1], c[2]};
    if (!hasScale || !hasTranslate) {
      float m = std::fmax(e[0], std::fmax(e[1], e[2]));
      s = FitScale(m);
      cx = c[0], cy = c[1], cz = c[2];
      d = std::sqrt(cx * cx + cy * cy + cz * cz);
    }
  }

  std::string lines;
  if (!hasOffset && zeroIndex) Appendf(lines, "facet_offset\t\tdefault\t\tf\t\t%d\n", 0);
  if (!hasScale && s != 1)
    Appendf(lines, "scale\t\t\t\tdefault\t\tfff\t\t%.6f %.6f %.6f\n", s, s, s);
  if (!hasTranslate && d > 1)
    Appendf(lines, "translate\t\t\tdefault\t\tfff\t\t%.6f %.6f %.6f\n", -cx, -cy, -cz);
  if (!lines.empty()) AppendToHeader(headerPath, lines, "Cannot open file %s for writting\n");

  if (g.indices.size() != g.total)
    ReplaceFile(geomPath, CanonicalGeom(g), "Cannot open file %s for writting\n", true);
}
