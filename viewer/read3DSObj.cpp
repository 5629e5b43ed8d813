#include "readers.h"

void Load3DSObject() {
  ReaderNotBuilt("3DS");
}
