#include "part_reader_support.h"

#include <gtest/gtest.h>

using V = std::vector<uint32_t>;

TEST(TPOLYReader, EveryPointIsItsOwnVertex) {
  TempDir dir;
  // A triangle and a quadrilateral sharing the corner (1, 0, 0); with and without a final line end.
  const std::string body = "3\n0 0 0\n1 0 0\n0 1 0\n4\n1 0 0 2 0 0\n2 1 0 1 1 0";
  dir.write("shared_corner.tpoly", body);
  dir.write("final_newline.tpoly", body + "\n");
  for (const char *name : {"shared_corner.tpoly", "final_newline.tpoly"}) {
    auto part = ReadPartFrom(dir, name, TPOLYReadObj);
    ASSERT_EQ(part->vertex_count, 7u) << name;
    ASSERT_EQ(part->facet_count, 2u) << name;
    EXPECT_EQ(FacetIndices(*part, 0), (V{0, 1, 2}));
    EXPECT_EQ(FacetIndices(*part, 1), (V{3, 4, 5, 6}));
    EXPECT_EQ(part->vertices[1].x, part->vertices[3].x);
    EXPECT_EQ(part->vertices[6].y, 1.0f);
  }
  // Through the whole program.
  RunResult r =
      RunMirandel({"--info", "-in", "shared_corner.tpoly"}, {{"OBJ_PATH", true, dir.path()}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("7 vertices\n2 polygons\n"), std::string::npos) << r.out;
}

TEST(TPOLYReader, BrokenPolygonsEndTheRunInsteadOfLoopingOrZeroFilling) {
  TempDir dir;
  dir.write("truncated.tpoly", "3\n0 0 0\n1 0 0\n0 1 0\n4\n0 0 1\n1 0 1\n");
  dir.write("word_for_size.tpoly", "3\n0 0 0\n1 0 0\n0 1 0\nquad\n");
  dir.write("negative_size.tpoly", "-3\n0 0 0\n");
  dir.write("huge_size.tpoly", "2000000000000\n0 0 0\n");
  dir.write("word_for_point.tpoly", "3\n0 0 0\n1 zero 0\n0 1 0\n");
  struct Case {
    const char *file, *message;
  } cases[] = {
      {"truncated.tpoly", "the file ends inside polygon 2\n"},
      {"word_for_size.tpoly", "a point count was expected for polygon 2 at byte 20\n"},
      {"negative_size.tpoly", "polygon 1 has a negative point count\n"},
      {"huge_size.tpoly", "the file ends inside polygon 1\n"},
      {"word_for_point.tpoly", "polygon 1 has something other than a number at byte 10\n"},
  };
  for (const Case &c : cases) {
    Failure f = ReadPartFailure(dir, c.file, TPOLYReadObj);
    EXPECT_EQ(f.status, 1) << c.file;
    EXPECT_EQ(f.message, "TPOLYReadObj: " + dir.file(c.file) + ": " + c.message) << c.file;
  }
}
