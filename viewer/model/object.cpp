#include "viewer/model/object.h"

#include "base/fatal.h"

#include <cstdlib>

std::string objName;
int verbose = 0;
ObjectFolder objFolder;

void ResetObjectValues() {
  verbose = 0;
  objFolder = ObjectFolder();
}

std::string GetObjPath() {
  const char *v = std::getenv("OBJ_PATH");
  return v ? std::string(v) : std::string();
}

void SetObjPath(const std::string &dir) {
  if (setenv("OBJ_PATH", dir.c_str(), 1) != 0)
    fatal(1, "Environment variable OBJ_PATH, could not be set\n\n");
}

void SetObjectFolder(const std::string &dir) {
  SetObjPath(dir);
  objFolder.known = true;
  objFolder.dir = dir;
}
