// The display lists: ground grids, the object and its shadow, edge and normal overlays.
//
// A million-facet object must stay fluid, so runs of triangles and of quadrilaterals go into one
// GL_TRIANGLES or GL_QUADS primitive each; the per-vertex attributes are the same as with one
// polygon per facet, so the picture is too. Larger (and degenerate) facets stay polygons. Where
// every attribute follows the vertex index (vertex normals present, no facet colours: a vertex
// normal overrides the facet normal), the runs are drawn straight from the index pool, which
// compiles in half the time and shares each vertex between its facets.
#include "viewer/graphics/graphics.h"

#include "base/beside.h"
#include "base/fatal.h"
#include "viewer/graphics/graphicsMath.h"
#include "viewer/model/shape.h"
#include "viewer/model/object.h"

#include <GL/gl.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

int ground_list = 0, shadow_list = 0, edge_list = 0, normal_list = 0, object_list = 0;

namespace {

int edgeComposite = 0;   // the list of RebuildWithEdges
int normalComposite = 0; // the list of RebuildWithNormals

// The shadow, edge and normal lists are announced at set-up but compiled only when a frame first
// needs them: on a million-facet object they would cost seconds before the first frame, and no
// input of the program draws them.
bool shadowPending = false, edgePending = false, normalPending = false;
bool quiet = false; // a deferred list was announced already

// The object list too waits: the first frame draws the facets straight from the arrays, which
// costs a fraction of compiling them (the compile of a million facets takes longer than the
// drawing), and the list is compiled once that frame is on the screen. A snapshot or thumbnail,
// which draws one frame, never compiles it.
bool objectPending = false;

struct VertexRGB {
  float x, y, z, r, g, b;
};

void Announce(const char *name, int id) {
  if (!verbose || quiet) return;
  std::printf("%s\tstructure id = %d\n", name, id);
  std::fflush(stdout);
}

// The Part's arrays as the drawing reads them: an optional array whose length does not match its
// count counts as absent, and every facet's indices are checked against the vertex array once,
// so no list can read outside an array.
struct FacetSource {
  const Part &part;
  const Coord *vertices;
  const Vector *polygonNormals = nullptr;
  const ColorRGB *polygonColors = nullptr;
  const Vector *vertexNormals = nullptr;
  const ColorRGB *vertexColors = nullptr;
  uint32_t facetCount;
  // Facet f is the triangle of vertices 3f, 3f + 1 and 3f + 2 (the conversion of a mesh that
  // shares no vertex).
  bool unsharedTriangles = true;

  explicit FacetSource(const Part &p) : part(p), vertices(p.vertices.data()) {
    facetCount = static_cast<uint32_t>(std::min<size_t>(p.facet_count, p.facets.size()));
    std::size_t nv = p.vertices.size();
    if (p.polygon_normals.size() >= facetCount && !p.polygon_normals.empty())
      polygonNormals = p.polygon_normals.data();
    if (p.polygon_colors.size() >= facetCount && !p.polygon_colors.empty())
      polygonColors = p.polygon_colors.data();
    if (p.vertex_normals.size() >= nv && !p.vertex_normals.empty())
      vertexNormals = p.vertex_normals.data();
    if (p.vertex_colors.size() >= nv && !p.vertex_colors.empty())
      vertexColors = p.vertex_colors.data();
    // Each half finds its first faulty facet; the lower half's is the one a single pass meets.
    struct Half {
      uint32_t bad = UINT32_MAX, index = 0; // the facet, and the index it uses (or none)
      bool outsidePool = false, unshared = true;
    } half[2];
    const std::size_t pool = p.facet_vertex_pool.size();
    InHalves(facetCount, std::size_t(1) << 18, [&](int h, std::size_t begin, std::size_t end) {
      // A local record, stored once: the halves' records share a cache line.
      Half r;
      [&] {
        for (uint32_t f = static_cast<uint32_t>(begin); f < end; ++f) {
          const FacetList &fl = p.facets[f];
          if (std::size_t(fl.first) + fl.count > pool) {
            r.bad = f, r.outsidePool = true;
            return;
          }
          const uint32_t *idx = p.facet_vertex_pool.data() + fl.first;
          for (uint32_t k = 0; k < fl.count; ++k)
            if (idx[k] >= nv) {
              r.bad = f, r.index = idx[k];
              return;
            }
          const uint64_t v = 3 * uint64_t(f);
          r.unshared =
              r.unshared && fl.count == 3 && idx[0] == v && idx[1] == v + 1 && idx[2] == v + 2;
        }
      }();
      half[h] = r;
    });
    for (const Half &r : half) {
      if (r.bad == UINT32_MAX) continue;
      if (r.outsidePool)
        fatal(1, "File %s: facet %u lies outside the index pool\n", objName.c_str(), r.bad);
      fatal(1, "File %s: facet %u uses vertex index %u, there are %zu vertices\n", objName.c_str(),
            r.bad, r.index, nv);
    }
    unsharedTriangles = half[0].unshared && half[1].unshared;
  }
  // Unshared triangles by construction, as the facet list and index pool to come will say: the
  // triangles the vertex array holds, their normals the facet normals.
  struct Unshared {};
  FacetSource(const Part &p, Unshared) : part(p), vertices(p.vertices.data()) {
    facetCount = static_cast<uint32_t>(std::min<std::size_t>(p.vertices.size() / 3, p.facet_count));
    if (p.polygon_normals.size() >= facetCount && !p.polygon_normals.empty())
      polygonNormals = p.polygon_normals.data();
  }
  uint32_t count(uint32_t f) const { return part.facets[f].count; }
  const uint32_t *indices(uint32_t f) const { return part.facetVertices(f); }
};

// Line ends the edge list gives a facet of `n` vertices.
std::size_t EdgeIndexCount(uint32_t n) {
  return n == 2 ? 2 : n > 2 ? 2 * std::size_t(n) : 0;
}

// The primitive a facet of `n` vertices joins: runs of triangles and of quadrilaterals batch.
GLenum BatchMode(uint32_t n) {
  return n == 3 ? GL_TRIANGLES : n == 4 ? GL_QUADS : GL_POLYGON;
}

// Walks the facets in order, opening one primitive per run of batchable facets (or per polygon)
// and calling emit(f) for each facet inside it.
template <class Emit> void EmitFacets(const FacetSource &src, Emit emit) {
  uint32_t f = 0;
  while (f < src.facetCount) {
    GLenum mode = BatchMode(src.count(f));
    glBegin(mode);
    if (mode == GL_POLYGON) {
      emit(f++);
    } else {
      uint32_t n = src.count(f);
      while (f < src.facetCount && src.count(f) == n) emit(f++);
    }
    glEnd();
  }
}

template <bool PN, bool PC, bool VN, bool VC> void DrawFacetsAs(const FacetSource &src) {
  const Coord *v = src.vertices;
  EmitFacets(src, [&](uint32_t f) {
    if (PN) glNormal3fv(&src.polygonNormals[f].x);
    if (PC) glColor3fv(&src.polygonColors[f].r);
    const uint32_t *idx = src.indices(f);
    for (uint32_t k = 0, n = src.count(f); k < n; ++k) {
      uint32_t i = idx[k];
      if (VN) glNormal3fv(&src.vertexNormals[i].x);
      if (VC) glColor3fv(&src.vertexColors[i].r);
      glVertex3fv(&v[i].x);
    }
  });
}

// Calls draw(mode, first, count) for each run of facets that can be one indexed primitive: facets
// of one size (3 or 4) whose indices lie one after another in the pool; every other facet is a
// polygon of its own.
template <class Draw> void ForEachIndexedRun(const FacetSource &src, Draw draw) {
  const std::vector<FacetList> &facets = src.part.facets;
  // GLsizei is an int: long runs are split.
  constexpr uint32_t kMaxRun = 1u << 24;
  uint32_t f = 0;
  while (f < src.facetCount) {
    uint32_t n = facets[f].count, first = facets[f].first;
    uint32_t g = f + 1;
    if (n == 3 || n == 4)
      while (g < src.facetCount && g - f < kMaxRun && facets[g].count == n &&
             facets[g].first == first + (g - f) * n)
        ++g;
    draw(BatchMode(n), first, (g - f) * n);
    f = g;
  }
}

void DrawIndexed(const FacetSource &src) {
  const uint32_t *pool = src.part.facet_vertex_pool.data();
  glEnableClientState(GL_VERTEX_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, src.vertices);
  if (src.vertexNormals) {
    glEnableClientState(GL_NORMAL_ARRAY);
    glNormalPointer(GL_FLOAT, 0, src.vertexNormals);
  }
  if (src.vertexColors) {
    glEnableClientState(GL_COLOR_ARRAY);
    glColorPointer(3, GL_FLOAT, 0, src.vertexColors);
  }
  ForEachIndexedRun(src, [&](GLenum mode, uint32_t first, uint32_t count) {
    glDrawElements(mode, static_cast<GLsizei>(count), GL_UNSIGNED_INT, pool + first);
  });
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
}

// Whether the facets are unshared triangles drawn from the vertex array as it is, their normals
// and colours repeated for each of their vertices (see DrawUnsharedTriangles).
bool DrawsUnshared(const FacetSource &src) {
  return src.unsharedTriangles && !src.vertexNormals && !src.vertexColors;
}

// Unshared triangles: the vertex array is already in drawing order, so the facets go out a block
// at a time from arrays, the facet normals (and colours) written once per vertex into a small
// buffer for each block. Each vertex gets the same attributes as when the facets are fed one
// vertex at a time, so the picture is the same, at a fraction of the calls; the buffer is the
// only memory the drawing adds.
void DrawUnsharedTriangles(const FacetSource &src) {
  constexpr uint32_t kBlock = 1u << 14; // facets a draw; the buffers stay in the caches
  std::vector<Vector> normals;
  std::vector<ColorRGB> colors;
  const uint32_t block = std::min(kBlock, src.facetCount);
  if (src.polygonNormals) ALLOC_ARRAY(normals, 3 * std::size_t(block), "Vector", "graphics.ogl");
  if (src.polygonColors) ALLOC_ARRAY(colors, 3 * std::size_t(block), "ColorRGB", "graphics.ogl");
  glEnableClientState(GL_VERTEX_ARRAY);
  if (src.polygonNormals) glEnableClientState(GL_NORMAL_ARRAY);
  if (src.polygonColors) glEnableClientState(GL_COLOR_ARRAY);
  for (uint32_t from = 0; from < src.facetCount; from += block) {
    const uint32_t n = std::min(block, src.facetCount - from);
    for (uint32_t f = 0; f < n; ++f) {
      if (src.polygonNormals)
        normals[3 * f] = normals[3 * f + 1] = normals[3 * f + 2] = src.polygonNormals[from + f];
      if (src.polygonColors)
        colors[3 * f] = colors[3 * f + 1] = colors[3 * f + 2] = src.polygonColors[from + f];
    }
    glVertexPointer(3, GL_FLOAT, 0, src.vertices + 3 * std::size_t(from));
    if (src.polygonNormals) glNormalPointer(GL_FLOAT, 0, normals.data());
    if (src.polygonColors) glColorPointer(3, GL_FLOAT, 0, colors.data());
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(3 * n));
    // The rasteriser keeps what a draw hands it until a flush: on a large object that grows
    // to a good part of the object's own size, which a flush after each block gives back.
    glFlush();
  }
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
}

// Whether the facets are drawn straight from the index pool (see the opening comment).
bool DrawsIndexed(const FacetSource &src) {
  return src.vertexNormals && !src.polygonColors;
}

void DrawFacetsFrom(const FacetSource &src) {
  if (DrawsIndexed(src)) {
    DrawIndexed(src);
    return;
  }
  if (DrawsUnshared(src)) {
    DrawUnsharedTriangles(src);
    return;
  }
  // One loop per combination of present arrays keeps the tests out of the per-vertex work.
  using Fn = void (*)(const FacetSource &);
  static const Fn table[16] = {
      DrawFacetsAs<0, 0, 0, 0>, DrawFacetsAs<0, 0, 0, 1>, DrawFacetsAs<0, 0, 1, 0>,
      DrawFacetsAs<0, 0, 1, 1>, DrawFacetsAs<0, 1, 0, 0>, DrawFacetsAs<0, 1, 0, 1>,
      DrawFacetsAs<0, 1, 1, 0>, DrawFacetsAs<0, 1, 1, 1>, DrawFacetsAs<1, 0, 0, 0>,
      DrawFacetsAs<1, 0, 0, 1>, DrawFacetsAs<1, 0, 1, 0>, DrawFacetsAs<1, 0, 1, 1>,
      DrawFacetsAs<1, 1, 0, 0>, DrawFacetsAs<1, 1, 0, 1>, DrawFacetsAs<1, 1, 1, 0>,
      DrawFacetsAs<1, 1, 1, 1>};
  int key = (src.polygonNormals ? 8 : 0) | (src.polygonColors ? 4 : 0) |
            (src.vertexNormals ? 2 : 0) | (src.vertexColors ? 1 : 0);
  table[key](src);
}

void PushPlacement(const Part &part) {
  float m[16];
  PlacementMatrix(part, m);
  glPushMatrix();
  glMultMatrixf(m);
}

void SetColor(const ColorRGB &c) {
  glColor3f(c.r, c.g, c.b);
}

// Fills one plane of the ground: point (i, j) in strip order and in cross-strip order.
void GroundPlane(bool wall, VertexRGB *strips, VertexRGB *cross) {
  for (int i = 0; i < 12; ++i)
    for (int j = 0; j < 12; ++j) {
      float ci = i * 0.36666667f - 3.5f, cj = j * 0.36666667f - 3.5f;
      float shade = (i + j) % 2 ? 1.0f : 0.0f;
      VertexRGB p = wall ? VertexRGB{ci, cj, -3.5f, shade, shade, shade}
                         : VertexRGB{ci, -3.5f, cj, shade, shade, shade};
      strips[12 * i + j] = p;
      cross[12 * j + i] = p;
    }
}

void DrawStrips(const VertexRGB *points) {
  for (int s = 0; s < 12; ++s) {
    glBegin(GL_LINE_STRIP);
    for (int k = 0; k < 12; ++k) {
      const VertexRGB &p = points[12 * s + k];
      glColor3f(p.r, p.g, p.b);
      glVertex3f(p.x, p.y, p.z);
    }
    glEnd();
  }
}

} // namespace

void DrawFacets(const Part &part) {
  DrawFacetsFrom(FacetSource(part));
}

void BuildGroundList() {
  std::vector<VertexRGB> strips, cross;
  ALLOC_ARRAY(strips, 144, "VertexRGB", "graphics.ogl");
  ALLOC_ARRAY(cross, 144, "VertexRGB", "graphics.ogl");
  glNewList(ground_id, GL_COMPILE);
  Announce("ground", ground_id);
  glShadeModel(GL_SMOOTH);
  glDisable(GL_LIGHTING);
  glPushMatrix();
  for (bool wall : {true, false}) {
    GroundPlane(wall, strips.data(), cross.data());
    DrawStrips(strips.data());
    DrawStrips(cross.data());
  }
  glPopMatrix();
  glEnable(GL_LIGHTING);
  glEndList();
  ground_list = ground_id;
}

void BuildShadowList() {
  const Part &part = *currentShape->part;
  FacetSource src(part);
  glNewList(shadow_id, GL_COMPILE);
  Announce("shadow", shadow_id);
  glDisable(GL_LIGHTING);
  glShadeModel(GL_FLAT);
  PushPlacement(part);
  SetColor(shadow_color);
  // Positions only: every facet can come straight from the index pool.
  FacetSource positions(src);
  positions.vertexNormals = nullptr;
  positions.vertexColors = nullptr;
  DrawIndexed(positions);
  glPopMatrix();
  glEnable(GL_LIGHTING);
  glEndList();
  shadow_list = shadow_id;
}

void BuildEdgeList() {
  const Part &part = *currentShape->part;
  FacetSource src(part);
  glNewList(edge_id, GL_COMPILE);
  Announce("edge", edge_id);
  glDisable(GL_LIGHTING);
  PushPlacement(part);
  GLfloat remembered[4];
  glGetFloatv(GL_CURRENT_COLOR, remembered);
  SetColor(edge_color);
  // Every side of every facet, the last vertex back to the first, as independent lines, so all
  // facets share one GL_LINES primitive. A two-vertex facet is its one side; a single vertex or
  // an empty facet has none.
  std::vector<uint32_t> lines;
  std::size_t total = 0;
  for (uint32_t f = 0; f < src.facetCount; ++f) total += EdgeIndexCount(src.count(f));
  ALLOC_ARRAY(lines, total, "uint", "graphics.ogl");
  std::size_t at = 0;
  for (uint32_t f = 0; f < src.facetCount; ++f) {
    const uint32_t *idx = src.indices(f);
    uint32_t n = src.count(f);
    if (n == 2) {
      lines[at++] = idx[0];
      lines[at++] = idx[1];
    } else if (n > 2) {
      for (uint32_t k = 0; k < n; ++k) {
        lines[at++] = idx[k];
        lines[at++] = idx[k + 1 < n ? k + 1 : 0];
      }
    }
  }
  glEnableClientState(GL_VERTEX_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, src.vertices);
  for (std::size_t done = 0; done < total;) {
    std::size_t n = std::min<std::size_t>(total - done, std::size_t(1) << 26);
    glDrawElements(GL_LINES, static_cast<GLsizei>(n), GL_UNSIGNED_INT, lines.data() + done);
    done += n;
  }
  glDisableClientState(GL_VERTEX_ARRAY);
  glColor4fv(remembered);
  glPopMatrix();
  glEnable(GL_LIGHTING);
  glEndList();
  edge_list = edge_id;
}

void BuildNormalList() {
  const Part &part = *currentShape->part;
  FacetSource src(part);
  glNewList(normal_id, GL_COMPILE);
  Announce("normal", normal_id);
  glDisable(GL_LIGHTING);
  PushPlacement(part);
  GLfloat remembered[4];
  glGetFloatv(GL_CURRENT_COLOR, remembered);
  SetColor(normal_color);
  // As long on every object, in its own units: a share of its size.
  const float len = NormalLineLength(part.vertices.data(), part.vertices.size());
  glBegin(GL_LINES);
  if (src.vertexNormals) {
    for (std::size_t v = 0; v < part.vertices.size(); ++v) {
      const Coord &a = part.vertices[v];
      const Vector &n = src.vertexNormals[v];
      glVertex3f(a.x, a.y, a.z);
      glVertex3f(a.x + len * n.x, a.y + len * n.y, a.z + len * n.z);
    }
  } else if (src.polygonNormals) {
    // Drawn from the midpoint of the first and third vertices; a facet without a third vertex
    // has no such point and gets no line.
    for (uint32_t f = 0; f < src.facetCount; ++f) {
      if (src.count(f) < 3) continue;
      const uint32_t *idx = src.indices(f);
      const Coord &a = src.vertices[idx[0]], &b = src.vertices[idx[2]];
      Coord m{a.x + (b.x - a.x) * 0.5f, a.y + (b.y - a.y) * 0.5f, a.z + (b.z - a.z) * 0.5f};
      const Vector &n = src.polygonNormals[f];
      glVertex3f(m.x, m.y, m.z);
      glVertex3f(m.x + len * n.x, m.y + len * n.y, m.z + len * n.z);
    }
  }
  glEnd();
  glColor4fv(remembered);
  glPopMatrix();
  glEnable(GL_LIGHTING);
  glEndList();
  normal_list = normal_id;
}

namespace {

// The object in its placement, as its list holds it and its first frame draws it.
void DrawObject(const Part &part) {
  FacetSource src(part);
  PushPlacement(part);
  DrawFacetsFrom(src);
  glPopMatrix();
}

// Whether a frame drawn from the arrays shows what the compiled list shows. Compiling splits a
// quadrilateral given vertex by vertex along another diagonal than drawing it at once does, and
// the lighting across it then differs by a shade; indexed runs and polygons of other sizes come
// out the same either way.
bool ListShowsTheSame(const FacetSource &src) {
  if (DrawsIndexed(src) || DrawsUnshared(src)) return true;
  for (uint32_t f = 0; f < src.facetCount; ++f)
    if (src.count(f) == 4) return false;
  return true;
}

void CompileObjectList() {
  auto start = std::chrono::steady_clock::now();
  std::clock_t cpuStart = std::clock();
  BuildObjectList();
  glFinish();
  list_compile_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  list_compile_cpu_seconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
}

} // namespace

void BuildObjectList() {
  glNewList(object_id, GL_COMPILE);
  Announce("object", object_id);
  DrawObject(*currentShape->part);
  glEndList();
  object_list = object_id;
}

void AnnounceObjectList() {
  Part &part = *currentShape->part;
  // Kept for framing a thumbnail.
  PlacementMatrix(part, part.model_matrix);
  // Checked now, as the compile would: a facet outside its arrays ends the run before any frame.
  FacetSource src(part);
  if (!ListShowsTheSame(src)) {
    CompileObjectList();
    return;
  }
  Announce("object", object_id);
  objectPending = true;
}

void DrawUnsharedObject(const Part &part) {
  FacetSource src(part, FacetSource::Unshared{});
  PushPlacement(part);
  DrawUnsharedTriangles(src);
  glPopMatrix();
}

bool DrawObjectUncompiled() {
  if (!objectPending || !currentShape) return false;
  DrawObject(*currentShape->part);
  return true;
}

void EnsureObjectList() {
  if (!objectPending || !currentShape) return;
  objectPending = false;
  quiet = true;
  CompileObjectList();
  quiet = false;
}

void AnnounceDeferredLists() {
  Announce("shadow", shadow_id);
  Announce("edge", edge_id);
  Announce("normal", normal_id);
  shadowPending = edgePending = normalPending = true;
}

// Compiles a deferred list as it would have been compiled at set-up: with the object colour
// current, which the edge and normal lists read back and restore.
static void CompileDeferred(bool &pending, void (*build)()) {
  if (!pending || !currentShape) return;
  pending = false;
  const ColorRGB &c = currentShape->object_color;
  glColor3f(c.r, c.g, c.b);
  quiet = true;
  build();
  quiet = false;
}

void EnsureShadowList() {
  CompileDeferred(shadowPending, BuildShadowList);
}
void EnsureEdgeList() {
  CompileDeferred(edgePending, BuildEdgeList);
}
void EnsureNormalList() {
  CompileDeferred(normalPending, BuildNormalList);
}

static int NewComposite(int &number) {
  if (number != 0) glDeleteLists(number, 1);
  number = static_cast<int>(glGenLists(1));
  return number;
}

// The object with the overlay lists `first` and `second` (0: none) over it, as a new composite
// kept in `number`, which becomes the current list.
static void BuildComposite(int &number, int first, int second) {
  EnsureObjectList();
  int n = NewComposite(number);
  glNewList(n, GL_COMPILE);
  bool lines = first != 0 || second != 0;
  // Lines drawn over filled facets fight them for depth and come out dashed; the facets step
  // back by a hair while lines lie on them.
  if (lines) {
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1, 1);
  }
  glCallList(object_id);
  if (lines) glDisable(GL_POLYGON_OFFSET_FILL);
  if (first != 0) glCallList(first);
  if (second != 0) glCallList(second);
  glEndList();
  current_list = n;
}

void RebuildWithEdges(int16_t show) {
  if (show != 0) EnsureEdgeList();
  if (currentShape->show_normals != 0) EnsureNormalList();
  BuildComposite(edgeComposite, show != 0 ? edge_id : 0,
                 currentShape->show_normals != 0 ? normal_id : 0);
}

void RebuildWithNormals(int16_t show) {
  if (show != 0) EnsureNormalList();
  if (currentShape->show_edges != 0) EnsureEdgeList();
  BuildComposite(normalComposite, show != 0 ? normal_id : 0,
                 currentShape->show_edges != 0 ? edge_id : 0);
}

void ReleaseLists() {
  if (DrawingOpen()) {
    int *lists[] = {&object_list, &edge_list, &normal_list, &shadow_list, &ground_list};
    for (int *l : lists)
      if (*l != 0) {
        glDeleteLists(*l, 1);
        *l = 0;
      }
  }
  // The composites die with the window's context; a number kept from it would name some other
  // list in the next window's context.
  edgeComposite = normalComposite = 0;
  shadowPending = edgePending = normalPending = objectPending = false;
  ground_list = shadow_list = edge_list = normal_list = object_list = 0;
}
