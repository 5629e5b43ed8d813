#include "viewer/readers/readOBJObj.h"
#include "support.h"

#include <dirent.h>
#include <functional>
#include <gtest/gtest.h>
#include <tiny_obj_loader.h>

namespace {

std::unique_ptr<OBJMesh> Read(const std::string &text, const char *name = "t.obj") {
  return OBJReadBuffer(text.data(), text.size(), name);
}

const char kSquare[] = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";

// The Part the mesh converts into, with the libraries' materials.
struct Converted {
  Converted(const std::string &text, const std::vector<OBJMaterial> &materials = {}) {
    mesh = Read(text);
    shape = CreateShape(3);
    OBJFormatObj(*mesh, materials, *shape);
  }
  ~Converted() { ReleaseShape(); }
  std::unique_ptr<OBJMesh> mesh;
  Shape *shape;
  Part &part() { return *shape->part; }
};

} // namespace

TEST(ObjReader, FaultsNameTheFileAndLine) {
  struct Case {
    const char *fixture, *text, *message;
  } cases[] = {
      {"index_zero", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 0 1 2\n",
       "t.obj line 4: vertex index 0 (indices count from 1)"},
      {"index_past_the_vertices_so_far", "v 0 0 0\nv 1 0 0\nf 1 2 3\nv 0 1 0\n",
       "t.obj line 3: vertex index 3 is beyond the 2 vertices read so far"},
      {"relative_before_the_first", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf -1 -2 -4\n",
       "t.obj line 4: vertex index -4 reaches before the first of the 3 vertices"},
      {"two_corners", "v 0 0 0\nv 1 0 0\nf 1 2\n", "t.obj line 3: a face needs three corners"},
      {"word_for_coordinate", "v 0 zero 0\n", "t.obj line 1: \"zero\" is no number"},
      {"two_coordinates", "v 0 0\n", "t.obj line 1: a vertex needs three coordinates"},
      {"nan_colour", "v 0 0 0 nan 1 1\n", "t.obj line 1: \"nan\" is not a finite number"},
      {"overflowing_coordinate", "v 1e99 0 0\n", "t.obj line 1: \"1e99\" is not a finite number"},
      {"texcoord_never_given", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1/1 2/1 3/1\n",
       "t.obj line 4: texture coordinate index 1 is beyond the 0 texture coordinates read so far"},
      {"normal_past_the_normals", "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//2 3//1\n",
       "t.obj line 5: normal index 2 is beyond the 1 normals read so far"},
      {"junk_after_corner", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3x\n",
       "t.obj line 4: \"3x\" is no corner"},
      {"word_for_corner", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 three\n",
       "t.obj line 4: \"three\" is no index"},
      {"fault_after_continued_line", "v 0 0 0\nv 1 0 \\\n 0\nv 0 1 0\r\nf 1 2 9\r\n",
       "t.obj line 5: vertex index 9 is beyond the 3 vertices read so far"},
      {"empty_file", "", "t.obj holds no vertices"},
      {"comments_only", "# nothing\ng group\n", "t.obj holds no vertices"},
  };
  for (const Case &c : cases) {
    int status = 0;
    std::string message = FatalMessage([&] { Read(c.text); }, &status);
    EXPECT_EQ(message, "OBJReadObj: " + std::string(c.message) + "\n") << c.fixture;
    EXPECT_EQ(status, 1) << c.fixture;
  }
}

TEST(ObjReader, StatementFormsAndLineQuirks) {
  struct Case {
    const char *what;
    std::string text;
    std::size_t vertices, faces;
    std::vector<uint32_t> corners;
  } cases[] = {
      {"all corner forms",
       std::string(kSquare) + "vt 0 0\nvn 0 0 1\nf 1 2/1 3//1 4/1/1\n",
       4,
       1,
       {0, 1, 2, 3}},
      {"empty places", std::string(kSquare) + "f 1// 2/ 3//\n", 4, 1, {0, 1, 2}},
      {"relative indices",
       std::string(kSquare) + "f -4 -3 -2 -1\nv 5 5 5\nf -1 -2 -3\n",
       5,
       2,
       {0, 1, 2, 3, 4, 3, 2}},
      {"fourth coordinate, names, groups, smoothing, unknown statements",
       "o thing\ng a b\ns 1\nv 0 0 0 1\nv 1 0 0 1\nv 0 1 0 1\ncstype bezier\nvp 0.5\nf 1 2 3\n",
       3,
       1,
       {0, 1, 2}},
      {"CRLF, byte-order mark, comments, no last newline",
       "\xEF\xBB\xBF# made by hand\r\nv 0 0 0\r\nv 1 0 0 # x\r\n\r\nv 0 1 0\r\nf 1 2 3",
       3,
       1,
       {0, 1, 2}},
      {"continued face", std::string(kSquare) + "f 1 2 \\\n 3 \\\r\n 4\n", 4, 1, {0, 1, 2, 3}},
      {"trailing text after the numbers",
       "v 1 2 3.1+e2\nv 0 0 0\nv 0 1 0\nf 1 2 3\n",
       3,
       1,
       {0, 1, 2}},
      {"points and lines read past",
       std::string(kSquare) + "l 1 2\np 3\nf 1 2 3\n",
       4,
       1,
       {0, 1, 2}},
      {"no faces", "v 0 0 0\nvn 0 0 1\n", 1, 0, {}},
  };
  for (const Case &c : cases) {
    std::unique_ptr<OBJMesh> m = Read(c.text);
    EXPECT_EQ(m->vertices.size(), c.vertices) << c.what;
    EXPECT_EQ(m->face_sizes.size(), c.faces) << c.what;
    EXPECT_EQ(m->corner_vertices, c.corners) << c.what;
  }
  EXPECT_EQ(Read(std::string(kSquare) + "l 1 2\np 3\nl 1 2 3\n")->elements_read_past, 3);
  EXPECT_EQ(Read("v 1 2 3.1+e2\n")->vertices[0].z, 3.1f);
}

TEST(ObjReader, Utf16FilesAreDecoded) {
  for (bool big : {false, true}) {
    std::string wide = big ? "\xFE\xFF" : "\xFF\xFE";
    for (unsigned char c : std::string("v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl r")) {
      wide += big ? std::string(1, '\0') + char(c) : std::string(1, char(c)) + '\0';
    }
    wide += big ? std::string("\0\xE9", 2) : std::string("\xE9\0", 2); // é
    for (unsigned char c : std::string("\nf 1 2 3\n"))
      wide += big ? std::string(1, '\0') + char(c) : std::string(1, char(c)) + '\0';
    std::unique_ptr<OBJMesh> m = Read(wide);
    EXPECT_EQ(m->vertices.size(), 3u) << big;
    EXPECT_EQ(m->face_sizes.size(), 1u) << big;
    EXPECT_EQ(m->materials, std::vector<std::string>{"r\xC3\xA9"}) << big;
  }
}

TEST(ObjReader, VertexColoursScaleLikeOff) {
  std::unique_ptr<OBJMesh> m = Read("v 0 0 0 1 0.5 0\nv 1 0 0\n");
  ASSERT_EQ(m->vertex_colors.size(), 2u);
  EXPECT_EQ(m->vertex_colors[0].g, 0.5f);
  EXPECT_EQ(m->vertex_colors[1].r, 1.0f); // a vertex without a colour is white
  m = Read("v 0 0 0\nv 0 0 0 255 51 0\n");
  EXPECT_EQ(m->vertex_colors[0].b, 1.0f / 255);
  EXPECT_FLOAT_EQ(m->vertex_colors[1].g, 0.2f);
  EXPECT_TRUE(Read(kSquare)->vertex_colors.empty());
}

TEST(ObjReader, FileNormalsKeptOnlyWhenOnePerVertex) {
  const std::string tris = std::string(kSquare) + "vn 0 0 1\nvn 0 0 1\nvn 1 0 0\n";
  {
    // Two "vn" of the same direction on one vertex are one normal.
    Converted c(tris + "f 1//1 2//1 3//2\nf 1//2 3//1 4//1\n");
    ASSERT_EQ(c.part().vertex_normals.size(), 4u);
    EXPECT_EQ(c.part().vertex_normals[2].z, 1.0f);
  }
  for (const char *faces : {"f 1//1 2//1 3//3\nf 1//1 3//1 4//1\n", // two directions at vertex 3
                            "f 1//1 2//1 3//1\nf 1 3 4\n"}) {       // corners without a normal
    Converted c(tris + faces);
    EXPECT_TRUE(c.part().vertex_normals.empty()) << faces;
  }
}

TEST(ObjReader, MaterialColoursAndWarnings) {
  std::string library = "# lib\nnewmtl red\nKa 0 0 0\nKd 1 0 0\n\nnewmtl grey\nKd 0.5\n"
                        "newmtl plain\nKs 1 1 1\nnewmtl odd\nKd spectral x.rfl\nKd one\n";
  std::vector<OBJMaterial> materials = OBJReadMaterials(library.data(), library.size(), "lib.mtl");
  ASSERT_EQ(materials.size(), 4u);
  EXPECT_TRUE(materials[0].has_kd);
  EXPECT_EQ(materials[0].kd.r, 1.0f);
  EXPECT_EQ(materials[1].kd.b, 0.5f);
  EXPECT_FALSE(materials[2].has_kd);
  EXPECT_FALSE(materials[3].has_kd);
  EXPECT_NE(RecentWarnings().find("lib.mtl line 12: \"Kd\" is no colour"), std::string::npos);

  Converted c(std::string(kSquare) + "f 1 2 3\nusemtl red\nf 1 2 3\nusemtl gone\nf 1 2 3\n"
                                     "usemtl plain\nf 1 2 3\nusemtl grey\nf 1 2 3\n",
              materials);
  const std::vector<ColorRGB> &pc = c.part().polygon_colors;
  ASSERT_EQ(pc.size(), 5u);
  EXPECT_EQ(pc[0].g, 0.2f); // before any material: the object colour
  EXPECT_EQ(pc[1].r, 1.0f);
  EXPECT_EQ(pc[1].g, 0.0f);
  EXPECT_EQ(pc[2].g, 0.2f);
  EXPECT_EQ(pc[3].g, 0.2f);
  EXPECT_EQ(pc[4].g, 0.5f);
  EXPECT_NE(RecentWarnings().find("material gone not found"), std::string::npos);
  // Without any colour from a material the facets have none of their own.
  Converted none(std::string(kSquare) + "usemtl gone\nf 1 2 3\n", materials);
  EXPECT_TRUE(none.part().polygon_colors.empty());
}

// Large text is read in two halves at once: what the second half refers to before itself, and
// the material it starts with, come from the first half.
TEST(ObjReader, TwoHalvesReadLikeOne) {
  std::string text = "mtllib m.mtl\nusemtl first\n";
  const int vertices = 300000;
  for (int i = 0; i < vertices; ++i) text += "v " + std::to_string(i) + " 0.000000 0.000000\n";
  text += "vn 0 0 1\n";
  const std::size_t faceStart = text.size();
  while (text.size() < faceStart + (10u << 20)) text += "f 1//1 2//1 3//1 -1//-1 -2//1\n";
  text += "usemtl second\nf -3 -2 -1\nv 1 1 1\nf 1 2 -1\n";
  std::unique_ptr<OBJMesh> m = Read(text);
  ASSERT_EQ(m->vertices.size(), vertices + 1u);
  const std::size_t faces = m->face_sizes.size();
  EXPECT_EQ(m->materials, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(m->face_materials[faces / 2], 0u);
  EXPECT_EQ(m->face_materials[faces - 1], 1u);
  const std::size_t mid = m->face_sizes.size() / 2 * 5;
  EXPECT_EQ(m->corner_vertices[mid + 3], uint32_t(vertices - 1));
  EXPECT_EQ(m->corner_normals[mid + 3], 0u);
  EXPECT_EQ(m->corner_vertices[m->corner_vertices.size() - 1], uint32_t(vertices));
  EXPECT_EQ(m->corner_vertices[m->corner_vertices.size() - 4], uint32_t(vertices - 1));

  // A fault late in the second half is found on its line; so is one the first half cannot meet.
  const int lines = int(std::count(text.begin(), text.end(), '\n'));
  for (const char *tail : {"f 1 2 x\n", "f 1 2 400000\n", "f 1 2 -400000\n", "f 1 2 0\n"}) {
    std::string message = FatalMessage([&] { Read(text + tail); });
    EXPECT_NE(message.find("line " + std::to_string(lines + 1) + ":"), std::string::npos)
        << tail << message;
  }
}

namespace {

struct Oracle {
  bool read = false;
  std::size_t vertices = 0, faces = 0;
  std::vector<int> faceMaterials;
  std::vector<tinyobj::material_t> materials;
};

Oracle ReadWithOracle(const std::string &path) {
  Oracle o;
  tinyobj::ObjReaderConfig config;
  config.triangulate = false;
  tinyobj::ObjReader reader;
  if (!reader.ParseFromFile(path, config)) return o;
  o.read = true;
  o.vertices = reader.GetAttrib().vertices.size() / 3;
  for (const tinyobj::shape_t &s : reader.GetShapes()) {
    o.faces += s.mesh.num_face_vertices.size();
    o.faceMaterials.insert(o.faceMaterials.end(), s.mesh.material_ids.begin(),
                           s.mesh.material_ids.end());
  }
  o.materials = reader.GetMaterials();
  return o;
}

void ForEachObj(const std::string &dir, const std::function<void(const std::string &)> &f) {
  for (const std::string &name : ListDir(dir)) {
    std::string path = dir + "/" + name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".obj") == 0)
      f(path);
    else if (name != "invalid" && name != "LICENSES" && name.find('.') == std::string::npos)
      ForEachObj(path, f);
  }
}

} // namespace

// The usual OBJ library reads the same counts and colours from every real file it can read, and
// the invalid files are refused.
TEST(ObjReader, RealFilesAgreeWithTheUsualLibrary) {
  REQUIRE_REALWORLD();
  int compared = 0, coloured = 0;
  ForEachObj(RealWorld("obj"), [&](const std::string &path) {
    std::string folder = path.substr(0, path.rfind('/'));
    std::string name = path.substr(path.rfind('/') + 1);
    std::string data = ReadFile(path);
    // Each file is read as the viewer reads it: by its name, its folder the object search's.
    RunResult r = RunMirandel({"--info", "-in", name}, {{"OBJ_PATH", true, folder}});
    EXPECT_EQ(r.status, 0) << path << r.err;
    std::unique_ptr<OBJMesh> ours = Read(data, name.c_str());
    Oracle theirs = ReadWithOracle(path);
    if (!theirs.read || theirs.vertices == 0) return;
    ++compared;
    EXPECT_EQ(ours->vertices.size(), theirs.vertices) << path;
    EXPECT_EQ(ours->face_sizes.size(), theirs.faces) << path;
    EXPECT_NE(r.out.find(std::to_string(theirs.faces) + " polygons\n"), std::string::npos) << path;
    if (theirs.materials.empty() || ours->face_sizes.size() != theirs.faces) return;
    // Colours: the library's diffuse colour of each face's material.
    std::vector<OBJMaterial> materials;
    for (const std::string &lib : ours->libraries) {
      std::string text = ReadFile(folder + "/" + lib);
      std::vector<OBJMaterial> read = OBJReadMaterials(text.data(), text.size(), lib.c_str());
      materials.insert(materials.end(), read.begin(), read.end());
    }
    Converted c(data, materials);
    if (c.part().polygon_colors.empty()) return; // no material with a colour of its own
    ASSERT_EQ(c.part().polygon_colors.size(), theirs.faces) << path;
    ++coloured;
    for (std::size_t f = 0; f < theirs.faces; ++f) {
      int id = theirs.faceMaterials[f];
      if (id < 0) continue;
      EXPECT_EQ(c.part().polygon_colors[f].r, theirs.materials[id].diffuse[0]) << path << f;
      EXPECT_EQ(c.part().polygon_colors[f].b, theirs.materials[id].diffuse[2]) << path << f;
    }
  });
  EXPECT_GE(compared, 18);
  EXPECT_GE(coloured, 4);
  for (const std::string &name : ListDir(RealWorld("obj/invalid"))) {
    RunResult r =
        RunMirandel({"--info", "-in", name}, {{"OBJ_PATH", true, RealWorld("obj/invalid")}});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.err.rfind("OBJReadObj: " + name, 0), 0u) << name << ": " << r.err;
  }
}

// Compressed objects load like plain ones, their material library found beside them.
TEST(ObjReader, CompressedObjectsWithTheirLibrary) {
  TempDir dir;
  const std::string obj = "mtllib hand.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl red\nf 1 2 3\n";
  for (const char *compressor : {"gzip", "compress"}) {
    dir.write("hand.obj", obj);
    dir.write("hand.mtl", "newmtl red\nKd 1 0 0\n");
    ASSERT_EQ(RunProgram({compressor, "-f", dir.file("hand.obj")}).status, 0);
    std::string name = std::string("hand.obj") + (compressor[0] == 'g' ? ".gz" : ".Z");
    RunResult r = RunMirandel({"--info", "-in", name}, {{"OBJ_PATH", true, dir.path()}});
    EXPECT_EQ(r.status, 0) << name << r.err;
    EXPECT_EQ(r.err.find("OBJReadObj"), std::string::npos) << name << r.err; // library found
    EXPECT_EQ(r.out.substr(0, r.out.find("bbox")),
              "Object: " + name + "\n3 vertices\n1 polygons\n");
    EXPECT_TRUE(FileExists(dir.file(name))) << name;
    ASSERT_EQ(RunProgram({"rm", "-f", dir.file(name)}).status, 0);
  }
}

// A library the file names that is missing or no regular file (a device never ends) is a warning.
TEST(ObjReader, LibrariesThatCannotBeRead) {
  TempDir dir;
  dir.write("t.obj", "mtllib /dev/zero\nmtllib gone.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  RunResult r = RunMirandel({"--info", "-in", "t.obj"}, {{"OBJ_PATH", true, dir.path()}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "OBJReadObj: material library /dev/zero is no regular file; its faces keep the "
                   "object colour\nOBJReadObj: material library gone.mtl not found; its faces "
                   "keep the object colour\n");
}
