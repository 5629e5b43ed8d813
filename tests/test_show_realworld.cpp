// Objects written by other programs are drawn: every reader's real files show something where an
// empty object shows only the ground.
#include "support.h"
#include "window_support.h"

#include <gtest/gtest.h>
#include <regex>

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
        "off/gv-office.off", "off/cgal-cactus.off", "3mf/pyramids.3mf",
        "3mf/pyramid_vertexcolor.3mf", "obj/rabbit/rabbit.obj", "obj/motorBike.obj",
        "gltf/CesiumMilkTruck.glb", "gltf/2CylinderEngine-Draco/2CylinderEngine.gltf"}) {
    std::string png = dir.file("shot.png");
    r = RunMirandel({"--snapshot", png, "-in", RealWorld(file)}, env);
    ASSERT_EQ(r.status, 0) << file << ": " << r.err;
    Image shot = ReadPng(png);
    ASSERT_EQ(shot.width, empty.width) << file;
    EXPECT_GT(DiffPixels(shot, empty), 1000) << file;
  }
}

// A user's clone has no folder of objects written elsewhere: every test that reads it must skip
// there (REQUIRE_REALWORLD) or fall back to what it has (RealWorldMissing), or the README's test
// command fails on a fresh clone while passing here.
TEST(ShowRealWorld, EveryTestThatReadsTheFolderCanDoWithoutIt) {
  std::regex start(R"(\nTEST(_F)?\((\w+), (\w+)\))");
  int readers = 0;
  for (const std::string &name : ListDir(SourcePath("tests"))) {
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".cpp") != 0) continue;
    const std::string text = ReadFile(SourcePath("tests/" + name));
    std::vector<std::pair<std::size_t, std::string>> tests;
    for (std::sregex_iterator it(text.begin(), text.end(), start), end; it != end; ++it)
      tests.emplace_back(it->position(), (*it)[2].str() + "." + (*it)[3].str());
    for (std::size_t i = 0; i < tests.size(); ++i) {
      std::size_t to = i + 1 < tests.size() ? tests[i + 1].first : text.size();
      std::string body = text.substr(tests[i].first, to - tests[i].first);
      if (body.find("RealWorld(") == std::string::npos) continue;
      ++readers;
      EXPECT_TRUE(body.find("REQUIRE_REALWORLD()") != std::string::npos ||
                  body.find("RealWorldMissing()") != std::string::npos)
          << name << ": " << tests[i].second;
    }
  }
  EXPECT_GT(readers, 10);
}
