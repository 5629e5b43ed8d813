// Shapes built in code and one X server per test process for drawing them in-process.
#pragma once

#include "shape.h"
#include "support.h"

#include <string>
#include <vector>

// The X server shared by every in-process drawing test (GLUT connects once per process); DISPLAY
// points at it. Null when Xvfb cannot start.
const XServer *SharedDisplay();

// Makes a Shape of the given points and facets current and runs the load steps after reading
// (normals, fit, adjacency, render defaults), as a reader's load would.
Part &MakeShape(const std::vector<Coord> &points, const std::vector<std::vector<uint32_t>> &faces,
                const std::string &name = "hand.geom");
// A cube of side 2 around the origin, facets counter-clockwise seen from outside.
Part &MakeCube();
// Sets up the window for the current Shape, writes its first frame and reads it back.
Image DrawFrame();
