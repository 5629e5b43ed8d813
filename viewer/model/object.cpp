#include "viewer/model/object.h"

#include "base/fatal.h"
#include "base/files.h"
#include "base/signals.h"

#include <atomic>
#include <memory>

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
  objFolder.isPrivate = false;
}

namespace {
std::unique_ptr<ScratchFolder> privateFolder;
std::atomic<const char *> privatePath{nullptr};
} // namespace

const std::string &PrivateFolder() {
  if (!privateFolder) {
    const char *tmp = std::getenv("TMP_PATH");
    std::string parent = tmp && *tmp ? std::string(tmp) : TempFolder();
    HoldEndSignals hold;
    privateFolder.reset(new ScratchFolder(parent));
    privatePath = privateFolder->path().c_str();
  }
  return privateFolder->path();
}

void ReleasePrivateFolder() {
  HoldEndSignals hold;
  privatePath = nullptr;
  privateFolder.reset();
  if (objFolder.isPrivate) objFolder.isPrivate = false;
}

const char *PrivateFolderInHandler() {
  return privatePath.load();
}

void UsePrivateFolder() {
  std::string dir = PrivateFolder();
  SetObjectFolder(dir);
  objFolder.isPrivate = true;
}
