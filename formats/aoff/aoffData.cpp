#include "formats/aoff/aoffData.h"

#include "base/fatal.h"
#include "base/files.h"
#include "base/scanText.h"

#include <cctype>
#include <cfloat>
#include <cmath>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <sys/stat.h>

static const char *kModule = "aoffData";

bool LetterSize(char letter, uint32_t &size, uint32_t &align) {
  switch (letter) {
  case 'b':
    size = align = 1;
    return true;
  case 'h':
    size = align = 2;
    return true;
  case 'i':
  case 'f':
  case 's':
    size = align = 4;
    return true;
  case 'd':
    // Doubles sit on 4-byte boundaries in this format, not 8.
    size = 8;
    align = 4;
    return true;
  default:
    return false;
  }
}

bool ComputeRecordLayout(const std::string &format, RecordLayout &layout) {
  layout = RecordLayout();
  if (format.empty() || format.size() > kMaxRecordLetters) return false;
  uint32_t offset = 0;
  for (char c : format) {
    uint32_t size = 0, align = 1;
    if (!LetterSize(c, size, align)) return false;
    offset = (offset + align - 1) / align * align;
    layout.offsets.push_back(offset);
    offset += size;
    if (c == 's') layout.hasText = true;
  }
  layout.letters = format;
  layout.size = (offset + 3) / 4 * 4;
  layout.tail = layout.size - offset;
  return true;
}

namespace {

// Values sit in the record area as the host keeps them, at offsets of any alignment.
template <class T> T Load(const uint8_t *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class T> void Store(uint8_t *p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// Floats beyond the 32-bit range become infinities rather than undefined conversions.
float ToFloat(double d) {
  if (d > FLT_MAX) return HUGE_VALF;
  if (d < -FLT_MAX) return -HUGE_VALF;
  return static_cast<float>(d);
}

} // namespace

double AOFFValue::Number(uint32_t record, std::size_t letter) const {
  if (letter >= layout.letters.size() || record >= records) return 0;
  std::size_t at = std::size_t(record) * layout.size + layout.offsets[letter];
  uint32_t size = 0, align = 1;
  LetterSize(layout.letters[letter], size, align);
  if (at + size > bytes.size()) return 0;
  const uint8_t *p = bytes.data() + at;
  switch (layout.letters[letter]) {
  case 'b':
    return *p;
  case 'h':
    return Load<int16_t>(p);
  case 'i':
    return Load<int32_t>(p);
  case 'f':
    return Load<float>(p);
  case 'd':
    return Load<double>(p);
  default:
    return 0;
  }
}

float AOFFValue::Float(uint32_t record, std::size_t letter) const {
  return ToFloat(Number(record, letter));
}

const std::string *AOFFValue::Text(uint32_t record, std::size_t letter) const {
  if (letter >= layout.letters.size() || record >= records || layout.letters[letter] != 's')
    return nullptr;
  std::size_t at = std::size_t(record) * layout.size + layout.offsets[letter];
  if (at + 4 > bytes.size()) return nullptr;
  uint32_t slot;
  std::memcpy(&slot, bytes.data() + at, 4);
  return slot < texts.size() ? &texts[slot] : nullptr;
}

namespace {

// Integers keep their low bits, as a cast to the letter's width gives them.
void StoreNumber(uint8_t *p, char letter, long long i, double d) {
  const unsigned long long u = static_cast<unsigned long long>(i);
  switch (letter) {
  case 'b':
    Store(p, static_cast<uint8_t>(u));
    break;
  case 'h':
    Store(p, static_cast<uint16_t>(u));
    break;
  case 'i':
    Store(p, static_cast<uint32_t>(u));
    break;
  case 'f':
    Store(p, ToFloat(d));
    break;
  case 'd':
    Store(p, d);
    break;
  }
}

// Whitespace-separated numbers and words of a text data file. Every item must end at white
// space or at the end of the file: a value that does not parse is refused, not read as zero.
bool AtItemEnd(const TextCursor &c) {
  return c.p == c.end || IsTextSpace(*c.p);
}
bool StartsNumber(TextCursor &c) {
  ScanSpace(c);
  const char *q = c.p;
  if (q < c.end && (*q == '+' || *q == '-')) ++q;
  return q < c.end && IsTextDigit(*q);
}
// Integers beyond 2^40 are no count, index or field a data file can mean.
bool ItemInt(TextCursor &c, long long &v) {
  const long long kLimit = 1LL << 40;
  long long x;
  if (ScanInt(c, x) != kScanRead || x > kLimit || x < -kLimit || !AtItemEnd(c)) return false;
  v = x;
  return true;
}
// Values beyond the range of a double are refused rather than read as an infinity or zero.
bool ItemDouble(TextCursor &c, double &v) {
  ScanSpace(c);
  bool outOfRange = false;
  const char *stop = ParseDouble(c.p, c.end, v, &outOfRange);
  if (stop == c.p || outOfRange) return false;
  c.p = stop;
  return AtItemEnd(c);
}
bool ItemWord(TextCursor &c, std::string &w, std::size_t max) {
  std::string_view word;
  if (ScanWord(c, word) != kScanRead || word.size() > max) return false;
  w.assign(word);
  return true;
}

struct ReaderInfo {
  const char *name;
  uint32_t magic;
  const char *formatTail;
};

const ReaderInfo &Info(int kind) {
  static const ReaderInfo generic{"OFFReadGeneric", 0xBEEFBEEFu, "valid for generic data type\n"};
  static const ReaderInfo indexed{"OFFReadIndexed", 0xBADBADBAu, "valid for indexed data type\n"};
  static const ReaderInfo poly{"AOFFReadIndexedPoly", 0xFEEDFEEDu, "valid for indexed poly type\n"};
  return kind == kAOFFGeneric ? generic : kind == kAOFFIndexed ? indexed : poly;
}

uint32_t LE32(const char *p) {
  const unsigned char *u = reinterpret_cast<const unsigned char *>(p);
  return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}
int16_t LE16(const char *p) {
  const unsigned char *u = reinterpret_cast<const unsigned char *>(p);
  return static_cast<int16_t>(uint16_t(u[0] | u[1] << 8));
}

// Disk values are little-endian; a big-endian host turns each value of the records around.
void RecordsToHost(AOFFValue &v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  for (uint32_t r = 0; r < v.records; ++r)
    for (std::size_t k = 0; k < v.layout.letters.size(); ++k) {
      if (v.layout.letters[k] == 's') continue; // a text's number is already in host order
      uint32_t size = 0, align = 1;
      LetterSize(v.layout.letters[k], size, align);
      uint8_t *p = v.bytes.data() + std::size_t(r) * v.layout.size + v.layout.offsets[k];
      for (uint32_t a = 0, b = size - 1; a < b; ++a, --b) std::swap(p[a], p[b]);
    }
#else
  (void)v;
#endif
}

// The bytes of a binary file, read front to back with bounds checks.
struct Cursor {
  const char *p;
  const char *end;
  std::size_t Left() const { return std::size_t(end - p); }
  bool Skip(std::size_t n) {
    if (Left() < n) return false;
    p += n;
    return true;
  }
  bool U32(uint32_t &v) {
    if (Left() < 4) return false;
    v = LE32(p);
    p += 4;
    return true;
  }
};

class DataReader {
public:
  DataReader(AOFFProp &prop, int kind, std::string_view data, const std::string &path)
      : prop_(prop), v_(prop.value), kind_(kind), info_(Info(kind)), data_(data), path_(path) {}

  int Read() {
    v_ = AOFFValue();
    binary_ = data_.size() >= 4 && LE32(data_.data()) == info_.magic;
    long long n = 0, m = 0, t = 0;
    if (binary_) {
      cur_ = Cursor{data_.data() + 4, data_.data() + data_.size()};
      uint32_t a = 0, b = 0, c = 0;
      bool ok = cur_.U32(a);
      if (ok && kind_ != kAOFFGeneric) ok = cur_.U32(b);
      if (ok && kind_ == kAOFFIndexedPoly) ok = cur_.U32(c);
      if (!ok) return Truncated();
      n = int32_t(a), m = int32_t(b), t = int32_t(c);
    } else {
      sc_ = CursorOver(data_.data(), data_.data() + data_.size());
      std::string word;
      if (kind_ == kAOFFIndexedPoly && !StartsNumber(sc_) && !ItemWord(sc_, word, SIZE_MAX))
        return Truncated();
      bool ok = ItemInt(sc_, n);
      if (ok && kind_ != kAOFFGeneric) ok = ItemInt(sc_, m);
      if (ok && kind_ == kAOFFIndexedPoly) ok = ItemInt(sc_, t);
      if (!ok) return Truncated();
    }
    if (!ComputeRecordLayout(prop_.format, v_.layout)) {
      warn("%s: data format not ", info_.name);
      warn("%s", info_.formatTail);
      return -1;
    }
    if (!CountsFit(n, m, t)) {
      warn("%s: data file %s declares more data than it holds\n", info_.name, path_.c_str());
      return -1;
    }
    v_.records = uint32_t(n);
    prop_.count = int32_t(n);
    if (kind_ == kAOFFIndexedPoly) {
      v_.polygons = uint32_t(m);
      v_.total = uint32_t(t);
    } else if (kind_ == kAOFFIndexed) {
      v_.total = uint32_t(m);
    }
    std::size_t bytes = std::size_t(n) * v_.layout.size;
    ALLOC_OR_REPORT("char", bytes, kModule, v_.bytes.assign(bytes, 0));
    bool ok = binary_ ? ReadBinary() : ReadText();
    return ok ? 0 : Truncated();
  }

private:
  int Truncated() {
    warn("%s: data file %s ends early or holds a value that cannot be read\n", info_.name,
         path_.c_str());
    return -1;
  }

  // Counts are refused unless the file could hold them, before anything is allocated.
  bool CountsFit(long long n, long long m, long long t) const {
    if (n < 0 || m < 0 || t < 0 || n > INT32_MAX || m > INT32_MAX || t > INT32_MAX) return false;
    const unsigned long long size = data_.size();
    if (binary_) {
      unsigned long long perRecord = v_.layout.size;
      if (v_.layout.hasText && kind_ != kAOFFGeneric) perRecord -= v_.layout.tail;
      unsigned long long need = (unsigned long long)n * perRecord;
      if (kind_ == kAOFFIndexed) need += 2ull * (unsigned long long)m;
      if (kind_ == kAOFFIndexedPoly) need += 2ull * ((unsigned long long)m + (unsigned long long)t);
      return need <= cur_.Left();
    }
    // Every text value takes at least one character and a separator (but the last).
    unsigned long long values = (unsigned long long)n * v_.layout.letters.size();
    if (kind_ != kAOFFGeneric) values += (unsigned long long)m;
    return values == 0 || 2 * values - 1 <= size;
  }

  bool ReadBinary() {
    const RecordLayout &L = v_.layout;
    if (!L.hasText) {
      std::size_t bytes = v_.bytes.size();
      if (cur_.Left() < bytes) return false;
      if (bytes) std::memcpy(v_.bytes.data(), cur_.p, bytes);
      cur_.p += bytes;
      RecordsToHost(v_);
    } else {
      for (uint32_t r = 0; r < v_.records; ++r) {
        uint8_t *rec = v_.bytes.data() + std::size_t(r) * L.size;
        uint32_t at = 0;
        for (std::size_t k = 0; k < L.letters.size(); ++k) {
          uint32_t size = 0, align = 1;
          LetterSize(L.letters[k], size, align);
          if (!cur_.Skip(L.offsets[k] - at)) return false;
          at = L.offsets[k] + size;
          if (L.letters[k] == 's') {
            uint32_t len;
            if (!cur_.U32(len)) return false;
            // The length counts the closing zero byte; a text has at most 255 characters.
            if (len < 1 || len > kMaxDataWord + 1 || cur_.Left() < (len + 3) / 4 * 4) return false;
            std::size_t chars = strnlen(cur_.p, len);
            if (!AddText(rec + L.offsets[k], std::string(cur_.p, chars))) return false;
            cur_.p += (len + 3) / 4 * 4;
          } else {
            if (cur_.Left() < size) return false;
            std::memcpy(rec + L.offsets[k], cur_.p, size);
            cur_.p += size;
          }
        }
        if (kind_ == kAOFFGeneric && !cur_.Skip(L.tail)) return false;
      }
      RecordsToHost(v_);
    }
    if (kind_ == kAOFFGeneric) return true;
    if (!cur_.Skip(L.tail)) return false;
    if (kind_ == kAOFFIndexed) return Shorts(v_.indices, v_.total);
    return Shorts(v_.sizes, v_.polygons) && Shorts(v_.indices, v_.total);
  }

  bool Shorts(std::vector<int32_t> &out, uint32_t count) {
    if (cur_.Left() / 2 < count) return false;
    ALLOC_OR_REPORT("short", count, kModule, out.resize(count));
    for (uint32_t i = 0; i < count; ++i, cur_.p += 2) out[i] = LE16(cur_.p);
    return true;
  }

  bool AddText(uint8_t *slot, std::string text) {
    if (v_.texts.size() >= UINT32_MAX) return false;
    uint32_t number = static_cast<uint32_t>(v_.texts.size());
    v_.texts.push_back(std::move(text));
    std::memcpy(slot, &number, 4);
    return true;
  }

  bool ReadText() {
    const RecordLayout &L = v_.layout;
    for (uint32_t r = 0; r < v_.records; ++r) {
      uint8_t *rec = v_.bytes.data() + std::size_t(r) * L.size;
      for (std::size_t k = 0; k < L.letters.size(); ++k) {
        char letter = L.letters[k];
        long long i = 0;
        double d = 0;
        if (letter == 's') {
          std::string w;
          if (!ItemWord(sc_, w, kMaxDataWord) || !AddText(rec + L.offsets[k], std::move(w)))
            return false;
          continue;
        }
        if (letter == 'f' || letter == 'd') {
          if (!ItemDouble(sc_, d)) return false;
        } else if (!ItemInt(sc_, i)) {
          return false;
        }
        StoreNumber(rec + L.offsets[k], letter, i, d);
      }
    }
    if (kind_ == kAOFFGeneric) return true;
    if (kind_ == kAOFFIndexed) {
      v_.indices.reserve(v_.total);
      for (uint32_t k = 0; k < v_.total; ++k) {
        int32_t x;
        if (!Index(x)) return false;
        v_.indices.push_back(x);
      }
      return true;
    }
    // Polygons: a size, then that many indices. The declared total only sizes the first
    // reservation; the indices actually read are what counts.
    ALLOC_OR_REPORT("short", v_.polygons, kModule, v_.sizes.resize(v_.polygons);
                    v_.indices.reserve(std::min<std::size_t>(v_.total, data_.size() / 2)));
    for (uint32_t p = 0; p < v_.polygons; ++p) {
      int32_t k;
      if (!Index(k) || k < 0) return false;
      v_.sizes[p] = k;
      for (int32_t j = 0; j < k; ++j) {
        int32_t x;
        if (!Index(x)) return false;
        v_.indices.push_back(x);
      }
    }
    return true;
  }

  bool Index(int32_t &x) {
    long long v;
    if (!ItemInt(sc_, v) || v < INT32_MIN || v > INT32_MAX) return false;
    x = int32_t(v);
    return true;
  }

  AOFFProp &prop_;
  AOFFValue &v_;
  int kind_;
  const ReaderInfo &info_;
  const std::string_view data_;
  const std::string &path_;
  bool binary_ = false;
  Cursor cur_{nullptr, nullptr};
  TextCursor sc_;
};

// The last indexed_poly file read. Loading a ".geom" object reads its geometry up to three
// times (header preparation, normal files, header); an unchanged file is parsed only once.
struct DataCache {
  bool valid = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime {};
  std::string format;
  AOFFProp prop;
};

DataCache &Cache() {
  static DataCache cache;
  return cache;
}

bool Cached(const DataCache &c, const struct stat &st, int kind, const std::string &format) {
  return c.valid && kind == kAOFFIndexedPoly && c.dev == st.st_dev && c.ino == st.st_ino &&
         c.size == st.st_size && c.mtime.tv_sec == st.st_mtim.tv_sec &&
         c.mtime.tv_nsec == st.st_mtim.tv_nsec && c.format == format;
}

int ReadDataFile(AOFFProp &prop, int kind, const std::string &path) {
  const ReaderInfo &info = Info(kind);
  struct stat st;
  FILE *f = OpenRegularFile(path, st);
  if (!f) {
    warn("%s: cannot open data file %s\n", info.name, path.c_str());
    return -1;
  }
  return ReadAOFFOpenFile(prop, kind, f, st, path);
}

} // namespace

int ReadAOFFData(AOFFProp &prop, int kind, const std::vector<char> &data, const std::string &path) {
  return DataReader(prop, kind, std::string_view(data.data(), data.size()), path).Read();
}

int ReadAOFFOpenFile(AOFFProp &prop, int kind, FILE *f, const struct stat &st,
                     const std::string &path) {
  DataCache &cache = Cache();
  if (Cached(cache, st, kind, prop.format)) {
    std::fclose(f);
    prop.count = cache.prop.count;
    prop.value = cache.prop.value;
    return 0;
  }
  FileContents data;
  try {
    data.Load(f, kModule, path);
  } catch (...) {
    std::fclose(f);
    throw;
  }
  std::fclose(f);
  int rc = DataReader(prop, kind, std::string_view(data.data(), data.size()), path).Read();
  if (rc == 0 && kind == kAOFFIndexedPoly) {
    cache.valid = false;
    cache.prop.count = prop.count;
    cache.prop.value = prop.value;
    cache.dev = st.st_dev;
    cache.ino = st.st_ino;
    cache.size = st.st_size;
    cache.mtime = st.st_mtim;
    cache.format = prop.format;
    cache.valid = true;
  }
  return rc;
}

void ForgetAOFFData() {
  Cache() = DataCache();
}

int OFFReadGeneric(AOFFProp &prop, const std::string &path) {
  return ReadDataFile(prop, kAOFFGeneric, path);
}
int OFFReadIndexed(AOFFProp &prop, const std::string &path) {
  return ReadDataFile(prop, kAOFFIndexed, path);
}
int AOFFReadIndexedPoly(AOFFProp &prop, const std::string &path) {
  return ReadDataFile(prop, kAOFFIndexedPoly, path);
}

// Default values are read leniently, since hand-written headers often carry units or stray
// characters: a number is the longest prefix of its word that reads as one, and a missing or
// unreadable value stays zero.
bool ReadDefaultValues(AOFFProp &prop, const std::string &rest) {
  AOFFValue &v = prop.value;
  v = AOFFValue();
  RecordLayout &L = v.layout;
  uint32_t offset = 0;
  for (char c : prop.format) {
    uint32_t size = 0, align = 1;
    if (!LetterSize(c, size, align)) return false;
    // A text slot goes where the last value ended, without alignment.
    if (c != 's') offset = (offset + align - 1) / align * align;
    L.offsets.push_back(offset);
    offset += size;
    if (c == 's') L.hasText = true;
  }
  L.letters = prop.format;
  // Every default block is at least 100 bytes, so readers may take any field of a short format as
  // zero; a line that needs more simply gets a larger one.
  L.size = std::max<uint32_t>(100, (offset + 3) / 4 * 4);
  v.records = 1;
  v.bytes.assign(L.size, 0);
  std::size_t i = 0;
  auto sep = [](char ch) { return ch == ' ' || ch == '\t' || ch == ','; };
  for (std::size_t k = 0; k < L.letters.size(); ++k) {
    while (i < rest.size() && sep(rest[i])) ++i;
    char c = L.letters[k];
    uint8_t *p = v.bytes.data() + L.offsets[k];
    if (c == 's') {
      std::size_t start = i;
      while (i < rest.size() && rest[i] != ' ' && rest[i] != '\t') ++i;
      uint32_t number = static_cast<uint32_t>(v.texts.size());
      v.texts.push_back(rest.substr(start, i - start));
      std::memcpy(p, &number, 4);
      continue;
    }
    std::size_t start = i;
    while (i < rest.size() && !sep(rest[i])) ++i;
    const char *b = rest.data() + start, *e = rest.data() + i;
    if (c == 'f' || c == 'd') {
      // A default beyond the range of a double is taken as zero.
      double d = 0;
      bool outOfRange = false;
      ParseDouble(b, e, d, &outOfRange);
      if (outOfRange) d = 0;
      StoreNumber(p, c, 0, d);
    } else {
      long long n = 0;
      ParseInteger(b, e, n);
      StoreNumber(p, c, n, 0);
    }
  }
  return true;
}

// A float times 10^6 is exact in double (24 + 20 bits), so rounding that product to the nearest
// integer, ties to even, gives exactly the digits printf prints.
void AppendFixed6(std::string &out, float x) {
  double scaled = double(x) * 1e6;
  if (!std::isfinite(scaled) || std::fabs(scaled) >= 9e18) {
    char buf[400];
    int n = std::snprintf(buf, sizeof buf, "%f", double(x));
    if (n > 0) out.append(buf, static_cast<std::size_t>(std::min<int>(n, sizeof buf - 1)));
    return;
  }
  unsigned long long u = static_cast<unsigned long long>(std::nearbyint(std::fabs(scaled)));
  char buf[32];
  char *e = buf + sizeof buf, *q = e;
  for (int k = 0; k < 6; ++k, u /= 10) *--q = char('0' + u % 10);
  *--q = '.';
  do {
    *--q = char('0' + u % 10);
    u /= 10;
  } while (u);
  if (std::signbit(x)) *--q = '-';
  out.append(q, std::size_t(e - q));
}
