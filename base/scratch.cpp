// Scratch space: files that live as long as their descriptor, and private folders that a later
// run clears when the run that made them was killed before it could.
#include "base/fatal.h"
#include "base/files.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

const char kScratchPrefix[] = "mirandel-";
// Ends the name of the lock file beside a scratch folder; held (flock) by the run that made it.
const char kLockSuffix[] = ".lock";

int RemoveEntry(const char *path, const struct stat *, int, struct FTW *) {
  remove(path);
  return 0;
}

} // namespace

int OpenScratchFile(const char *name) {
  int fd = static_cast<int>(syscall(SYS_memfd_create, name, 1u /* MFD_CLOEXEC */));
  if (fd >= 0) return fd;
  std::string tmpl = TempFolder() + "/" + kScratchPrefix + "XXXXXX";
  std::vector<char> path(tmpl.begin(), tmpl.end());
  path.push_back('\0');
  fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd >= 0) unlink(path.data());
  return fd;
}

void RemoveTree(const std::string &dir) {
  nftw(dir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

void RemoveFlatFolderInHandler(const char *dir) {
  int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  alignas(8) char buffer[4096];
  for (bool removed = true; removed;) {
    removed = false;
    long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      // struct linux_dirent64: inode, offset, record length, type, name.
      unsigned short length;
      std::memcpy(&length, buffer + at + 16, sizeof length);
      const char *name = buffer + at + 19;
      bool dot = name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
      if (!dot && unlinkat(fd, name, 0) == 0) removed = true;
      at += length;
    }
    // Entries removed shift the rest: read from the start again.
    lseek(fd, 0, SEEK_SET);
  }
  close(fd);
  rmdir(dir);
}

ScratchFolder::ScratchFolder(const std::string &parent) {
  ClearAbandonedScratch(parent);
  // The lock comes first, as a file beside the folder-to-be ("mirandel-XXXXXX.lock" for the folder
  // "mirandel-XXXXXX"), and the folder only once it is held: whenever a run is killed, what it
  // leaves has a lock file nobody holds, which the next run finds. A lock that a clearing run
  // took from under us in the moment before we held it is unlinked: we start again.
  std::string tmpl = parent + "/" + kScratchPrefix + "XXXXXX" + kLockSuffix;
  const int suffix = static_cast<int>(sizeof kLockSuffix - 1);
  int error = 0;
  for (int attempt = 0; attempt < 100 && lock_ < 0; ++attempt) {
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = mkostemps(buf.data(), suffix, O_CLOEXEC);
    if (fd < 0) {
      error = errno;
      break;
    }
    struct stat st;
    std::string lockPath = buf.data();
    std::string folder = lockPath.substr(0, lockPath.size() - suffix);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &st) != 0 || st.st_nlink == 0) {
      close(fd);
      continue;
    }
    if (mkdir(folder.c_str(), 0700) != 0) {
      error = errno;
      unlink(lockPath.c_str());
      close(fd);
      if (error == EEXIST) continue;
      break;
    }
    lock_ = fd;
    path_ = folder;
    lockPath_ = lockPath;
  }
  if (lock_ < 0)
    fatal(1, "No scratch folder can be made in %s: %s\n", parent.c_str(),
          std::strerror(error ? error : EAGAIN));
}

ScratchFolder::~ScratchFolder() {
  Remove();
}

void ScratchFolder::Remove() {
  if (path_.empty()) return;
  // The folder before its lock: a run killed in between leaves a lock to be cleared, and a
  // folder that could not be removed whole keeps its lock for a later run to clear it.
  RemoveTree(path_);
  struct stat st;
  if (lstat(path_.c_str(), &st) != 0) unlink(lockPath_.c_str());
  if (lock_ >= 0) close(lock_);
  lock_ = -1;
  path_.clear();
  lockPath_.clear();
}

void ScratchFolder::LeaveToMaker() {
  if (lock_ >= 0) close(lock_);
  lock_ = -1;
  path_.clear();
  lockPath_.clear();
}

void RemoveScratchInHandler(const char *dir) {
  RemoveFlatFolderInHandler(dir);
  char lock[4096];
  std::size_t n = std::strlen(dir);
  if (n + sizeof kLockSuffix > sizeof lock) return;
  std::memcpy(lock, dir, n);
  std::memcpy(lock + n, kLockSuffix, sizeof kLockSuffix);
  struct stat st;
  if (lstat(dir, &st) != 0) unlink(lock);
}

void ClearAbandonedScratch(const std::string &parent) {
  DIR *d = opendir(parent.empty() ? "/" : parent.c_str());
  if (!d) return;
  const std::size_t suffix = sizeof kLockSuffix - 1;
  while (struct dirent *e = readdir(d)) {
    const std::size_t n = std::strlen(e->d_name);
    if (std::strncmp(e->d_name, kScratchPrefix, sizeof kScratchPrefix - 1) != 0 || n <= suffix ||
        std::strcmp(e->d_name + n - suffix, kLockSuffix) != 0)
      continue;
    std::string lockPath = parent + "/" + e->d_name;
    std::string dir = lockPath.substr(0, lockPath.size() - suffix);
    struct stat st;
    if (lstat(lockPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid())
      continue;
    int lock = open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (lock < 0) continue;
    // Nobody holds it: the run that made it is gone. The lock stays taken while the folder and
    // then the lock go, so that two runs never clear them at once.
    // A command the killed run started may still be writing there: what it adds meanwhile goes
    // in the next pass.
    if (flock(lock, LOCK_EX | LOCK_NB) == 0) {
      for (int pass = 0; pass < 50; ++pass) {
        if (lstat(dir.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) break; // not a folder of ours
        RemoveTree(dir);
        if (lstat(dir.c_str(), &st) != 0) break;
        usleep(10000);
      }
      unlink(lockPath.c_str());
    }
    close(lock);
  }
  closedir(d);
}
