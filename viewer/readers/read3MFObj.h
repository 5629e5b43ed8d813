// 3MF packages: the reader fills an M3Package from the file named by objName; the conversion
// places every build item's object, components expanded, into the current Shape's one Part.
#pragma once

#include "formats/3mf/model3mf.h"
#include "viewer/model/shape.h"

#include <string>

// Finds objName along OBJ_PATH and reads the package. `path` receives the path that opened.
void ReadObj3MF(M3Package &package, std::string *path = nullptr);

// Fills `part` from the build: each item's object with its transform, components with theirs
// (composed, recursively), turned -90 degrees about x as the package is z-up. Triangles whose
// property is a colour give facet colours; where a triangle's corners differ the colours go to the
// vertices instead (a vertex whose corners differ is repeated once per colour). A component cycle,
// a reference to a missing object, part or property, or a build too large for memory ends the run.
void FormatObj3MF(const M3Package &package, Part &part, const std::string &file);
