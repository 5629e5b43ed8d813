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

// True when `path` names something that exists and is not a folder: what an object's name may be.
bool ObjectFileExists(const std::string &path);

// True when `path` names something that exists, of whatever kind.
bool FileExistsAt(const std::string &path);
// Opens `path` for reading (binary) when it is a regular file, with its status in `st`; null for
// anything else: a device or a pipe named where a file belongs would never end.
std::FILE *OpenRegularFile(const std::string &path, struct stat &st);

// The whole contents of an open file, read in large blocks from its current position. A buffer
// that cannot be had ends the run with the allocation report naming `module`.
std::vector<char> ReadWholeFile(std::FILE *f, const char *module);

// The contents of an open file, held for reading. A regular file is mapped read-only and filled
// at once, which spares copying it and faulting its pages in one by one; anything else, or a file
// that cannot be mapped, is read whole from its current position.
class FileContents {
public:
  FileContents() = default;
  ~FileContents();
  FileContents(const FileContents &) = delete;
  FileContents &operator=(const FileContents &) = delete;

  // The file may be closed once this returns.
  void Load(std::FILE *f, const char *module);
  const char *data() const { return map_ ? static_cast<const char *>(map_) : bytes_.data(); }
  std::size_t size() const { return map_ ? mapSize_ : bytes_.size(); }

private:
  void *map_ = nullptr;
  std::size_t mapSize_ = 0;
  std::vector<char> bytes_;
};

// The folder for temporary files: $TMPDIR, or /tmp when it is unset or empty.
std::string TempFolder();

// Writes `contents` to a temporary file beside `path` and renames it over `path`, so that a failed
// write never leaves a half-written file in its place. Through a link the file it names is
// replaced; a file with other names (hard links), or one beside which no file can be made, is
// rewritten where it is. The file keeps its owner and permissions, and one the user protected
// is not replaced. `durable`: on disk before the rename (for the user's own data; files that can
// be computed again need not wait). A failure ends the run with `failFormat` given the path.
void ReplaceFile(const std::string &path, const std::string &contents, const char *failFormat,
                 bool durable);
