// STL objects: read and repaired by the mesh library, then turned into unshared triangles.
#pragma once

#include "viewer/model/shape.h"

#include <admesh/stl.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

using STLObj = stl_file;

// Frees the library's arrays and then the record.
struct STLObjRelease {
  void operator()(STLObj *obj) const;
};
using STLObjPtr = std::unique_ptr<STLObj, STLObjRelease>;

// Reads the STL object named by objName through the object search and repairs it.
STLObjPtr STLReadObj();
// Runs the library's read and repair sequence on a zero-filled record; returns 1.
int STLRepairObj(STLObj *obj, const std::string &path);
// Fills the Shape's Part with 3 x n unshared vertices, n triangles and their repaired normals.
void STLFormatObj(const STLObj &obj, Shape &shape);

// What the file check found out before the library reads the file.
struct STLFileCheck {
  bool ascii = false;         // the library will read it as text
  int solids = 0;             // "solid" sections (text files)
  long long facets = 0;       // facets found (text files)
  std::string error;          // why the text cannot be read ("" when it can)
  bool needsCopy = false;     // text the library would misread or refuse as it stands
  std::string textCopy;       // the same facets as one solid in the library's layout
  bool markBinary = false;    // binary by its layout, yet the library would take it for text
  bool countMismatch = false; // a short binary file whose header count disagrees with its size
};
// Looks at the file as the library will: text unless a byte of the 128 after the 84-byte binary
// header has its top bit set. Text is checked word by word, keywords in any case. Text other
// than one lower-case solid in the library's layout (several solids, another layout, keywords in
// upper case, padding or notes after the last solid, text shorter than its type probe) is
// rewritten as one such solid. A file that is no readable text but has the exact binary layout is
// marked binary; a binary file too short for the library's size check is rewritten as text.
STLFileCheck STLCheckFile(std::string_view data);
inline STLFileCheck STLCheckFile(const std::vector<char> &data) {
  return STLCheckFile(std::string_view(data.data(), data.size()));
}
