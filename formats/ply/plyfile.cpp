#include "formats/ply/plyfile.h"

#include "base/fatal.h"
#include "base/scanText.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>
#include <type_traits>

#if defined(__SANITIZE_ADDRESS__)
#define PLY_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLY_SANITIZED 1
#endif
#endif

// Converts one binary item in the file to a field of the record.
using PlyConvert = void (*)(const char *src, char *dst);

// One property's part in reading an instance of a binary element.
struct PlyReadStep {
  int target = -1; // -1 not stored, 0 the caller's record, 1 the other block
  int is_list = 0;
  int offset = 0, count_offset = 0;
  int ext = 0, in = 0, cext = 0;
  std::size_t size = 0, csize = 0, insize = 0;
  bool copy = false;           // list items stored as they are in the file: one block copy
  std::size_t file_offset = 0; // within an instance of scalars only
  PlyConvert conv = nullptr, cconv = nullptr;
};

struct PlyReadPlan {
  bool fast = false;      // every type known: the steps below read the instance
  bool all_scalar = true; // instances have one fixed size
  std::size_t fixed = 0;  // that size
  std::vector<PlyReadStep> steps;
};

namespace {

const char *const kPlyFileName = "formats/ply/plyfile";
constexpr std::size_t kBufferSize = 1 << 20;
constexpr unsigned long long kMaxHeaderBytes = 1ULL << 20;
[[maybe_unused]] constexpr std::size_t kHugePage = 2 << 20;
[[maybe_unused]] constexpr std::size_t kArenaChunk = 4 << 20;

const char *const kTypeNames[] = {"invalid", "char", "short", "int",   "uchar",
                                  "ushort",  "uint", "float", "double"};
// Many writers use the sized names of the format's later revision; they mean the same types.
const char *const kSizedTypeNames[] = {"",       "int8",   "int16",   "int32",  "uint8",
                                       "uint16", "uint32", "float32", "float64"};
const int kTypeSizes[] = {0, 1, 2, 4, 1, 2, 4, 4, 8};

std::string headerError;

// One value as the file gives it: the integer view and the floating view of the same number.
struct PlyValue {
  long long i;
  double d;
};

[[noreturn]] void allocationBombed(int line) {
  fatal(-1, "Memory allocation bombed on line %d in %s\n", line, kPlyFileName);
}

// Runs `work` and returns what it returns; an allocation inside it that cannot be made ends the
// run with the library's own report, naming `line`.
template <class Work> auto orBombed(int line, Work &&work) -> decltype(work()) {
  using Result = decltype(work());
  if constexpr (std::is_void_v<Result>) {
    if (!TryAlloc(work)) allocationBombed(line);
  } else {
    Result result{};
    if (!TryAlloc([&] { result = work(); })) allocationBombed(line);
    return result;
  }
}

[[noreturn]] void unexpectedEnd() {
  fatal(-1, "ply_get_element: unexpected end of file\n");
}

// Binary data that ends early: a byte count in the header is wrong or the file was cut short. Said
// with the file's name when the caller gave it.
[[noreturn]] void binaryEnd(const PlyInput &in) {
  if (in.name.empty()) unexpectedEnd();
  fatal(-1, "ply_get_element: unexpected end of file: %s is shorter than its header says\n",
        in.name.c_str());
}

bool hostBigEndian() {
  return __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
}

bool validType(int type) {
  return type > kPlyInvalid && type <= kPlyDouble;
}

long long truncateToInteger(double d) {
  if (!(d == d)) return 0;
  if (d >= 9.2233720368547758e18) return INT64_MAX;
  if (d <= -9.2233720368547758e18) return INT64_MIN;
  return static_cast<long long>(d);
}

// --- input ---------------------------------------------------------------------------------

void inputOpen(PlyInput &in, FILE *fp) {
  in.fp = fp;
  struct stat st;
  long here = std::ftell(fp);
  if (fstat(fileno(fp), &st) == 0 && S_ISREG(st.st_mode) && here >= 0) {
    unsigned long long size = static_cast<unsigned long long>(st.st_size);
    in.total = size > static_cast<unsigned long long>(here) ? size - here : 0;
    in.buf.resize(
        static_cast<std::size_t>(std::min<unsigned long long>(in.total + 1, kBufferSize)));
    return;
  }
  // A pipe or device: its size is only known once it is all read.
  in.buf.resize(kBufferSize);
  for (;;) {
    if (in.end == in.buf.size()) in.buf.resize(in.buf.size() * 2);
    std::size_t n = std::fread(in.buf.data() + in.end, 1, in.buf.size() - in.end, fp);
    if (n == 0) break;
    in.end += n;
  }
  in.at_eof = true;
  in.total = in.end;
}

// Makes at least `need` unread bytes available; false when the input ends first.
bool inputFill(PlyInput &in, std::size_t need) {
  if (in.end - in.pos >= need) return true;
  if (in.at_eof) return false;
  if (in.pos > 0) {
    std::memmove(in.buf.data(), in.buf.data() + in.pos, in.end - in.pos);
    in.consumed += in.pos;
    in.end -= in.pos;
    in.pos = 0;
  }
  if (need > in.buf.size()) in.buf.resize(std::max(need, in.buf.size() * 2));
  while (in.end < need && !in.at_eof) {
    std::size_t n = std::fread(in.buf.data() + in.end, 1, in.buf.size() - in.end, in.fp);
    if (n == 0) in.at_eof = true;
    in.end += n;
  }
  return in.end - in.pos >= need;
}

// The next line, without its newline, as [*begin, *end) inside the buffer (valid until the next
// read): 1, or 0 at the end of the input, or -1 when the line runs beyond `limit` bytes.
int inputLine(PlyInput &in, const char **begin, const char **end,
              std::size_t limit = static_cast<std::size_t>(-1)) {
  std::size_t scanned = 0;
  for (;;) {
    char *start = in.buf.data() + in.pos;
    std::size_t avail = in.end - in.pos;
    void *nl = std::memchr(start + scanned, in.eol, avail - scanned);
    if (nl) {
      *begin = start;
      *end = static_cast<char *>(nl);
      in.pos += static_cast<char *>(nl) - start + 1;
      ++in.line;
      return 1;
    }
    if (avail > limit) return -1;
    if (in.at_eof) {
      if (avail == 0) return 0;
      *begin = start;
      *end = start + avail;
      in.pos = in.end;
      ++in.line;
      return 1;
    }
    scanned = avail;
    inputFill(in, avail + 1);
  }
}

// --- items -----------------------------------------------------------------------------------

template <class T> T loadBytes(const char *p, bool swap) {
  T v;
  if (!swap) {
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  char r[sizeof(T)];
  for (std::size_t k = 0; k < sizeof(T); ++k) r[k] = p[sizeof(T) - 1 - k];
  std::memcpy(&v, r, sizeof v);
  return v;
}

// One value's two views: an integer and its double, or a real and the integer it truncates to.
PlyValue wholeValue(long long i) {
  return {i, static_cast<double>(i)};
}
PlyValue realValue(double d) {
  return {truncateToInteger(d), d};
}

PlyValue decodeBinary(const char *p, int type, bool swap) {
  switch (type) {
  case kPlyChar:
    return wholeValue(static_cast<int8_t>(*p));
  case kPlyUchar:
    return wholeValue(static_cast<uint8_t>(*p));
  case kPlyShort:
    return wholeValue(loadBytes<int16_t>(p, swap));
  case kPlyUshort:
    return wholeValue(loadBytes<uint16_t>(p, swap));
  case kPlyInt:
    return wholeValue(loadBytes<int32_t>(p, swap));
  case kPlyUint:
    return wholeValue(loadBytes<uint32_t>(p, swap));
  case kPlyFloat:
    return realValue(loadBytes<float>(p, swap));
  case kPlyDouble:
    return realValue(loadBytes<double>(p, swap));
  default:
    fatal(-1, "get_binary_item: bad type = %d\n", type);
  }
}

PlyValue getBinaryItem(PlyInput &in, int type, bool swap) {
  if (!validType(type)) fatal(-1, "get_binary_item: bad type = %d\n", type);
  std::size_t size = static_cast<std::size_t>(kTypeSizes[type]);
  if (in.end - in.pos < size && !inputFill(in, size)) binaryEnd(in);
  const char *p = in.buf.data() + in.pos;
  in.pos += size;
  return decodeBinary(p, type, swap);
}

// The decimal integer at the start of [p, e), held to [lo, hi]; *stop is where it ends.
long long parseInteger(const char *p, const char *e, long long lo, long long hi,
                       const char **stop = nullptr) {
  long long v;
  const char *end = ParseInteger(p, e, v);
  if (stop) *stop = end;
  return std::min(hi, std::max(lo, v));
}

// As C reads a number, correctly rounded: the longest leading run that is a number (0 when there
// is none); *stop is where it ends.
double parseDouble(const char *p, const char *e, const char **stop = nullptr) {
  double d;
  const char *end = ParseDouble(p, e, d);
  if (stop) *stop = end;
  return d;
}

PlyValue decodeAscii(const char *p, const char *e, int type, const char **stop = nullptr) {
  switch (type) {
  case kPlyChar:
  case kPlyShort:
  case kPlyInt:
  case kPlyUchar:
  case kPlyUshort:
    return wholeValue(parseInteger(p, e, INT32_MIN, INT32_MAX, stop));
  case kPlyUint:
    // Unsigned values above the signed range keep their value (a saturating signed read would
    // turn every large index or id into the same number).
    return wholeValue(parseInteger(p, e, INT32_MIN, UINT32_MAX, stop));
  case kPlyFloat:
  case kPlyDouble:
    return realValue(parseDouble(p, e, stop));
  default:
    fatal(-1, "get_ascii_item: bad type = %d\n", type);
  }
}

struct AsciiLine {
  const char *p;
  const char *e;
  bool cut; // the data ends on this line, without a newline
};

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// A line without the values its instance needs. On the last line of a file that stops without a
// newline, the file was cut short: that is the end of the file coming early.
[[noreturn]] void lineTooShort(const AsciiLine &line, const PlyStream *plyfile) {
  if (line.cut) unexpectedEnd();
  fatal(-1, "ply_get_element: too few values for element '%s' on line %ld\n",
        plyfile->elems[static_cast<std::size_t>(plyfile->which_elem)].name.c_str(),
        plyfile->in.line);
}

PlyValue getAsciiItem(AsciiLine &line, int type, const PlyStream *plyfile) {
  if (!validType(type)) fatal(-1, "get_ascii_item: bad type = %d\n", type);
  while (line.p < line.e && isBlank(*line.p)) ++line.p;
  if (line.p == line.e) lineTooShort(line, plyfile);
  // A number never runs over a blank, so it is read in place; the rest of its word is skipped.
  const char *stop = line.p;
  PlyValue v = decodeAscii(line.p, line.e, type, &stop);
  line.p = stop;
  while (line.p < line.e && !isBlank(*line.p)) ++line.p;
  return v;
}

void storeItem(char *addr, int type, const PlyValue &v) {
  switch (type) {
  case kPlyChar:
  case kPlyUchar: {
    uint8_t x = static_cast<uint8_t>(static_cast<unsigned long long>(v.i));
    std::memcpy(addr, &x, 1);
    break;
  }
  case kPlyShort:
  case kPlyUshort: {
    uint16_t x = static_cast<uint16_t>(static_cast<unsigned long long>(v.i));
    std::memcpy(addr, &x, 2);
    break;
  }
  case kPlyInt:
  case kPlyUint: {
    uint32_t x = static_cast<uint32_t>(static_cast<unsigned long long>(v.i));
    std::memcpy(addr, &x, 4);
    break;
  }
  case kPlyFloat: {
    // Beyond single range the value becomes an infinity, as the hardware rounds it.
    float x = std::fabs(v.d) >= 0x1.ffffffp127 ? (v.d < 0 ? -HUGE_VALF : HUGE_VALF)
                                               : static_cast<float>(v.d);
    std::memcpy(addr, &x, 4);
    break;
  }
  case kPlyDouble:
    std::memcpy(addr, &v.d, 8);
    break;
  default:
    fatal(-1, "store_item: bad type = %d\n", type);
  }
}

int findElement(const PlyStream *plyfile, const std::string &name) {
  auto it = plyfile->elem_index.find(name);
  return it == plyfile->elem_index.end() ? -1 : it->second;
}

bool rejectHeader(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
bool rejectHeader(const char *fmt, ...) {
  char text[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  headerError = text;
  return false;
}

// The fewest bytes one instance can take in the file.
unsigned long long minimumInstanceBytes(const PlyElementDesc &elem, int file_type) {
  unsigned long long bytes = 0;
  for (const PlyPropertyDesc &prop : elem.props) {
    if (file_type == kPlyAscii) {
      bytes += 2; // a word and its separator
    } else {
      int type = prop.is_list ? prop.count_external : prop.external_type;
      // A type of no size cannot be read at all; it still must not make the instance free.
      bytes += validType(type) ? static_cast<unsigned long long>(kTypeSizes[type]) : 1;
    }
  }
  // Every ascii instance is a line of its own, even one without properties. A binary instance
  // without properties takes no bytes at all.
  return file_type == kPlyAscii ? std::max(bytes, 1ULL) : bytes;
}

// Splits a header line (tabs and stray carriage returns count as spaces) into words.
void splitWords(std::string &line, std::vector<std::pair<std::size_t, std::size_t>> &words) {
  words.clear();
  for (char &c : line)
    if (c == '\t' || c == '\r') c = ' ';
  std::size_t i = 0, n = line.size();
  while (i < n) {
    while (i < n && line[i] == ' ') ++i;
    if (i == n) break;
    std::size_t start = i;
    while (i < n && line[i] != ' ') ++i;
    words.emplace_back(start, i - start);
  }
}

bool parseHeader(PlyStream &ply) {
  std::string line;
  std::vector<std::pair<std::size_t, std::size_t>> words;
  auto word = [&](std::size_t k) { return line.substr(words[k].first, words[k].second); };
  bool first = true;
  bool haveFormat = false;
  unsigned long long headerBytes = 0;
  // Lines that end in a lone CR: "ply" and a CR not followed by a newline. Every line of the
  // file then ends so, and binary data begins right after the CR of "end_header".
  inputFill(ply.in, 5);
  const char *head = ply.in.buf.data() + ply.in.pos;
  if (ply.in.end - ply.in.pos >= 5 && std::memcmp(head, "ply\r", 4) == 0 && head[4] != '\n')
    ply.in.eol = '\r';
  for (;;) {
    const char *b = nullptr, *e = nullptr;
    int got = inputLine(ply.in, &b, &e, static_cast<std::size_t>(kMaxHeaderBytes - headerBytes));
    if (got < 0 && !first)
      return rejectHeader("the header is longer than %llu bytes", kMaxHeaderBytes);
    if (got <= 0) {
      if (first) return rejectHeader("%s", "");
      break; // no "end_header": the elements have no data
    }
    if (e > b && e[-1] == '\r') --e; // CR LF line ends read as LF ones
    headerBytes += static_cast<unsigned long long>(e - b) + 1;
    // Each header line costs far more memory than its bytes; real headers are a few kilobytes.
    if (headerBytes > kMaxHeaderBytes)
      return rejectHeader("the header is longer than %llu bytes", kMaxHeaderBytes);
    line.assign(b, e);
    splitWords(line, words);
    long lineNo = ply.in.line;
    if (first) {
      first = false;
      if (words.empty() || word(0) != "ply") return rejectHeader("%s", "");
    }
    if (words.empty()) continue;
    std::string key = word(0);
    if (key == "end_header") break;
    if (key == "format") {
      if (words.size() != 3)
        return rejectHeader("line %ld: \"format\" needs a file type and a version", lineNo);
      std::string type = word(1);
      if (type == "ascii")
        ply.file_type = kPlyAscii;
      else if (type == "binary_big_endian")
        ply.file_type = kPlyBinaryBE;
      else if (type == "binary_little_endian")
        ply.file_type = kPlyBinaryLE;
      else
        return rejectHeader("line %ld: unknown file type '%s'", lineNo, type.c_str());
      std::string version = word(2);
      ply.version =
          static_cast<float>(parseDouble(version.data(), version.data() + version.size()));
      haveFormat = true;
    } else if (key == "element") {
      if (words.size() < 3)
        return rejectHeader("line %ld: \"element\" needs a name and a count", lineNo);
      std::string count = word(2);
      long long n = parseInteger(count.data(), count.data() + count.size(), INT32_MIN, INT32_MAX);
      std::string name = word(1);
      if (n < 0)
        return rejectHeader("line %ld: element '%s' has a negative count", lineNo, name.c_str());
      if (findElement(&ply, name) >= 0)
        return rejectHeader("line %ld: element '%s' is declared twice", lineNo, name.c_str());
      PlyElementDesc elem;
      elem.name = name;
      elem.num = static_cast<int>(n);
      ply.elem_index.emplace(name, static_cast<int>(ply.elems.size()));
      ply.elems.push_back(std::move(elem));
    } else if (key == "property") {
      if (ply.elems.empty())
        return rejectHeader("line %ld: \"property\" before any \"element\"", lineNo);
      PlyPropertyDesc prop;
      if (words.size() >= 2 && word(1) == "list") {
        if (words.size() < 5)
          return rejectHeader("line %ld: \"property list\" needs two types and a name", lineNo);
        prop.count_external = ply_type_code(word(2));
        prop.external_type = ply_type_code(word(3));
        prop.name = word(4);
        prop.is_list = 1;
      } else {
        if (words.size() < 3)
          return rejectHeader("line %ld: \"property\" needs a type and a name", lineNo);
        prop.external_type = ply_type_code(word(1));
        prop.name = word(2);
      }
      ply.elems.back().props.push_back(std::move(prop));
    } else if (key == "comment" || key == "obj_info") {
      std::size_t at = words[0].first + words[0].second;
      while (at < line.size() && line[at] == ' ') ++at;
      std::string text(b, e); // the line copy keeps its tabs as spaces, its words unsplit
      for (char &c : text)
        if (c == '\t' || c == '\r') c = ' ';
      (key == "comment" ? ply.comments : ply.obj_info).push_back(text.substr(at));
    }
  }
  if (!haveFormat) return rejectHeader("%s", "no \"format\" line");

  // Binary counts the data cannot hold are refused here, before anything is allocated for them.
  // Ascii data that ends early is met while reading, as the library reports it; a caller sizing
  // its records by a count first asks ply_check_elements.
  unsigned long long need = 0;
  unsigned long long left = ply.in.left();
  for (PlyElementDesc &elem : ply.elems) {
    elem.store_prop.assign(elem.props.size(), 0);
    elem.other_placed.assign(elem.props.size(), 0);
    elem.other_offset = -1;
    unsigned long long each = minimumInstanceBytes(elem, ply.file_type);
    elem.min_bytes = each;
    if (ply.file_type == kPlyAscii || each == 0) continue;
    unsigned long long n = static_cast<unsigned long long>(elem.num);
    if (n > 0 && (each > left / n || need + n * each > left))
      return rejectHeader("element '%s' declares %d instances, more than the %llu bytes of data "
                          "can hold",
                          elem.name.c_str(), elem.num, left);
    need += n * each;
  }
  return true;
}

} // namespace

// --- public operations -------------------------------------------------------------------------

int ply_type_code(const std::string &word) {
  for (int code = kPlyChar; code <= kPlyDouble; ++code)
    if (word == kTypeNames[code]) return code;
  for (int code = kPlyChar; code <= kPlyDouble; ++code)
    if (word == kSizedTypeNames[code]) return code;
  return kPlyInvalid;
}

int ply_type_size(int code) {
  return validType(code) ? kTypeSizes[code] : 0;
}

void *ply_big_alloc(std::size_t bytes) {
#ifndef PLY_SANITIZED
  if (bytes >= kHugePage) {
    std::size_t size = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    std::size_t span = size + kHugePage;
    void *m = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return nullptr;
    uintptr_t start = reinterpret_cast<uintptr_t>(m);
    uintptr_t aligned = (start + kHugePage - 1) & ~static_cast<uintptr_t>(kHugePage - 1);
    if (aligned > start) munmap(m, aligned - start);
    std::size_t tail = start + span - (aligned + size);
    if (tail) munmap(reinterpret_cast<char *>(aligned + size), tail);
    madvise(reinterpret_cast<void *>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void *>(aligned);
  }
#endif
  return std::calloc(1, bytes ? bytes : 1);
}

void ply_big_free(void *p, std::size_t bytes) {
  if (!p) return;
  (void)bytes;
#ifndef PLY_SANITIZED
  if (bytes >= kHugePage) {
    munmap(p, (bytes + kHugePage - 1) & ~(kHugePage - 1));
    return;
  }
#endif
  std::free(p);
}

PlyArena::~PlyArena() {
  for (const Chunk &c : chunks_) ply_big_free(c.data, c.size);
}

void *PlyArena::refill(std::size_t bytes) {
  std::size_t need = bytes ? bytes : 1;
#ifdef PLY_SANITIZED
  // One block per request, so that the checker sees each block's bounds.
  std::size_t size = need;
#else
  std::size_t size = std::max<std::size_t>(need, kArenaChunk);
#endif
  if (chunks_.size() == chunks_.capacity()) chunks_.reserve(chunks_.size() * 2 + 16);
  char *data = static_cast<char *>(ply_big_alloc(size)); // aligned for any item
  if (!data) throw std::bad_alloc();
  chunks_.push_back(Chunk{data, size});
#ifdef PLY_SANITIZED
  next_ = data + size;
  left_ = 0;
#else
  next_ = data + need;
  left_ = size - need;
#endif
  total_ += need;
  return data;
}

PlyStream::~PlyStream() {
  plans.clear();
  if (fp) std::fclose(fp);
}

const std::string &ply_header_error() {
  return headerError;
}

std::unique_ptr<PlyStream> ply_read_header(FILE *fp, int *nelems,
                                           std::vector<std::string> *elem_names) {
  headerError.clear();
  if (!fp) return nullptr;
  return orBombed(__LINE__, [&]() -> std::unique_ptr<PlyStream> {
    auto ply = std::make_unique<PlyStream>();
    inputOpen(ply->in, fp);
    if (!parseHeader(*ply)) return nullptr;
    ply->storage = std::make_shared<PlyArena>();
    ply->plans.resize(ply->elems.size());
    ply->fp = fp;
    if (nelems) *nelems = ply->nelems();
    if (elem_names) {
      elem_names->clear();
      for (const PlyElementDesc &elem : ply->elems) elem_names->push_back(elem.name);
    }
    return ply;
  });
}

void ply_file_info(PlyStream *plyfile, float *version, int *file_type) {
  if (version) *version = plyfile->version;
  if (file_type) *file_type = plyfile->file_type;
}

bool ply_element_description(PlyStream *plyfile, const std::string &elem_name, int *nelems,
                             int *nprops, std::vector<PlyPropertyDesc> *props) {
  int idx = findElement(plyfile, elem_name);
  if (idx < 0) return false;
  const PlyElementDesc &elem = plyfile->elems[static_cast<std::size_t>(idx)];
  if (nelems) *nelems = elem.num;
  if (nprops) *nprops = elem.nprops();
  orBombed(__LINE__, [&] {
    if (props) *props = elem.props;
  });
  return true;
}

void ply_request_property(PlyStream *plyfile, const std::string &elem_name,
                          const PlyPropertyDesc &desc) {
  int idx = findElement(plyfile, elem_name);
  if (idx < 0) {
    warn("Warning:  Can't find element '%s'\n", elem_name.c_str());
    return;
  }
  plyfile->which_elem = idx;
  plyfile->plans[static_cast<std::size_t>(idx)].reset();
  PlyElementDesc &elem = plyfile->elems[static_cast<std::size_t>(idx)];
  for (std::size_t i = 0; i < elem.props.size(); ++i) {
    PlyPropertyDesc &prop = elem.props[i];
    if (prop.name != desc.name) continue;
    // A list stored where the caller keeps a scalar (or the reverse) would write a pointer over
    // the caller's neighbouring fields.
    if (prop.is_list != desc.is_list) {
      warn("Warning:  Property '%s' in element '%s' is %s in the file; not read\n",
           desc.name.c_str(), elem_name.c_str(), prop.is_list ? "a list" : "not a list");
      return;
    }
    prop.internal_type = desc.internal_type;
    prop.offset = desc.offset;
    prop.count_internal = desc.count_internal;
    prop.count_offset = desc.count_offset;
    elem.store_prop[i] = 1;
    elem.other_placed[i] = 0;
    return;
  }
  warn("Warning:  Can't find property '%s' in element '%s'\n", desc.name.c_str(),
       elem_name.c_str());
}

int ply_layout_other_props(PlyElementDesc &elem, int pointer_size) {
  int offset = 0;
  for (int size : {8, 4, 2, 1}) {
    for (std::size_t i = 0; i < elem.props.size(); ++i) {
      if (elem.store_prop[i]) continue;
      PlyPropertyDesc &prop = elem.props[i];
      prop.internal_type = prop.external_type;
      prop.count_internal = prop.count_external;
      if (!validType(prop.external_type) || (prop.is_list && !validType(prop.count_external)))
        continue; // never placed: its first value ends the read
      if (prop.is_list) {
        if (pointer_size == size) {
          prop.offset = offset;
          offset += pointer_size;
        }
        if (kTypeSizes[prop.count_external] == size) {
          prop.count_offset = offset;
          offset += size;
        }
      } else if (kTypeSizes[prop.external_type] == size) {
        prop.offset = offset;
        offset += size;
      }
      elem.other_placed[i] = 1;
    }
  }
  elem.other_size = offset;
  return offset;
}

std::unique_ptr<PlyOtherProps> ply_get_other_properties(PlyStream *plyfile,
                                                        const std::string &elem_name, int offset) {
  int idx = findElement(plyfile, elem_name);
  if (idx < 0) {
    warn("ply_get_other_properties: Can't find element '%s'\n", elem_name.c_str());
    return nullptr;
  }
  return orBombed(__LINE__, [&]() -> std::unique_ptr<PlyOtherProps> {
    plyfile->which_elem = idx;
    plyfile->plans[static_cast<std::size_t>(idx)].reset();
    PlyElementDesc &elem = plyfile->elems[static_cast<std::size_t>(idx)];
    elem.other_offset = offset;
    auto other = std::make_unique<PlyOtherProps>();
    other->name = elem_name;
    other->size = ply_layout_other_props(elem, static_cast<int>(sizeof(void *)));
    for (std::size_t i = 0; i < elem.props.size(); ++i)
      if (!elem.store_prop[i]) other->props.push_back(elem.props[i]);
    if (other->props.empty()) elem.other_offset = -1;
    return other;
  });
}

namespace {

// Reads `count` binary items of `type` into `items` (internal type `stored`, or not at all).
void getBinaryList(PlyInput &in, int type, int stored, bool swap, long long count, char *items) {
  std::size_t size = static_cast<std::size_t>(kTypeSizes[type]);
  std::size_t bytes = static_cast<std::size_t>(count) * size;
  if (!items || stored == type) {
    // Same layout in file and record: one copy (and a byte swap) for the whole list.
    if (!inputFill(in, bytes)) binaryEnd(in);
    const char *p = in.buf.data() + in.pos;
    in.pos += bytes;
    if (!items) return;
    std::memcpy(items, p, bytes);
    if (swap && size > 1)
      for (std::size_t k = 0; k < bytes; k += size) std::reverse(items + k, items + k + size);
    return;
  }
  std::size_t out = static_cast<std::size_t>(kTypeSizes[stored]);
  for (long long k = 0; k < count; ++k)
    storeItem(items + static_cast<std::size_t>(k) * out, stored, getBinaryItem(in, type, swap));
}

template <int E, int I, bool S> void convertItem(const char *src, char *dst) {
  storeItem(dst, I, decodeBinary(src, E, S));
}

template <int E, bool S> PlyConvert converterTo(int in) {
  switch (in) {
  case kPlyChar:
    return &convertItem<E, kPlyChar, S>;
  case kPlyShort:
    return &convertItem<E, kPlyShort, S>;
  case kPlyInt:
    return &convertItem<E, kPlyInt, S>;
  case kPlyUchar:
    return &convertItem<E, kPlyUchar, S>;
  case kPlyUshort:
    return &convertItem<E, kPlyUshort, S>;
  case kPlyUint:
    return &convertItem<E, kPlyUint, S>;
  case kPlyFloat:
    return &convertItem<E, kPlyFloat, S>;
  case kPlyDouble:
    return &convertItem<E, kPlyDouble, S>;
  default:
    return nullptr;
  }
}

template <bool S> PlyConvert converterFrom(int ext, int in) {
  switch (ext) {
  case kPlyChar:
    return converterTo<kPlyChar, S>(in);
  case kPlyShort:
    return converterTo<kPlyShort, S>(in);
  case kPlyInt:
    return converterTo<kPlyInt, S>(in);
  case kPlyUchar:
    return converterTo<kPlyUchar, S>(in);
  case kPlyUshort:
    return converterTo<kPlyUshort, S>(in);
  case kPlyUint:
    return converterTo<kPlyUint, S>(in);
  case kPlyFloat:
    return converterTo<kPlyFloat, S>(in);
  case kPlyDouble:
    return converterTo<kPlyDouble, S>(in);
  default:
    return nullptr;
  }
}

PlyConvert converterFor(int ext, int in, bool swap) {
  return swap ? converterFrom<true>(ext, in) : converterFrom<false>(ext, in);
}

} // namespace

namespace {

PlyReadPlan &readPlan(PlyStream *plyfile, const PlyElementDesc &elem, bool swap) {
  std::unique_ptr<PlyReadPlan> &slot =
      plyfile->plans[static_cast<std::size_t>(plyfile->which_elem)];
  if (slot) return *slot;
  slot = std::make_unique<PlyReadPlan>();
  PlyReadPlan &plan = *slot;
  plan.fast = plyfile->file_type != kPlyAscii;
  for (std::size_t i = 0; i < elem.props.size(); ++i) {
    const PlyPropertyDesc &prop = elem.props[i];
    PlyReadStep step;
    if (elem.store_prop[i])
      step.target = 0;
    else if (elem.other_offset != -1 && elem.other_placed[i])
      step.target = 1;
    step.is_list = prop.is_list;
    step.offset = prop.offset;
    step.count_offset = prop.count_offset;
    step.ext = prop.external_type;
    step.in = prop.internal_type;
    step.cext = prop.count_external;
    step.size = static_cast<std::size_t>(ply_type_size(prop.external_type));
    step.csize = static_cast<std::size_t>(ply_type_size(prop.count_external));
    if (!validType(step.ext) || (step.is_list && !validType(step.cext))) plan.fast = false;
    if (step.target >= 0) {
      if (step.is_list) {
        step.cconv = converterFor(step.cext, prop.count_internal, swap);
        if (!step.cconv || !validType(step.in)) plan.fast = false;
      } else {
        step.conv = converterFor(step.ext, step.in, swap);
        if (!step.conv) plan.fast = false;
      }
    }
    if (step.is_list) plan.all_scalar = false;
    step.insize = static_cast<std::size_t>(ply_type_size(step.in));
    step.copy = step.target >= 0 && step.is_list && step.ext == step.in && !swap;
    step.file_offset = plan.fixed;
    plan.fixed += step.size;
    plan.steps.push_back(step);
  }
  return plan;
}

// Reads one instance of a binary element whose types are all known, by its plan.
void getBinaryElement(PlyStream *plyfile, const PlyElementDesc &elem, const PlyReadPlan &plan,
                      char *record, char *other, bool swap) {
  PlyInput &in = plyfile->in;
  if (plan.all_scalar) {
    if (in.end - in.pos < plan.fixed && !inputFill(in, plan.fixed)) binaryEnd(in);
    const char *p = in.buf.data() + in.pos;
    in.pos += plan.fixed;
    for (const PlyReadStep &step : plan.steps)
      if (step.target >= 0)
        step.conv(p + step.file_offset, (step.target ? other : record) + step.offset);
    return;
  }
  for (const PlyReadStep &step : plan.steps) {
    char *base = step.target ? other : record;
    if (!step.is_list) {
      if (in.end - in.pos < step.size && !inputFill(in, step.size)) binaryEnd(in);
      const char *p = in.buf.data() + in.pos;
      in.pos += step.size;
      if (step.target >= 0) step.conv(p, base + step.offset);
      continue;
    }
    if (in.end - in.pos < step.csize && !inputFill(in, step.csize)) binaryEnd(in);
    const char *p = in.buf.data() + in.pos;
    in.pos += step.csize;
    long long count = decodeBinary(p, step.cext, swap).i;
    if (step.target >= 0) step.cconv(p, base + step.count_offset);
    if (count < 0 || count > INT32_MAX)
      fatal(-1, "ply_get_element: bad count %lld in list '%s' of element '%s'\n", count,
            elem.props[static_cast<std::size_t>(&step - plan.steps.data())].name.c_str(),
            elem.name.c_str());
    void *items = nullptr;
    if (count > 0) {
      std::size_t bytes = static_cast<std::size_t>(count) * step.size;
      if (bytes > in.left()) binaryEnd(in);
      if (step.target >= 0)
        items = plyfile->storage->alloc(static_cast<std::size_t>(count) * step.insize, step.insize);
      if (step.copy) {
        if (in.end - in.pos < bytes && !inputFill(in, bytes)) binaryEnd(in);
        std::memcpy(items, in.buf.data() + in.pos, bytes);
        in.pos += bytes;
      } else {
        getBinaryList(in, step.ext, step.in, swap, count, static_cast<char *>(items));
      }
    }
    if (step.target >= 0) std::memcpy(base + step.offset, &items, sizeof items);
  }
}

// A data line of blanks only, or one whose first word is "comment".
bool IsBlankOrCommentLine(const char *p, const char *e) {
  while (p < e && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')) ++p;
  if (p == e) return true;
  return e - p >= 7 && std::memcmp(p, "comment", 7) == 0 &&
         (e - p == 7 || p[7] == ' ' || p[7] == '\t' || p[7] == '\r');
}

// Reads one instance into `record`; with no record it is read and nothing is kept.
void getElement(PlyStream *plyfile, char *record) {
  if (plyfile->which_elem < 0) fatal(-1, "ply_get_element: no element chosen\n");
  PlyElementDesc &elem = plyfile->elems[static_cast<std::size_t>(plyfile->which_elem)];
  PlyInput &in = plyfile->in;
  char *other = nullptr;
  if (record && elem.other_offset != -1) {
    other = static_cast<char *>(plyfile->storage->alloc(static_cast<std::size_t>(elem.other_size)));
    std::memcpy(record + elem.other_offset, &other, sizeof other);
  }
  const bool ascii = plyfile->file_type == kPlyAscii;
  const bool swap = plyfile->file_type == (hostBigEndian() ? kPlyBinaryLE : kPlyBinaryBE);
  if (!ascii && record) {
    const PlyReadPlan &plan = readPlan(plyfile, elem, swap);
    if (plan.fast) {
      getBinaryElement(plyfile, elem, plan, record, other, swap);
      return;
    }
  }
  AsciiLine line{nullptr, nullptr, false};
  if (ascii) {
    // Writers put blank lines and comment lines between instances and between elements; an
    // instance without properties is a line of its own, blank or not.
    do {
      if (inputLine(in, &line.p, &line.e) <= 0) unexpectedEnd();
    } while (!elem.props.empty() && IsBlankOrCommentLine(line.p, line.e));
    line.cut = in.at_eof && line.e == in.buf.data() + in.end;
  }
  for (std::size_t i = 0; i < elem.props.size(); ++i) {
    const PlyPropertyDesc &prop = elem.props[i];
    bool requested = record && elem.store_prop[i] != 0;
    bool store = requested || (other && elem.other_placed[i]);
    char *base = requested ? record : other;
    if (!prop.is_list) {
      PlyValue v = ascii ? getAsciiItem(line, prop.external_type, plyfile)
                         : getBinaryItem(in, prop.external_type, swap);
      if (store) storeItem(base + prop.offset, prop.internal_type, v);
      continue;
    }
    PlyValue c = ascii ? getAsciiItem(line, prop.count_external, plyfile)
                       : getBinaryItem(in, prop.count_external, swap);
    if (store) storeItem(base + prop.count_offset, prop.count_internal, c);
    long long count = c.i;
    if (count < 0 || count > INT32_MAX)
      fatal(-1, "ply_get_element: bad count %lld in list '%s' of element '%s'\n", count,
            prop.name.c_str(), elem.name.c_str());
    void *items = nullptr;
    if (count > 0) {
      if (!validType(prop.external_type))
        fatal(-1, ascii ? "get_ascii_item: bad type = %d\n" : "get_binary_item: bad type = %d\n",
              prop.external_type);
      // The file must hold the items before room is made for them.
      if (ascii) {
        if (static_cast<unsigned long long>(count) >
            (static_cast<unsigned long long>(line.e - line.p) + 1) / 2)
          lineTooShort(line, plyfile);
      } else if (static_cast<unsigned long long>(count) * kTypeSizes[prop.external_type] >
                 in.left()) {
        binaryEnd(in);
      }
      if (store) {
        if (!validType(prop.internal_type))
          fatal(-1, "store_item: bad type = %d\n", prop.internal_type);
        std::size_t size = static_cast<std::size_t>(kTypeSizes[prop.internal_type]);
        items = plyfile->storage->alloc(static_cast<std::size_t>(count) * size, size);
      }
    }
    if (store) std::memcpy(base + prop.offset, &items, sizeof items);
    if (count == 0) continue;
    if (ascii) {
      std::size_t out = items ? static_cast<std::size_t>(kTypeSizes[prop.internal_type]) : 0;
      for (long long k = 0; k < count; ++k) {
        PlyValue v = getAsciiItem(line, prop.external_type, plyfile);
        if (items)
          storeItem(static_cast<char *>(items) + static_cast<std::size_t>(k) * out,
                    prop.internal_type, v);
      }
    } else {
      getBinaryList(in, prop.external_type, prop.internal_type, swap, count,
                    static_cast<char *>(items));
    }
  }
}

} // namespace

void ply_set_file_name(PlyStream *plyfile, const std::string &name) {
  plyfile->in.name = name;
}

void ply_check_elements(PlyStream *plyfile, int count) {
  if (plyfile->which_elem < 0) fatal(-1, "ply_get_element: no element chosen\n");
  const PlyElementDesc &elem = plyfile->elems[static_cast<std::size_t>(plyfile->which_elem)];
  const bool ascii = plyfile->file_type == kPlyAscii;
  // The last ascii line may go without its newline.
  unsigned long long room = plyfile->in.left() + (ascii ? 1 : 0);
  if (count <= 0 || elem.min_bytes == 0 ||
      static_cast<unsigned long long>(count) <= room / elem.min_bytes)
    return;
  // Every instance read takes at least min_bytes, so the data gives out before the last one, at
  // the very place and with the very message that reading them into records would meet.
  orBombed(__LINE__, [&] {
    for (int k = 0; k < count; ++k) getElement(plyfile, nullptr);
  });
  if (ascii) unexpectedEnd();
  binaryEnd(plyfile->in);
}

void ply_get_element(PlyStream *plyfile, void *elem_ptr) {
  orBombed(__LINE__, [&] { getElement(plyfile, static_cast<char *>(elem_ptr)); });
}

void ply_get_elements(PlyStream *plyfile, void *first, std::size_t stride, std::size_t count) {
  orBombed(__LINE__, [&] {
    char *record = static_cast<char *>(first);
    if (plyfile->which_elem < 0) fatal(-1, "ply_get_element: no element chosen\n");
    PlyElementDesc &elem = plyfile->elems[static_cast<std::size_t>(plyfile->which_elem)];
    if (plyfile->file_type != kPlyAscii) {
      const bool swap = plyfile->file_type == (hostBigEndian() ? kPlyBinaryLE : kPlyBinaryBE);
      const PlyReadPlan &plan = readPlan(plyfile, elem, swap);
      if (plan.fast) {
        for (std::size_t k = 0; k < count; ++k, record += stride) {
          char *other = nullptr;
          if (elem.other_offset != -1) {
            other = static_cast<char *>(
                plyfile->storage->alloc(static_cast<std::size_t>(elem.other_size)));
            std::memcpy(record + elem.other_offset, &other, sizeof other);
          }
          getBinaryElement(plyfile, elem, plan, record, other, swap);
        }
        return;
      }
    }
    for (std::size_t k = 0; k < count; ++k, record += stride) getElement(plyfile, record);
  });
}

std::shared_ptr<PlyOtherElementList>
ply_get_other_element(PlyStream *plyfile, const std::string &elem_name, int elem_count) {
  int idx = findElement(plyfile, elem_name);
  if (idx < 0) fatal(-1, "ply_get_other_element: can't find element '%s'\n", elem_name.c_str());
  if (elem_count < 0 || elem_count > plyfile->elems[static_cast<std::size_t>(idx)].num)
    fatal(-1, "ply_get_other_element: element '%s' has no %d instances\n", elem_name.c_str(),
          elem_count);
  return orBombed(__LINE__, [&]() -> std::shared_ptr<PlyOtherElementList> {
    if (!plyfile->other_elems) {
      plyfile->other_elems = std::make_shared<PlyOtherElementList>();
      plyfile->other_elems->storage = plyfile->storage;
    }
    plyfile->other_elems->other_list.emplace_back();
    PlyOtherElement &entry = plyfile->other_elems->other_list.back();
    entry.elem_count = elem_count;
    entry.elem_name = elem_name;
    entry.other_props = ply_get_other_properties(plyfile, elem_name, 0);
    ply_check_elements(plyfile, elem_count);
    const PlyElementDesc &elem = plyfile->elems[static_cast<std::size_t>(idx)];
    if (elem.props.empty()) {
      // Nothing to keep. An ascii instance is still a line to pass; a binary one is no bytes.
      if (plyfile->file_type == kPlyAscii)
        for (int k = 0; k < elem_count; ++k) getElement(plyfile, nullptr);
      return plyfile->other_elems;
    }
    entry.other_data.resize(static_cast<std::size_t>(elem_count));
    for (PlyOtherData &data : entry.other_data) ply_get_element(plyfile, &data);
    return plyfile->other_elems;
  });
}

std::shared_ptr<PlyArena> ply_get_storage(PlyStream *plyfile) {
  return plyfile->storage;
}

std::vector<std::string> ply_comments(PlyStream *plyfile, int *num_comments) {
  std::vector<std::string> list = std::move(plyfile->comments);
  plyfile->comments.clear();
  if (num_comments) *num_comments = static_cast<int>(list.size());
  return list;
}

std::vector<std::string> ply_obj_info(PlyStream *plyfile, int *num_obj_info) {
  std::vector<std::string> list = std::move(plyfile->obj_info);
  plyfile->obj_info.clear();
  if (num_obj_info) *num_obj_info = static_cast<int>(list.size());
  return list;
}

void ply_close_file(std::unique_ptr<PlyStream> plyfile) {
  plyfile.reset(); // the record's end closes the stream
}
