// Files as the program reads and writes them: whole-file reads and read-only mappings, the tests
// of what a path names, the folder for temporary files, and replacing a file without ever leaving
// it half-written.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

struct FileCloser {
  void operator()(std::FILE *f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// What `path` names now, links followed: the one look at a path that every test of a name uses.
enum class FileKind { kNone, kRegular, kFolder, kOther };
FileKind FileKindAt(const std::string &path);
// Something of whatever kind is there.
inline bool FileExistsAt(const std::string &path) {
  return FileKindAt(path) != FileKind::kNone;
}
// Something that is not a folder is there: what an object's name may be.
inline bool ObjectFileExists(const std::string &path) {
  FileKind kind = FileKindAt(path);
  return kind != FileKind::kNone && kind != FileKind::kFolder;
}
// Opens `path` for reading (binary) when it is a regular file, with its status in `st`; null for
// anything else (`*notRegular` then tells something that is there but no regular file): a device
// or a pipe named where a file belongs would never end. Never waits for a pipe's writer.
std::FILE *OpenRegularFile(const std::string &path, struct stat &st, bool *notRegular = nullptr);

// The whole contents of an open file, read in large blocks from its current position. A buffer
// that cannot be had ends the run with the allocation report naming `module`.
std::vector<char> ReadWholeFile(std::FILE *f, const char *module);

// The contents of an open file, held for reading. A regular file is mapped read-only and filled
// at once, which spares copying it and faulting its pages in one by one; anything else, or a file
// that cannot be mapped, is read whole from its current position.
class FileContents {
public:
  FileContents() = default;
  ~FileContents() { Release(); }
  FileContents(const FileContents &) = delete;
  FileContents &operator=(const FileContents &) = delete;
  FileContents(FileContents &&other) noexcept;
  FileContents &operator=(FileContents &&other) noexcept;

  // The file may be closed once this returns. `name` names the file when it changes under the
  // mapping (see FileCutShort).
  void Load(std::FILE *f, const char *module, const std::string &name = std::string());
  // Gives the contents back at once; nothing is held afterwards.
  void Release();
  const char *data() const { return map_ ? static_cast<const char *>(map_) : bytes_.data(); }
  std::size_t size() const { return map_ ? mapSize_ : bytes_.size(); }
  bool empty() const { return size() == 0; }

private:
  void *map_ = nullptr;
  std::size_t mapSize_ = 0;
  int slot_ = -1;
  std::vector<char> bytes_;
};
// A mapped file that another program cuts short while it is read would end the run with SIGBUS:
// the pages past its new end read as zeros instead, and the file is noted. The name of such a
// file ("" while none was), for the failure that follows (fatal reports it in place of whatever a
// reader made of the zeros) or the check at the end of a load.
std::string FileCutShort();
// Forgets a file cut short (tests that cut one on purpose).
void ForgetFileCutShort();

// The folder for temporary files: $TMPDIR, or /tmp when it is unset or empty.
std::string TempFolder();

// True when `s` ends with `suffix` (case-sensitive, the whole suffix).
bool EndsWith(const std::string &s, const char *suffix);
// The files of an object: its name less a compression suffix (".gz", ".Z"), cut after its last
// dot ("hand.off.gz" -> "hand."). Without a dot the name stands for itself alone.
std::string ObjectStem(const std::string &name);
// True when folder entry `entry` is one of the files of object `name` by the rule above.
bool SameStem(const std::string &name, const std::string &entry);

// Writes all of `size` bytes, past interruptions and short writes; false on an error (errno).
bool WriteAll(int fd, const char *data, std::size_t size);

// What tells one file from another and from a later state of itself: a file replaced, rewritten
// or appended to by someone else no longer matches what was read.
struct FileIdentity {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  long long mtimeSec = 0, mtimeNsec = 0;
};
FileIdentity IdentityOf(const struct stat &st);
// The identity of what `path` names now (links followed); `exists` false when nothing.
FileIdentity IdentityAt(const std::string &path);
bool SameFile(const FileIdentity &a, const FileIdentity &b);

// Replaces `path` whole by `contents`: written to a temporary file in the same folder, flushed to
// disk when `durable`, and renamed over it, with signals held back meanwhile. Only when `path` is
// still the file `expected` describes (one that does not exist, when `expected.exists` is false);
// a link is followed to the file it names. Never rewrites a file where it is: a file with other
// names (hard links), one beside which no temporary file can be made or completed (a folder that
// may not be written, a full disk), one the user protected, or one that changed, stays as it is,
// and the answer is false with the reason in `why`. The file keeps its owner and permissions.
bool TryReplaceFile(const std::string &path, const std::string &contents,
                    const FileIdentity &expected, bool durable, std::string &why);
// TryReplaceFile of the file as it is now; anything but success ends the run with `failFormat`
// given the path.
void ReplaceFile(const std::string &path, const std::string &contents, const char *failFormat,
                 bool durable);

// A file that lives only as long as its descriptor (closed on exec): in memory where the system
// allows, else an unlinked file in TempFolder(). -1 when neither can be had.
int OpenScratchFile(const char *name);

// A private folder of our own in `parent` ("mirandel-" and a unique tail), removed with all it
// holds when the object goes. While the run lives it holds a lock on a file beside the folder
// (the folder's name and ".lock"), taken before the folder is made, so that a later run can tell
// what a killed run left behind (its lock is free) and removes it: see ClearAbandonedScratch. A
// folder that cannot be made ends the run with a message.
class ScratchFolder {
public:
  explicit ScratchFolder(const std::string &parent);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder &) = delete;
  ScratchFolder &operator=(const ScratchFolder &) = delete;
  const std::string &path() const { return path_; }
  // Removes the folder now (the object then holds nothing).
  void Remove();
  // In a process forked from the folder's maker: drops its share of the lock (flock locks go with
  // the open file, which fork shares), so that the folder counts as abandoned as soon as its maker
  // dies, however long the child takes to follow. The child leaves the folder alone.
  void LeaveToMaker();

private:
  std::string path_, lockPath_;
  int lock_ = -1;
};
// Removes the scratch folders in `parent` that runs ended by SIGKILL (or any death) left, and
// their lock files: ours (same owner), named as ScratchFolder names them, whose lock nobody holds.
void ClearAbandonedScratch(const std::string &parent);
// Removes a folder and everything below it (links are removed, never followed).
void RemoveTree(const std::string &dir);
// Removes a folder of plain entries with system calls alone, for a signal handler.
void RemoveFlatFolderInHandler(const char *dir);
// The same for a ScratchFolder of plain entries at `dir`, and its lock file.
void RemoveScratchInHandler(const char *dir);

// Copies regular file `from` to a new file `to` (which must not exist), reading through a link;
// false, with the reason in `why`, when `from` is no regular file or the copy cannot be made whole.
bool CopyRegularFile(const std::string &from, const std::string &to, std::string &why);
// Adds `contents` as the new file `path`: complete or not there at all, never over an existing
// file, nothing left behind when it fails (or the run is killed while writing). False, with the
// reason, when it cannot (the file exists, no room, no permission).
bool AddNewFile(const std::string &path, const std::string &contents, std::string &why);

// An advisory lock on a folder for as long as the object lives (others who take it wait); none
// where the file system offers none.
class FolderLock {
public:
  explicit FolderLock(const std::string &dir);
  ~FolderLock();
  FolderLock(const FolderLock &) = delete;
  FolderLock &operator=(const FolderLock &) = delete;

private:
  int fd_ = -1;
};
