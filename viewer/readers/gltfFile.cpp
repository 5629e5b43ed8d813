#include "viewer/readers/gltfFile.h"

#include "base/fatal.h"
#include "base/files.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sys/stat.h>

static const char *const kModule = "readGLTFObj";

void GltfFail(const GltfDoc &doc, const char *fmt, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  fatal(1, "GLTFReadObj: %s: %s\n", doc.name.c_str(), text);
}

// ---- JSON access ------------------------------------------------------------------------------

const Json *GltfMember(const Json &object, const char *key) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

const Json &GltfArray(const GltfDoc &doc, const Json &object, const char *key,
                      const std::string &where) {
  static const Json empty = Json::array();
  const Json *v = GltfMember(object, key);
  if (!v) return empty;
  if (!v->is_array()) GltfFail(doc, "%s.%s is not an array", where.c_str(), key);
  return *v;
}

const Json &GltfObject(const GltfDoc &doc, const Json &array, std::size_t i,
                       const std::string &where) {
  const Json &v = array[i];
  if (!v.is_object()) GltfFail(doc, "%s[%zu] is not an object", where.c_str(), i);
  return v;
}

std::size_t GltfSize(const GltfDoc &doc, const Json &object, const char *key, std::size_t fallback,
                     std::size_t limit, const std::string &where) {
  const Json *v = GltfMember(object, key);
  if (!v) return fallback;
  if (!v->is_number_unsigned())
    GltfFail(doc, "%s.%s is not a whole number of at least 0", where.c_str(), key);
  uint64_t n = v->get<uint64_t>();
  if (n > limit)
    GltfFail(doc, "%s.%s is %llu, beyond %zu", where.c_str(), key,
             static_cast<unsigned long long>(n), limit);
  return static_cast<std::size_t>(n);
}

long long GltfRef(const GltfDoc &doc, const Json &object, const char *key, std::size_t limit,
                  const std::string &where) {
  const Json *v = GltfMember(object, key);
  if (!v) return -1;
  if (!v->is_number_unsigned())
    GltfFail(doc, "%s.%s is not a whole number of at least 0", where.c_str(), key);
  uint64_t n = v->get<uint64_t>();
  if (n >= limit)
    GltfFail(doc, "%s.%s refers to number %llu, but there are %zu", where.c_str(), key,
             static_cast<unsigned long long>(n), limit);
  return static_cast<long long>(n);
}

double GltfNumber(const GltfDoc &doc, const Json &object, const char *key, double fallback,
                  const std::string &where) {
  const Json *v = GltfMember(object, key);
  if (!v) return fallback;
  if (!v->is_number()) GltfFail(doc, "%s.%s is not a number", where.c_str(), key);
  return v->get<double>();
}

bool GltfNumbers(const GltfDoc &doc, const Json &object, const char *key, std::size_t n,
                 double *out, const std::string &where) {
  const Json *v = GltfMember(object, key);
  if (!v) return false;
  if (!v->is_array() || v->size() < n)
    GltfFail(doc, "%s.%s is not an array of %zu numbers", where.c_str(), key, n);
  for (std::size_t i = 0; i < n; ++i) {
    const Json &e = (*v)[i];
    if (!e.is_number())
      GltfFail(doc, "%s.%s is not an array of %zu numbers", where.c_str(), key, n);
    out[i] = e.get<double>();
    if (!std::isfinite(out[i]))
      GltfFail(doc, "%s.%s holds a number that is not finite", where.c_str(), key);
  }
  return true;
}

std::size_t GltfCount(const GltfDoc &doc, const char *key) {
  return GltfArray(doc, doc.json, key, "the file").size();
}

// ---- URIs -------------------------------------------------------------------------------------

bool GltfDecodeBase64(const char *text, std::size_t size, std::vector<unsigned char> &out) {
  auto value = [](unsigned char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+' || c == '-') return 62;
    if (c == '/' || c == '_') return 63;
    return -1;
  };
  while (size > 0 && text[size - 1] == '=') --size;
  ALLOC_OR_REPORT("unsigned char", size / 4 * 3 + 3, kModule, out.reserve(size / 4 * 3 + 3));
  uint32_t acc = 0;
  int bits = 0;
  for (std::size_t i = 0; i < size; ++i) {
    int v = value(static_cast<unsigned char>(text[i]));
    if (v < 0) return false;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<unsigned char>(acc >> bits));
    }
  }
  return true;
}

std::string GltfPercentDecode(const std::string &text) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() + 0 && hex(text[i + 1]) >= 0 &&
        hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string GltfUriScheme(const std::string &uri) {
  // A scheme is a letter, then letters, digits, "+", "-" or ".", up to the first ":"; a ":"
  // after a "/" belongs to a path.
  if (uri.empty() || !std::isalpha(static_cast<unsigned char>(uri[0]))) return "";
  for (std::size_t i = 1; i < uri.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(uri[i]);
    if (c == ':') return uri.substr(0, i);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return "";
  }
  return "";
}

// A data URI's bytes: "data:[type][;base64],payload".
static void ReadDataUri(const GltfDoc &doc, const std::string &uri, const std::string &where,
                        std::vector<unsigned char> &out) {
  std::size_t comma = uri.find(',');
  if (comma == std::string::npos) GltfFail(doc, "%s: the data URI has no \",\"", where.c_str());
  std::string head = uri.substr(5, comma - 5);
  const char *payload = uri.data() + comma + 1;
  std::size_t length = uri.size() - comma - 1;
  if (head.size() >= 7 && head.compare(head.size() - 7, 7, ";base64") == 0) {
    if (!GltfDecodeBase64(payload, length, out))
      GltfFail(doc, "%s: the data URI is not base64", where.c_str());
  } else {
    std::string bytes = GltfPercentDecode(std::string(payload, length));
    out.assign(bytes.begin(), bytes.end());
  }
}

// The first `length` bytes of a file beside the object. Only a regular file is read, and only as
// much as the buffer declares: a device or a huge file named by a URI never is read whole.
static void ReadBufferFile(const GltfDoc &doc, const std::string &uri, std::size_t length,
                           const std::string &where, std::vector<unsigned char> &out) {
  std::string relative = GltfPercentDecode(uri);
  std::size_t q = relative.find_first_of("?#");
  if (q != std::string::npos) relative.resize(q);
  if (relative.empty() || relative[0] == '/')
    GltfFail(doc, "%s: the URI \"%s\" is not relative to the file", where.c_str(), uri.c_str());
  std::string path = doc.dir + relative;
  struct stat st;
  FilePtr f(OpenRegularFile(path, st));
  if (!f && !doc.otherDir.empty()) {
    f.reset(OpenRegularFile(doc.otherDir + relative, st));
    if (f) path = doc.otherDir + relative;
  }
  if (!f) GltfFail(doc, "%s: cannot read %s", where.c_str(), path.c_str());
  if (static_cast<unsigned long long>(st.st_size) < length)
    GltfFail(doc, "%s: %s holds %lld bytes, but the buffer is %zu bytes long", where.c_str(),
             path.c_str(), static_cast<long long>(st.st_size), length);
  ALLOC_ARRAY(out, length, "unsigned char", kModule);
  if (length && std::fread(out.data(), 1, length, f.get()) != length)
    GltfFail(doc, "%s: cannot read %s", where.c_str(), path.c_str());
}

// ---- the container ----------------------------------------------------------------------------

static uint32_t Le32(const unsigned char *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

static const uint32_t kGlbMagic = 0x46546C67;  // "glTF"
static const uint32_t kChunkJson = 0x4E4F534A; // "JSON"
static const uint32_t kChunkBin = 0x004E4942;  // "BIN\0"

static void ParseJson(GltfDoc &doc, const unsigned char *text, std::size_t size) {
  try {
    doc.json = Json::parse(text, text + size);
  } catch (const Json::parse_error &e) {
    // The library's text begins with its own tag in brackets; the rest says where and what.
    const char *what = e.what();
    const char *rest = std::strchr(what, ']');
    GltfFail(doc, "the JSON does not parse: %s", rest ? rest + 2 : what);
  } catch (const std::bad_alloc &) {
    allocFailed("Json", static_cast<long long>(size), __LINE__, kModule);
  }
  if (!doc.json.is_object()) GltfFail(doc, "the JSON is not an object");
}

static void ReadBuffers(GltfDoc &doc, GltfBytes bin) {
  const Json &buffers = GltfArray(doc, doc.json, "buffers", "the file");
  doc.buffers.resize(buffers.size());
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    std::string where = "buffers[" + std::to_string(i) + "]";
    const Json &b = GltfObject(doc, buffers, i, "buffers");
    std::size_t length =
        GltfSize(doc, b, "byteLength", 0, std::numeric_limits<std::size_t>::max() / 2, where);
    const Json *uri = GltfMember(b, "uri");
    if (!uri) {
      // The binary chunk is the first buffer's; a buffer with neither holds no bytes (the
      // fallback of compressed views).
      if (i == 0 && bin.data) {
        if (bin.size < length)
          GltfFail(doc, "%s is %zu bytes long, but the BIN chunk holds %zu", where.c_str(), length,
                   bin.size);
        doc.buffers[i] = GltfBytes{bin.data, length};
      }
      continue;
    }
    if (!uri->is_string()) GltfFail(doc, "%s.uri is not a string", where.c_str());
    const std::string &text = uri->get_ref<const std::string &>();
    std::string scheme = GltfUriScheme(text);
    std::unique_ptr<std::vector<unsigned char>> bytes;
    ALLOC_OR_REPORT("unsigned char", 1, kModule,
                    bytes = std::make_unique<std::vector<unsigned char>>());
    if (scheme == "data") {
      ReadDataUri(doc, text, where, *bytes);
      if (bytes->size() < length)
        GltfFail(doc, "%s is %zu bytes long, but its data URI holds %zu", where.c_str(), length,
                 bytes->size());
    } else if (!scheme.empty()) {
      GltfFail(doc, "%s: URIs of the scheme \"%s\" are not read", where.c_str(), scheme.c_str());
    } else if (!doc.external) {
      GltfFail(doc, "%s: files beside the object are not read here", where.c_str());
    } else {
      ReadBufferFile(doc, text, length, where, *bytes);
    }
    doc.buffers[i] = GltfBytes{bytes->data(), length};
    doc.inputBytes += bytes->size();
    ALLOC_OR_REPORT("buffer", 1, kModule, doc.storage.push_back(std::move(bytes)));
  }
}

void GltfOpen(GltfDoc &doc, const unsigned char *data, std::size_t size) {
  doc.inputBytes = size;
  GltfBytes bin;
  if (size >= 4 && Le32(data) == kGlbMagic) {
    if (size < 12)
      GltfFail(doc, "the binary file is %zu bytes long, too short for its header", size);
    uint32_t version = Le32(data + 4), length = Le32(data + 8);
    if (version != 2) GltfFail(doc, "the binary file is of version %u, not 2", version);
    if (length > size)
      GltfFail(doc, "the binary file says it is %u bytes long, but it holds %zu", length, size);
    std::size_t at = 12;
    bool json = false;
    while (at < length) {
      if (length - at < 8) GltfFail(doc, "the chunk header at byte %zu is cut short", at);
      uint32_t chunkLength = Le32(data + at), type = Le32(data + at + 4);
      at += 8;
      if (chunkLength > length - at)
        GltfFail(doc, "the chunk at byte %zu says it holds %u bytes, but %zu follow", at - 8,
                 chunkLength, length - at);
      if (!json) {
        if (type != kChunkJson) GltfFail(doc, "the binary file does not begin with a JSON chunk");
        ParseJson(doc, data + at, chunkLength);
        json = true;
      } else if (type == kChunkBin && !bin.data) {
        bin = GltfBytes{data + at, chunkLength};
      }
      at += chunkLength;
    }
    if (!json) GltfFail(doc, "the binary file holds no JSON chunk");
  } else {
    ParseJson(doc, data, size);
  }
  const Json *asset = GltfMember(doc.json, "asset");
  const Json *version = asset ? GltfMember(*asset, "version") : nullptr;
  if (!version || !version->is_string())
    GltfFail(doc, "the file has no asset.version: it is not glTF");
  const std::string &v = version->get_ref<const std::string &>();
  if (v.empty() || v[0] != '2')
    GltfFail(doc, "the file is glTF %s; this reader reads glTF 2", v.c_str());
  ReadBuffers(doc, bin);
  std::size_t views = GltfCount(doc, "bufferViews");
  doc.views.resize(views);
  doc.viewResolved.assign(views, 0);
}
