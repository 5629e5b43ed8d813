// The command line, run through the real program.
#include "support.h"

#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace {

// Every file of a folder with its contents.
std::string FolderText(const std::string &dir) {
  std::string all;
  for (const std::string &name : ListDir(dir)) all += name + "\n" + ReadFile(dir + "/" + name);
  return all;
}

std::string FirstLines(const std::string &out, int lines) {
  std::size_t at = 0;
  for (int i = 0; i < lines && at != std::string::npos; ++i) at = out.find('\n', at + 1);
  return out.substr(0, at == std::string::npos ? at : at + 1);
}

const char *kOneTriangleOff = "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
const char *kTwoTrianglesOff = "OFF\n4 2 0\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n3 0 1 2\n3 1 3 2\n";

std::string Usage() {
  return "\nUsage: " + MirandelBin() +
         "            \n"
         "       -h[elp]                              \n"
         "       -v[erbose]                           \n"
         "       -in object \n\n";
}

} // namespace

TEST(CommandLine, RefusesToRunWithoutObjPath) {
  RunResult r = RunMirandel({"-in", "x.off"}, {Unset("OBJ_PATH")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Environment variable OBJ_PATH, undefined\n\n");
  EXPECT_EQ(r.out, "");
}

TEST(CommandLine, UsageTextForHelpAndMissingValues) {
  TempDir dir;
  for (std::vector<std::string> args : {std::vector<std::string>{"-h"},
                                        {"-help"},
                                        {"-hx"},
                                        {"-in"},
                                        {"-drawable"},
                                        {"-v", "-drawable", "window", "-x", "word", "-help"}}) {
    RunResult r = RunMirandel(args, {{"OBJ_PATH", true, dir.path()}});
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.err, Usage()) << args[0];
  }
}

// --help and --version answer on standard output with status 0 wherever they stand, without
// OBJ_PATH and before anything else on the line (-h included).
TEST(CommandLine, HelpAndVersionNeedNothingElse) {
  std::smatch m;
  std::string cmake = ReadFile(SourcePath("CMakeLists.txt"));
  ASSERT_TRUE(std::regex_search(cmake, m, std::regex(R"(project\(mirandel VERSION ([0-9.]+))")));
  const std::string version = "mirandel " + m[1].str() + "\n";
  for (std::vector<std::string> args : {std::vector<std::string>{"--version"},
                                        {"-in", "nothere.off", "--version"},
                                        {"-h", "--version", "--help"}}) {
    RunResult r = RunMirandel(args, {Unset("OBJ_PATH")});
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_EQ(r.err, "") << args[0];
    EXPECT_EQ(r.out, version) << args[0];
  }

  RunResult r = RunMirandel({"-v", "--help", "-in"}, {Unset("OBJ_PATH")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.rfind("Usage: " + MirandelBin() + " [-v[erbose]] [-drawable buffer", 0), 0u)
      << r.out;
  // Every option and variable on a line of its own, each text in one column, within 80 columns.
  std::set<std::string> terms;
  std::set<std::size_t> columns;
  std::istringstream lines(r.out);
  std::regex row(R"(^  ([-0-9A-Z_a-z\[\]]+(?: [-a-zA-Z.|]+)*)( {2,})\S.*)");
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, 6, "Usage:") == 0 || line.compare(0, 7, "       ") == 0) continue;
    EXPECT_LE(line.size(), 80u) << line;
    if (!std::regex_match(line, m, row)) continue;
    terms.insert(m[1].str().substr(0, m[1].str().find(' ')));
    columns.insert(2 + m[1].length() + m[2].length());
  }
  for (const char *term :
       {"-in", "-v[erbose]", "-drawable", "-h[elp]", "--info", "--snapshot", "--status", "--size",
        "--help", "--version", "OBJ_PATH", "HOME", "COMPRESS_PATH", "TMP_PATH", "COPY_COMMAND",
        "REMOVE_COMMAND", "WRL2GEOM_COMMAND", "MIRANDEL_NO_DIALOG"})
    EXPECT_EQ(terms.count(term), 1u) << term << " missing from\n" << r.out;
  EXPECT_NE(r.out.find(" .obj "), std::string::npos) << r.out;
  // Terms too long for the column stand on a line of their own, their text below.
  for (const char *term :
       {"--thumbnail", "MIRANDEL_THUMBNAIL_SECONDS", "MIRANDEL_THUMBNAIL_MEGABYTES"})
    EXPECT_NE(r.out.find("\n  " + std::string(term)), std::string::npos) << term;
  EXPECT_EQ(columns.size(), 1u) << r.out;
}

TEST(CommandLine, MissingAndUnsupportedObjects) {
  TempDir dir;
  dir.write("hand.GEOM", "x");
  dir.write("model.obj", "x");
  Env env{{"OBJ_PATH", true, dir.path()}};

  RunResult r = RunMirandel({"-in", "nothere.off"}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "File nothere.off does not exist\n");

  // The extension test ignores letter case, but AOFF side files are named in small letters.
  r = RunMirandel({"-in", "hand.GEOM"}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error file \"hand.GEOM\" -- Incorrect or invalid extension\n"
                   "AOFFReadObj: hand.GEOM: an AOFF object is named by its \".geom\" or "
                   "\".aoff\" file\n");

  // An OBJ object goes to its reader, which finds nothing to show in it.
  r = RunMirandel({"-in", "model.obj"}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "OBJReadObj: model.obj holds no vertices\n");

  // A directory of the object's name is not an object.
  r = RunMirandel({"-in", ""}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "File  does not exist\n");
}

// Names from systems that ignore letter case: the extension may be written in capitals.
TEST(CommandLine, CapitalExtensionsLoad) {
  TempDir dir;
  dir.write("PART.STL", "solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
                        "vertex 0 1 0\nendloop\nendfacet\nendsolid x\n");
  dir.write("Tri.Off", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
  dir.write("ROBOT.WRL", "#VRML V2.0 utf8\nShape { geometry IndexedFaceSet { coord Coordinate "
                         "{ point [0 0 0, 2 0 0, 0 1 0] } coordIndex [0 1 2 -1] } }\n");
  for (const char *name : {"PART.STL", "Tri.Off", "ROBOT.WRL"}) {
    RunResult r = RunMirandel({"--info", "-in", name},
                              {{"OBJ_PATH", true, dir.path()}, Unset("WRL2GEOM_COMMAND")});
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    EXPECT_NE(r.out.find("\nbbox: 0 0 0 "), std::string::npos) << name << ": " << r.out;
  }
  EXPECT_TRUE(FileExists(dir.file("ROBOT.geom")));
}

TEST(CommandLine, VerboseLinesNameTheObjectAndItsFullPath) {
  TempDir dir;
  std::string sub = dir.file("sub");
  ASSERT_EQ(RunProgram({"mkdir", sub}).status, 0);
  dir.write("sub/hand.off", "OFF\n0 0 0\n");
  dir.write("a.byu", "x");
  dir.write("b.byu", "x");
  Env env{{"OBJ_PATH", true, dir.path()}};

  // A relative name with directories is looked up below OBJ_PATH.
  RunResult r = RunMirandel({"-verbose", "-in", "sub/hand.off"}, env);
  EXPECT_EQ(r.out.substr(0, r.out.find("filename") + 0), "FileName = sub/hand.off\n");
  EXPECT_NE(r.out.find("filename = " + dir.path() + "/sub/hand.off\n"), std::string::npos);

  // A second -in is ignored; its name is then an argument of its own, also ignored.
  r = RunMirandel({"-in", "a.byu", "-in", "b.byu", "-vx"}, env);
  EXPECT_EQ(r.out.substr(0, 20), "FileName = a.byu\nfil");

  // A full path replaces OBJ_PATH by the object's own directory, whatever it held.
  r = RunMirandel({"-v", "-in", dir.path() + "/sub/hand.off"},
                  {{"OBJ_PATH", true, "/nonexistent"}});
  EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), "FileName = hand.off\n");
  EXPECT_NE(r.out.find("filename = " + dir.path() + "/sub/hand.off\n"), std::string::npos);
}

TEST(CommandLine, VeryLongNamesAreReportedNotOverflowed) {
  TempDir dir;
  std::string longName(5000, 'a');
  longName += ".ply";
  RunResult r = RunMirandel({"-in", longName}, {{"OBJ_PATH", true, dir.path()}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "File " + longName + " does not exist\n");

  std::string longPath(10000, 'p');
  r = RunMirandel({"-in", "x.stl"}, {{"OBJ_PATH", true, longPath}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "File x.stl does not exist\n");
}

TEST(CommandLine, InfoIsOurOwnOptionAndNeedsAnObject) {
  TempDir dir;
  // "--info" is not "-in": without an object the dialog is asked for, and without a display
  // that is a clear failure.
  RunResult r = RunMirandel(
      {"--info"}, {{"OBJ_PATH", true, dir.path()}, Unset("DISPLAY"), Unset("WAYLAND_DISPLAY")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "No display to show the file dialog on: name the object with -in\n");
}

// An object in a folder whose name holds blanks is found by every way it can be loaded: read
// as it is, prepared as a native object, decompressed, converted.
TEST(CommandLine, ObjectsInFoldersWithBlanks) {
  TempDir top;
  std::string dir = top.file("my objects");
  mkdir(dir.c_str(), 0755);
  top.write("my objects/a.off", kOneTriangleOff);
  top.write("my objects/b.geom", "3 1 3\n0 0 0\n1 0 0\n0 1 0\n3 1 2 3\n");
  top.write("my objects/c.coor", "1,0,0,0\n2,1,0,0\n3,1,1,0\n");
  top.write("my objects/c.elem", "face 1 2 3\n");
  top.write("my objects/d.off", kTwoTrianglesOff);
  ASSERT_EQ(RunProgram({"gzip", top.file("my objects/d.off")}).status, 0);
  top.write("my objects/e.wrl", "#VRML V2.0 utf8\nShape { geometry IndexedFaceSet {\n"
                                "coord Coordinate { point [0 0 0, 1 0 0, 0 1 0] }\n"
                                "coordIndex [0 1 2 -1] } }\n");
  struct Case {
    const char *name, *info;
  } cases[] = {{"a.off", "Object: a.off\n3 vertices\n1 polygons\n"},
               {"b.geom", "Object: b.geom\n3 vertices\n1 polygons\n"},
               {"c.coor", "Object: c.coor\n3 vertices\n1 polygons\n"},
               {"d.off.gz", "Object: d.off.gz\n4 vertices\n2 polygons\n"},
               {"e.wrl", "Object: e.geom\n3 vertices\n1 polygons\n"}};
  for (const Case &c : cases) {
    RunResult r = RunMirandel({"--info", "-in", dir + "/" + c.name},
                              {{"OBJ_PATH", true, "/nonexistent"}, Unset("WRL2GEOM_COMMAND")});
    EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
    EXPECT_EQ(FirstLines(r.out, 3), c.info) << c.name;
  }
  // The native object's side files are beside it, the compressed one is compressed again, and
  // the converted world left its geometry there.
  EXPECT_EQ(ListDir(dir), (std::vector<std::string>{
                              "a.off", "b.aoff", "b.geom", "b.pnorm", "b.vnorm", "c.coor", "c.elem",
                              "d.off.gz", "e.aoff", "e.geom", "e.pnorm", "e.vnorm", "e.wrl"}));
  EXPECT_FALSE(FileExists(top.file("my")));
}

// Several folders in OBJ_PATH: a bare name is found in whichever holds it, "~/" standing for
// HOME, and the native object's side files go beside it; eleven folders are too many.
TEST(CommandLine, ObjectsAlongSeveralFolders) {
  TempDir home, other;
  mkdir(home.file("objs").c_str(), 0755);
  home.write("objs/a.off", kTwoTrianglesOff);
  home.write("objs/b.geom", "3 1 3\n0 0 0\n1 0 0\n0 1 0\n3 1 2 3\n");
  other.write("c.off", kOneTriangleOff);
  std::string path = other.path() + " ~/objs\t/nonexistent";
  Env env{{"OBJ_PATH", true, path}, {"HOME", true, home.path()}};
  for (const char *name : {"a.off", "b.geom", "c.off"}) {
    RunResult r = RunMirandel({"--info", "-in", name}, env);
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Object: " + std::string(name));
  }
  EXPECT_TRUE(FileExists(home.file("objs/b.aoff")));
  EXPECT_FALSE(FileExists(other.file("b.aoff")));
  RunResult missing = RunMirandel({"--info", "-in", "d.off"}, env);
  EXPECT_EQ(missing.err, "File d.off does not exist\n");

  std::string eleven;
  for (int i = 0; i < 11; ++i) eleven += other.path() + " ";
  RunResult many = RunMirandel({"--info", "-in", "c.off"}, {{"OBJ_PATH", true, eleven}});
  EXPECT_EQ(many.status, 1);
  EXPECT_EQ(many.err, "PLReadObj: too many (> 10) directories in OBJ_PATH\n");
  eleven.resize(eleven.size() - other.path().size() - 1);
  EXPECT_EQ(RunMirandel({"--info", "-in", "c.off"}, {{"OBJ_PATH", true, eleven}}).status, 0);
}

// What the manual, the README and --help say of OBJ_PATH holds: one folder whose name holds
// blanks is taken whole, and letter case of extensions does not matter.
TEST(CommandLine, WhatTheTextsSayOfObjPathHolds) {
  TempDir top;
  mkdir(top.file("my objects").c_str(), 0755);
  top.write("my objects/A.OFF", kOneTriangleOff);
  RunResult r =
      RunMirandel({"--info", "-in", "A.OFF"}, {{"OBJ_PATH", true, top.file("my objects")}});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char *text : {"desktop/mirandel.1", "README.md"}) {
    std::string words = ReadFile(SourcePath(text));
    EXPECT_EQ(words.find("cannot be\nlisted"), std::string::npos) << text;
    EXPECT_EQ(words.find("case-sensitive, so"), std::string::npos) << text;
    bool ten =
        words.find("Up to 10") != std::string::npos || words.find("up to 10") != std::string::npos;
    EXPECT_TRUE(ten) << text;
  }
}

// An object named with its folder is the file in that folder, with every file that belongs to
// it, whatever the current folder holds; a bare name is looked for in the current folder first.
TEST(CommandLine, AnObjectNamedWithItsFolderIsReadFromThere) {
  TempDir top, cwd;
  std::string obj = top.file("obj");
  mkdir(obj.c_str(), 0755);
  top.write("obj/a.off", kTwoTrianglesOff);
  top.write("obj/b.geom", "4 2 6\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n3 1 2 3\n3 2 4 3\n");
  top.write("obj/c.coor", "1,0,0,0\n2,1,0,0\n3,1,1,0\n4,0,1,0\n");
  top.write("obj/c.elem", "face 1 2 3\nface 1 3 4\n");
  cwd.write("a.off", kOneTriangleOff);
  cwd.write("b.geom", "3 1 3\n0 0 0\n1 0 0\n0 1 0\n3 1 2 3\n");
  cwd.write("b.aoff", "geometry indexed_poly fff b.geom\n");
  cwd.write("c.coor", "1,0,0,0\n2,1,0,0\n3,1,1,0\n");
  cwd.write("c.elem", "face 1 2 3\n");
  std::string before = FolderText(cwd.path());
  for (const char *name : {"a.off", "b.geom", "c.coor"}) {
    for (const std::string &given : {obj + "/" + name, "obj/" + std::string(name)}) {
      RunResult r =
          RunMirandel({"--info", "-in", given}, {{"OBJ_PATH", true, top.path()}}, cwd.path());
      EXPECT_EQ(r.status, 0) << given << ": " << r.err;
      EXPECT_EQ(FirstLines(r.out, 3).substr(r.out.find('\n') + 1), "4 vertices\n2 polygons\n")
          << given;
    }
  }
  EXPECT_EQ(FolderText(cwd.path()), before);
  EXPECT_TRUE(FileExists(top.file("obj/b.pnorm")));

  RunResult r = RunMirandel({"--info", "-in", "a.off"}, {{"OBJ_PATH", true, obj}}, cwd.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FirstLines(r.out, 3), "Object: a.off\n3 vertices\n1 polygons\n");
}
