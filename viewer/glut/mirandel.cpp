// The executable: the program's entry.
#include "glutMain.h"
#include "main.h"
#include "sanitizerDefaults.h"

#include <cstdlib>

int main(int argc, char **argv) {
  enterEventLoop = EnterEventLoop;
  takeSnapshot = TakeSnapshot;
  std::exit(MirandelMain(argc, argv));
}
