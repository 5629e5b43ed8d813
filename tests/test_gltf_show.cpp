// glTF objects through the whole program: the table of formats, compressed files, the picture.
#include "gltf_builder.h"
#include "support.h"
#include "window_support.h"

#include <gtest/gtest.h>

namespace {

bool Red(const unsigned char *p) {
  return p[0] > 120 && p[1] < 60 && p[2] < 60;
}
bool DeepBlue(const unsigned char *p) {
  return p[2] > 120 && p[0] < 60 && p[1] < 60;
}

// The mean column of the pixels that match, -1 without any.
double MeanColumn(const Image &img, bool (*pred)(const unsigned char *), int *count) {
  double sum = 0;
  *count = 0;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x)
      if (pred(img.at(x, y))) sum += x, ++*count;
  return *count ? sum / *count : -1;
}

// One square of side 1 in the xy plane, its corners counter-clockwise seen from +z.
GltfBuilder Square() {
  GltfBuilder g;
  std::size_t pos = g.Floats({-0.5, -0.5, 0, 0.5, -0.5, 0, 0.5, 0.5, 0, -0.5, 0.5, 0});
  g.Mesh(pos, long(g.Indices({0, 1, 2, 0, 2, 3})), 4, 0);
  g.j["materials"] = {{{"pbrMetallicRoughness", {{"baseColorFactor", {1, 0, 0, 1}}}}},
                      {{"pbrMetallicRoughness", {{"baseColorFactor", {0, 0, 1, 1}}}}}};
  return g;
}

TEST(GltfShow, NodesPlaceTheirMeshesInTheirMaterialsColours) {
  // A parent node doubles its children: a red square moved left, a blue one moved right and
  // turned, one mesh per colour sharing the same positions.
  GltfBuilder g = Square();
  g.Mesh(0, 1, 4, 1);
  g.Node({{"scale", {2, 2, 2}}, {"children", {1, 2}}});
  g.Node({{"mesh", 0}, {"translation", {-0.75, 0, 0}}});
  g.Node({{"mesh", 1}, {"translation", {0.75, 0, 0}}, {"rotation", {0, 0, 0.3826834, 0.9238795}}});
  g.Scene({0});
  TempDir dir;
  dir.write("two.gltf", g.Text());
  RunResult r = RunMirandel({"--snapshot", dir.file("two.png"), "-in", "two.gltf"},
                            {Unset("DISPLAY"), {"OBJ_PATH", true, dir.path()}});
  ASSERT_EQ(r.status, 0) << r.err;
  Image shot = ReadPng(dir.file("two.png"));
  ASSERT_FALSE(shot.empty());
  int red = 0, blue = 0;
  double redX = MeanColumn(shot, Red, &red), blueX = MeanColumn(shot, DeepBlue, &blue);
  EXPECT_GT(red, 3000);
  EXPECT_GT(blue, 3000);
  EXPECT_LT(redX, shot.width / 2.0);
  EXPECT_GT(blueX, shot.width / 2.0);
  EXPECT_LT(redX + 100, blueX);
}

TEST(GltfShow, TextBinaryAndCompressedFilesLoadByTheirExtension) {
  TempDir dir;
  GltfBuilder g = Square();
  g.Node({{"mesh", 0}});
  g.Node({{"mesh", 0}, {"translation", {0, 0, 3}}});
  g.Scene({0, 1});
  dir.write("squares.glb", g.Glb());
  dir.write("squares.bin", g.bin);
  g.j["buffers"] = {{{"byteLength", g.bin.size()}, {"uri", "squares.bin"}}};
  dir.write("squares.gltf", g.j.dump());
  ASSERT_EQ(RunProgram({"gzip", "-k", dir.file("squares.glb")}).status, 0);
  ASSERT_EQ(RunProgram({"mv", dir.file("squares.glb.gz"), dir.file("packed.glb.gz")}).status, 0);
  Env env{{"OBJ_PATH", true, dir.path()}};
  for (const char *name : {"squares.glb", "squares.gltf", "packed.glb.gz"}) {
    RunResult r = RunMirandel({"--info", "-in", name}, env);
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    EXPECT_NE(r.out.find("\n8 vertices\n4 polygons\nbbox: -0.5 -0.5 0 0.5 0.5 3\n"),
              std::string::npos)
        << name << ": " << r.out;
  }
  EXPECT_TRUE(FileExists(dir.file("packed.glb.gz")));
  dir.write("broken.glb", g.Glb().substr(0, 30));
  RunResult r = RunMirandel({"--info", "-in", "broken.glb"}, env);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("GLTFReadObj: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("broken.glb: the binary file says it is"), std::string::npos) << r.err;
}

} // namespace

namespace {

// The thumbnailer reads a copy of the object; buffers of other names are read where it is.
TEST(GltfShow, ThumbnailsReadBuffersOfOtherNamesBesideTheObject) {
  TempDir dir;
  GltfBuilder g = Square();
  g.Node({{"mesh", 0}});
  g.Scene({0});
  ASSERT_EQ(RunProgram({"mkdir", dir.file("data")}).status, 0);
  dir.write("data/square buffer.bin", g.bin);
  g.j["buffers"] = {{{"byteLength", g.bin.size()}, {"uri", "data/square%20buffer.bin"}}};
  dir.write("square.gltf", g.j.dump());
  RunResult r =
      RunMirandel({"--size", "64", "--thumbnail", dir.file("square.gltf"), dir.file("square.png")},
                  {Unset("DISPLAY"), Unset("OBJ_PATH")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadPng(dir.file("square.png")).width, 64);
}

} // namespace
