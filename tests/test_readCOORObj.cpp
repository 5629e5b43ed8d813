#include "part_reader_support.h"

#include <gtest/gtest.h>

#include <cstring>

using V = std::vector<uint32_t>;

static const char *kSquare = "1,0,0,0\n2,1,0,0\n3,1,1,0\n4,0,1,0\n";

static std::string BigEndian(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(u >> (24 - 8 * i));
  return s;
}

TEST(COORReader, RecordsPolygonsAndPartColours) {
  TempDir dir;
  // Vertex numbers are labels only; a blank may follow a comma. Records run over lines; one
  // without vertex numbers is no polygon.
  dir.write("plate.coor", "7,1.0,2.0,3.0\n9,4, 5,6\n1,7,8,9\n2,0,0,1\n");
  dir.write("plate.elem", "plate 1 2\n3 4\nbolt 2 3 4\nlabel\nplate 4 3 2\n");
  auto part = ReadPartFrom(dir, "plate.coor", COORReadObj);
  ASSERT_EQ(part->vertex_count, 4u);
  EXPECT_EQ(part->vertices[0].x, 1.0f);
  EXPECT_EQ(part->vertices[0].z, 3.0f);
  EXPECT_EQ(part->vertices[1].y, 5.0f);
  ASSERT_EQ(part->facet_count, 3u);
  EXPECT_EQ(FacetIndices(*part, 0), (V{0, 1, 2, 3}));
  EXPECT_EQ(FacetIndices(*part, 1), (V{1, 2, 3}));
  EXPECT_EQ(FacetIndices(*part, 2), (V{3, 2, 1}));
  EXPECT_TRUE(part->vertex_colors.empty());
  EXPECT_TRUE(part->vertex_normals.empty());
  ASSERT_EQ(part->polygon_colors.size(), 3u);
  const ColorRGB &a = part->polygon_colors[0], &b = part->polygon_colors[1],
                 &c = part->polygon_colors[2];
  EXPECT_TRUE(a.r == c.r && a.g == c.g && a.b == c.b);
  EXPECT_FALSE(a.r == b.r && a.g == b.g && a.b == b.b);
  for (const ColorRGB &k : part->polygon_colors)
    for (float v : {k.r, k.g, k.b}) EXPECT_TRUE(v >= 0.0f && v <= 1.0f) << v;
}

TEST(COORReader, SideFilesGiveNormalsAndColoursAndChangeOwner) {
  TempDir dir;
  dir.write("lit.coor", kSquare);
  dir.write("lit.elem", "face 1 2 3 4\n");
  dir.write("lit.vnorm", "0 0 1\n0 0 1\n0 0.6 0.8\n0 0 -1\n");
  // Colours for the first two vertices and half of the third: the rest get the missing colour.
  std::string rgba;
  for (float f : {0.25f, 0.5f, 0.75f, 1.0f, 1.0f, 0.0f, 0.125f, 0.5f, 0.9f, 0.9f})
    rgba += BigEndian(f);
  dir.write("lit.rgba", rgba);
  auto part = ReadPartFrom(dir, "lit.coor", COORReadObj);
  ASSERT_EQ(part->vertex_normals.size(), 4u);
  EXPECT_EQ(part->vertex_normals[2].y, 0.6f);
  EXPECT_EQ(part->vertex_normals[3].z, -1.0f);
  ASSERT_EQ(part->vertex_colors.size(), 4u);
  EXPECT_TRUE(part->polygon_colors.empty());
  const ColorRGB &c0 = part->vertex_colors[0], &c1 = part->vertex_colors[1];
  EXPECT_EQ(c0.r, 0.25f);
  EXPECT_EQ(c0.g, 0.5f);
  EXPECT_EQ(c0.b, 0.75f);
  EXPECT_EQ(c1.b, 0.125f);
  for (int v : {2, 3}) {
    EXPECT_EQ(part->vertex_colors[v].r, 1.0f);
    EXPECT_EQ(part->vertex_colors[v].g, 0.2f);
    EXPECT_EQ(part->vertex_colors[v].b, 0.5f);
  }

  CreateShape(kTypeCOOR);
  COORFormatObj(*part, *currentShape);
  const Part &p = *currentShape->part;
  EXPECT_EQ(p.facet_offset, 0);
  EXPECT_EQ(p.vertex_normals.size(), 4u);
  EXPECT_EQ(p.vertex_colors.size(), 4u);
  EXPECT_EQ(p.facet_count, 1u);
  ReleaseShape();

  // The whole program keeps the file's normals and shows the counts.
  RunResult r = RunMirandel({"--info", "-in", "lit.coor"}, {{"OBJ_PATH", true, dir.path()}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("4 vertices\n1 polygons\n"), std::string::npos) << r.out;
}

TEST(COORReader, NoFixedLimitsOnPolygonsOrPartNames) {
  TempDir dir;
  std::string coor, elem;
  for (int i = 1; i <= 100; ++i)
    coor +=
        std::to_string(i) + "," + std::to_string(i % 10) + "," + std::to_string(i / 10) + ",0\n";
  std::string longName(2000, 'n');
  elem += longName + "A";
  for (int i = 1; i <= 100; ++i) elem += " " + std::to_string(i);
  elem += "\n" + longName + "B 1 2 3\n";
  for (int i = 0; i < 200; ++i) elem += "part" + std::to_string(i) + " 1 2 3\n";
  elem += longName + "A 3 2 1\n";
  dir.write("many.coor", coor);
  dir.write("many.elem", elem);
  auto part = ReadPartFrom(dir, "many.coor", COORReadObj);
  ASSERT_EQ(part->facet_count, 203u);
  EXPECT_EQ(part->facets[0].count, 100u);
  EXPECT_EQ(FacetIndices(*part, 0)[99], 99u);
  // Long names that differ only at their end are two parts; the same long name is one.
  const ColorRGB &first = part->polygon_colors[0], &last = part->polygon_colors[202];
  EXPECT_TRUE(first.r == last.r && first.g == last.g && first.b == last.b);
}

TEST(COORReader, BadFileSetsEndTheRun) {
  TempDir dir;
  struct Case {
    const char *stem, *coor, *elem, *vnorm, *message;
  } cases[] = {
      {"blank_before_comma", "1,0,0,0\n2 ,1,0,0\n", "p 1 2\n", nullptr,
       "COORReadObj: read error getting polygon input\n"},
      {"trailing_word", "1,0,0,0\nend\n", "p 1\n", nullptr, "COORReadObj: unexpected more input\n"},
      {"ends_after_number", "1,0,0,0\n2", "p 1\n", nullptr,
       "COORReadObj: unexpected end of input\n"},
      {"ends_after_comma", "1,0,0,0\n2,\n", "p 1\n", nullptr,
       "COORReadObj: unexpected end of input\n"},
      {"two_coordinates", "1,0,0\n", "p 1\n", nullptr,
       "COORReadObj: read error getting polygon input\n"},
      {"short_vnorm", kSquare, "p 1 2 3\n", "0 0 1\n0 0 1\n0 0 1\n0 0\n",
       "COORReadObj: read error in .vnorm file\n"},
      {"vertex_zero", kSquare, "p 1 2 3\nq 0 1 2\n", nullptr,
       "polygon 2 uses vertex number 0, outside 1 to 4\n"},
      {"vertex_beyond", kSquare, "p 1 2 5\n", nullptr,
       "polygon 1 uses vertex number 5, outside 1 to 4\n"},
      {"no_elem", kSquare, nullptr, nullptr, "not found\n"},
  };
  for (const Case &c : cases) {
    std::string stem = c.stem;
    dir.write(stem + ".coor", c.coor);
    if (c.elem) dir.write(stem + ".elem", c.elem);
    if (c.vnorm) dir.write(stem + ".vnorm", c.vnorm);
    Failure f = ReadPartFailure(dir, stem + ".coor", COORReadObj);
    EXPECT_EQ(f.status, 1) << stem;
    std::string expected = c.message;
    if (expected.rfind("polygon", 0) == 0)
      expected = "COORReadObj: " + dir.file(stem + ".elem") + ": " + expected;
    else if (expected == "not found\n")
      expected = "COORReadObj: " + dir.file(stem + ".elem") + " not found\n";
    EXPECT_EQ(f.message, expected) << stem;
  }
}
