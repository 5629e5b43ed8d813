#include "viewer/model/normalsObj.h"
#include "viewer/readers/readPLObj.h"
#include "support.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace {

std::unique_ptr<PolyList> Read(const std::string &text) {
  std::vector<char> data(text.begin(), text.end());
  return PLReadBuffer(data.data(), data.size(), "t.off");
}

PLStream Stream(const std::string &text) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text.data());
  return PLStream{p, p + text.size()};
}

std::string BigEndian(std::initializer_list<int32_t> ints) {
  std::string out;
  for (int32_t v : ints) {
    uint32_t u = static_cast<uint32_t>(v);
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((u >> shift) & 0xff);
  }
  return out;
}

std::string BigEndianF(std::initializer_list<float> floats) {
  std::string out;
  for (float f : floats) {
    int32_t bits;
    std::memcpy(&bits, &f, 4);
    out += BigEndian({bits});
  }
  return out;
}

const float kGrey = 170.0f / 255.0f;

} // namespace

TEST(OffScanner, FloatsFoldDigitsAndScaleByPowersOfTen) {
  std::string text = "1.5 -0.25e2 7 .5 3. 1e12 2E-3 123456789012 0.1234567890123 -";
  PLStream s = Stream(text);
  float v[10] = {};
  ASSERT_EQ(PLReadFloats(s, 10, v, false), 9);
  EXPECT_EQ(v[0], 1.5f);
  EXPECT_EQ(v[1], -25.0f);
  EXPECT_EQ(v[2], 7.0f);
  EXPECT_EQ(v[3], 0.5f);
  EXPECT_EQ(v[4], 3.0f);
  EXPECT_EQ(v[5], 1e12f);
  EXPECT_FLOAT_EQ(v[6], 0.002f);
  // Twelve digits fold once: 123456789 × 10^3 + 12 in single precision.
  EXPECT_EQ(v[7], 123456789.0f * 1000.0f + 12.0f);
  EXPECT_FLOAT_EQ(v[8], 0.1234567890123f);
  // A lone sign is no number; a missing exponent digit ends the read.
  std::string noExponent = "2e+ 4";
  PLStream e = Stream(noExponent);
  EXPECT_EQ(PLReadFloats(e, 2, v, false), 0);
}

TEST(OffScanner, PowersOfTenAndIntegers) {
  EXPECT_EQ(PLPow10(0), 1.0f);
  EXPECT_EQ(PLPow10(8), 1e8f);
  EXPECT_EQ(PLPow10(-3), 1.0f / 1000.0f);
  EXPECT_EQ(PLPow10(20), 1e4f * (1e8f * 1e8f));
  EXPECT_TRUE(std::isinf(PLPow10(60)));
  EXPECT_EQ(PLPow10(-60), 0.0f);

  std::string text = "-12\t34x";
  PLStream s = Stream(text);
  int32_t n[3] = {};
  EXPECT_EQ(PLReadInts(s, 3, n, false), 2);
  EXPECT_EQ(n[0], -12);
  EXPECT_EQ(n[1], 34);
  EXPECT_EQ(PLNextChar(s, 0), 'x'); // the character after a number stays unread

  std::string bin = BigEndian({-2, 70000}) + BigEndianF({1.25f}) + "ab";
  PLStream b = Stream(bin);
  EXPECT_EQ(PLReadInts(b, 2, n, true), 2);
  EXPECT_EQ(n[0], -2);
  EXPECT_EQ(n[1], 70000);
  float f[2];
  EXPECT_EQ(PLReadFloats(b, 2, f, true), 1); // two bytes left: no second float
  EXPECT_EQ(f[0], 1.25f);
}

TEST(OffScanner, NextCharCommentsNewlinesAndExpectString) {
  std::string text = "  # note\r\n\tOFX";
  PLStream s = Stream(text);
  EXPECT_EQ(PLNextChar(s, kPLStopAtComment), '#');
  EXPECT_EQ(PLNextChar(s, kPLStopAtNewline), '\n'); // the comment and the CR are skipped
  EXPECT_EQ(PLNextChar(s, 0), 'O');
  EXPECT_EQ(PLExpectString(s, "OFF"), 3);
  EXPECT_EQ(PLNextChar(s, 0), 'X'); // the differing character was pushed back
  std::string shortText = "OF";
  PLStream end = Stream(shortText);
  EXPECT_EQ(PLExpectString(end, "OFF"), 3);
  EXPECT_EQ(PLNextChar(end, 0), PL_EOF);
}

TEST(OffReader, HeadersAcceptedAndRefused) {
  const std::string tri = "3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
  for (const char *h : {"OFF", "COFF", "NOFF", "CNOFF", "SOFF"}) {
    std::string vert = std::string(h).find('N') != std::string::npos ? " 0 0 1" : "";
    std::string col = h[0] == 'C' ? " 1 0 0 1" : "";
    std::string text = std::string(h) + "\n3 1 0\n";
    for (int i = 0; i < 3; ++i)
      text += std::to_string(i == 1) + " " + std::to_string(i == 2) + " 0" + vert + col + "\n";
    text += "3 0 1 2\n";
    auto list = Read(text);
    ASSERT_TRUE(list) << h;
    EXPECT_EQ(list->vert_count, 3) << h;
  }
  auto four = Read("4OFF\n3 1 0\n0 0 0 2\n1 0 0 2\n0 1 0 2\n3 0 1 2\n");
  ASSERT_TRUE(four);
  EXPECT_EQ(four->verts[1].point[3], 2.0f);
  auto all = Read("CN4SOFF\n1 1 0\n1 2 3 4  0 0 1  .1 .2 .3 .4\n1 0\n");
  ASSERT_TRUE(all);
  EXPECT_EQ(all->verts[0].color[3], 0.4f);
  EXPECT_EQ(all->flags, kPLVertexNormals | kPLVertexColors);

  EXPECT_FALSE(Read("NCOFF\n" + tri));
  EXPECT_FALSE(Read("STOFF\n" + tri));
  EXPECT_FALSE(Read("PLY\n" + tri));
  EXPECT_FALSE(Read("OFF BINARY junk\n" + tri));

  // Without a header the counts come first, even a vertex count of 4.
  auto bare = Read(tri);
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->poly_count, 1);
  auto tetra = Read("4 4 6\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n3 0 2 1\n3 0 1 3\n3 1 2 3\n3 0 3 2\n");
  ASSERT_TRUE(tetra);
  EXPECT_EQ(tetra->vert_count, 4);
  EXPECT_EQ(tetra->verts[3].point[2], 1.0f);
  auto fortyTwo = Read("42 0 0\n" + std::string(42, '\n') + [] {
    std::string v;
    for (int i = 0; i < 42; ++i) v += "1 2 3\n";
    return v;
  }());
  ASSERT_TRUE(fortyTwo);
  EXPECT_EQ(fortyTwo->vert_count, 42);
}

TEST(OffReader, BinaryBodyIsBigEndianAndCommentKeepsAscii) {
  std::string body = BigEndian({3, 1, 0}) + BigEndianF({0, 0, 0, 1, 0, 0, 0, 1, 0}) +
                     BigEndian({3, 0, 1, 2, 3}) + BigEndianF({0.5f, 0.25f, 1.0f});
  auto list = Read("OFF BINARY\n" + body);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->verts[1].point[0], 1.0f);
  EXPECT_EQ(list->indices(0)[2], 2);
  EXPECT_EQ(list->polys[0].color[1], 0.25f);
  EXPECT_EQ(list->polys[0].color[3], kGrey);

  // More than four colour components, or data that stops early, is refused.
  std::string five = BigEndian({3, 1, 0}) + BigEndianF({0, 0, 0, 1, 0, 0, 0, 1, 0}) +
                     BigEndian({3, 0, 1, 2, 5}) + BigEndianF({1, 1, 1, 1, 1});
  EXPECT_FALSE(Read("OFF BINARY\n" + five));
  EXPECT_FALSE(Read("OFF BINARY\n" + body.substr(0, body.size() - 2)));

  auto ascii = Read("OFF # BINARY\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
  ASSERT_TRUE(ascii);
  EXPECT_EQ(ascii->verts[2].point[1], 1.0f);
}

TEST(OffReader, FaceColoursScaleAndDefault) {
  auto list = Read("OFF\n3 5 0\n0 0 0\n1 0 0\n0 1 0\n"
                   "3 0 1 2 255 0 0\n"
                   "3 0 1 2 1 0 0 1\n"
                   "3 0 1 2\n"
                   "3 0 1 2 0.2 0.4\n"
                   "3 0 1 2 7"); // a colour-map index, and no newline at the end
  ASSERT_TRUE(list);
  EXPECT_TRUE(list->flags & kPLPolygonColors);
  const float *c0 = list->polys[0].color;
  EXPECT_FLOAT_EQ(c0[0], 1.0f);
  EXPECT_EQ(c0[1], 0.0f);
  EXPECT_EQ(c0[3], kGrey);
  const float *c1 = list->polys[1].color;
  EXPECT_EQ(c1[0], 1.0f);
  EXPECT_EQ(c1[3], 1.0f);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(list->polys[2].color[i], kGrey);
  const float *c3 = list->polys[3].color;
  EXPECT_EQ(c3[2], 0.4f); // blue repeats green
  EXPECT_EQ(c3[3], kGrey);
  EXPECT_EQ(list->polys[4].color[0], 7.0f);
  EXPECT_EQ(list->polys[4].color[1], 0.0f);

  // Without any face colour the Part gets none.
  auto plain = Read("OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->flags & kPLPolygonColors);
  EXPECT_EQ(plain->polys[0].color[0], kGrey);
}

TEST(OffReader, LyingCountsAndIndicesAreRefused) {
  const std::string verts = "0 0 0\n1 0 0\n0 1 0\n";
  EXPECT_FALSE(Read("OFF\n3 1 0\n" + verts + "3 0 1 3\n"));  // index == vert_count
  EXPECT_FALSE(Read("OFF\n3 1 0\n" + verts + "3 0 -1 2\n")); // negative index
  EXPECT_FALSE(Read("OFF\n3 1 0\n" + verts + "0\n"));        // empty polygon
  EXPECT_FALSE(Read("OFF\n3 1 0\n" + verts + "-3 0 1 2\n")); // negative polygon size
  EXPECT_FALSE(Read("OFF\n3 1 0\n" + verts + "2000000000 0 1 2\n"));
  EXPECT_FALSE(Read("OFF\n-3 1 0\n" + verts + "3 0 1 2\n"));
  EXPECT_FALSE(Read("OFF\n3 -1 0\n" + verts));
  EXPECT_FALSE(Read("OFF\n2000000000 1 0\n" + verts + "3 0 1 2\n"));
  EXPECT_FALSE(Read("OFF\n3 900000000 0\n" + verts + "3 0 1 2\n"));
  EXPECT_FALSE(Read("OFF\n3 1\n"));
  EXPECT_FALSE(Read("OFF\n3 1 0\n0 0 0\n1 0\n"));               // short vertex
  EXPECT_FALSE(Read("OFF\n3 1 0\n" + verts + "3 0 1 2 1 x\n")); // unreadable colour
}

TEST(OffReader, CrLfReadsLikeLf) {
  std::string lf = "COFF\n# c\n3 1 0\n0 0 0 1 0 0 1\n1 0 0 0 1 0 1\n0 1 0 0 0 1 1\n3 0 1 2 # f\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  auto a = Read(lf), b = Read(crlf);
  ASSERT_TRUE(a);
  ASSERT_TRUE(b);
  ASSERT_EQ(a->verts.size(), b->verts.size());
  EXPECT_EQ(std::memcmp(a->verts.data(), b->verts.data(), a->verts.size() * sizeof(Vert)), 0);
  EXPECT_EQ(a->index_pool, b->index_pool);
  EXPECT_EQ(std::memcmp(a->polys[0].color, b->polys[0].color, sizeof(float) * 4), 0);

  auto facesCrLf = Read("OFF\r\n3 1 0\r\n0 0 0\r\n1 0 0\r\n0 1 0\r\n3 0 1 2 255 0 0\r\n");
  ASSERT_TRUE(facesCrLf);
  EXPECT_FLOAT_EQ(facesCrLf->polys[0].color[0], 1.0f);
}

TEST(OffFormat, IndexBaseColoursAndDroppedW) {
  // Indices 1..3 and never 0: one-based.
  auto oneBased = Read("4OFF\n4 1 0\n9 9 9 5\n0 0 0 5\n1 0 0 5\n0 1 0 5\n3 1 2 3 0 0 1\n");
  ASSERT_TRUE(oneBased);
  Shape *shape = CreateShape(2);
  PLFormatObj(*oneBased, *shape);
  const Part &p = *shape->part;
  EXPECT_EQ(p.facet_offset, 0);
  EXPECT_EQ(p.vertex_count, 4u);
  ASSERT_EQ(p.facet_count, 1u);
  EXPECT_EQ(p.facetVertices(0)[0], 0u);
  EXPECT_EQ(p.facetVertices(0)[2], 2u);
  EXPECT_EQ(p.vertices[2].x, 1.0f); // w is dropped, not divided by
  ASSERT_EQ(p.polygon_colors.size(), 1u);
  EXPECT_EQ(p.polygon_colors[0].b, 1.0f);
  EXPECT_TRUE(p.vertex_colors.empty());
  ReleaseShape();

  auto zeroBased = Read("COFF\n4 2 0\n0 0 0 1 0 0 1\n1 0 0 0 1 0 1\n0 1 0 0 0 1 1\n1 1 0 1 1 1 1\n"
                        "3 1 2 3 1 1 1\n3 0 1 2\n");
  ASSERT_TRUE(zeroBased);
  shape = CreateShape(2);
  PLFormatObj(*zeroBased, *shape);
  const Part &z = *shape->part;
  EXPECT_EQ(z.facetVertices(0)[0], 1u);
  EXPECT_EQ(z.facetVertices(1)[0], 0u);
  ASSERT_EQ(z.vertex_colors.size(), 4u);
  EXPECT_EQ(z.vertex_colors[2].b, 1.0f);
  EXPECT_TRUE(z.polygon_colors.empty()); // face colours of a COFF file are ignored
  ReleaseShape();

  // "S" without "N" brings no normals: the normals step computes them from the facets.
  auto smooth = Read("SOFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
  ASSERT_TRUE(smooth);
  EXPECT_FALSE(smooth->flags & kPLVertexNormals);
  shape = CreateShape(2);
  PLFormatObj(*smooth, *shape);
  ComputeFacetNormals(*shape->part);
  ComputeVertexNormals(*shape->part);
  ASSERT_EQ(shape->part->vertex_normals.size(), 3u);
  for (const Vector &n : shape->part->vertex_normals) EXPECT_EQ(n.z, 1.0f);
  ReleaseShape();
  // With "N" the file's normals stay as they are.
  auto given = Read("NSOFF\n3 1 0\n0 0 0 1 0 0\n1 0 0 1 0 0\n0 1 0 1 0 0\n3 0 1 2\n");
  ASSERT_TRUE(given);
  shape = CreateShape(2);
  PLFormatObj(*given, *shape);
  ComputeFacetNormals(*shape->part);
  ComputeVertexNormals(*shape->part);
  EXPECT_EQ(shape->part->vertex_normals[2].x, 1.0f);
  ReleaseShape();
}

TEST(OffReader, VertexColoursOfThreeOrFourValuesAndByteRange) {
  struct Case {
    const char *text;
    float second[4]; // the second vertex's colour
    float third[4];
  };
  const Case cases[] = {
      // Three values, alone or before a comment: alpha is opaque.
      {"COFF\n3 1 0\n0 0 0 1 0 0 # red\n1 0 0 0 .5 0\n0 1 0 0 0 1 #\n3 0 1 2\n",
       {0, .5f, 0, 1},
       {0, 0, 1, 1}},
      // Four values read as ever.
      {"COFF\n3 1 0\n0 0 0 1 0 0 .5\n1 0 0\t0 .5 0 .25\n0 1 0 0 0 1 .75 # c\n3 0 1 2\n",
       {0, .5f, 0, .25f},
       {0, 0, 1, .75f}},
      // Whole numbers up to 255 anywhere in the file: every vertex colour is scaled.
      {"COFF\n3 1 0\n0 0 0 192 192 192 255\n1 0 0 0 1 0\n0 1 0 255 0 0 # a comment\n3 0 1 2\n",
       {0, 1 / 255.0f, 0, 1 / 255.0f},
       {1, 0, 0, 1 / 255.0f}},
      // The last vertex may end the file.
      {"COFF\n3 0 0\n0 0 0 1 0 0\n1 0 0 0 1 0\n0 1 0 0 0 1", {0, 1, 0, 1}, {0, 0, 1, 1}},
  };
  for (const Case &c : cases) {
    auto list = Read(c.text);
    if (!list) {
      ADD_FAILURE() << c.text;
      continue;
    }
    for (int k = 0; k < 4; ++k) {
      EXPECT_FLOAT_EQ(list->verts[1].color[k], c.second[k]) << c.text << " " << k;
      EXPECT_FLOAT_EQ(list->verts[2].color[k], c.third[k]) << c.text << " " << k;
    }
    EXPECT_EQ(list->verts[2].point[1], 1.0f) << c.text;
  }
  // Three one-digit values per vertex and no faces fill the file exactly: not a lying count.
  EXPECT_TRUE(Read("COFF\n2 0 0\n0 0 0 1 1 1\n0 0 0 1 1 1\n"));
  EXPECT_FALSE(Read("COFF\n2 0 0\n0 0 0 1 1 1\n0 0 0 1 1\n"));
  EXPECT_FALSE(Read("COFF\n1 0 0\n0 0 0 1 1 1 x\n"));

  // Binary colours keep their four values.
  std::string bin = "COFF BINARY\n" + BigEndian({1, 0, 0}) + BigEndianF({0, 0, 0, .5f, .25f, 0, 1});
  auto binary = Read(bin);
  ASSERT_TRUE(binary);
  EXPECT_EQ(binary->verts[0].color[1], .25f);
  EXPECT_EQ(binary->verts[0].color[3], 1.0f);
  EXPECT_FALSE(Read(bin.substr(0, bin.size() - 4)));
}

// Files written elsewhere: one with bytes 0-255 shows its colours, not white; one with fractions
// keeps them as they are.
TEST(OffReader, ColoursOfFilesWrittenElsewhere) {
  REQUIRE_REALWORLD();
  auto cactus = Read(ReadFile(RealWorld("off/cgal-cactus.off")));
  ASSERT_TRUE(cactus);
  EXPECT_FLOAT_EQ(cactus->verts[0].color[0], 192 / 255.0f);
  EXPECT_FLOAT_EQ(cactus->verts[0].color[3], 1.0f);
  auto floats = Read(ReadFile(RealWorld("off/gv-vertcube.off")));
  ASSERT_TRUE(floats);
  EXPECT_EQ(floats->verts[1].color[2], 0.8f);
  EXPECT_EQ(floats->verts[1].color[3], 0.75f);
}

TEST(OffCommandLine, RealFilesLoadWithTheirCounts) {
  REQUIRE_REALWORLD();
  struct Case {
    const char *file;
    int vertices, polygons;
  } cases[] = {
      {"gv-vertcube.off", 8, 6},      {"gv-facecube.off", 8, 6},
      {"gv-hypercube.off", 16, 12},   {"gv-cube1-noheader.off", 8, 6},
      {"gv-office.off", 6878, 3460},  {"cgal-cactus.off", 620, 1236},
      {"trimesh-comments.off", 8, 6},
  };
  for (const Case &c : cases) {
    RunResult r = RunMirandel({"--info", "-in", c.file}, {{"OBJ_PATH", true, RealWorld("off")}});
    EXPECT_EQ(r.status, 0) << c.file << ": " << r.err;
    EXPECT_NE(r.out.find(std::to_string(c.vertices) + " vertices\n"), std::string::npos) << c.file;
    EXPECT_NE(r.out.find(std::to_string(c.polygons) + " polygons\n"), std::string::npos) << c.file;
  }
  RunResult huge = RunMirandel({"--info", "-in", "assimp-OutOfMemory.off"},
                               {{"OBJ_PATH", true, RealWorld("invalid")}});
  EXPECT_EQ(huge.status, 1);
  EXPECT_EQ(huge.err, "PolyList assimp-OutOfMemory.off: Bad vertex/face/edge counts\n"
                      "PLReadObj: assimp-OutOfMemory.off is not a readable OFF object\n");
}

TEST(OffCommandLine, BadFilesEndWithAMessageAndStatusOne) {
  TempDir dir;
  dir.write("bad_index.off", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 3\n");
  RunResult bad = RunMirandel({"--info", "-in", "bad_index.off"}, {{"OBJ_PATH", true, dir.path()}});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "PolyList: bad_index.off: bad index 3 on 1'th polygon (of 3)\n"
                     "PLReadObj: bad_index.off is not a readable OFF object\n");

  dir.write("not_off.off", "solid x\n");
  RunResult notOff =
      RunMirandel({"--info", "-in", "not_off.off"}, {{"OBJ_PATH", true, dir.path()}});
  EXPECT_EQ(notOff.status, 1);
  EXPECT_EQ(notOff.err, "PLReadObj: not_off.off is not a readable OFF object\n");
}

// Colours where the header does not say: r g b (and maybe a) after the point on each vertex line
// of a plain "OFF"; a "COFF" colour's four values written across a line break.
TEST(OffReader, VertexColoursWhereTheyStand) {
  struct Case {
    const char *text;
    float third[4]; // the third vertex's colour
    float lastX;    // the last vertex's x
  };
  const Case cases[] = {
      {"OFF\n4 1 0\n0 0 0 1 0 0\n1 0 0 0 1 0\n1 1 0 0 0 1\n0 1 0 1 1 1\n4 0 1 2 3\n",
       {0, 0, 1, 1},
       0},
      {"OFF\n4 1 0\n0 0 0 255 0 0 255\n1 0 0 0 255 0 255 # g\n\n1 1 0 0 0 255 128\n"
       "2 1 0 255 255 255 255\n4 0 1 2 3\n",
       {0, 0, 1, 128 / 255.0f},
       2},
      {"COFF\n4 1 0\n0 0 0 1 0 0\n.5\n1 0 0 0 1 0\n.5\n1 1 0 0 0 1\n.5\n3 1 0 1 1 1\n.5\n"
       "4 0 1 2 3\n",
       {0, 0, 1, .5f},
       3},
      {"COFF\n4 1 0\n0 0 0 1 0\n0 .5 1 0 0 0\n1 0 .5 1 1 0 0\n0 1 .5 4 1 0 1\n1 1 .5\n4 0 1 2 3\n",
       {0, 0, 1, .5f},
       4},
  };
  for (const Case &c : cases) {
    auto list = Read(c.text);
    if (!list) {
      ADD_FAILURE() << c.text;
      continue;
    }
    EXPECT_TRUE(list->flags & kPLVertexColors) << c.text;
    for (int k = 0; k < 4; ++k) EXPECT_FLOAT_EQ(list->verts[2].color[k], c.third[k]) << c.text;
    EXPECT_EQ(list->verts[3].point[0], c.lastX) << c.text;
    ASSERT_EQ(list->poly_count, 1) << c.text;
    EXPECT_EQ(list->indices(0)[3], 3) << c.text;
  }
  // Two points a line are points, not colours; a plain file's face colours still count.
  auto packed = Read("OFF\n4 1 0\n0 0 0 1 0 0\n1 1 0 0 1 0\n4 0 1 2 3 1 0 0\n");
  ASSERT_TRUE(packed);
  EXPECT_FALSE(packed->flags & kPLVertexColors);
  EXPECT_EQ(packed->verts[3].point[1], 1.0f);
  auto both = Read("OFF\n3 1 0\n0 0 0 1 0 0\n1 0 0 0 1 0\n0 1 0 0 0 1\n3 0 1 2 0 0 1\n");
  ASSERT_TRUE(both);
  EXPECT_EQ(both->flags, kPLVertexColors | kPLPolygonColors);
  EXPECT_EQ(both->polys[0].color[2], 1.0f);
}
