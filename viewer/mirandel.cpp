// The executable: the program's entry.
#include "main.h"

#include <cstdlib>

int main(int argc, char **argv) {
  std::exit(MirandelMain(argc, argv));
}
