#include "gltf_builder.h"
#include "support.h"
#include "viewer/readers/readGLTFObj.h"

#include <gtest/gtest.h>
#include <meshoptimizer.h>

#include <cmath>
#include <functional>
#include <sys/stat.h>

using nlohmann::json;

namespace {

std::unique_ptr<GLTFScene> Read(const std::string &bytes, const std::string &dir = "") {
  return GLTFReadBuffer(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                        "t.glb", dir);
}

std::string Refusal(const std::string &bytes, const std::string &dir = "") {
  int status = 0;
  std::string m = FatalMessage([&] { Read(bytes, dir); }, &status);
  if (!m.empty()) {
    EXPECT_EQ(status, 1) << m;
  }
  return m;
}

// A triangle of three vertices drawn by node 0 of scene 0.
GltfBuilder Triangle() {
  GltfBuilder g;
  std::size_t pos = g.Floats({0, 0, 0, 1, 0, 0, 0, 1, 0});
  g.Mesh(pos, g.Indices({0, 1, 2}));
  g.Node({{"mesh", 0}});
  g.Scene({0});
  return g;
}

std::string U32(uint32_t v) {
  return std::string(reinterpret_cast<const char *>(&v), 4);
}

void ExpectAt(const Coord &c, float x, float y, float z, const std::string &what) {
  EXPECT_NEAR(c.x, x, 1e-5) << what;
  EXPECT_NEAR(c.y, y, 1e-5) << what;
  EXPECT_NEAR(c.z, z, 1e-5) << what;
}

TEST(GltfContainer, LyingOrBrokenFilesAreRefusedWithAMessage) {
  const std::string glb = Triangle().Glb();
  std::string versionOne = glb, longer = glb, chunk = glb, binFirst = glb;
  versionOne.replace(4, 4, U32(1));
  longer.replace(8, 4, U32(uint32_t(glb.size() + 1)));
  chunk.replace(12, 4, U32(uint32_t(glb.size())));
  binFirst.replace(16, 4, U32(0x004E4942));
  GltfBuilder shortBin = Triangle();
  shortBin.j["buffers"] = {{{"byteLength", 1000}}};
  GltfBuilder http = Triangle(), notBase64 = Triangle(), required = Triangle();
  std::string httpText = http.Text(), b64Text = notBase64.Text();
  httpText.replace(httpText.find("data:"), 5, "http:");
  b64Text.replace(b64Text.find("base64,") + 7, 1, "*");
  required.j["extensionsRequired"] = {"KHR_materials_unlit", "EXT_mesh_gpu_instancing"};

  const struct {
    std::string bytes;
    const char *message;
  } cases[] = {
      {"", "t.glb: the file is empty\n"},
      {glb.substr(0, 9), "is 9 bytes long, too short for its header"},
      {versionOne, "of version 1, not 2"},
      {longer, "says it is"},
      {chunk, "the chunk at byte 12 says it holds"},
      {"glTF" + U32(2) + U32(20) + U32(8) + U32(0x4E4F534A),
       "chunk at byte 12 says it holds 8 bytes, but 0 follow"},
      {binFirst, "does not begin with a JSON chunk"},
      {glb.substr(0, 8) + U32(12) + glb.substr(12), "holds no JSON chunk"},
      {shortBin.Glb(), "buffers[0] is 1000 bytes long, but the BIN chunk holds 44"},
      {"{\"asset\": ", "the JSON does not parse: "},
      {"[1, 2]", "the JSON is not an object"},
      {"{\"meshes\": []}", "no asset.version"},
      {"{\"asset\": {\"version\": \"1.0\"}}", "the file is glTF 1.0"},
      {httpText, "buffers[0]: URIs of the scheme \"http\" are not read"},
      {b64Text, "buffers[0]: the data URI is not base64"},
      {required.Text(), "requires EXT_mesh_gpu_instancing, which this reader"},
  };
  for (const auto &c : cases) {
    std::string m = Refusal(c.bytes);
    EXPECT_NE(m.find(c.message), std::string::npos) << m;
    EXPECT_EQ(m.rfind("GLTFReadObj: t.glb: ", 0), 0u) << m;
  }
}

TEST(GltfAccessors, AnythingOutsideItsBytesIsRefused) {
  const struct {
    std::function<void(json &)> lie;
    const char *message;
  } cases[] = {
      {[](json &j) { j["accessors"][0]["count"] = 4; }, "accessors[0]: 4 elements of 12 bytes"},
      {[](json &j) { j["accessors"][0]["count"] = 1ull << 62; },
       "count is 4611686018427387904, beyond"},
      {[](json &j) { j["accessors"][0]["count"] = 1ull << 60; }, "do not fit"},
      {[](json &j) { j["accessors"][0]["byteOffset"] = 4; }, "do not fit"},
      {[](json &j) { j["bufferViews"][0]["byteOffset"] = 40; }, "reaches past the end of buffer 0"},
      {[](json &j) { j["bufferViews"][0]["byteLength"] = 1ull << 61; }, "reaches past the end"},
      {[](json &j) { j["accessors"][0]["bufferView"] = 7; }, "refers to number 7, but there are 2"},
      {[](json &j) {
         j["accessors"][0].erase("bufferView"), j["accessors"][0]["count"] = 1ull << 40;
       },
       "has no buffer view and a count of"},
      {[](json &j) { j["accessors"][0]["componentType"] = 5124; }, "is not a glTF type"},
      {[](json &j) { j["accessors"][0]["type"] = "VEC7"; }, "is not a glTF element type"},
      {[](json &j) { j["accessors"][1]["componentType"] = 5122; },
       "holds indices, but not as unsigned"},
      {[](json &j) { j["meshes"][0]["primitives"][0]["mode"] = 9; }, "mode 9 is not a glTF mode"},
      {[](json &j) { j["meshes"][0]["primitives"] = "all"; },
       "meshes[0].primitives is not an array"},
      {[](json &j) { j["nodes"][0]["children"] = {0}; }, "node 0 is its own ancestor (a cycle)"},
      {[](json &j) {
         j["nodes"][0]["children"] = {1, 1}, j["nodes"].push_back(json::object());
       },
       "node 1 has more than one parent"},
      {[](json &j) { j["nodes"][0]["children"] = {5}; }, "children holds a reference to no node"},
      {[](json &j) {
         j["nodes"][0]["matrix"] = {1, 2};
       },
       "matrix is not an array of 16 numbers"},
      {[](json &j) { j["scene"] = 1; }, "the default scene is not one of the file's 1 scenes"},
      {[](json &j) {
         j["accessors"][0]["sparse"] = {{"count", 4},
                                        {"indices", {{"bufferView", 1}, {"componentType", 5123}}},
                                        {"values", {{"bufferView", 0}}}};
       },
       "sparse.count is 4, beyond 3"},
      {[](json &j) {
         j["accessors"][0]["sparse"] = {{"count", 1},
                                        {"indices", {{"bufferView", 1}, {"componentType", 5125}}},
                                        {"values", {{"bufferView", 0}}}};
       },
       "sparse: index 65536 is beyond its 3 elements"},
  };
  for (const auto &c : cases) {
    GltfBuilder g = Triangle();
    g.j["accessors"][1]["count"] = 3;
    c.lie(g.j);
    std::string m = Refusal(g.Glb());
    EXPECT_NE(m.find(c.message), std::string::npos) << c.message << " | " << m;
  }
  GltfBuilder g = Triangle();
  g.bin.replace(36, 2, std::string("\x03\x00", 2));
  EXPECT_NE(Refusal(g.Glb()).find(
                "meshes[0].primitives[0]: index 0 is 3, but the primitive has 3 vertices"),
            std::string::npos);
}

TEST(GltfScene, TransformsComposeDownTheTreeAndEveryInstanceIsDrawn) {
  GltfBuilder g = Triangle();
  g.j["nodes"] = json::array();
  const double s = std::sqrt(0.5);
  g.Node({{"translation", {10, 0, 0}}, {"children", {1, 2, 3}}});
  g.Node({{"mesh", 0}, {"scale", {2, 2, 2}}});
  g.Node({{"mesh", 0}, {"matrix", {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 5, 0, 1}}});
  g.Node({{"rotation", {0, 0, s, s}}, {"children", {4}}}); // 90 degrees about z
  g.Node({{"mesh", 0}, {"scale", {-1, 1, 1}}});            // mirrored: the winding turns
  std::unique_ptr<GLTFScene> scene = Read(g.Glb());
  ASSERT_EQ(scene->vertices.size(), 9u);
  ASSERT_EQ(scene->triangles, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 8, 7}));
  ExpectAt(scene->vertices[1], 12, 0, 0, "scaled");
  ExpectAt(scene->vertices[2], 10, 2, 0, "scaled");
  ExpectAt(scene->vertices[4], 11, 5, 0, "matrix");
  // (1,0,0) mirrored to (-1,0,0), then turned to (0,-1,0), then moved.
  ExpectAt(scene->vertices[7], 10, -1, 0, "mirrored and turned");
  ExpectAt(scene->vertices[8], 9, 0, 0, "mirrored and turned");
  EXPECT_TRUE(scene->vertex_normals.empty());
  EXPECT_TRUE(scene->vertex_colors.empty());
  EXPECT_TRUE(scene->triangle_colors.empty());
}

TEST(GltfScene, StripsFansIndexTypesAndUnindexedPrimitivesBecomeTriangles) {
  const struct {
    int mode, component;
    std::vector<uint32_t> triangles;
  } cases[] = {
      {4, 5121, {0, 1, 2, 3, 4, 0}},
      {4, 5125, {0, 1, 2, 3, 4, 0}},
      {5, 5123, {0, 1, 2, 1, 3, 2, 2, 3, 4, 3, 0, 4}},
      {6, 5123, {1, 2, 0, 2, 3, 0, 3, 4, 0, 4, 0, 0}},
      {5, 0, {0, 1, 2, 1, 3, 2, 2, 3, 4, 3, 5, 4}},
      {4, 0, {0, 1, 2, 3, 4, 5}},
  };
  for (const auto &c : cases) {
    GltfBuilder g;
    std::vector<float> p(18, 0.5f);
    std::size_t pos = g.Floats(p);
    long long idx = -1;
    const std::vector<uint32_t> corners{0, 1, 2, 3, 4, 0};
    if (c.component == 5121)
      idx = long(g.Accessor(g.View(std::string("\0\1\2\3\4\0", 6)), 5121, 6, "SCALAR"));
    if (c.component == 5123) idx = long(g.Indices({0, 1, 2, 3, 4, 0}));
    if (c.component == 5125)
      idx = long(g.Accessor(g.View(GltfBuilder::Bytes(corners)), 5125, 6, "SCALAR"));
    g.Mesh(pos, idx, c.mode);
    g.Node({{"mesh", 0}});
    g.Scene({0});
    EXPECT_EQ(Read(g.Glb())->triangles, c.triangles) << c.mode << " " << c.component;
  }
}

// Too few indices for one triangle leave the primitive with none, and its empty list must
// take no copy (a fuzzed file once copied zero bytes into a null list).
TEST(GltfScene, APrimitiveOfTooFewIndicesGivesNoTriangle) {
  GltfBuilder g;
  std::size_t pos = g.Floats({0, 0, 0, 1, 0, 0, 0, 1, 0});
  g.Mesh(pos, g.Indices({0, 1}));
  g.Node({{"mesh", 0}});
  g.Scene({0});
  int status = 0;
  std::unique_ptr<GLTFScene> scene;
  std::string m = FatalMessage([&] { scene = Read(g.Glb()); }, &status);
  if (m.empty()) {
    EXPECT_TRUE(scene->triangles.empty());
  } else {
    EXPECT_EQ(status, 1) << m;
  }
}

TEST(GltfScene, QuantizedInterleavedAndSparseAttributesAreRead) {
  // One view of 12-byte vertices: a normalized short position, then a normalized byte normal.
  GltfBuilder g;
  std::string v;
  auto s16 = [&v](int16_t x) { v.append(reinterpret_cast<const char *>(&x), 2); };
  const int16_t pts[3][3] = {{0, 0, 0}, {32767, 0, 0}, {0, -32767, 16384}};
  for (auto &p : pts) {
    for (int16_t c : p) s16(c);
    s16(0);
    v += std::string("\x00\x00\x7f\x00", 4);
  }
  std::size_t view = g.View(v, 12);
  std::size_t pos = g.Accessor(view, 5122, 3, "VEC3", true);
  std::size_t nrm = g.Accessor(view, 5120, 3, "VEC3", true, 8);
  // The sparse part moves vertex 2 to (0, 0, 1).
  std::size_t sparseIdx = g.View(GltfBuilder::Bytes(std::vector<uint16_t>{2}));
  std::size_t sparseVal = g.View(GltfBuilder::Bytes(std::vector<int16_t>{0, 0, 32767}));
  g.j["accessors"][pos]["sparse"] = {
      {"count", 1},
      {"indices", {{"bufferView", sparseIdx}, {"componentType", 5123}}},
      {"values", {{"bufferView", sparseVal}}}};
  g.Mesh(pos);
  g.j["meshes"][0]["primitives"][0]["attributes"]["NORMAL"] = nrm;
  g.Node({{"mesh", 0}, {"scale", {1, 1, 2}}});
  g.Scene({0});
  std::unique_ptr<GLTFScene> scene = Read(g.Glb());
  ASSERT_EQ(scene->vertices.size(), 3u);
  ExpectAt(scene->vertices[1], 1, 0, 0, "normalized short");
  ExpectAt(scene->vertices[2], 0, 0, 2, "sparse, scaled");
  ASSERT_EQ(scene->vertex_normals.size(), 3u);
  EXPECT_NEAR(scene->vertex_normals[0].z, 1, 1e-6);
}

TEST(GltfColours, VertexColoursElseMaterialColoursAsTheScreenShowsThem) {
  GltfBuilder g = Triangle();
  g.j["materials"] = {{{"pbrMetallicRoughness", {{"baseColorFactor", {1, 0.5, 0, 1}}}}}};
  g.j["meshes"][0]["primitives"][0]["material"] = 0;
  g.Node({{"mesh", 1}});
  g.Mesh(0, 1); // mesh 1: the same triangle without a material
  g.j["scenes"][0]["nodes"] = {0, 1};
  std::unique_ptr<GLTFScene> scene = Read(g.Glb());
  ASSERT_EQ(scene->triangle_colors.size(), 2u);
  EXPECT_FLOAT_EQ(scene->triangle_colors[0].r, 1);
  EXPECT_NEAR(scene->triangle_colors[0].g, 0.7354, 1e-3); // linear 0.5 on the screen
  EXPECT_FLOAT_EQ(scene->triangle_colors[0].b, 0);
  EXPECT_FLOAT_EQ(scene->triangle_colors[1].g, 1); // no material: white
  EXPECT_TRUE(scene->vertex_colors.empty());

  std::size_t col =
      g.Accessor(g.View(std::string("\xff\x00\x00\xff\x00\xff\x00\xff\x00\x00\x00\xff", 12)), 5121,
                 3, "VEC4", true);
  g.j["meshes"][0]["primitives"][0]["attributes"]["COLOR_0"] = col;
  scene = Read(g.Glb());
  ASSERT_EQ(scene->vertex_colors.size(), 6u);
  EXPECT_TRUE(scene->triangle_colors.empty());
  EXPECT_FLOAT_EQ(scene->vertex_colors[0].r, 1);        // red times the factor
  EXPECT_NEAR(scene->vertex_colors[1].g, 0.7354, 1e-3); // green times 0.5
  EXPECT_FLOAT_EQ(scene->vertex_colors[2].b, 0);        // blue times 0
  EXPECT_FLOAT_EQ(scene->vertex_colors[4].r, 1);        // the other mesh: white
}

TEST(GltfFiles, ExternalBuffersAreReadRelativeToTheFileWithTheirNamesDecoded) {
  TempDir dir;
  GltfBuilder g = Triangle();
  ASSERT_EQ(mkdir(dir.file("sub dir").c_str(), 0755), 0);
  dir.write("sub dir/tri \xe2\x9d\xa4.bin", g.bin);
  g.j["buffers"] = {{{"byteLength", g.bin.size()}, {"uri", "sub%20dir/tri%20%E2%9D%A4.bin"}}};
  EXPECT_EQ(Read(g.j.dump(), dir.path() + "/")->vertices.size(), 3u);

  g.j["buffers"][0]["byteLength"] = 100;
  EXPECT_NE(Refusal(g.j.dump(), dir.path() + "/").find("holds 42 bytes, but the buffer is 100"),
            std::string::npos);
  g.j["buffers"][0]["uri"] = "gone.bin";
  EXPECT_NE(Refusal(g.j.dump(), dir.path() + "/")
                .find("buffers[0]: cannot read " + dir.path() + "/gone.bin"),
            std::string::npos);
  g.j["buffers"][0]["uri"] = "/etc/hostname";
  EXPECT_NE(Refusal(g.j.dump(), dir.path() + "/").find("is not relative to the file"),
            std::string::npos);
  g.j["buffers"][0]["uri"] = "file:///etc/hostname";
  EXPECT_NE(Refusal(g.j.dump(), dir.path() + "/").find("scheme \"file\""), std::string::npos);
  // The text form with its buffer inline.
  EXPECT_EQ(Read(Triangle().Text())->triangles.size(), 3u);
}

TEST(GltfFiles, PointsAndLinesAndTexturesAreReadPastWithOneWarningEach) {
  GltfBuilder g = Triangle();
  json prim = g.j["meshes"][0]["primitives"][0];
  for (int mode : {0, 1, 3}) {
    prim["mode"] = mode;
    g.j["meshes"][0]["primitives"].push_back(prim);
  }
  g.j["textures"] = {{{"source", 0}}};
  std::unique_ptr<GLTFScene> scene = Read(g.Glb());
  EXPECT_EQ(scene->triangles.size(), 3u);
  std::string added = RecentWarnings();
  EXPECT_NE(added.find("GLTFReadObj: t.glb: 3 point and line primitives are not drawn\n"),
            std::string::npos)
      << added;
  EXPECT_NE(added.find("GLTFReadObj: t.glb: textures are not drawn\n"), std::string::npos);
}

TEST(GltfMeshopt, CompressedViewsDecodeAndLyingCountsAreRefused) {
  const std::vector<float> pts{0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
  const std::vector<uint16_t> tris{0, 1, 2, 2, 1, 3};
  std::vector<unsigned char> vb(meshopt_encodeVertexBufferBound(4, 12));
  vb.resize(meshopt_encodeVertexBuffer(vb.data(), vb.size(), pts.data(), 4, 12));
  std::vector<unsigned char> ib(meshopt_encodeIndexBufferBound(6, 4));
  ib.resize(meshopt_encodeIndexBuffer(ib.data(), ib.size(), tris.data(), 6));

  GltfBuilder g;
  std::size_t vView = g.View(GltfBuilder::Bytes(vb)), iView = g.View(GltfBuilder::Bytes(ib));
  auto compressed = [&](std::size_t from, std::size_t length, std::size_t stride, std::size_t count,
                        const char *mode) {
    json ext = g.j["bufferViews"][from];
    ext.erase("byteStride");
    ext["byteStride"] = stride;
    ext["count"] = count;
    ext["mode"] = mode;
    g.j["bufferViews"].push_back({{"buffer", 1},
                                  {"byteLength", length},
                                  {"extensions", {{"EXT_meshopt_compression", ext}}}});
    return g.j["bufferViews"].size() - 1;
  };
  std::size_t pv = compressed(vView, 48, 12, 4, "ATTRIBUTES");
  std::size_t iv = compressed(iView, 12, 2, 6, "TRIANGLES");
  // One statement each: the positions must be accessor 0 whichever way a compiler orders the
  // arguments of a call.
  const std::size_t positions = g.Accessor(pv, 5126, 4, "VEC3");
  const long indices = long(g.Accessor(iv, 5123, 6, "SCALAR"));
  g.Mesh(positions, indices);
  g.Node({{"mesh", 0}});
  g.Scene({0});
  g.j["extensionsRequired"] = {"EXT_meshopt_compression"};
  // The fallback buffer holds no bytes of its own.
  std::string glb = g.Glb();
  json doc = g.j;
  doc["buffers"] = {
      {{"byteLength", g.bin.size()}, {"uri", "data:;base64," + GltfBuilder::Base64(g.bin)}},
      {{"byteLength", 60}, {"extensions", {{"EXT_meshopt_compression", {{"fallback", true}}}}}}};
  std::unique_ptr<GLTFScene> scene = Read(doc.dump());
  ASSERT_EQ(scene->vertices.size(), 4u);
  ExpectAt(scene->vertices[3], 1, 1, 0, "decoded");
  EXPECT_EQ(scene->triangles, (std::vector<uint32_t>{0, 1, 2, 2, 1, 3}));

  doc["bufferViews"][pv]["extensions"]["EXT_meshopt_compression"]["count"] = 1u << 30;
  doc["bufferViews"][pv]["byteLength"] = 12u << 30;
  EXPECT_NE(Refusal(doc.dump()).find("claims 1073741824 elements of 12 bytes"), std::string::npos);
  doc["accessors"][0]["bufferView"] = vView + 1; // the uncompressed view of the fallback buffer
  doc["bufferViews"][vView + 1] = {{"buffer", 1}, {"byteLength", 48}};
  EXPECT_NE(Refusal(doc.dump()).find("lies in buffer 1, which holds no data"), std::string::npos);
}

// Counts as the files declare them: POSITION counts summed over every drawn primitive, triangles
// after the primitive's mode.
TEST(GltfRealWorld, EveryFileLoadsWithItsCountsAndEveryBrokenOneIsRefused) {
  REQUIRE_REALWORLD();
  const struct {
    const char *file;
    std::size_t vertices, triangles;
  } files[] = {
      {"2CylinderEngine-Draco/2CylinderEngine.gltf", 84716, 110336},
      {"2CylinderEngine.glb", 84657, 121496},
      {"AnimatedMorphCube/AnimatedMorphCube.gltf", 24, 12},
      {"BoxDraco/BoxDraco.gltf", 24, 12},
      {"BoxInterleaved.glb", 24, 12},
      {"BoxMeshopt.glb", 24, 12},
      {"BoxTextured-Embedded/BoxTextured.gltf", 24, 12},
      {"Cameras/Cameras.gltf", 4, 2},
      {"CesiumMilkTruck.glb", 3564, 3624},
      {"cubevc.glb", 54, 48},
      {"DenseSphere.glb", 15362, 30720},
      {"empty_nodes.glb", 0, 0},
      {"EncodingTest/Unicode \xe2\x9d\xa4\xe2\x99\xbb Test.gltf", 4, 2},
      {"many-cubes/many-cubes.gltf", 12024, 6012},
      {"Mesh_PrimitiveMode/Mesh_PrimitiveMode_05.gltf", 4, 2},
      {"Mesh_PrimitiveMode/Mesh_PrimitiveMode_11.gltf", 4, 2},
      {"Mesh_PrimitiveMode/Mesh_PrimitiveMode_14.gltf", 4, 2},
      {"mode5.gltf", 104696, 2786},
      {"nested.glb", 72, 36},
      {"no_indices_3storybuilding.glb", 216, 72},
      {"rgb_cube_with_primitives.gltf", 24, 12},
      {"simple_skin.gltf", 10, 8},
      {"singleBlendshapeCube_sparse.glb", 24, 12},
      {"TestScene/TestScene.gltf", 836, 1096},
      {"TextureTransformTest/TextureTransformTest.gltf", 48, 24},
  };
  for (const auto &f : files) {
    std::string path = RealWorld(std::string("gltf/") + f.file);
    std::string bytes = ReadFile(path);
    ASSERT_FALSE(bytes.empty()) << path;
    std::unique_ptr<GLTFScene> s = Read(bytes, path.substr(0, path.rfind('/') + 1));
    EXPECT_EQ(s->vertices.size(), f.vertices) << f.file;
    EXPECT_EQ(s->triangles.size(), 3 * f.triangles) << f.file;
  }
  const struct {
    const char *file, *message;
  } broken[] = {
      {"BoxWithInfinites.glb", "vertex 0 is not at a finite position"},
      {"IndexOutOfRange/IndexOutOfRange.gltf", "is 255, but the primitive has 24 vertices"},
      {"invalid_object.gltf", "the JSON is not an object"},
      {"MissingBin/BoxTextured.gltf", "buffers[0]: cannot read "},
      {"NoScene.gltf", "the default scene is not one of the file's 0 scenes"},
      {"RecursiveNodes.gltf", "a cycle"},
      {"truncated_chunk_header.glb", "the chunk header at byte 12 is cut short"},
      {"wrongTypes/badArray.gltf", "meshes[0].primitives is not an array"},
  };
  for (const auto &b : broken) {
    std::string path = RealWorld(std::string("gltf/invalid/") + b.file);
    std::string m = Refusal(ReadFile(path), path.substr(0, path.rfind('/') + 1));
    EXPECT_NE(m.find(b.message), std::string::npos) << b.file << ": " << m;
  }
}

} // namespace

namespace {

// The cube of the fuzz seeds, compressed by the Draco library.
TEST(GltfDraco, CompressedMeshesDecodeAndLyingHeadersAreRefused) {
  std::string glb = ReadFile(SourcePath("fuzz/corpus/gltf/draco_cube.glb"));
  std::unique_ptr<GLTFScene> scene = Read(glb);
  EXPECT_EQ(scene->vertices.size(), 8u);
  EXPECT_EQ(scene->triangles.size(), 36u);
  std::size_t at = glb.find("DRACO");
  ASSERT_NE(at, std::string::npos);
  // The header's vertex and face counts, 8 and 12, become a claim of 16383 vertices.
  std::string lying = glb;
  ASSERT_EQ(lying.substr(at + 12, 2), "\x08\x0c");
  lying.replace(at + 12, 2, "\xff\x7f");
  std::string m = Refusal(lying);
  EXPECT_NE(m.find("the compressed mesh claims"), std::string::npos) << m;
  std::string cut = glb;
  cut.replace(at + 20, 30, std::string(30, '\0'));
  EXPECT_NE(Refusal(cut).find("the compressed mesh does not decode"), std::string::npos);
}

} // namespace
