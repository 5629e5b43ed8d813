#include "readers.h"

void LoadPLYObject() {
  ReaderNotBuilt("PLY");
}
