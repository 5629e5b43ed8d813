#include "readers.h"

void LoadCOORObject() {
  ReaderNotBuilt("COOR");
}
