// Where the p key saves the window's picture, and under which name.
#pragma once

#include <functional>
#include <string>

// What the folder choice asks of the system: an environment variable (null when unset), whether
// a path is a folder, a file's text ("" when it cannot be read).
struct PictureSystem {
  std::function<const char *(const char *)> env;
  std::function<bool(const std::string &)> isFolder;
  std::function<std::string(const std::string &)> readText;
};
PictureSystem RealPictureSystem();

// The user's pictures folder: XDG_PICTURES_DIR from the environment, else from the user's folder
// settings (user-dirs.dirs under XDG_CONFIG_HOME or ~/.config), else ~/Pictures, else the current
// folder ("."); only a folder that exists is taken.
std::string PicturesFolder(const PictureSystem &sys);
// The object's name without its folder, its compression suffix and its extension: "hand" for
// "/o/hand.off.gz". "picture" for a name that leaves nothing.
std::string PictureStem(const std::string &objectName);
// The name of the n-th picture of an object (n from 1): "hand-1.png", "hand-2.png", ...
std::string PictureName(const std::string &stem, int n);
