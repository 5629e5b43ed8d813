// The object the run shows, as every subsystem knows it: its name, the folder it is read from
// (OBJ_PATH), and whether progress lines are written. Program-wide, like the one Shape: the
// shell sets them while it starts and loads, the readers and the graphics read them.
#pragma once

#include <string>

// The object's name: from the command line or the dialog, then its bare name while the readers
// run (they open their file by it), and what the window title and the status text show.
extern std::string objName;
// -v[erbose]: the load pipeline and the display set-up write progress lines to standard output.
extern int verbose;

// The object's own folder, once the load has settled it (from the object's path, or the scratch
// folder a compressed object is read from): the object and every side file are read there.
struct ObjectFolder {
  bool known = false;
  std::string dir;    // OBJ_PATH's value when it was set to the folder
  bool named = false; // the user named the object with a folder, not by its bare name
  // `dir` is the load's private folder (PrivateFolder): side files are written there freely.
  bool isPrivate = false;
  // Nothing may be written beside the object (a thumbnail): side files that a load needs are
  // prepared in the private folder.
  bool keepUntouched = false;
};
extern ObjectFolder objFolder;
// verbose and objFolder back to their start values, for another run in the same process.
void ResetObjectValues();

// The load's private folder, made on the first call inside TMP_PATH (else the folder for
// temporary files) and removed with everything in it by ReleasePrivateFolder, by a signal that
// ends the load (see PrivateFolderInHandler) or, after a kill, by a later run.
const std::string &PrivateFolder();
void ReleasePrivateFolder();
// The private folder's path for a signal handler (null while there is none).
const char *PrivateFolderInHandler();
// Points OBJ_PATH at the private folder, the object to be read from there.
void UsePrivateFolder();

// Reads OBJ_PATH ("" when unset).
std::string GetObjPath();
// Sets OBJ_PATH; fatal "Environment variable OBJ_PATH, could not be set\n\n" on failure.
void SetObjPath(const std::string &dir);
// Sets OBJ_PATH to the object's own folder and records it as such.
void SetObjectFolder(const std::string &dir);
