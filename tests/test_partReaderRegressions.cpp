// Inputs the fuzz targets turned up, kept with the answer each must go on giving.
#include "support.h"

#include <gtest/gtest.h>

namespace {
struct Regression {
  const char *dir, *file;
  int status;
  const char *output; // the counts on stdout for status 0, the message after "Reader: path: "
};
} // namespace

TEST(PartReaderRegressions, FuzzFindsKeepTheirAnswers) {
  const Regression cases[] = {
      {"byu", "negative_polygon_count.byu", 1,
       "negative count in the header (1 vertices, -2 polygons)\n"},
      {"byu", "truncated_vertices.byu", 1, "the file ends before its 5 vertices\n"},
      {"byu", "vertex_number_beyond_count.byu", 1,
       "polygon 1 uses vertex number 3, outside 1 to 2\n"},
      {"byu", "garbage_in_connectivity.byu", 0, "4 vertices\n2 polygons\n"},
      {"tpoly", "negative_point_count.tpoly", 1, "polygon 2 has a negative point count\n"},
      {"tpoly", "truncated_polygon.tpoly", 1, "the file ends inside polygon 1\n"},
      {"tpoly", "word_after_polygon.tpoly", 1,
       "a point count was expected for polygon 2 at byte 21\n"},
      {"coor", "number_beyond_vertices.coor", 1,
       "polygon 1 uses vertex number 230, outside 1 to 4\n"},
      {"coor", "empty_vnorm.coor", 1, "read error in .vnorm file\n"},
      {"coor", "stray_words_in_elem.coor", 0, "3 vertices\n2 polygons\n"},
  };
  for (const Regression &c : cases) {
    std::string dir = SourcePath(std::string("tests/data/") + c.dir);
    RunResult r = RunMirandel({"--info", "-in", c.file}, {{"OBJ_PATH", true, dir}});
    EXPECT_EQ(r.status, c.status) << c.file << ": " << r.err;
    if (c.status == 0) {
      EXPECT_NE(r.out.find(c.output), std::string::npos) << c.file << ": " << r.out;
      continue;
    }
    std::string reader = std::string(c.dir) == "byu"     ? "BYUReadObj: "
                         : std::string(c.dir) == "tpoly" ? "TPOLYReadObj: "
                                                         : "COORReadObj: ";
    std::string path = dir + "/" + c.file;
    if (std::string(c.output).rfind("polygon 1 uses", 0) == 0 && std::string(c.dir) == "coor")
      path = path.substr(0, path.size() - 5) + ".elem";
    std::string expected = reader + path + ": " + c.output;
    // The .vnorm message names no file.
    if (std::string(c.output).rfind("read error", 0) == 0) expected = reader + c.output;
    EXPECT_EQ(r.err, expected) << c.file;
  }
}
