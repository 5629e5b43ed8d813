// The object search: every reader opens its file as named, then along the directories of OBJ_PATH.
#pragma once

#include "base/files.h"
#include "viewer/readers/formatTable.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

constexpr int kMaxSearchDirs = 10;

struct SearchDirs {
  bool built = false;
  std::vector<std::string> dirs; // each ends in '/'
  int dir_count = 0;
  // The list is the object's own folder and the user named the object with it: a file of the
  // same name in the current folder is not the object.
  bool objectFolderOnly = false;
};

struct FoundFile {
  FilePtr file;     // open for reading (binary mode)
  std::string path; // the path that opened
  std::string dir;  // the directory the file was found in ("" for the name's own place)
};

// Builds the list from OBJ_PATH: 0, or -1 when it names more than 10 directories. A user's value
// splits at blanks; the object's own folder, once the load has pointed OBJ_PATH at it, is one
// entry whatever characters it holds.
int BuildSearchDirs(SearchDirs &list);
// "~/rest" becomes $HOME + "/rest"; "~user..." and an unset HOME leave the entry as it is.
std::string ExpandHome(const std::string &entry);
// Opens `name` along the own list of the reader of `type` (built on its first call); its messages
// name the reader as the table of formats does: "<reader>: too many (> 10) directories in
// OBJ_PATH\n", "<reader>: <name> not found\n".
FoundFile FindObjectFile(int type, const std::string &name);
// The same search for a file the object may lack (a side file): no file when it is not found.
FoundFile SearchObjectFile(int type, const std::string &name);
// The found file's whole contents, for readers that parse it in memory.
struct ObjectFile {
  std::string path; // as FoundFile
  std::string dir;
  FileContents data;
};
// Finds `name` like FindObjectFile and holds its contents, mapped or read as FileContents holds
// them (a buffer that cannot be had is reported for `module`); the file is closed again.
ObjectFile ReadObjectFile(int type, const std::string &name, const char *module);
// The folder of OBJ_PATH in which `name` exists (and is no directory), as the object search would
// find it: OBJ_PATH whole, then each of its folders ("~/" expanded). 1 with `folder` set, 0 when
// no folder holds it, -1 when OBJ_PATH names more than 10 folders.
int ObjectFolderOf(const std::string &name, std::string &folder);
// Forgets every reader's list, so that the next search reads OBJ_PATH again (tests).
void ResetSearchDirs();
