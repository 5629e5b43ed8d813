// The OBJ_PATH walk: any value must give a list or the too-many answer, never a fault.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string value(reinterpret_cast<const char *>(data), size);
  if (value.find('\0') != std::string::npos) return 0;
  setenv("OBJ_PATH", value.c_str(), 1);
  setenv("HOME", "/home/fuzz", 1);
  SearchDirs list;
  try {
    BuildSearchDirs(list);
  } catch (const FatalError &) {
  }
  return 0;
}
