// The PLY object reader: the elements "vertex" and "face" become geometry, every other element is
// read and kept aside.
#pragma once

#include "formats/ply/plyfile.h"
#include "viewer/model/shape.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct PlyVertex {
  float x, y, z;
  float nx, ny, nz;
  unsigned char red, green, blue;
  void *other;
};

struct PlyFace {
  // Read as an int, not a byte: a face of more than 255 corners keeps every corner.
  int32_t count;
  int32_t *vertex_indices; // none when the list is empty
  unsigned char red, green, blue;
  void *other;
};

struct Surface {
  int32_t nverts = 0;
  int32_t nfaces = 0;
  // The records themselves, in file order, in one block each (a pointer per record would cost a
  // million allocations for a million faces).
  PlyRecords<PlyVertex> vlist;
  PlyRecords<PlyFace> flist;
  std::shared_ptr<PlyOtherElementList> other_elements;
  std::unique_ptr<PlyOtherProps> vert_other;
  std::unique_ptr<PlyOtherProps> face_other;
  int nelems = 0;
  std::vector<std::string> elem_names;
  int num_comments = 0;
  std::vector<std::string> comments;
  int num_obj_info = 0;
  std::vector<std::string> obj_info;
  int32_t has_x = 0, has_y = 0, has_z = 0;
  int32_t has_nx = 0, has_ny = 0, has_nz = 0;
  int32_t has_vred = 0, has_vgreen = 0, has_vblue = 0;
  int32_t has_fverts = 0, has_fred = 0, has_fgreen = 0, has_fblue = 0;
  // Corners of all faces together, summed while the faces are read.
  unsigned long long corner_count = 0;
  // The face index lists and the other-property blocks live here.
  std::shared_ptr<PlyArena> storage;
};

// Finds objName along OBJ_PATH and reads it.
std::unique_ptr<Surface> PLYReadObj();
// Fills the Shape's Part. The vertex and face records are consumed as they are converted, so the
// Surface and the Part are never both whole in memory.
void PLYFormatObj(Surface &surface, Shape &shape);
// Frees the Surface with every record, list and block it holds.
void ReleaseSurface(std::unique_ptr<Surface> &surface);
