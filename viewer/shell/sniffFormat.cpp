#include "viewer/shell/sniffFormat.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The decompressed size is counted up to here: a larger object would pass a thumbnail's memory
// limit anyway, and counting costs time.
constexpr std::uint64_t kCountLimit = std::uint64_t(1) << 30;

bool StartsWith(const std::string &s, std::size_t at, const char *word) {
  std::size_t n = std::strlen(word);
  return s.size() >= at + n && s.compare(at, n, word) == 0;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Past blanks and "#" comment lines.
std::size_t SkipBlanksAndComments(const std::string &s, std::size_t at) {
  while (at < s.size()) {
    if (IsBlank(s[at])) {
      ++at;
    } else if (s[at] == '#') {
      std::size_t nl = s.find('\n', at);
      at = nl == std::string::npos ? s.size() : nl + 1;
    } else {
      break;
    }
  }
  return at;
}

std::uint32_t Little32(const std::string &s, std::size_t at) {
  const unsigned char *b = reinterpret_cast<const unsigned char *>(s.data()) + at;
  return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
         std::uint32_t(b[3]) << 24;
}

unsigned Little16(const std::string &s, std::size_t at) {
  const unsigned char *b = reinterpret_cast<const unsigned char *>(s.data()) + at;
  return unsigned(b[0]) | unsigned(b[1]) << 8;
}

// The OFF keyword with its optional prefixes in their order: [C][N][4][S]OFF, then a blank.
bool IsOFF(const std::string &s) {
  std::size_t at = SkipBlanksAndComments(s, 0);
  for (char prefix : {'C', 'N', '4', 'S'})
    if (at < s.size() && s[at] == prefix) ++at;
  return StartsWith(s, at, "OFF") && (s.size() == at + 3 || IsBlank(s[at + 3]));
}

// "solid" and a name, then facets: the word alone begins many binary headers too.
bool IsAsciiSTL(const std::string &s) {
  std::size_t at = s.find_first_not_of(" \t\r\n");
  if (at == std::string::npos || !StartsWith(s, at, "solid")) return false;
  if (s.size() > at + 5 && !IsBlank(s[at + 5])) return false;
  return s.find("facet", at + 5) != std::string::npos ||
         s.find("endsolid", at + 5) != std::string::npos;
}

// The 3DS main chunk (0x4D4D) spans the file, or begins with a version or editor chunk.
bool Is3DS(const std::string &s, std::uint64_t size) {
  if (s.size() < 12 || Little16(s, 0) != 0x4D4D) return false;
  std::uint64_t length = Little32(s, 2);
  if (length == size) return true;
  unsigned first = Little16(s, 6);
  return length >= 12 && length < size && (first == 0x0002 || first == 0x3D3D);
}

// gzip or compress, by their magic numbers: the suffix the loader takes them by.
const char *CompressionOf(const std::string &start) {
  if (start.size() >= 2 && start[0] == '\x1f' && start[1] == '\x8b') return ".gz";
  if (start.size() >= 2 && start[0] == '\x1f' && start[1] == '\x9d') return ".Z";
  return nullptr;
}

// Reads from `fd` into `start` up to kSniffBytes; with `count`, goes on to the end (or the count
// limit) and returns the number of bytes there were.
std::uint64_t ReadStart(int fd, std::string &start, bool count) {
  std::vector<char> buffer(kSniffBytes);
  std::uint64_t total = 0;
  for (;;) {
    ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::size_t take = std::min<std::size_t>(std::size_t(n), kSniffBytes - start.size());
    start.append(buffer.data(), take);
    total += std::uint64_t(n);
    if ((!count && start.size() == kSniffBytes) || total >= kCountLimit) break;
  }
  return total;
}

// The decompressed start of a compressed file, by gzip (which reads compress's format too) from
// COMPRESS_PATH or PATH. Its size is counted when `count`; false when gzip cannot be run.
bool DecompressedStart(const std::string &path, bool count, std::string &start,
                       std::uint64_t &size) {
  int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    close(in);
    return false;
  }
  const char *dir = std::getenv("COMPRESS_PATH");
  std::string tool = dir ? std::string(dir) + "/gzip" : "gzip";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in, 0);
    dup2(pipeFds[1], 1);
    int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) dup2(devNull, 2);
    signal(SIGPIPE, SIG_DFL);
    execlp(tool.c_str(), tool.c_str(), "-dc", static_cast<char *>(nullptr));
    _exit(127);
  }
  close(in);
  close(pipeFds[1]);
  if (pid < 0) {
    close(pipeFds[0]);
    return false;
  }
  size = ReadStart(pipeFds[0], start, count);
  close(pipeFds[0]); // what is left unread ends gzip with SIGPIPE
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // A size counted to the end is the size; one cut short by the limit is none.
  return !(WIFEXITED(status) && WEXITSTATUS(status) == 127) && size < kCountLimit;
}

} // namespace

std::string ExtensionOfContents(const std::string &start, std::uint64_t size, bool sizeKnown) {
  if (StartsWith(start, 0, "ply\n") || StartsWith(start, 0, "ply\r")) return ".ply";
  if (StartsWith(start, 0, "#VRML V1.0") || StartsWith(start, 0, "#VRML V2.0")) return ".wrl";
  if (IsOFF(start)) return ".off";
  // A binary STL is 84 bytes of header and count, then 50 bytes a facet; its header may begin
  // with "solid" too, so its size rule comes first.
  if (sizeKnown && start.size() >= 84 && size == 84 + 50 * std::uint64_t(Little32(start, 80)))
    return ".stl";
  if (IsAsciiSTL(start)) return ".stl";
  if (sizeKnown && Is3DS(start, size)) return ".3ds";
  return "";
}

std::string NameFromContents(const std::string &path, const std::string &name) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return name;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return name;
  }
  std::string start;
  ReadStart(fd, start, false);
  close(fd);
  std::uint64_t size = std::uint64_t(st.st_size);
  const char *compression = CompressionOf(start);
  if (compression) {
    std::string plain;
    std::uint64_t plainSize = 0;
    if (!DecompressedStart(path, false, plain, plainSize)) return name;
    std::string ext = ExtensionOfContents(plain, 0, false);
    // Only binary formats need the decompressed size, which takes the whole file to count.
    if (ext.empty()) {
      plain.clear();
      if (DecompressedStart(path, true, plain, plainSize))
        ext = ExtensionOfContents(plain, plainSize, true);
    }
    if (ext.empty()) return name;
    std::string stem = name;
    for (const char *suffix : {".gz", ".Z"}) {
      std::size_t n = std::strlen(suffix);
      if (stem.size() > n && stem.compare(stem.size() - n, n, suffix) == 0) {
        compression = suffix;
        stem.resize(stem.size() - n);
        break;
      }
    }
    return stem + ext + compression;
  }
  std::string ext = ExtensionOfContents(start, size, true);
  return ext.empty() ? name : name + ext;
}
