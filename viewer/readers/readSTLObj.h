// STL objects: read and repaired by the mesh library, then turned into unshared triangles.
#pragma once

#include "viewer/model/shape.h"

#include <admesh/stl.h>

#include <functional>
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
// Before the repairs: a coordinate that is no finite float ends the run with a message naming
// `name` and the facet.
void STLRefuseUnrepairable(const STLObj *obj, const std::string &name);
// Before the hole filling: a neighbour link that is not returned (which makes the filling loop
// for ever) ends the run with a message naming `name`.
void STLRefuseBrokenNeighbours(const STLObj *obj, const std::string &name);
// Fills the Shape's Part with 3 x n unshared vertices, n triangles and their repaired normals.
// The record is spent: its facets and neighbour lists are given back to the system as they are
// copied, only its statistics stay of use until it is released.
void STLFormatObj(STLObj &obj, Shape &shape);

// Receives the twelve numbers of one text facet: its normal, then its three vertices.
using STLFacetSink = std::function<void(const float *)>;

// What the file check found out before the library reads the file.
struct STLFileCheck {
  bool ascii = false;         // text, read here
  int solids = 0;             // "solid" sections (text files)
  long long facets = 0;       // facets found (text files)
  std::string error;          // why the text cannot be read ("" when it can)
  bool markBinary = false;    // binary by its layout, yet the library would take it for text
  long long shortBinary = 0;  // facets of a binary file too short for the library's size check
  bool countMismatch = false; // such a short file's header count disagrees with its size
};
// Looks at the file as the library will: text unless a byte of the 128 after the 84-byte binary
// header has its top bit set. Text is read word by word, keywords in any case, all its solids one
// after another; each facet's numbers, rounded as the C library reads them, go to `facet`. A file
// that is no readable text but has the exact binary layout is marked binary.
STLFileCheck STLCheckFile(std::string_view data, const STLFacetSink &facet = {});
inline STLFileCheck STLCheckFile(const std::vector<char> &data, const STLFacetSink &facet = {}) {
  return STLCheckFile(std::string_view(data.data(), data.size()), facet);
}
// The text check of STLCheckFile over a file of `size` bytes, read a block at a time.
STLFileCheck STLCheckTextFile(int fd, long long size, const STLFacetSink &facet = {});
