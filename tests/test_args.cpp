// Argument rules and the object search, called directly.
#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/shell/loadObj.h"
#include "viewer/shell/fileDialog.h"
#include "viewer/shell/main.h"
#include "viewer/shell/shell.h"
#include "support.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

struct SavedEnv {
  explicit SavedEnv(const char *name) : name_(name) {
    const char *v = std::getenv(name);
    had_ = v != nullptr;
    if (had_) value_ = v;
  }
  ~SavedEnv() {
    if (had_)
      setenv(name_, value_.c_str(), 1);
    else
      unsetenv(name_);
  }
  const char *name_;
  bool had_;
  std::string value_;
};

} // namespace

// "All objects" comes first (the dialog opens on it): every extension that has a reader or a
// converter, found anywhere in the name as the command line finds it.
TEST(Args, DialogListsAllObjectsThenTheFormatsInTheirOrderThenAllFiles) {
  std::string list;
  for (const FileFilter &f : DialogFilters()) {
    list += f.name;
    for (const std::string &p : f.patterns) list += " " + p;
    list += "\n";
  }
  EXPECT_EQ(list,
            "All objects *.geom* *.off* *.byu* *.ply* *.tpoly* *.stl* *.obj* *.wrl* *.coor* *.3ds* "
            "*.3mf* *.gltf* *.glb*\n"
            "Geom Files (*.geom) *.geom*\n"
            "Movie Files (*.byu) *.byu*\n"
            "Geomview Files (*.off) *.off*\n"
            "Lithography Files (*.stl) *.stl*\n"
            "Tria Poly Files (*.tpoly) *.tpoly*\n"
            "Stanford Files (*.ply) *.ply*\n"
            "Viewperf Files (*.coor) *.coo*\n"
            "3D Studio Files (*.3ds) *.3ds*\n"
            "3MF Files (*.3mf) *.3mf*\n"
            "Wavefront Files (*.obj) *.obj*\n"
            "glTF Files (*.gltf, *.glb) *.gltf* *.glb*\n"
            "All Files (*.*) *\n");
}

TEST(Args, FailureHeadingNamesTheObjectWithoutItsFolder) {
  EXPECT_EQ(FailureHeading("hand.off"), "Mirandel could not open hand.off");
  EXPECT_EQ(FailureHeading("/home/u/objects/hand.off.gz"), "Mirandel could not open hand.off.gz");
  EXPECT_EQ(FailureHeading(""), "Mirandel could not start");
}

TEST(Args, TypeBySubstringInTableOrder) {
  EXPECT_EQ(TypeFromName("hand.geom.gz"), 1);
  EXPECT_EQ(TypeFromName("a.offset.ply"), 2);
  EXPECT_EQ(TypeFromName("hand.ply.Z"), 6);
  EXPECT_EQ(TypeFromName("model.obj"), 3);
  EXPECT_EQ(TypeFromName("x.tpoly"), 17);
  EXPECT_EQ(TypeFromName("scene.wrl"), 18);
  EXPECT_EQ(TypeFromName("set.coor"), 19);
  EXPECT_EQ(TypeFromName("ship.3ds"), 7);
  EXPECT_EQ(TypeFromName("part.stl"), 5);
  // Letter case does not matter.
  EXPECT_EQ(TypeFromName("Granate.3DS"), 7);
  EXPECT_EQ(TypeFromName("PART.STL.gz"), 5);
  EXPECT_EQ(TypeFromName("Robot.Wrl"), 18);
  EXPECT_EQ(TypeFromName("SCAN.PLY"), 6);
  EXPECT_EQ(TypeFromName("A.OFFSET.PLY"), 2);
  EXPECT_EQ(TypeFromName("hand.GEOM"), 1);
  EXPECT_EQ(TypeFromName("hand.gem"), 0);
  EXPECT_EQ(TypeFromName("geom"), 0);
}

TEST(Args, DrawableComparesSixCharactersAndConsumesItsValue) {
  SavedEnv saved("OBJ_PATH");
  setenv("OBJ_PATH", "/tmp", 1);
  struct Case {
    const char *value;
    int kind;
  } cases[] = {{"window", 1}, {"pixmap", 2}, {"bufferX", 3},
               {"buf", 3},    {"fast", 3},   {"Window", 3}};
  for (const Case &c : cases) {
    drawableKind = 3;
    objType = 0;
    verbose = 0;
    ParseArgs({"mirandel", "-drawable", c.value, "-v"});
    EXPECT_EQ(drawableKind, c.kind) << c.value;
    EXPECT_EQ(verbose, 1);
    EXPECT_EQ(objType, 0);
  }
  drawableKind = 1;
  ParseArgs({"mirandel", "-drawable", "pixmapper"});
  EXPECT_EQ(drawableKind, 2);
  drawableKind = 3;
}

TEST(Args, SplitObjPathKeepsNamesFromTheRoot) {
  SavedEnv saved("OBJ_PATH");
  objName = "/obj/sub/hand.off";
  SplitObjPath();
  EXPECT_EQ(objName, "hand.off");
  EXPECT_STREQ(std::getenv("OBJ_PATH"), "/obj/sub");
  objName = "/hand.off";
  SplitObjPath();
  EXPECT_EQ(objName, "/hand.off");
  EXPECT_STREQ(std::getenv("OBJ_PATH"), "");
}

TEST(Search, DirectoryListFromObjPath) {
  SavedEnv savedPath("OBJ_PATH"), savedHome("HOME");
  setenv("HOME", "/home/me", 1);
  SearchDirs list;
  setenv("OBJ_PATH", "  /a\t~/objects ~other/x  ", 1);
  ASSERT_EQ(BuildSearchDirs(list), 0);
  EXPECT_EQ(list.dirs, (std::vector<std::string>{"/a/", "/home/me/objects/", "~other/x/"}));
  EXPECT_EQ(list.dir_count, 3);

  // Without HOME a leading "~" stays as it is.
  unsetenv("HOME");
  ASSERT_EQ(BuildSearchDirs(list), 0);
  EXPECT_EQ(list.dirs[1], "~/objects/");

  std::string ten, eleven;
  for (int i = 0; i < 10; ++i) ten += "/d" + std::to_string(i) + " ";
  eleven = ten + "/d10";
  setenv("OBJ_PATH", ten.c_str(), 1);
  EXPECT_EQ(BuildSearchDirs(list), 0);
  EXPECT_EQ(list.dir_count, 10);
  setenv("OBJ_PATH", eleven.c_str(), 1);
  EXPECT_EQ(BuildSearchDirs(list), -1);
}

// The object's own folder is one entry, blanks and all, however long; a user's OBJ_PATH still
// splits at blanks.
TEST(Search, ObjectFolderIsOneEntryWhateverItHolds) {
  SavedEnv savedPath("OBJ_PATH");
  TempDir top;
  // A folder far longer than 255 characters, made in steps a file system takes.
  std::string deep = "deep";
  for (int i = 0; i < 6; ++i) deep += "/" + std::string(60, char('a' + i)) + " x";
  for (const std::string &sub : {std::string("my objects"), deep, std::string("plain")}) {
    std::string dir = top.file(sub);
    ASSERT_EQ(RunProgram({"mkdir", "-p", dir}).status, 0);
    top.write(sub + "/hand.stl", "here");
    objName = dir + "/hand.stl";
    SplitObjPath();
    SearchDirs list;
    ASSERT_EQ(BuildSearchDirs(list), 0);
    EXPECT_EQ(list.dirs, std::vector<std::string>{dir + "/"});
    ResetSearchDirs();
    FoundFile f = FindObjectFile(kTypeSTL, objName);
    EXPECT_EQ(f.path, dir + "/hand.stl");
    EXPECT_EQ(f.dir, dir + "/");
  }
  // The same value from the user is a list of two folders.
  objFolder = ObjectFolder();
  setenv("OBJ_PATH", top.file("my objects").c_str(), 1);
  SearchDirs list;
  ASSERT_EQ(BuildSearchDirs(list), 0);
  EXPECT_EQ(list.dirs, (std::vector<std::string>{top.path() + "/my/", "objects/"}));
  ResetSearchDirs();
}

TEST(Search, EveryReaderHasItsOwnMessages) {
  SavedEnv savedPath("OBJ_PATH");
  const struct {
    int type;
    const char *name;
  } readers[] = {{kTypeAOFF, "AOFFReadObj"}, {kTypeSTL, "STLReadObj"},
                 {kTypePLY, "PLYReadObj"},   {kTypeBYU, "BYUReadObj"},
                 {kTypeOFF, "PLReadObj"},    {kTypeCOOR, "COORReadObj"},
                 {kType3DS, "3DSReadObj"},   {kTypeTPOLY, "TPOLYReadObj"}};
  std::string eleven;
  for (int i = 0; i <= 10; ++i) eleven += "/d" + std::to_string(i) + " ";
  for (const auto &r : readers) {
    ResetSearchDirs();
    setenv("OBJ_PATH", eleven.c_str(), 1);
    int status = 0;
    EXPECT_EQ(FatalMessage([&] { FindObjectFile(r.type, "x"); }, &status),
              std::string(r.name) + ": too many (> 10) directories in OBJ_PATH\n");
    EXPECT_EQ(status, 1);
    ResetSearchDirs();
    setenv("OBJ_PATH", "/nonexistent", 1);
    EXPECT_EQ(FatalMessage([&] { FindObjectFile(r.type, "hand.x"); }),
              std::string(r.name) + ": hand.x not found\n");
  }
  ResetSearchDirs();
}

TEST(Search, NameAsGivenFirstThenEachDirectoryInOrder) {
  SavedEnv savedPath("OBJ_PATH");
  TempDir a, b, cwd;
  a.write("hand.stl", "from a");
  b.write("hand.stl", "from b");
  b.write("only.stl", "only b");
  std::string value = a.path() + "  " + b.path();
  setenv("OBJ_PATH", value.c_str(), 1);
  ResetSearchDirs();
  FoundFile f = FindObjectFile(kTypeSTL, "hand.stl");
  EXPECT_EQ(f.path, a.path() + "/hand.stl");
  EXPECT_EQ(f.dir, a.path() + "/");
  f = FindObjectFile(kTypeSTL, "only.stl");
  EXPECT_EQ(f.dir, b.path() + "/");
  // The list is built once: a later OBJ_PATH does not reach it.
  setenv("OBJ_PATH", "/nonexistent", 1);
  f = FindObjectFile(kTypeSTL, "only.stl");
  EXPECT_EQ(f.dir, b.path() + "/");
  // A name with its own directory part opens as given.
  f = FindObjectFile(kTypeSTL, a.path() + "/hand.stl");
  EXPECT_EQ(f.dir, a.path() + "/");
  ResetSearchDirs();
}
