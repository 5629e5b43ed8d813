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

using Rgb = std::array<float, 3>;
// What a face set without a colour of its own shows where other face sets have one: the
// default diffuse colour of a material.
const Rgb kDefaultDiffuse = {0.8f, 0.8f, 0.8f};

// How a face set's colours are bound to it, in the terms of both versions.
struct Colouring {
  enum Kind {
    kNone,             // no material, no colours
    kOverall,          // colours[0] for every face
    kPerFace,          // colours[f] for face f
    kPerFaceIndexed,   // colours[index[f]]
    kPerVertex,        // colours[coordIndex[i]]: a colour per point
    kPerCorner,        // colours[k] for the k-th corner in order
    kPerCornerIndexed, // colours[index[i]], `index` running beside coordIndex
  } kind = kNone;
  std::vector<double> colours; // r g b triples
  const std::vector<double> *index = nullptr;

  // Colour number `n`, clamped to the range; the default where the world gives none.
  Rgb At(double n) const {
    if (!(n >= 0) || n != std::floor(n) || 3 * n + 2 >= double(colours.size()))
      return kDefaultDiffuse;
    std::size_t k = 3 * std::size_t(n);
    Rgb c;
    for (int i = 0; i < 3; ++i) c[i] = float(std::min(1.0, std::max(0.0, colours[k + i])));
    return c;
  }
  // The colour of the corner at coordIndex position `i`, the `corner`-th of face `face`.
  Rgb Of(const std::vector<double> &coordIndex, std::size_t i, std::size_t face,
         std::size_t corner) const {
    auto indexAt = [this](std::size_t k) { return index && k < index->size() ? (*index)[k] : -1; };
    switch (kind) {
    case kOverall:
      return At(0);
    case kPerFace:
      return At(double(face));
    case kPerFaceIndexed:
      return At(indexAt(face));
    case kPerVertex:
      return At(coordIndex[i]);
    case kPerCorner:
      return At(double(corner));
    case kPerCornerIndexed:
      return At(indexAt(i));
    case kNone:
      break;
    }
    return kDefaultDiffuse;
  }
};

class Builder {
public:
  Builder(const std::string &name, Skipped &skipped) : name_(name), skipped_(skipped) {}

  // Adds the faces of one face set. Points of the same coordinate node under the same transform
  // are placed once, however many face sets share them.
  void AddFaceSet(const Node *source, const std::vector<double> &points, const Matrix &m,
                  const std::vector<double> &coordIndex, bool reverse, int line,
                  const Colouring &colouring = Colouring()) {
    // Corners get colours once any face set has them; those before get the default.
    if (colouring.kind != Colouring::kNone && !coloured_) {
      coloured_ = true;
      cornerRgb_.assign(indices_.size(), kDefaultDiffuse);
    }
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
    std::size_t start = 0, face = 0, cornersBefore = 0;
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
        faceRgb_.clear();
        for (std::size_t k = 0; k < n; ++k) {
          std::size_t at = reverse ? i - 1 - k : start + k;
          corners_.push_back(int(base + std::size_t(coordIndex[at])));
          if (coloured_)
            faceRgb_.push_back(colouring.Of(coordIndex, at, face, cornersBefore + (at - start)));
        }
        // The file holds no normal per facet: the viewer lights each piece of a split face by
        // its own corners, which keep the face's winding, so every piece faces the face's way.
        std::size_t first = indices_.size();
        SplitFace(xyz_, corners_.data(), n, sizes_, indices_, splitWork_);
        if (indices_.size() > kMaxIndices) TooLarge("facet corners", line);
        if (coloured_) ColourPieces(first);
      } else if (n > 0) {
        ++skipped_.faces;
      }
      // Colours count faces and corners as the file writes them, short faces too.
      if (n > 0) ++face;
      cornersBefore += n;
      start = i + 1;
    }
  }

  void AddBox(const Node *source, double sx, double sy, double sz, const Matrix &m, int line,
              const Colouring &colouring) {
    std::vector<double> points;
    for (int i = 0; i < 8; ++i) {
      points.push_back(i & 1 ? sx / 2 : -sx / 2);
      points.push_back(i & 2 ? sy / 2 : -sy / 2);
      points.push_back(i & 4 ? sz / 2 : -sz / 2);
    }
    static const std::vector<double> faces = {0, 2, 3, 1, -1, 4, 5, 7, 6, -1, 0, 4, 6, 2, -1,
                                              1, 3, 7, 5, -1, 0, 1, 5, 4, -1, 2, 6, 7, 3};
    Colouring overall = colouring;
    if (overall.kind != Colouring::kNone) overall.kind = Colouring::kOverall;
    AddFaceSet(source, points, m, faces, false, line, overall);
  }

  void Skip(const std::string &type) { ++skipped_.shapes[type]; }

  // The mesh with only the vertices that some facet uses, in their order: no stray points widen
  // the bounding box, and index 0 is always in use, which marks the file as zero-based.
  Mesh Finish() {
    std::vector<float> facetRgb, vertexRgb;
    if (coloured_) Colours(facetRgb, vertexRgb);
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
    mesh.facetRgb = std::move(facetRgb);
    for (std::size_t v = 0; v < remap.size() && !vertexRgb.empty(); ++v)
      if (remap[v] >= 0)
        mesh.vertexRgb.insert(mesh.vertexRgb.end(), vertexRgb.begin() + long(3 * v),
                              vertexRgb.begin() + long(3 * v + 3));
    return mesh;
  }

private:
  const std::string &name_;
  Skipped &skipped_;
  std::vector<double> xyz_;
  std::vector<int> sizes_, indices_;
  std::vector<int> corners_; // the face at hand
  std::vector<Rgb> faceRgb_; // the colours of its corners
  bool coloured_ = false;
  std::vector<Rgb> cornerRgb_; // beside indices_, once coloured_

  // The colours of the pieces a face was written as, from indices_[first] on: each corner
  // takes the colour of the face's corner at its point.
  void ColourPieces(std::size_t first) {
    for (std::size_t k = first; k < indices_.size(); ++k) {
      std::size_t c = 0;
      while (c + 1 < corners_.size() && corners_[c] != indices_[k]) ++c;
      cornerRgb_.push_back(faceRgb_[c]);
    }
  }

  // One colour per facet where each facet's corners agree; else one per vertex, a vertex whose
  // corners differ being placed again for each further colour.
  void Colours(std::vector<float> &facetRgb, std::vector<float> &vertexRgb) {
    bool perFacet = true;
    for (std::size_t f = 0, at = 0; f < sizes_.size() && perFacet; at += std::size_t(sizes_[f++]))
      for (int k = 1; k < sizes_[f] && perFacet; ++k)
        perFacet = cornerRgb_[at + std::size_t(k)] == cornerRgb_[at];
    if (perFacet) {
      for (std::size_t f = 0, at = 0; f < sizes_.size(); at += std::size_t(sizes_[f++]))
        facetRgb.insert(facetRgb.end(), cornerRgb_[at].begin(), cornerRgb_[at].end());
      return;
    }
    std::size_t count = xyz_.size() / 3;
    std::vector<Rgb> vertex(count);
    std::vector<bool> set(count, false);
    std::map<std::pair<int, Rgb>, int> copies;
    for (std::size_t k = 0; k < indices_.size(); ++k) {
      std::size_t v = std::size_t(indices_[k]);
      const Rgb &c = cornerRgb_[k];
      if (!set[v]) {
        set[v] = true;
        vertex[v] = c;
      } else if (vertex[v] != c) {
        auto it = copies.find({indices_[k], c});
        if (it == copies.end()) {
          if (xyz_.size() / 3 >= kMaxVertices) TooLarge("vertices", 0);
          it = copies.emplace(std::make_pair(indices_[k], c), int(xyz_.size() / 3)).first;
          double point[3] = {xyz_[3 * v], xyz_[3 * v + 1], xyz_[3 * v + 2]};
          xyz_.insert(xyz_.end(), point, point + 3);
          vertex.push_back(c);
          set.push_back(true);
        }
        indices_[k] = it->second;
      }
    }
    for (const Rgb &c : vertex) vertexRgb.insert(vertexRgb.end(), c.begin(), c.end());
  }
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
          {"Material", {"diffuseColor"}},
          {"MaterialBinding", {"value"}},
          {"IndexedFaceSet", {"coordIndex", "materialIndex"}},
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
          {"Shape", {"appearance", "geometry"}},
          {"Appearance", {"material"}},
          {"Material", {"diffuseColor"}},
          {"IndexedFaceSet",
           {"coord", "coordIndex", "ccw", "color", "colorIndex", "colorPerVertex"}},
          {"Coordinate", {"point"}},
          {"Color", {"color"}},
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
  const Node *material = nullptr; // the last Material: its diffuse colours
  std::string binding;            // the last MaterialBinding's value
};

// A 1.0 face set's colours: the current material's diffuse colours under the current binding.
Colouring Colouring1(const State1 &st, const Node &faceSet) {
  Colouring c;
  if (!st.material) return c;
  const Field *diffuse = st.material->field("diffuseColor");
  c.colours =
      diffuse && diffuse->nums.size() >= 3 ? diffuse->nums : std::vector<double>{.8, .8, .8};
  const Field *index = faceSet.field("materialIndex");
  c.index = index ? &index->nums : nullptr;
  const std::string &b = st.binding;
  if (b == "PER_FACE" || b == "PER_PART")
    c.kind = Colouring::kPerFace;
  else if (b == "PER_FACE_INDEXED" || b == "PER_PART_INDEXED")
    c.kind = Colouring::kPerFaceIndexed;
  else if (b == "PER_VERTEX")
    c.kind = Colouring::kPerCorner;
  else if (b == "PER_VERTEX_INDEXED")
    c.kind = Colouring::kPerCornerIndexed;
  else
    c.kind = Colouring::kOverall;
  return c;
}

// A 2.0 shape's colours: its face set's Color node, else its material's diffuse colour.
Colouring Colouring2(const Node *appearance, const Node &geometry) {
  Colouring c;
  const Field *colourField = nullptr;
  if (const Field *f = geometry.field("color"))
    if (!f->nodes.empty()) colourField = f->nodes[0]->field("color");
  if (colourField && colourField->nums.size() >= 3) {
    c.colours = colourField->nums;
    const Field *index = geometry.field("colorIndex");
    bool indexed = index && !index->nums.empty();
    c.index = indexed ? &index->nums : nullptr;
    const Field *perVertex = geometry.field("colorPerVertex");
    if (perVertex && !perVertex->words.empty() && perVertex->words[0] == "FALSE")
      c.kind = indexed ? Colouring::kPerFaceIndexed : Colouring::kPerFace;
    else
      c.kind = indexed ? Colouring::kPerCornerIndexed : Colouring::kPerVertex;
    return c;
  }
  const Field *materialField = appearance ? appearance->field("material") : nullptr;
  if (!materialField || materialField->nodes.empty()) return c;
  const Field *diffuse = materialField->nodes[0]->field("diffuseColor");
  c.colours =
      diffuse && diffuse->nums.size() >= 3 ? diffuse->nums : std::vector<double>{.8, .8, .8};
  c.kind = Colouring::kOverall;
  return c;
}

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
    } else if (t == "Material") {
      st.material = &node;
    } else if (t == "MaterialBinding") {
      st.binding = Word(node, "value");
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
                    index->line, Colouring1(st, node));
    } else if (t == "Cube") {
      auto w = Numbers(node, "width", {2}), h = Numbers(node, "height", {2});
      auto d = Numbers(node, "depth", {2});
      b_.AddBox(&node, w[0], h[0], d[0], st.m, node.line, Colouring1(st, node));
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
      if (const Node *g = NodeOf(node, "geometry")) Geometry2(*g, NodeOf(node, "appearance"), m);
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

  void Geometry2(const Node &g, const Node *appearance, const Matrix &m) {
    if (g.type == "IndexedFaceSet") {
      const Field *index = g.field("coordIndex");
      if (!index || index->nums.empty()) return;
      const Node *coord = NodeOf(g, "coord");
      const Field *points = coord ? coord->field("point") : nullptr;
      static const std::vector<double> none;
      b_.AddFaceSet(coord, points ? points->nums : none, m, index->nums, Word(g, "ccw") == "FALSE",
                    index->line, Colouring2(appearance, g));
    } else if (g.type == "Box") {
      auto s = Numbers(g, "size", {2, 2, 2});
      b_.AddBox(&g, s[0], s[1], s[2], m, g.line, Colouring2(appearance, g));
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

namespace {

std::string ReadSmallFile(const std::string &path, bool &exists) {
  FILE *in = std::fopen(path.c_str(), "rb");
  exists = in != nullptr;
  std::string text;
  if (!in) return text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0 && text.size() < (1u << 20))
    text.append(buf, n);
  std::fclose(in);
  return text;
}

// Writes `text` to a file beside `path` and renames it over `path`: never half a file.
void WriteWhole(const std::string &path, const std::string &text) {
  std::string temporary = path + ".wrl2geom-new";
  FILE *out = std::fopen(temporary.c_str(), "w");
  if (!out) throw ConvertError(path + ": cannot write: " + std::strerror(errno));
  bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  int saved = errno;
  if (std::fclose(out) != 0 && ok) ok = false, saved = errno;
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) ok = false, saved = errno;
  if (!ok) {
    std::remove(temporary.c_str());
    throw ConvertError(path + ": cannot write: " + std::strerror(saved));
  }
}

} // namespace

void WriteColours(const Mesh &mesh, const std::string &geomPath) {
  std::size_t dot = geomPath.rfind('.'), slash = geomPath.rfind('/');
  std::string stemPath = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                             ? geomPath
                             : geomPath.substr(0, dot);
  std::string stem = stemPath.substr(slash == std::string::npos ? 0 : slash + 1);
  std::string geomName = geomPath.substr(slash == std::string::npos ? 0 : slash + 1);
  std::string headerPath = stemPath + ".aoff";
  bool exists = false;
  std::string old = ReadSmallFile(headerPath, exists);
  // Ours to replace: a header this converter wrote, or the one the viewer makes for a bare
  // geometry file, with what the viewer appended after it; any other header is the user's.
  bool marked = old.compare(0, std::strlen(kHeaderMark), kHeaderMark) == 0;
  bool ours =
      marked ||
      old.compare(0, std::string("\ngeometry\t\tindexed_poly\tfff\t\t" + geomName + "\n").size(),
                  "\ngeometry\t\tindexed_poly\tfff\t\t" + geomName + "\n") == 0;
  const std::vector<float> &rgb = mesh.facetRgb.empty() ? mesh.vertexRgb : mesh.facetRgb;
  if (exists && !ours) {
    if (!rgb.empty())
      std::fprintf(stderr,
                   "mirandel-wrl2geom: %s is not the converter's: the colours are left "
                   "out\n",
                   headerPath.c_str());
    return;
  }
  // A world without colours keeps the header the viewer completes, as it always has.
  if (rgb.empty() && !marked) return;
  std::string header =
      std::string(kHeaderMark) + "\ngeometry\t\tindexed_poly\tfff\t\t" + geomName + "\n";
  if (!rgb.empty()) {
    bool facets = !mesh.facetRgb.empty();
    std::string colourName = stem + (facets ? ".pcolor" : ".vcolor");
    std::string text;
    AppendDigits(text, rgb.size() / 3);
    text += '\n';
    for (std::size_t k = 0; k < rgb.size(); k += 3) {
      for (int i = 0; i < 3; ++i) {
        AppendCoordinate(text, rgb[k + std::size_t(i)], 6);
        text += i < 2 ? '\t' : '\n';
      }
    }
    WriteWhole(stemPath.substr(0, stemPath.size() - stem.size()) + colourName, text);
    header += std::string(facets ? "polygon_colors" : "vertex_colors") + "\t\tgeneric\t\tfff\t\t" +
              colourName + "\n";
  }
  WriteWhole(headerPath, header);
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
    WriteColours(mesh, argv[2]);
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
