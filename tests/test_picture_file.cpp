// Where the p key's pictures go and what they are called.
#include "viewer/graphics/pictureFile.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

TEST(PictureFile, FolderFromTheEnvironmentTheSettingsHomeOrHere) {
  struct Case {
    const char *what;
    std::map<std::string, std::string> env;
    std::set<std::string> folders;
    std::string userDirs; // ~/.config/user-dirs.dirs, or under XDG_CONFIG_HOME
    std::string folder;
  };
  const std::string settings = "# written by the desktop\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                               "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
  const Case cases[] = {
      {"the variable",
       {{"HOME", "/h"}, {"XDG_PICTURES_DIR", "/p"}},
       {"/p", "/h/Pictures"},
       "",
       "/p"},
      {"the variable names no folder",
       {{"HOME", "/h"}, {"XDG_PICTURES_DIR", "/gone"}},
       {"/h/Pictures"},
       "",
       "/h/Pictures"},
      {"the settings", {{"HOME", "/h"}}, {"/h/Bilder", "/h/Pictures"}, settings, "/h/Bilder"},
      {"the settings under XDG_CONFIG_HOME",
       {{"HOME", "/h"}, {"XDG_CONFIG_HOME", "/c"}},
       {"/h/Bilder"},
       settings,
       "/h/Bilder"},
      {"settings that name home itself",
       {{"HOME", "/h"}},
       {"/h", "/h/Pictures"},
       "XDG_PICTURES_DIR=\"$HOME/\"\n",
       "/h/Pictures"},
      {"no pictures folder", {{"HOME", "/h"}}, {"/h"}, "", "."},
      {"no home", {}, {"/h/Pictures"}, "", "."},
  };
  for (const Case &c : cases) {
    PictureSystem sys;
    sys.env = [&c](const char *name) -> const char * {
      auto it = c.env.find(name);
      return it == c.env.end() ? nullptr : it->second.c_str();
    };
    sys.isFolder = [&c](const std::string &path) { return c.folders.count(path) > 0; };
    sys.readText = [&c](const std::string &path) {
      auto config = c.env.find("XDG_CONFIG_HOME");
      std::string dir = config == c.env.end() ? "/h/.config" : config->second;
      return path == dir + "/user-dirs.dirs" ? c.userDirs : std::string();
    };
    EXPECT_EQ(PicturesFolder(sys), c.folder) << c.what;
  }
}

TEST(PictureFile, NamedAfterTheObjectAndNumbered) {
  EXPECT_EQ(PictureStem("hand.off"), "hand");
  EXPECT_EQ(PictureStem("/objects/hand.off.gz"), "hand");
  EXPECT_EQ(PictureStem("scene.wrl.Z"), "scene");
  EXPECT_EQ(PictureStem("my.part.ply"), "my.part");
  EXPECT_EQ(PictureStem("noextension"), "noextension");
  EXPECT_EQ(PictureStem(".ply"), ".ply");
  EXPECT_EQ(PictureStem(""), "picture");
  EXPECT_EQ(PictureName("hand", 1), "hand-1.png");
  EXPECT_EQ(PictureName("hand", 12), "hand-12.png");
}
