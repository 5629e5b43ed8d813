// The command line, run through the real program.
#include "support.h"

#include <gtest/gtest.h>

namespace {

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

TEST(CommandLine, MissingAndUnsupportedObjects) {
  TempDir dir;
  dir.write("hand.GEOM", "x");
  dir.write("model.obj", "x");
  Env env{{"OBJ_PATH", true, dir.path()}};

  RunResult r = RunMirandel({"-in", "nothere.off"}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "File nothere.off does not exist\n");

  // The extension test is case-sensitive.
  r = RunMirandel({"-in", "hand.GEOM"}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "File hand.GEOM extension is not supported\n");

  // ".obj" is recognised but has no reader.
  r = RunMirandel({"-in", "model.obj"}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "File model.obj extension is not supported\n");

  // A directory of the object's name is not an object.
  r = RunMirandel({"-in", ""}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "File  does not exist\n");
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
