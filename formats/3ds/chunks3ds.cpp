#include "formats/3ds/chunks3ds.h"

#include "base/fatal.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

// The walk's state: the file in memory, the read position, the scene being filled, the current
// mesh and material (indices; -1 while there is none), the last object-block name and the colour
// targets that tell the next colour chunk where it goes.
struct ChunkReader {
  const unsigned char *data = nullptr;
  uint64_t size = 0;
  uint64_t pos = 0;
  H3dsScene *scene = nullptr;
  long mesh = -1;
  long material = -1;
  std::shared_ptr<const std::string> objectName = std::make_shared<const std::string>();
  bool ambientTarget = false;
  bool diffuseTarget = false;
  bool specularTarget = false;
  int depth = 0;
  const std::string *file = nullptr;
};

static void Walk(ChunkReader &r, uint64_t end);

// Every read stays inside the chunk being read (`end` never lies past the file's end), so a count
// that claims more than its chunk holds cannot pull in the next chunk's bytes.
static uint64_t Available(const ChunkReader &r, uint64_t end) {
  return end > r.pos ? end - r.pos : 0;
}

static bool ReadBytes(ChunkReader &r, void *dst, std::size_t n, uint64_t end) {
  if (Available(r, end) < n) return false;
  std::memcpy(dst, r.data + r.pos, n);
  r.pos += n;
  return true;
}

// The file is little-endian whatever the host is: assemble the values from their bytes.
static bool ReadU16(ChunkReader &r, uint16_t &v, uint64_t end) {
  unsigned char b[2];
  if (!ReadBytes(r, b, 2, end)) return false;
  v = static_cast<uint16_t>(b[0] | (b[1] << 8));
  return true;
}

static bool ReadU32(ChunkReader &r, uint32_t &v, uint64_t end) {
  unsigned char b[4];
  if (!ReadBytes(r, b, 4, end)) return false;
  v = uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
  return true;
}

static bool ReadFloat(ChunkReader &r, float &v, uint64_t end) {
  uint32_t bits;
  if (!ReadU32(r, bits, end)) return false;
  std::memcpy(&v, &bits, sizeof v);
  return true;
}

static bool ReadFloats(ChunkReader &r, float *v, int n, uint64_t end) {
  for (int i = 0; i < n; ++i)
    if (!ReadFloat(r, v[i], end)) return false;
  return true;
}

static bool Skip(ChunkReader &r, uint64_t n, uint64_t end) {
  if (Available(r, end) < n) return false;
  r.pos += n;
  return true;
}

// Bytes up to and including a NUL; a name without one runs to the chunk's end.
static std::string ReadName(ChunkReader &r, uint64_t end) {
  uint64_t start = r.pos;
  uint64_t stop = std::min(end, r.size);
  if (start >= stop) return std::string();
  const void *nul = std::memchr(r.data + start, 0, stop - start);
  uint64_t len = nul ? static_cast<const unsigned char *>(nul) - (r.data + start) : stop - start;
  r.pos = start + len + (nul ? 1 : 0);
  return std::string(reinterpret_cast<const char *>(r.data + start), len);
}

static H3dsMesh *CurrentMesh(ChunkReader &r) {
  return r.mesh < 0 ? nullptr : &r.scene->meshes[r.mesh];
}

static H3dsMat *CurrentMaterial(ChunkReader &r) {
  return r.material < 0 ? nullptr : &r.scene->materials[r.material];
}

// A 16-bit count, cut to the number of `itemSize`-byte items the rest of the chunk holds.
static bool ReadCount(ChunkReader &r, uint64_t itemSize, uint64_t end, uint32_t &count) {
  uint16_t n;
  if (!ReadU16(r, n, end)) return false;
  count = static_cast<uint32_t>(std::min<uint64_t>(n, Available(r, end) / itemSize));
  return true;
}

template <class T> static void AllocList(std::vector<T> &v, uint32_t n, const char *message) {
  if (!TryAlloc([&] { v.assign(n, T{}); })) fatal(1, "%s", message);
}

// ---- colours

static void StoreColour(ChunkReader &r, const H3dsColor &c) {
  H3dsMat *m = CurrentMaterial(r);
  if (r.ambientTarget) {
    m->ambient = c;
    r.ambientTarget = false;
  } else if (r.diffuseTarget) {
    m->diffuse = c;
    r.diffuseTarget = false;
  } else if (r.specularTarget) {
    m->specular = c;
    r.specularTarget = false;
  }
}

static void ColourFloat(ChunkReader &r, uint64_t end) {
  float v[3];
  if (!CurrentMaterial(r) || !ReadFloats(r, v, 3, end)) return;
  StoreColour(r, H3dsColor{v[0], v[1], v[2]});
}

// Byte channels are divided by 256, so a full channel gives 255/256, not 1.
static void ColourByte(ChunkReader &r, uint64_t end) {
  unsigned char b[3];
  if (!CurrentMaterial(r) || !ReadBytes(r, b, 3, end)) return;
  StoreColour(r, H3dsColor{b[0] / 256.0f, b[1] / 256.0f, b[2] / 256.0f});
}

// ---- meshes

static void ObjectBlock(ChunkReader &r, uint64_t end) {
  r.objectName = std::make_shared<const std::string>(ReadName(r, end));
  Walk(r, end);
}

static void VertexList(ChunkReader &r, uint64_t end) {
  H3dsMesh *mesh = CurrentMesh(r);
  uint32_t count;
  if (!mesh || !ReadCount(r, 12, end, count)) return;
  mesh->vertex_count = count;
  AllocList(mesh->vertices, count, "Cant allocate vertlist\n");
  for (H3dsVert &v : mesh->vertices) {
    float p[3];
    if (!ReadFloats(r, p, 3, end)) break;
    v = H3dsVert{p[0], p[1], p[2]};
  }
}

static void FaceList(ChunkReader &r, uint64_t end) {
  H3dsMesh *mesh = CurrentMesh(r);
  uint32_t count;
  if (!mesh || !ReadCount(r, 8, end, count)) return;
  mesh->face_count = count;
  AllocList(mesh->faces, count, "Cant allocate facelist\n");
  for (H3dsFace &f : mesh->faces)
    if (!ReadU16(r, f.a, end) || !ReadU16(r, f.b, end) || !ReadU16(r, f.c, end) ||
        !ReadU16(r, f.flags, end))
      return;
  // The face-material and smoothing chunks follow the faces inside this chunk.
  Walk(r, end);
}

// Only the name is used: a mesh takes the material of its last face-material chunk for all its
// faces, so the face numbers that follow the name are left unread.
static void FaceMaterial(ChunkReader &r, uint64_t end) {
  H3dsMesh *mesh = CurrentMesh(r);
  if (mesh) mesh->material = ReadName(r, end);
}

static void MappingList(ChunkReader &r, uint64_t end) {
  H3dsMesh *mesh = CurrentMesh(r);
  uint32_t count;
  if (!mesh || !ReadCount(r, 8, end, count)) return;
  mesh->map_count = count;
  AllocList(mesh->mappings, count, "Cant allocate maplist\n");
  for (H3dsMap &m : mesh->mappings)
    if (!ReadFloat(r, m.u, end) || !ReadFloat(r, m.v, end)) break;
}

static void MeshMatrix(ChunkReader &r, uint64_t end) {
  H3dsMesh *mesh = CurrentMesh(r);
  float m[12];
  if (!mesh || !ReadFloats(r, m, 12, end)) return;
  std::memcpy(mesh->matrix, m, sizeof m);
  mesh->has_matrix = 1;
}

// ---- materials

static void MaterialName(ChunkReader &r, uint64_t end) {
  H3dsMat *mat = CurrentMaterial(r);
  if (mat) mat->name = ReadName(r, end);
}

// ---- what is read past and dropped

// A position of three floats precedes the light's own sub-chunks.
static void Light(ChunkReader &r, uint64_t end) {
  if (Skip(r, 12, end)) Walk(r, end);
}

// Spotlight (20 bytes), camera (32), map file name, smoothing groups, track object name, pivot,
// object number, frame range: nothing in them is used and nothing follows them in their chunk.
static void Drop(ChunkReader &, uint64_t) {}

// Track flags and two reserved words, a 32-bit key count of which only the low half is used, then
// per key its frame, a flags word with one extra float for every bit set (tension, continuity,
// bias, ease to, ease from, ...) and the key's value.
static void KeyTrack(ChunkReader &r, uint64_t end, int valueFloats) {
  uint16_t keys;
  if (!Skip(r, 10, end) || !ReadU16(r, keys, end) || !Skip(r, 2, end)) return;
  for (uint16_t k = 0; k < keys; ++k) {
    uint32_t frame;
    uint16_t flags;
    if (!ReadU32(r, frame, end) || !ReadU16(r, flags, end)) return;
    int floats = valueFloats;
    for (int bit = 0; bit < 16; ++bit) floats += (flags >> bit) & 1;
    if (!Skip(r, 4 * uint64_t(floats), end)) return;
  }
}

static void PositionTrack(ChunkReader &r, uint64_t end) {
  KeyTrack(r, end, 3);
}
static void RotationTrack(ChunkReader &r, uint64_t end) {
  KeyTrack(r, end, 4); // angle, axis
}
static void ScaleTrack(ChunkReader &r, uint64_t end) {
  KeyTrack(r, end, 3);
}

// ---- the table

enum : uint16_t {
  CHUNK_RGBF = 0x0010,
  CHUNK_RGBB = 0x0011,
  CHUNK_RGB2 = 0x0012,
  CHUNK_PRJ = 0xC23D,
  CHUNK_MLI = 0x3DAA,
  CHUNK_MAIN = 0x4D4D,
  CHUNK_OBJMESH = 0x3D3D,
  CHUNK_BKGCOLOR = 0x1200,
  CHUNK_AMBCOLOR = 0x2100,
  CHUNK_OBJBLOCK = 0x4000,
  CHUNK_TRIMESH = 0x4100,
  CHUNK_VERTLIST = 0x4110,
  CHUNK_FACELIST = 0x4120,
  CHUNK_FACEMAT = 0x4130,
  CHUNK_MAPLIST = 0x4140,
  CHUNK_SMOOLIST = 0x4150,
  CHUNK_TRIMATRIX = 0x4160,
  CHUNK_LIGHT = 0x4600,
  CHUNK_SPOTLIGHT = 0x4610,
  CHUNK_CAMERA = 0x4700,
  CHUNK_HIERARCHY = 0x4F00,
  CHUNK_VIEWPORT = 0x7001,
  CHUNK_MATERIAL = 0xAFFF,
  CHUNK_MATNAME = 0xA000,
  CHUNK_AMBIENT = 0xA010,
  CHUNK_DIFFUSE = 0xA020,
  CHUNK_SPECULAR = 0xA030,
  CHUNK_TEXTURE = 0xA200,
  CHUNK_BUMPMAP = 0xA230,
  CHUNK_MAPFILE = 0xA300,
  CHUNK_KEYFRAMER = 0xB000,
  CHUNK_AMBIENTKEY = 0xB001,
  CHUNK_TRACKINFO = 0xB002,
  CHUNK_TRACKOBJNAME = 0xB010,
  CHUNK_TRACKPIVOT = 0xB013,
  CHUNK_TRACKPOS = 0xB020,
  CHUNK_TRACKROTATE = 0xB021,
  CHUNK_TRACKSCALE = 0xB022,
  CHUNK_OBJNUMBER = 0xB030,
  CHUNK_TRACKCAMERA = 0xB003,
  CHUNK_TRACKFOV = 0xB023,
  CHUNK_TRACKROLL = 0xB024,
  CHUNK_TRACKCAMTGT = 0xB004,
  CHUNK_TRACKLIGHT = 0xB005,
  CHUNK_TRACKLIGTGT = 0xB006,
  CHUNK_TRACKSPOTL = 0xB007,
  CHUNK_FRAMES = 0xB008,
};

#define CHUNK(id, label, action)                                                                   \
  { id, #id, label, action }
const ChunkKind kChunkTable[] = {
    CHUNK(CHUNK_RGBF, "RGB float", ColourFloat),
    CHUNK(CHUNK_RGBB, "RGB byte", ColourByte),
    CHUNK(CHUNK_RGB2, "RGB 2", ColourByte),
    CHUNK(CHUNK_PRJ, "Project", nullptr),
    CHUNK(CHUNK_MLI, "Material Library", nullptr),
    CHUNK(CHUNK_MAIN, "Main", nullptr),
    CHUNK(CHUNK_OBJMESH, "Object Mesh", nullptr),
    CHUNK(CHUNK_BKGCOLOR, "Background color", nullptr),
    CHUNK(CHUNK_AMBCOLOR, "Ambient color", nullptr),
    CHUNK(CHUNK_OBJBLOCK, "Object Block", ObjectBlock),
    CHUNK(CHUNK_TRIMESH, "Tri-Mesh", nullptr),
    CHUNK(CHUNK_VERTLIST, "Vertex list", VertexList),
    CHUNK(CHUNK_FACELIST, "Face list", FaceList),
    CHUNK(CHUNK_FACEMAT, "Face material", FaceMaterial),
    CHUNK(CHUNK_MAPLIST, "Mappings list", MappingList),
    CHUNK(CHUNK_SMOOLIST, "Smoothings", Drop),
    CHUNK(CHUNK_TRIMATRIX, "Matrix", MeshMatrix),
    CHUNK(CHUNK_LIGHT, "Light", Light),
    CHUNK(CHUNK_SPOTLIGHT, "Spotlight", Drop),
    CHUNK(CHUNK_CAMERA, "Camera", Drop),
    CHUNK(CHUNK_HIERARCHY, "Hierarchy", nullptr),
    CHUNK(CHUNK_VIEWPORT, "Viewport info", nullptr),
    CHUNK(CHUNK_MATERIAL, "Material", nullptr),
    CHUNK(CHUNK_MATNAME, "Material name", MaterialName),
    CHUNK(CHUNK_AMBIENT, "Ambient color", nullptr),
    CHUNK(CHUNK_DIFFUSE, "Diffuse color", nullptr),
    CHUNK(CHUNK_SPECULAR, "Specular color", nullptr),
    CHUNK(CHUNK_TEXTURE, "Texture map", nullptr),
    CHUNK(CHUNK_BUMPMAP, "Bump map", nullptr),
    CHUNK(CHUNK_MAPFILE, "Map filename", Drop),
    CHUNK(CHUNK_KEYFRAMER, "Keyframer data", nullptr),
    CHUNK(CHUNK_AMBIENTKEY, "Ambient key", nullptr),
    CHUNK(CHUNK_TRACKINFO, "Track info", nullptr),
    CHUNK(CHUNK_TRACKOBJNAME, "Track Obj. Name", Drop),
    CHUNK(CHUNK_TRACKPIVOT, "Pivot point", Drop),
    CHUNK(CHUNK_TRACKPOS, "Position keys", PositionTrack),
    CHUNK(CHUNK_TRACKROTATE, "Rotation keys", RotationTrack),
    CHUNK(CHUNK_TRACKSCALE, "Scale keys", ScaleTrack),
    CHUNK(CHUNK_OBJNUMBER, "Object number", Drop),
    CHUNK(CHUNK_TRACKCAMERA, "Camera track", nullptr),
    CHUNK(CHUNK_TRACKFOV, "FOV track", nullptr),
    CHUNK(CHUNK_TRACKROLL, "Roll track", nullptr),
    CHUNK(CHUNK_TRACKCAMTGT, "Camera target track", nullptr),
    CHUNK(CHUNK_TRACKLIGHT, "Pointlight track", nullptr),
    CHUNK(CHUNK_TRACKLIGTGT, "Pointlight target track", nullptr),
    CHUNK(CHUNK_TRACKSPOTL, "Spotlight track", nullptr),
    CHUNK(CHUNK_FRAMES, "Frames", Drop),
};
#undef CHUNK
const std::size_t kChunkTableSize = sizeof kChunkTable / sizeof kChunkTable[0];

static const ChunkKind *FindChunk(uint16_t id) {
  for (const ChunkKind &k : kChunkTable)
    if (k.id == id) return &k;
  return nullptr;
}

// ---- the walk

// A failed growth of the mesh or material list leaves no current entry until the next append.
template <class T> static long Append(std::vector<T> &list, int32_t &count) {
  if (!TryAlloc([&] { list.emplace_back(); })) {
    warn("Error reallocating mem\n");
    return -1;
  }
  count = static_cast<int32_t>(list.size());
  return static_cast<long>(list.size() - 1);
}

static void Bookkeeping(ChunkReader &r, uint16_t id) {
  H3dsScene &s = *r.scene;
  switch (id) {
  case CHUNK_TRIMESH:
    r.mesh = Append(s.meshes, s.mesh_count);
    if (r.mesh >= 0) s.meshes[r.mesh].name = r.objectName;
    break;
  case CHUNK_MATERIAL:
    r.material = Append(s.materials, s.material_count);
    break;
  case CHUNK_AMBIENT:
    r.ambientTarget = true;
    break;
  case CHUNK_DIFFUSE:
    r.diffuseTarget = true;
    break;
  case CHUNK_SPECULAR:
    r.specularTarget = true;
    break;
  default:
    break;
  }
}

// A colour target holds for the colour chunks inside it only. Left set, a target whose colour came
// in a chunk kind not read here (a linear float colour, a percentage) would take the next
// material colour in its place: a diffuse colour landing in the ambient one, the object black.
static void EndTarget(ChunkReader &r, uint16_t id) {
  if (id == CHUNK_AMBIENT) r.ambientTarget = false;
  if (id == CHUNK_DIFFUSE) r.diffuseTarget = false;
  if (id == CHUNK_SPECULAR) r.specularTarget = false;
}

// Processes the chunks that start before `end`. A sub-chunk is never read past its parent's end;
// a length too short to cover its own 6-byte header cannot be a chunk and ends this level like a
// length of 0 does.
static void Walk(ChunkReader &r, uint64_t end) {
  if (++r.depth > kMaxChunkDepth)
    fatal(1, "3DSReadObj: %s: chunks nested deeper than %d levels\n", r.file->c_str(),
          kMaxChunkDepth);
  while (r.pos < end) {
    uint64_t start = r.pos;
    uint16_t id;
    uint32_t length;
    if (!ReadU16(r, id, end) || !ReadU32(r, length, end) || length < 6) break;
    uint64_t chunkEnd = start + length;
    uint64_t inner = std::min(chunkEnd, end);
    if (const ChunkKind *kind = FindChunk(id)) {
      Bookkeeping(r, id);
      if (kind->action)
        kind->action(r, inner);
      else
        Walk(r, inner);
      EndTarget(r, id);
    }
    r.pos = chunkEnd;
  }
  --r.depth;
}

void Walk3DSChunks(const unsigned char *data, std::size_t size, H3dsScene &scene,
                   const std::string &file) {
  ChunkReader r;
  r.data = data;
  r.size = size;
  r.scene = &scene;
  r.file = &file;
  Walk(r, size);
}
