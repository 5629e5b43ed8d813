#include "viewer/readers/readSTLObj.h"

#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/formatTable.h"
#include "viewer/model/object.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
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

// A word-by-word walk over a text file, as the library's formatted reads see it.
struct TextWalk {
  const char *begin, *p, *end;

  static bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
  }
  // NUL bytes and the DOS end-of-file mark pad the end of some files; they end a word.
  static bool Filler(char c) { return c == '\0' || c == '\x1a'; }
  bool newline = false;   // a line ended since the last word
  bool lineStart = false; // the last word began its line
  bool oddCase = false;   // a keyword was written other than in lower case
  void SkipBlanks() {
    while (p < end && Blank(*p)) newline |= *p++ == '\n';
  }
  bool AtEnd() {
    SkipBlanks();
    return p >= end;
  }
  // Only blanks, NUL bytes and end-of-file marks are left; `filled` tells whether any of the
  // latter two were among them.
  bool OnlyPaddingLeft(bool &filled) {
    filled = false;
    for (const char *q = p; q < end; ++q) {
      if (Filler(*q))
        filled = true;
      else if (!Blank(*q))
        return false;
    }
    return true;
  }
  // The next word, or an empty one at the end.
  std::pair<const char *, std::size_t> Word() {
    SkipBlanks();
    lineStart = newline;
    newline = false;
    const char *start = p;
    while (p < end && !Blank(*p) && !Filler(*p)) ++p;
    return {start, static_cast<std::size_t>(p - start)};
  }
  // Keywords match in any case, as the library's reads take them.
  bool Is(const std::pair<const char *, std::size_t> &w, const char *word) {
    if (w.second != std::strlen(word)) return false;
    bool lower = true;
    for (std::size_t i = 0; i < w.second; ++i) {
      const char c = w.first[i];
      const char folded = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
      if (folded != word[i]) return false;
      lower = lower && folded == c;
    }
    oddCase |= !lower;
    return true;
  }
  bool Expect(const char *word) { return Is(Word(), word); }
  void SkipLine() {
    const void *nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    p = nl ? static_cast<const char *>(nl) + 1 : end;
    newline = true;
  }
  // A decimal number as the C library reads one, or an infinity or NaN.
  bool Number(std::string *out) {
    auto w = Word();
    if (out) out->append(" ").append(w.first, w.second);
    if (w.second == 0 || w.second > 31) return false;
    // The plain decimal form is checked here; anything else (an infinity, a NaN, a hexadecimal
    // float) is left to the C library's own reading.
    const char *q = w.first, *e = w.first + w.second;
    auto digits = [&] {
      const char *from = q;
      while (q < e && *q >= '0' && *q <= '9') ++q;
      return q > from;
    };
    if (*q == '+' || *q == '-') ++q;
    bool mantissa = digits();
    if (q < e && *q == '.') ++q, mantissa = digits() || mantissa;
    if (mantissa && q < e && (*q == 'e' || *q == 'E')) {
      ++q;
      if (q < e && (*q == '+' || *q == '-')) ++q;
      mantissa = digits();
    }
    if (mantissa && q == e) return true;
    char buf[32];
    std::memcpy(buf, w.first, w.second);
    buf[w.second] = '\0';
    char *stop = nullptr;
    std::strtof(buf, &stop);
    return stop == buf + w.second;
  }
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

// The library refuses text shorter than its type probe; blank lines, which it neither counts nor
// reads, make up the difference.
static void PadText(std::string &text) {
  if (text.size() < kBinaryHeader + kTypeProbe) text.resize(kBinaryHeader + kTypeProbe, '\n');
}

// A binary file of fewer facets than the library's smallest binary size, written as text it
// reads to the same values: nine significant digits give every float back exactly.
static std::string BinaryAsText(std::string_view data, long long facets) {
  std::string text = "solid\n";
  char line[160];
  for (long long i = 0; i < facets; ++i) {
    float v[12];
    std::memcpy(v, data.data() + kBinaryHeader + i * kFacetSize, sizeof v);
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
  PadText(text);
  return text;
}

// One pass over the text. Without `out` it checks the words and counts solids and facets, and
// notes whether the library may read the file as it is (one keyword per line, lower-case
// keywords, one solid, nothing after it); with `out` it writes the facets of all solids into one
// solid, seven lines each, with the numbers as they are written.
static bool WalkText(std::string_view data, STLFileCheck &check, std::string *out,
                     const char *&errorAt, const char *&why) {
  TextWalk t{data.data(), data.data(), data.data() + data.size()};
  auto fail = [&](const char *at, const char *reason) {
    errorAt = at;
    why = reason;
    return false;
  };
  if (!t.Expect("solid")) return fail(t.p, "no \"solid\" at the start");
  const char *name = t.p;
  t.SkipLine();
  if (out) {
    // The name stays inside the 80-byte label, clear of the bytes the library's type probe reads.
    std::string_view rest(name, static_cast<std::size_t>(t.p - name));
    while (!rest.empty() && TextWalk::Blank(rest.back())) rest.remove_suffix(1);
    out->assign("solid").append(rest.substr(0, kLabelSize - 6)).append("\n");
  }
  // A keyword must open its line and the words after it stay on that line.
  auto key = [&](const char *word, bool opensLine) {
    if (!t.Expect(word)) return false;
    if (t.lineStart != opensLine) check.needsCopy = true;
    return true;
  };
  auto numbers = [&]() {
    for (int i = 0; i < 3; ++i) {
      if (!t.Number(out)) return false;
      if (t.lineStart) check.needsCopy = true;
    }
    return true;
  };
  // The end of the text, blank or padded: the padding is left out of a copy.
  auto paddedEnd = [&]() {
    bool filled = false;
    if (!t.OnlyPaddingLeft(filled)) return false;
    check.needsCopy |= filled;
    return true;
  };
  for (;;) {
    if (paddedEnd()) { // the last "endsolid" may be missing
      ++check.solids;
      break;
    }
    const char *at = t.p;
    auto w = t.Word();
    if (t.Is(w, "facet")) {
      if (!t.lineStart) check.needsCopy = true;
      if (out) *out += "  facet normal";
      bool ok = key("normal", false) && numbers();
      if (out) *out += "\n    outer loop\n";
      ok = ok && key("outer", true) && key("loop", false);
      for (int v = 0; ok && v < 3; ++v) {
        if (out) *out += "      vertex";
        ok = key("vertex", true) && numbers();
        if (out) *out += "\n";
      }
      ok = ok && key("endloop", true) && key("endfacet", true);
      if (out) *out += "    endloop\n  endfacet\n";
      if (!ok) return fail(t.p, "malformed facet");
      ++check.facets;
    } else if (t.Is(w, "endsolid")) {
      ++check.solids;
      t.SkipLine();
      if (paddedEnd()) break;
      const char *next = t.p;
      auto w2 = t.Word();
      if (t.Is(w2, "solid")) {
        t.SkipLine();
      } else if (t.Is(w2, "facet")) {
        t.p = next; // facets without their "solid" line: read on as a further solid
      } else {
        // Notes after the object (an exporter's trailer): the object ends at its "endsolid".
        check.needsCopy = true;
        break;
      }
    } else {
      return fail(at, "unexpected word");
    }
  }
  check.needsCopy |= t.oddCase;
  if (out) *out += "endsolid\n";
  return true;
}

STLFileCheck STLCheckFile(std::string_view data) {
  STLFileCheck check;
  const long long binaryFacets = BinaryFacets(data);
  const bool small = data.size() < kMinBinarySize;
  if (LooksBinary(data)) {
    if (small && binaryFacets > 0) {
      check.countMismatch = binaryFacets != BinaryHeaderCount(data);
      check.textCopy = BinaryAsText(data, binaryFacets);
    }
    return check;
  }
  check.ascii = true;
  const char *errorAt = nullptr, *why = nullptr;
  if (!WalkText(data, check, nullptr, errorAt, why)) {
    // No text, but the exact layout of a binary file: binary, however its bytes look.
    if (binaryFacets > 0 && BinaryHeaderCount(data) == binaryFacets) {
      check = STLFileCheck();
      if (small)
        check.textCopy = BinaryAsText(data, binaryFacets);
      else
        check.markBinary = true;
      return check;
    }
    int line = 1;
    for (const char *q = data.data(); q < errorAt; ++q) line += *q == '\n';
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s on line %d", why, line);
    check.error = buf;
    return check;
  }
  // The library counts lines to size its facet array, reads one solid only and refuses text
  // shorter than its type probe: other layouts get a copy it can read, holding the same facets
  // in file order.
  if (check.solids > 1 || check.needsCopy || data.size() < kBinaryHeader + kTypeProbe) {
    STLFileCheck again;
    WalkText(data, again, &check.textCopy, errorAt, why);
    PadText(check.textCopy);
  }
  return check;
}

namespace {
// A file of our own that goes away with its scope.
struct TempFile {
  std::string path;
  ~TempFile() {
    if (!path.empty()) unlink(path.c_str());
  }
};
} // namespace

static void WriteTempCopy(TempFile &temp, const char *contents, std::size_t size) {
  const char *dir = std::getenv("TMPDIR");
  std::string tmpl = std::string(dir && *dir ? dir : "/tmp") + "/mirandel-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) fatal(1, "STLReadObj: cannot create a temporary file in %s\n", dir ? dir : "/tmp");
  temp.path = name.data();
  FILE *f = fdopen(fd, "wb");
  bool ok = f && std::fwrite(contents, 1, size, f) == size;
  if (f)
    ok = std::fclose(f) == 0 && ok;
  else
    close(fd);
  if (!ok) fatal(1, "STLReadObj: cannot write the temporary file %s\n", temp.path.c_str());
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

  // Text the library cannot parse can make it loop for ever: such a file is refused here.
  STLFileCheck check = STLCheckFile(data);
  if (check.ascii) {
    if (!check.error.empty())
      fatal(1, "STLReadObj: %s is not a readable ASCII STL file: %s\n", objName.c_str(),
            check.error.c_str());
    if (check.facets == 0) fatal(1, "STLReadObj: %s holds no facets\n", objName.c_str());
  }
  if (check.countMismatch)
    warn("Warning: File size doesn't match number of facets in the header\n");
  TempFile temp;
  if (!check.textCopy.empty()) {
    WriteTempCopy(temp, check.textCopy.data(), check.textCopy.size());
    path = temp.path;
  } else if (check.markBinary) {
    std::string copy(data);
    copy[kFirstAttribute] = static_cast<char>(copy[kFirstAttribute] | 0x80);
    WriteTempCopy(temp, copy.data(), copy.size());
    path = temp.path;
  }
  unmap.release();
  probe = std::vector<char>();
  check = STLFileCheck();

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
}
