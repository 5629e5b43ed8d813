#include "wrl2geom.h"

#include "splitFace.h"
#include "vrmlParse.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <zlib.h>

namespace wrl2geom {
namespace {

// 4 x 4 matrices, column-major: element (row r, column c) at [c * 4 + r].
using Matrix = std::array<double, 16>;

Matrix Identity() {
  Matrix m{};
  m[0] = m[5] = m[10] = m[15] = 1;
  return m;
}

Matrix Multiply(const Matrix &a, const Matrix &b) {
  Matrix m{};
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += a[k * 4 + r] * b[c * 4 + k];
      m[c * 4 + r] = s;
    }
  return m;
}

Matrix Translation(double x, double y, double z) {
  Matrix m = Identity();
  m[12] = x, m[13] = y, m[14] = z;
  return m;
}

Matrix Scaling(double x, double y, double z) {
  Matrix m = Identity();
  m[0] = x, m[5] = y, m[10] = z;
  return m;
}

// A turn by `angle` radians about the axis (x, y, z); a zero axis turns nothing.
Matrix Rotation(double x, double y, double z, double angle) {
  double len = std::sqrt(x * x + y * y + z * z);
  if (len == 0 || angle == 0) return Identity();
  x /= len, y /= len, z /= len;
  double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
  Matrix m = Identity();
  m[0] = t * x * x + c, m[4] = t * x * y - s * z, m[8] = t * x * z + s * y;
  m[1] = t * x * y + s * z, m[5] = t * y * y + c, m[9] = t * y * z - s * x;
  m[2] = t * x * z - s * y, m[6] = t * y * z + s * x, m[10] = t * z * z + c;
  return m;
}

double Determinant3(const Matrix &m) {
  return m[0] * (m[5] * m[10] - m[9] * m[6]) - m[4] * (m[1] * m[10] - m[9] * m[2]) +
         m[8] * (m[1] * m[6] - m[5] * m[2]);
}

// The numbers of a field, or `fallback` when the field is absent or too short.
std::vector<double> Numbers(const Node &node, const char *name, std::vector<double> fallback) {
  const Field *f = node.field(name);
  if (!f || f->nums.size() < fallback.size()) return fallback;
  return std::vector<double>(f->nums.begin(), f->nums.begin() + long(fallback.size()));
}

std::string Word(const Node &node, const char *name) {
  const Field *f = node.field(name);
  return f && !f->words.empty() ? f->words[0] : std::string();
}

const Node *NodeOf(const Node &node, const char *name) {
  const Field *f = node.field(name);
  return f && !f->nodes.empty() ? f->nodes[0] : nullptr;
}

// The transform node's matrix: T * C * R * SR * S * SR^-1 * C^-1 (the same for both versions;
// 1.0 calls the scale "scaleFactor").
Matrix TransformMatrix(const Node &node, const char *scaleName) {
  auto t = Numbers(node, "translation", {0, 0, 0});
  auto r = Numbers(node, "rotation", {0, 0, 1, 0});
  auto s = Numbers(node, scaleName, {1, 1, 1});
  auto so = Numbers(node, "scaleOrientation", {0, 0, 1, 0});
  auto c = Numbers(node, "center", {0, 0, 0});
  Matrix m = Translation(t[0] + c[0], t[1] + c[1], t[2] + c[2]);
  m = Multiply(m, Rotation(r[0], r[1], r[2], r[3]));
  m = Multiply(m, Rotation(so[0], so[1], so[2], so[3]));
  m = Multiply(m, Scaling(s[0], s[1], s[2]));
  m = Multiply(m, Rotation(so[0], so[1], so[2], -so[3]));
  return Multiply(m, Translation(-c[0], -c[1], -c[2]));
}

class Builder {
public:
  Builder(const std::string &name, Skipped &skipped) : name_(name), skipped_(skipped) {}

  // Adds the faces of one face set. Points of the same coordinate node under the same transform
  // are placed once, however many face sets share them.
  void AddFaceSet(const Node *source, const std::vector<double> &points, const Matrix &m,
                  const std::vector<double> &coordIndex, bool reverse, int line) {
    std::size_t count = points.size() / 3;
    auto key = std::make_pair(source, m);
    auto it = bases_.find(key);
    std::size_t base;
    if (it != bases_.end()) {
      base = it->second;
    } else {
      base = xyz_.size() / 3;
      if (count > kMaxVertices - base) TooLarge("vertices", line);
      xyz_.reserve(xyz_.size() + 3 * count);
      for (std::size_t i = 0; i < count; ++i) {
        double x = points[3 * i], y = points[3 * i + 1], z = points[3 * i + 2];
        xyz_.push_back(m[0] * x + m[4] * y + m[8] * z + m[12]);
        xyz_.push_back(m[1] * x + m[5] * y + m[9] * z + m[13]);
        xyz_.push_back(m[2] * x + m[6] * y + m[10] * z + m[14]);
        for (std::size_t k = xyz_.size() - 3; k < xyz_.size(); ++k)
          if (!(std::fabs(xyz_[k]) <= 3.4e38)) // the viewer keeps coordinates as floats
            throw ConvertError(name_ + ": line " + std::to_string(line) +
                               ": a transformed point lies beyond the range of coordinates");
      }
      bases_.emplace(key, base);
    }
    if (Determinant3(m) < 0) reverse = !reverse; // a mirroring transform turns faces inside out
    std::size_t start = 0;
    for (std::size_t i = 0; i <= coordIndex.size(); ++i) {
      if (i < coordIndex.size() && coordIndex[i] != -1) {
        double v = coordIndex[i];
        if (v < 0 || v != std::floor(v) || v >= double(count)) {
          char what[160];
          std::snprintf(what, sizeof what, "coordIndex %g out of range (%zu points)", v, count);
          throw ConvertError(name_ + ": line " + std::to_string(line) + ": " + what);
        }
        continue;
      }
      // A run ends at -1 or at the end of the list.
      std::size_t n = i - start;
      if (n >= 3) {
        if (n > kMaxIndices - indices_.size()) TooLarge("facet corners", line);
        corners_.clear();
        for (std::size_t k = 0; k < n; ++k) {
          std::size_t at = reverse ? i - 1 - k : start + k;
          corners_.push_back(int(base + std::size_t(coordIndex[at])));
        }
        // The file holds no colour, material or normal per facet: the viewer lights each piece
        // of a split face by its own corners, which keep the face's winding, so every piece
        // faces the face's way.
        SplitFace(xyz_, corners_.data(), n, sizes_, indices_, splitWork_);
        if (indices_.size() > kMaxIndices) TooLarge("facet corners", line);
      } else if (n > 0) {
        ++skipped_.faces;
      }
      start = i + 1;
    }
  }

  void AddBox(const Node *source, double sx, double sy, double sz, const Matrix &m, int line) {
    std::vector<double> points;
    for (int i = 0; i < 8; ++i) {
      points.push_back(i & 1 ? sx / 2 : -sx / 2);
      points.push_back(i & 2 ? sy / 2 : -sy / 2);
      points.push_back(i & 4 ? sz / 2 : -sz / 2);
    }
    static const std::vector<double> faces = {0, 2, 3, 1, -1, 4, 5, 7, 6, -1, 0, 4, 6, 2, -1,
                                              1, 3, 7, 5, -1, 0, 1, 5, 4, -1, 2, 6, 7, 3};
    AddFaceSet(source, points, m, faces, false, line);
  }

  void Skip(const std::string &type) { ++skipped_.shapes[type]; }

  // The mesh with only the vertices that some facet uses, in their order: no stray points widen
  // the bounding box, and index 0 is always in use, which marks the file as zero-based.
  Mesh Finish() {
    std::vector<int> remap(xyz_.size() / 3, -1);
    for (int i : indices_) remap[std::size_t(i)] = 0;
    Mesh mesh;
    int next = 0;
    for (std::size_t v = 0; v < remap.size(); ++v) {
      if (remap[v] < 0) continue;
      remap[v] = next++;
      mesh.xyz.insert(mesh.xyz.end(), xyz_.begin() + long(3 * v), xyz_.begin() + long(3 * v + 3));
    }
    mesh.sizes = std::move(sizes_);
    mesh.indices = std::move(indices_);
    for (int &i : mesh.indices) i = remap[std::size_t(i)];
    return mesh;
  }

private:
  const std::string &name_;
  Skipped &skipped_;
  std::vector<double> xyz_;
  std::vector<int> sizes_, indices_;
  std::vector<int> corners_; // the face at hand
  long splitWork_ = kMaxSplitWork;
  std::map<std::pair<const Node *, Matrix>, std::size_t> bases_;

  [[noreturn]] void TooLarge(const char *what, int line) {
    throw ConvertError(name_ + ": line " + std::to_string(line) + ": more " + what +
                       " than the converter takes");
  }
};

bool IsGeometry1(const std::string &type) {
  static const char *const kinds[] = {"Sphere",
                                      "Cone",
                                      "Cylinder",
                                      "AsciiText",
                                      "Text2",
                                      "Text3",
                                      "PointSet",
                                      "IndexedLineSet",
                                      "FaceSet",
                                      "TriangleStripSet",
                                      "QuadMesh",
                                      "WWWInline",
                                      "NurbsSurface",
                                      "IndexedNurbsSurface",
                                      "IndexedTriangleStripSet"};
  for (const char *k : kinds)
    if (type == k) return true;
  return false;
}

// The node types the walk below interprets and the fields it reads from each; the parser passes
// over everything else. A field read below must be named here.
const Schema &WalkedNodes() {
  static const Schema schema = {
      {
          {"Separator", {}},
          {"WWWAnchor", {}},
          {"TransformSeparator", {}},
          {"Group", {}},
          {"LOD", {}},
          {"Switch", {"whichChild"}},
          {"Transform", {"translation", "rotation", "scaleFactor", "scaleOrientation", "center"}},
          {"Translation", {"translation"}},
          {"Rotation", {"rotation"}},
          {"Scale", {"scaleFactor"}},
          {"MatrixTransform", {"matrix"}},
          {"Coordinate3", {"point"}},
          {"ShapeHints", {"vertexOrdering"}},
          {"IndexedFaceSet", {"coordIndex"}},
          {"Cube", {"width", "height", "depth"}},
      },
      {
          {"Transform",
           {"translation", "rotation", "scale", "scaleOrientation", "center", "children"}},
          {"Group", {"children"}},
          {"Anchor", {"children"}},
          {"Billboard", {"children"}},
          {"Collision", {"children"}},
          {"Switch", {"whichChoice", "choice"}},
          {"LOD", {"level"}},
          {"Shape", {"geometry"}},
          {"IndexedFaceSet", {"coord", "coordIndex", "ccw"}},
          {"Coordinate", {"point"}},
          {"Box", {"size"}},
      },
  };
  return schema;
}

// VRML 1.0: a group's children run in order over one traversal state, which a Separator saves
// and restores.
struct State1 {
  Matrix m = Identity();
  const Node *coords = nullptr;
  bool clockwise = false;
};

class Walker {
public:
  Walker(Builder &b) : b_(b) {}

  void Walk1(const Node &node, State1 &st, int depth) {
    CheckDepth(node, depth);
    const std::string &t = node.type;
    if (t == "Separator" || t == "WWWAnchor") {
      State1 saved = st;
      Children1(node, st, depth);
      st = saved;
    } else if (t == "TransformSeparator") {
      Matrix saved = st.m;
      Children1(node, st, depth);
      st.m = saved;
    } else if (t == "Group") {
      Children1(node, st, depth);
    } else if (t == "Switch") {
      auto which = Numbers(node, "whichChild", {-1});
      if (which[0] == -3) {
        Children1(node, st, depth);
      } else if (which[0] >= 0 && which[0] < double(node.children.size())) {
        Walk1(*node.children[std::size_t(which[0])], st, depth + 1);
      }
    } else if (t == "LOD") {
      if (!node.children.empty()) Walk1(*node.children[0], st, depth + 1);
    } else if (t == "Transform") {
      st.m = Multiply(st.m, TransformMatrix(node, "scaleFactor"));
    } else if (t == "Translation") {
      auto v = Numbers(node, "translation", {0, 0, 0});
      st.m = Multiply(st.m, Translation(v[0], v[1], v[2]));
    } else if (t == "Rotation") {
      auto v = Numbers(node, "rotation", {0, 0, 1, 0});
      st.m = Multiply(st.m, Rotation(v[0], v[1], v[2], v[3]));
    } else if (t == "Scale") {
      auto v = Numbers(node, "scaleFactor", {1, 1, 1});
      st.m = Multiply(st.m, Scaling(v[0], v[1], v[2]));
    } else if (t == "MatrixTransform") {
      Matrix local = Identity();
      auto v = Numbers(node, "matrix", std::vector<double>(local.begin(), local.end()));
      std::copy(v.begin(), v.end(), local.begin());
      st.m = Multiply(st.m, local);
    } else if (t == "Coordinate3") {
      st.coords = &node;
    } else if (t == "ShapeHints") {
      std::string order = Word(node, "vertexOrdering");
      if (order == "CLOCKWISE") st.clockwise = true;
      if (order == "COUNTERCLOCKWISE" || order == "UNKNOWN_ORDERING") st.clockwise = false;
    } else if (t == "IndexedFaceSet") {
      const Field *index = node.field("coordIndex");
      if (!index || index->nums.empty()) return;
      const Field *points = st.coords ? st.coords->field("point") : nullptr;
      static const std::vector<double> none;
      b_.AddFaceSet(st.coords, points ? points->nums : none, st.m, index->nums, st.clockwise,
                    index->line);
    } else if (t == "Cube") {
      auto w = Numbers(node, "width", {2}), h = Numbers(node, "height", {2});
      auto d = Numbers(node, "depth", {2});
      b_.AddBox(&node, w[0], h[0], d[0], st.m, node.line);
    } else if (IsGeometry1(t)) {
      b_.Skip(t);
    }
  }

  void Walk2(const Node &node, const Matrix &m, int depth) {
    CheckDepth(node, depth);
    const std::string &t = node.type;
    if (t == "Transform") {
      Children2(node, "children", Multiply(m, TransformMatrix(node, "scale")), depth);
    } else if (t == "Group" || t == "Anchor" || t == "Billboard" || t == "Collision") {
      Children2(node, "children", m, depth);
    } else if (t == "Switch") {
      auto which = Numbers(node, "whichChoice", {-1});
      const Field *choice = node.field("choice");
      if (choice && which[0] >= 0 && which[0] < double(choice->nodes.size()))
        Walk2(*choice->nodes[std::size_t(which[0])], m, depth + 1);
    } else if (t == "LOD") {
      const Field *level = node.field("level");
      if (level && !level->nodes.empty()) Walk2(*level->nodes[0], m, depth + 1);
    } else if (t == "Shape") {
      if (const Node *g = NodeOf(node, "geometry")) Geometry2(*g, m);
    } else if (t == "Inline") {
      b_.Skip(t);
    }
  }

  // The top level of a 2.0 file, and the children of a 1.0 file's implicit group.
  void Children2(const Node &node, const char *field, const Matrix &m, int depth) {
    for (const Node *child : node.children) Walk2(*child, m, depth + 1);
    if (const Field *f = node.field(field))
      for (const Node *child : f->nodes) Walk2(*child, m, depth + 1);
  }

private:
  Builder &b_;

  void Children1(const Node &node, State1 &st, int depth) {
    for (const Node *child : node.children) Walk1(*child, st, depth + 1);
  }

  void Geometry2(const Node &g, const Matrix &m) {
    if (g.type == "IndexedFaceSet") {
      const Field *index = g.field("coordIndex");
      if (!index || index->nums.empty()) return;
      const Node *coord = NodeOf(g, "coord");
      const Field *points = coord ? coord->field("point") : nullptr;
      static const std::vector<double> none;
      b_.AddFaceSet(coord, points ? points->nums : none, m, index->nums, Word(g, "ccw") == "FALSE",
                    index->line);
    } else if (g.type == "Box") {
      auto s = Numbers(g, "size", {2, 2, 2});
      b_.AddBox(&g, s[0], s[1], s[2], m, g.line);
    } else {
      b_.Skip(g.type);
    }
  }

  long visits_ = 0;

  // USE can reach one node along many paths, and a chain of doubling USEs reaches an
  // astronomical number of instances: depth and the count of instances visited stay bounded.
  void CheckDepth(const Node &node, int depth) {
    if (depth > 4 * kMaxDepth)
      throw ConvertError("line " + std::to_string(node.line) + ": scene nested too deeply");
    if (++visits_ > kMaxVisits)
      throw ConvertError("line " + std::to_string(node.line) +
                         ": more node instances than the converter takes");
  }
};

// Coordinates are written as plain decimals, without exponents: six decimals, or more for an
// object so small that six would blur it. Rounding noise far below the object's size (a cosine
// of a right angle) then reads as 0.
int CoordinateDecimals(const std::vector<double> &xyz) {
  double largest = 0;
  for (double v : xyz) largest = std::max(largest, std::fabs(v));
  if (largest == 0 || largest >= 1) return 6;
  return std::min(40, 6 + int(std::ceil(-std::log10(largest))));
}

// Appends a non-negative integer, at least `width` digits.
void AppendDigits(std::string &out, uint64_t v, int width = 1) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = char('0' + v % 10);
    v /= 10;
  } while (v || n < width);
  char text[24];
  for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
  out.append(text, std::size_t(n));
}

void AppendCoordinate(std::string &out, double v, int decimals) {
  static const uint64_t kScale[] = {1,      10,      100,      1000,      10000,
                                    100000, 1000000, 10000000, 100000000, 1000000000};
  // The usual case by integer arithmetic: the coordinates are most of the work of writing.
  if (decimals <= 9 && std::fabs(v) < 1e9) {
    uint64_t scale = kScale[decimals];
    uint64_t r = uint64_t(std::fabs(v) * double(scale) + 0.5);
    if (v < 0 && r != 0) out += '-';
    AppendDigits(out, r / scale);
    out += '.';
    AppendDigits(out, r % scale, decimals);
    return;
  }
  char buf[400];
  int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  if (n <= 0 || std::size_t(n) >= sizeof buf) n = std::snprintf(buf, sizeof buf, "%.9g", v);
  const char *text = buf;
  // "-0.000000" is a zero too.
  if (buf[0] == '-' && std::strspn(buf + 1, "0.") == std::size_t(n - 1)) ++text;
  out += text;
}

} // namespace

std::string ReadInput(const std::string &path) {
  gzFile in = gzopen(path.c_str(), "rb");
  if (!in) throw ConvertError(path + ": cannot open: " + std::strerror(errno ? errno : ENOENT));
  std::string text;
  std::vector<char> buf(1 << 20);
  for (;;) {
    int n = gzread(in, buf.data(), unsigned(buf.size()));
    if (n < 0) {
      int code = 0;
      std::string message = gzerror(in, &code);
      if (code == Z_ERRNO) message = std::strerror(errno);
      gzclose(in);
      throw ConvertError(path + ": cannot read: " + message);
    }
    if (n == 0) break;
    if (text.size() + std::size_t(n) > kMaxInputBytes) {
      gzclose(in);
      throw ConvertError(path + ": larger than the converter takes");
    }
    text.append(buf.data(), std::size_t(n));
  }
  gzclose(in);
  return text;
}

Mesh Convert(const std::string &text, const std::string &name, Skipped &skipped) {
  Scene scene;
  ParseScene(text, name, WalkedNodes(), scene);
  Builder builder(name, skipped);
  Walker walker(builder);
  try {
    if (scene.version == 1) {
      State1 st;
      walker.Walk1(scene.root, st, 0);
    } else {
      walker.Children2(scene.root, "children", Identity(), 0);
    }
  } catch (const ConvertError &e) {
    std::string what = e.what();
    if (what.compare(0, name.size(), name) == 0) throw;
    throw ConvertError(name + ": " + what);
  }
  Mesh mesh = builder.Finish();
  if (mesh.sizes.empty()) throw ConvertError(name + ": no face sets to convert");
  return mesh;
}

void WriteGeom(const Mesh &mesh, const std::string &path) {
  FILE *out = std::fopen(path.c_str(), "w");
  if (!out) throw ConvertError(path + ": cannot write: " + std::strerror(errno));
  std::string text;
  text.reserve(1 << 20);
  bool failed = false;
  auto flush = [&](bool force) {
    if (text.size() < (1u << 20) && !force) return;
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), out) != text.size())
      failed = true;
    text.clear();
  };
  AppendDigits(text, mesh.vertexCount());
  text += '\t';
  AppendDigits(text, mesh.sizes.size());
  text += '\t';
  AppendDigits(text, mesh.indices.size());
  text += '\n';
  int decimals = CoordinateDecimals(mesh.xyz);
  for (std::size_t v = 0; v < mesh.vertexCount(); ++v) {
    for (int k = 0; k < 3; ++k) {
      AppendCoordinate(text, mesh.xyz[3 * v + std::size_t(k)], decimals);
      text += k < 2 ? '\t' : '\n';
    }
    flush(false);
  }
  std::size_t at = 0;
  for (int n : mesh.sizes) {
    AppendDigits(text, std::size_t(n));
    text += '\t';
    for (int k = 0; k < n; ++k) {
      AppendDigits(text, std::size_t(mesh.indices[at++]));
      text += ' ';
    }
    text += '\n';
    flush(false);
  }
  flush(true);
  int saved = errno;
  if (std::fclose(out) != 0 && !failed) failed = true, saved = errno;
  if (failed) {
    std::remove(path.c_str());
    throw ConvertError(path + ": cannot write: " + std::strerror(saved));
  }
}

std::string SkippedLine(const std::string &name, const Skipped &skipped) {
  std::string line;
  if (!skipped.shapes.empty()) {
    int total = 0;
    std::string kinds;
    for (const auto &k : skipped.shapes) {
      total += k.second;
      kinds += (kinds.empty() ? "" : ", ") + k.first;
    }
    line = std::to_string(total) + (total == 1 ? " shape" : " shapes") +
           " that are not face sets (" + kinds + ")";
  }
  if (skipped.faces) {
    if (!line.empty()) line += " and ";
    line += std::to_string(skipped.faces) + (skipped.faces == 1 ? " face" : " faces") +
            " with fewer than three corners";
  }
  if (line.empty()) return line;
  return "mirandel-wrl2geom: " + name + ": skipped " + line + "\n";
}

int Main(int argc, char **argv) {
  if (argc != 3) {
    std::fputs("usage: mirandel-wrl2geom IN.wrl OUT.geom\n", stderr);
    return 1;
  }
  try {
    std::string in = argv[1];
    Skipped skipped;
    Mesh mesh = Convert(ReadInput(in), in, skipped);
    std::fputs(SkippedLine(in, skipped).c_str(), stderr);
    WriteGeom(mesh, argv[2]);
  } catch (const ConvertError &e) {
    std::fprintf(stderr, "mirandel-wrl2geom: %s\n", e.what());
    return 1;
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "mirandel-wrl2geom: %s: out of memory\n", argv[1]);
    return 1;
  }
  return 0;
}

} // namespace wrl2geom
