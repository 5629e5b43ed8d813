// Readers that build their result in a Part of their own and hand its arrays over to the current
// Shape: BYU, TPOLY and the COOR file set.
#pragma once

#include "viewer/model/shape.h"

#include <memory>

// Each finds objName through the object search and returns the filled record.
std::unique_ptr<Part> BYUReadObj();
std::unique_ptr<Part> TPOLYReadObj();
std::unique_ptr<Part> COORReadObj();

// Each moves the record's arrays into the Shape's Part (which then owns them) and sets its
// facet_offset to 0, the indices being zero-based already.
void BYUFormatObj(Part &record, Shape &shape);
void TPOLYFormatObj(Part &record, Shape &shape);
void COORFormatObj(Part &record, Shape &shape);

// The record itself, zero-filled; a failed allocation ends the run with the module's report.
std::unique_ptr<Part> NewPartRecord(const char *module, int line);
// Moves vertices and facets (the part every one of these records has) into `to`.
void MovePartGeometry(Part &from, Part &to);
