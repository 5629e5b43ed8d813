// glTF 2.0 files in memory: the container (a JSON text, or a binary file of JSON and BIN chunks),
// the buffers its URIs name, the buffer views (decoded where they are compressed) and the
// accessors over them. Every offset, length and count read from the file is checked here against
// the bytes that hold it before anything is allocated for it or read through it.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using Json = nlohmann::json;

struct GltfBytes {
  const unsigned char *data = nullptr;
  std::size_t size = 0;
};

struct GltfDoc {
  std::string name;     // the file, as messages name it
  std::string dir;      // the folder relative URIs start from ("" for the current one; ends in '/')
  std::string otherDir; // where they are looked for next ("": nowhere)
  bool external = true; // buffers may be read from files beside the object (off for fuzzing)
  Json json;
  std::vector<GltfBytes> buffers; // data null: the buffer has no bytes of its own
  std::vector<GltfBytes> views;   // resolved on first use
  std::vector<char> viewResolved;
  // Every byte the file and its buffers hold: what a view-less accessor or decoded data may take.
  std::size_t inputBytes = 0;
  std::vector<std::unique_ptr<std::vector<unsigned char>>> storage; // decoded and read bytes
};

// "GLTFReadObj: <name>: <text>", status 1.
[[noreturn]] void GltfFail(const GltfDoc &doc, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));

// Parses the file's bytes (which must outlive the document: the BIN chunk is read in place) as
// JSON or as a binary file, by its first bytes, and reads every buffer its URIs name.
void GltfOpen(GltfDoc &doc, const unsigned char *data, std::size_t size);

// JSON access for a file that may hold anything: each names `where` when the value is not of
// the kind asked for.
const Json *GltfMember(const Json &object, const char *key); // null when absent or not an object
const Json &GltfArray(const GltfDoc &doc, const Json &object, const char *key,
                      const std::string &where); // an empty array when absent
const Json &GltfObject(const GltfDoc &doc, const Json &array, std::size_t i,
                       const std::string &where); // array[i], which must be an object
// An unsigned integer member: `fallback` when absent; at most `limit`.
std::size_t GltfSize(const GltfDoc &doc, const Json &object, const char *key, std::size_t fallback,
                     std::size_t limit, const std::string &where);
// A reference to element `limit`-1 at most of some array; -1 when absent.
long long GltfRef(const GltfDoc &doc, const Json &object, const char *key, std::size_t limit,
                  const std::string &where);
// A number member, `fallback` when absent.
double GltfNumber(const GltfDoc &doc, const Json &object, const char *key, double fallback,
                  const std::string &where);
// `n` numbers of an array member; false when absent.
bool GltfNumbers(const GltfDoc &doc, const Json &object, const char *key, std::size_t n,
                 double *out, const std::string &where);
std::size_t GltfCount(const GltfDoc &doc, const char *key); // the length of a top-level array

// The bytes of buffer view `view`, decoded once when the view is compressed.
GltfBytes GltfView(GltfDoc &doc, std::size_t view, const std::string &where);
// The stride of a view: its byteStride, 0 when it has none.
std::size_t GltfViewStride(GltfDoc &doc, std::size_t view, const std::string &where);

enum GltfComponent {
  kGltfByte = 5120,
  kGltfUnsignedByte = 5121,
  kGltfShort = 5122,
  kGltfUnsignedShort = 5123,
  kGltfUnsignedInt = 5125,
  kGltfFloat = 5126,
};

// An accessor, checked: every element it names lies inside its view.
struct GltfAccessor {
  std::size_t index = 0;
  int component = 0; // a GltfComponent
  bool normalized = false;
  std::size_t count = 0;
  int components = 0; // 1 SCALAR, 2 VEC2, 3 VEC3, 4 VEC4, 4/9/16 MAT2/3/4
  std::size_t elementSize = 0;
  GltfBytes data; // null: all zeros (an accessor without a view)
  std::size_t stride = 0;
  std::size_t sparseCount = 0;
  int sparseIndexComponent = 0;
  GltfBytes sparseIndices, sparseValues;
};

GltfAccessor GltfGetAccessor(GltfDoc &doc, std::size_t index, const std::string &where);
std::size_t GltfComponentSize(int component);

// `want` floats an element (missing components 0) into out[count * want], integers turned into
// floats as the accessor's normalized flag says.
void GltfReadFloats(const GltfDoc &doc, const GltfAccessor &a, int want, float *out);
// Scalar unsigned integers into out[count].
void GltfReadIndices(const GltfDoc &doc, const GltfAccessor &a, uint32_t *out);

// Base64 text into bytes; false on a character outside the alphabet.
bool GltfDecodeBase64(const char *text, std::size_t size, std::vector<unsigned char> &out);
// "%XX" sequences into their bytes; the rest as it is.
std::string GltfPercentDecode(const std::string &text);
// The URI's scheme ("data", "http"), "" for a relative reference.
std::string GltfUriScheme(const std::string &uri);
