#include "readers.h"

#include "fatal.h"
#include "shell.h"

void ReaderNotBuilt(const char *format) {
  fatal(1, "File %s: reading %s objects is not available yet\n", objName.c_str(), format);
}
