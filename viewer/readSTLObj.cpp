#include "readSTLObj.h"

#include "fatal.h"
#include "findObj.h"
#include "readers.h"
#include "shell.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <new>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

static const char *kModule = "readSTLObj";

// The library's own layout of a binary file: an 80-byte label and a 32-bit facet count, then 50
// bytes per facet. It takes a file for binary only when one of the 128 bytes after the count has
// its top bit set; everything else, however short, is read as text and so checked first.
static const std::size_t kBinaryHeader = 84;
static const std::size_t kTypeProbe = 128;
static const std::size_t kLabelSize = 80;
static const std::size_t kFacetSize = 50;
// The library refuses binary files shorter than four facets.
static const std::size_t kMinBinarySize = kBinaryHeader + 4 * kFacetSize;
// The first facet's two attribute bytes: the library stores them and never reads them, so a top
// bit set there makes it read the file as binary without changing the mesh.
static const std::size_t kFirstAttribute = kBinaryHeader + 48;

// The mesh library keeps its last edge hash table after the nearby check and the hole filling,
// and more on its error paths; freeing it from here is not safe (it frees some of them itself).
// A leak-checking build is told that these blocks are not ours. Weak, so that a program-wide list
// elsewhere takes precedence.
extern "C" __attribute__((weak)) const char *__lsan_default_suppressions() {
  return "leak:libadmesh\n";
}

void STLObjRelease::operator()(STLObj *obj) const {
  if (!obj) return;
  stl_close(obj);
  delete obj;
}

namespace {

// Character classes of the text reader: bytes that separate words as the C library's formatted
// reads see them, and bytes that end a word (those, NUL bytes and the DOS end-of-file mark, which
// pad the end of some files).
enum : unsigned char { kBlank = 1, kEndsWord = 2 };
struct CharClasses {
  unsigned char of[256] = {};
  CharClasses() {
    for (unsigned char c : {' ', '\t', '\r', '\n', '\f', '\v'}) of[c] = kBlank | kEndsWord;
    of[0] = of[0x1a] = kEndsWord;
  }
};
const CharClasses kClasses;
inline bool Blank(char c) {
  return kClasses.of[static_cast<unsigned char>(c)] & kBlank;
}
inline bool EndsWord(char c) {
  return kClasses.of[static_cast<unsigned char>(c)] & kEndsWord;
}

const float kPowersOfTen[11] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// A whole word as a single-precision number, rounded as the C library's reading gives it (to
// nearest, overflow to an infinity, underflow to a subnormal or zero); false when the word is no
// number. Decimals go to the standard library's conversion, which rounds them correctly; the C
// library takes the rest (infinities, NaNs, hexadecimal numbers, overflow and underflow).
bool ParseFloat(std::string_view w, float &out) {
  if (w.empty()) return false;
  const bool plus = w[0] == '+';
  const char *first = w.data() + plus, *last = w.data() + w.size();
  const char *digits = first < last && *first == '-' && !plus ? first + 1 : first;
  const char lead = digits < last ? *digits : '\0';
  if (lead == '.' || static_cast<unsigned>(lead - '0') < 10) {
    auto r = std::from_chars(first, last, out, std::chars_format::general);
    if (r.ec == std::errc() && r.ptr == last) return true;
  }
  const std::string word(w);
  char *stop = nullptr;
  out = std::strtof(word.c_str(), &stop);
  return stop == word.c_str() + word.size();
}

// A word-by-word walk over a text file.
struct TextWalk {
  const char *p, *end;

  void SkipBlanks() {
    while (p < end && Blank(*p)) ++p;
  }
  // Only blanks, NUL bytes and end-of-file marks are left.
  bool OnlyPaddingLeft() const {
    for (const char *q = p; q < end; ++q)
      if (!EndsWord(*q)) return false;
    return true;
  }
  // The next word, or an empty one at the end.
  std::string_view Word() {
    SkipBlanks();
    const char *start = p;
    while (p < end && !EndsWord(*p)) ++p;
    return {start, static_cast<std::size_t>(p - start)};
  }
  void SkipLine() {
    const void *nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    p = nl ? static_cast<const char *>(nl) + 1 : end;
  }
  // Keywords match in any case; lower case, the common one, is compared first.
  static bool Is(std::string_view w, const char *keyword) {
    std::size_t i = 0;
    for (; i < w.size() && keyword[i]; ++i)
      if ((w[i] | 0x20) != keyword[i]) return false;
    return i == w.size() && !keyword[i];
  }
  template <std::size_t N> bool Expect(const char (&keyword)[N]) {
    SkipBlanks();
    const std::size_t n = N - 1;
    if (static_cast<std::size_t>(end - p) > n && std::memcmp(p, keyword, n) == 0 &&
        EndsWord(p[n])) {
      p += n;
      return true;
    }
    return Is(Word(), keyword);
  }
  // A number. Most are short decimals: one of at most 24 bits of digits and a power of ten up to
  // 1e10 is exact in single precision on both sides, so one multiplication or division rounds it
  // correctly. Anything else is read as a word by ParseFloat.
  bool Number(float &out) {
    SkipBlanks();
    const char *q = p;
    const bool negative = q < end && *q == '-';
    if (q < end && (*q == '-' || *q == '+')) ++q;
    uint64_t mantissa = 0;
    int exponent = 0, significant = 0;
    bool digits = false;
    for (; q < end && static_cast<unsigned>(*q - '0') < 10; ++q, digits = true) {
      if (significant < 19) {
        mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
        significant += mantissa != 0;
      } else {
        significant = 99;
      }
    }
    if (q < end && *q == '.') {
      for (++q; q < end && static_cast<unsigned>(*q - '0') < 10; ++q, digits = true) {
        if (significant < 19) {
          mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
          significant += mantissa != 0;
          --exponent;
        } else {
          significant = 99;
        }
      }
    }
    if (digits && q < end && (*q | 0x20) == 'e') {
      ++q;
      const bool down = q < end && *q == '-';
      if (q < end && (*q == '-' || *q == '+')) ++q;
      int value = 0;
      const char *from = q;
      for (; q < end && static_cast<unsigned>(*q - '0') < 10; ++q)
        value = value < 1000 ? value * 10 + (*q - '0') : value;
      digits = q > from;
      exponent += down ? -value : value;
    }
    if (digits && significant < 19 && (q == end || EndsWord(*q))) {
      if (mantissa == 0) {
        out = negative ? -0.0f : 0.0f;
        p = q;
        return true;
      }
      if (mantissa <= (uint64_t(1) << 24) && exponent >= -10 && exponent <= 10) {
        const float m = static_cast<float>(mantissa);
        const float v = exponent >= 0 ? m * kPowersOfTen[exponent] : m / kPowersOfTen[-exponent];
        out = negative ? -v : v;
        p = q;
        return true;
      }
    }
    return ParseFloat(Word(), out);
  }
  bool Numbers(float *v) { return Number(v[0]) && Number(v[1]) && Number(v[2]); }
};

} // namespace

static bool LooksBinary(std::string_view data) {
  if (data.size() < kBinaryHeader + kTypeProbe) return false;
  for (std::size_t i = kBinaryHeader; i < kBinaryHeader + kTypeProbe; ++i)
    if (static_cast<unsigned char>(data[i]) > 127) return true;
  return false;
}

// The facets a binary file holds by its size: the library reads by the size and only warns
// about a header count that disagrees. -1 when the size fits no whole number of facets.
static long long BinaryFacets(std::string_view data) {
  if (data.size() < kBinaryHeader || (data.size() - kBinaryHeader) % kFacetSize != 0) return -1;
  return static_cast<long long>((data.size() - kBinaryHeader) / kFacetSize);
}

static uint32_t BinaryHeaderCount(std::string_view data) {
  uint32_t count;
  std::memcpy(&count, data.data() + kLabelSize, 4);
  return count;
}

// One pass over the text: checks the words, counts solids and facets, and hands each facet's
// twelve numbers (normal, then three vertices) to `facet` in file order, across all solids.
static bool WalkText(std::string_view data, STLFileCheck &check, const STLFacetSink &facet,
                     const char *&errorAt, const char *&why) {
  TextWalk t{data.data(), data.data() + data.size()};
  auto fail = [&](const char *at, const char *reason) {
    errorAt = at;
    why = reason;
    return false;
  };
  if (!t.Expect("solid")) return fail(t.p, "no \"solid\" at the start");
  t.SkipLine();
  float v[12];
  for (;;) {
    if (t.OnlyPaddingLeft()) { // the last "endsolid" may be missing
      ++check.solids;
      break;
    }
    const char *at = t.p;
    auto w = t.Word();
    if (TextWalk::Is(w, "facet")) {
      bool ok = t.Expect("normal") && t.Numbers(v) && t.Expect("outer") && t.Expect("loop");
      for (int k = 1; ok && k <= 3; ++k) ok = t.Expect("vertex") && t.Numbers(v + 3 * k);
      ok = ok && t.Expect("endloop") && t.Expect("endfacet");
      if (!ok) return fail(t.p, "malformed facet");
      if (facet) facet(v);
      ++check.facets;
    } else if (TextWalk::Is(w, "endsolid")) {
      ++check.solids;
      t.SkipLine();
      if (t.OnlyPaddingLeft()) break;
      const char *next = t.p;
      auto w2 = t.Word();
      if (TextWalk::Is(w2, "solid")) {
        t.SkipLine();
      } else if (TextWalk::Is(w2, "facet")) {
        t.p = next; // facets without their "solid" line: read on as a further solid
      } else {
        break; // notes after the object (an exporter's trailer): the object ends here
      }
    } else {
      return fail(at, "unexpected word");
    }
  }
  return true;
}

STLFileCheck STLCheckFile(std::string_view data, const STLFacetSink &facet) {
  STLFileCheck check;
  const long long binaryFacets = BinaryFacets(data);
  const bool small = data.size() < kMinBinarySize;
  if (LooksBinary(data)) {
    if (small && binaryFacets > 0) {
      check.countMismatch = binaryFacets != BinaryHeaderCount(data);
      check.shortBinary = binaryFacets;
    }
    return check;
  }
  check.ascii = true;
  const char *errorAt = nullptr, *why = nullptr;
  if (!WalkText(data, check, facet, errorAt, why)) {
    // No text, but the exact layout of a binary file: binary, however its bytes look.
    if (binaryFacets > 0 && BinaryHeaderCount(data) == binaryFacets) {
      check = STLFileCheck();
      if (small)
        check.shortBinary = binaryFacets;
      else
        check.markBinary = true;
      return check;
    }
    int line = 1;
    for (const char *q = data.data(); q < errorAt; ++q) line += *q == '\n';
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s on line %d", why, line);
    check.error = buf;
  }
  return check;
}

namespace {

// A file the library can open by name that lives only as long as its descriptor: in memory where
// the system allows, else in TMPDIR, unlinked at once. Its name is the descriptor's /proc entry.
struct ScratchFile {
  int fd = -1;
  std::string path;
  ScratchFile() = default;
  ScratchFile(const ScratchFile &) = delete;
  ScratchFile &operator=(const ScratchFile &) = delete;
  ~ScratchFile() {
    if (fd >= 0) close(fd);
  }
  void Open() {
    fd = static_cast<int>(syscall(SYS_memfd_create, "mirandel-stl", 1u /* MFD_CLOEXEC */));
    if (fd < 0) {
      const char *dir = std::getenv("TMPDIR");
      std::string tmpl = std::string(dir && *dir ? dir : "/tmp") + "/mirandel-XXXXXX";
      std::vector<char> name(tmpl.begin(), tmpl.end());
      name.push_back('\0');
      fd = mkstemp(name.data());
      if (fd < 0)
        fatal(1, "STLReadObj: cannot create a temporary file in %s\n", dir ? dir : "/tmp");
      unlink(name.data());
    }
    path = "/proc/self/fd/" + std::to_string(fd);
  }
  // An empty file again, opened if need be.
  void Restart() {
    if (fd < 0) Open();
    if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0)
      fatal(1, "STLReadObj: cannot write a temporary copy of %s\n", objName.c_str());
  }
  void Write(const char *data, std::size_t size) {
    while (size > 0) {
      ssize_t n = write(fd, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) fatal(1, "STLReadObj: cannot write a temporary copy of %s\n", objName.c_str());
      data += n;
      size -= static_cast<std::size_t>(n);
    }
  }
  void WriteAt(const char *data, std::size_t size, off_t at) {
    if (pwrite(fd, data, size, at) != static_cast<ssize_t>(size))
      fatal(1, "STLReadObj: cannot write a temporary copy of %s\n", objName.c_str());
  }
};

// Facets in the library's binary layout, gathered a block at a time and written out.
struct BinaryCopy {
  ScratchFile &file;
  std::vector<char> block;
  std::size_t used = 0;
  long long facets = 0;
  static const std::size_t kBlockFacets = 16384;

  explicit BinaryCopy(ScratchFile &f) : file(f), block(kBlockFacets * kFacetSize) {
    char header[kBinaryHeader];
    std::memset(header, ' ', kLabelSize);
    std::memset(header + kLabelSize, 0, 4);
    file.Write(header, sizeof header);
  }
  void Add(const float *v) {
    if (used == block.size()) Flush();
    char *f = block.data() + used;
    std::memcpy(f, v, 48);
    // The first facet's attribute bytes carry the top bit that makes the library read binary.
    f[48] = facets == 0 ? static_cast<char>(0x80) : 0;
    f[49] = 0;
    used += kFacetSize;
    ++facets;
  }
  void Flush() {
    file.Write(block.data(), used);
    used = 0;
  }
};

} // namespace

// Facets in text the library reads to the very same values: nine significant digits give every
// float back exactly. For fewer facets than the library's smallest binary file.
static std::string FacetsAsText(const char *facets, long long count) {
  std::string text = "solid\n";
  char line[160];
  for (long long i = 0; i < count; ++i) {
    float v[12];
    std::memcpy(v, facets + i * kFacetSize, sizeof v);
    std::snprintf(line, sizeof line, "  facet normal %.9g %.9g %.9g\n    outer loop\n", v[0], v[1],
                  v[2]);
    text += line;
    for (int j = 1; j <= 3; ++j) {
      std::snprintf(line, sizeof line, "      vertex %.9g %.9g %.9g\n", v[3 * j], v[3 * j + 1],
                    v[3 * j + 2]);
      text += line;
    }
    text += "    endloop\n  endfacet\n";
  }
  text += "endsolid\n";
  // The library refuses text shorter than its type probe; blank lines, which it neither counts
  // nor reads, make up the difference.
  if (text.size() < kBinaryHeader + kTypeProbe) text.resize(kBinaryHeader + kTypeProbe, '\n');
  return text;
}

// The library reports its own fatal conditions and raises its error flag; the run ends there.
static void StopOnLibraryError(const STLObj *obj) {
  if (obj->error) fatal(1, "%s", "");
}

static bool AllConnected(const STLObj *obj) {
  return obj->stats.connected_facets_3_edge >= obj->stats.number_of_facets;
}

// The repairs after reading need at least one facet to work on.
static void StopWithoutFacets(const STLObj *obj) {
  if (obj->stats.number_of_facets <= 0)
    fatal(1, "STLReadObj: %s holds no facets\n", objName.c_str());
}

int STLRepairObj(STLObj *obj, const std::string &path) {
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  errno = 0; // the library's reports end in the system's error text
  stl_open(obj, name.data());
  // The library closes its file after a good read but leaves it open when the read fails: a
  // process that goes on after the failure (a test, a fuzz run) would run out of descriptors.
  if (obj->error && obj->fp) std::fclose(obj->fp);
  obj->fp = nullptr;
  StopOnLibraryError(obj);
  StopWithoutFacets(obj);

  stl_check_facets_exact(obj);
  StopOnLibraryError(obj);

  float tolerance = obj->stats.shortest_edge;
  const float increment = obj->stats.bounding_diameter * 0.0001f;
  if (!AllConnected(obj)) {
    for (int i = 0; i < 2; ++i) {
      if (AllConnected(obj)) break;
      stl_check_facets_nearby(obj, tolerance);
      StopOnLibraryError(obj);
      tolerance += increment;
    }
  }
  // Removing the facets that touch no other would leave nothing of a mesh in which no facet
  // touches another (loose triangles): such a mesh keeps its facets.
  if (!AllConnected(obj) && obj->stats.connected_facets_1_edge > 0) {
    stl_remove_unconnected_facets(obj);
    StopOnLibraryError(obj);
    StopWithoutFacets(obj);
  }
  if (!AllConnected(obj)) {
    stl_fill_holes(obj);
    StopOnLibraryError(obj);
  }
  stl_fix_normal_directions(obj);
  StopOnLibraryError(obj);
  stl_fix_normal_values(obj);
  StopOnLibraryError(obj);
  stl_calculate_volume(obj);
  StopOnLibraryError(obj);
  // This library version only measures the volume: a negative one means every facet is wound
  // inward, and the library's own reversal turns them all outward.
  if (obj->stats.volume < 0.0f) {
    stl_reverse_all_facets(obj);
    StopOnLibraryError(obj);
    obj->stats.volume = -obj->stats.volume;
  }
  stl_verify_neighbors(obj);
  StopOnLibraryError(obj);
  return 1;
}

STLObjPtr STLReadObj() {
  FoundFile found = FindObjectFile(kReaderSTL, objName);
  std::string path = found.path;
  // The first bytes tell whether the library takes the file for binary; only text, and binary
  // files too short for the library's size check, are read whole.
  std::vector<char> probe(kBinaryHeader + kTypeProbe);
  probe.resize(std::fread(probe.data(), 1, probe.size(), found.file.get()));
  std::string_view data(probe.data(), probe.size());
  struct stat st;
  int fd = fileno(found.file.get());
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const bool whole =
      !LooksBinary(data) || (regular && static_cast<uint64_t>(st.st_size) < kMinBinarySize);
  // Text is looked at whole, through a read-only mapping filled at once.
  void *map = MAP_FAILED;
  std::size_t mapSize = 0;
  if (whole && regular && st.st_size > 0) {
    mapSize = static_cast<std::size_t>(st.st_size);
    map = mmap(nullptr, mapSize, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (map != MAP_FAILED) data = std::string_view(static_cast<const char *>(map), mapSize);
  }
  struct Unmap {
    void *p;
    std::size_t n;
    void release() {
      if (p != MAP_FAILED) munmap(p, n);
      p = MAP_FAILED;
    }
    ~Unmap() { release(); }
  } unmap{map, mapSize};
  if (whole && map == MAP_FAILED) {
    std::rewind(found.file.get());
    probe = ReadWholeFile(found.file.get(), kModule);
    data = std::string_view(probe.data(), probe.size());
  }
  found.file.reset();

  // Text is read here, whole, and handed to the library as the same facets in its binary layout:
  // its own reading of text is slow, and text it cannot parse can make it loop for ever.
  ScratchFile scratch;
  std::unique_ptr<BinaryCopy> copy;
  STLFacetSink sink;
  if (!LooksBinary(data)) {
    scratch.Open();
    copy.reset(new BinaryCopy(scratch));
    sink = [&copy](const float *v) { copy->Add(v); };
  }
  STLFileCheck check = STLCheckFile(data, sink);
  if (check.ascii) {
    if (!check.error.empty())
      fatal(1, "STLReadObj: %s is not a readable ASCII STL file: %s\n", objName.c_str(),
            check.error.c_str());
    if (check.facets == 0) fatal(1, "STLReadObj: %s holds no facets\n", objName.c_str());
    if (check.facets > INT32_MAX / 3)
      fatal(1, "STLReadObj: %s has too many facets (%lld)\n", objName.c_str(), check.facets);
    if (copy->facets * kFacetSize + kBinaryHeader < kMinBinarySize) {
      // Too few facets for the library's binary size check: text it reads to the same values.
      std::string text = FacetsAsText(copy->block.data(), copy->facets);
      scratch.Restart();
      scratch.Write(text.data(), text.size());
    } else {
      copy->Flush();
      const uint32_t count = static_cast<uint32_t>(copy->facets);
      scratch.WriteAt(reinterpret_cast<const char *>(&count), 4, kLabelSize);
    }
    path = scratch.path;
  } else if (check.shortBinary > 0) {
    if (check.countMismatch)
      warn("Warning: File size doesn't match number of facets in the header\n");
    std::string text = FacetsAsText(data.data() + kBinaryHeader, check.shortBinary);
    scratch.Restart();
    scratch.Write(text.data(), text.size());
    path = scratch.path;
  } else if (check.markBinary) {
    std::string marked(data);
    marked[kFirstAttribute] = static_cast<char>(marked[kFirstAttribute] | 0x80);
    scratch.Restart();
    scratch.Write(marked.data(), marked.size());
    path = scratch.path;
  }
  copy.reset();
  unmap.release();
  probe = std::vector<char>();

  STLObjPtr obj(new (std::nothrow) STLObj);
  if (!obj) allocFailed("STLObj", 1, __LINE__, kModule);
  std::memset(obj.get(), 0, sizeof(STLObj));
  STLRepairObj(obj.get(), path);
  return obj;
}

void LoadSTLObject() {
  STLObjPtr obj = STLReadObj();
  STLFormatObj(*obj, *currentShape);
  obj.reset();
  // The repair's many small blocks are free now but still held by the allocator; the vertex
  // lists that come next can have that memory.
  malloc_trim(0);
}
