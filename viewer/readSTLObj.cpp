#include "readers.h"

void LoadSTLObject() {
  ReaderNotBuilt("STL");
}
