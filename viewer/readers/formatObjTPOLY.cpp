#include "viewer/readers/partReaders.h"

void TPOLYFormatObj(Part &record, Shape &shape) {
  MovePartGeometry(record, *shape.part);
}
