// Shared pieces of the fuzz targets: a scratch directory holding the input as an object file, so
// that readers run exactly as they do on a user's object.
#pragma once

#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/shell/shell.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

inline const std::string &FuzzDir() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/mirandel-fuzz-XXXXXX";
    const char *d = mkdtemp(tmpl);
    return std::string(d ? d : "/tmp");
  }();
  return dir;
}

// Writes the input as FuzzDir()/name, points OBJ_PATH there and sets objName.
inline void FuzzWriteObject(const std::string &name, const uint8_t *data, size_t size) {
  std::string path = FuzzDir() + "/" + name;
  if (FILE *f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  setenv("OBJ_PATH", FuzzDir().c_str(), 1);
  ResetSearchDirs();
  objName = name;
}
