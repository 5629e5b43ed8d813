#include "viewer/readers/read3DSObj.h"

#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/shell/shell.h"
#include "support.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

// Little-endian pieces of a 3DS file.
using Bytes = std::string;
const auto U16 = [](uint16_t v) { return Bytes{char(v & 0xff), char(v >> 8)}; };
const auto U32 = [](uint32_t v) { return U16(uint16_t(v & 0xffff)) + U16(uint16_t(v >> 16)); };
const auto F32 = [](float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return U32(u);
};
const auto Name = [](const Bytes &s) { return s + Bytes(1, '\0'); };
const auto Chunk = [](uint16_t id, const Bytes &body) {
  return U16(id) + U32(uint32_t(6 + body.size())) + body;
};

Bytes Vertices(const std::vector<H3dsVert> &pts) {
  Bytes s = U16(uint16_t(pts.size()));
  for (const H3dsVert &p : pts) s += F32(p.x) + F32(p.y) + F32(p.z);
  return Chunk(0x4110, s);
}
Bytes Faces(const std::vector<H3dsFace> &faces, const Bytes &sub = "") {
  Bytes s = U16(uint16_t(faces.size()));
  for (const H3dsFace &f : faces) s += U16(f.a) + U16(f.b) + U16(f.c) + U16(f.flags);
  return Chunk(0x4120, s + sub);
}
const auto FaceMat = [](const Bytes &name) { return Chunk(0x4130, Name(name) + U16(1) + U16(0)); };
const auto Mesh = [](const Bytes &body) { return Chunk(0x4100, body); };
const auto ObjBlock = [](const Bytes &name, const Bytes &body) {
  return Chunk(0x4000, Name(name) + body);
};
const auto RgbByte = [](char r, char g, char b) { return Chunk(0x0011, Bytes{r, g, b}); };
const auto RgbFloat = [](float r, float g, float b) {
  return Chunk(0x0010, F32(r) + F32(g) + F32(b));
};
const auto Material = [](const Bytes &name, const Bytes &colours) {
  return Chunk(0xAFFF, Chunk(0xA000, Name(name)) + colours);
};
const auto Diffuse = [](const Bytes &colours) { return Chunk(0xA020, colours); };
const auto Main = [](const Bytes &body) { return Chunk(0x4D4D, Chunk(0x3D3D, body)); };
const auto Tri = [](uint16_t a, uint16_t b, uint16_t c) { return Faces({{a, b, c, 7}}); };

H3dsScene WalkBytes(const std::string &bytes) {
  H3dsScene s;
  Walk3DSChunks(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), s, "t.3ds");
  return s;
}

Part Convert(const std::string &bytes) {
  Part p;
  FormatObj3DS(WalkBytes(bytes), p, "t.3ds");
  return p;
}

std::string FatalMessage(const std::string &bytes) {
  try {
    Convert(bytes);
  } catch (const FatalError &e) {
    EXPECT_EQ(e.status, 1);
    return e.what();
  }
  return "";
}

} // namespace

TEST(Chunks3DS, MeshesKeepTheirBlockNameAndLittleEndianData) {
  // Two meshes in one block; a matrix; mappings; an unknown chunk whose sub-chunks look like a
  // mesh; a light whose unknown sub-chunk it does not read; the mesh's last face material wins.
  std::string unknown = Chunk(0x1234, Mesh(Vertices({{9, 9, 9}})));
  std::string light = Chunk(0x4600, F32(1) + F32(2) + F32(3) + Chunk(0x4650, "xxxxxxxx"));
  std::string matrix;
  for (int i = 0; i < 12; ++i) matrix += F32(float(i));
  std::string maps = Chunk(0x4140, U16(2) + F32(0.25f) + F32(0.5f) + F32(0.75f) + F32(1));
  std::string first = Mesh(Vertices({{1.5f, -2, 0x1p-3f}, {0, 0, 0}, {1, 1, 1}}) +
                           Faces({{0x0102, 1, 2, 0x0506}}, FaceMat("a") + FaceMat("b")) + maps +
                           Chunk(0x4160, matrix));
  std::string second = Mesh(Vertices({{4, 5, 6}}));
  H3dsScene s = WalkBytes(Main(unknown + ObjBlock("Block", first + light + second)));

  ASSERT_EQ(s.mesh_count, 2);
  ASSERT_EQ(s.meshes.size(), 2u);
  EXPECT_EQ(s.material_count, 0);
  const H3dsMesh &m = s.meshes[0];
  EXPECT_EQ(*m.name, "Block");
  EXPECT_EQ(*s.meshes[1].name, "Block");
  ASSERT_EQ(m.vertex_count, 3u);
  EXPECT_EQ(m.vertices[0].x, 1.5f);
  EXPECT_EQ(m.vertices[0].y, -2.0f);
  EXPECT_EQ(m.vertices[0].z, 0.125f);
  ASSERT_EQ(m.face_count, 1u);
  EXPECT_EQ(m.faces[0].a, 0x0102);
  EXPECT_EQ(m.faces[0].flags, 0x0506);
  EXPECT_EQ(m.material, "b");
  ASSERT_EQ(m.map_count, 2u);
  EXPECT_EQ(m.mappings[1].u, 0.75f);
  EXPECT_EQ(m.has_matrix, 1);
  EXPECT_EQ(m.matrix[11], 11.0f);
  ASSERT_EQ(s.meshes[1].vertex_count, 1u);
  EXPECT_EQ(s.meshes[1].vertices[0].z, 6.0f);
}

TEST(Chunks3DS, ColourTargetsTakeTheFirstColourAfterThem) {
  std::string mat =
      Material("m", Chunk(0xA010, RgbFloat(0.1f, 0.2f, 0.3f)) +
                        Diffuse(RgbByte(char(255), char(128), 0) + RgbFloat(1, 1, 1)) +
                        Chunk(0xA030, RgbByte(64, 0, 0)));
  // A colour outside any material (the background) and a keyframer with key tracks go nowhere.
  std::string bkg = Chunk(0x1200, RgbFloat(5, 5, 5));
  std::string key = U16(0) + U32(0) + U16(0) + U32(0) + F32(0);
  std::string track = U16(0) + U32(0) + U32(0) + U16(2) + U16(0) + U32(0) + U16(0x0003) + F32(1) +
                      F32(2) + F32(0) + F32(0) + F32(0) + U32(5) + U16(0) + F32(0) + F32(0) +
                      F32(0);
  std::string keyframer = Chunk(0xB000, Chunk(0xB002, Chunk(0xB020, track) + Chunk(0xB021, key)));
  // An ambient colour in a kind of colour chunk not read here must not take the diffuse colour.
  std::string other = Material("n", Chunk(0xA010, Chunk(0x0013, F32(1) + F32(1) + F32(1))) +
                                        Diffuse(RgbByte(64, 64, 64)) + RgbByte(1, 1, 1));
  H3dsScene s = WalkBytes(Chunk(0x4D4D, bkg + Chunk(0x3D3D, mat + other) + keyframer));
  ASSERT_EQ(s.material_count, 2);
  EXPECT_EQ(s.materials[1].ambient.r, 0.0f);
  EXPECT_EQ(s.materials[1].diffuse.r, 0.25f);
  const H3dsMat &m = s.materials[0];
  EXPECT_EQ(m.name, "m");
  EXPECT_FLOAT_EQ(m.ambient.g, 0.2f);
  EXPECT_EQ(m.diffuse.r, 0.99609375f); // bytes divide by 256
  EXPECT_EQ(m.diffuse.g, 0.5f);
  EXPECT_EQ(m.diffuse.b, 0.0f);
  EXPECT_EQ(m.specular.r, 0.25f);
}

TEST(Chunks3DS, ZeroOrShortLengthsEndOnlyTheirLevel) {
  std::string broken =
      Chunk(0x3D3D, Material("lost", "")) + U16(0xAFFF) + U32(0) + Material("after zero", "");
  std::string shortLength = Chunk(0x3D3D, U16(0xAFFF) + U32(3) + Material("after short", ""));
  H3dsScene s = WalkBytes(Chunk(0x4D4D, broken) + Chunk(0x4D4D, shortLength) +
                          Main(Material("next top-level chunk", "")));
  ASSERT_EQ(s.material_count, 2);
  EXPECT_EQ(s.materials[0].name, "lost");
  EXPECT_EQ(s.materials[1].name, "next top-level chunk");
}

TEST(Chunks3DS, LyingCountsAreCutToWhatTheChunkHolds) {
  // Counts far beyond the data, a vertex list whose data runs on into the next chunk, and a file
  // cut off inside a face list: nothing is read from outside its chunk or the file.
  std::string verts = Chunk(0x4110, U16(60000) + F32(1) + F32(2) + F32(3) + F32(4));
  std::string faces = Chunk(0x4120, U16(500) + U16(0) + U16(0) + U16(0) + U16(0) + U16(9));
  std::string maps = Chunk(0x4140, U16(65535) + F32(1) + F32(2));
  H3dsScene s = WalkBytes(Main(ObjBlock("o", Mesh(verts + faces + maps))));
  ASSERT_EQ(s.mesh_count, 1);
  EXPECT_EQ(s.meshes[0].vertex_count, 1u);
  EXPECT_EQ(s.meshes[0].vertices.size(), 1u);
  EXPECT_EQ(s.meshes[0].face_count, 1u);
  EXPECT_EQ(s.meshes[0].map_count, 1u);

  std::string whole = Main(ObjBlock("o", Mesh(Vertices({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}) +
                                              Faces({{0, 1, 2, 0}, {2, 1, 0, 0}}))));
  H3dsScene cut = WalkBytes(whole.substr(0, whole.size() - 3));
  ASSERT_EQ(cut.mesh_count, 1);
  EXPECT_EQ(cut.meshes[0].vertex_count, 3u);
  EXPECT_EQ(cut.meshes[0].face_count, 1u);
}

TEST(Chunks3DS, DeepNestingEndsTheLoadWithAMessage) {
  std::string nested = Chunk(0x4000, Name("x"));
  for (int i = 0; i < 200; ++i) nested = Chunk(0x4D4D, nested);
  try {
    WalkBytes(nested);
    FAIL() << "no failure";
  } catch (const FatalError &e) {
    EXPECT_EQ(e.status, 1);
    EXPECT_STREQ(e.what(), "3DSReadObj: t.3ds: chunks nested deeper than 64 levels\n");
  }
}

TEST(Format3DS, MeshesJoinTurnedWithMaterialColours) {
  std::string four = Mesh(Vertices({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}) +
                          Faces({{0, 1, 2, 0}, {0, 2, 3, 0}}, FaceMat("LongMaterialName-B")));
  std::string three = Mesh(Vertices({{0, 0, 1}, {1, 0, 1}, {0, 1, 1}}) +
                           Faces({{0, 1, 2, 0}}, FaceMat("no such material")));
  // Names alike in their first 15 characters must still tell the materials apart.
  std::string mats = Material("LongMaterialName-A", Diffuse(RgbFloat(1, 0, 0))) +
                     Material("LongMaterialName-B", Diffuse(RgbFloat(0, 0, 1)));
  Part p = Convert(Main(mats + ObjBlock("a", four) + ObjBlock("b", three)));
  EXPECT_EQ(p.facet_offset, 0);
  EXPECT_EQ(p.rotate_on, 1);
  EXPECT_EQ(p.rotate[0], -90.0f);
  ASSERT_EQ(p.vertex_count, 7u);
  ASSERT_EQ(p.vertices.size(), 7u);
  EXPECT_EQ(p.vertices[4].z, 1.0f);
  ASSERT_EQ(p.facet_count, 3u);
  ASSERT_EQ(p.facets.size(), 3u);
  EXPECT_EQ(p.facets[2].count, 3u);
  const uint32_t *last = p.facetVertices(2);
  EXPECT_EQ(last[0], 4u);
  EXPECT_EQ(last[1], 5u);
  EXPECT_EQ(last[2], 6u);
  EXPECT_EQ(p.facetVertices(1)[2], 3u);
  ASSERT_EQ(p.polygon_colors.size(), 3u);
  EXPECT_EQ(p.polygon_colors[0].b, 1.0f);
  EXPECT_EQ(p.polygon_colors[1].b, 1.0f);
  EXPECT_EQ(p.polygon_colors[1].r, 0.0f);
  EXPECT_EQ(p.polygon_colors[2].r + p.polygon_colors[2].g + p.polygon_colors[2].b, 0.0f);
}

TEST(Format3DS, NoMaterialsNoColoursNoMeshesNothing) {
  Part p = Convert(Main(ObjBlock("a", Mesh(Vertices({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}) +
                                           Faces({{0, 1, 2, 0}}, FaceMat("m"))))));
  EXPECT_EQ(p.facet_count, 1u);
  EXPECT_TRUE(p.polygon_colors.empty());

  Part empty = Convert(Main(Material("m", "")));
  EXPECT_EQ(empty.vertex_count, 0u);
  EXPECT_EQ(empty.facet_count, 0u);
  EXPECT_TRUE(empty.facets.empty());
  EXPECT_TRUE(empty.polygon_colors.empty());
}

TEST(Format3DS, FaceIndexBeyondItsMeshIsRefused) {
  // Vertex 3 of the first mesh would be the second mesh's first vertex once the meshes join.
  std::string first = Mesh(Vertices({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}) + Tri(0, 1, 3));
  std::string second = Mesh(Vertices({{0, 0, 1}}));
  EXPECT_EQ(FatalMessage(Main(ObjBlock("Box", first + second))),
            "3DSFormatObj: t.3ds: face 0 of mesh 0 (Box) uses vertex 3, but the mesh has 3 "
            "vertices\n");
  // Faces before (or without) their vertex list.
  EXPECT_EQ(FatalMessage(Main(ObjBlock("F", Mesh(Tri(2, 0, 1))))),
            "3DSFormatObj: t.3ds: face 0 of mesh 0 (F) uses vertex 2, but the mesh has 0 "
            "vertices\n");
}

TEST(Read3DS, MissingFileIsReported) {
  ResetSearchDirs();
  objName = "gone.3ds";
  try {
    ReadObj3DS();
    ADD_FAILURE() << "no failure";
  } catch (const FatalError &e) {
    EXPECT_EQ(e.status, 1);
    EXPECT_STREQ(e.what(), "3DSReadObj: gone.3ds not found\n");
  }
}

TEST(Read3DS, RealFilesWithSeveralMeshesMaterialsAndTracks) {
  REQUIRE_REALWORLD();
  struct Expect {
    const char *file;
    uint32_t vertices, facets;
    int meshes, materials;
  } cases[] = {{"assimp-test1.3ds", 288, 108, 9, 3},
               {"assimp-fels.3ds", 386, 768, 1, 1},
               {"cge-p47d.3ds", 1931, 3500, 21, 23}};
  for (const Expect &c : cases) {
    SCOPED_TRACE(c.file);
    ResetSearchDirs();
    objName = RealWorld(std::string("3ds/") + c.file);
    std::unique_ptr<H3dsScene> s = ReadObj3DS();
    EXPECT_EQ(s->mesh_count, c.meshes);
    EXPECT_EQ(s->material_count, c.materials);
    Part p;
    FormatObj3DS(*s, p, c.file);
    EXPECT_EQ(p.vertex_count, c.vertices);
    EXPECT_EQ(p.facet_count, c.facets);
    EXPECT_EQ(p.polygon_colors.size(), c.facets);
    // Every mesh of these files names a material that exists.
    for (const H3dsMesh &m : s->meshes) {
      bool found = false;
      for (const H3dsMat &mat : s->materials) found = found || mat.name == m.material;
      EXPECT_TRUE(found) << *m.name << " uses " << m.material;
    }
  }
  // A diffuse colour stored as bytes (200/256) reaches every facet.
  ResetSearchDirs();
  objName = RealWorld("3ds/assimp-fels.3ds");
  Part fels;
  FormatObj3DS(*ReadObj3DS(), fels, "fels");
  EXPECT_EQ(fels.polygon_colors[767].g, 0.78125f);

  RunResult r =
      RunMirandel({"--info", "-in", "cge-p47d.3ds"}, {{"OBJ_PATH", true, RealWorld("3ds")}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("1931 vertices\n3500 polygons\n"), std::string::npos) << r.out;
}

TEST(Read3DS, TruncatedAndLyingFilesLoadWhatTheyHoldOrStopCleanly) {
  const std::string dir = SourcePath("tests/data/3ds");
  struct Expect {
    const char *file;
    int status;
    const char *out; // expected in stdout, or the whole of stderr for a failure
  } cases[] = {
      {"truncated.3ds", 0, "4 vertices\n1 polygons\n"},
      {"lying_counts.3ds", 0, "4 vertices\n1 polygons\n"},
      {"overlong_child.3ds", 0, "4 vertices\n1 polygons\n"},
      {"bad_index.3ds", 1,
       "3DSFormatObj: %s/bad_index.3ds: face 1 of mesh 0 (Quad) uses vertex 4, "
       "but the mesh has 4 vertices\n"},
      {"deep_nesting.3ds", 1,
       "3DSReadObj: %s/deep_nesting.3ds: chunks nested deeper than 64 levels\n"},
  };
  for (const Expect &c : cases) {
    SCOPED_TRACE(c.file);
    RunResult r = RunMirandel({"--info", "-in", c.file}, {{"OBJ_PATH", true, dir}});
    EXPECT_EQ(r.status, c.status);
    if (c.status == 0) {
      EXPECT_EQ(r.err, "");
      EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    } else {
      std::string expected = c.out;
      expected.replace(expected.find("%s"), 2, dir);
      EXPECT_EQ(r.err, expected);
    }
  }
}

// A file with no chunk in it is no object; a file of chunks without a mesh is an empty one, and
// --info says so instead of printing the start values of the box search.
TEST(Read3DS, EmptyFilesStopAndMeshlessFilesShowAnEmptyBox) {
  TempDir dir;
  dir.write("empty.3ds", "");
  dir.write("three_bytes.3ds", "MM\x01");
  dir.write("no_mesh.3ds", Main(Material("m", Diffuse(RgbByte(1, 2, 3)))));
  // Text whose first bytes read as a chunk of some other kind.
  dir.write("text.3ds", "hello, not a 3ds\n");
  dir.write("editor_only.3ds", Chunk(0x3D3D, Material("m", Diffuse(RgbByte(1, 2, 3)))));
  struct Expect {
    const char *file;
    int status;
    std::string out, err;
  } cases[] = {
      {"empty.3ds", 1, "", "3DSReadObj: " + dir.file("empty.3ds") + " is an empty file\n"},
      {"three_bytes.3ds", 1, "",
       "3DSReadObj: " + dir.file("three_bytes.3ds") +
           " is too short to hold a 3DS chunk (3 bytes)\n"},
      {"no_mesh.3ds", 0, "Object: no_mesh.3ds\n0 vertices\n0 polygons\nbbox: empty\n", ""},
      {"text.3ds", 1, "",
       "3DSReadObj: " + dir.file("text.3ds") +
           " is not a 3DS file: it does not begin with the main chunk\n"},
      {"editor_only.3ds", 1, "",
       "3DSReadObj: " + dir.file("editor_only.3ds") +
           " is not a 3DS file: it does not begin with the main chunk\n"},
  };
  for (const Expect &c : cases) {
    SCOPED_TRACE(c.file);
    RunResult r = RunMirandel({"--info", "-in", c.file}, {{"OBJ_PATH", true, dir.path()}});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}
