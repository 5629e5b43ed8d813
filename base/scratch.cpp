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
// The lock file inside a scratch folder; held (flock) by the run that made the folder.
const char kLockName[] = ".lock";

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
  std::string tmpl = parent + "/" + kScratchPrefix + "XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data()))
    fatal(1, "No scratch folder can be made in %s: %s\n", parent.c_str(), std::strerror(errno));
  path_ = buf.data();
  // The lock is taken under another name and then named: a run that clears abandoned folders
  // never finds the lock file before it is held.
  std::string fresh = path_ + "/.lock-new";
  lock_ = open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (lock_ < 0 || flock(lock_, LOCK_EX | LOCK_NB) != 0 ||
      rename(fresh.c_str(), (path_ + "/" + kLockName).c_str()) != 0) {
    int error = errno;
    Remove();
    fatal(1, "No scratch folder can be made in %s: %s\n", parent.c_str(), std::strerror(error));
  }
}

ScratchFolder::~ScratchFolder() {
  Remove();
}

void ScratchFolder::Remove() {
  if (path_.empty()) return;
  RemoveTree(path_);
  if (lock_ >= 0) close(lock_);
  lock_ = -1;
  path_.clear();
}

void ScratchFolder::LeaveToMaker() {
  if (lock_ >= 0) close(lock_);
  lock_ = -1;
  path_.clear();
}

void ClearAbandonedScratch(const std::string &parent) {
  DIR *d = opendir(parent.empty() ? "/" : parent.c_str());
  if (!d) return;
  while (struct dirent *e = readdir(d)) {
    if (std::strncmp(e->d_name, kScratchPrefix, sizeof kScratchPrefix - 1) != 0) continue;
    std::string dir = parent + "/" + e->d_name;
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) continue;
    int lock = open((dir + "/" + kLockName).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (lock < 0) continue; // not one of ours, or not yet ready
    // Nobody holds it: the run that made the folder is gone. The lock stays taken while the
    // folder is removed, so that two runs never clear it at once.
    // A command the killed run started may still be writing there: what it adds meanwhile goes
    // in the next pass.
    if (flock(lock, LOCK_EX | LOCK_NB) == 0)
      for (int pass = 0; pass < 50; ++pass) {
        RemoveTree(dir);
        if (lstat(dir.c_str(), &st) != 0) break;
        usleep(10000);
      }
    close(lock);
  }
  closedir(d);
}
