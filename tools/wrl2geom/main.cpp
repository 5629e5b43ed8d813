// mirandel-wrl2geom IN.wrl OUT.geom: the viewer's VRML converter.
#include "base/sanitizerDefaults.h"
#include "wrl2geom.h"

int main(int argc, char **argv) {
  return wrl2geom::Main(argc, argv);
}
