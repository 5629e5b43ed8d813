// The executable: the program's entry.
#include "viewer/glut/glutMain.h"
#include "viewer/shell/main.h"
#include "base/sanitizerDefaults.h"

#include <cstdlib>

int main(int argc, char **argv) {
  enterEventLoop = EnterEventLoop;
  takeSnapshot = TakeSnapshot;
  std::exit(MirandelMain(argc, argv));
}
