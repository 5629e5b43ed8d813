#include "viewer/readers/readOBJObj.h"

#include "base/fatal.h"
#include "base/files.h"
#include "base/fillArray.h"
#include "base/scanText.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/formatTable.h"
#include "viewer/model/object.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <string_view>
#include <system_error>
#include <thread>

#include <sys/stat.h>

static const char *kModule = "readOBJObj";

namespace {

// ---- Numbers: the two calls every statement reads its values through, on the shared scanner.

// A real number at p (no blanks before it), as the C library reads one; p is left after it.
// False, p unmoved, when the text there is no number.
inline bool ReadNumber(const char *&p, const char *end, float &out) {
  const char *stop = ParseFloat(p, end, out);
  if (stop == p) return false;
  p = stop;
  return true;
}

// A vertex reference at p: an optional sign and decimal digits. Magnitudes past any count a file
// can reach are held where arithmetic on them stays safe.
inline bool ReadIndex(const char *&p, const char *end, long long &out) {
  const char *stop = ParseInteger(p, end, out);
  if (stop == p) return false;
  out = std::clamp(out, -(1ll << 40), 1ll << 40);
  p = stop;
  return true;
}

// ---- Lines.

inline bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Blanks within a statement; a backslash at the end of a line joins the next line to it.
inline void SkipBlanks(const char *&p, const char *end) {
  for (;;) {
    while (p != end && IsBlank(*p)) ++p;
    if (p == end || *p != '\\') return;
    const char *q = p + 1;
    if (q != end && *q == '\r') ++q;
    if (q == end || *q != '\n') return;
    p = q + 1;
  }
}

// The statement ends here: a newline, a comment or the end of the input.
inline bool AtStatementEnd(const char *p, const char *end) {
  return p == end || *p == '\n' || *p == '#';
}

// Past the rest of the statement, continued lines included, to the start of the next one.
inline void SkipStatement(const char *&p, const char *end) {
  for (;;) {
    const void *nl = std::memchr(p, '\n', std::size_t(end - p));
    if (!nl) {
      p = end;
      return;
    }
    const char *start = p;
    const char *last = static_cast<const char *>(nl);
    p = last + 1;
    if (last > start && last[-1] == '\r') --last;
    if (!(last > start && last[-1] == '\\')) return;
  }
}

// The rest of the statement as one text, blanks at either end dropped and runs of blanks (line
// continuations among them) made one space.
std::string RestOfStatement(const char *&p, const char *end) {
  std::string text;
  SkipBlanks(p, end);
  while (!AtStatementEnd(p, end)) {
    const char *before = p;
    SkipBlanks(p, end);
    if (p != before) {
      text += ' ';
      continue;
    }
    text += *p++;
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  SkipStatement(p, end);
  return text;
}

int LineOf(const char *begin, const char *at) {
  return 1 + static_cast<int>(std::count(begin, at, '\n'));
}

// The word at p, for messages.
std::string WordAt(const char *p, const char *end) {
  const char *q = p;
  while (q != end && !IsBlank(*q) && *q != '\n' && q - p < 40) ++q;
  return std::string(p, q);
}

// ---- The walk.

struct Fault {
  const char *at = nullptr; // null: none
  std::string why;
};

enum RefKind { kVertexRef, kTexcoordRef, kNormalRef };
const char *const kRefSingular[] = {"vertex", "texture coordinate", "normal"};
const char *const kRefPlural[] = {"vertices", "texture coordinates", "normals"};

std::string IndexFault(RefKind kind, long long raw, long long have) {
  char buf[160];
  if (raw == 0)
    std::snprintf(buf, sizeof buf, "%s index 0 (indices count from 1)", kRefSingular[kind]);
  else if (raw > 0)
    std::snprintf(buf, sizeof buf, "%s index %lld is beyond the %lld %s read so far",
                  kRefSingular[kind], raw, have, kRefPlural[kind]);
  else
    std::snprintf(buf, sizeof buf, "%s index %lld reaches before the first of the %lld %s",
                  kRefSingular[kind], raw, have, kRefPlural[kind]);
  return buf;
}

// The text after the first walk's is read by a second walk at the same time, which cannot know
// how many vertices came before it: it keeps, for each kind, the most any of its references needs
// the text before it to hold, checked once the first walk's counts are known.
// The material in effect where the second walk begins is the one the first walk ends with.
constexpr uint32_t kInheritedMaterial = UINT32_MAX - 1;

struct Walk {
  const char *begin; // the start of the file, for line numbers
  const char *p, *end;
  bool first; // starts at the top of the file: every reference is checked at once
  OBJMesh mesh;
  long long needs[3] = {0, 0, 0};
  // Corners whose vertex or normal was given relative to the counts before this walk.
  std::vector<std::size_t> relativeVertex, relativeNormal;
  uint32_t material;
  bool colorsOver1 = false;
  Fault fault;
  bool outOfMemory = false;

  Walk(const char *begin_, const char *from, const char *to, bool first_, uint32_t material_)
      : begin(begin_), p(from), end(to), first(first_), material(material_) {}
  long long Have(RefKind kind) const {
    return kind == kVertexRef   ? (long long)mesh.vertices.size()
           : kind == kNormalRef ? (long long)mesh.normals.size()
                                : (long long)mesh.texcoord_count;
  }
  bool Fail(const char *at, std::string why) {
    fault = Fault{at, std::move(why)};
    return false;
  }
};

// A reference of `kind` as written (`raw`, counting from 1, or back from the last one read when
// negative), resolved to a zero-based index. A relative one a later walk cannot resolve yet is
// marked in `relative`.
inline bool Resolve(Walk &w, RefKind kind, long long raw, const char *at, uint32_t &out,
                    bool &relative) {
  const long long have = w.Have(kind);
  relative = false;
  if (raw == 0) return w.Fail(at, IndexFault(kind, raw, have));
  const long long need = (raw > 0 ? raw : -raw) - have;
  if (need > 0) {
    if (w.first) return w.Fail(at, IndexFault(kind, raw, have));
    if (need > w.needs[kind]) w.needs[kind] = need;
  }
  if (raw > 0) {
    out = static_cast<uint32_t>(raw - 1);
  } else {
    out = static_cast<uint32_t>(have + raw); // wraps when it reaches before this walk
    relative = !w.first;
  }
  return true;
}

// "v x y z [w]" or "v x y z r g b": what follows the values the line may hold is read past
// (writers leave things like "3.1+e2" there).
bool VertexStatement(Walk &w, const char *&p) {
  float val[7];
  int n = 0;
  for (; n < 7; ++n) {
    SkipBlanks(p, w.end);
    const char *at = p;
    if (AtStatementEnd(p, w.end)) break;
    if (!ReadNumber(p, w.end, val[n])) {
      if (n < 3) return w.Fail(at, "\"" + WordAt(at, w.end) + "\" is no number");
      break;
    }
    if (!std::isfinite(val[n]))
      return w.Fail(at, "\"" + WordAt(at, w.end) + "\" is not a finite number");
  }
  if (n < 3) return w.Fail(p, "a vertex needs three coordinates");
  OBJMesh &m = w.mesh;
  if (m.vertices.size() >= UINT32_MAX - 1) return w.Fail(p, "too many vertices");
  m.vertices.push_back(Coord{val[0], val[1], val[2]});
  if (n >= 6) {
    // Vertices before the first coloured one are white.
    if (m.vertex_colors.empty()) m.vertex_colors.assign(m.vertices.size() - 1, ColorRGB{1, 1, 1});
    m.vertex_colors.push_back(ColorRGB{val[3], val[4], val[5]});
    w.colorsOver1 |= val[3] > 1.0f || val[4] > 1.0f || val[5] > 1.0f;
  } else if (!m.vertex_colors.empty()) {
    m.vertex_colors.push_back(ColorRGB{1, 1, 1});
  }
  SkipStatement(p, w.end);
  return true;
}

bool NormalStatement(Walk &w, const char *&p) {
  float val[3];
  for (float &v : val) {
    SkipBlanks(p, w.end);
    const char *at = p;
    if (AtStatementEnd(p, w.end)) return w.Fail(at, "a normal needs three numbers");
    if (!ReadNumber(p, w.end, v)) return w.Fail(at, "\"" + WordAt(at, w.end) + "\" is no number");
    if (!std::isfinite(v))
      return w.Fail(at, "\"" + WordAt(at, w.end) + "\" is not a finite number");
  }
  if (w.mesh.normals.size() >= UINT32_MAX - 1) return w.Fail(p, "too many normals");
  w.mesh.normals.push_back(Vector{val[0], val[1], val[2]});
  SkipStatement(p, w.end);
  return true;
}

// One corner: "v", "v/vt", "v//vn" or "v/vt/vn".
inline bool Corner(Walk &w, const char *&p) {
  const char *at = p;
  long long raw;
  if (!ReadIndex(p, w.end, raw)) return w.Fail(at, "\"" + WordAt(at, w.end) + "\" is no index");
  uint32_t vertex, normal = kNoNormal;
  bool relative;
  if (!Resolve(w, kVertexRef, raw, at, vertex, relative)) return false;
  OBJMesh &m = w.mesh;
  if (relative) w.relativeVertex.push_back(m.corner_vertices.size());
  bool normalRelative = false;
  // An empty place ("1//", "1/") names nothing, as writers leave them.
  if (p != w.end && *p == '/') {
    ++p;
    if (ReadIndex(p, w.end, raw)) {
      uint32_t texcoord;
      bool unused;
      if (!Resolve(w, kTexcoordRef, raw, at, texcoord, unused)) return false;
    }
    if (p != w.end && *p == '/') {
      ++p;
      if (ReadIndex(p, w.end, raw) && !Resolve(w, kNormalRef, raw, at, normal, normalRelative))
        return false;
    }
  }
  if (p != w.end && !IsBlank(*p) && *p != '\n' && *p != '#' && *p != '\\')
    return w.Fail(at, "\"" + WordAt(at, w.end) + "\" is no corner");
  if (normal != kNoNormal && m.corner_normals.empty()) {
    // The first corner with a normal: those before it had none.
    m.corner_normals.reserve(m.corner_vertices.capacity());
    m.corner_normals.assign(m.corner_vertices.size(), kNoNormal);
  }
  if (normal != kNoNormal || !m.corner_normals.empty()) {
    if (normalRelative) w.relativeNormal.push_back(m.corner_normals.size());
    m.corner_normals.push_back(normal);
  }
  m.corner_vertices.push_back(vertex);
  return true;
}

bool FaceStatement(Walk &w, const char *&p, const char *statement) {
  OBJMesh &m = w.mesh;
  const std::size_t before = m.corner_vertices.size();
  for (;;) {
    SkipBlanks(p, w.end);
    if (AtStatementEnd(p, w.end)) break;
    if (!Corner(w, p)) return false;
  }
  const std::size_t corners = m.corner_vertices.size() - before;
  if (corners < 3) return w.Fail(statement, "a face needs three corners");
  if (m.corner_vertices.size() > UINT32_MAX) return w.Fail(statement, "too many face corners");
  m.face_sizes.push_back(static_cast<uint32_t>(corners));
  if (!m.materials.empty()) m.face_materials.push_back(w.material);
  SkipStatement(p, w.end);
  return true;
}

void UseMaterial(Walk &w, const char *&p) {
  std::string name = RestOfStatement(p, w.end);
  OBJMesh &m = w.mesh;
  if (m.materials.empty()) m.face_materials.assign(m.face_sizes.size(), w.material);
  auto found = std::find(m.materials.begin(), m.materials.end(), name);
  w.material = static_cast<uint32_t>(found - m.materials.begin());
  if (found == m.materials.end()) m.materials.push_back(std::move(name));
}

// The keyword at p and its length.
inline std::string_view Keyword(const char *&p, const char *end) {
  const char *s = p;
  while (p != end && !IsBlank(*p) && *p != '\n' && *p != '#' && *p != '\\') ++p;
  return std::string_view(s, std::size_t(p - s));
}

// One statement from p, which stands at the start of a line.
inline bool Statement(Walk &w, const char *&p) {
  SkipBlanks(p, w.end);
  if (AtStatementEnd(p, w.end)) {
    SkipStatement(p, w.end);
    return true;
  }
  const char *statement = p;
  std::string_view key = Keyword(p, w.end);
  if (key.size() == 1) {
    switch (key[0]) {
    case 'v':
      return VertexStatement(w, p);
    case 'f':
      return FaceStatement(w, p, statement);
    case 'l':
    case 'p':
      ++w.mesh.elements_read_past;
      break;
    default: // "o", "g", "s" and the rest: names and smoothing groups
      break;
    }
  } else if (key == "vn") {
    return NormalStatement(w, p);
  } else if (key == "vt") {
    if (w.mesh.texcoord_count >= UINT32_MAX - 1) return w.Fail(p, "too many texture coordinates");
    ++w.mesh.texcoord_count;
  } else if (key == "usemtl") {
    UseMaterial(w, p);
    return true;
  } else if (key == "mtllib") {
    std::string names = RestOfStatement(p, w.end);
    if (!names.empty()) w.mesh.libraries.push_back(std::move(names));
    return true;
  }
  // Everything else (free-form curves and surfaces, display attributes) is read past.
  SkipStatement(p, w.end);
  return true;
}

void RunWalk(Walk &w) {
  try {
    const char *p = w.p;
    while (p < w.end)
      if (!Statement(w, p)) return;
  } catch (const std::bad_alloc &) {
    w.outOfMemory = true;
  } catch (const std::length_error &) {
    w.outOfMemory = true;
  }
}

// How much a stretch of text will hold, from its first quarter megabyte: room is made for that
// much and a tenth more at once, so that the arrays are not copied as they grow. Never more than
// the text could hold.
struct Estimate {
  std::size_t vertices = 0, normals = 0, faces = 0, corners = 0;
};

Estimate Sample(const char *p, const char *end) {
  const std::size_t total = std::size_t(end - p);
  const std::size_t sampled = std::min<std::size_t>(total, 1 << 18);
  const char *stop = p + sampled;
  Estimate e;
  while (p < stop) {
    while (p < stop && IsBlank(*p)) ++p;
    if (stop - p > 2 && p[0] == 'v' && IsBlank(p[1])) ++e.vertices;
    if (stop - p > 2 && p[0] == 'v' && p[1] == 'n') ++e.normals;
    if (stop - p > 2 && p[0] == 'f' && IsBlank(p[1])) {
      ++e.faces;
      for (++p; p < stop && *p != '\n'; ++p)
        if (IsBlank(p[-1]) && !IsBlank(*p) && *p != '\r') ++e.corners;
    }
    const void *nl = std::memchr(p, '\n', std::size_t(stop - p));
    p = nl ? static_cast<const char *>(nl) + 1 : stop;
  }
  const double scale = 1.1 * double(total) / double(std::max<std::size_t>(1, sampled));
  auto grown = [&](std::size_t n, std::size_t bytesEach) {
    return std::min(std::size_t(double(n) * scale) + 16, total / bytesEach + 1);
  };
  // A vertex or normal takes eight bytes or more ("v 0 0 0\n"), a face too, a corner two.
  return Estimate{grown(e.vertices, 8), grown(e.normals, 8), grown(e.faces, 8),
                  grown(e.corners, 2)};
}

void Reserve(OBJMesh &m, const Estimate &e) {
  RESERVE_ARRAY(m.vertices, e.vertices, "Coord", kModule);
  RESERVE_ARRAY(m.normals, e.normals, "Vector", kModule);
  RESERVE_ARRAY(m.face_sizes, e.faces, "uint", kModule);
  RESERVE_ARRAY(m.corner_vertices, e.corners, "uint", kModule);
}

// Text this large is read by two walks side by side, the second from a line near its middle.
const std::size_t kSplitText = std::size_t(8) << 20;

// The start of a line after `middle` that is no continued line; null when none is near.
const char *SplitPoint(const char *begin, const char *middle, const char *end) {
  const char *p = middle;
  for (int tries = 0; tries < 64 && p < end; ++tries) {
    const char *nl = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
    if (!nl || nl + 1 >= end) return nullptr;
    const char *last = nl;
    if (last > begin && last[-1] == '\r') --last;
    if (last > begin && last[-1] != '\\') return nl + 1;
    p = nl + 1;
  }
  return nullptr;
}

[[noreturn]] void Stop(const char *begin, const Fault &f, const char *name) {
  fatal(1, "OBJReadObj: %s line %d: %s\n", name, LineOf(begin, f.at), f.why.c_str());
}

template <class T> void Append(std::vector<T> &to, const std::vector<T> &from) {
  to.insert(to.end(), from.begin(), from.end());
}

// Appends the second walk's mesh to the first's, resolving what it could not.
void Join(Walk &a, Walk &b) {
  OBJMesh &m = a.mesh, &n = b.mesh;
  const std::size_t nv = m.vertices.size(), nn = m.normals.size(), faces = m.face_sizes.size();
  const std::size_t corners = m.corner_vertices.size();
  for (std::size_t at : b.relativeVertex) n.corner_vertices[at] += static_cast<uint32_t>(nv);
  for (std::size_t at : b.relativeNormal) n.corner_normals[at] += static_cast<uint32_t>(nn);

  Append(m.vertices, n.vertices);
  if (!m.vertex_colors.empty() || !n.vertex_colors.empty()) {
    m.vertex_colors.resize(nv, ColorRGB{1, 1, 1});
    if (n.vertex_colors.empty())
      m.vertex_colors.resize(m.vertices.size(), ColorRGB{1, 1, 1});
    else
      Append(m.vertex_colors, n.vertex_colors);
  }
  a.colorsOver1 |= b.colorsOver1;
  Append(m.normals, n.normals);
  m.texcoord_count += n.texcoord_count;
  Append(m.face_sizes, n.face_sizes);
  Append(m.corner_vertices, n.corner_vertices);
  if (!m.corner_normals.empty() || !n.corner_normals.empty()) {
    m.corner_normals.resize(corners, kNoNormal);
    if (n.corner_normals.empty())
      m.corner_normals.resize(m.corner_vertices.size(), kNoNormal);
    else
      Append(m.corner_normals, n.corner_normals);
  }
  if (!m.materials.empty() || !n.materials.empty()) {
    m.face_materials.resize(faces, a.material);
    std::vector<uint32_t> map(n.materials.size());
    for (std::size_t i = 0; i < n.materials.size(); ++i) {
      auto found = std::find(m.materials.begin(), m.materials.end(), n.materials[i]);
      map[i] = static_cast<uint32_t>(found - m.materials.begin());
      if (found == m.materials.end()) m.materials.push_back(n.materials[i]);
    }
    if (n.materials.empty()) n.face_materials.assign(n.face_sizes.size(), kInheritedMaterial);
    for (uint32_t k : n.face_materials)
      m.face_materials.push_back(k == kInheritedMaterial ? a.material : map[k]);
  }
  if (b.material != kInheritedMaterial) a.material = b.material;
  Append(m.libraries, n.libraries);
  m.elements_read_past += n.elements_read_past;
}

// UTF-16 text (with its byte-order mark) as UTF-8.
std::string FromUTF16(const unsigned char *p, std::size_t size, bool bigEndian) {
  std::string out;
  out.reserve(size / 2);
  auto unit = [&](std::size_t i) {
    return bigEndian ? unsigned(p[i] << 8 | p[i + 1]) : unsigned(p[i + 1] << 8 | p[i]);
  };
  for (std::size_t i = 2; i + 1 < size; i += 2) {
    unsigned c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < size) {
      unsigned low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000)
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00), i += 2;
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | c >> 6), out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | c >> 12), out += char(0x80 | (c >> 6 & 0x3F)),
          out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | c >> 18), out += char(0x80 | (c >> 12 & 0x3F)),
          out += char(0x80 | (c >> 6 & 0x3F)), out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::unique_ptr<OBJMesh> ReadText(const char *begin, const char *end, const char *name) {
  Walk a(begin, begin, end, true, kNoMaterial);
  const std::size_t size = std::size_t(end - begin);
  const char *split = size >= kSplitText ? SplitPoint(begin, begin + size / 2, end) : nullptr;
  if (!split) {
    Reserve(a.mesh, Sample(begin, end));
    RunWalk(a);
  } else {
    a.end = split;
    Walk b(begin, split, end, false, kInheritedMaterial);
    // The first walk's arrays take the second's at the end: room for both.
    Estimate ahead = Sample(begin, split), behind = Sample(split, end);
    Reserve(b.mesh, behind);
    Reserve(a.mesh, Estimate{ahead.vertices + behind.vertices, ahead.normals + behind.normals,
                             ahead.faces + behind.faces, ahead.corners + behind.corners});
    std::thread second;
    try {
      second = std::thread([&b] { RunWalk(b); });
    } catch (const std::system_error &) {
      RunWalk(b); // no thread to be had: one after the other
    }
    RunWalk(a);
    if (second.joinable()) second.join();
    if (a.outOfMemory || b.outOfMemory) allocFailed("OBJMesh", 1, __LINE__, kModule);
    if (a.fault.at) Stop(begin, a.fault, name);
    bool unmet = false;
    for (int kind = 0; kind < 3; ++kind) unmet |= b.needs[kind] > a.Have(RefKind(kind));
    if (b.fault.at || unmet) {
      // The second half has a fault: the text is walked again as one, which stops at the first
      // fault of the file with the counts of everything before it.
      Walk whole(begin, begin, end, true, kNoMaterial);
      RunWalk(whole);
      if (whole.outOfMemory) allocFailed("OBJMesh", 1, __LINE__, kModule);
      Stop(begin, whole.fault.at ? whole.fault : b.fault, name);
    }
    ALLOC_OR_REPORT("OBJMesh", 1, kModule, Join(a, b));
  }
  if (a.outOfMemory) allocFailed("OBJMesh", 1, __LINE__, kModule);
  if (a.fault.at) Stop(begin, a.fault, name);
  if (a.mesh.vertices.empty()) fatal(1, "OBJReadObj: %s holds no vertices\n", name);
  // Colours written as whole numbers up to 255 would all clamp to white: a file with any value
  // above 1 has them all scaled, as OFF colours are.
  if (a.colorsOver1)
    for (ColorRGB &c : a.mesh.vertex_colors) c = ColorRGB{c.r / 255, c.g / 255, c.b / 255};
  return std::make_unique<OBJMesh>(std::move(a.mesh));
}

} // namespace

std::unique_ptr<OBJMesh> OBJReadBuffer(const char *data, std::size_t size, const char *name) {
  const unsigned char *u = reinterpret_cast<const unsigned char *>(data);
  if (size >= 2 && ((u[0] == 0xFF && u[1] == 0xFE) || (u[0] == 0xFE && u[1] == 0xFF))) {
    std::string text;
    ALLOC_OR_REPORT("char", size / 2, kModule, text = FromUTF16(u, size, u[0] == 0xFE));
    return ReadText(text.data(), text.data() + text.size(), name);
  }
  if (size >= 3 && u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF) data += 3, size -= 3;
  return ReadText(data, data + size, name);
}

std::vector<OBJMaterial> OBJReadMaterials(const char *data, std::size_t size, const char *name) {
  std::vector<OBJMaterial> materials;
  const char *begin = data, *end = data + size;
  const unsigned char *u = reinterpret_cast<const unsigned char *>(data);
  if (size >= 3 && u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF) begin += 3;
  const char *p = begin;
  while (p < end) {
    SkipBlanks(p, end);
    const char *at = p;
    std::string_view key = Keyword(p, end);
    if (key == "newmtl") {
      materials.push_back(OBJMaterial{RestOfStatement(p, end), false, {}});
      continue;
    }
    if (key == "Kd" && !materials.empty()) {
      // "Kd r g b", or one value for grey; the spectral and CIE forms are read past.
      float c[3];
      int n = 0;
      for (; n < 3; ++n) {
        SkipBlanks(p, end);
        if (AtStatementEnd(p, end) || !ReadNumber(p, end, c[n])) break;
      }
      if (n == 1) c[1] = c[2] = c[0];
      bool finite = std::isfinite(c[0]) && std::isfinite(c[1]) && std::isfinite(c[2]);
      if ((n == 1 || n == 3) && finite)
        materials.back().has_kd = true, materials.back().kd = ColorRGB{c[0], c[1], c[2]};
      else if (n != 0 || !AtStatementEnd(p, end))
        if (WordAt(p, end) != "spectral" && WordAt(p, end) != "xyz")
          warn("OBJReadObj: %s line %d: \"Kd\" is no colour, read past\n", name, LineOf(begin, at));
    }
    SkipStatement(p, end);
  }
  return materials;
}

namespace {

// A library "mtllib" names, found beside the object through the object search: the names as
// given, else each blank-separated word of them (several libraries on one line).
void ReadLibrary(const std::string &names, std::vector<OBJMaterial> &materials) {
  std::vector<std::string> libraries{names};
  if (names.find(' ') != std::string::npos && !SearchObjectFile(kTypeOBJ, names).file) {
    libraries.clear();
    for (std::size_t i = 0; i < names.size();) {
      std::size_t blank = std::min(names.find(' ', i), names.size());
      libraries.push_back(names.substr(i, blank - i));
      i = blank + 1;
    }
  }
  for (const std::string &library : libraries) {
    FoundFile file = SearchObjectFile(kTypeOBJ, library);
    if (!file.file) {
      warn("OBJReadObj: material library %s not found; its faces keep the object colour\n",
           library.c_str());
      continue;
    }
    // A library named in the file could be a device or a pipe, which would never end.
    struct stat st;
    if (fstat(fileno(file.file.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
      warn("OBJReadObj: material library %s is no regular file; its faces keep the object colour\n",
           library.c_str());
      continue;
    }
    FileContents contents;
    contents.Load(file.file.get(), kModule);
    std::vector<OBJMaterial> read =
        OBJReadMaterials(contents.data(), contents.size(), library.c_str());
    materials.insert(materials.end(), read.begin(), read.end());
  }
}

} // namespace

std::unique_ptr<OBJMesh> OBJReadObj() {
  ObjectFile object = ReadObjectFile(kTypeOBJ, objName, kModule);
  return OBJReadBuffer(object.data.data(), object.data.size(), objName.c_str());
}

std::vector<OBJMaterial> OBJReadLibraries(const OBJMesh &mesh) {
  std::vector<OBJMaterial> materials;
  for (const std::string &names : mesh.libraries) ReadLibrary(names, materials);
  return materials;
}

void LoadOBJObject() {
  std::unique_ptr<OBJMesh> mesh = OBJReadObj();
  if (mesh->elements_read_past > 0)
    warn("OBJReadObj: %s: %lld point and line elements (\"p\", \"l\") are not shown\n",
         objName.c_str(), mesh->elements_read_past);
  std::vector<OBJMaterial> materials = OBJReadLibraries(*mesh);
  OBJFormatObj(*mesh, materials, *currentShape);
  mesh.reset();
}
