#include "base/fatal.h"
#include "viewer/readers/gltfFile.h"

#include <meshoptimizer.h>

#include <cstring>
#include <limits>

static const char *const kModule = "readGLTFObj";

// A compressed view decodes to at most this many times its compressed bytes: the codecs spend at
// least a 2-bit header on each 16 bytes of vertex data and a byte on each triangle, so a view
// claiming more lies about its count.
static const std::size_t kMeshoptMaxRatio = 64;

static std::string ViewName(std::size_t view) {
  return "bufferViews[" + std::to_string(view) + "]";
}

// The bytes of `length` from `offset` in buffer `buffer`, which must hold them.
static GltfBytes BufferRange(const GltfDoc &doc, const Json &v, const std::string &where) {
  long long buffer = GltfRef(doc, v, "buffer", doc.buffers.size(), where);
  if (buffer < 0) GltfFail(doc, "%s has no buffer", where.c_str());
  const std::size_t big = std::numeric_limits<std::size_t>::max() / 4;
  std::size_t offset = GltfSize(doc, v, "byteOffset", 0, big, where);
  std::size_t length = GltfSize(doc, v, "byteLength", 0, big, where);
  const GltfBytes &b = doc.buffers[static_cast<std::size_t>(buffer)];
  if (!b.data) GltfFail(doc, "%s lies in buffer %lld, which holds no data", where.c_str(), buffer);
  if (offset > b.size || length > b.size - offset)
    GltfFail(doc, "%s (%zu bytes from byte %zu) reaches past the end of buffer %lld (%zu bytes)",
             where.c_str(), length, offset, buffer, b.size);
  return GltfBytes{b.data + offset, length};
}

// EXT_meshopt_compression: the view's bytes are decoded from a range of another buffer.
static GltfBytes DecodeMeshopt(GltfDoc &doc, const Json &ext, std::size_t viewLength,
                               const std::string &where) {
  std::string at = where + ".extensions.EXT_meshopt_compression";
  GltfBytes in = BufferRange(doc, ext, at);
  const std::size_t big = std::numeric_limits<std::size_t>::max() / 4;
  std::size_t stride = GltfSize(doc, ext, "byteStride", 0, 256, at);
  std::size_t count = GltfSize(doc, ext, "count", 0, big, at);
  const Json *modeJ = GltfMember(ext, "mode");
  const Json *filterJ = GltfMember(ext, "filter");
  std::string mode = modeJ && modeJ->is_string() ? modeJ->get<std::string>() : "";
  std::string filter = filterJ && filterJ->is_string() ? filterJ->get<std::string>() : "NONE";
  if (stride == 0) GltfFail(doc, "%s.byteStride is 0", at.c_str());
  if (count > (in.size + 16) * kMeshoptMaxRatio / stride)
    GltfFail(doc, "%s claims %zu elements of %zu bytes from %zu compressed bytes", at.c_str(),
             count, stride, in.size);
  const std::size_t outSize = count * stride;
  if (outSize > viewLength)
    GltfFail(doc, "%s decodes to %zu bytes, more than the view's %zu", at.c_str(), outSize,
             viewLength);
  std::unique_ptr<std::vector<unsigned char>> out;
  ALLOC_OR_REPORT("unsigned char", 1, kModule,
                  out = std::make_unique<std::vector<unsigned char>>());
  // The decoders write whole groups: the view's own length, at least, keeps a tail in bounds.
  ALLOC_ARRAY(*out, viewLength, "unsigned char", kModule);
  int rc = -1;
  if (mode == "ATTRIBUTES") {
    if (stride % 4 != 0)
      GltfFail(doc, "%s: attribute stride %zu is not a multiple of 4", at.c_str(), stride);
    rc = meshopt_decodeVertexBuffer(out->data(), count, stride, in.data, in.size);
    if (rc == 0 && filter == "OCTAHEDRAL") {
      if (stride != 4 && stride != 8)
        GltfFail(doc, "%s: octahedral stride %zu", at.c_str(), stride);
      meshopt_decodeFilterOct(out->data(), count, stride);
    } else if (rc == 0 && filter == "QUATERNION") {
      if (stride != 8) GltfFail(doc, "%s: quaternion stride %zu", at.c_str(), stride);
      meshopt_decodeFilterQuat(out->data(), count, stride);
    } else if (rc == 0 && filter == "EXPONENTIAL") {
      meshopt_decodeFilterExp(out->data(), count, stride);
    } else if (rc == 0 && filter != "NONE") {
      GltfFail(doc, "%s: unknown filter \"%s\"", at.c_str(), filter.c_str());
    }
  } else if (mode == "TRIANGLES" || mode == "INDICES") {
    if (stride != 2 && stride != 4) GltfFail(doc, "%s: index stride %zu", at.c_str(), stride);
    if (mode == "TRIANGLES") {
      if (count % 3 != 0)
        GltfFail(doc, "%s: %zu indices are not whole triangles", at.c_str(), count);
      rc = meshopt_decodeIndexBuffer(out->data(), count, stride, in.data, in.size);
    } else {
      rc = meshopt_decodeIndexSequence(out->data(), count, stride, in.data, in.size);
    }
  } else {
    GltfFail(doc, "%s: unknown mode \"%s\"", at.c_str(), mode.c_str());
  }
  if (rc != 0) GltfFail(doc, "%s does not decode (%d)", at.c_str(), rc);
  GltfBytes bytes{out->data(), viewLength};
  ALLOC_OR_REPORT("buffer", 1, kModule, doc.storage.push_back(std::move(out)));
  return bytes;
}

GltfBytes GltfView(GltfDoc &doc, std::size_t view, const std::string &where) {
  if (view >= doc.views.size())
    GltfFail(doc, "%s refers to buffer view %zu, but there are %zu", where.c_str(), view,
             doc.views.size());
  if (doc.viewResolved[view]) return doc.views[view];
  const std::string name = ViewName(view);
  const Json &v = GltfObject(doc, doc.json["bufferViews"], view, "bufferViews");
  const Json *ext = GltfMember(v, "extensions");
  const Json *meshopt = ext ? GltfMember(*ext, "EXT_meshopt_compression") : nullptr;
  if (meshopt && meshopt->is_object()) {
    std::size_t length =
        GltfSize(doc, v, "byteLength", 0, std::numeric_limits<std::size_t>::max() / 4, name);
    doc.views[view] = DecodeMeshopt(doc, *meshopt, length, name);
  } else {
    doc.views[view] = BufferRange(doc, v, name);
  }
  doc.viewResolved[view] = 1;
  return doc.views[view];
}

std::size_t GltfViewStride(GltfDoc &doc, std::size_t view, const std::string &where) {
  if (view >= doc.views.size())
    GltfFail(doc, "%s refers to buffer view %zu, but there are %zu", where.c_str(), view,
             doc.views.size());
  const Json &v = GltfObject(doc, doc.json["bufferViews"], view, "bufferViews");
  std::size_t stride = GltfSize(doc, v, "byteStride", 0, 252, ViewName(view));
  return stride;
}

std::size_t GltfComponentSize(int component) {
  switch (component) {
  case kGltfByte:
  case kGltfUnsignedByte:
    return 1;
  case kGltfShort:
  case kGltfUnsignedShort:
    return 2;
  case kGltfUnsignedInt:
  case kGltfFloat:
    return 4;
  default:
    return 0;
  }
}

static int ComponentsOf(const std::string &type) {
  if (type == "SCALAR") return 1;
  if (type == "VEC2") return 2;
  if (type == "VEC3") return 3;
  if (type == "VEC4") return 4;
  if (type == "MAT2") return 4;
  if (type == "MAT3") return 9;
  if (type == "MAT4") return 16;
  return 0;
}

// `count` elements of `size` bytes, `stride` apart, from `offset` in the view: all inside it.
static GltfBytes Elements(const GltfDoc &doc, GltfBytes view, std::size_t offset, std::size_t count,
                          std::size_t size, std::size_t stride, const std::string &where) {
  if (offset > view.size)
    GltfFail(doc, "%s begins at byte %zu of a view of %zu bytes", where.c_str(), offset, view.size);
  std::size_t room = view.size - offset;
  if (count > 0 && (room < size || (count - 1) > (room - size) / stride))
    GltfFail(doc,
             "%s: %zu elements of %zu bytes, %zu apart, do not fit in the %zu bytes of its view",
             where.c_str(), count, size, stride, room);
  return GltfBytes{view.data + offset, room};
}

GltfAccessor GltfGetAccessor(GltfDoc &doc, std::size_t index, const std::string &where) {
  const Json &accessors = GltfArray(doc, doc.json, "accessors", "the file");
  if (index >= accessors.size())
    GltfFail(doc, "%s refers to accessor %zu, but there are %zu", where.c_str(), index,
             accessors.size());
  std::string name = "accessors[" + std::to_string(index) + "]";
  const Json &j = GltfObject(doc, accessors, index, "accessors");
  GltfAccessor a;
  a.index = index;
  const std::size_t big = std::numeric_limits<std::size_t>::max() / 4;
  a.component = static_cast<int>(GltfSize(doc, j, "componentType", 0, 1u << 20, name));
  std::size_t csize = GltfComponentSize(a.component);
  if (csize == 0)
    GltfFail(doc, "%s.componentType %d is not a glTF type", name.c_str(), a.component);
  const Json *norm = GltfMember(j, "normalized");
  a.normalized = norm && norm->is_boolean() && norm->get<bool>();
  a.count = GltfSize(doc, j, "count", 0, big, name);
  const Json *type = GltfMember(j, "type");
  a.components = type && type->is_string() ? ComponentsOf(type->get<std::string>()) : 0;
  if (a.components == 0) GltfFail(doc, "%s.type is not a glTF element type", name.c_str());
  a.elementSize = csize * static_cast<std::size_t>(a.components);

  long long view = GltfRef(doc, j, "bufferView", doc.views.size(), name);
  if (view >= 0) {
    std::size_t v = static_cast<std::size_t>(view);
    GltfBytes bytes = GltfView(doc, v, name);
    std::size_t stride = GltfViewStride(doc, v, name);
    a.stride = stride ? stride : a.elementSize;
    a.data = Elements(doc, bytes, GltfSize(doc, j, "byteOffset", 0, big, name), a.count,
                      a.elementSize, a.stride, name);
  } else if (a.count > doc.inputBytes) {
    // Zeros need no bytes, but no file of this size draws that many of them.
    GltfFail(doc, "%s has no buffer view and a count of %zu", name.c_str(), a.count);
  }

  const Json *sparse = GltfMember(j, "sparse");
  if (sparse) {
    std::string at = name + ".sparse";
    a.sparseCount = GltfSize(doc, *sparse, "count", 0, a.count, at);
    const Json *ind = GltfMember(*sparse, "indices");
    const Json *val = GltfMember(*sparse, "values");
    if (!ind || !val) GltfFail(doc, "%s lacks its indices or values", at.c_str());
    a.sparseIndexComponent =
        static_cast<int>(GltfSize(doc, *ind, "componentType", 0, 1u << 20, at + ".indices"));
    std::size_t isize = GltfComponentSize(a.sparseIndexComponent);
    if (isize == 0 || a.sparseIndexComponent == kGltfFloat || a.sparseIndexComponent == kGltfByte ||
        a.sparseIndexComponent == kGltfShort)
      GltfFail(doc, "%s.indices are not of an unsigned integer type", at.c_str());
    long long iv = GltfRef(doc, *ind, "bufferView", doc.views.size(), at + ".indices");
    long long vv = GltfRef(doc, *val, "bufferView", doc.views.size(), at + ".values");
    if (iv < 0 || vv < 0) GltfFail(doc, "%s lacks a buffer view", at.c_str());
    GltfBytes ib = GltfView(doc, static_cast<std::size_t>(iv), at);
    GltfBytes vb = GltfView(doc, static_cast<std::size_t>(vv), at);
    a.sparseIndices = Elements(doc, ib, GltfSize(doc, *ind, "byteOffset", 0, big, at),
                               a.sparseCount, isize, isize, at + ".indices");
    a.sparseValues = Elements(doc, vb, GltfSize(doc, *val, "byteOffset", 0, big, at), a.sparseCount,
                              a.elementSize, a.elementSize, at + ".values");
  }
  return a;
}

template <class T> static T Load(const unsigned char *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class T> static float Normalize(T v);
template <> float Normalize(int8_t v) {
  return v < -127 ? -1.0f : v / 127.0f;
}
template <> float Normalize(uint8_t v) {
  return v / 255.0f;
}
template <> float Normalize(int16_t v) {
  return v < -32767 ? -1.0f : v / 32767.0f;
}
template <> float Normalize(uint16_t v) {
  return v / 65535.0f;
}
template <> float Normalize(uint32_t v) {
  return static_cast<float>(v / 4294967295.0);
}

template <class T>
static void ReadElements(const unsigned char *base, std::size_t count, std::size_t stride,
                         int components, bool normalized, int want, float *out) {
  const int n = components < want ? components : want;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char *p = base + i * stride;
    float *o = out + i * static_cast<std::size_t>(want);
    for (int c = 0; c < n; ++c) {
      T v = Load<T>(p + sizeof(T) * static_cast<std::size_t>(c));
      o[c] = normalized ? Normalize(v) : static_cast<float>(v);
    }
    for (int c = n; c < want; ++c) o[c] = 0;
  }
}
template <>
void ReadElements<float>(const unsigned char *base, std::size_t count, std::size_t stride,
                         int components, bool, int want, float *out) {
  const int n = components < want ? components : want;
  if (components == want && stride == sizeof(float) * static_cast<std::size_t>(want)) {
    if (count > 0) std::memcpy(out, base, count * stride); // an empty accessor has no buffer
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char *p = base + i * stride;
    float *o = out + i * static_cast<std::size_t>(want);
    std::memcpy(o, p, sizeof(float) * static_cast<std::size_t>(n));
    for (int c = n; c < want; ++c) o[c] = 0;
  }
}

static void ReadAny(int component, const unsigned char *base, std::size_t count, std::size_t stride,
                    int components, bool normalized, int want, float *out) {
  switch (component) {
  case kGltfByte:
    ReadElements<int8_t>(base, count, stride, components, normalized, want, out);
    break;
  case kGltfUnsignedByte:
    ReadElements<uint8_t>(base, count, stride, components, normalized, want, out);
    break;
  case kGltfShort:
    ReadElements<int16_t>(base, count, stride, components, normalized, want, out);
    break;
  case kGltfUnsignedShort:
    ReadElements<uint16_t>(base, count, stride, components, normalized, want, out);
    break;
  case kGltfUnsignedInt:
    ReadElements<uint32_t>(base, count, stride, components, normalized, want, out);
    break;
  default:
    ReadElements<float>(base, count, stride, components, normalized, want, out);
    break;
  }
}

static std::size_t SparseIndex(const GltfAccessor &a, std::size_t k) {
  const unsigned char *p = a.sparseIndices.data;
  switch (a.sparseIndexComponent) {
  case kGltfUnsignedByte:
    return p[k];
  case kGltfUnsignedShort:
    return Load<uint16_t>(p + 2 * k);
  default:
    return Load<uint32_t>(p + 4 * k);
  }
}

void GltfReadFloats(const GltfDoc &doc, const GltfAccessor &a, int want, float *out) {
  if (a.data.data)
    ReadAny(a.component, a.data.data, a.count, a.stride, a.components, a.normalized, want, out);
  else
    std::memset(out, 0, a.count * static_cast<std::size_t>(want) * sizeof(float));
  for (std::size_t k = 0; k < a.sparseCount; ++k) {
    std::size_t i = SparseIndex(a, k);
    if (i >= a.count)
      GltfFail(doc, "accessors[%zu].sparse: index %zu is beyond its %zu elements", a.index, i,
               a.count);
    ReadAny(a.component, a.sparseValues.data + k * a.elementSize, 1, a.elementSize, a.components,
            a.normalized, want, out + i * static_cast<std::size_t>(want));
  }
}

void GltfReadIndices(const GltfDoc &doc, const GltfAccessor &a, uint32_t *out) {
  if (a.components != 1 || a.component == kGltfFloat || a.component == kGltfByte ||
      a.component == kGltfShort)
    GltfFail(doc, "accessors[%zu] holds indices, but not as unsigned integers", a.index);
  const unsigned char *p = a.data.data;
  if (!p) {
    if (a.count > 0) std::memset(out, 0, a.count * sizeof(uint32_t));
  } else if (a.component == kGltfUnsignedInt && a.stride == 4) {
    if (a.count > 0) std::memcpy(out, p, a.count * 4);
  } else {
    for (std::size_t i = 0; i < a.count; ++i, p += a.stride)
      out[i] = a.component == kGltfUnsignedByte    ? p[0]
               : a.component == kGltfUnsignedShort ? Load<uint16_t>(p)
                                                   : Load<uint32_t>(p);
  }
  for (std::size_t k = 0; k < a.sparseCount; ++k) {
    std::size_t i = SparseIndex(a, k);
    if (i >= a.count)
      GltfFail(doc, "accessors[%zu].sparse: index %zu is beyond its %zu elements", a.index, i,
               a.count);
    const unsigned char *v = a.sparseValues.data + k * a.elementSize;
    out[i] = a.component == kGltfUnsignedByte    ? v[0]
             : a.component == kGltfUnsignedShort ? Load<uint16_t>(v)
                                                 : Load<uint32_t>(v);
  }
}
