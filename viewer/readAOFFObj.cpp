#include "readers.h"

void LoadAOFFObject() {
  ReaderNotBuilt("AOFF");
}
