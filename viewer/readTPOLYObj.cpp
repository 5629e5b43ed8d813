#include "readers.h"

void LoadTPOLYObject() {
  ReaderNotBuilt("TPOLY");
}
