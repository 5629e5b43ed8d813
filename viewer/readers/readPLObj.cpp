#include "viewer/readers/readPLObj.h"

#include "base/fatal.h"
#include "base/scanText.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/formatTable.h"
#include "viewer/model/object.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static const char *kModule = "readPLObj";

// Powers of ten up to 10^10, exact in a float, that the number readers take directly; larger ones
// come from PLPow10.
static inline float SmallPow10(unsigned n) {
  return static_cast<float>(kPowersOfTen[n]);
}

// Set when a "PolyList" message has gone out: those messages end without a newline.
static bool plMessageWritten = false;
// The message of the reading under way; a file read a second way reports its first reading's.
static std::string plMessage;

float PLPow10(int n) {
  unsigned a = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
  float v;
  if (a < 8) {
    v = SmallPow10(a);
  } else {
    float base = 1e8f, power = 1.0f;
    for (unsigned k = a / 8; k != 0; k >>= 1) {
      if (k & 1) power *= base;
      base *= base;
    }
    v = SmallPow10(a % 8) * power;
  }
  return n < 0 ? 1.0f / v : v;
}

static inline float Pow10Of(int n) {
  return n <= 10 ? SmallPow10(static_cast<unsigned>(n)) : PLPow10(n);
}

static inline bool IsDigit(int c) {
  return c >= '0' && c <= '9';
}

// The scanner's hot path: inlined into the number readers.
static inline int NextChar(PLStream &s, int flags) {
  for (;;) {
    if (s.p >= s.end) return PL_EOF;
    int c = *s.p;
    // A CR is a blank, so that files with CR LF line ends read like LF files.
    if (c == ' ' || c == '\t' || c == '\r') {
      ++s.p;
    } else if (c == '\n') {
      if (flags & kPLStopAtNewline) return c;
      ++s.p;
    } else if (c == '#') {
      if (flags & kPLStopAtComment) return c;
      const void *nl = std::memchr(s.p, '\n', static_cast<std::size_t>(s.end - s.p));
      s.p = nl ? static_cast<const unsigned char *>(nl) : s.end;
    } else {
      return c;
    }
  }
}

int PLNextChar(PLStream &s, int flags) {
  return NextChar(s, flags);
}

static inline uint32_t BigEndian32(const unsigned char *b) {
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
}

static inline bool ReadAsciiInt(PLStream &s, int32_t &out) {
  if (NextChar(s, 0) == PL_EOF) return false;
  const unsigned char *p = s.p;
  bool neg = false;
  if (*p == '-') neg = true, ++p;
  if (p >= s.end || !IsDigit(*p)) return false;
  // No overflow check: the value wraps as a 32-bit integer would.
  uint32_t v = 0;
  while (p < s.end && IsDigit(*p)) v = v * 10u + uint32_t(*p++ - '0');
  out = static_cast<int32_t>(neg ? 0u - v : v);
  s.p = p;
  return true;
}

// Up to `n` big-endian 32-bit values (integers or floats) of a binary file; how many there were.
template <class T> static inline int ReadBinary32(PLStream &s, int n, T *dest) {
  static_assert(sizeof(T) == 4, "32-bit values");
  int got = 0;
  for (; got < n && s.end - s.p >= 4; ++got, s.p += 4) {
    uint32_t bits = BigEndian32(s.p);
    std::memcpy(&dest[got], &bits, 4);
  }
  return got;
}

// One integer, ascii or binary.
static inline bool ReadInt(PLStream &s, int32_t &out, bool binary) {
  return binary ? ReadBinary32(s, 1, &out) == 1 : ReadAsciiInt(s, out);
}

// One ascii float: digits are gathered in an integer and folded into the single-precision value
// whenever the integer could overflow on the next digit.
static inline bool ReadAsciiFloat(PLStream &s, float &out) {
  if (NextChar(s, 0) == PL_EOF) return false;
  const unsigned char *p = s.p, *end = s.end;
  bool neg = false;
  if (*p == '-') neg = true, ++p;
  bool any = false;
  float v = 0.0f;
  int64_t n = 0;
  int nd = 0;
  while (p < end && IsDigit(*p)) {
    n = n * 10 + (*p++ - '0');
    ++nd;
    any = true;
    if (n >= 214748364) {
      v = v * Pow10Of(nd) + static_cast<float>(n);
      n = 0;
      nd = 0;
    }
  }
  v = v * Pow10Of(nd) + static_cast<float>(n);
  if (p < end && *p == '.') {
    ++p;
    n = 0;
    nd = 0; // fraction digits since the point: a fold divides by 10 to this power
    while (p < end && IsDigit(*p)) {
      n = n * 10 + (*p++ - '0');
      if (nd < INT_MAX) ++nd;
      any = true;
      if (n >= 214748364) {
        v += static_cast<float>(n) / Pow10Of(nd);
        n = 0;
      }
    }
    if (n != 0) v += static_cast<float>(n) / Pow10Of(nd);
  }
  if (!any) return false;
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool eneg = false;
    if (p < end && (*p == '+' || *p == '-')) eneg = *p++ == '-';
    if (p >= end || !IsDigit(*p)) return false;
    int e = 0;
    while (p < end && IsDigit(*p)) {
      if (e < 100000) e = e * 10 + (*p - '0');
      ++p;
    }
    float scale = Pow10Of(e);
    v = eneg ? v / scale : v * scale;
  }
  out = neg ? -v : v;
  s.p = p;
  return true;
}

// Up to `n` values, ascii or binary; how many were read.
template <class T, bool (*ReadAscii)(PLStream &, T &)>
static int ReadValues(PLStream &s, int n, T *dest, bool binary) {
  if (binary) return ReadBinary32(s, n, dest);
  int got = 0;
  while (got < n && ReadAscii(s, dest[got])) ++got;
  return got;
}

int PLReadInts(PLStream &s, int n, int32_t *dest, bool binary) {
  return ReadValues<int32_t, ReadAsciiInt>(s, n, dest, binary);
}

int PLReadFloats(PLStream &s, int n, float *dest, bool binary) {
  return ReadValues<float, ReadAsciiFloat>(s, n, dest, binary);
}

int PLExpectString(PLStream &s, const char *text) {
  for (int i = 0; text[i] != '\0'; ++i) {
    if (s.p >= s.end) return i + 1;
    if (*s.p != static_cast<unsigned char>(text[i])) return i + 1; // left unread
    ++s.p;
  }
  return 0;
}

static void PLMessage(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
static void PLMessage(const char *fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  plMessage = buf;
}

namespace {

// How an ascii file's vertex colours are read.
enum class ColorReading {
  kHeader,  // as the header says: "C" gives r g b, with an alpha where the vertex's line goes on
  kTokens,  // "C" gives four values wherever they stand, across line breaks too
  kOnLines, // no "C", but r g b (and maybe a) follow the point on the vertex's line
};

// What the header says about the file.
struct OFFHeader {
  int flags = 0;     // kPLVertexColors and kPLVertexNormals
  bool four = false; // vertices of four coordinates
  bool seen = false; // the file has a header: a headerless one begins with its counts
  bool binary = false;
  ColorReading colors = ColorReading::kHeader;
};

// Every value needs at least one byte and a separator in ascii, four bytes in binary: `values`
// the rest of the input cannot hold are refused before anything is allocated for them.
bool Fits(const PLStream &s, int64_t values, int64_t bytesPerValue) {
  return values * bytesPerValue <= static_cast<int64_t>(s.end - s.p) + 1;
}

// The header: optional prefixes "C", "N", "4", "S" in this order, then "OFF" and maybe "BINARY".
// False when the input is no OFF object. A headerless file's "4" taken for the prefix is given
// back to its first count, through `pushedBack` where something stood between them.
bool ReadHeader(PLStream &s, std::vector<unsigned char> &pushedBack, OFFHeader &h) {
  bool smooth = false;
  const unsigned char *fourAt = nullptr;
  int c = PLNextChar(s, 0);
  if (c == 'C') h.flags = kPLVertexColors, c = (++s.p < s.end) ? *s.p : PL_EOF;
  if (c == 'N') h.flags |= kPLVertexNormals, c = (++s.p < s.end) ? *s.p : PL_EOF;
  if (c == '4') fourAt = s.p, h.four = true, c = (++s.p < s.end) ? *s.p : PL_EOF;
  // "S" (smooth) brings no normals of its own: without "N" the vertex normals are computed from the
  // facets like any object's, never taken as zero (which would draw the object black).
  if (c == 'S') smooth = true, c = (++s.p < s.end) ? *s.p : PL_EOF;
  if (c == 'O') {
    ++s.p;
    if (PLExpectString(s, "FF") == 0) h.seen = true;
    c = s.p < s.end ? *s.p : PL_EOF;
  }
  if (h.seen) {
    if (PLNextChar(s, kPLStopAtNewline) == 'B' && PLExpectString(s, "BINARY") == 0) {
      h.binary = true;
      if (PLNextChar(s, kPLStopAtNewline) != '\n') return false;
      ++s.p;
    }
    return true;
  }
  // A headerless file begins with its counts. A "4" taken for the prefix belongs to the first
  // count: it goes back before the digit, or stands alone as the count itself ("4 4 6").
  bool fourAlone =
      h.four && !smooth && s.p == fourAt + 1 && (c == ' ' || c == '\t' || c == '\r' || c == '\n');
  if (!IsDigit(c) && !fourAlone) return false;
  if (h.four) {
    --s.p;
    if (*s.p != '4') {
      // Something stood between the "4" and the digit: the number goes on in a copy.
      pushedBack.assign(1, '4');
      pushedBack.insert(pushedBack.end(), s.p + 1, s.end);
      s.p = pushedBack.data();
      s.end = s.p + pushedBack.size();
    }
  }
  h.flags = 0;
  h.four = false;
  return true;
}

// The values of an ascii vertex colour before its optional alpha; a binary one has four.
int ColorValues(const OFFHeader &h) {
  return h.binary || h.colors == ColorReading::kTokens ? 4 : 3;
}

// A colour found on a vertex's line where the header announced none: r g b, then an alpha where
// the line goes on. False when the line ends before the three.
bool ReadLineColor(PLStream &s, float color[4]) {
  for (int k = 0; k < 4; ++k) {
    int next = NextChar(s, kPLStopAtNewline);
    if (next == '\n' || next == PL_EOF) {
      color[3] = 1.0f;
      return k == 3;
    }
    if (PLReadFloats(s, 1, &color[k], false) != 1) return false;
  }
  return true;
}

// One vertex: its point, then the normal and the colour the header announces. A colour value
// above 1 sets `over1`.
bool ReadVertex(PLStream &s, const OFFHeader &h, Vert &v, bool &over1) {
  int dims = h.four ? 4 : 3;
  bool ok = PLReadFloats(s, dims, v.point, h.binary) == dims;
  if (ok && (h.flags & kPLVertexNormals)) ok = PLReadFloats(s, 3, v.normal, h.binary) == 3;
  if (ok && h.colors == ColorReading::kOnLines) {
    ok = ReadLineColor(s, v.color);
    for (int k = 0; k < 4 && ok; ++k) over1 |= v.color[k] > 1.0f;
  } else if (ok && (h.flags & kPLVertexColors)) {
    // Many writers give r g b alone, often with a comment after them: an alpha is read only
    // where the vertex's line goes on, and is opaque otherwise.
    int values = ColorValues(h);
    ok = PLReadFloats(s, values, v.color, h.binary) == values;
    if (ok && !h.binary && values == 3) {
      int next = NextChar(s, kPLStopAtNewline);
      if (next == '\n' || next == PL_EOF)
        v.color[3] = 1.0f;
      else
        ok = PLReadFloats(s, 1, &v.color[3], false) == 1;
    }
    for (int k = 0; k < 4 && ok; ++k) over1 |= v.color[k] > 1.0f;
  }
  if (ok && !h.four) v.point[3] = 1.0f;
  return ok;
}

// A face colour: the count and components of a binary file, or whatever is left on the
// polygon's line of an ascii one. `m` receives how many components were given.
bool ReadFaceColor(PLStream &s, bool binary, float col[4], int &m) {
  col[0] = col[1] = col[2] = col[3] = 0.0f;
  m = 0;
  if (binary) {
    int32_t want = 0;
    // More than four components has nowhere to go.
    if (PLReadInts(s, 1, &want, true) != 1 || want < 0 || want > 4 ||
        PLReadFloats(s, want, col, true) != want)
      return false;
    m = want;
    return true;
  }
  while (m < 4) {
    int next = NextChar(s, kPLStopAtNewline);
    if (next == '\n' || next == PL_EOF) break;
    if (PLReadFloats(s, 1, &col[m], false) != 1) {
      if (s.p >= s.end) break;
      return false;
    }
    ++m;
  }
  return true;
}

// Grey for faces that carry no colour, and the scale of 0-255 colour values.
const float kDefaultGrey = 170.0f / 255.0f;
const float kInv255 = 0.003921569f;

// A face colour of `m` components as the object shows it: values in 0-255 scaled, what is missing
// filled in with grey.
void CompleteFaceColor(float col[4], int m) {
  if (m != 1 && (col[0] > 1.0f || col[1] > 1.0f || col[2] > 1.0f || col[3] > 1.0f))
    for (int i = 0; i < 4; ++i) col[i] *= kInv255;
  switch (m) {
  case 0:
    col[0] = col[1] = col[2] = col[3] = kDefaultGrey;
    break;
  case 2:
    col[2] = col[1];
    col[3] = kDefaultGrey;
    break;
  case 3:
    col[3] = kDefaultGrey;
    break;
  default:
    break;
  }
}

// Polygon `k` (from 0): its count, its indices into the list's pool (`used` of which are taken),
// then its face colour. False after the message for a polygon that cannot be read.
bool ReadPolygon(PLStream &s, const OFFHeader &h, PolyList &list, int32_t k, std::size_t &used,
                 const char *name) {
  Poly &poly = list.polys[static_cast<std::size_t>(k)];
  const int32_t number = k + 1; // the polygon's number in the messages after its count
  int32_t count = 0;
  if (!ReadInt(s, count, h.binary) || count <= 0 || !Fits(s, count, h.binary ? 4 : 2)) {
    PLMessage("PolyList %s: bad %d'th polygon (of %d)", name, k, list.poly_count);
    return false;
  }
  std::size_t first = used;
  if (first + static_cast<std::size_t>(count) > UINT32_MAX) {
    PLMessage("PolyList %s: bad %d'th polygon (of %d)", name, number, list.poly_count);
    return false;
  }
  used += static_cast<std::size_t>(count);
  if (used > list.index_pool.size())
    ALLOC_OR_REPORT("int", count, kModule,
                    list.index_pool.resize(std::max(used, 2 * list.index_pool.size())));
  poly.count = count;
  poly.first = static_cast<uint32_t>(first);
  int32_t *idx = list.index_pool.data() + first;
  for (int32_t j = 0; j < count; ++j) {
    int32_t index = 0;
    bool got = ReadInt(s, index, h.binary);
    if (!got || index < 0 || index >= list.vert_count) {
      PLMessage("PolyList: %s: bad index %d on %d'th polygon (of %d)", name, index, number, count);
      return false;
    }
    idx[j] = index;
  }
  int m = 0;
  if (!ReadFaceColor(s, h.binary, poly.color, m)) {
    PLMessage("PolyList %s: bad face color on face %d (of %d)", name, number, list.poly_count);
    return false;
  }
  if (!(h.flags & kPLVertexColors) || h.colors == ColorReading::kOnLines) {
    if (m > 0) list.flags |= kPLPolygonColors;
    CompleteFaceColor(poly.color, m);
  }
  return true;
}

// The object read with vertex colours taken as `colors` says; null after the message for a file
// that cannot be read so.
std::unique_ptr<PolyList> ReadList(const char *data, std::size_t size, const char *name,
                                   ColorReading colors) {
  const unsigned char *base = reinterpret_cast<const unsigned char *>(data);
  PLStream s{base, base + size};
  std::vector<unsigned char> pushedBack;
  OFFHeader h;
  if (!ReadHeader(s, pushedBack, h)) return nullptr;
  if (colors != ColorReading::kHeader) {
    // Another reading is only for ascii files whose header allows it.
    bool header = (h.flags & kPLVertexColors) != 0;
    if (h.binary || header != (colors == ColorReading::kTokens)) return nullptr;
    h.colors = colors;
  }

  auto list = std::make_unique<PolyList>();
  list->flags = h.flags;
  if (h.colors == ColorReading::kOnLines) list->flags |= kPLVertexColors;
  int32_t counts[3];
  for (int i = 0; i < 3; ++i) {
    if (PLReadInts(s, 1, &counts[i], h.binary) != 1) {
      if (h.seen) PLMessage("PolyList %s: Bad vertex/face/edge counts", name);
      return nullptr;
    }
  }
  list->vert_count = counts[0];
  list->poly_count = counts[1];
  list->edge_count = counts[2];

  int perVertex = (h.four ? 4 : 3) + ((h.flags & kPLVertexNormals) ? 3 : 0) +
                  ((h.flags & kPLVertexColors) ? ColorValues(h) : 0);
  if (list->vert_count < 0 || list->poly_count < 0 ||
      !Fits(s, int64_t(list->vert_count) * perVertex, h.binary ? 4 : 2)) {
    PLMessage("PolyList %s: Bad vertex/face/edge counts", name);
    return nullptr;
  }
  ALLOC_ARRAY(list->verts, static_cast<std::size_t>(list->vert_count), "Vert", kModule);
  bool colorsOver1 = false;
  for (int32_t i = 0; i < list->vert_count; ++i) {
    if (!ReadVertex(s, h, list->verts[static_cast<std::size_t>(i)], colorsOver1)) {
      PLMessage("PolyList %s: Bad vertex %d (of %d)", name, i, list->vert_count);
      return nullptr;
    }
  }
  // Colours written as whole numbers up to 255 would all clamp to white: a file with any value
  // above 1 has them all scaled, as face colours are.
  if (colorsOver1)
    for (Vert &v : list->verts)
      for (float &c : v.color) c *= kInv255;

  // A polygon needs its count, one index and (binary) its colour count.
  if (!Fits(s, int64_t(list->poly_count) * (h.binary ? 3 : 2), h.binary ? 4 : 2)) {
    PLMessage("PolyList %s: Bad vertex/face/edge counts", name);
    return nullptr;
  }
  ALLOC_ARRAY(list->polys, static_cast<std::size_t>(list->poly_count), "Poly", kModule);
  // The pool grows ahead of the polygons and is cut to what they use at the end.
  std::size_t used = 0;
  ALLOC_OR_REPORT("int", int64_t(list->poly_count) * 3, kModule,
                  list->index_pool.resize(static_cast<std::size_t>(list->poly_count) * 3));
  for (int32_t k = 0; k < list->poly_count; ++k)
    if (!ReadPolygon(s, h, *list, k, used, name)) return nullptr;
  list->index_pool.resize(used);
  return list;
}

// The number of words on each line from `s` on, for `lines` lines that hold any (blank lines and
// comments are passed over): true when every one holds from `lo` to `hi`.
bool LinesHold(PLStream s, int64_t lines, int lo, int hi) {
  while (lines > 0) {
    int words = 0;
    bool inWord = false;
    for (; s.p < s.end && *s.p != '\n' && *s.p != '#'; ++s.p) {
      bool blank = *s.p == ' ' || *s.p == '\t' || *s.p == '\r';
      if (!blank && !inWord) ++words;
      inWord = !blank;
    }
    while (s.p < s.end && *s.p != '\n') ++s.p;
    if (s.p < s.end) ++s.p;
    if (words == 0 && s.p >= s.end) return false;
    if (words == 0) continue;
    if (words < lo || words > hi) return false;
    --lines;
  }
  return true;
}

// The ways to read an ascii file's vertex colours, the likeliest first. Files written elsewhere put
// them where the header does not say: r g b after the point under a plain "OFF", or a "COFF"
// colour's four values across a line break. The vertex lines tell: one vertex a line, each with
// a colour after its point, or not. A file that does not read the likeliest way is read the
// other way before it is refused.
std::vector<ColorReading> ColorReadings(const char *data, std::size_t size) {
  const unsigned char *base = reinterpret_cast<const unsigned char *>(data);
  PLStream s{base, base + size};
  std::vector<unsigned char> pushedBack;
  OFFHeader h;
  int32_t counts[3];
  if (!ReadHeader(s, pushedBack, h) || h.binary || PLReadInts(s, 3, counts, false) != 3)
    return {ColorReading::kHeader};
  const void *nl = std::memchr(s.p, '\n', static_cast<std::size_t>(s.end - s.p));
  s.p = nl ? static_cast<const unsigned char *>(nl) + 1 : s.end;
  int point = (h.four ? 4 : 3) + ((h.flags & kPLVertexNormals) ? 3 : 0);
  bool coloredLines = counts[0] > 0 && LinesHold(s, counts[0], point + 3, point + 4);
  if (h.flags & kPLVertexColors) {
    if (coloredLines) return {ColorReading::kHeader, ColorReading::kTokens};
    return {ColorReading::kTokens, ColorReading::kHeader};
  }
  if (coloredLines) return {ColorReading::kOnLines, ColorReading::kHeader};
  return {ColorReading::kHeader};
}

} // namespace

std::unique_ptr<PolyList> PLReadBuffer(const char *data, std::size_t size, const char *name) {
  plMessage.clear();
  std::unique_ptr<PolyList> list;
  std::string first; // the message of the reading the header calls for
  for (ColorReading colors : ColorReadings(data, size)) {
    list = ReadList(data, size, name, colors);
    if (list) break;
    if (colors == ColorReading::kHeader) first = plMessage;
  }
  if (!list && !first.empty()) {
    warn("%s", first.c_str());
    plMessageWritten = true;
  }
  return list;
}

std::unique_ptr<PolyList> PLReadObj() {
  plMessageWritten = false;
  ObjectFile object = ReadObjectFile(kTypeOFF, objName, kModule);
  return PLReadBuffer(object.data.data(), object.data.size(), objName.c_str());
}

void LoadOFFObject() {
  std::unique_ptr<PolyList> list = PLReadObj();
  if (!list)
    fatal(1, "%sPLReadObj: %s is not a readable OFF object\n", plMessageWritten ? "\n" : "",
          objName.c_str());
  PLFormatObj(*list, *currentShape);
  list.reset();
}
