#include "base/files.h"

#include "base/fatal.h"
#include "base/signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

FileKind FileKindAt(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return FileKind::kNone;
  if (S_ISREG(st.st_mode)) return FileKind::kRegular;
  return S_ISDIR(st.st_mode) ? FileKind::kFolder : FileKind::kOther;
}

std::FILE *OpenRegularFile(const std::string &path, struct stat &st, bool *notRegular) {
  if (notRegular) *notRegular = false;
  // Without waiting: opening a pipe for reading would wait for a writer.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (notRegular) *notRegular = true;
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE *f = fdopen(fd, "rb");
  if (!f) close(fd);
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

namespace {

// The mappings being read, for the SIGBUS handler.
constexpr int kWatchedMaps = 16;
std::atomic<char *> watchedStart[kWatchedMaps];
std::atomic<std::size_t> watchedSize[kWatchedMaps];
std::string watchedName[kWatchedMaps];
std::atomic<int> cutShortSlot{-1};
std::string cutShortName;
std::size_t pageSize = 4096;
struct sigaction previousBus;
std::atomic<bool> busHandlerInstalled{false};

extern "C" void OnBusError(int sig, siginfo_t *info, void *context) {
  char *at = static_cast<char *>(info->si_addr);
  for (int k = 0; k < kWatchedMaps; ++k) {
    char *start = watchedStart[k].load();
    std::size_t size = watchedSize[k].load();
    if (!start || at < start || at >= start + size) continue;
    // Zero pages in place of the file's lost ones, from the fault to the mapping's end.
    char *page = reinterpret_cast<char *>(reinterpret_cast<uintptr_t>(at) & ~(pageSize - 1));
    std::size_t rest = static_cast<std::size_t>(start + size - page);
    if (mmap(page, rest, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      int none = -1;
      cutShortSlot.compare_exchange_strong(none, k);
      return;
    }
  }
  // Not a file of ours: as the signal would have ended the run without us.
  if (previousBus.sa_flags & SA_SIGINFO) {
    if (previousBus.sa_sigaction) previousBus.sa_sigaction(sig, info, context);
    return;
  }
  if (previousBus.sa_handler != SIG_DFL && previousBus.sa_handler != SIG_IGN) {
    previousBus.sa_handler(sig);
    return;
  }
  signal(sig, SIG_DFL);
}

int WatchMapping(void *map, std::size_t size, const std::string &name) {
  if (!busHandlerInstalled.exchange(true)) {
    pageSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previousBus);
  }
  for (int k = 0; k < kWatchedMaps; ++k) {
    char *none = nullptr;
    if (watchedStart[k].load() || watchedSize[k].load()) continue;
    watchedSize[k] = size;
    watchedName[k] = name;
    if (watchedStart[k].compare_exchange_strong(none, static_cast<char *>(map))) return k;
    watchedSize[k] = 0;
  }
  return -1;
}

} // namespace

std::string FileCutShort() {
  int k = cutShortSlot.load();
  if (k >= 0 && cutShortName.empty())
    cutShortName = watchedName[k].empty() ? std::string("a file") : watchedName[k];
  return k >= 0 ? cutShortName : std::string();
}

void ForgetFileCutShort() {
  cutShortSlot = -1;
  cutShortName.clear();
}

FileContents::FileContents(FileContents &&other) noexcept
    : map_(other.map_), mapSize_(other.mapSize_), slot_(other.slot_),
      bytes_(std::move(other.bytes_)) {
  other.map_ = nullptr;
  other.mapSize_ = 0;
  other.slot_ = -1;
}

FileContents &FileContents::operator=(FileContents &&other) noexcept {
  if (this == &other) return *this;
  Release();
  map_ = other.map_;
  mapSize_ = other.mapSize_;
  slot_ = other.slot_;
  bytes_ = std::move(other.bytes_);
  other.map_ = nullptr;
  other.mapSize_ = 0;
  other.slot_ = -1;
  return *this;
}

void FileContents::Release() {
  std::vector<char>().swap(bytes_);
  if (!map_) return;
  if (slot_ >= 0) {
    if (cutShortSlot.load() == slot_) FileCutShort(); // keeps the name
    watchedStart[slot_] = nullptr;
    watchedSize[slot_] = 0;
  }
  munmap(map_, mapSize_);
  map_ = nullptr;
  mapSize_ = 0;
  slot_ = -1;
}

void FileContents::Load(std::FILE *f, const char *module, const std::string &name) {
  Release();
  struct stat st;
  int fd = fileno(f);
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    std::size_t size = static_cast<std::size_t>(st.st_size);
    void *map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (map != MAP_FAILED) {
      // A mapping nobody watches would turn a file cut short into SIGBUS: read it instead.
      slot_ = WatchMapping(map, size, name);
      if (slot_ >= 0) {
        map_ = map;
        mapSize_ = size;
        return;
      }
      munmap(map, size);
    }
  }
  bytes_ = ReadWholeFile(f, module);
}

std::string TempFolder() {
  const char *dir = std::getenv("TMPDIR");
  return dir && *dir ? std::string(dir) : std::string("/tmp");
}

bool EndsWith(const std::string &s, const char *suffix) {
  std::size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

std::string ObjectStem(const std::string &name) {
  std::string stem = name;
  if (EndsWith(stem, ".gz"))
    stem.resize(stem.size() - 3);
  else if (EndsWith(stem, ".Z"))
    stem.resize(stem.size() - 2);
  std::size_t dot = stem.rfind('.');
  if (dot == std::string::npos) return name;
  stem.resize(dot + 1);
  return stem;
}

bool SameStem(const std::string &name, const std::string &entry) {
  std::string stem = ObjectStem(name);
  if (stem.empty() || stem.back() != '.') return entry == name;
  return entry.compare(0, stem.size(), stem) == 0;
}

bool WriteAll(int fd, const char *data, std::size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

FileIdentity IdentityOf(const struct stat &st) {
  FileIdentity id;
  id.exists = true;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.size = st.st_size;
  id.mtimeSec = st.st_mtim.tv_sec;
  id.mtimeNsec = st.st_mtim.tv_nsec;
  return id;
}

FileIdentity IdentityAt(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return FileIdentity();
  return IdentityOf(st);
}

bool SameFile(const FileIdentity &a, const FileIdentity &b) {
  if (a.exists != b.exists) return false;
  return !a.exists || (a.dev == b.dev && a.ino == b.ino && a.size == b.size &&
                       a.mtimeSec == b.mtimeSec && a.mtimeNsec == b.mtimeNsec);
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

static std::string FolderOf(const std::string &path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

static mode_t NewFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// An unnamed file in `dir` (O_TMPFILE), or -1 where the file system has none.
static int OpenUnnamedFile(const std::string &dir) {
  return open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
}

// Gives unnamed file `fd` the name `path`, failing when that name exists.
static bool NameUnnamedFile(int fd, const std::string &path) {
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

static bool Fail(std::string &why, const std::string &what) {
  why = what + ": " + std::strerror(errno);
  return false;
}

bool TryReplaceFile(const std::string &path, const std::string &contents,
                    const FileIdentity &expected, bool durable, std::string &why) {
  HoldEndSignals hold;
  // Through a link the file it names is replaced; the link stays as it is.
  std::string target = FollowLinks(path);
  struct stat old;
  bool exists = stat(target.c_str(), &old) == 0;
  if (!SameFile(exists ? IdentityOf(old) : FileIdentity(), expected)) {
    why = exists ? "it changed while it was read" : "it is gone";
    if (!expected.exists) why = "another file of that name appeared";
    return false;
  }
  if (exists) {
    if (!S_ISREG(old.st_mode)) {
      why = "it is not a regular file";
      return false;
    }
    // A file the user protected is not replaced, not even by someone the system would let
    // write it: the rename below would get past the protection where an open for writing would
    // not.
    if (access(target.c_str(), W_OK) != 0 || (old.st_mode & 0222) == 0) {
      why = "it is write-protected";
      return false;
    }
    // Other names would keep the old contents, and rewriting it where it is could leave it cut
    // off under every name.
    if (old.st_nlink > 1) {
      why = "it has other names (hard links)";
      return false;
    }
  }
  if (!exists) return AddNewFile(target, contents, why);
  std::string temp = target + ".tmpXXXXXX";
  int fd = mkstemp(&temp[0]);
  if (fd < 0) return Fail(why, "no temporary file can be made beside it");
  // The file keeps its owner and permissions, not mkstemp's private ones.
  bool ok = true;
  if (old.st_uid != geteuid() || old.st_gid != getegid())
    ok = fchown(fd, old.st_uid, old.st_gid) == 0;
  if (!ok) {
    why = "its owner cannot be kept";
  } else {
    ok = WriteAll(fd, contents.data(), contents.size()) && (!durable || fsync(fd) == 0) &&
         fchmod(fd, old.st_mode & 07777) == 0;
    if (!ok) Fail(why, "the new contents cannot be written");
  }
  if (close(fd) != 0 && ok) ok = Fail(why, "the new contents cannot be written");
  // The last look: a file saved by someone else meanwhile is not overwritten.
  if (ok && !SameFile(IdentityAt(target), expected)) {
    why = "it changed while it was read";
    ok = false;
  }
  if (ok) {
    // Exchanged rather than renamed over, the file it replaces can still be looked at: one saved
    // by someone else between the last look and the exchange is put back.
    if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
      if (!SameFile(IdentityAt(temp), expected)) {
        renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE);
        why = "it changed while it was read";
        ok = false;
      }
    } else if (std::rename(temp.c_str(), target.c_str()) != 0) {
      ok = Fail(why, "it cannot be renamed over");
    }
  }
  unlink(temp.c_str());
  return ok;
}

void ReplaceFile(const std::string &path, const std::string &contents, const char *failFormat,
                 bool durable) {
  std::string why;
  if (!TryReplaceFile(path, contents, IdentityAt(FollowLinks(path)), durable, why))
    fatal(1, failFormat, path.c_str());
}

bool AddNewFile(const std::string &path, const std::string &contents, std::string &why) {
  HoldEndSignals hold;
  mode_t mode = NewFileMode();
  int fd = OpenUnnamedFile(FolderOf(path));
  if (fd >= 0) {
    // Unnamed until it is whole: nothing is left behind whatever ends the run.
    bool ok =
        WriteAll(fd, contents.data(), contents.size()) && fsync(fd) == 0 && fchmod(fd, mode) == 0;
    if (!ok)
      Fail(why, "it cannot be written");
    else if (!NameUnnamedFile(fd, path))
      ok = Fail(why, "it cannot be added");
    close(fd);
    return ok;
  }
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
    return Fail(why, "no file can be made in its folder");
  std::string temp = path + ".tmpXXXXXX";
  fd = mkstemp(&temp[0]);
  if (fd < 0) return Fail(why, "no file can be made in its folder");
  bool ok =
      WriteAll(fd, contents.data(), contents.size()) && fsync(fd) == 0 && fchmod(fd, mode) == 0;
  if (close(fd) != 0 || !ok) {
    Fail(why, "it cannot be written");
    unlink(temp.c_str());
    return false;
  }
  // A link, unlike a rename, never replaces a file that appeared meanwhile.
  ok = link(temp.c_str(), path.c_str()) == 0 || Fail(why, "it cannot be added");
  unlink(temp.c_str());
  return ok;
}

bool CopyRegularFile(const std::string &from, const std::string &to, std::string &why) {
  int in = open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) return Fail(why, "it cannot be opened");
  struct stat st;
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    why = "it is not a regular file";
    return false;
  }
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) {
    close(in);
    return Fail(why, "the copy cannot be made");
  }
  std::vector<char> buffer(std::size_t(1) << 20);
  bool ok = true;
  for (;;) {
    ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = Fail(why, "it cannot be read");
    if (n <= 0) break;
    if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) {
      ok = Fail(why, "the copy cannot be written");
      break;
    }
  }
  close(in);
  if (close(out) != 0 && ok) ok = Fail(why, "the copy cannot be written");
  if (!ok) unlink(to.c_str());
  return ok;
}

FolderLock::FolderLock(const std::string &dir) {
  fd_ = open(dir.empty() ? "/" : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return;
  while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) close(fd_);
}
