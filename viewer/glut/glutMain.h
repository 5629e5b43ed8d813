// The executable's GLUT glue: callback registration and the event loop.
#pragma once

// Registers the callbacks and runs the event loop until Escape (or the window closes).
void EnterEventLoop();
// Waits for the window to show, draws the first frame into the --snapshot file and returns.
void TakeSnapshot();
