// TPOLY objects: polygon after polygon, each a point count followed by its own points. No point is
// shared, so every point becomes a vertex of its own and a polygon's indices are running numbers.
#include "viewer/readers/partReaders.h"
#include "viewer/readers/formatTable.h"

#include "base/fatal.h"
#include "base/scanText.h"
#include "viewer/readers/findObj.h"
#include "viewer/model/object.h"

#include <cstdint>

static const char *kModule = "readTPOLYObj";

// Reads (or, in the counting pass, steps over) one coordinate; a file that ends inside a polygon
// or holds something else where a number belongs cannot be shown and ends the run.
static void ReadCoordinate(TextCursor &in, float *value, const char *path,
                           unsigned long long polygon) {
  ScanResult r = value ? ScanFloat(in, *value) : ScanSkipFloat(in);
  if (r == kScanEnd)
    fatal(1, "TPOLYReadObj: %s: the file ends inside polygon %llu\n", path, polygon);
  if (r == kScanNoMatch)
    fatal(1, "TPOLYReadObj: %s: polygon %llu has something other than a number at byte %zu\n", path,
          polygon, CursorOffset(in));
}

// The next polygon size, or -1 at the end of the file.
static long long ReadPolygonSize(TextCursor &in, const char *path, unsigned long long polygon) {
  long long n;
  ScanResult r = ScanInt(in, n);
  if (r == kScanEnd) return -1;
  if (r == kScanNoMatch)
    fatal(1, "TPOLYReadObj: %s: a point count was expected for polygon %llu at byte %zu\n", path,
          polygon, CursorOffset(in));
  if (n < 0) fatal(1, "TPOLYReadObj: %s: polygon %llu has a negative point count\n", path, polygon);
  return n;
}

std::unique_ptr<Part> TPOLYReadObj() {
  ObjectFile object = ReadObjectFile(kTypeTPOLY, objName, kModule);
  const FileContents &data = object.data;
  const char *path = object.path.c_str();

  std::unique_ptr<Part> part = NewPartRecord(kModule, __LINE__);
  TextCursor in = CursorOver(data.data(), data.data() + data.size());

  // Counting pass: the totals come from what the file holds, so they size the arrays exactly.
  unsigned long long polygons = 0, points = 0;
  for (;;) {
    long long n = ReadPolygonSize(in, path, polygons + 1);
    if (n < 0) break;
    ++polygons;
    for (long long i = 0; i < n; ++i)
      for (int j = 0; j < 3; ++j) ReadCoordinate(in, nullptr, path, polygons);
    points += static_cast<unsigned long long>(n);
  }
  if (points > UINT32_MAX || polygons > UINT32_MAX)
    fatal(1, "TPOLYReadObj: %s: too many points for one object\n", path);

  part->vertex_count = static_cast<uint32_t>(points);
  part->facet_count = static_cast<uint32_t>(polygons);
  ALLOC_ARRAY(part->vertices, part->vertex_count, "Coord", kModule);
  ALLOC_ARRAY(part->facets, part->facet_count, "FacetList", kModule);
  ALLOC_ARRAY(part->facet_vertex_pool, part->vertex_count, "uint", kModule);

  // Reading pass: point i of the file is vertex i, and its index is its own slot.
  in.p = in.begin;
  uint32_t slot = 0;
  for (uint32_t k = 0; k < part->facet_count; ++k) {
    long long size = ReadPolygonSize(in, path, k + 1ULL);
    // Both passes read the same bytes the same way; this only guards the arrays should they not.
    if (size < 0 || static_cast<unsigned long long>(size) > part->vertex_count - slot)
      fatal(1, "TPOLYReadObj: %s: polygon %u differs between the two passes\n", path, k + 1);
    uint32_t n = static_cast<uint32_t>(size);
    part->facets[k] = FacetList{n, slot};
    for (uint32_t i = 0; i < n; ++i, ++slot) {
      Coord &c = part->vertices[slot];
      ReadCoordinate(in, &c.x, path, k + 1ULL);
      ReadCoordinate(in, &c.y, path, k + 1ULL);
      ReadCoordinate(in, &c.z, path, k + 1ULL);
      part->facet_vertex_pool[slot] = slot;
    }
  }
  return part;
}

void LoadTPOLYObject() {
  std::unique_ptr<Part> record = TPOLYReadObj();
  TPOLYFormatObj(*record, *currentShape);
}
