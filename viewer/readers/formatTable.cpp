#include "viewer/readers/formatTable.h"

#include "base/fatal.h"
#include "viewer/model/object.h"

void ReaderNotBuilt(const char *format) {
  fatal(1, "File %s: reading %s objects is not available yet\n", objName.c_str(), format);
}
