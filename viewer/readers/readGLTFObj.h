// glTF 2.0 objects (.gltf with its buffers, or .glb): the reader walks the default scene and
// fills a GLTFScene with every triangle it draws, each node's transform applied; the conversion
// hands its arrays to the current Shape's Part.
#pragma once

#include "viewer/model/shape.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct GLTFScene {
  std::vector<Coord> vertices;           // each drawn instance of a primitive has its own
  std::vector<Vector> vertex_normals;    // empty, or one a vertex when every primitive had NORMAL
  std::vector<ColorRGB> vertex_colors;   // empty, or one a vertex when a primitive had COLOR_0
  std::vector<uint32_t> triangles;       // three zero-based vertex indices a triangle
  std::vector<ColorRGB> triangle_colors; // empty, or one a triangle from the materials
};

// Reads a glTF file held in memory. `name` is the file in messages; relative URIs are read from
// `dir` (ends in '/', "" for the current folder); `external` false refuses them.
std::unique_ptr<GLTFScene> GLTFReadBuffer(const unsigned char *data, std::size_t size,
                                          const std::string &name, const std::string &dir,
                                          bool external = true);
// A second folder (ends in '/') where buffers named relative to the file are looked for when the
// file's own folder lacks them: the thumbnailer reads a copy of the object in a scratch folder,
// and the buffers of other names stay where the object is.
extern std::string gltfBufferFolder;
// Finds objName along OBJ_PATH and reads it with its buffers.
std::unique_ptr<GLTFScene> GLTFReadObj();
// Moves the scene's arrays into the Shape's Part.
void GLTFFormatObj(GLTFScene &scene, Shape &shape);

// The decoded geometry of one KHR_draco_mesh_compression primitive.
struct GLTFDracoMesh {
  std::size_t points = 0;
  std::vector<float> positions, normals, colors; // 3 a point; normals, colors may be empty
  std::vector<uint32_t> indices;                 // 3 a face
};
struct GltfDoc;
// Decodes primitive `where`'s compressed data (`ext` the extension object as JSON text is not
// needed: the caller passes the view and the attribute ids, -1 where absent).
void GLTFDecodeDraco(GltfDoc &doc, std::size_t view, long long position, long long normal,
                     long long color, bool positionNormalized, const std::string &where,
                     GLTFDracoMesh &out);
