// A file of the program's own in the folder for temporary files (TempFolder()), removed with its
// holder: for a copy of an object that a library must read from a file of its own.
#pragma once

#include <cstddef>
#include <string>

class TempFile {
public:
  TempFile() = default;
  ~TempFile();
  TempFile(const TempFile &) = delete;
  TempFile &operator=(const TempFile &) = delete;

  // Creates "mirandel-XXXXXX" in TempFolder() holding `size` bytes of `contents`. A file that
  // cannot be made or written ends the run: "<who>: cannot create a temporary file in <folder>\n"
  // or "<who>: cannot write the temporary file <path>\n".
  void Write(const char *contents, std::size_t size, const char *who);
  // "" until written.
  const std::string &path() const { return path_; }

private:
  std::string path_;
};
