#include "readers.h"

void LoadBYUObject() {
  ReaderNotBuilt("BYU");
}
