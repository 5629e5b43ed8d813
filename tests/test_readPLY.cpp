#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/readPLYObj.h"
#include "viewer/model/shape.h"
#include "viewer/shell/shell.h"
#include "support.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

template <class T> void Put(std::string &out, T v, bool big = false) {
  char b[sizeof(T)];
  std::memcpy(b, &v, sizeof v);
  if (big) std::reverse(b, b + sizeof v);
  out.append(b, sizeof v);
}

// Reads `bytes` as name in a scratch directory through the reader and its conversion into the
// current Shape's Part (released by the caller with ReleaseShape).
class PlyObject {
public:
  Part &Load(const std::string &bytes, const std::string &name = "obj.ply") {
    dir_.write(name, bytes);
    setenv("OBJ_PATH", dir_.path().c_str(), 1);
    ResetSearchDirs();
    objName = name;
    CreateShape(kTypePLY);
    surface = PLYReadObj();
    PLYFormatObj(*surface, *currentShape);
    return *currentShape->part;
  }
  // The status and message a load ends with (0, "" when it loads).
  std::pair<int, std::string> Fails(const std::string &bytes, const std::string &name = "obj.ply") {
    try {
      Load(bytes, name);
    } catch (const FatalError &e) {
      ReleaseShape();
      surface.reset();
      return {e.status, e.what()};
    }
    return {0, ""};
  }
  ~PlyObject() {
    ReleaseSurface(surface);
    ReleaseShape();
  }
  std::unique_ptr<Surface> surface;

private:
  TempDir dir_;
};

std::vector<uint32_t> Facet(const Part &p, uint32_t f) {
  return std::vector<uint32_t>(p.facetVertices(f), p.facetVertices(f) + p.facets[f].count);
}

// A tetrahedron in binary whose data stops inside its second face's index list.
const std::string kTetraBinaryCut = [] {
  std::string t = "ply\nformat binary_little_endian 1.0\nelement vertex 4\nproperty float x\n"
                  "property float y\nproperty float z\nelement face 2\n"
                  "property list uchar int vertex_indices\nend_header\n";
  for (float c : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.5f}) Put<float>(t, c);
  Put<uint8_t>(t, 3);
  for (int32_t i : {0, 1, 2}) Put<int32_t>(t, i);
  Put<uint8_t>(t, 3);
  Put<int32_t>(t, 0);
  return t;
}();

const char *const kTetraAscii = "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\n"
                                "property float y\nproperty float z\nelement face 2\n"
                                "property list uchar int vertex_indices\nend_header\n"
                                "0 0 0\n1 0 0\n0 1 0\n0 0 1.5\n3 0 1 2\n4 0 1 3 2\n";

} // namespace

TEST(ReadPLY, WiderTypesAndLineEndsGiveTheSameGeometry) {
  // double coordinates and an int count, big-endian, read like floats with a uchar count.
  std::string wide = "ply\nformat binary_big_endian 1.0\nelement vertex 4\nproperty double x\n"
                     "property double y\nproperty double z\nelement face 2\n"
                     "property list int int vertex_indices\nend_header\n";
  const double xyz[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1.5}};
  for (const auto &v : xyz)
    for (double c : v) Put<double>(wide, c, true);
  for (int32_t i : {3, 0, 1, 2, 4, 0, 1, 3, 2}) Put<int32_t>(wide, i, true);
  std::string crlf;
  for (const char *c = kTetraAscii; *c; ++c)
    crlf += *c == '\n' ? std::string("\r\n") : std::string(1, *c);

  for (const std::string &text : {std::string(kTetraAscii), wide, crlf}) {
    PlyObject obj;
    Part &p = obj.Load(text);
    EXPECT_EQ(p.facet_offset, 0);
    ASSERT_EQ(p.vertex_count, 4u);
    ASSERT_EQ(p.facet_count, 2u);
    EXPECT_EQ(p.vertices[3].z, 1.5f);
    EXPECT_EQ(p.vertices[1].x, 1.0f);
    EXPECT_EQ(Facet(p, 0), (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(Facet(p, 1), (std::vector<uint32_t>{0, 1, 3, 2}));
    EXPECT_TRUE(p.vertex_normals.empty());
    EXPECT_TRUE(p.vertex_colors.empty());
    EXPECT_TRUE(p.polygon_colors.empty());
  }
}

TEST(ReadPLY, NormalsAndColoursOnlyWhenComplete) {
  PlyObject obj;
  Part &p = obj.Load("ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
                     "property float y\nproperty float z\nproperty float nx\nproperty float ny\n"
                     "property float nz\nproperty uchar red\nproperty uchar green\n"
                     "property uchar blue\nproperty float confidence\nelement face 1\n"
                     "property list uchar int vertex_indices\nproperty uchar red\n"
                     "property uchar green\nproperty uchar blue\nend_header\n"
                     "0 0 0 0 0 2 255 128 0 0.5\n1 0 0 0 0 2 0 0 0 1\n0 1 0 0 0 2 1 2 3 1\n"
                     "3 0 1 2 10 20 30\n");
  ASSERT_EQ(p.vertex_normals.size(), 3u);
  EXPECT_EQ(p.vertex_normals[0].z, 2.0f); // as the file gives it, not normalised here
  ASSERT_EQ(p.vertex_colors.size(), 3u);
  // Colours are kept 0..1 like every other format's, not as the file's bytes.
  EXPECT_EQ(p.vertex_colors[0].r, 1.0f);
  EXPECT_FLOAT_EQ(p.vertex_colors[0].g, 128 / 255.0f);
  EXPECT_EQ(p.vertex_colors[0].b, 0.0f);
  ASSERT_EQ(p.polygon_colors.size(), 1u);
  EXPECT_FLOAT_EQ(p.polygon_colors[0].b, 30 / 255.0f);
  // The unrequested confidence is kept aside with the vertex.
  ASSERT_TRUE(obj.surface->vert_other);
  ASSERT_EQ(obj.surface->vert_other->nprops(), 1);
  EXPECT_EQ(obj.surface->vert_other->props[0].name, "confidence");

  PlyObject partial;
  Part &q = partial.Load("ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                         "property float y\nproperty float z\nproperty float nx\n"
                         "property float ny\nproperty uchar red\nproperty uchar green\n"
                         "end_header\n1 2 3 4 5 6 7\n");
  EXPECT_TRUE(q.vertex_normals.empty());
  EXPECT_TRUE(q.vertex_colors.empty());
  EXPECT_EQ(q.facet_count, 0u); // no face element: vertices only
  EXPECT_EQ(q.vertices[0].y, 2.0f);
}

TEST(ReadPLY, LargeFacesKeepEveryCorner) {
  std::string text = "ply\nformat ascii 1.0\nelement vertex 300\nproperty float x\n"
                     "property float y\nproperty float z\nelement face 1\n"
                     "property list ushort int vertex_indices\nend_header\n";
  for (int k = 0; k < 300; ++k) text += std::to_string(k) + " " + std::to_string(k % 7) + " 0\n";
  text += "300";
  for (int k = 0; k < 300; ++k) text += " " + std::to_string(299 - k);
  text += "\n";
  PlyObject obj;
  Part &p = obj.Load(text);
  ASSERT_EQ(p.facet_count, 1u);
  ASSERT_EQ(p.facets[0].count, 300u);
  EXPECT_EQ(p.facetVertices(0)[0], 299u);
  EXPECT_EQ(p.facetVertices(0)[299], 0u);
}

TEST(ReadPLY, OtherElementsAreSetAside) {
  // An element between "vertex" and "face", another after it, and properties nobody asked for.
  std::string text = "ply\nformat binary_little_endian 1.0\nobj_info made here\n"
                     "element vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
                     "element edge 2\nproperty int vertex1\nproperty int vertex2\n"
                     "element face 1\nproperty list uchar int vertex_indices\n"
                     "property list uchar float texcoord\nproperty int label\n"
                     "element extra 1\nproperty uchar tag\nend_header\n";
  for (float c : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f}) Put<float>(text, c);
  for (int32_t i : {0, 1, 1, 2}) Put<int32_t>(text, i);
  Put<uint8_t>(text, 3);
  for (int32_t i : {2, 1, 0}) Put<int32_t>(text, i);
  Put<uint8_t>(text, 2);
  Put<float>(text, 0.25f);
  Put<float>(text, 0.75f);
  Put<int32_t>(text, 42);
  Put<uint8_t>(text, 9);
  PlyObject obj;
  Part &p = obj.Load(text);
  ASSERT_EQ(p.facet_count, 1u);
  EXPECT_EQ(Facet(p, 0), (std::vector<uint32_t>{2, 1, 0}));
  const Surface &s = *obj.surface;
  EXPECT_EQ(s.elem_names, (std::vector<std::string>{"vertex", "edge", "face", "extra"}));
  EXPECT_EQ(s.obj_info, (std::vector<std::string>{"made here"}));
  ASSERT_TRUE(s.other_elements);
  ASSERT_EQ(s.other_elements->num_elems(), 2);
  EXPECT_EQ(s.other_elements->other_list[0].elem_name, "edge");
  EXPECT_EQ(s.other_elements->other_list[1].elem_count, 1);
  ASSERT_TRUE(s.face_other);
  EXPECT_EQ(s.face_other->nprops(), 2);
}

TEST(ReadPLY, FilesThatCannotBecomeAnObject) {
  const std::string vertexHead = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
                                 "property float y\nproperty float z\n";
  const std::string points = "0 0 0\n1 0 0\n0 1 0\n";
  struct Case {
    std::string text;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"", 1, "PLYReadObj: obj.ply is not a PLY file\n"},
      {"solid cube\nendsolid cube\n", 1, "PLYReadObj: obj.ply is not a PLY file\n"},
      // Ascii data ending early, one line or many short, ends as the library reports it.
      {vertexHead + "end_header\n0 0 0\n1 0 0\n", -1, "ply_get_element: unexpected end of file\n"},
      {vertexHead + "element face 3\nproperty list uchar int vertex_indices\nend_header\n" +
           points + "3 0 1 2\n",
       -1, "ply_get_element: unexpected end of file\n"},
      {"ply\nformat ascii 1.0\nelement vertex 900000000\nproperty float x\nproperty float y\n"
       "property float z\nend_header\n1 2 3\n",
       -1, "ply_get_element: unexpected end of file\n"},
      {vertexHead + "element face 900000000\nproperty list uchar int vertex_indices\nend_header\n" +
           points + "3 0 1 2\n",
       -1, "ply_get_element: unexpected end of file\n"},
      // Binary data ending early names the file.
      {"ply\nformat binary_little_endian 1.0\nelement vertex 900000000\nproperty float x\n"
       "end_header\n1\n",
       1,
       "PLYReadObj: obj.ply is not a PLY file this program reads: element 'vertex' declares "
       "900000000 instances, more than the 2 bytes of data can hold\n"},
      {kTetraBinaryCut, -1,
       "ply_get_element: unexpected end of file: obj.ply is shorter than its header says\n"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
       "end_header\n1 2\n",
       -1, "Vertices don't have x, y, and z\n"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
       "property list uchar float z\nend_header\n1 2 1 3\n",
       -1, "Vertices don't have x, y, and z\n"},
      {vertexHead + "element face 1\nproperty list uchar int corners\nend_header\n" + points +
           "3 0 1 2\n",
       -1, "Faces don't have vertex indices\n"},
      {vertexHead + "element face 1\nproperty int vertex_indices\nend_header\n" + points + "3\n",
       -1, "Faces don't have vertex indices\n"},
      {vertexHead + "element face 2\nproperty list uchar int vertex_indices\nend_header\n" +
           points + "3 0 1 2\n3 0 1 3\n",
       1, "PLYFormatObj: obj.ply: face 1 has vertex index 3, but there are 3 vertices\n"},
      {vertexHead + "element face 1\nproperty list uchar int vertex_indices\nend_header\n" +
           points + "3 0 -1 2\n",
       1, "PLYFormatObj: obj.ply: face 0 has vertex index -1, but there are 3 vertices\n"},
  };
  for (const Case &c : cases) {
    PlyObject obj;
    testing::internal::CaptureStderr();
    auto result = obj.Fails(c.text);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(result.first, c.status) << c.text;
    EXPECT_EQ(result.second, c.message) << c.text;
  }
}

TEST(ReadPLY, BinaryElementWithoutPropertiesLoads) {
  // A marker element of no properties takes no bytes, before and after the geometry.
  std::string text = "ply\nformat binary_big_endian 1.0\nelement marker 100\n"
                     "element vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
                     "element face 1\nproperty list uchar int vertex_indices\n"
                     "element end 2000000000\nend_header\n";
  for (float c : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f}) Put<float>(text, c, true);
  Put<uint8_t>(text, 3);
  for (int32_t i : {0, 2, 1}) Put<int32_t>(text, i, true);
  PlyObject obj;
  Part &p = obj.Load(text);
  ASSERT_EQ(p.vertex_count, 3u);
  EXPECT_EQ(p.vertices[1].x, 1.0f);
  ASSERT_EQ(p.facet_count, 1u);
  EXPECT_EQ(Facet(p, 0), (std::vector<uint32_t>{0, 2, 1}));
  ASSERT_EQ(obj.surface->other_elements->num_elems(), 2);
  EXPECT_EQ(obj.surface->other_elements->other_list[0].elem_count, 100);
}

TEST(ReadPLY, VertexIndexSpelling) {
  // Some writers call the list "vertex_index"; it is taken when "vertex_indices" is absent.
  PlyObject obj;
  Part &p = obj.Load("ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
                     "property float y\nproperty float z\nelement face 1\n"
                     "property list uchar int vertex_index\nend_header\n0 0 0\n1 0 0\n0 1 0\n"
                     "3 0 1 2\n");
  ASSERT_EQ(p.facet_count, 1u);
  EXPECT_EQ(Facet(p, 0), (std::vector<uint32_t>{0, 1, 2}));
}

TEST(ReadPLY, RealWorldFiles) {
  REQUIRE_REALWORLD();
  struct Case {
    const char *file;
    const char *vertices;
    const char *polygons;
  };
  const Case cases[] = {
      {"ply/assimp-cube.ply", "8", "6"},        {"ply/assimp-cube_binary.ply", "8", "12"},
      {"ply/cgal-colored_tetra.ply", "4", "4"}, {"ply/trimesh-fuze.ply", "502", "1000"},
      {"ply/vtk-horse.ply", "48485", "96966"},  {"ply/vtk-spider.ply", "4670", "9286"},
  };
  for (const Case &c : cases) {
    RunResult r = RunMirandel({"--info", "-in", RealWorld(c.file)}, {{"OBJ_PATH", true, "/tmp"}});
    EXPECT_EQ(r.status, 0) << c.file << r.err;
    EXPECT_NE(r.out.find(std::string("\n") + c.vertices + " vertices\n"), std::string::npos)
        << c.file << r.out;
    EXPECT_NE(r.out.find(std::string("\n") + c.polygons + " polygons\n"), std::string::npos)
        << c.file << r.out;
  }
  // A vertex element that declares a list its lines do not hold; an empty file.
  RunResult broken = RunMirandel({"--info", "-in", RealWorld("ply/assimp-issue623.ply")},
                                 {{"OBJ_PATH", true, "/tmp"}});
  EXPECT_EQ(broken.status, 255);
  EXPECT_EQ(broken.err, "ply_get_element: too few values for element 'vertex' on line 13\n");
  RunResult empty = RunMirandel({"--info", "-in", RealWorld("invalid/assimp-empty.ply")},
                                {{"OBJ_PATH", true, "/tmp"}});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.err, "PLYReadObj: assimp-empty.ply is not a PLY file\n");
  // Along OBJ_PATH and not there.
  TempDir dir;
  setenv("OBJ_PATH", dir.path().c_str(), 1);
  ResetSearchDirs();
  objName = "nothing.ply";
  try {
    PLYReadObj();
    ADD_FAILURE();
  } catch (const FatalError &e) {
    EXPECT_EQ(e.status, 1);
    EXPECT_STREQ(e.what(), "PLYReadObj: nothing.ply not found\n");
  }
}

// Files written elsewhere: blank and comment lines among the ascii data, and headers whose lines
// end in a lone CR (over a binary body or an ascii one, whose lines end so too).
TEST(PlyReader, BlankAndCommentLinesAndLoneCarriageReturns) {
  std::string tri;
  Put(tri, 0.0f), Put(tri, 0.0f), Put(tri, 0.0f), Put(tri, 2.0f), Put(tri, 0.0f), Put(tri, 0.0f);
  Put(tri, 0.0f), Put(tri, 1.0f), Put(tri, 0.0f);
  tri += '\3';
  for (int k : {0, 1, 2}) Put(tri, k);
  const std::string head =
      "element vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
      "element face 1\nproperty list uchar int vertex_indices\nend_header\n";
  auto cr = [](std::string s) {
    for (char &c : s)
      if (c == '\n') c = '\r';
    return s;
  };
  struct Case {
    const char *what;
    std::string bytes;
  } cases[] = {
      {"blank lines",
       "ply\nformat ascii 1.0\n" + head + "\n0 0 0\n\n2 0 0\n  \t\n0 1 0\n\n3 0 1 2\n\n"},
      {"comment lines", "ply\nformat ascii 1.0\n" + head +
                            "comment first\n0 0 0\n2 0 0\ncomment between\n0 1 0\n"
                            "comment\n3 0 1 2\n"},
      {"lone CR, binary", cr("ply\nformat binary_little_endian 1.0\n" + head) + tri},
      {"lone CR, ascii", cr("ply\nformat ascii 1.0\n" + head + "0 0 0\n2 0 0\n0 1 0\n3 0 1 2\n")},
  };
  for (const Case &c : cases) {
    PlyObject ply;
    auto [status, message] = ply.Fails(c.bytes);
    ASSERT_EQ(status, 0) << c.what << ": " << message;
    const Part &p = *currentShape->part;
    EXPECT_EQ(p.vertex_count, 3u) << c.what;
    ASSERT_EQ(p.facet_count, 1u) << c.what;
    EXPECT_EQ(p.vertices[1].x, 2.0f) << c.what;
    EXPECT_EQ(p.facetVertices(0)[2], 2u) << c.what;
  }
  // An instance of an element without properties is a line of its own, blank or not.
  PlyObject ply;
  Part &p = ply.Load("ply\nformat ascii 1.0\nelement mark 2\n" + head +
                     "\n\n0 0 0\n2 0 0\n0 1 0\n"
                     "3 0 1 2\n");
  EXPECT_EQ(p.vertex_count, 3u);
  EXPECT_EQ(p.vertices[1].x, 2.0f);
}
