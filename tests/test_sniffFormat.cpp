// The format of a file told by its start and size.
#include "viewer/shell/sniffFormat.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

std::string BinaryStlStart(const char *header, uint32_t facets) {
  std::string s(header);
  s.resize(80, ' ');
  s.append(reinterpret_cast<const char *>(&facets), 4);
  return s;
}

std::string Chunk3ds(unsigned id, uint32_t length, unsigned first) {
  std::string s;
  s += char(id & 0xff), s += char(id >> 8);
  s.append(reinterpret_cast<const char *>(&length), 4);
  s += char(first & 0xff), s += char(first >> 8);
  s.append(10, '\0');
  return s;
}

} // namespace

TEST(SniffFormat, MagicWordsAndSizeRules) {
  struct Case {
    std::string start;
    uint64_t size;
    bool sizeKnown;
    const char *ext;
  } cases[] = {
      {"ply\nformat ascii 1.0\n", 0, false, ".ply"},
      {"ply\r\nformat ascii 1.0\r\n", 0, false, ".ply"},
      {"plywood\n", 0, false, ""},
      {"#VRML V2.0 utf8\n", 0, false, ".wrl"},
      {"#VRML V1.0 ascii\n", 0, false, ".wrl"},
      {"OFF\n8 6 0\n", 0, false, ".off"},
      {"# made here\n\nCNOFF\n", 0, false, ".off"},
      {"4OFF 3 1 0", 0, false, ".off"},
      {"OFFICE\n", 0, false, ""},
      {"NCOFF\n", 0, false, ""},
      {"solid part\n facet normal 0 0 1\n", 0, false, ".stl"},
      {"solid\nendsolid\n", 0, false, ".stl"},
      {"solidity of the argument\n", 0, false, ""},
      // A binary STL whose header begins with "solid": the size decides, and only when known.
      {BinaryStlStart("solid by a CAD tool", 2), 184, true, ".stl"},
      {BinaryStlStart("solid by a CAD tool", 2), 185, true, ""},
      {BinaryStlStart("solid by a CAD tool", 2), 184, false, ""},
      {Chunk3ds(0x4D4D, 16, 0x0002), 16, true, ".3ds"},
      {Chunk3ds(0x4D4D, 16, 0x3D3D), 4000, true, ".3ds"},
      {Chunk3ds(0x4D4D, 16, 0x1234), 4000, true, ""},
      {Chunk3ds(0x4D4D, 16, 0x0002), 16, false, ""},
      {"", 0, true, ""},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ExtensionOfContents(c.start, c.size, c.sizeKnown), c.ext) << c.start;
}
