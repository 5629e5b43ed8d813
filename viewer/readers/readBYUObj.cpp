// BYU objects: a header of counts, a part table, the vertices, then every polygon as
// one-based vertex numbers whose last one is written negated.
#include "viewer/readers/partReaders.h"
#include "viewer/readers/formatTable.h"

#include "base/fatal.h"
#include "base/scanText.h"
#include "viewer/readers/findObj.h"
#include "viewer/model/object.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <new>

static const char *kModule = "readBYUObj";

std::unique_ptr<Part> BYUReadObj() {
  ObjectFile object = ReadObjectFile(kTypeBYU, objName, kModule);
  const FileContents &data = object.data;
  const char *path = object.path.c_str();

  std::unique_ptr<Part> part = NewPartRecord(kModule, __LINE__);
  TextCursor in = CursorOver(data.data(), data.data() + data.size());

  long long counts[4];
  for (long long &c : counts)
    if (ScanInt(in, c) != kScanRead)
      fatal(1, "BYUReadObj: %s: the header does not hold four counts\n", path);
  const long long partCount = counts[0], vertexCount = counts[1], polygonCount = counts[2];
  if (vertexCount < 0 || polygonCount < 0)
    fatal(1, "BYUReadObj: %s: negative count in the header (%lld vertices, %lld polygons)\n", path,
          vertexCount, polygonCount);

  // The part table only says which polygons form which part; all of them form one object here.
  for (long long i = 0; i < partCount; ++i) {
    long long first, last;
    if (ScanInt(in, first) != kScanRead || ScanInt(in, last) != kScanRead) break;
  }

  // Every coordinate takes at least one character, so a count beyond a third of what is left
  // cannot be true; refusing it here keeps a lying header from sizing the array.
  if (vertexCount > static_cast<long long>(CursorRemaining(in) / 3) || vertexCount > UINT32_MAX)
    fatal(1, "BYUReadObj: %s: the file ends before its %lld vertices\n", path, vertexCount);
  part->vertex_count = static_cast<uint32_t>(vertexCount);
  ALLOC_ARRAY(part->vertices, part->vertex_count, "Coord", kModule);
  for (Coord &v : part->vertices) {
    float *xyz[3] = {&v.x, &v.y, &v.z};
    for (float *f : xyz) {
      ScanResult r = ScanFloat(in, *f);
      if (r == kScanEnd)
        fatal(1, "BYUReadObj: %s: the file ends before its %lld vertices\n", path, vertexCount);
      if (r == kScanNoMatch)
        fatal(1, "BYUReadObj: %s: vertex %lld is not three numbers\n", path,
              static_cast<long long>(&v - part->vertices.data()) + 1);
    }
  }

  // A polygon needs at least two characters per vertex number; the reserve follows what the file
  // can hold, not what the header claims.
  std::size_t room = CursorRemaining(in) / 2 + 1;
  std::size_t facetGuess = std::min<std::size_t>(static_cast<std::size_t>(polygonCount), room);
  ALLOC_OR_REPORT("FacetList", facetGuess, kModule, part->facets.reserve(facetGuess));
  std::vector<uint32_t> &pool = part->facet_vertex_pool;
  std::size_t poolGuess = std::min(facetGuess * 3, room);
  ALLOC_OR_REPORT("uint", poolGuess, kModule, pool.reserve(poolGuess));

  // A polygon ends at its negated number; at the end of the file or at something that is not a
  // number it ends with what it has, and reading stops there, since nothing after it could be read.
  bool more = true;
  for (long long k = 0; k < polygonCount && more; ++k) {
    std::size_t first = pool.size();
    for (;;) {
      long long number;
      if (ScanInt(in, number) != kScanRead) {
        more = false;
        break;
      }
      bool last = number <= 0;
      if (last) number = number == LLONG_MIN ? LLONG_MAX : -number;
      if (number < 1 || number > vertexCount)
        fatal(1, "BYUReadObj: %s: polygon %lld uses vertex number %lld, outside 1 to %lld\n", path,
              k + 1, last ? -number : number, vertexCount);
      ALLOC_OR_REPORT("uint", pool.size() + 1, kModule,
                      pool.push_back(static_cast<uint32_t>(number - 1)));
      if (last) break;
    }
    std::size_t count = pool.size() - first;
    if (count == 0) continue;
    if (pool.size() > UINT32_MAX) fatal(1, "BYUReadObj: %s: too many vertex numbers\n", path);
    ALLOC_OR_REPORT("FacetList", part->facets.size() + 1, kModule,
                    part->facets.push_back(
                        FacetList{static_cast<uint32_t>(count), static_cast<uint32_t>(first)}));
  }
  part->facet_count = static_cast<uint32_t>(part->facets.size());
  return part;
}

void LoadBYUObject() {
  std::unique_ptr<Part> record = BYUReadObj();
  BYUFormatObj(*record, *currentShape);
}
