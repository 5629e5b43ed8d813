#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/readSTLObj.h"
#include "viewer/readers/stlText.h"
#include "viewer/shell/loadObj.h"
#include "viewer/shell/shell.h"
#include "support.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace {

using Tri = std::array<std::array<float, 3>, 3>;

std::string BinarySTL(const std::vector<Tri> &tris, const std::string &label = "binary") {
  std::string out = label;
  out.resize(80, ' ');
  uint32_t n = static_cast<uint32_t>(tris.size());
  out.append(reinterpret_cast<const char *>(&n), 4);
  for (const Tri &t : tris) {
    float normal[3] = {0, 0, 0};
    out.append(reinterpret_cast<const char *>(normal), 12);
    for (const auto &v : t) out.append(reinterpret_cast<const char *>(v.data()), 12);
    out.append(2, '\0');
  }
  return out;
}

std::string AsciiFacets(const std::vector<Tri> &tris) {
  std::string out;
  char line[128];
  for (const Tri &t : tris) {
    out += "  facet normal 0 0 0\n    outer loop\n";
    for (const auto &v : t) {
      std::snprintf(line, sizeof line, "      vertex %.9g %.9g %.9g\n", v[0], v[1], v[2]);
      out += line;
    }
    out += "    endloop\n  endfacet\n";
  }
  return out;
}

// A unit cube as 12 triangles wound outward.
std::vector<Tri> Cube(float shift = 0) {
  const float c[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                         {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  const int quads[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                           {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};
  std::vector<Tri> tris;
  auto v = [&](int i) {
    return std::array<float, 3>{c[i][0] + shift, c[i][1] + shift, c[i][2] + shift};
  };
  for (const auto &q : quads) {
    tris.push_back({v(q[0]), v(q[1]), v(q[2])});
    tris.push_back({v(q[0]), v(q[2]), v(q[3])});
  }
  return tris;
}

// Loads dir/name through the reader, as the pipeline does, into a fresh Shape.
struct Loaded {
  STLObjPtr obj;
  Shape *shape = nullptr;
  ~Loaded() { ReleaseShape(); }
};

void Load(Loaded &out, const TempDir &dir, const std::string &name) {
  setenv("OBJ_PATH", dir.path().c_str(), 1);
  ResetSearchDirs();
  objName = name;
  out.shape = CreateShape(5);
  out.obj = STLReadObj();
  STLFormatObj(*out.obj, *out.shape);
}

// Every facet normal points away from the solid's centre.
void ExpectOutward(const Part &p, const Coord &centre) {
  for (uint32_t f = 0; f < p.facet_count; ++f) {
    const uint32_t *idx = p.facetVertices(f);
    float mid[3] = {0, 0, 0};
    for (int j = 0; j < 3; ++j) {
      mid[0] += p.vertices[idx[j]].x / 3, mid[1] += p.vertices[idx[j]].y / 3;
      mid[2] += p.vertices[idx[j]].z / 3;
    }
    const Vector &n = p.polygon_normals[f];
    float dot = n.x * (mid[0] - centre.x) + n.y * (mid[1] - centre.y) + n.z * (mid[2] - centre.z);
    EXPECT_GT(dot, 0.0f) << "facet " << f;
  }
}

// Some facet holds exactly the triangle's three corners, in any order (the repair may turn it).
bool HasTriangle(const Part &p, const Tri &tri) {
  auto key = [](const Coord &c) { return std::array<float, 3>{c.x, c.y, c.z}; };
  std::array<std::array<float, 3>, 3> want = tri;
  std::sort(want.begin(), want.end());
  for (uint32_t f = 0; f < p.facet_count; ++f) {
    const uint32_t *idx = p.facetVertices(f);
    std::array<std::array<float, 3>, 3> got = {key(p.vertices[idx[0]]), key(p.vertices[idx[1]]),
                                               key(p.vertices[idx[2]])};
    std::sort(got.begin(), got.end());
    if (std::memcmp(got.data(), want.data(), sizeof got) == 0) return true;
  }
  return false;
}

} // namespace

TEST(StlCheck, TellsTextFromBinaryAsTheLibraryDoes) {
  std::string bin = BinarySTL(Cube(), "solid but binary");
  STLFileCheck check = STLCheckFile(std::vector<char>(bin.begin(), bin.end()));
  EXPECT_FALSE(check.ascii); // the facet data has bytes with their top bit set
  EXPECT_FALSE(check.markBinary);

  // Small positive coordinates and zero normals leave every top bit clear: the library would
  // take the file for text, so it is marked binary by its exact layout.
  std::string plain = BinarySTL(Cube(10));
  check = STLCheckFile(std::vector<char>(plain.begin(), plain.end()));
  EXPECT_FALSE(check.ascii);
  EXPECT_TRUE(check.markBinary);
  EXPECT_TRUE(check.error.empty());

  std::string text = "solid cube\n" + AsciiFacets(Cube()) + "endsolid cube\n";
  check = STLCheckFile(std::vector<char>(text.begin(), text.end()));
  EXPECT_TRUE(check.ascii);
  EXPECT_EQ(check.solids, 1);
  EXPECT_EQ(check.facets, 12);
  EXPECT_TRUE(check.error.empty());
}

// The facets as the text check hands them on: normal, then three vertices.
static std::vector<std::array<float, 12>> FacetsOf(const std::string &text,
                                                   STLFileCheck *out = nullptr) {
  std::vector<std::array<float, 12>> facets;
  STLFileCheck check = STLCheckFile(std::string_view(text), [&](const float *v) {
    facets.emplace_back();
    std::memcpy(facets.back().data(), v, sizeof(float) * 12);
  });
  if (out) *out = check;
  return facets;
}

// The same, reading the text from a file a block at a time.
static std::vector<std::array<float, 12>> FacetsOfFile(const std::string &path,
                                                       STLFileCheck *out = nullptr) {
  std::vector<std::array<float, 12>> facets;
  FILE *f = std::fopen(path.c_str(), "rb");
  std::fseek(f, 0, SEEK_END);
  STLFileCheck check = STLCheckTextFile(fileno(f), std::ftell(f), [&](const float *v) {
    facets.emplace_back();
    std::memcpy(facets.back().data(), v, sizeof(float) * 12);
  });
  std::fclose(f);
  if (out) *out = check;
  return facets;
}

TEST(StlCheck, AllSolidsAndLayoutsGiveTheirFacetsInOrderAndBrokenTextIsRefused) {
  std::vector<Tri> cube = Cube();
  auto expectCube = [&](const std::vector<std::array<float, 12>> &facets) {
    ASSERT_EQ(facets.size(), cube.size());
    for (std::size_t f = 0; f < cube.size(); ++f)
      for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k) EXPECT_EQ(facets[f][3 + 3 * j + k], cube[f][j][k]);
  };
  std::vector<Tri> a(cube.begin(), cube.begin() + 5), b(cube.begin() + 5, cube.end());
  std::string text = "solid a\r\n" + AsciiFacets(a) + "endsolid a\r\nsolid b\r\n" + AsciiFacets(b) +
                     "endsolid b\r\n";
  STLFileCheck check;
  expectCube(FacetsOf(text, &check));
  EXPECT_EQ(check.solids, 2);
  EXPECT_EQ(check.facets, 12);

  // Facets written one per line, as some writers do.
  std::string oneLine = "solid flat\n";
  for (const Tri &tri : cube) {
    oneLine += "facet normal 0 0 0 outer loop";
    for (const auto &v : tri)
      oneLine += " vertex " + std::to_string(v[0]) + " " + std::to_string(v[1]) + " " +
                 std::to_string(v[2]);
    oneLine += " endloop endfacet\n";
  }
  expectCube(FacetsOf(oneLine, &check));
  EXPECT_EQ(check.solids, 1);
  TempDir dir;
  dir.write("one_line.stl", oneLine);
  {
    Loaded l;
    Load(l, dir, "one_line.stl");
    EXPECT_EQ(l.shape->part->facet_count, 12u);
  }

  std::string body = AsciiFacets(cube);
  for (std::string broken :
       {"solid x\n" + body.substr(0, body.size() / 2 + 20), "hello x\n" + body,
        "solid x\n" + body + "facet normal 1 2 three\n",
        "solid x\n" + body.substr(0, 100) + std::string(1, '\0') + body.substr(100)}) {
    check = STLCheckFile(std::vector<char>(broken.begin(), broken.end()));
    EXPECT_TRUE(check.ascii);
    EXPECT_FALSE(check.error.empty()) << broken.substr(broken.size() - 40);
  }
  // Words that only begin like a number.
  for (const char *word : {"+-1", "--1", "1e", "1e+", "1.5.2", "0x", "1,5", "-", ".", "e5", "1f"}) {
    std::string bad = "solid x\n" + body + "facet normal 0 0 1\nouter loop\nvertex 0 0 " + word +
                      "\nvertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\n";
    check = STLCheckFile(std::vector<char>(bad.begin(), bad.end()));
    EXPECT_NE(check.error, "") << word;
  }
}

TEST(StlRepair, ClosedMeshIsLeftAsItIs) {
  TempDir dir;
  dir.write("cube.stl", BinarySTL(Cube()));
  Loaded l;
  Load(l, dir, "cube.stl");
  const Part &p = *l.shape->part;
  EXPECT_EQ(p.facet_count, 12u);
  EXPECT_EQ(p.vertex_count, 36u);
  EXPECT_EQ(l.obj->stats.facets_added, 0);
  EXPECT_EQ(l.obj->stats.facets_removed, 0);
  // Unshared vertices in facet order, copied unchanged.
  EXPECT_EQ(p.facetVertices(11)[2], 35u);
  EXPECT_EQ(p.vertices[3].x, Cube()[1][0][0]);
  EXPECT_TRUE(p.vertex_normals.empty());
  ExpectOutward(p, Coord{0.5f, 0.5f, 0.5f});
}

TEST(StlRepair, InwardWindingIsTurnedOutward) {
  std::vector<Tri> cube = Cube();
  for (Tri &t : cube) std::swap(t[1], t[2]);
  TempDir dir;
  dir.write("inverted.stl", BinarySTL(cube));
  Loaded l;
  Load(l, dir, "inverted.stl");
  EXPECT_EQ(l.shape->part->facet_count, 12u);
  EXPECT_GT(l.obj->stats.volume, 0.0f);
  ExpectOutward(*l.shape->part, Coord{0.5f, 0.5f, 0.5f});
}

TEST(StlRepair, OpenAndGappedMeshes) {
  TempDir dir;
  // A box without its top: the hole is filled, the new facets come last.
  std::vector<Tri> open = Cube();
  open.erase(open.begin() + 2, open.begin() + 4);
  dir.write("open_box.stl", BinarySTL(open));
  {
    Loaded l;
    Load(l, dir, "open_box.stl");
    EXPECT_EQ(l.shape->part->facet_count, 12u);
    EXPECT_EQ(l.obj->stats.facets_added, 2);
    const Part &p = *l.shape->part;
    for (uint32_t v = 30; v < 36; ++v) EXPECT_EQ(p.vertices[v].z, 1.0f);
  }
  // One corner of one facet a hair off: the nearby pass joins it, nothing is added or removed.
  std::vector<Tri> gap = Cube(10);
  gap[0][1][0] += 1e-5f;
  dir.write("gap.stl", BinarySTL(gap));
  {
    Loaded l;
    Load(l, dir, "gap.stl");
    EXPECT_EQ(l.shape->part->facet_count, 12u);
    EXPECT_EQ(l.obj->stats.facets_added, 0);
    EXPECT_EQ(l.obj->stats.facets_removed, 0);
    EXPECT_GE(l.obj->stats.connected_facets_3_edge, 12);
  }
  // A facet far from the cube and touching nothing is removed.
  std::vector<Tri> stray = Cube();
  stray.push_back({{{5, 5, 5}, {6, 5, 5}, {5, 6, 5}}});
  dir.write("stray.stl", BinarySTL(stray));
  {
    Loaded l;
    Load(l, dir, "stray.stl");
    EXPECT_EQ(l.shape->part->facet_count, 12u);
    EXPECT_EQ(l.obj->stats.facets_removed, 1);
  }
}

// A read the library gives up on leaves no open file behind: a fuzz run of many such files in one
// process ran out of descriptors.
TEST(StlRepair, FailedReadsCloseTheirFile) {
  auto openDescriptors = [] {
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
      while (readdir(d)) ++n;
      closedir(d);
    }
    return n;
  };
  TempDir dir;
  std::string bin = BinarySTL(Cube());
  dir.write("truncated.stl", bin.substr(0, bin.size() - 7));
  int before = openDescriptors();
  for (int i = 0; i < 3; ++i) {
    Loaded l;
    EXPECT_THROW(Load(l, dir, "truncated.stl"), FatalError);
  }
  EXPECT_EQ(openDescriptors(), before);
}

TEST(StlCommandLine, RealFilesLoadWithTheirCounts) {
  REQUIRE_REALWORLD();
  struct Case {
    const char *file;
    int facets;
  } cases[] = {
      {"numpystl-Cube-crlf.stl", 12},    {"openscad-import_bin_solid.stl", 46},
      {"trimesh-multibody.stl", 32},     {"assimp-sphereWithHole.stl", 290},
      {"assimp-Spider_ascii.stl", 1354}, {"assimp-Spider_binary.stl", 1354},
  };
  for (const Case &c : cases) {
    RunResult r = RunMirandel({"--info", "-in", c.file}, {{"OBJ_PATH", true, RealWorld("stl")}});
    EXPECT_EQ(r.status, 0) << c.file << ": " << r.err;
    EXPECT_NE(r.out.find(std::to_string(3 * c.facets) + " vertices\n"), std::string::npos)
        << c.file;
    EXPECT_NE(r.out.find(std::to_string(c.facets) + " polygons\n"), std::string::npos) << c.file;
  }
  RunResult lying = RunMirandel({"--info", "-in", "stlmodels-incorrectFaceCounter.bin.stl"},
                                {{"OBJ_PATH", true, RealWorld("invalid")}});
  EXPECT_EQ(lying.status, 0);
  EXPECT_EQ(lying.err, "Warning: File size doesn't match number of facets in the header\n");
  EXPECT_NE(lying.out.find("4 polygons\n"), std::string::npos);

  RunResult empty =
      RunMirandel({"--info", "-in", "openscad-empty2.stl"}, {{"OBJ_PATH", true, RealWorld("stl")}});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.err, "STLReadObj: openscad-empty2.stl holds no facets\n");
}

TEST(StlCommandLine, FilesWithoutFacetsOrWithBrokenTextStop) {
  TempDir dir;
  // Text the library would loop on for ever.
  dir.write("garbage.stl", "solid x\n" + std::string(400, 'z') + "\n");
  RunResult garbage =
      RunMirandel({"--info", "-in", "garbage.stl"}, {{"OBJ_PATH", true, dir.path()}}, "", 30);
  EXPECT_FALSE(garbage.timedOut);
  EXPECT_EQ(garbage.status, 1);
  EXPECT_EQ(garbage.err, "STLReadObj: garbage.stl is not a readable ASCII STL file: unexpected "
                         "word on line 2\n");

  // A short file that is neither text the library reads nor binary: found looping by the fuzzer.
  std::string shortFile = "binary   z" + std::string(8, ' ') + std::string(176, '\0') +
                          std::string(29, ' ') + std::string(30, '\0') + "so";
  dir.write("short_neither.stl", shortFile);
  RunResult neither =
      RunMirandel({"--info", "-in", "short_neither.stl"}, {{"OBJ_PATH", true, dir.path()}}, "", 30);
  EXPECT_FALSE(neither.timedOut);
  EXPECT_EQ(neither.status, 1);
  EXPECT_EQ(neither.err, "STLReadObj: short_neither.stl is not a readable ASCII STL file: no "
                         "\"solid\" at the start on line 1\n");

  dir.write("no_facets.stl", "solid x\n" + std::string(300, '\n') + "endsolid x\n");
  RunResult none =
      RunMirandel({"--info", "-in", "no_facets.stl"}, {{"OBJ_PATH", true, dir.path()}});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, "STLReadObj: no_facets.stl holds no facets\n");

  std::string bin = BinarySTL(Cube());
  dir.write("truncated.stl", bin.substr(0, bin.size() - 7));
  RunResult cut = RunMirandel({"--info", "-in", "truncated.stl"}, {{"OBJ_PATH", true, dir.path()}});
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("has the wrong size"), std::string::npos) << cut.err;
}

// Text the library reads as it stands, or would with another layout, loads the same object as the
// plain lower-case file: keywords in any case, padding or notes after the last solid.
TEST(StlCheck, KeywordCaseAndWhatFollowsTheSolidDoNotMatter) {
  const std::string body = AsciiFacets(Cube());
  const std::string plain = "solid cube\n" + body + "endsolid cube\n";
  auto upper = [](std::string s) {
    for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  };
  auto mixed = [](std::string s) {
    for (auto [from, to] : {std::pair<const char *, const char *>{"endsolid", "EndSolid"},
                            {"solid", "Solid"},
                            {"facet normal", "Facet Normal"},
                            {"outer loop", "Outer Loop"},
                            {"vertex", "Vertex"},
                            {"endloop", "EndLoop"},
                            {"endfacet", "EndFacet"}})
      for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + 1))
        s.replace(at, std::strlen(from), to);
    return s;
  };
  struct Case {
    const char *name;
    std::string text;
  } cases[] = {
      {"upper_case.stl", upper(plain)},
      {"mixed_case.stl", mixed(plain)},
      {"dos_eof.stl", plain + "\x1a"},
      {"dos_eof_no_endsolid.stl", "solid cube\r\n" + body + "\x1a"},
      {"nul_padding.stl", plain + "\n\n" + std::string(40, '\0') + "\n\n\n"},
      {"trailer_words.stl", plain + "exported by a CAD program\nunits: mm\n"},
  };
  TempDir dir;
  dir.write("plain.stl", plain);
  Part want;
  {
    Loaded ref;
    Load(ref, dir, "plain.stl");
    want = *ref.shape->part; // the next load replaces the Shape
  }
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    STLFileCheck check = STLCheckFile(std::vector<char>(c.text.begin(), c.text.end()));
    EXPECT_EQ(check.error, "");
    EXPECT_EQ(check.facets, 12);
    dir.write(c.name, c.text);
    Loaded l;
    Load(l, dir, c.name);
    const Part &got = *l.shape->part;
    ASSERT_EQ(got.facet_count, want.facet_count);
    EXPECT_EQ(std::memcmp(got.vertices.data(), want.vertices.data(),
                          want.vertices.size() * sizeof(Coord)),
              0);
    EXPECT_EQ(std::memcmp(got.polygon_normals.data(), want.polygon_normals.data(),
                          want.polygon_normals.size() * sizeof(Vector)),
              0);
  }
}

// Triangles that share no edge at all lose nothing to the removal of unconnected facets.
TEST(StlRepair, LooseTrianglesAreKept) {
  const Tri a = {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}}, b = {{{5, 5, 5}, {6, 5, 5}, {5, 6, 5}}};
  TempDir dir;
  dir.write("two_solids_loose.stl", "solid a\n" + AsciiFacets({a}) + "endsolid a\nsolid b\n" +
                                        AsciiFacets({b}) + "endsolid b\n");
  dir.write("loose_binary.stl", BinarySTL({a, b, Cube(20)[0], Cube(30)[5]}));
  for (const char *name : {"two_solids_loose.stl", "loose_binary.stl"}) {
    SCOPED_TRACE(name);
    Loaded l;
    Load(l, dir, name);
    EXPECT_EQ(l.obj->stats.facets_removed, 0);
    EXPECT_GE(l.shape->part->facet_count, 2u);
    EXPECT_TRUE(HasTriangle(*l.shape->part, a));
    EXPECT_TRUE(HasTriangle(*l.shape->part, b));
  }
}

// Files shorter than the library's own size probes: a short text, and binary files of fewer than
// four facets, whose values must arrive bit for bit.
TEST(StlRead, ShortFilesAreRead) {
  const Tri one = {{{0.1f, 1e-7f, -0.0f}, {123456.789f, 0.3f, 2.5f}, {0.7f, 3.4e-38f, 1.0f}}};
  const Tri two = {{{-1.5f, -2.25f, -3.125f}, {-1, -2, -4}, {-2, -2, -3}}};
  const Tri three = {{{7, 7, 7}, {8, 7, 7}, {7, 8, 7.000001f}}};
  const std::string oneText = "solid t\n" + AsciiFacets({one}) + "endsolid t\n";
  ASSERT_LT(oneText.size(), 212u);
  std::string lying = BinarySTL({one, two, three});
  lying[80] = 9; // the header claims nine facets
  struct Case {
    const char *name;
    std::string data;
    std::vector<Tri> tris;
    std::string warning;
  } cases[] = {
      {"one_triangle.stl", oneText, {one}, ""},
      {"one_triangle_bin.stl", BinarySTL({one}), {one}, ""},
      {"two_triangles_bin.stl", BinarySTL({one, two}), {one, two}, ""},
      // Negative values set top bits in the library's type probe.
      {"three_triangles_bin.stl", BinarySTL({two, one, three}), {two, one, three}, ""},
      {"three_lying_bin.stl",
       lying,
       {one, two, three},
       "Warning: File size doesn't match number of facets in the header\n"},
  };
  TempDir dir;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    dir.write(c.name, c.data);
    Loaded l;
    Load(l, dir, c.name);
    EXPECT_EQ(l.obj->stats.facets_removed, 0);
    for (const Tri &t : c.tris) EXPECT_TRUE(HasTriangle(*l.shape->part, t));
    RunResult r = RunMirandel({"--info", "-in", c.name}, {{"OBJ_PATH", true, dir.path()}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind(c.warning, 0), 0u) << r.err; // a leak checker's summary may follow
    EXPECT_EQ(r.err.find("Warning") != std::string::npos, !c.warning.empty()) << r.err;
  }
}

namespace {

// The same text as one solid: the library reads a single solid only.
std::string OneSolid(const std::string &text) {
  std::string out;
  std::size_t lines = 0, solidLines = 0;
  std::vector<std::string> all;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t nl = text.find('\n', at);
    std::size_t next = nl == std::string::npos ? text.size() : nl + 1;
    all.push_back(text.substr(at, next - at));
    at = next;
  }
  auto firstWord = [](const std::string &line) {
    std::size_t a = line.find_first_not_of(" \t\r\n");
    std::string w =
        a == std::string::npos ? "" : line.substr(a, line.find_first_of(" \t\r\n", a) - a);
    for (char &c : w) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return w;
  };
  for (const std::string &line : all) solidLines += firstWord(line) == "solid";
  for (const std::string &line : all) {
    const std::string w = firstWord(line);
    ++lines;
    if ((w == "solid" && lines > 1) || (w == "endsolid" && --solidLines > 0)) continue;
    out += line;
  }
  return out;
}

// What stl_open alone makes of a file: each facet's normal and vertices.
std::vector<std::array<float, 12>> LibraryFacets(const std::string &path) {
  STLObj obj;
  std::memset(&obj, 0, sizeof obj);
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  stl_open(&obj, name.data());
  std::vector<std::array<float, 12>> facets;
  if (!obj.error)
    for (int i = 0; i < obj.stats.number_of_facets; ++i) {
      facets.emplace_back();
      std::memcpy(facets.back().data(), &obj.facet_start[i], sizeof(float) * 12);
    }
  if (obj.error && obj.fp) std::fclose(obj.fp);
  obj.fp = nullptr;
  stl_close(&obj);
  return facets;
}

void ExpectSameBits(const std::vector<std::array<float, 12>> &ours,
                    const std::vector<std::array<float, 12>> &library) {
  ASSERT_EQ(ours.size(), library.size());
  for (std::size_t f = 0; f < ours.size(); ++f)
    EXPECT_EQ(std::memcmp(ours[f].data(), library[f].data(), sizeof(float) * 12), 0)
        << "facet " << f;
}

} // namespace

// Text is read here and handed to the library in its binary layout. Whatever the file, the
// facets and the display model after the repair are bit for bit those the library makes of the
// text itself.
TEST(StlText, ReadsAsTheLibraryReadsTextBitForBit) {
  // The fixture always; the files written elsewhere where they are at hand.
  std::vector<std::string> files{SourcePath("tests/data/stl/odd_numbers.stl")};
  const bool real = RealWorldMissing().empty();
  if (!real && RealWorldRequired()) FAIL() << RealWorldMissing();
  if (real)
    for (const std::string &name : ListDir(RealWorld("stl")))
      files.push_back(RealWorld("stl/" + name));
  int compared = 0;
  for (const std::string &file : files) {
    const std::string text = ReadFile(file);
    STLFileCheck check;
    std::vector<std::array<float, 12>> ours = FacetsOf(text, &check);
    if (!check.ascii || check.facets == 0) continue;
    SCOPED_TRACE(file);
    ++compared;
    TempDir dir;
    const std::string libraryText = dir.write("library.stl", OneSolid(text));
    ExpectSameBits(ours, LibraryFacets(libraryText));

    Part want;
    {
      STLObjPtr obj(new STLObj);
      std::memset(obj.get(), 0, sizeof(STLObj));
      STLRepairObj(obj.get(), libraryText);
      Shape *shape = CreateShape(5);
      STLFormatObj(*obj, *shape);
      want = *shape->part;
      ReleaseShape();
    }
    dir.write("ours.stl", text);
    Loaded l;
    Load(l, dir, "ours.stl");
    const Part &got = *l.shape->part;
    ASSERT_EQ(got.facet_count, want.facet_count);
    EXPECT_EQ(std::memcmp(got.vertices.data(), want.vertices.data(),
                          want.vertices.size() * sizeof(Coord)),
              0);
    EXPECT_EQ(std::memcmp(got.polygon_normals.data(), want.polygon_normals.data(),
                          want.polygon_normals.size() * sizeof(Vector)),
              0);
  }
  EXPECT_EQ(compared, real ? 5 : 1); // the fixture and four real ascii files
}

// Numbers in every form the C library reads, rounded to single precision exactly as its own
// reading of the text does: short decimals, long ones, exponents far out (to subnormals, zero and
// infinity), hexadecimal, infinities and NaNs.
TEST(StlText, EveryNumberFormRoundsAsTheLibraryReadsIt) {
  std::mt19937_64 random(20240611);
  std::uniform_int_distribution<int> style(0, 11), exponent(-50, 45);
  std::uniform_real_distribution<double> mantissa(-10, 10);
  auto number = [&]() -> std::string {
    char buf[96];
    const double x = mantissa(random) * std::pow(10.0, exponent(random) / 4);
    switch (style(random)) {
    case 0:
      std::snprintf(buf, sizeof buf, "%e", x);
      break;
    case 1:
      std::snprintf(buf, sizeof buf, "%.9g", x);
      break;
    case 2:
      std::snprintf(buf, sizeof buf, "%f", x);
      break;
    case 3:
      std::snprintf(buf, sizeof buf, "%.17g", x);
      break;
    case 4:
      std::snprintf(buf, sizeof buf, "%.30e", x);
      break;
    case 5:
      std::snprintf(buf, sizeof buf, "%a", x);
      break;
    case 6:
      std::snprintf(buf, sizeof buf, "%.3E", mantissa(random) * std::pow(10.0, exponent(random)));
      break;
    case 7:
      std::snprintf(buf, sizeof buf, "%+.2f", x);
      break;
    case 8:
      std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(x * 1e6));
      break;
    case 9:
      std::snprintf(buf, sizeof buf, "%.6fe%d", mantissa(random), exponent(random));
      break;
    case 10: {
      const char *special[] = {
          "inf",   "-INF",     "nan",
          "-nan",  "Infinity", "1e-46",
          "-1e39", "1.4e-45",  "0.000000000000000000000000000000000000000000001"};
      return special[random() % 9];
    }
    default:
      std::snprintf(buf, sizeof buf, "%.1f", x);
      break;
    }
    return buf;
  };
  std::string text = "solid numbers\n";
  for (int f = 0; f < 12000; ++f) { // some 4 MB: read in several blocks
    text += "facet normal " + number() + " " + number() + " " + number() + "\nouter loop\n";
    for (int v = 0; v < 3; ++v)
      text += "vertex " + number() + " " + number() + " " + number() + "\n";
    text += "endloop\nendfacet\n";
  }
  text += "endsolid numbers\n";
  STLFileCheck check;
  std::vector<std::array<float, 12>> ours = FacetsOf(text, &check);
  ASSERT_EQ(check.error, "");
  TempDir dir;
  const std::string path = dir.write("numbers.stl", text);
  const std::vector<std::array<float, 12>> library = LibraryFacets(path);
  ExpectSameBits(ours, library);
  ExpectSameBits(FacetsOfFile(path), library);
}

// Long text is read by two walks, the second from a line in the middle. Solids, notes and
// errors on either side of that line come out as one walk from the start gives them.
TEST(StlText, LongTextReadInTwoHalvesAsInOne) {
  const int n = 70000; // some 17 MB
  auto facetText = [](int i) {
    char buf[320];
    std::snprintf(buf, sizeof buf,
                  "  facet normal 0.000000e+00 0.000000e+00 1.000000e+00\n    outer loop\n"
                  "      vertex %d.000000e+00 0.000000e+00 0.000000e+00\n"
                  "      vertex 0.000000e+00 %d.000000e+00 0.000000e+00\n"
                  "      vertex 0.000000e+00 0.000000e+00 %d.000000e+00\n"
                  "    endloop\n  endfacet\n",
                  i, i, i);
    return std::string(buf);
  };
  struct Case {
    const char *name;
    int solidSize;      // facets per solid
    int notesAfter;     // solid after which notes end the object, or -1
    int badFacet;       // facet written with a word that is no number, or -1
    bool nul;           // NUL bytes after the facets at the middle of the text
    int wideFacet = -1; // facet with megabytes of blanks inside, longer than a block read
  } cases[] = {
      {"one solid", n, -1, -1, false},
      {"many solids", 1000, -1, -1, false},
      {"notes end the object in the first half", 1000, 20, -1, false},
      {"error in the second half", n, -1, 2 * n / 3, false},
      {"error in the first half", n, -1, n / 3, false},
      {"NUL bytes at the middle", n, -1, -1, true},
      {"a facet longer than a block", 1000, -1, -1, false, n / 4},
  };
  TempDir dir;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string text;
    std::size_t errorAt = std::string::npos;
    int expected = 0;
    // The facet that holds the middle of the text, where the second walk looks for its start.
    int middle = -1;
    for (int pass = 0; pass < (c.nul ? 2 : 1); ++pass) {
      text = "solid big\n";
      std::vector<std::size_t> starts;
      expected = 0;
      bool ended = false;
      for (int i = 0; i < n; ++i) {
        if (i > 0 && i % c.solidSize == 0) {
          text += "endsolid big\n";
          if (i / c.solidSize == c.notesAfter) text += "written by a test\n", ended = true;
          text += "solid big\n";
        }
        std::string f = facetText(i);
        if (i == c.wideFacet) f.insert(f.find("outer"), std::string(3 << 20, ' '));
        if (i == c.badFacet) {
          errorAt = text.size() + f.find("vertex") + 7;
          f.replace(f.find("vertex") + 7, 1, "x");
        }
        starts.push_back(text.size());
        text += f;
        if (pass == 1 && i >= middle && i < middle + 3) {
          if (errorAt == std::string::npos) errorAt = text.size() - 1;
          text.back() = '\0', text += '\n';
        }
        expected += !ended;
      }
      text += "endsolid big\n";
      const std::size_t half = 10 + (text.size() - 10) / 2;
      middle = int(std::upper_bound(starts.begin(), starts.end(), half) - starts.begin()) - 1;
    }
    const std::string path = dir.write("big.stl", text);
    for (bool fromFile : {false, true}) {
      SCOPED_TRACE(fromFile ? "read from the file" : "in memory");
      STLFileCheck check;
      std::vector<std::array<float, 12>> facets =
          fromFile ? FacetsOfFile(path, &check) : FacetsOf(text, &check);
      if (errorAt != std::string::npos) {
        const long line = 1 + std::count(text.begin(), text.begin() + errorAt, '\n');
        EXPECT_NE(check.error.find(" on line " + std::to_string(line)), std::string::npos)
            << check.error;
        continue;
      }
      EXPECT_EQ(check.error, "");
      EXPECT_EQ(check.solids, c.notesAfter > 0 ? c.notesAfter : n / c.solidSize);
      ASSERT_EQ(facets.size(), std::size_t(expected));
      for (int i = 0; i < expected; ++i) ASSERT_EQ(facets[i][3], float(i)) << i;
    }
  }
}

// Broken cubes on which the library's hole filling never ended (a vertex so far out that the
// tolerance for nearby vertices overflows, and a corner a hair off): each run ends, with a
// message, and so does the same mesh with the far vertex only just within the float range.
TEST(StlCommandLine, MeshesTheRepairCannotHandleStopWithAMessage) {
  const std::string dir = SourcePath("tests/data/stl");
  for (const char *file : {"loop_far_vertex.stl", "loop_far_vertex2.stl"}) {
    RunResult r = RunMirandel({"--info", "-in", file}, {{"OBJ_PATH", true, dir}}, "", 60);
    EXPECT_FALSE(r.timedOut) << file;
    EXPECT_EQ(r.status, 1) << file << ": " << r.out;
    EXPECT_EQ(r.err.rfind("STLReadObj: " + std::string(file), 0), 0u) << r.err;
  }
  // Coordinates that are no numbers at all.
  TempDir tmp;
  std::vector<Tri> cube = Cube();
  cube[3][1][2] = std::numeric_limits<float>::infinity();
  cube[5][0][0] = std::numeric_limits<float>::quiet_NaN();
  tmp.write("inf.stl", BinarySTL(cube));
  RunResult r = RunMirandel({"--info", "-in", "inf.stl"}, {{"OBJ_PATH", true, tmp.path()}}, "", 60);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.err,
      "STLReadObj: inf.stl: facet 4: coordinate inf is not a finite single-precision number\n");
}

TEST(StlFormat, LargeMeshIsCopiedWholeAsItsFacetsAreGivenBack) {
  // Some 10 MB of facets: copied a block at a time, each block's pages given back behind the
  // copy, while the facet list and index pool are written beside it.
  const int n = 200003;
  STLObjPtr obj(new STLObj);
  std::memset(obj.get(), 0, sizeof(STLObj));
  obj->stats.number_of_facets = n;
  obj->facet_start = static_cast<stl_facet *>(std::calloc(n, sizeof(stl_facet)));
  obj->neighbors_start = static_cast<stl_neighbors *>(std::calloc(n, sizeof(stl_neighbors)));
  ASSERT_TRUE(obj->facet_start && obj->neighbors_start);
  std::mt19937 random(25);
  std::uniform_real_distribution<float> value(-1e3f, 1e3f);
  std::vector<float> want(std::size_t(n) * 12);
  for (int i = 0; i < n; ++i) {
    float *w = &want[std::size_t(i) * 12];
    for (int k = 0; k < 12; ++k) w[k] = value(random);
    stl_facet &f = obj->facet_start[i];
    f.normal = {w[0], w[1], w[2]};
    for (int j = 0; j < 3; ++j) f.vertex[j] = {w[3 + 3 * j], w[4 + 3 * j], w[5 + 3 * j]};
  }
  objName = "large.stl";
  Shape *shape = CreateShape(5);
  STLFormatObj(*obj, *shape);
  obj.reset();
  const Part &p = *shape->part;
  ASSERT_EQ(p.facet_count, uint32_t(n));
  ASSERT_EQ(p.vertex_count, uint32_t(3 * n));
  ASSERT_EQ(p.vertices.size(), std::size_t(3 * n));
  ASSERT_EQ(p.polygon_normals.size(), std::size_t(n));
  ASSERT_EQ(p.facets.size(), std::size_t(n));
  ASSERT_EQ(p.facet_vertex_pool.size(), std::size_t(3 * n));
  int wrong = 0;
  for (int i = 0; i < n; ++i) {
    const float *w = &want[std::size_t(i) * 12];
    const Vector &nv = p.polygon_normals[i];
    wrong += nv.x != w[0] || nv.y != w[1] || nv.z != w[2];
    wrong += p.facets[i].count != 3 || p.facets[i].first != uint32_t(3 * i);
    for (int j = 0; j < 3; ++j) {
      const Coord &c = p.vertices[std::size_t(3 * i + j)];
      wrong += c.x != w[3 + 3 * j] || c.y != w[4 + 3 * j] || c.z != w[5 + 3 * j];
      wrong += p.facet_vertex_pool[std::size_t(3 * i + j)] != uint32_t(3 * i + j);
    }
  }
  EXPECT_EQ(wrong, 0);
  ReleaseShape();
}

TEST(StlLoad, VertexFacetListsWaitForTheFirstFrame) {
  // No frame reads them: a run that shows no window never builds them, a window builds them once
  // its first frame is on the screen.
  TempDir dir;
  dir.write("cube.stl", BinarySTL(Cube()));
  setenv("OBJ_PATH", dir.path().c_str(), 1);
  ResetSearchDirs();
  objFolder = ObjectFolder();
  runOptions = RunOptions();
  runOptions.info = true;
  objName = "cube.stl";
  LoadObject(5);
  runOptions = RunOptions();
  Part &p = *currentShape->part;
  EXPECT_EQ(p.facet_count, 12u);
  EXPECT_EQ(p.scale_on, 1); // the fit is done
  EXPECT_TRUE(p.vertex_facets.empty());
  CompleteShownShape();
  ASSERT_EQ(p.vertex_facets.size(), 36u);
  ASSERT_EQ(p.vertex_facet_pool.size(), 36u);
  for (uint32_t v = 0; v < 36; ++v) {
    EXPECT_EQ(p.vertex_facets[v].count, 1u);
    EXPECT_EQ(p.vertexFacets(v)[0], v / 3);
  }
  p.vertex_facets.clear();
  CompleteShownShape(); // once only
  EXPECT_TRUE(p.vertex_facets.empty());
  ReleaseShape();
}

// Boundary patches of two to four facets (a strip of thin rectangles): nearby matching at the
// shortest edge folds them flat, and the removal would leave nothing. They keep their facets.
TEST(StlRepair, SmallOpenPatchesKeepTheirFacets) {
  const std::vector<Tri> strip = {{{{0, 0, 0}, {10, 0, 0}, {10, 1, 0}}},
                                  {{{0, 0, 0}, {10, 1, 0}, {0, 1, 0}}},
                                  {{{10, 0, 0}, {20, 0, 0}, {20, 1, 0}}},
                                  {{{10, 0, 0}, {20, 1, 0}, {10, 1, 0}}}};
  const std::vector<Tri> two(strip.begin(), strip.begin() + 2);
  TempDir dir;
  dir.write("two.stl", "solid p\n" + AsciiFacets(two) + "endsolid p\n");
  dir.write("four.stl", "solid p\n" + AsciiFacets(strip) + "endsolid p\n");
  dir.write("four_bin.stl", BinarySTL(strip));
  for (const char *name : {"two.stl", "four.stl", "four_bin.stl"}) {
    SCOPED_TRACE(name);
    Loaded l;
    Load(l, dir, name);
    ASSERT_GE(l.shape->part->facet_count, 2u);
    for (const Tri &t : name[0] == 't' ? two : strip) EXPECT_TRUE(HasTriangle(*l.shape->part, t));
  }
  RunResult r = RunMirandel({"--info", "-in", "four_bin.stl"}, {{"OBJ_PATH", true, dir.path()}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("this is wrong"), std::string::npos) << r.err;
}

// "facet" without "normal": the facet is read, its normal computed from its corners.
TEST(StlCheck, FacetWithoutNormal) {
  std::string text = "solid t\n facet\n  outer loop\n   vertex 0 0 0\n   vertex 1 0 0\n"
                     "   vertex 0 1 0\n  endloop\n endfacet\n"
                     " FACET NORMAL 0 0 1 outer loop vertex 0 0 0 vertex 1 0 0 vertex 1 1 0 "
                     "endloop endfacet\nendsolid t\n";
  std::vector<std::array<float, 12>> facets;
  STLFileCheck check = STLCheckFile(std::string_view(text), [&facets](const float *v) {
    std::array<float, 12> f;
    std::copy(v, v + 12, f.begin());
    facets.push_back(f);
  });
  EXPECT_EQ(check.error, "");
  ASSERT_EQ(facets.size(), 2u);
  EXPECT_EQ(facets[0][0], 0.0f);
  EXPECT_EQ(facets[0][5], 0.0f);
  EXPECT_EQ(facets[0][6], 1.0f);
  EXPECT_EQ(facets[1][2], 1.0f);
  EXPECT_NE(STLCheckFile(std::string_view("solid t\n facet outer vertex 0 0 0\nendsolid\n")).error,
            "");
  TempDir dir;
  dir.write("bare.stl", text);
  Loaded l;
  Load(l, dir, "bare.stl");
  ASSERT_GE(l.shape->part->facet_count, 2u); // and the hole filled
  for (const Vector &n : l.shape->part->polygon_normals) EXPECT_FLOAT_EQ(std::fabs(n.z), 1.0f);
}

// Where no /proc is mounted (containers, chroots) text STL still loads, and no message names a
// path of the program's own making.
TEST(StlRead, TextLoadsWithoutProc) {
  TempDir dir;
  dir.write("cube.stl", "solid c\n" + AsciiFacets(Cube()) + "endsolid c\n");
  RunResult probe = RunProgram({"unshare", "--mount", "true"});
  if (probe.status != 0) GTEST_SKIP() << "no mount namespace to hide /proc in: " << probe.err;
  RunResult r =
      RunProgram({"unshare", "--mount", "sh", "-c",
                  "mount -t tmpfs none /proc && exec \"$0\" --info -in cube.stl", MirandelBin()},
                 {{"OBJ_PATH", true, dir.path()}, {"ASAN_OPTIONS", true, "detect_leaks=0"}});
  EXPECT_NE(r.out.find("\n36 vertices\n12 polygons\n"), std::string::npos) << r.out << r.err;
  EXPECT_EQ(r.err.find("/proc/self/fd"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Couldn't open"), std::string::npos) << r.err;
}
