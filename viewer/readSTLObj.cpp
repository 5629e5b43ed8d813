#include "readSTLObj.h"

#include "fatal.h"
#include "findObj.h"
#include "readers.h"
#include "shell.h"

#include <cerrno>
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
  bool newline = false;   // a line ended since the last word
  bool lineStart = false; // the last word began its line
  void SkipBlanks() {
    while (p < end && Blank(*p)) newline |= *p++ == '\n';
  }
  bool AtEnd() {
    SkipBlanks();
    return p >= end;
  }
  // The next word, or an empty one at the end.
  std::pair<const char *, std::size_t> Word() {
    SkipBlanks();
    lineStart = newline;
    newline = false;
    const char *start = p;
    while (p < end && !Blank(*p)) ++p;
    return {start, static_cast<std::size_t>(p - start)};
  }
  bool Expect(const char *word) {
    auto w = Word();
    return w.second == std::strlen(word) && std::memcmp(w.first, word, w.second) == 0;
  }
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

bool WordIs(const std::pair<const char *, std::size_t> &w, const char *text) {
  return w.second == std::strlen(text) && std::memcmp(w.first, text, w.second) == 0;
}

} // namespace

static bool LooksBinary(std::string_view data) {
  if (data.size() < kBinaryHeader + kTypeProbe) return false;
  for (std::size_t i = kBinaryHeader; i < kBinaryHeader + kTypeProbe; ++i)
    if (static_cast<unsigned char>(data[i]) > 127) return true;
  return false;
}

// One pass over the text. Without `out` it checks the words and counts solids and facets, and
// notes whether every facet keeps the library's one line per keyword; with `out` it writes the
// facets of all solids into one solid, seven lines each, with the numbers as they are written.
static bool WalkText(std::string_view data, STLFileCheck &check, std::string *out,
                     const char *&errorAt, const char *&why) {
  TextWalk t{data.data(), data.data(), data.data() + data.size()};
  auto fail = [&](const char *at, const char *reason) {
    errorAt = at;
    why = reason;
    return false;
  };
  if (!t.Expect("solid")) return fail(t.p, "no \"solid\" at the start");
  t.SkipLine();
  if (out) {
    out->assign(data.data(), t.p);
    if (out->empty() || out->back() != '\n') *out += '\n';
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
  for (;;) {
    if (t.AtEnd()) { // the last "endsolid" may be missing
      ++check.solids;
      break;
    }
    const char *at = t.p;
    auto w = t.Word();
    if (WordIs(w, "facet")) {
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
    } else if (WordIs(w, "endsolid")) {
      ++check.solids;
      t.SkipLine();
      if (t.AtEnd()) break;
      at = t.p;
      if (!WordIs(t.Word(), "solid")) return fail(at, "text after \"endsolid\"");
      t.SkipLine();
    } else {
      return fail(at, "unexpected word");
    }
  }
  if (out) *out += "endsolid\n";
  return true;
}

STLFileCheck STLCheckFile(std::string_view data) {
  STLFileCheck check;
  if (LooksBinary(data)) return check;
  check.ascii = true;
  const char *errorAt = nullptr, *why = nullptr;
  if (!WalkText(data, check, nullptr, errorAt, why)) {
    uint32_t count;
    std::memcpy(&count, data.data() + kLabelSize, 4);
    if (count > 0 && data.size() == kBinaryHeader + uint64_t(count) * kFacetSize) {
      check = STLFileCheck();
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
  // The library counts lines to size its facet array and reads one solid only: other layouts
  // get a copy it can read, holding the same facets in file order.
  if (check.solids > 1 || check.needsCopy) {
    STLFileCheck again;
    WalkText(data, again, &check.textCopy, errorAt, why);
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
  if (!AllConnected(obj)) {
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
  // The first bytes tell whether the library takes the file for binary; only text is read whole.
  std::vector<char> probe(kBinaryHeader + kTypeProbe);
  probe.resize(std::fread(probe.data(), 1, probe.size(), found.file.get()));
  std::string_view data(probe.data(), probe.size());
  // Text is looked at whole, through a read-only mapping filled at once.
  void *map = MAP_FAILED;
  std::size_t mapSize = 0;
  struct stat st;
  int fd = fileno(found.file.get());
  if (!LooksBinary(data) && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
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
  if (!LooksBinary(data) && map == MAP_FAILED) {
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
