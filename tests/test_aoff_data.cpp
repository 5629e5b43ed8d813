// The AOFF data-file readers, the header line parser and the conversion, in process.
#include "viewer/aoff/readAOFFObj.h"

#include "base/fatal.h"
#include "viewer/readers/findObj.h"
#include "viewer/shell/shell.h"
#include "support.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace {

struct Bytes {
  std::string b;
  Bytes &u32(uint32_t v) {
    for (int k = 0; k < 4; ++k) b += char(v >> (8 * k));
    return *this;
  }
  Bytes &f32(float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    return u32(v);
  }
  Bytes &i16(int16_t v) {
    b += char(v & 0xff);
    b += char((v >> 8) & 0xff);
    return *this;
  }
  Bytes &raw(const std::string &s) {
    b += s;
    return *this;
  }
};

int Read(AOFFProp &prop, int kind, const std::string &data, const std::string &format) {
  prop.format = format;
  std::vector<char> v(data.begin(), data.end());
  return ReadAOFFData(prop, kind, v, "x.dat");
}

} // namespace

TEST(AOFFData, RecordLayouts) {
  RecordLayout L;
  ASSERT_TRUE(ComputeRecordLayout("bh", L));
  EXPECT_EQ(L.offsets, (std::vector<uint32_t>{0, 2}));
  EXPECT_EQ(L.size, 4u);
  ASSERT_TRUE(ComputeRecordLayout("hf", L));
  EXPECT_EQ(L.offsets[1], 4u);
  EXPECT_EQ(L.size, 8u);
  ASSERT_TRUE(ComputeRecordLayout("bbb", L));
  EXPECT_EQ(L.size, 4u);
  EXPECT_EQ(L.tail, 1u);
  ASSERT_TRUE(ComputeRecordLayout("bd", L)); // doubles align to 4
  EXPECT_EQ(L.offsets[1], 4u);
  EXPECT_EQ(L.size, 12u);
  EXPECT_FALSE(ComputeRecordLayout("fx", L));
  EXPECT_FALSE(ComputeRecordLayout("", L));
  EXPECT_FALSE(ComputeRecordLayout(std::string(31, 'f'), L));
}

TEST(AOFFData, TextAndBinaryFormsReadAlike) {
  AOFFProp t, b;
  ASSERT_EQ(Read(t, kAOFFIndexedPoly, "OFF 4 1 4\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n4 1 2 3 4\n", "fff"),
            0);
  Bytes bin;
  bin.u32(0xFEEDFEED).u32(4).u32(1).u32(4);
  for (float f : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 1.f, 1.f, 0.f, 0.f, 1.f, 0.f}) bin.f32(f);
  bin.i16(4).i16(1).i16(2).i16(3).i16(4);
  ASSERT_EQ(Read(b, kAOFFIndexedPoly, bin.b, "fff"), 0);
  for (AOFFProp *p : {&t, &b}) {
    EXPECT_EQ(p->count, 4);
    EXPECT_EQ(p->value.records, 4u);
    EXPECT_EQ(p->value.polygons, 1u);
    EXPECT_EQ(p->value.total, 4u);
    EXPECT_EQ(p->value.sizes, (std::vector<int32_t>{4}));
    EXPECT_EQ(p->value.indices, (std::vector<int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(p->value.Number(2, 1), 1.0);
    EXPECT_EQ(p->value.Number(3, 0), 0.0);
  }
  // A big-endian file does not carry the magic in this byte order: it is read as text and fails.
  Bytes be;
  be.raw(std::string("\xBE\xEF\xBE\xEF", 4)).u32(2 << 24);
  AOFFProp g;
  EXPECT_EQ(Read(g, kAOFFGeneric, be.b, "fff"), -1);
}

TEST(AOFFData, BinaryGenericSizesAndTexts) {
  // Two "fff" records: 4 + 4 + 24 bytes, no more.
  Bytes two;
  two.u32(0xBEEFBEEF).u32(2);
  for (int k = 0; k < 6; ++k) two.f32(float(k));
  AOFFProp p;
  ASSERT_EQ(Read(p, kAOFFGeneric, two.b, "fff"), 0);
  EXPECT_EQ(p.value.Number(1, 2), 5.0);
  std::string shortOne = two.b.substr(0, two.b.size() - 1);
  EXPECT_EQ(Read(p, kAOFFGeneric, shortOne, "fff"), -1);

  // "sb": text "ab" (length 3, a, b, zero, one padding byte), then a byte and the tail padding.
  Bytes s;
  s.u32(0xBEEFBEEF).u32(2);
  s.u32(3).raw(std::string("ab\0\0", 4)).raw(std::string("\x07\0\0\0", 4));
  s.u32(1).raw(std::string("\0\0\0\0", 4)).raw(std::string("\x09\0\0\0", 4));
  ASSERT_EQ(Read(p, kAOFFGeneric, s.b, "sb"), 0);
  ASSERT_NE(p.value.Text(0, 0), nullptr);
  EXPECT_EQ(*p.value.Text(0, 0), "ab");
  EXPECT_EQ(p.value.Number(0, 1), 7.0);
  EXPECT_EQ(*p.value.Text(1, 0), "");
  EXPECT_EQ(p.value.Number(1, 1), 9.0);

  // Indexed with "bbb": the records without padding between them, one padding run, then indices.
  Bytes ix;
  ix.u32(0xBADBADBA).u32(2).u32(3).raw(std::string("\x01\x02\x03\0\x04\x05\x06\0", 8));
  ix.raw(std::string(1, '\0')).i16(1).i16(2).i16(1);
  ASSERT_EQ(Read(p, kAOFFIndexed, ix.b, "bbb"), 0);
  EXPECT_EQ(p.value.Number(1, 2), 6.0);
  EXPECT_EQ(p.value.indices, (std::vector<int32_t>{1, 2, 1}));
}

TEST(AOFFData, CountsTheFileCannotHoldAreRefusedBeforeAllocating) {
  AOFFProp p;
  Bytes huge;
  huge.u32(0xBEEFBEEF).u32(2000000000);
  huge.raw(std::string(32, '\0'));
  EXPECT_EQ(Read(p, kAOFFGeneric, huge.b, "fff"), -1);
  EXPECT_EQ(Read(p, kAOFFGeneric, "2000000000\n1 2 3\n", "fff"), -1);
  EXPECT_EQ(Read(p, kAOFFGeneric, "-1\n", "fff"), -1);
  Bytes poly;
  poly.u32(0xFEEDFEED).u32(0).u32(0x7fffffff).u32(0x7fffffff);
  EXPECT_EQ(Read(p, kAOFFIndexedPoly, poly.b, "fff"), -1);
  // A text length past the file, or of zero, is refused too.
  Bytes text;
  text.u32(0xBEEFBEEF).u32(1).u32(0x7fffffff).raw("abcd");
  EXPECT_EQ(Read(p, kAOFFGeneric, text.b, "s"), -1);
  // Empty generic file of zero records is fine.
  ASSERT_EQ(Read(p, kAOFFGeneric, "0\n", "fff"), 0);
  EXPECT_EQ(p.value.records, 0u);
}

TEST(AOFFData, TextRecordsOfEveryLetter) {
  AOFFProp p;
  ASSERT_EQ(Read(p, kAOFFGeneric, "1\n300 -2 70000 1.5 2.25 word\n", "bhifds"), 0);
  EXPECT_EQ(p.value.Number(0, 0), 44.0); // the low 8 bits of 300
  EXPECT_EQ(p.value.Number(0, 1), -2.0);
  EXPECT_EQ(p.value.Number(0, 2), 70000.0);
  EXPECT_EQ(p.value.Number(0, 3), 1.5);
  EXPECT_EQ(p.value.Number(0, 4), 2.25);
  EXPECT_EQ(*p.value.Text(0, 5), "word");
  EXPECT_EQ(Read(p, kAOFFGeneric, "1\n1 2\n", "fff"), -1);          // ends early
  EXPECT_EQ(Read(p, kAOFFGeneric, "1\n1 2 3x\n", "fff"), -1);       // not a number
  EXPECT_EQ(Read(p, kAOFFGeneric, "1\n1 2 3\n", "fx"), -1);         // bad letter
  EXPECT_EQ(Read(p, kAOFFIndexed, "1 1\n1 2 3\n1.5\n", "fff"), -1); // index not an integer
}

TEST(AOFFHeader, SplitFirstWord) {
  EXPECT_EQ(SplitFirstWord("  ,scale\t default fff 1 2  \n"),
            (std::pair<std::string, std::string>{"scale", "default fff 1 2  "}));
  EXPECT_EQ(SplitFirstWord("#note here"), (std::pair<std::string, std::string>{"#", "note here"}));
  EXPECT_EQ(SplitFirstWord("   # note\n"), (std::pair<std::string, std::string>{"#", "note"}));
  EXPECT_EQ(SplitFirstWord("nl\n"), (std::pair<std::string, std::string>{"nl", ""}));
}

TEST(AOFFHeader, DefaultValuesAndKinds) {
  ObjDesc d;
  auto parse = [&](const std::string &line) {
    auto [w, rest] = SplitFirstWord(line);
    return ParseAOFFProp(d, w, rest, "");
  };
  ASSERT_EQ(parse("scale default fff 0.5 0.5 0.5\n"), 0);
  const AOFFValue &v = d.props.back().value;
  EXPECT_EQ(d.props.back().kind, kAOFFDefault);
  EXPECT_EQ(d.props.back().count, 1);
  float f[3];
  std::memcpy(f, v.bytes.data(), 12);
  EXPECT_EQ(f[0], 0.5f);
  EXPECT_EQ(f[2], 0.5f);
  ASSERT_EQ(parse("translate default fff 1,2\n"), 0);
  EXPECT_EQ(d.props.back().value.Number(0, 1), 2.0);
  EXPECT_EQ(d.props.back().value.Number(0, 2), 0.0);
  ASSERT_EQ(parse("label default ss left,x right\n"), 0);
  EXPECT_EQ(*d.props.back().value.Text(0, 0), "left,x");
  EXPECT_EQ(*d.props.back().value.Text(0, 1), "right");
  // A text slot sits right after the value before it; the next number is aligned again.
  ASSERT_EQ(parse("mixed default bsf 1 t 2.5\n"), 0);
  EXPECT_EQ(d.props.back().value.layout.offsets, (std::vector<uint32_t>{0, 1, 8}));
  EXPECT_EQ(d.props.back().value.Number(0, 2), 2.5);
  // More than 100 bytes of values get a larger block.
  ASSERT_EQ(parse("many default " + std::string(30, 'd') +
                  " 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 "
                  "16 17 18 19 20 21 22 23 24 25 26 27 "
                  "28 29 30\n"),
            0);
  EXPECT_EQ(d.props.back().value.Number(0, 29), 30.0);
  // A format word of more than 63 letters keeps its first 63; what stands past them is not read.
  std::string values;
  for (int i = 1; i <= 64; ++i) values += " " + std::to_string(i);
  ASSERT_EQ(parse("long default " + std::string(64, 'f') + values + "\n"), 0);
  EXPECT_EQ(d.props.back().format, std::string(63, 'f'));
  EXPECT_EQ(d.props.back().value.Number(0, 62), 63.0);
  EXPECT_EQ(parse("long default " + std::string(63, 'i') + "q 1\n"), 0);
  ASSERT_EQ(parse("comment\n"), 0);
  EXPECT_EQ(d.props.back().kind, kAOFFComment);
  ASSERT_EQ(parse("nl\n"), 0);
  ASSERT_EQ(parse("author someone else\n"), 0);
  EXPECT_EQ(d.props.back().kind, kAOFFText);
  EXPECT_EQ(d.props.back().value.text, "someone else");
  EXPECT_EQ(parse("colour default fq 1 2\n"), -1);
  EXPECT_EQ(parse("geometry polygons fff hand.geom\n"), -1);
  EXPECT_EQ(parse("   # note\n"), -1);
  EXPECT_EQ(parse("   \n"), -1);
}

TEST(AOFFConversion, EveryInlinePropertySetsItsOwnField) {
  // Each line alone on a fresh Shape: the field it names takes 0.25 0.5 0.75 (or 0.25), the
  // "_on" lines switch their light on.
  using Get = float (*)(const Shape &);
  const struct {
    const char *line;
    Get get;
    float want;
  } cases[] = {
      {"rotate default fff 0.25 0.5 0.75", [](const Shape &s) { return s.part->rotate[2]; }, 0.75f},
      {"rotate default fff 0.25 0.5 0.75", [](const Shape &s) { return float(s.part->rotate_on); },
       1},
      {"translate default fff 0.25 0.5 0.75", [](const Shape &s) { return s.part->translate[1]; },
       0.5f},
      {"translate default fff 0.25 0.5 0.75",
       [](const Shape &s) { return float(s.part->translate_on); }, 1},
      {"scale default fff 0.25 0.5 0.75", [](const Shape &s) { return s.part->scale[0]; }, 0.25f},
      {"scale default fff 0.25 0.5 0.75", [](const Shape &s) { return float(s.part->scale_on); },
       1},
      {"material_colors default fff 0.25 0.5 0.75", [](const Shape &s) { return s.object_color.b; },
       0.75f},
      {"ambient_on default f 1", [](const Shape &s) { return float(s.lights.light_on[0]); }, 1},
      {"ambient_color default fff 0.25 0.5 0.75",
       [](const Shape &s) { return s.lights.light[0].color.g; }, 0.5f},
      {"direct_on default f 1", [](const Shape &s) { return float(s.lights.light_on[1]); }, 1},
      {"direct_direction default fff 0 0 0.5",
       [](const Shape &s) { return s.lights.light[1].direction.z; }, 1},
      {"direct_color default fff 0.25 0.5 0.75",
       [](const Shape &s) { return s.lights.light[1].color.r; }, 0.25f},
      {"position_on default f 1", [](const Shape &s) { return float(s.lights.light_on[2]); }, 1},
      {"position_point default fff 0.25 0.5 0.75",
       [](const Shape &s) { return s.lights.light[2].position.y; }, 0.5f},
      {"position_atten1 default f 0.25",
       [](const Shape &s) { return s.lights.light[2].attenuation1; }, 0.25f},
      {"position_atten2 default f 0.25",
       [](const Shape &s) { return s.lights.light[2].attenuation2; }, 0.25f},
      {"position_color default fff 0.25 0.5 0.75",
       [](const Shape &s) { return s.lights.light[2].color.b; }, 0.75f},
      {"spot_on default f 1", [](const Shape &s) { return float(s.lights.light_on[3]); }, 1},
      {"spot_point default fff 0.25 0.5 0.75",
       [](const Shape &s) { return s.lights.light[3].position.x; }, 0.25f},
      {"spot_direction default fff 0.5 0 0",
       [](const Shape &s) { return s.lights.light[3].direction.x; }, 1},
      {"spot_atten1 default f 0.25", [](const Shape &s) { return s.lights.light[3].attenuation1; },
       0.25f},
      {"spot_atten2 default f 0.25", [](const Shape &s) { return s.lights.light[3].attenuation2; },
       0.25f},
      {"spot_conc default f 0.25", [](const Shape &s) { return s.lights.light[3].concentration; },
       0.25f},
      {"spot_angle default f 0.25", [](const Shape &s) { return s.lights.light[3].spread_angle; },
       0.25f},
      {"spot_color default fff 0.25 0.5 0.75",
       [](const Shape &s) { return s.lights.light[3].color.g; }, 0.5f},
      {"ambient_coef default f 0.25", [](const Shape &s) { return s.part->ambient_coef; }, 0.25f},
      {"diffuse_coef default f 0.25", [](const Shape &s) { return s.part->diffuse_coef; }, 0.25f},
      {"specular_coef default f 0.25", [](const Shape &s) { return s.part->specular_coef; }, 0.25f},
      {"specular_power default f 0.25", [](const Shape &s) { return s.part->specular_power; },
       0.25f},
      {"specular_color default fff 0.25 0.5 0.75",
       [](const Shape &s) { return s.part->specular_color.b; }, 0.75f},
      {"transmission default f 0.25", [](const Shape &s) { return s.part->transmission; }, 0.25f},
  };
  for (const auto &c : cases) {
    ObjDesc d;
    auto [w, rest] = SplitFirstWord(c.line);
    ASSERT_EQ(ParseAOFFProp(d, w, rest, "/"), 0) << c.line;
    Shape shape;
    shape.part.reset(new Part());
    AOFFFormatObj(d, shape);
    EXPECT_EQ(c.get(shape), c.want) << c.line;
  }
}

TEST(AOFFConversion, PassesApplySwitchesWhereverTheyStand) {
  TempDir dir;
  dir.write("q.geom", "5 2 5\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n9 9 9\n4 2 3 4 5\n1 2\n");
  dir.write("q.pnorm", "2\n0 0 1\n0 0 1\n");
  dir.write("q.pal", "2 3\n1 0 0\n0 1 0\n1 1 2\n");
  ObjDesc d;
  const char *lines[] = {"polygon_normals generic fff q.pnorm",
                         "geometry indexed_poly fff q.geom",
                         "vertex_colors default fff 0.5 0.25 1",
                         "direct_direction default fff 0 0 2",
                         "spot_direction default fff 0 0 0",
                         "ambient_on default f 0",
                         "direct_on default f 1",
                         "facet_offset default f 2.7",
                         "back_faces default s reverse",
                         "vertex_order default s clockwise",
                         "name whatever"};
  for (const char *line : lines) {
    auto [w, rest] = SplitFirstWord(line);
    ASSERT_EQ(ParseAOFFProp(d, w, rest, dir.path() + "/"), 0) << line;
  }
  Shape shape;
  shape.part.reset(new Part());
  AOFFFormatObj(d, shape);
  Part &p = *shape.part;
  ASSERT_EQ(p.facet_count, 2u);
  // Offset 2: file index 2 is vertex 0. Clockwise reverses the quad, not the single vertex.
  std::vector<uint32_t> quad(p.facetVertices(0), p.facetVertices(0) + 4);
  EXPECT_EQ(quad, (std::vector<uint32_t>{3, 2, 1, 0}));
  EXPECT_EQ(*p.facetVertices(1), 0u);
  EXPECT_EQ(p.facet_offset, 0);
  EXPECT_EQ(p.back_faces, 2);
  EXPECT_EQ(p.vertex_order, 2);
  EXPECT_EQ(p.polygon_normals[1].z, -1.0f);
  ASSERT_EQ(p.vertex_colors.size(), 5u);
  EXPECT_EQ(p.vertex_colors[4].g, 0.25f);
  EXPECT_EQ(shape.lights.light[1].direction.z, 1.0f);
  EXPECT_EQ(shape.lights.light[3].direction.z, 0.0f);
  EXPECT_EQ(shape.lights.light_on[0], 0);
  EXPECT_EQ(shape.lights.light_on[1], 1);

  // Indexed colours: palette records 1, 1, 2 for three facets; a count that does not match the
  // facets is refused.
  dir.write("t.geom", "3 3 9\n0 0 0\n1 0 0\n0 1 0\n3 1 2 3\n3 1 2 3\n3 1 2 3\n");
  ObjDesc c;
  for (const char *line :
       {"geometry indexed_poly fff t.geom", "polygon_colors indexed fff q.pal"}) {
    auto [w, rest] = SplitFirstWord(line);
    ASSERT_EQ(ParseAOFFProp(c, w, rest, dir.path() + "/"), 0);
  }
  shape.part.reset(new Part());
  AOFFFormatObj(c, shape);
  ASSERT_EQ(shape.part->polygon_colors.size(), 3u);
  EXPECT_EQ(shape.part->polygon_colors[1].r, 1.0f);
  EXPECT_EQ(shape.part->polygon_colors[2].g, 1.0f);
  c.props[0].value.polygons = 2;
  c.props[0].value.sizes.pop_back();
  c.props[0].value.indices.resize(6);
  shape.part.reset(new Part());
  EXPECT_EQ(FatalMessage([&] { AOFFFormatObj(c, shape); }),
            "AOFFFormatObj: q.pal holds 3 polygon colours for an object of 2 polygons\n");
}

TEST(AOFFData, FixedSixDecimalsMatchPrintf) {
  std::vector<float> values = {0.0f,       -0.0f,      1.0f,      -1.0f,     0.5f,  -1e-9f,
                               0.0000005f, 0.0000015f, 2.5e-7f,   123456.7f, 1e12f, -3e15f,
                               1e30f,      -1e38f,     0.577350f, 1.0f / 3};
  uint32_t state = 12345;
  for (int k = 0; k < 100000; ++k) {
    state = state * 1664525u + 1013904223u;
    float f;
    uint32_t bits = state;
    std::memcpy(&f, &bits, 4);
    if (std::isfinite(f)) values.push_back(f);
    values.push_back(float(int32_t(state)) / 1e9f); // the usual range of normals
  }
  values.push_back(HUGE_VALF);
  values.push_back(std::nanf(""));
  for (float v : values) {
    std::string got;
    AppendFixed6(got, v);
    char want[400];
    std::snprintf(want, sizeof want, "%f", double(v));
    ASSERT_EQ(got, want) << v;
  }
}
