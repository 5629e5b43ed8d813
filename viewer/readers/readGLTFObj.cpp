#include "viewer/readers/readGLTFObj.h"

#include "base/fatal.h"
#include "base/files.h"
#include "viewer/model/object.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/formatTable.h"
#include "viewer/readers/gltfFile.h"

#include <cmath>
#include <cstring>
#include <map>

namespace {

const char *const kModule = "readGLTFObj";
static_assert(sizeof(Coord) == 3 * sizeof(float) && sizeof(Vector) == 3 * sizeof(float) &&
                  sizeof(ColorRGB) == 3 * sizeof(float),
              "the accessors' floats are read straight into the model's records");

enum Mode { kPoints = 0, kLines, kLineLoop, kLineStrip, kTriangles, kStrip, kFan };

// Extensions that change nothing this viewer draws (looks, lights, metadata) by the words of
// their names; any other one a file requires may change the geometry and ends the load.
bool Harmless(const std::string &name) {
  for (const char *word : {"_materials_", "_texture_", "_lights_", "_xmp", "_animation_pointer",
                           "_techniques_", "_image_based", "_materials_common"})
    if (name.find(word) != std::string::npos) return true;
  return false;
}

void CheckRequiredExtensions(const GltfDoc &doc) {
  const Json &req = GltfArray(doc, doc.json, "extensionsRequired", "the file");
  std::string refused;
  for (const Json &e : req) {
    if (!e.is_string()) GltfFail(doc, "extensionsRequired holds a value that is not a name");
    const std::string &name = e.get_ref<const std::string &>();
    if (name == "KHR_draco_mesh_compression" || name == "EXT_meshopt_compression" ||
        name == "KHR_mesh_quantization" || Harmless(name))
      continue;
    refused += refused.empty() ? name : ", " + name;
  }
  if (!refused.empty())
    GltfFail(doc, "the file requires %s, which this reader does not support", refused.c_str());
}

// 4 x 4 matrices, column-major as glTF stores them.
struct Matrix {
  double m[16];
};
const Matrix kIdentity{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

Matrix Multiply(const Matrix &a, const Matrix &b) {
  Matrix r;
  for (int c = 0; c < 4; ++c)
    for (int row = 0; row < 4; ++row) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += a.m[k * 4 + row] * b.m[c * 4 + k];
      r.m[c * 4 + row] = s;
    }
  return r;
}

Matrix NodeMatrix(const GltfDoc &doc, const Json &node, const std::string &where) {
  Matrix m = kIdentity;
  if (GltfNumbers(doc, node, "matrix", 16, m.m, where)) return m;
  double t[3] = {0, 0, 0}, q[4] = {0, 0, 0, 1}, s[3] = {1, 1, 1};
  GltfNumbers(doc, node, "translation", 3, t, where);
  GltfNumbers(doc, node, "rotation", 4, q, where);
  GltfNumbers(doc, node, "scale", 3, s, where);
  double len = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (len > 0)
    for (double &c : q) c /= len;
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  const double r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w),     2 * (x * z - y * w),
                       2 * (x * y - z * w),     1 - 2 * (x * x + z * z), 2 * (y * z + x * w),
                       2 * (x * z + y * w),     2 * (y * z - x * w),     1 - 2 * (x * x + y * y)};
  for (int c = 0; c < 3; ++c)
    for (int row = 0; row < 3; ++row) m.m[c * 4 + row] = r[c * 3 + row] * s[c];
  m.m[12] = t[0];
  m.m[13] = t[1];
  m.m[14] = t[2];
  return m;
}

// One primitive as the file gives it, checked once however often it is drawn.
struct Prim {
  bool drawn = false; // triangles of some kind with positions
  int mode = kTriangles;
  GltfAccessor position, normal, color, index;
  bool hasNormal = false, hasColor = false, hasIndex = false;
  std::unique_ptr<GLTFDracoMesh> draco;
  std::size_t vertices = 0, indexCount = 0, triangles = 0;
  bool hasMaterial = false;
  float material[3] = {1, 1, 1};
  std::string where; // "meshes[m].primitives[p]"
};

// One drawing of a primitive: the node's transform to the scene.
struct Piece {
  const Prim *prim;
  const Matrix *matrix;
};

class SceneReader {
public:
  explicit SceneReader(GltfDoc &doc) : doc_(doc) {}
  std::unique_ptr<GLTFScene> Read();

private:
  void Walk(std::size_t root);
  void Draw(std::size_t mesh, const Matrix &m);
  std::vector<Prim> &MeshPrims(std::size_t mesh);
  void ReadPrim(const Json &p, Prim &prim, const std::string &where);
  void Fill(const Piece &piece, GLTFScene &scene, std::size_t base, std::size_t firstTriangle);

  GltfDoc &doc_;
  std::size_t nodeCount_ = 0, materialCount_ = 0;
  std::vector<char> nodeState_; // 0 unseen, 1 on the path being walked, 2 done
  std::map<std::size_t, std::vector<Prim>> meshes_;
  std::vector<std::unique_ptr<Matrix>> matrices_;
  std::vector<Piece> pieces_;
  std::size_t skippedLines_ = 0;
  bool anyNormalMissing_ = false, anyColor_ = false, anyMaterial_ = false;
};

void SceneReader::ReadPrim(const Json &p, Prim &prim, const std::string &where) {
  const std::size_t big = std::size_t(1) << 40;
  prim.where = where;
  prim.mode = static_cast<int>(GltfSize(doc_, p, "mode", kTriangles, big, where));
  if (prim.mode > kFan) GltfFail(doc_, "%s.mode %d is not a glTF mode", where.c_str(), prim.mode);
  if (prim.mode < kTriangles) {
    ++skippedLines_;
    return;
  }
  const Json *attrs = GltfMember(p, "attributes");
  if (!attrs || !attrs->is_object())
    GltfFail(doc_, "%s.attributes is not an object", where.c_str());
  const std::size_t accessors = GltfCount(doc_, "accessors");
  long long pos = GltfRef(doc_, *attrs, "POSITION", accessors, where + ".attributes");
  long long nrm = GltfRef(doc_, *attrs, "NORMAL", accessors, where + ".attributes");
  long long col = GltfRef(doc_, *attrs, "COLOR_0", accessors, where + ".attributes");
  long long idx = GltfRef(doc_, p, "indices", accessors, where);
  long long mat = GltfRef(doc_, p, "material", materialCount_, where);
  if (mat >= 0) {
    prim.hasMaterial = true;
    const Json &m =
        GltfObject(doc_, doc_.json["materials"], static_cast<std::size_t>(mat), "materials");
    const Json *pbr = GltfMember(m, "pbrMetallicRoughness");
    double f[4];
    if (pbr && GltfNumbers(doc_, *pbr, "baseColorFactor", 4, f, "materials"))
      for (int c = 0; c < 3; ++c) prim.material[c] = static_cast<float>(f[c]);
  }
  // A primitive without positions draws nothing.
  if (pos < 0) return;
  prim.drawn = true;

  const Json *ext = GltfMember(p, "extensions");
  const Json *draco = ext ? GltfMember(*ext, "KHR_draco_mesh_compression") : nullptr;
  if (draco && draco->is_object()) {
    std::string at = where + ".extensions.KHR_draco_mesh_compression";
    long long view = GltfRef(doc_, *draco, "bufferView", doc_.views.size(), at);
    if (view < 0) GltfFail(doc_, "%s has no bufferView", at.c_str());
    const Json *ids = GltfMember(*draco, "attributes");
    if (!ids || !ids->is_object()) GltfFail(doc_, "%s.attributes is not an object", at.c_str());
    const std::size_t anyId = std::size_t(1) << 31;
    long long dp = GltfRef(doc_, *ids, "POSITION", anyId, at);
    long long dn = nrm >= 0 ? GltfRef(doc_, *ids, "NORMAL", anyId, at) : -1;
    long long dc = col >= 0 ? GltfRef(doc_, *ids, "COLOR_0", anyId, at) : -1;
    if (dp < 0) GltfFail(doc_, "%s does not name the positions", at.c_str());
    GltfAccessor pa = GltfGetAccessor(doc_, static_cast<std::size_t>(pos), where);
    ALLOC_OR_REPORT("GLTFDracoMesh", 1, kModule, prim.draco = std::make_unique<GLTFDracoMesh>());
    GLTFDecodeDraco(doc_, static_cast<std::size_t>(view), dp, dn, dc, pa.normalized, at,
                    *prim.draco);
    prim.mode = kTriangles; // the compressed mesh holds whole triangles
    prim.vertices = prim.draco->points;
    prim.hasNormal = !prim.draco->normals.empty();
    prim.hasColor = !prim.draco->colors.empty();
    prim.hasIndex = true;
    prim.indexCount = prim.draco->indices.size();
  } else {
    prim.position = GltfGetAccessor(doc_, static_cast<std::size_t>(pos), where + ".POSITION");
    if (prim.position.components != 3)
      GltfFail(doc_, "%s: POSITION is not of type VEC3", where.c_str());
    prim.vertices = prim.position.count;
    if (nrm >= 0) {
      prim.normal = GltfGetAccessor(doc_, static_cast<std::size_t>(nrm), where + ".NORMAL");
      prim.hasNormal = prim.normal.components == 3 && prim.normal.count == prim.vertices;
    }
    if (col >= 0) {
      prim.color = GltfGetAccessor(doc_, static_cast<std::size_t>(col), where + ".COLOR_0");
      prim.hasColor = (prim.color.components == 3 || prim.color.components == 4) &&
                      prim.color.count == prim.vertices;
    }
    if (idx >= 0) {
      prim.index = GltfGetAccessor(doc_, static_cast<std::size_t>(idx), where + ".indices");
      prim.hasIndex = true;
      prim.indexCount = prim.index.count;
    }
  }
  const std::size_t n = prim.hasIndex ? prim.indexCount : prim.vertices;
  prim.triangles = prim.mode == kTriangles ? n / 3 : n >= 3 ? n - 2 : 0;
}

std::vector<Prim> &SceneReader::MeshPrims(std::size_t mesh) {
  auto it = meshes_.find(mesh);
  if (it != meshes_.end()) return it->second;
  std::vector<Prim> &prims = meshes_[mesh];
  std::string where = "meshes[" + std::to_string(mesh) + "]";
  const Json &m = GltfObject(doc_, doc_.json["meshes"], mesh, "meshes");
  const Json &list = GltfArray(doc_, m, "primitives", where);
  ALLOC_OR_REPORT("Prim", list.size(), kModule, prims.resize(list.size()));
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::string at = where + ".primitives[" + std::to_string(i) + "]";
    ReadPrim(GltfObject(doc_, list, i, where + ".primitives"), prims[i], at);
  }
  return prims;
}

void SceneReader::Draw(std::size_t mesh, const Matrix &m) {
  std::vector<Prim> &prims = MeshPrims(mesh);
  std::unique_ptr<Matrix> held;
  ALLOC_OR_REPORT("Matrix", 1, kModule, held = std::make_unique<Matrix>(m));
  for (const Prim &prim : prims) {
    if (!prim.drawn) continue;
    anyNormalMissing_ |= !prim.hasNormal;
    anyColor_ |= prim.hasColor;
    anyMaterial_ |= prim.hasMaterial;
    ALLOC_OR_REPORT("Piece", 1, kModule, pieces_.push_back(Piece{&prim, held.get()}));
  }
  ALLOC_OR_REPORT("Matrix", 1, kModule, matrices_.push_back(std::move(held)));
}

// Depth first with a stack of its own: a chain of a hundred thousand nodes is a valid file.
void SceneReader::Walk(std::size_t root) {
  struct Frame {
    std::size_t node, next;
    Matrix m;
  };
  std::vector<Frame> stack;
  const Json &nodes = doc_.json["nodes"];
  const std::size_t meshCount = GltfCount(doc_, "meshes");
  auto enter = [&](std::size_t node, const Matrix &parent) {
    if (nodeState_[node] == 1) GltfFail(doc_, "node %zu is its own ancestor (a cycle)", node);
    if (nodeState_[node] == 2) GltfFail(doc_, "node %zu has more than one parent", node);
    nodeState_[node] = 1;
    std::string where = "nodes[" + std::to_string(node) + "]";
    const Json &n = GltfObject(doc_, nodes, node, "nodes");
    Matrix m = Multiply(parent, NodeMatrix(doc_, n, where));
    long long mesh = GltfRef(doc_, n, "mesh", meshCount, where);
    if (mesh >= 0) Draw(static_cast<std::size_t>(mesh), m);
    ALLOC_OR_REPORT("Frame", stack.size() + 1, kModule, stack.push_back(Frame{node, 0, m}));
  };
  enter(root, kIdentity);
  while (!stack.empty()) {
    Frame &top = stack.back();
    const Json &children =
        GltfArray(doc_, nodes[top.node], "children", "nodes[" + std::to_string(top.node) + "]");
    if (top.next == children.size()) {
      nodeState_[top.node] = 2;
      stack.pop_back();
      continue;
    }
    const Json &c = children[top.next++];
    if (!c.is_number_unsigned() || c.get<uint64_t>() >= nodeCount_)
      GltfFail(doc_, "nodes[%zu].children holds a reference to no node", top.node);
    Matrix parent = top.m; // `top` moves when the stack grows
    enter(static_cast<std::size_t>(c.get<uint64_t>()), parent);
  }
}

// Linear colour as the screen shows it.
float ToScreen(float c) {
  if (!(c > 0)) return 0;
  if (c >= 1) return 1;
  return c <= 0.0031308f ? 12.92f * c : 1.055f * std::pow(c, 1 / 2.4f) - 0.055f;
}

void SceneReader::Fill(const Piece &piece, GLTFScene &scene, std::size_t base,
                       std::size_t firstTriangle) {
  const Prim &prim = *piece.prim;
  const Matrix &M = *piece.matrix;
  const std::size_t nv = prim.vertices;
  // Coord and Vector are three floats: the accessors' floats go straight into them.
  float *pos = reinterpret_cast<float *>(scene.vertices.data() + base);
  if (prim.draco)
    std::memcpy(pos, prim.draco->positions.data(), nv * 3 * sizeof(float));
  else
    GltfReadFloats(doc_, prim.position, 3, pos);
  const double *m = M.m;
  bool identity = std::memcmp(m, kIdentity.m, sizeof kIdentity.m) == 0;
  for (std::size_t i = 0; i < nv; ++i) {
    float *p = pos + 3 * i;
    if (!identity) {
      double x = p[0], y = p[1], z = p[2];
      p[0] = static_cast<float>(m[0] * x + m[4] * y + m[8] * z + m[12]);
      p[1] = static_cast<float>(m[1] * x + m[5] * y + m[9] * z + m[13]);
      p[2] = static_cast<float>(m[2] * x + m[6] * y + m[10] * z + m[14]);
    }
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
      GltfFail(doc_, "%s: vertex %zu is not at a finite position", prim.where.c_str(), i);
  }
  // Normals turn with the inverse transpose, which is the cofactor matrix up to the
  // determinant's factor; a mirroring transform also turns the triangles' winding round.
  const double c[9] = {
      m[5] * m[10] - m[6] * m[9], m[6] * m[8] - m[4] * m[10], m[4] * m[9] - m[5] * m[8],
      m[2] * m[9] - m[1] * m[10], m[0] * m[10] - m[2] * m[8], m[1] * m[8] - m[0] * m[9],
      m[1] * m[6] - m[2] * m[5],  m[2] * m[4] - m[0] * m[6],  m[0] * m[5] - m[1] * m[4]};
  const double det = m[0] * c[0] + m[4] * c[3] + m[8] * c[6];
  const bool flip = det < 0;
  if (!scene.vertex_normals.empty()) {
    float *nrm = reinterpret_cast<float *>(scene.vertex_normals.data() + base);
    if (prim.draco)
      std::memcpy(nrm, prim.draco->normals.data(), nv * 3 * sizeof(float));
    else
      GltfReadFloats(doc_, prim.normal, 3, nrm);
    for (std::size_t i = 0; i < nv; ++i) {
      float *n = nrm + 3 * i;
      double x = n[0], y = n[1], z = n[2];
      if (!identity) {
        double s = flip ? -1 : 1;
        x = s * (c[0] * n[0] + c[3] * n[1] + c[6] * n[2]);
        y = s * (c[1] * n[0] + c[4] * n[1] + c[7] * n[2]);
        z = s * (c[2] * n[0] + c[5] * n[1] + c[8] * n[2]);
      }
      double len = std::sqrt(x * x + y * y + z * z);
      if (!(len > 0) || !std::isfinite(len)) len = 1, x = y = 0, z = 1;
      n[0] = static_cast<float>(x / len);
      n[1] = static_cast<float>(y / len);
      n[2] = static_cast<float>(z / len);
    }
  }
  const ColorRGB material{ToScreen(prim.material[0]), ToScreen(prim.material[1]),
                          ToScreen(prim.material[2])};
  if (!scene.vertex_colors.empty()) {
    ColorRGB *col = scene.vertex_colors.data() + base;
    if (prim.hasColor) {
      float *f = reinterpret_cast<float *>(col);
      if (prim.draco)
        std::memcpy(f, prim.draco->colors.data(), nv * 3 * sizeof(float));
      else
        GltfReadFloats(doc_, prim.color, 3, f);
      for (std::size_t i = 0; i < 3 * nv; ++i) f[i] = ToScreen(f[i] * prim.material[i % 3]);
    } else {
      for (std::size_t i = 0; i < nv; ++i) col[i] = material;
    }
  }

  // The corner list: the indices, or the vertices in order.
  std::vector<uint32_t> corners;
  const std::size_t n = prim.hasIndex ? prim.indexCount : nv;
  uint32_t *tri = scene.triangles.data() + 3 * firstTriangle;
  uint32_t *list = tri;
  if (prim.mode != kTriangles) {
    ALLOC_ARRAY(corners, n, "uint", kModule);
    list = corners.data();
  }
  const std::size_t used = prim.mode == kTriangles ? 3 * prim.triangles : n;
  // A primitive may give no triangle at all, and then `list` may be null: copy nothing.
  if (prim.draco) {
    if (used > 0) std::memcpy(list, prim.draco->indices.data(), used * sizeof(uint32_t));
  } else if (prim.hasIndex) {
    if (prim.mode == kTriangles && used < n) {
      ALLOC_ARRAY(corners, n, "uint", kModule);
      GltfReadIndices(doc_, prim.index, corners.data());
      if (used > 0) std::memcpy(list, corners.data(), used * sizeof(uint32_t));
    } else {
      GltfReadIndices(doc_, prim.index, list);
    }
  } else {
    for (std::size_t i = 0; i < used; ++i) list[i] = static_cast<uint32_t>(i);
  }
  for (std::size_t i = 0; i < used; ++i)
    if (list[i] >= nv)
      GltfFail(doc_, "%s: index %zu is %u, but the primitive has %zu vertices", prim.where.c_str(),
               i, list[i], nv);
  if (prim.mode == kStrip) {
    for (std::size_t t = 0; t < prim.triangles; ++t) {
      tri[3 * t] = corners[t];
      tri[3 * t + 1] = corners[t + 1 + t % 2];
      tri[3 * t + 2] = corners[t + 2 - t % 2];
    }
  } else if (prim.mode == kFan) {
    for (std::size_t t = 0; t < prim.triangles; ++t) {
      tri[3 * t] = corners[t + 1];
      tri[3 * t + 1] = corners[t + 2];
      tri[3 * t + 2] = corners[0];
    }
  }
  const uint32_t offset = static_cast<uint32_t>(base);
  for (std::size_t k = 0; k < 3 * prim.triangles; ++k) tri[k] += offset;
  if (flip)
    for (std::size_t t = 0; t < prim.triangles; ++t) std::swap(tri[3 * t + 1], tri[3 * t + 2]);
  if (!scene.triangle_colors.empty())
    for (std::size_t t = 0; t < prim.triangles; ++t)
      scene.triangle_colors[firstTriangle + t] = material;
}

std::unique_ptr<GLTFScene> SceneReader::Read() {
  CheckRequiredExtensions(doc_);
  nodeCount_ = GltfCount(doc_, "nodes");
  materialCount_ = GltfCount(doc_, "materials");
  GltfCount(doc_, "meshes");
  GltfCount(doc_, "accessors");
  nodeState_.assign(nodeCount_, 0);

  // The default scene, else the first; a file with none draws every node that has no parent.
  const Json &scenes = GltfArray(doc_, doc_.json, "scenes", "the file");
  const Json *sceneJ = GltfMember(doc_.json, "scene");
  if (sceneJ && (!sceneJ->is_number_unsigned() || sceneJ->get<uint64_t>() >= scenes.size()))
    GltfFail(doc_, "the default scene is not one of the file's %zu scenes", scenes.size());
  long long chosen = sceneJ ? static_cast<long long>(sceneJ->get<uint64_t>()) : -1;
  if (chosen < 0 && !scenes.empty()) chosen = 0;
  std::vector<std::size_t> roots;
  if (chosen >= 0) {
    std::string where = "scenes[" + std::to_string(chosen) + "]";
    const Json &s = GltfObject(doc_, scenes, static_cast<std::size_t>(chosen), "scenes");
    for (const Json &r : GltfArray(doc_, s, "nodes", where)) {
      if (!r.is_number_unsigned() || r.get<uint64_t>() >= nodeCount_)
        GltfFail(doc_, "%s.nodes holds a reference to no node", where.c_str());
      roots.push_back(static_cast<std::size_t>(r.get<uint64_t>()));
    }
  } else {
    std::vector<char> child(nodeCount_, 0);
    const Json &nodes = doc_.json["nodes"];
    for (std::size_t i = 0; i < nodeCount_; ++i) {
      const Json &n = GltfObject(doc_, nodes, i, "nodes");
      for (const Json &c : GltfArray(doc_, n, "children", "nodes[" + std::to_string(i) + "]"))
        if (c.is_number_unsigned() && c.get<uint64_t>() < nodeCount_)
          child[static_cast<std::size_t>(c.get<uint64_t>())] = 1;
    }
    for (std::size_t i = 0; i < nodeCount_; ++i)
      if (!child[i]) roots.push_back(i);
  }
  for (std::size_t r : roots) Walk(r);

  if (skippedLines_)
    warn("GLTFReadObj: %s: %zu point and line primitives are not drawn\n", doc_.name.c_str(),
         skippedLines_);
  if (GltfCount(doc_, "textures"))
    warn("GLTFReadObj: %s: textures are not drawn\n", doc_.name.c_str());

  // Instances share their file's bytes, but each is drawn in full: the totals must fit the
  // model's 32-bit indices and stay within a bound of the file's own size.
  unsigned long long vertices = 0, triangles = 0;
  for (const Piece &p : pieces_) {
    vertices += p.prim->vertices;
    triangles += p.prim->triangles;
  }
  const unsigned long long bytes = vertices * 36 + triangles * 24;
  if (vertices > UINT32_MAX || 3 * triangles > UINT32_MAX ||
      bytes > 64ull * doc_.inputBytes + (1ull << 28))
    GltfFail(doc_, "the scene draws %llu vertices and %llu triangles, more than this viewer holds",
             vertices, triangles);

  std::unique_ptr<GLTFScene> scene;
  ALLOC_OR_REPORT("GLTFScene", 1, kModule, scene = std::make_unique<GLTFScene>());
  ALLOC_ARRAY(scene->vertices, vertices, "Coord", kModule);
  ALLOC_ARRAY(scene->triangles, 3 * triangles, "uint", kModule);
  if (!anyNormalMissing_ && vertices)
    ALLOC_ARRAY(scene->vertex_normals, vertices, "Vector", kModule);
  if (anyColor_)
    ALLOC_ARRAY(scene->vertex_colors, vertices, "ColorRGB", kModule);
  else if (anyMaterial_)
    ALLOC_ARRAY(scene->triangle_colors, triangles, "ColorRGB", kModule);
  std::size_t base = 0, first = 0;
  for (const Piece &p : pieces_) {
    Fill(p, *scene, base, first);
    base += p.prim->vertices;
    first += p.prim->triangles;
  }
  return scene;
}

} // namespace

std::string gltfBufferFolder;

std::unique_ptr<GLTFScene> GLTFReadBuffer(const unsigned char *data, std::size_t size,
                                          const std::string &name, const std::string &dir,
                                          bool external) {
  GltfDoc doc;
  doc.name = name;
  doc.dir = dir;
  if (gltfBufferFolder != dir) doc.otherDir = gltfBufferFolder;
  doc.external = external;
  if (size == 0) GltfFail(doc, "the file is empty");
  GltfOpen(doc, data, size);
  SceneReader reader(doc);
  return reader.Read();
}

std::unique_ptr<GLTFScene> GLTFReadObj() {
  ObjectFile object = ReadObjectFile(kTypeGLTF, objName, kModule);
  return GLTFReadBuffer(reinterpret_cast<const unsigned char *>(object.data.data()),
                        object.data.size(), object.path, object.dir);
}

void LoadGLTFObject() {
  std::unique_ptr<GLTFScene> scene = GLTFReadObj();
  GLTFFormatObj(*scene, *currentShape);
}
