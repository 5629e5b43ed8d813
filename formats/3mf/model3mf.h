// The records of a 3MF package: its model parts with their objects (a mesh, or components that
// place other objects), the property groups that colour triangles, and the build. The root model
// part is the one the package's relationships name (3D/3dmodel.model when it has none); parts
// that build items or components name with the production extension's p:path are read too.
// Beam lattices and slice stacks are stepped over, textures as well; what the model part says
// wrong (a missing build, an object of no known type, an id given twice, a vertex index outside
// its mesh, a number or colour that is none) ends the run with a message naming the part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

constexpr uint32_t kM3None = UINT32_MAX; // an index or id the file does not give

struct M3Vertex {
  float x, y, z;
};

struct M3Triangle {
  uint32_t v[3];
  uint32_t pid;  // the property group, kM3None: the object's
  uint32_t p[3]; // each corner's index in it, kM3None: p1's, or the object's pindex
};

// An affine map as 3MF writes it, m00 m01 m02 m10 m11 m12 m20 m21 m22 m30 m31 m32: points are
// row vectors, x' = x m00 + y m10 + z m20 + m30.
struct M3Transform {
  float m[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
};

struct M3Component {
  uint32_t objectid;
  std::string path; // the model part holding the object (entry name), "" for the same part
  M3Transform transform;
};

struct M3Object {
  uint32_t id;
  uint32_t pid = kM3None, pindex = kM3None; // the triangles' default property
  std::vector<M3Vertex> vertices;
  std::vector<M3Triangle> triangles;
  std::vector<M3Component> components;
};

struct M3Colour {
  float r, g, b;
};

enum M3GroupKind {
  kM3BaseMaterials, // basematerials: each base's displaycolor
  kM3ColourGroup,   // m:colorgroup: each color's color
  kM3Uncoloured,    // textures, composites, multiproperties: read past, no colour
};

struct M3Group {
  uint32_t id;
  M3GroupKind kind;
  std::vector<M3Colour> colours;
};

struct M3Item {
  uint32_t objectid;
  std::string path; // as M3Component
  M3Transform transform;
};

struct M3Model {
  std::string part; // the entry name
  std::vector<M3Object> objects;
  std::unordered_map<uint32_t, std::size_t> objectById;
  std::vector<M3Group> groups;
  std::unordered_map<uint32_t, std::size_t> groupById;
  std::vector<M3Item> items;
  bool beams = false, slices = false;
};

struct M3Package {
  std::vector<M3Model> models;                              // the root first
  std::unordered_map<std::string, std::size_t> modelByPart; // by lower-case entry name
};

// Reads one model part; `root` asks for its build. `where` names it in messages.
void Read3MFModel(const char *data, std::size_t size, const std::string &where, bool root,
                  M3Model &model);
// Reads the package held in `data`: the root model part and every part referenced from there.
// `budget` bounds the bytes inflated in all (0: half of what memory allows). One warning tells
// that beam lattices or slice stacks are not shown.
void Read3MFPackage(const char *data, std::size_t size, const std::string &file, M3Package &package,
                    uint64_t budget = 0);
// The model part `path` names as seen from `from` ("" is `from` itself), or null.
const M3Model *Find3MFModel(const M3Package &package, const M3Model &from, const std::string &path);
