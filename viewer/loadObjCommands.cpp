// External commands for compressed objects and VRML conversion (not built yet: every object
// counts as uncompressed and VRML has no converter).
#include "loadObj.h"

#include "fatal.h"
#include "shell.h"

int CompressionKind() {
  return 0;
}
void Decompress(int) {}
void Recompress(int) {}
void ConvertVRML() {
  fatal(1, "File %s: VRML conversion is not available yet\n", objName.c_str());
}
