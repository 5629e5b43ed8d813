// The file-open dialog that asks for the object when none is named, and its filter list.
#pragma once

#include <string>
#include <vector>

// Asks for the object in a file-open dialog; the chosen full path, or "" when cancelled.
std::string ChooseObjectFile();
// An entry of the file dialog's filter list: its name and the name patterns it lists.
struct FileFilter {
  std::string name;
  std::vector<std::string> patterns;
};
// The dialog's filter list: "All objects" with every extension of the table that the viewer can
// show (the one the dialog opens on), the table of formats' filters in their ranks, then
// "All Files".
std::vector<FileFilter> DialogFilters();
