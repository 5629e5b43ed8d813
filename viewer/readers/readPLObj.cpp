#include "viewer/readers/readPLObj.h"

#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/formatTable.h"
#include "viewer/model/object.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

static const char *kModule = "readPLObj";

// Powers of ten that the number readers take directly; larger ones come from PLPow10.
static const float kPow10Table[11] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                      1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// Set when a "PolyList" message has gone out: those messages end without a newline.
static bool plMessageWritten = false;

float PLPow10(int n) {
  unsigned a = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
  float v;
  if (a < 8) {
    v = kPow10Table[a];
  } else {
    float base = 1e8f, power = 1.0f;
    for (unsigned k = a / 8; k != 0; k >>= 1) {
      if (k & 1) power *= base;
      base *= base;
    }
    v = kPow10Table[a % 8] * power;
  }
  return n < 0 ? 1.0f / v : v;
}

static inline float Pow10Of(int n) {
  return n <= 10 ? kPow10Table[n] : PLPow10(n);
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

// One integer, ascii or binary.
static inline bool ReadInt(PLStream &s, int32_t &out, bool binary) {
  if (!binary) return ReadAsciiInt(s, out);
  if (s.end - s.p < 4) return false;
  out = static_cast<int32_t>(BigEndian32(s.p));
  s.p += 4;
  return true;
}

int PLReadInts(PLStream &s, int n, int32_t *dest, bool binary) {
  int got = 0;
  if (binary) {
    for (; got < n; ++got) {
      if (s.end - s.p < 4) break;
      dest[got] = static_cast<int32_t>(BigEndian32(s.p));
      s.p += 4;
    }
    return got;
  }
  for (; got < n; ++got)
    if (!ReadAsciiInt(s, dest[got])) break;
  return got;
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

int PLReadFloats(PLStream &s, int n, float *dest, bool binary) {
  int got = 0;
  if (binary) {
    for (; got < n; ++got) {
      if (s.end - s.p < 4) break;
      uint32_t bits = BigEndian32(s.p);
      std::memcpy(&dest[got], &bits, 4);
      s.p += 4;
    }
    return got;
  }
  for (; got < n; ++got)
    if (!ReadAsciiFloat(s, dest[got])) break;
  return got;
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
  warn("%s", buf);
  plMessageWritten = true;
}

// Grey for faces that carry no colour, and the scale of 0-255 colour values.
static const float kDefaultGrey = 170.0f / 255.0f;
static const float kInv255 = 0.003921569f;

std::unique_ptr<PolyList> PLReadBuffer(const char *data, std::size_t size, const char *name) {
  const unsigned char *base = reinterpret_cast<const unsigned char *>(data);
  PLStream s{base, base + size};
  std::vector<unsigned char> pushedBack;

  // Header: optional prefixes "C", "N", "4", "S" in this order, then "OFF" and maybe "BINARY".
  int flags = 0;
  bool four = false, smooth = false, headerSeen = false, binary = false;
  const unsigned char *fourAt = nullptr;
  int c = PLNextChar(s, 0);
  if (c == 'C') flags = kPLVertexColors, c = (++s.p < s.end) ? *s.p : PL_EOF;
  if (c == 'N') flags |= kPLVertexNormals, c = (++s.p < s.end) ? *s.p : PL_EOF;
  if (c == '4') fourAt = s.p, four = true, c = (++s.p < s.end) ? *s.p : PL_EOF;
  // "S" (smooth) brings no normals of its own: without "N" the vertex normals are computed from the
  // facets like any object's, never taken as zero (which would draw the object black).
  if (c == 'S') smooth = true, c = (++s.p < s.end) ? *s.p : PL_EOF;
  if (c == 'O') {
    ++s.p;
    if (PLExpectString(s, "FF") == 0) headerSeen = true;
    c = s.p < s.end ? *s.p : PL_EOF;
  }
  if (headerSeen) {
    if (PLNextChar(s, kPLStopAtNewline) == 'B' && PLExpectString(s, "BINARY") == 0) {
      binary = true;
      if (PLNextChar(s, kPLStopAtNewline) != '\n') return nullptr;
      ++s.p;
    }
  } else {
    // A headerless file begins with its counts. A "4" taken for the prefix belongs to the first
    // count: it goes back before the digit, or stands alone as the count itself ("4 4 6").
    bool fourAlone =
        four && !smooth && s.p == fourAt + 1 && (c == ' ' || c == '\t' || c == '\r' || c == '\n');
    if (!IsDigit(c) && !fourAlone) return nullptr;
    if (four) {
      --s.p;
      if (*s.p != '4') {
        // Something stood between the "4" and the digit: the number goes on in a copy.
        pushedBack.assign(1, '4');
        pushedBack.insert(pushedBack.end(), s.p + 1, s.end);
        s.p = pushedBack.data();
        s.end = s.p + pushedBack.size();
      }
    }
    flags = 0;
    four = false;
  }

  auto list = std::make_unique<PolyList>();
  list->flags = flags;

  int32_t counts[3];
  for (int i = 0; i < 3; ++i) {
    if (PLReadInts(s, 1, &counts[i], binary) != 1) {
      if (headerSeen) PLMessage("PolyList %s: Bad vertex/face/edge counts", name);
      return nullptr;
    }
  }
  list->vert_count = counts[0];
  list->poly_count = counts[1];
  list->edge_count = counts[2];

  // Every value needs at least one byte and a separator in ascii, four bytes in binary, so a
  // count the rest of the file cannot hold is refused before anything is allocated. An ascii
  // vertex colour may have three values.
  int colorValues = binary ? 4 : 3;
  int perVertex = (four ? 4 : 3) + ((flags & kPLVertexNormals) ? 3 : 0) +
                  ((flags & kPLVertexColors) ? colorValues : 0);
  auto fits = [&](int64_t values, int64_t bytesPerValue) {
    return values * bytesPerValue <= static_cast<int64_t>(s.end - s.p) + 1;
  };
  if (list->vert_count < 0 || list->poly_count < 0 ||
      !fits(int64_t(list->vert_count) * perVertex, binary ? 4 : 2)) {
    PLMessage("PolyList %s: Bad vertex/face/edge counts", name);
    return nullptr;
  }

  ALLOC_ARRAY(list->verts, static_cast<std::size_t>(list->vert_count), "Vert", kModule);
  bool colorsOver1 = false;
  for (int32_t i = 0; i < list->vert_count; ++i) {
    Vert &v = list->verts[static_cast<std::size_t>(i)];
    int dims = four ? 4 : 3;
    bool ok = PLReadFloats(s, dims, v.point, binary) == dims;
    if (ok && (flags & kPLVertexNormals)) ok = PLReadFloats(s, 3, v.normal, binary) == 3;
    if (ok && (flags & kPLVertexColors)) {
      // Many writers give r g b alone, often with a comment after them: an alpha is read only
      // where the vertex's line goes on, and is opaque otherwise.
      ok = PLReadFloats(s, colorValues, v.color, binary) == colorValues;
      if (ok && !binary) {
        int next = NextChar(s, kPLStopAtNewline);
        if (next == '\n' || next == PL_EOF)
          v.color[3] = 1.0f;
        else
          ok = PLReadFloats(s, 1, &v.color[3], false) == 1;
      }
      for (int k = 0; k < 4 && ok; ++k) colorsOver1 |= v.color[k] > 1.0f;
    }
    if (!ok) {
      PLMessage("PolyList %s: Bad vertex %d (of %d)", name, i, list->vert_count);
      return nullptr;
    }
    if (!four) v.point[3] = 1.0f;
  }
  // Colours written as whole numbers up to 255 would all clamp to white: a file with any value
  // above 1 has them all scaled, as face colours are.
  if (colorsOver1)
    for (Vert &v : list->verts)
      for (float &c : v.color) c *= kInv255;

  // A polygon needs its count, one index and (binary) its colour count.
  if (!fits(int64_t(list->poly_count) * (binary ? 3 : 2), binary ? 4 : 2)) {
    PLMessage("PolyList %s: Bad vertex/face/edge counts", name);
    return nullptr;
  }
  ALLOC_ARRAY(list->polys, static_cast<std::size_t>(list->poly_count), "Poly", kModule);
  // The pool grows ahead of the polygons and is cut to what they use at the end.
  std::size_t used = 0;
  ALLOC_OR_REPORT("int", int64_t(list->poly_count) * 3, kModule,
                  list->index_pool.resize(static_cast<std::size_t>(list->poly_count) * 3));

  for (int32_t k = 0; k < list->poly_count;) {
    Poly &poly = list->polys[static_cast<std::size_t>(k)];
    int32_t count = 0;
    if (!ReadInt(s, count, binary) || count <= 0 || !fits(count, binary ? 4 : 2)) {
      PLMessage("PolyList %s: bad %d'th polygon (of %d)", name, k, list->poly_count);
      return nullptr;
    }
    ++k;
    std::size_t first = used;
    if (first + static_cast<std::size_t>(count) > UINT32_MAX) {
      PLMessage("PolyList %s: bad %d'th polygon (of %d)", name, k, list->poly_count);
      return nullptr;
    }
    used += static_cast<std::size_t>(count);
    if (used > list->index_pool.size())
      ALLOC_OR_REPORT("int", count, kModule,
                      list->index_pool.resize(std::max(used, 2 * list->index_pool.size())));
    poly.count = count;
    poly.first = static_cast<uint32_t>(first);
    int32_t *idx = list->index_pool.data() + first;
    for (int32_t j = 0; j < count; ++j) {
      int32_t index = 0;
      bool got = ReadInt(s, index, binary);
      if (!got || index < 0 || index >= list->vert_count) {
        PLMessage("PolyList: %s: bad index %d on %d'th polygon (of %d)", name, index, k, count);
        return nullptr;
      }
      idx[j] = index;
    }

    float *col = poly.color;
    col[0] = col[1] = col[2] = col[3] = 0.0f;
    int m = 0;
    if (binary) {
      int32_t want = 0;
      // More than four components has nowhere to go.
      if (PLReadInts(s, 1, &want, true) != 1 || want < 0 || want > 4 ||
          PLReadFloats(s, want, col, true) != want) {
        PLMessage("PolyList %s: bad face color on face %d (of %d)", name, k, list->poly_count);
        return nullptr;
      }
      m = want;
    } else {
      // The colour is whatever is left on the polygon's line.
      while (m < 4) {
        int next = NextChar(s, kPLStopAtNewline);
        if (next == '\n' || next == PL_EOF) break;
        if (PLReadFloats(s, 1, &col[m], false) != 1) {
          if (s.p >= s.end) break;
          PLMessage("PolyList %s: bad face color on face %d (of %d)", name, k, list->poly_count);
          return nullptr;
        }
        ++m;
      }
    }
    if (!(flags & kPLVertexColors)) {
      if (m > 0) list->flags |= kPLPolygonColors;
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
  }

  list->index_pool.resize(used);
  return list;
}

std::unique_ptr<PolyList> PLReadObj() {
  plMessageWritten = false;
  FoundFile found = FindObjectFile(kTypeOFF, objName);
  FileContents contents;
  contents.Load(found.file.get(), kModule);
  found.file.reset();
  return PLReadBuffer(contents.data(), contents.size(), objName.c_str());
}

void LoadOFFObject() {
  std::unique_ptr<PolyList> list = PLReadObj();
  if (!list)
    fatal(1, "%sPLReadObj: %s is not a readable OFF object\n", plMessageWritten ? "\n" : "",
          objName.c_str());
  PLFormatObj(*list, *currentShape);
  list.reset();
}
