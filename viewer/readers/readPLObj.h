// OFF polygon lists: the reader's record, its token scanner and the conversion into the Part.
#pragma once

#include "viewer/model/shape.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// PolyList flag bits.
constexpr int32_t kPLVertexNormals = 1;
constexpr int32_t kPLVertexColors = 4;
constexpr int32_t kPLPolygonColors = 8;

struct Vert {
  float point[4];  // x, y, z, w (w is 1 for three-dimensional files)
  float color[4];  // r, g, b, a as read
  float normal[3]; // x, y, z
};

// A polygon's indices sit in PolyList::index_pool from `first` on (one pool for the whole list, so
// a million polygons cost one allocation, not a million).
struct Poly {
  int32_t count;
  uint32_t first;
  float color[4];
};

struct PolyList {
  int32_t vert_count = 0;
  int32_t poly_count = 0;
  int32_t edge_count = 0;
  std::vector<Poly> polys;
  std::vector<Vert> verts;
  int32_t flags = 0;
  std::vector<int32_t> index_pool;

  const int32_t *indices(std::size_t k) const { return index_pool.data() + polys[k].first; }
};

// The scanner reads from memory (the whole file is read at once); end of input is PL_EOF.
constexpr int PL_EOF = -1;
struct PLStream {
  const unsigned char *p;
  const unsigned char *end;
};

// PLNextChar flags: stop at a newline instead of skipping it; stop at "#" instead of skipping the
// comment it starts.
constexpr int kPLStopAtNewline = 1;
constexpr int kPLStopAtComment = 2;

int PLNextChar(PLStream &s, int flags);
int PLReadInts(PLStream &s, int n, int32_t *dest, bool binary);
int PLReadFloats(PLStream &s, int n, float *dest, bool binary);
int PLExpectString(PLStream &s, const char *text);
float PLPow10(int n);

// Reads the OFF object named by objName through the object search; null when the file is not OFF
// or is malformed (the reason, if any, has been written to standard error).
std::unique_ptr<PolyList> PLReadObj();
// Reads an OFF object held in memory; `name` is the object's name in messages.
std::unique_ptr<PolyList> PLReadBuffer(const char *data, std::size_t size, const char *name);
// Fills the Shape's Part from the list.
void PLFormatObj(const PolyList &list, Shape &shape);
