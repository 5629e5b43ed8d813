#include "viewer/readers/guessSTLObj.h"

#include "base/beside.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kHeaderBytes = 84; // 80 bytes of header, then the count
constexpr std::size_t kRecordBytes = 50; // normal, three corners, two attribute bytes
constexpr std::size_t kBlockFacets = 16384;

bool ReadAt(int fd, char *to, std::size_t bytes, off_t at) {
  while (bytes > 0) {
    ssize_t got = pread(fd, to, bytes, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false; // cut short under us, or unreadable
    to += got, at += got, bytes -= static_cast<std::size_t>(got);
  }
  return true;
}

bool Finite(const stl_vertex &v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool Guess(int fd, Part &part) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < off_t(kHeaderBytes)) return false;
  const uint64_t body = static_cast<uint64_t>(st.st_size) - kHeaderBytes;
  const uint64_t n = body / kRecordBytes;
  if (body % kRecordBytes != 0 || n < kGuessFacetsFrom || 3 * n > UINT32_MAX) return false;
  // The file's numbers are little-endian, as this machine's are.
  uint32_t stated = 0;
  if (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__ ||
      !ReadAt(fd, reinterpret_cast<char *>(&stated), 4, 80) || stated != n)
    return false;
  const std::size_t facets = static_cast<std::size_t>(n);
  part.vertices.reserve(3 * facets);
  part.polygon_normals.reserve(facets);
  std::vector<char> raw(kBlockFacets * kRecordBytes);
  std::vector<stl_facet> block(kBlockFacets);
  for (std::size_t from = 0; from < facets; from += kBlockFacets) {
    const std::size_t m = std::min(kBlockFacets, facets - from);
    if (!ReadAt(fd, raw.data(), m * kRecordBytes, off_t(kHeaderBytes + from * kRecordBytes)))
      return false;
    for (std::size_t i = 0; i < m; ++i) {
      stl_facet &f = block[i];
      std::memcpy(&f.normal, raw.data() + i * kRecordBytes, 12);
      std::memcpy(f.vertex, raw.data() + i * kRecordBytes + 12, 36);
      // The repair refuses such a file; the guess leaves it to the repair.
      if (!Finite(f.vertex[0]) || !Finite(f.vertex[1]) || !Finite(f.vertex[2])) return false;
    }
    // The library's own value fix, on a record of the block alone: each facet's normal follows
    // from its corners and the normal it had, as in the whole mesh's repair.
    STLObj piece;
    std::memset(&piece, 0, sizeof piece);
    piece.facet_start = block.data();
    piece.stats.number_of_facets = static_cast<int>(m);
    stl_fix_normal_values(&piece);
    STLAppendFacets(part, block.data(), 0, m);
  }
  part.facet_offset = 0;
  part.vertex_count = static_cast<uint32_t>(3 * facets);
  part.facet_count = static_cast<uint32_t>(facets);
  part.fronts_known = 1;
  return true;
}

template <class T> void Release(std::vector<T> &v) {
  std::vector<T>().swap(v);
}

} // namespace

bool GuessSTLObject(int fd, Part &part) {
  bool guessed = false;
  try {
    guessed = Guess(fd, part);
  } catch (const std::bad_alloc &) {
  }
  if (!guessed) DropSTLGuess(part);
  return guessed;
}

void CompleteSTLGuess(Part &part) {
  const std::size_t facets = part.facet_count;
  Beside list([&part, facets] { STLFillFacetList(part, facets); });
  STLFillIndexPool(part, facets);
  list.Join();
}

void DropSTLGuess(Part &part) {
  Release(part.vertices);
  Release(part.polygon_normals);
  Release(part.facets);
  Release(part.facet_vertex_pool);
}

bool STLMatchesGuess(const STLObj &obj, const Part &part) {
  const int n = obj.stats.number_of_facets;
  if (n <= 0 || !obj.facet_start || part.polygon_normals.size() != std::size_t(n) ||
      part.vertices.size() != 3 * std::size_t(n) || !STLClosed(obj))
    return false;
  static_assert(sizeof(stl_vertex) == sizeof(Coord) && sizeof(stl_normal) == sizeof(Vector),
                "the record's and the Part's points are alike");
  bool same[2] = {true, true};
  InHalves(std::size_t(n), std::size_t(1) << 18, [&](int h, std::size_t begin, std::size_t end) {
    bool all = true;
    for (std::size_t i = begin; i < end && all; ++i) {
      const stl_facet &f = obj.facet_start[i];
      all = std::memcmp(&f.normal, &part.polygon_normals[i], sizeof f.normal) == 0 &&
            std::memcmp(f.vertex, &part.vertices[3 * i], sizeof f.vertex) == 0;
    }
    same[h] = all;
  });
  return same[0] && same[1];
}
