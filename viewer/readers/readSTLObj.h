// STL objects: read and repaired by the mesh library, then turned into unshared triangles.
#pragma once

#include "viewer/model/shape.h"

#include <admesh/stl.h>

#include <cstddef>
#include <memory>
#include <string>

using STLObj = stl_file;

// Frees the library's arrays and then the record.
struct STLObjRelease {
  void operator()(STLObj *obj) const;
};
using STLObjPtr = std::unique_ptr<STLObj, STLObjRelease>;

struct FoundFile;

// Reads the STL object named by objName through the object search and repairs it.
STLObjPtr STLReadObj();
// The same for the file the search found.
STLObjPtr STLReadFound(FoundFile found);
// Every facet meets another at each of its edges: the repair has then wound the closed surface
// consistently and outward, and its fronts are known.
bool STLClosed(const STLObj &obj);
// Converts the repaired record into the current Shape's Part (STLFormatObj), its fronts known
// when it is closed, and releases it.
void STLAdoptObject(STLObjPtr obj);
// The library reports its own fatal conditions and raises its error flag: the run ends there.
void STLStopOnLibraryError(const STLObj *obj);
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
// Appends facets [from, to) of `facets` to the Part's vertices (three each) and facet normals,
// their room reserved.
void STLAppendFacets(Part &part, const stl_facet *facets, std::size_t from, std::size_t to);
// The facet list and the index pool of `facets` unshared triangles: facet i is vertices 3i to
// 3i + 2.
void STLFillFacetList(Part &part, std::size_t facets);
void STLFillIndexPool(Part &part, std::size_t facets);
