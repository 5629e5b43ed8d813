// KHR_draco_mesh_compression: the primitive's geometry is one compressed mesh in a buffer view,
// decoded by the Draco library; the extension maps the glTF attributes to the mesh's attribute ids.
#include "base/fatal.h"
#include "viewer/readers/gltfFile.h"
#include "viewer/readers/readGLTFObj.h"

#include <draco/compression/decode.h>

#include <cstdint>
#include <cstring>

static const char *const kModule = "readGLTFObj";

// An attribute's values, point by point, as `want` floats (missing components 0). Integer values
// the file says are normalized but Draco keeps as plain integers are scaled as glTF reads them.
static void ReadAttribute(const GltfDoc &doc, const draco::Mesh &mesh, long long id, int want,
                          bool normalized, const std::string &where, std::vector<float> &out) {
  const draco::PointAttribute *att = mesh.GetAttributeByUniqueId(static_cast<uint32_t>(id));
  if (!att) GltfFail(doc, "%s: the compressed mesh has no attribute %lld", where.c_str(), id);
  const std::size_t points = mesh.num_points();
  ALLOC_ARRAY(out, points * static_cast<std::size_t>(want), "float", kModule);
  double scale = 1;
  if (normalized && !att->normalized()) {
    switch (att->data_type()) {
    case draco::DT_INT8:
      scale = 1.0 / 127;
      break;
    case draco::DT_UINT8:
      scale = 1.0 / 255;
      break;
    case draco::DT_INT16:
      scale = 1.0 / 32767;
      break;
    case draco::DT_UINT16:
      scale = 1.0 / 65535;
      break;
    default:
      break;
    }
  }
  float value[4];
  for (std::size_t p = 0; p < points; ++p) {
    draco::AttributeValueIndex v = att->mapped_index(draco::PointIndex(static_cast<uint32_t>(p)));
    if (v.value() >= att->size() || !att->ConvertValue<float>(v, 4, value))
      GltfFail(doc, "%s: point %zu of the compressed mesh has no value", where.c_str(), p);
    for (int c = 0; c < want; ++c)
      out[p * static_cast<std::size_t>(want) + static_cast<std::size_t>(c)] =
          c < att->num_components() ? static_cast<float>(value[c] * scale) : 0.0f;
  }
}

// A compressed mesh spends at least a quarter bit on each face and each point; one claiming more
// from its bytes lies, and the decoder would allocate for the claim before finding out.
static const unsigned long long kDracoMaxPerByte = 32;

// Little-endian base-128 numbers, as the compressed mesh stores its counts.
static bool ReadVarint(const unsigned char *&p, const unsigned char *end, uint64_t &v) {
  v = 0;
  for (int shift = 0; p < end && shift < 64; shift += 7) {
    unsigned char b = *p++;
    v |= uint64_t(b & 0x7f) << shift;
    if (!(b & 0x80)) return true;
  }
  return false;
}

// The face and point counts of the mesh's header, checked against its size before the decoder
// sees them. Headers the check cannot read past (metadata first) are left to the decoder.
static void CheckDracoCounts(const GltfDoc &doc, GltfBytes bytes, const std::string &where) {
  const unsigned char *p = bytes.data, *end = bytes.data + bytes.size;
  if (bytes.size < 11 || std::memcmp(p, "DRACO", 5) != 0)
    GltfFail(doc, "%s: the compressed mesh has no header", where.c_str());
  const int version = p[5] * 256 + p[6];
  const int method = p[8];
  const unsigned flags = p[9] | p[10] << 8;
  p += 11;
  if (flags & 0x8000) return; // metadata before the counts
  const bool fixed = version < 0x0202;
  auto count = [&](uint64_t &v) {
    if (fixed) {
      if (end - p < 4) return false;
      v = uint64_t(p[0]) | uint64_t(p[1]) << 8 | uint64_t(p[2]) << 16 | uint64_t(p[3]) << 24;
      p += 4;
      return true;
    }
    return ReadVarint(p, end, v);
  };
  uint64_t faces = 0, points = 0;
  bool ok;
  if (method == 0) { // sequential: faces, then points
    ok = count(faces) && count(points);
  } else { // edgebreaker: its traversal kind, the vertices, then the faces
    ok = p < end && (++p, count(points)) && count(faces);
  }
  if (!ok) GltfFail(doc, "%s: the compressed mesh's header is cut short", where.c_str());
  const unsigned long long most = kDracoMaxPerByte * bytes.size + 64;
  if (faces > most || points > most)
    GltfFail(doc, "%s: the compressed mesh claims %llu faces and %llu points in %zu bytes",
             where.c_str(), static_cast<unsigned long long>(faces),
             static_cast<unsigned long long>(points), bytes.size);
}

void GLTFDecodeDraco(GltfDoc &doc, std::size_t view, long long position, long long normal,
                     long long color, bool positionNormalized, const std::string &where,
                     GLTFDracoMesh &out) {
  GltfBytes bytes = GltfView(doc, view, where);
  CheckDracoCounts(doc, bytes, where);
  draco::DecoderBuffer buffer;
  buffer.Init(reinterpret_cast<const char *>(bytes.data), bytes.size);
  draco::Decoder decoder;
  std::unique_ptr<draco::Mesh> mesh;
  bool decoded = TryAlloc([&] {
    auto result = decoder.DecodeMeshFromBuffer(&buffer);
    if (result.ok()) mesh = std::move(result).value();
  });
  if (!decoded) allocFailed("draco::Mesh", static_cast<long long>(bytes.size), __LINE__, kModule);
  if (!mesh) GltfFail(doc, "%s: the compressed mesh does not decode", where.c_str());

  out.points = mesh->num_points();
  ReadAttribute(doc, *mesh, position, 3, positionNormalized, where, out.positions);
  if (normal >= 0) ReadAttribute(doc, *mesh, normal, 3, true, where, out.normals);
  if (color >= 0) ReadAttribute(doc, *mesh, color, 3, true, where, out.colors);
  const std::size_t faces = mesh->num_faces();
  ALLOC_ARRAY(out.indices, 3 * faces, "uint", kModule);
  for (std::size_t f = 0; f < faces; ++f) {
    const draco::Mesh::Face &face = mesh->face(draco::FaceIndex(static_cast<uint32_t>(f)));
    for (int k = 0; k < 3; ++k) {
      uint32_t i = face[static_cast<std::size_t>(k)].value();
      if (i >= out.points)
        GltfFail(doc, "%s: face %zu of the compressed mesh uses point %u of %zu", where.c_str(), f,
                 i, out.points);
      out.indices[3 * f + static_cast<std::size_t>(k)] = i;
    }
  }
}
