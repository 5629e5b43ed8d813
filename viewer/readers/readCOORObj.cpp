// The COOR file set: stem.coor holds "number,x,y,z" records, stem.elem the polygons as a part name
// followed by one-based vertex numbers, stem.vnorm (optional) one normal per vertex, and stem.rgba
// (optional) four big-endian floats per vertex.
#include "viewer/readers/partReaders.h"
#include "viewer/readers/formatTable.h"

#include "base/fatal.h"
#include "base/scanText.h"
#include "viewer/readers/findObj.h"
#include "viewer/model/object.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>

static const char *kModule = "readCOORObj";

// Colour of the vertices an ".rgba" file stops short of.
static const ColorRGB kMissingColor = {1.0f, 0.2f, 0.5f};

// The ",x,y,z" after a vertex number: the commas follow the numbers directly, the numbers may
// have white space before them. -1 when the input ends before the first number is converted,
// otherwise the count of numbers converted.
static int ReadCoordTail(TextCursor &in, Coord *c) {
  float value[3];
  for (int i = 0; i < 3; ++i) {
    if (!ScanChar(in, ',')) return (i == 0 && CursorRemaining(in) == 0) ? -1 : i;
    ScanResult r = ScanFloat(in, value[i]);
    if (r == kScanEnd) return i == 0 ? -1 : i;
    if (r == kScanNoMatch) return i;
  }
  if (c) *c = Coord{value[0], value[1], value[2]};
  return 3;
}

// The side file with the object's stem and another extension, in the directory the object was
// found in. Null when it does not open.
static FilePtr OpenSideFile(const std::string &objectPath, const char *extension,
                            std::string &sidePath) {
  std::size_t slash = objectPath.rfind('/');
  std::size_t dot = objectPath.rfind('.');
  std::size_t stemEnd = (dot == std::string::npos || (slash != std::string::npos && dot < slash))
                            ? objectPath.size()
                            : dot;
  sidePath = objectPath.substr(0, stemEnd) + extension;
  struct stat st;
  return FilePtr(OpenRegularFile(sidePath, st));
}

static void ReadVertices(Part &part, const FileContents &data) {
  TextCursor in = CursorOver(data.data(), data.data() + data.size());
  uint64_t count = 0;
  for (;;) {
    long long number;
    ScanResult r = ScanInt(in, number);
    if (r == kScanEnd) break;
    if (r == kScanNoMatch) fatal(1, "COORReadObj: unexpected more input\n");
    int got = ReadCoordTail(in, nullptr);
    if (got < 0) fatal(1, "COORReadObj: unexpected end of input\n");
    if (got < 3) fatal(1, "COORReadObj: read error getting polygon input\n");
    ++count;
  }
  if (count > UINT32_MAX) fatal(1, "COORReadObj: too many vertices\n");
  part.vertex_count = static_cast<uint32_t>(count);
  ALLOC_ARRAY(part.vertices, part.vertex_count, "Coord", kModule);
  in.p = in.begin;
  // The vertex number is only a label: vertices are numbered by their place in the file.
  for (Coord &c : part.vertices) {
    long long number;
    ScanInt(in, number);
    ReadCoordTail(in, &c);
  }
}

// Reads the polygons; `facetName` gets each facet's index into `names`, the distinct part names
// in order of first appearance. A record without vertex numbers is no polygon and is skipped.
static void ReadPolygons(Part &part, const FileContents &data, const std::string &path,
                         std::vector<uint32_t> &facetName, std::vector<std::string_view> &names) {
  TextCursor in = CursorOver(data.data(), data.data() + data.size());
  uint64_t polygons = 0, numbers = 0;
  std::string_view word;
  while (ScanWord(in, word) == kScanRead) {
    long long number;
    uint64_t n = 0;
    while (ScanInt(in, number) == kScanRead) ++n;
    if (n > 0) ++polygons;
    numbers += n;
  }
  if (polygons > UINT32_MAX || numbers > UINT32_MAX)
    fatal(1, "COORReadObj: %s: too many polygons\n", path.c_str());
  part.facet_count = static_cast<uint32_t>(polygons);
  ALLOC_ARRAY(part.facets, part.facet_count, "FacetList", kModule);
  ALLOC_ARRAY(part.facet_vertex_pool, numbers, "uint", kModule);
  ALLOC_ARRAY(facetName, part.facet_count, "char *", kModule);

  std::unordered_map<std::string_view, uint32_t> known;
  in.p = in.begin;
  uint32_t k = 0, next = 0;
  while (k < part.facet_count && ScanWord(in, word) == kScanRead) {
    uint32_t first = next;
    long long number;
    while (ScanInt(in, number) == kScanRead) {
      if (number < 1 || number > part.vertex_count)
        fatal(1, "COORReadObj: %s: polygon %u uses vertex number %lld, outside 1 to %u\n",
              path.c_str(), k + 1, number, part.vertex_count);
      // Both passes read the same bytes the same way; this only guards the pool should they not.
      if (next >= part.facet_vertex_pool.size())
        fatal(1, "COORReadObj: %s: polygon %u differs between the two passes\n", path.c_str(),
              k + 1);
      part.facet_vertex_pool[next++] = static_cast<uint32_t>(number - 1);
    }
    if (next == first) continue;
    part.facets[k] = FacetList{next - first, first};
    auto [it, added] = known.emplace(word, static_cast<uint32_t>(names.size()));
    if (added) ALLOC_OR_REPORT("char", word.size() + 1, kModule, names.push_back(word));
    facetName[k++] = it->second;
  }
}

static void ReadNormals(Part &part, const FileContents &data) {
  ALLOC_ARRAY(part.vertex_normals, part.vertex_count, "Vector", kModule);
  TextCursor in = CursorOver(data.data(), data.data() + data.size());
  for (Vector &n : part.vertex_normals) {
    if (ScanFloat(in, n.x) != kScanRead || ScanFloat(in, n.y) != kScanRead ||
        ScanFloat(in, n.z) != kScanRead)
      fatal(1, "COORReadObj: read error in .vnorm file\n");
  }
}

static float BigEndianFloat(const unsigned char *b) {
  uint32_t bits = (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

static void ReadColors(Part &part, const FileContents &data) {
  ALLOC_ARRAY(part.vertex_colors, part.vertex_count, "ColorRGB", kModule);
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(data.data());
  std::size_t records = data.size() / 16; // r, g, b, a; alpha is not shown
  for (uint32_t v = 0; v < part.vertex_count; ++v) {
    if (v < records) {
      const unsigned char *b = bytes + 16 * std::size_t(v);
      part.vertex_colors[v] =
          ColorRGB{BigEndianFloat(b), BigEndianFloat(b + 4), BigEndianFloat(b + 8)};
    } else {
      part.vertex_colors[v] = kMissingColor;
    }
  }
}

// One random colour per part name, the same for every polygon of that part. The components are
// drawn from 0 to 32767 whatever the C library's RAND_MAX, so that they stay within 0 to 1.
static void RandomPartColors(Part &part, const std::vector<uint32_t> &facetName,
                             std::size_t nameCount) {
  std::vector<ColorRGB> palette;
  ALLOC_ARRAY(palette, nameCount, "ColorRGB", kModule);
  ALLOC_ARRAY(part.polygon_colors, part.facet_count, "ColorRGB", kModule);
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  const float scale = 3.051851e-05f;
  for (ColorRGB &c : palette) {
    c.r = static_cast<float>(std::rand() % 32768) * scale;
    c.g = static_cast<float>(std::rand() % 32768) * scale;
    c.b = static_cast<float>(std::rand() % 32768) * scale;
  }
  for (uint32_t k = 0; k < part.facet_count; ++k) part.polygon_colors[k] = palette[facetName[k]];
}

static FileContents ReadAndClose(FilePtr &file, const std::string &path) {
  FileContents data;
  data.Load(file.get(), kModule, path);
  file.reset();
  return data;
}

std::unique_ptr<Part> COORReadObj() {
  ObjectFile coor = ReadObjectFile(kTypeCOOR, objName, kModule);
  std::unique_ptr<Part> part = NewPartRecord(kModule, __LINE__);
  ReadVertices(*part, coor.data);
  coor.data.Release(); // the vertices are read: the file's bytes can go

  std::string sidePath;
  FilePtr elem = OpenSideFile(coor.path, ".elem", sidePath);
  if (!elem) fatal(1, "COORReadObj: %s not found\n", sidePath.c_str());
  FileContents elemData = ReadAndClose(elem, sidePath); // the part names point into it
  std::vector<uint32_t> facetName;
  std::vector<std::string_view> names;
  ReadPolygons(*part, elemData, sidePath, facetName, names);

  if (FilePtr vnorm = OpenSideFile(coor.path, ".vnorm", sidePath))
    ReadNormals(*part, ReadAndClose(vnorm, sidePath));

  if (FilePtr rgba = OpenSideFile(coor.path, ".rgba", sidePath))
    ReadColors(*part, ReadAndClose(rgba, sidePath));
  else
    RandomPartColors(*part, facetName, names.size());
  return part;
}

void LoadCOORObject() {
  std::unique_ptr<Part> record = COORReadObj();
  COORFormatObj(*record, *currentShape);
}
