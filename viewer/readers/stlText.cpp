#include "viewer/readers/stlText.h"

#include "base/fatal.h"
#include "base/fillArray.h"
#include "base/scanText.h"
#include "viewer/model/object.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#include <unistd.h>

static const char *kModule = "readSTLObj";

namespace {

// A word-by-word walk over text held in [p, end). The text may be read a block at a time: then
// `end` is only the end of what has been read so far, and a step that runs into it sets needMore
// and must be taken again once more text is there.
struct TextWalk {
  const char *p, *end;
  bool atEnd = true;           // `end` is the end of the text
  bool needMore = false;       // a step ran into the end of what has been read
  const char *block = nullptr; // where the text read so far begins, at offset `base` in the file
  long long base = 0;

  long long Offset(const char *at) const { return base + (at - block); }
  // Reaching `end` before the end of the text leaves the step unfinished.
  bool Short(const char *at) {
    if (at < end || atEnd) return false;
    needMore = true;
    return true;
  }
  void SkipBlanks() {
    while (p < end && IsTextSpace(*p)) ++p;
  }
  // Only blanks, NUL bytes and end-of-file marks are left.
  bool OnlyPaddingLeft() {
    for (const char *q = p; q < end; ++q)
      if (!EndsTextWord(*q)) return false;
    return !Short(end);
  }
  // The next word, or an empty one at the end.
  std::string_view Word() {
    SkipBlanks();
    const char *start = p;
    while (p < end && !EndsTextWord(*p)) ++p;
    Short(p);
    return {start, static_cast<std::size_t>(p - start)};
  }
  void SkipLine() {
    const void *nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    p = nl ? static_cast<const char *>(nl) + 1 : end;
    if (!nl) Short(p);
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
        EndsTextWord(p[n])) {
      p += n;
      return true;
    }
    return Is(Word(), keyword);
  }
  // A number, which must be the whole of its word.
  bool Number(float &out) {
    SkipBlanks();
    const char *stop = ParseFloat(p, end, out);
    if (stop > p && stop < end && EndsTextWord(*stop)) {
      p = stop;
      return true;
    }
    // Cut off by the end of what has been read, or followed by more of its word.
    const std::string_view w = Word();
    return !needMore && !w.empty() &&
           ParseFloat(w.data(), w.data() + w.size(), out) == w.data() + w.size();
  }
  bool Numbers(float *v) { return Number(v[0]) && Number(v[1]) && Number(v[2]); }
};

// Text read from a file a block at a time, from `from` up to `to`, into a buffer of our own.
struct TextFeed {
  int fd;
  long long next, to;
  std::vector<char> buffer;

  TextFeed(int fd_, long long from, long long to_)
      : fd(fd_), next(from), to(to_), buffer(std::size_t(1) << 20) {}
  // Starts `t` on the first block.
  void Start(TextWalk &t) {
    t.block = t.p = t.end = buffer.data();
    t.base = next;
    t.atEnd = false;
    Refill(t, t.p);
  }
  // Keeps the text from `mark` on, reads what follows it, and sets `t` back to `mark`.
  void Refill(TextWalk &t, const char *mark) {
    std::size_t keep = static_cast<std::size_t>(t.end - mark);
    const long long keptAt = t.Offset(mark);
    std::memmove(buffer.data(), mark, keep);
    // A step as long as half the buffer: the buffer grows, so that every read brings much.
    if (2 * keep > buffer.size()) {
      try {
        buffer.resize(2 * buffer.size());
      } catch (const std::bad_alloc &) {
        allocFailed("char", static_cast<long long>(2 * buffer.size()), __LINE__, kModule);
      }
    }
    std::size_t filled = keep;
    while (filled < buffer.size() && next < to) {
      const std::size_t want =
          static_cast<std::size_t>(std::min<long long>(to - next, buffer.size() - filled));
      const ssize_t n = pread(fd, buffer.data() + filled, want, next);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) fatal(1, "STLReadObj: cannot read %s\n", objName.c_str());
      filled += static_cast<std::size_t>(n);
      next += n;
    }
    t.block = t.p = buffer.data();
    t.end = buffer.data() + filled;
    t.base = keptAt;
    t.atEnd = next >= to;
    t.needMore = false;
  }
};

} // namespace

bool STLLooksBinary(std::string_view data) {
  if (data.size() < kSTLBinaryHeader + kSTLTypeProbe) return false;
  for (std::size_t i = kSTLBinaryHeader; i < kSTLBinaryHeader + kSTLTypeProbe; ++i)
    if (static_cast<unsigned char>(data[i]) > 127) return true;
  return false;
}

// The facets a binary file holds by its size: the library reads by the size and only warns
// about a header count that disagrees. -1 when the size fits no whole number of facets.
static long long BinaryFacets(std::string_view data) {
  if (data.size() < kSTLBinaryHeader || (data.size() - kSTLBinaryHeader) % kSTLFacetSize != 0)
    return -1;
  return static_cast<long long>((data.size() - kSTLBinaryHeader) / kSTLFacetSize);
}

static uint32_t BinaryHeaderCount(std::string_view data) {
  uint32_t count;
  std::memcpy(&count, data.data() + kSTLLabelSize, 4);
  return count;
}

// How a walk over facets ended.
enum class WalkEnd {
  Error,         // a word that does not belong where it stands
  AtEnd,         // the end of the text, in a solid whose "endsolid" is missing (counted)
  AfterEndsolid, // the end of the text right after an "endsolid"
  Notes,         // words after an "endsolid" that end the object
  More,          // not an end: the walk goes on
};

// Where the walk failed, as an offset in the file.
struct WalkError {
  long long at = 0;
  const char *why = nullptr;
};

// Walks facets from t.p on: checks the words, counts solids and facets, and hands each facet's
// twelve numbers (normal, then three vertices) to `facet` in file order, across solids. Each step
// (a facet, an "endsolid" and what follows it) is taken whole: one that runs into the end of what
// `feed` has read so far is taken again with more text.
static WalkEnd WalkFacets(TextWalk &t, TextFeed *feed, STLFileCheck &check,
                          const STLFacetSink &facet, WalkError &error) {
  float v[12];
  for (;;) {
    const char *mark = t.p, *failedAt = nullptr, *why = nullptr;
    WalkEnd end = WalkEnd::More;
    bool isFacet = false;
    int solids = 0;
    if (t.OnlyPaddingLeft()) {
      solids = 1; // the last "endsolid" may be missing
      end = WalkEnd::AtEnd;
    } else if (!t.needMore) {
      const char *at = t.p;
      auto w = t.Word();
      if (TextWalk::Is(w, "facet")) {
        // Some writers leave the normal out ("facet" alone): the library computes it.
        const char *afterFacet = t.p;
        bool bare = t.Expect("outer");
        if (bare) v[0] = v[1] = v[2] = 0.0f;
        if (!bare) t.p = afterFacet;
        bool ok = bare
                      ? t.Expect("loop")
                      : t.Expect("normal") && t.Numbers(v) && t.Expect("outer") && t.Expect("loop");
        for (int k = 1; ok && k <= 3; ++k) ok = t.Expect("vertex") && t.Numbers(v + 3 * k);
        ok = ok && t.Expect("endloop") && t.Expect("endfacet");
        isFacet = ok;
        if (!ok) failedAt = t.p, why = "malformed facet", end = WalkEnd::Error;
      } else if (TextWalk::Is(w, "endsolid")) {
        solids = 1;
        t.SkipLine();
        if (t.OnlyPaddingLeft()) {
          end = WalkEnd::AfterEndsolid;
        } else {
          const char *next = t.p;
          auto w2 = t.Word();
          if (TextWalk::Is(w2, "solid"))
            t.SkipLine();
          else if (TextWalk::Is(w2, "facet"))
            t.p = next; // facets without their "solid" line: read on as a further solid
          else
            end = WalkEnd::Notes; // notes after the object (an exporter's trailer): it ends here
        }
      } else {
        failedAt = at, why = "unexpected word", end = WalkEnd::Error;
      }
    }
    if (t.needMore) {
      feed->Refill(t, mark);
      continue;
    }
    if (isFacet) {
      if (facet) facet(v);
      ++check.facets;
    }
    check.solids += solids;
    if (end == WalkEnd::Error) error = WalkError{t.Offset(failedAt), why};
    if (end != WalkEnd::More) return end;
  }
}

// Where a second walk can take over text of `[begin, end)`: the start of a line after the
// middle whose first word is "facet" and before which there are only blanks back to the word
// before. A walk that reaches such a place between facets is then exactly where the walk from
// there begins. Null when no such line is found near the middle.
static const char *SplitPoint(const char *begin, const char *middle, const char *end) {
  const char *p = middle;
  for (int tries = 0; tries < 64 && p < end; ++tries) {
    const char *nl = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
    if (!nl) return nullptr;
    const char *q = nl + 1;
    while (q < end && IsTextSpace(*q)) ++q;
    const char *before = nl;
    while (before > begin && IsTextSpace(before[-1])) --before;
    if (end - q > 5 && TextWalk::Is(std::string_view(q, 5), "facet") && IsTextSpace(q[5]) &&
        before > begin && !EndsTextWord(before[-1]))
      return q;
    p = q;
  }
  return nullptr;
}

// Text this large is read by two walks side by side, the second from near its middle.
static const long long kSplitText = 16ll << 20;

// The text to walk: in memory, or a file read a block at a time.
struct TextSource {
  std::string_view memory;
  int fd = -1;
  long long size = 0;

  // A walk over [from, to), with the feed it needs (none for text in memory).
  std::unique_ptr<TextFeed> Open(TextWalk &t, long long from, long long to) const {
    if (fd < 0) {
      t.block = memory.data();
      t.base = 0;
      t.p = memory.data() + from;
      t.end = memory.data() + to;
      t.atEnd = true;
      return nullptr;
    }
    std::unique_ptr<TextFeed> feed(new TextFeed(fd, from, to));
    feed->Start(t);
    return feed;
  }
  // Where a second walk can start, or -1.
  long long Split(long long from) const {
    if (size - from < kSplitText) return -1;
    const long long middle = from + (size - from) / 2;
    if (fd < 0) {
      const char *at =
          SplitPoint(memory.data() + from, memory.data() + middle, memory.data() + size);
      return at ? at - memory.data() : -1;
    }
    // A window around the middle of the file.
    const long long windowAt = middle - 4096;
    std::vector<char> window(std::size_t(1) << 16);
    const ssize_t n = pread(fd, window.data(), window.size(), windowAt);
    if (n <= 0) return -1;
    const char *at = SplitPoint(window.data(), window.data() + 4096, window.data() + n);
    return at ? windowAt + (at - window.data()) : -1;
  }
};

// One pass over the text: the header line, then the facets of all solids (see WalkFacets).
static bool WalkText(const TextSource &source, STLFileCheck &check, const STLFacetSink &facet,
                     WalkError &error) {
  TextWalk t{nullptr, nullptr};
  long long split = -1;
  {
    std::unique_ptr<TextFeed> feed = source.Open(t, 0, source.size);
    for (;;) {
      const char *mark = t.p;
      const bool solid = t.Expect("solid");
      if (solid) t.SkipLine();
      if (t.needMore) {
        feed->Refill(t, mark);
        continue;
      }
      if (!solid) {
        error = WalkError{t.Offset(t.p), "no \"solid\" at the start"};
        return false;
      }
      break;
    }
    split = source.Split(t.Offset(t.p));
    if (split < 0) return WalkFacets(t, feed.get(), check, facet, error) != WalkEnd::Error;
  }
  const long long afterHeader = t.Offset(t.p);

  // The second half's facets wait in memory until the first half's have been handed on.
  STLFileCheck second;
  std::vector<float> secondFacets;
  WalkError secondError;
  WalkEnd secondEnd = WalkEnd::Error;
  // A facet takes more than 64 bytes of text, so this room is never outgrown.
  if (facet)
    RESERVE_ARRAY(secondFacets, 12 * std::size_t((source.size - split) / 64 + 1), "float", kModule);
  std::exception_ptr secondFailed;
  auto walkSecond = [&]() {
    try {
      TextWalk t2{nullptr, nullptr};
      std::unique_ptr<TextFeed> feed2 = source.Open(t2, split, source.size);
      STLFacetSink keep;
      if (facet)
        keep = [&secondFacets](const float *v) {
          secondFacets.insert(secondFacets.end(), v, v + 12);
        };
      secondEnd = WalkFacets(t2, feed2.get(), second, keep, secondError);
    } catch (...) {
      secondFailed = std::current_exception(); // a failed read: the run ends in the caller
    }
  };
  std::thread worker;
  TextWalk first{nullptr, nullptr};
  std::unique_ptr<TextFeed> feed1;
  try {
    worker = std::thread(walkSecond);
  } catch (const std::system_error &) {
    // No thread to be had: one walk over all of it.
    feed1 = source.Open(first, afterHeader, source.size);
    return WalkFacets(first, feed1.get(), check, facet, error) != WalkEnd::Error;
  }
  WalkEnd firstEnd;
  try {
    feed1 = source.Open(first, afterHeader, split);
    firstEnd = WalkFacets(first, feed1.get(), check, facet, error);
  } catch (...) {
    worker.join();
    throw;
  }
  worker.join();
  if (firstEnd == WalkEnd::Error) return false;
  if (secondFailed) std::rethrow_exception(secondFailed);
  if (firstEnd == WalkEnd::Notes) return true; // the object ended before the second half
  // The walk goes on from the split point just as the second one did.
  if (facet)
    for (std::size_t i = 0; i < secondFacets.size(); i += 12) facet(secondFacets.data() + i);
  check.facets += second.facets;
  check.solids += second.solids - (firstEnd == WalkEnd::AtEnd ? 1 : 0);
  if (secondEnd == WalkEnd::Error) {
    error = secondError;
    return false;
  }
  return true;
}

// "on line N" for an offset in the text.
static int LineOf(const TextSource &source, long long at) {
  int line = 1;
  if (source.fd < 0) {
    for (long long i = 0; i < at; ++i) line += source.memory[std::size_t(i)] == '\n';
    return line;
  }
  std::vector<char> block(std::size_t(1) << 20);
  for (long long done = 0; done < at;) {
    const ssize_t n = pread(source.fd, block.data(),
                            std::size_t(std::min<long long>(at - done, block.size())), done);
    if (n <= 0) break;
    line += static_cast<int>(std::count(block.begin(), block.begin() + n, '\n'));
    done += n;
  }
  return line;
}

static bool CheckText(const TextSource &source, STLFileCheck &check, const STLFacetSink &facet) {
  WalkError error;
  if (WalkText(source, check, facet, error)) return true;
  char buf[160];
  std::snprintf(buf, sizeof buf, "%s on line %d", error.why, LineOf(source, error.at));
  check.error = buf;
  return false;
}

STLFileCheck STLCheckFile(std::string_view data, const STLFacetSink &facet) {
  STLFileCheck check;
  const long long binaryFacets = BinaryFacets(data);
  const bool small = data.size() < kSTLMinBinarySize;
  if (STLLooksBinary(data)) {
    if (small && binaryFacets > 0) {
      check.countMismatch = binaryFacets != BinaryHeaderCount(data);
      check.shortBinary = binaryFacets;
    }
    return check;
  }
  check.ascii = true;
  TextSource source;
  source.memory = data;
  source.size = static_cast<long long>(data.size());
  if (!CheckText(source, check, facet)) {
    // No text, but the exact layout of a binary file: binary, however its bytes look.
    if (binaryFacets > 0 && BinaryHeaderCount(data) == binaryFacets) {
      check = STLFileCheck();
      if (small)
        check.shortBinary = binaryFacets;
      else
        check.markBinary = true;
    }
  }
  return check;
}

STLFileCheck STLCheckTextFile(int fd, long long size, const STLFacetSink &facet) {
  STLFileCheck check;
  check.ascii = true;
  TextSource source;
  source.fd = fd;
  source.size = size;
  CheckText(source, check, facet);
  return check;
}
