#include "readers.h"

void LoadOFFObject() {
  ReaderNotBuilt("OFF");
}
