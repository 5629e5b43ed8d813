// Program-wide values of the shell: the start-up switches and the object's type. The object's
// name and folder, which the readers and the graphics read too, are the model's (object.h); the
// type codes are the table of formats' (formatTable.h).
#pragma once

#include "viewer/model/object.h"
#include "viewer/readers/formatTable.h"

#include <string>

extern int objType;
// -drawable buffer|pixmap|window: recorded only, every kind draws alike.
enum DrawableKind { kDrawableWindow = 1, kDrawablePixmap = 2, kDrawableBuffer = 3 };
extern int drawableKind;

// Options of our own. They begin with "--", so the single-dash options never take one of them for
// their own.
struct RunOptions {
  bool info = false;           // --info: load, print the status lines and bbox, no window
  std::string snapshot;        // --snapshot FILE.png: draw the first frame into FILE and exit
  bool snapshotStatus = false; // --status: the snapshot shows the status text
  std::string thumbnailInput;  // --thumbnail INPUT OUTPUT.png: a thumbnail of INPUT, in OUTPUT
  std::string thumbnailOutput;
};
extern RunOptions runOptions;
