// The copy of an STL object that the mesh library reads in place of the file: the same facets in
// its binary layout. Text is read here and copied: the library's own reading of text is slow, and
// text it cannot parse can make it loop for ever. A binary file too short for the library's size
// check, or one it would take for text, is copied as it is.
#pragma once

#include "viewer/readers/findObj.h"
#include "viewer/readers/readSTLObj.h"

#include <memory>

class STLCopy {
public:
  STLCopy();
  ~STLCopy();
  STLCopy(const STLCopy &) = delete;
  STLCopy &operator=(const STLCopy &) = delete;

  // Looks at the found file as the library will and makes the copy if the library should read
  // one; the file is closed. False when the library reads the file itself, by its name.
  bool Make(FoundFile &found);
  // The library's opening over the copy, which needs no name: no /proc, and no message naming
  // anything but the user's file.
  void Open(STLObj *obj) const;

  // A file that lives only as long as its descriptor.
  struct ScratchFile;

private:
  std::unique_ptr<ScratchFile> file_;
  long long facets_ = -1;
};
