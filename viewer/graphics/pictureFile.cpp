#include "viewer/graphics/pictureFile.h"

#include "base/files.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

PictureSystem RealPictureSystem() {
  PictureSystem sys;
  sys.env = [](const char *name) -> const char * { return std::getenv(name); };
  sys.isFolder = [](const std::string &path) { return FileKindAt(path) == FileKind::kFolder; };
  sys.readText = [](const std::string &path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  };
  return sys;
}

// The value of XDG_PICTURES_DIR in a user-dirs.dirs text: a quoted path where "$HOME" may start
// it. "" where the line is missing.
static std::string FromUserDirs(const std::string &text, const std::string &home) {
  const std::string key = "XDG_PICTURES_DIR=";
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line.compare(at, key.size(), key) != 0) continue;
    std::string value = line.substr(at + key.size());
    if (value.size() >= 2 && value.front() == '"') {
      std::size_t end = value.find('"', 1);
      value = value.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    }
    if (value.compare(0, 5, "$HOME") == 0) value = home + value.substr(5);
    return value;
  }
  return std::string();
}

std::string PicturesFolder(const PictureSystem &sys) {
  const char *homeVar = sys.env("HOME");
  std::string home = homeVar ? homeVar : "";
  if (const char *dir = sys.env("XDG_PICTURES_DIR"))
    if (*dir && sys.isFolder(dir)) return dir;
  const char *config = sys.env("XDG_CONFIG_HOME");
  std::string configDir = config && *config ? config : home.empty() ? "" : home + "/.config";
  if (!configDir.empty()) {
    std::string dir = FromUserDirs(sys.readText(configDir + "/user-dirs.dirs"), home);
    // The settings name the home folder itself where no pictures folder is wanted.
    if (!dir.empty() && dir != home && dir != home + "/" && sys.isFolder(dir)) return dir;
  }
  if (!home.empty() && sys.isFolder(home + "/Pictures")) return home + "/Pictures";
  return ".";
}

std::string PictureStem(const std::string &objectName) {
  std::size_t slash = objectName.rfind('/');
  std::string name = slash == std::string::npos ? objectName : objectName.substr(slash + 1);
  for (const char *suffix : {".gz", ".Z"}) {
    std::size_t n = std::string(suffix).size();
    if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0) {
      name.resize(name.size() - n);
      break;
    }
  }
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name.empty() || name == "." ? "picture" : name;
}

std::string PictureName(const std::string &stem, int n) {
  return stem + "-" + std::to_string(n) + ".png";
}
