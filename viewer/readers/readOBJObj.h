// Wavefront OBJ objects: the reader's record, the statement walk, the material libraries and the
// conversion into the Part.
#pragma once

#include "viewer/model/shape.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the reader keeps of an OBJ file. Faces are stored flat: `face_sizes` holds each face's
// corner count, the corners follow one another in `corner_vertices` (zero-based, already checked),
// so the arrays hand over to the Part without a copy.
struct OBJMesh {
  std::vector<Coord> vertices;         // one per "v"
  std::vector<ColorRGB> vertex_colors; // one per "v" when any "v" gives a colour, else empty
  std::vector<Vector> normals;         // one per "vn"
  uint32_t texcoord_count = 0;         // "vt" statements: read past, counted for the checks
  std::vector<uint32_t> face_sizes;    // one per "f"
  std::vector<uint32_t> corner_vertices;
  // Per corner: its "vn" (zero-based) or kNoNormal; empty when no corner names a normal.
  std::vector<uint32_t> corner_normals;
  // Per face: its material (an index into `materials`) or kNoMaterial; empty without "usemtl"
  // (then `materials` is empty too).
  std::vector<uint32_t> face_materials;
  std::vector<std::string> materials; // the names "usemtl" gave, in order of first use
  std::vector<std::string> libraries; // the names "mtllib" gave
  long long elements_read_past = 0;   // "l" and "p" statements
};

constexpr uint32_t kNoNormal = UINT32_MAX;
constexpr uint32_t kNoMaterial = UINT32_MAX;

// A material library's diffuse colours.
struct OBJMaterial {
  std::string name;
  bool has_kd = false;
  ColorRGB kd{};
};

// Reads an OBJ object held in memory. `name` is the object's name in messages; a fault ends the
// run with "<name>: <what> on line <n>" and status 1.
std::unique_ptr<OBJMesh> OBJReadBuffer(const char *data, std::size_t size, const char *name);
// The "newmtl" materials of a library held in memory, with their "Kd" colours; faults in it are
// warnings naming `name` and the line, the rest of the library still counts.
std::vector<OBJMaterial> OBJReadMaterials(const char *data, std::size_t size, const char *name);
// Reads the object named by objName through the object search.
std::unique_ptr<OBJMesh> OBJReadObj();
// The materials of the mesh's libraries, found beside the object through the object search; a
// library that is not there is a warning.
std::vector<OBJMaterial> OBJReadLibraries(const OBJMesh &mesh);
// Fills the Shape's Part: the mesh's arrays are handed over. `materials` are the libraries'
// materials; faces whose material has a "Kd" take it as their colour.
void OBJFormatObj(OBJMesh &mesh, const std::vector<OBJMaterial> &materials, Shape &shape);
