// The 3DS chunk walk: collects the triangle meshes and materials of a 3DS file into an H3dsScene.
// Lights, cameras, viewports and keyframer tracks are recognised, read past and dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct H3dsFace {
  uint16_t a, b, c; // zero-based within the mesh
  uint16_t flags;
};

struct H3dsVert {
  float x, y, z;
};

struct H3dsMap {
  float u, v;
};

// A material colour, each component 0 to 1.
struct H3dsColor {
  float r, g, b;
};

// Names are kept whole: the format does not bound them, and a mesh must find its material by the
// very same bytes however long they are. The meshes of one object block share its name rather
// than copy it, so that a long name followed by many meshes costs no more than the file holds.
struct H3dsMesh {
  std::shared_ptr<const std::string> name; // the enclosing object block's name, never null
  std::string material; // from the mesh's last face-material chunk; empty if none
  uint32_t face_count = 0;
  uint32_t vertex_count = 0;
  uint32_t map_count = 0;
  int32_t has_matrix = 0;
  std::vector<H3dsFace> faces;
  std::vector<H3dsVert> vertices;
  std::vector<H3dsMap> mappings;
  float matrix[12] = {}; // 3 x 3 rotation, then the translation
};

struct H3dsMat {
  std::string name;
  H3dsColor ambient{};
  H3dsColor diffuse{};
  H3dsColor specular{};
};

struct H3dsScene {
  int32_t material_count = 0;
  int32_t mesh_count = 0;
  std::vector<H3dsMat> materials; // file order
  std::vector<H3dsMesh> meshes;   // file order
};

// One entry of the chunk table. A null action walks the chunk's sub-chunks.
struct ChunkReader;
struct ChunkKind {
  uint16_t id;
  const char *name;
  const char *label;
  void (*action)(ChunkReader &, uint64_t end);
};
extern const ChunkKind kChunkTable[];
extern const std::size_t kChunkTableSize;

// Deeper nesting than this is no file any program writes; it ends the load instead of the stack.
constexpr int kMaxChunkDepth = 64;

// Walks the `size` bytes of a 3DS file into `scene` (which keeps what it already holds). `file`
// names the object in messages.
void Walk3DSChunks(const unsigned char *data, std::size_t size, H3dsScene &scene,
                   const std::string &file);
