// Program-wide values of the shell: start-up switches, the object's name and type.
#pragma once

#include <string>

extern int verbose;
extern int objType;
extern int drawableKind;
extern int show_status;
extern int show_ground;
extern int front_ccw;
extern std::string objName;

// Options of our own. They begin with "--", so the single-dash options never take one of them for
// their own.
struct RunOptions {
  bool info = false;           // --info: load, print the status lines and bbox, no window
  std::string snapshot;        // --snapshot FILE.png: draw the first frame into FILE and exit
  bool snapshotStatus = false; // --status: the snapshot shows the status text
};
extern RunOptions runOptions;

// The object types chosen by extension.
enum ObjTypeCode {
  kTypeAOFF = 1,
  kTypeOFF = 2,
  kTypeOBJ = 3,
  kTypeBYU = 4,
  kTypeSTL = 5,
  kTypePLY = 6,
  kType3DS = 7,
  kTypeTPOLY = 17,
  kTypeVRML = 18,
  kTypeCOOR = 19,
};

// The object's own folder, once the load has settled it (from the object's path, or the scratch
// folder a compressed object is read from): the object and every side file are read there.
struct ObjectFolder {
  bool known = false;
  std::string dir;    // OBJ_PATH's value when it was set to the folder
  bool named = false; // the user named the object with a folder, not by its bare name
};
extern ObjectFolder objFolder;

// Reads OBJ_PATH ("" when unset).
std::string GetObjPath();
// Sets OBJ_PATH; fatal "Environment variable OBJ_PATH, could not be set\n\n" on failure.
void SetObjPath(const std::string &dir);
// Sets OBJ_PATH to the object's own folder and records it as such.
void SetObjectFolder(const std::string &dir);
