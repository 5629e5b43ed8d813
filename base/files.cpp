#include "base/files.h"

#include "base/fatal.h"
#include "base/signals.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

bool ObjectFileExists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FileExistsAt(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::FILE *OpenRegularFile(const std::string &path, struct stat &st) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (f && (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode))) {
    std::fclose(f);
    f = nullptr;
  }
  return f;
}

std::vector<char> ReadWholeFile(std::FILE *f, const char *module) {
  std::vector<char> data;
  struct stat st;
  std::size_t guess = 1 << 16;
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    guess = static_cast<std::size_t>(st.st_size) + 1;
  std::size_t used = 0;
  for (;;) {
    if (used == data.size()) {
      std::size_t want = data.empty() ? guess : data.size() * 2;
      ALLOC_OR_REPORT("char", want, module, data.resize(want));
    }
    std::size_t n = std::fread(data.data() + used, 1, data.size() - used, f);
    used += n;
    if (n == 0) break;
  }
  data.resize(used);
  return data;
}

FileContents::~FileContents() {
  if (map_) munmap(map_, mapSize_);
}

void FileContents::Load(std::FILE *f, const char *module) {
  struct stat st;
  int fd = fileno(f);
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    std::size_t size = static_cast<std::size_t>(st.st_size);
    void *map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (map != MAP_FAILED) {
      map_ = map;
      mapSize_ = size;
      return;
    }
  }
  bytes_ = ReadWholeFile(f, module);
}

std::string TempFolder() {
  const char *dir = std::getenv("TMPDIR");
  return dir && *dir ? std::string(dir) : std::string("/tmp");
}

// The file a path finally names, links followed (also a link whose target does not exist yet).
static std::string FollowLinks(const std::string &path) {
  std::string at = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    std::vector<char> buf(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    ssize_t n = readlink(at.c_str(), buf.data(), buf.size());
    if (n < 0 || static_cast<std::size_t>(n) >= buf.size()) return at;
    std::string target(buf.data(), static_cast<std::size_t>(n));
    std::size_t slash = at.rfind('/');
    if (!target.empty() && target[0] != '/' && slash != std::string::npos)
      target = at.substr(0, slash + 1) + target;
    at = target;
  }
  return at;
}

static bool WriteAll(int fd, const std::string &contents) {
  std::size_t done = 0;
  while (done < contents.size()) {
    ssize_t n = write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes over the file itself: what links to it keeps seeing it, and its owner and permissions
// stay, but a failure half-way leaves it half-written.
static bool RewriteInPlace(const std::string &target, const std::string &contents, bool durable) {
  int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, contents);
  ok = ok && ftruncate(fd, static_cast<off_t>(contents.size())) == 0;
  if (durable) ok = ok && fsync(fd) == 0;
  return close(fd) == 0 && ok;
}

void ReplaceFile(const std::string &path, const std::string &contents, const char *failFormat,
                 bool durable) {
  HoldEndSignals hold;
  // Through a link the file it names is rewritten; the link stays as it is.
  std::string target = FollowLinks(path);
  struct stat old;
  bool exists = stat(target.c_str(), &old) == 0;
  // A file the user protected is not replaced, not even by someone the system would let write
  // it: the rename below would get past the protection where an open for writing would not.
  if (exists &&
      (!S_ISREG(old.st_mode) || access(target.c_str(), W_OK) != 0 || (old.st_mode & 0222) == 0))
    fatal(1, failFormat, path.c_str());
  // A file with other names (hard links) is rewritten where it is, or they would keep the old
  // contents.
  if (!exists || old.st_nlink == 1) {
    std::string temp = target + ".tmpXXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd >= 0) {
      // The file keeps its owner and permissions; a new one gets the usual permissions, not
      // mkstemp's private ones. An owner we cannot give it sends us to the in-place rewrite.
      mode_t mode;
      bool owned = true;
      if (exists) {
        mode = old.st_mode & 07777;
        if (old.st_uid != geteuid() || old.st_gid != getegid())
          owned = fchown(fd, old.st_uid, old.st_gid) == 0;
      } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
      }
      if (owned) {
        bool ok = WriteAll(fd, contents);
        if (durable) ok = ok && fsync(fd) == 0;
        ok = fchmod(fd, mode) == 0 && ok;
        ok = close(fd) == 0 && ok;
        if (!ok || std::rename(temp.c_str(), target.c_str()) != 0) {
          unlink(temp.c_str());
          fatal(1, failFormat, path.c_str());
        }
        return;
      }
      close(fd);
      unlink(temp.c_str());
    }
    // No temporary file can be made beside it (a folder we may not write): the file itself is
    // rewritten, as writable files are.
  }
  if (!RewriteInPlace(target, contents, durable)) fatal(1, failFormat, path.c_str());
}
