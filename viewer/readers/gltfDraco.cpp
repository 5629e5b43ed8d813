// KHR_draco_mesh_compression: the primitive's geometry is one compressed mesh in a buffer view,
// decoded by the Draco library; the extension maps the glTF attributes to the mesh's attribute ids.
#include "base/fatal.h"
#include "viewer/readers/gltfFile.h"
#include "viewer/readers/readGLTFObj.h"

#include <draco/compression/decode.h>

#include <cstdint>

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
    case draco::DT_INT8: scale = 1.0 / 127; break;
    case draco::DT_UINT8: scale = 1.0 / 255; break;
    case draco::DT_INT16: scale = 1.0 / 32767; break;
    case draco::DT_UINT16: scale = 1.0 / 65535; break;
    default: break;
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

void GLTFDecodeDraco(GltfDoc &doc, std::size_t view, long long position, long long normal,
                     long long color, bool positionNormalized, const std::string &where,
                     GLTFDracoMesh &out) {
  GltfBytes bytes = GltfView(doc, view, where);
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
        GltfFail(doc, "%s: face %zu of the compressed mesh uses point %u of %zu", where.c_str(),
                 f, i, out.points);
      out.indices[3 * f + static_cast<std::size_t>(k)] = i;
    }
  }
}
