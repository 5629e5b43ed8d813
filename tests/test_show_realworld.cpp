// Objects written by other programs are drawn: every reader's real files show something where an
// empty object shows only the ground.
#include "support.h"
#include "window_support.h"

#include <gtest/gtest.h>

TEST(ShowRealWorld, EveryFormatDrawsItsObject) {
  REQUIRE_REALWORLD();
  XServer x;
  if (!x.ok()) GTEST_SKIP() << "no Xvfb";
  TempDir dir;
  dir.write("empty.off", "OFF\n0 0 0\n");
  Env env{x.env(), {"OBJ_PATH", true, dir.path()}, {"ASAN_OPTIONS", true, "detect_leaks=0"}};
  RunResult r = RunMirandel({"--snapshot", dir.file("empty.png"), "-in", "empty.off"}, env);
  ASSERT_EQ(r.status, 0) << r.err;
  Image empty = ReadPng(dir.file("empty.png"));
  ASSERT_FALSE(empty.empty());

  for (const char *file :
       {"byu/vtk-cow.byu", "3ds/cge-p47d.3ds", "3ds/assimp-fels.3ds", "ply/vtk-horse.ply",
        "ply/trimesh-fuze.ply", "stl/assimp-Spider_binary.stl", "stl/trimesh-multibody.stl",
        "off/gv-office.off", "off/cgal-cactus.off"}) {
    std::string png = dir.file("shot.png");
    r = RunMirandel({"--snapshot", png, "-in", RealWorld(file)}, env);
    ASSERT_EQ(r.status, 0) << file << ": " << r.err;
    Image shot = ReadPng(png);
    ASSERT_EQ(shot.width, empty.width) << file;
    EXPECT_GT(DiffPixels(shot, empty), 1000) << file;
  }
}
