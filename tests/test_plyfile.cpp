#include "base/fatal.h"
#include "formats/ply/plyfile.h"
#include "support.h"

#include <cstddef>
#include <cstring>
#include <gtest/gtest.h>

namespace {

// Opens `bytes` as a PLY file; none when the header is refused (the reason in ply_header_error).
std::unique_ptr<PlyStream> OpenPly(const TempDir &dir, const std::string &bytes,
                                   std::vector<std::string> *names = nullptr) {
  std::string path = dir.write("t.ply", bytes);
  FILE *f = std::fopen(path.c_str(), "rb");
  std::vector<std::string> ignored;
  int n = 0;
  std::unique_ptr<PlyStream> ply = ply_read_header(f, &n, names ? names : &ignored);
  if (!ply) std::fclose(f);
  return ply;
}

struct Failure {
  int status = 0;
  std::string message;
};

template <class F> Failure Fails(F f) {
  try {
    f();
  } catch (const FatalError &e) {
    return Failure{e.status, e.what()};
  }
  return Failure{};
}

template <class T> void Put(std::string &out, T v, bool big) {
  char b[sizeof(T)];
  std::memcpy(b, &v, sizeof v);
  if (big) std::reverse(b, b + sizeof v);
  out.append(b, sizeof v);
}

PlyPropertyDesc Field(const char *name, int type, std::size_t offset) {
  PlyPropertyDesc d;
  d.name = name;
  d.external_type = d.internal_type = type;
  d.offset = static_cast<int>(offset);
  return d;
}

PlyPropertyDesc ListField(const char *name, int type, std::size_t offset, int countType,
                          std::size_t countOffset) {
  PlyPropertyDesc d = Field(name, type, offset);
  d.is_list = 1;
  d.count_external = d.count_internal = countType;
  d.count_offset = static_cast<int>(countOffset);
  return d;
}

// One record per type the format has, plus a list.
struct AllTypes {
  int8_t c;
  int16_t s;
  int32_t i;
  uint8_t uc;
  uint16_t us;
  uint32_t ui;
  float f;
  double d;
  int32_t n;
  int32_t *list;
};

const char *const kAllTypesProps = "property char c\nproperty short s\nproperty int i\n"
                                   "property uchar uc\nproperty ushort us\nproperty uint ui\n"
                                   "property float f\nproperty double d\n"
                                   "property list uchar int list\n";

std::string AllTypesBinary(bool big) {
  std::string out = std::string("ply\nformat ") +
                    (big ? "binary_big_endian" : "binary_little_endian") +
                    " 1.0\nelement thing 2\n" + kAllTypesProps + "end_header\n";
  for (int k = 0; k < 2; ++k) {
    Put<int8_t>(out, -5, big);
    Put<int16_t>(out, -300, big);
    Put<int32_t>(out, -70000 - k, big);
    Put<uint8_t>(out, 200, big);
    Put<uint16_t>(out, 60000, big);
    Put<uint32_t>(out, 4000000000u, big);
    Put<float>(out, 1.5f, big);
    Put<double>(out, -2.25, big);
    Put<uint8_t>(out, 2, big);
    Put<int32_t>(out, 7, big);
    Put<int32_t>(out, -8 - k, big);
  }
  return out;
}

std::vector<AllTypes> ReadAllTypes(const TempDir &dir, const std::string &bytes) {
  std::unique_ptr<PlyStream> ply = OpenPly(dir, bytes);
  EXPECT_TRUE(ply) << ply_header_error();
  if (!ply) return {};
  const PlyPropertyDesc wanted[] = {
      Field("c", kPlyChar, offsetof(AllTypes, c)),
      Field("s", kPlyShort, offsetof(AllTypes, s)),
      Field("i", kPlyInt, offsetof(AllTypes, i)),
      Field("uc", kPlyUchar, offsetof(AllTypes, uc)),
      Field("us", kPlyUshort, offsetof(AllTypes, us)),
      Field("ui", kPlyUint, offsetof(AllTypes, ui)),
      Field("f", kPlyFloat, offsetof(AllTypes, f)),
      Field("d", kPlyDouble, offsetof(AllTypes, d)),
      ListField("list", kPlyInt, offsetof(AllTypes, list), kPlyInt, offsetof(AllTypes, n)),
  };
  for (const PlyPropertyDesc &w : wanted) ply_request_property(ply.get(), "thing", w);
  std::vector<AllTypes> out(2);
  for (AllTypes &r : out) ply_get_element(ply.get(), &r);
  std::shared_ptr<PlyArena> keep = ply_get_storage(ply.get());
  // Copy the lists out so the records can be compared after the storage goes.
  static std::vector<int32_t> lists;
  lists.clear();
  for (AllTypes &r : out) lists.insert(lists.end(), r.list, r.list + r.n);
  ply_close_file(std::move(ply));
  for (std::size_t k = 0; k < out.size(); ++k) out[k].list = &lists[2 * k];
  return out;
}

} // namespace

TEST(PlyFile, RefusedHeaders) {
  TempDir dir;
  struct Case {
    const char *text;
    const char *reason; // "" when the file is simply not PLY
  };
  const Case cases[] = {
      {"", ""},
      {"\nply\n", ""},
      {"PLY\nformat ascii 1.0\n", ""},
      {"ply\nformat ascii\nend_header\n", "\"format\" needs"},
      {"ply\nformat ascii 1.0 extra\nend_header\n", "\"format\" needs"},
      {"ply\nformat text 1.0\nend_header\n", "unknown file type 'text'"},
      {"ply\nelement vertex 0\nend_header\n", "no \"format\" line"},
      {"ply\nformat ascii 1.0\nproperty float x\nend_header\n", "before any \"element\""},
      {"ply\nformat ascii 1.0\nelement vertex\nend_header\n", "line 3: \"element\" needs"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float\nend_header\n1\n",
       "\"property\" needs"},
      {"ply\nformat ascii 1.0\nelement face 1\nproperty list uchar vertex_indices\nend_header\n",
       "\"property list\" needs"},
      {"ply\nformat ascii 1.0\nelement vertex -3\nend_header\n", "negative count"},
      {"ply\nformat ascii 1.0\nelement a 0\nelement a 0\nend_header\n", "declared twice"},
      // Binary counts the data cannot hold are refused before anything is allocated for them.
      {"ply\nformat binary_little_endian 1.0\nelement vertex 2000000000\nproperty float x\n"
       "end_header\n\x01\x02\x03\x04",
       "element 'vertex' declares 2000000000 instances, more than the 4 bytes"},
      {"ply\nformat binary_big_endian 1.0\nelement v 2\nproperty short a\nend_header\nabc",
       "element 'v' declares 2 instances, more than the 3 bytes"},
  };
  for (const Case &c : cases) {
    EXPECT_FALSE(OpenPly(dir, c.text)) << c.text;
    if (*c.reason == 0)
      EXPECT_EQ(ply_header_error(), "") << c.text;
    else
      EXPECT_NE(ply_header_error().find(c.reason), std::string::npos)
          << c.text << " -> " << ply_header_error();
  }
  EXPECT_FALSE(ply_read_header(nullptr, nullptr, nullptr));
  // Header lines cost more memory than their bytes: an endless header is refused, not held.
  std::string endless = "ply\nformat ascii 1.0\n";
  while (endless.size() < (2u << 20))
    endless += "element e" + std::to_string(endless.size()) + " 0\n";
  EXPECT_FALSE(OpenPly(dir, endless));
  EXPECT_EQ(ply_header_error(), "the header is longer than 1048576 bytes");
  EXPECT_FALSE(OpenPly(dir, "ply\nformat ascii 1.0\ncomment " + std::string(17u << 20, 'x')));
  EXPECT_EQ(ply_header_error(), "the header is longer than 1048576 bytes");
}

TEST(PlyFile, HeaderDescriptionsCommentsAndLineEnds) {
  TempDir dir;
  const std::string lf = "ply\nformat ascii 1.5\ncomment\tmade by\ta tool \n"
                         "obj_info   scanner 7\nelement vertex 1\nproperty float32 x\n"
                         "property uint8 flag\nelement face 1\n"
                         "property list uchar int vertex_indices\nend_header\n1.5 9\n3 0 0 0\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string &text : {lf, crlf}) {
    std::vector<std::string> names;
    std::unique_ptr<PlyStream> ply = OpenPly(dir, text, &names);
    ASSERT_TRUE(ply) << ply_header_error();
    EXPECT_EQ(names, (std::vector<std::string>{"vertex", "face"}));
    float version = 0;
    int type = 0;
    ply_file_info(ply.get(), &version, &type);
    EXPECT_EQ(version, 1.5f);
    EXPECT_EQ(type, kPlyAscii);
    int n = -1, nprops = -1;
    std::vector<PlyPropertyDesc> props;
    ASSERT_TRUE(ply_element_description(ply.get(), "vertex", &n, &nprops, &props));
    EXPECT_EQ(n, 1);
    ASSERT_EQ(nprops, 2);
    // The sized type names (float32, uint8) mean the same types as the short ones.
    EXPECT_EQ(props[0].external_type, kPlyFloat);
    EXPECT_EQ(props[1].external_type, kPlyUchar);
    ASSERT_TRUE(ply_element_description(ply.get(), "face", &n, &nprops, &props));
    EXPECT_EQ(props[0].is_list, 1);
    EXPECT_EQ(props[0].count_external, kPlyUchar);
    EXPECT_EQ(props[0].external_type, kPlyInt);
    EXPECT_FALSE(ply_element_description(ply.get(), "edge", &n, &nprops, &props));
    EXPECT_EQ(ply->which_elem, -1); // descriptions do not choose an element
    int count = 0;
    std::vector<std::string> comments = ply_comments(ply.get(), &count);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(comments, (std::vector<std::string>{"made by a tool "}));
    std::vector<std::string> info = ply_obj_info(ply.get(), &count);
    EXPECT_EQ(info, (std::vector<std::string>{"scanner 7"}));
    ply_close_file(std::move(ply));
    EXPECT_EQ(comments.size(), 1u); // handed over: they outlive the stream
  }
  // A stream that is not a regular file (a pipe, memory) is read the same way.
  std::string piped = lf;
  FILE *mem = fmemopen(&piped[0], piped.size(), "rb");
  ASSERT_NE(mem, nullptr);
  int n = 0;
  std::vector<std::string> names;
  std::unique_ptr<PlyStream> ply = ply_read_header(mem, &n, &names);
  ASSERT_TRUE(ply) << ply_header_error();
  float x = 0;
  PlyPropertyDesc want;
  want.name = "x";
  want.internal_type = kPlyFloat;
  ply_request_property(ply.get(), "vertex", want);
  ply_get_element(ply.get(), &x);
  EXPECT_EQ(x, 1.5f);
  ply_close_file(std::move(ply));
  // No "end_header": accepted, the elements simply have no data.
  EXPECT_TRUE(OpenPly(dir, "ply\nformat ascii 1.0\nelement vertex 0\nproperty float x\n"));
}

TEST(PlyFile, BothByteOrdersAndAsciiReadToTheSameRecords) {
  TempDir dir;
  std::string ascii = std::string("ply\nformat ascii 1.0\nelement thing 2\n") + kAllTypesProps +
                      "end_header\n"
                      "-5 -300 -70000 200 60000 4000000000 1.5 -2.25 2 7 -8\r\n"
                      "-5\t-300 -70001 200 60000 4000000000 1.5 -2.25 2 7 -9 extra words\n";
  for (const std::string &text : {AllTypesBinary(false), AllTypesBinary(true), ascii}) {
    std::vector<AllTypes> r = ReadAllTypes(dir, text);
    ASSERT_EQ(r.size(), 2u);
    for (int k = 0; k < 2; ++k) {
      EXPECT_EQ(r[k].c, -5);
      EXPECT_EQ(r[k].s, -300);
      EXPECT_EQ(r[k].i, -70000 - k);
      EXPECT_EQ(r[k].uc, 200);
      EXPECT_EQ(r[k].us, 60000);
      EXPECT_EQ(r[k].ui, 4000000000u);
      EXPECT_EQ(r[k].f, 1.5f);
      EXPECT_EQ(r[k].d, -2.25);
      ASSERT_EQ(r[k].n, 2);
      EXPECT_EQ(r[k].list[0], 7);
      EXPECT_EQ(r[k].list[1], -8 - k);
    }
  }
}

TEST(PlyFile, ValuesConvertToTheRecordsTypes) {
  TempDir dir;
  struct Rec {
    uint8_t small;  // from an int of 300: low 8 bits
    int32_t whole;  // from a float: truncated toward zero
    float single;   // from a double
    double wide;    // from a uchar
    int8_t signedc; // from a uchar of 255
    float decimal;  // a decimal word: rounded as a correctly rounded conversion gives
  };
  const std::string header = "element r 1\nproperty int small\nproperty float whole\n"
                             "property double single\nproperty uchar wide\n"
                             "property uchar signedc\nproperty float decimal\nend_header\n";
  std::string binary = "ply\nformat binary_little_endian 1.0\n" + header;
  Put<int32_t>(binary, 300, false);
  Put<float>(binary, -7.9f, false);
  Put<double>(binary, 0.1, false);
  Put<uint8_t>(binary, 200, false);
  Put<uint8_t>(binary, 255, false);
  Put<float>(binary, 0.3f, false);
  const std::string ascii = "ply\nformat ascii 1.0\n" + header + "300 -7.9 0.1 200 255 +0.3\n";
  for (const std::string &text : {binary, ascii}) {
    std::unique_ptr<PlyStream> ply = OpenPly(dir, text);
    ASSERT_TRUE(ply);
    ply_request_property(ply.get(), "r", Field("small", kPlyUchar, offsetof(Rec, small)));
    ply_request_property(ply.get(), "r", Field("whole", kPlyInt, offsetof(Rec, whole)));
    ply_request_property(ply.get(), "r", Field("single", kPlyFloat, offsetof(Rec, single)));
    ply_request_property(ply.get(), "r", Field("wide", kPlyDouble, offsetof(Rec, wide)));
    ply_request_property(ply.get(), "r", Field("signedc", kPlyChar, offsetof(Rec, signedc)));
    ply_request_property(ply.get(), "r", Field("decimal", kPlyFloat, offsetof(Rec, decimal)));
    Rec r{};
    ply_get_element(ply.get(), &r);
    EXPECT_EQ(r.small, 44);
    EXPECT_EQ(r.whole, -7);
    EXPECT_EQ(r.single, 0.1f);
    EXPECT_EQ(r.wide, 200.0);
    EXPECT_EQ(r.signedc, -1);
    EXPECT_EQ(r.decimal, 0.3f);
  }
}

TEST(PlyFile, EmptyListsAndFullyRequestedElements) {
  TempDir dir;
  struct Face {
    int32_t n;
    int32_t *idx;
    void *other;
  };
  std::unique_ptr<PlyStream> ply =
      OpenPly(dir, "ply\nformat ascii 1.0\nelement face 2\nproperty list uchar int idx\n"
                   "end_header\n0\n2 4 5\n");
  ASSERT_TRUE(ply);
  ply_request_property(ply.get(), "face",
                       ListField("idx", kPlyInt, offsetof(Face, idx), kPlyInt, offsetof(Face, n)));
  std::unique_ptr<PlyOtherProps> other =
      ply_get_other_properties(ply.get(), "face", offsetof(Face, other));
  ASSERT_TRUE(other);
  EXPECT_EQ(other->nprops(), 0);
  Face a{7, reinterpret_cast<int32_t *>(&a), nullptr}, b{};
  ply_get_element(ply.get(), &a);
  ply_get_element(ply.get(), &b);
  EXPECT_EQ(a.n, 0);
  EXPECT_EQ(a.idx, nullptr);
  EXPECT_EQ(a.other, nullptr); // no block when every property was asked for
  ASSERT_EQ(b.n, 2);
  EXPECT_EQ(b.idx[1], 5);
}

TEST(PlyFile, OtherPropertyBlockLayout) {
  PlyElementDesc elem;
  elem.name = "v";
  auto add = [&](PlyPropertyDesc d) { elem.props.push_back(d); };
  add(Field("a", kPlyUchar, 0));
  add(Field("b", kPlyFloat, 0));
  add(Field("c", kPlyDouble, 0));
  add(ListField("d", kPlyInt, 0, kPlyUchar, 0));
  for (int pointer : {8, 4}) {
    elem.store_prop.assign(4, 0);
    elem.other_placed.assign(4, 0);
    int size = ply_layout_other_props(elem, pointer);
    const auto &p = elem.props;
    if (pointer == 8) {
      EXPECT_EQ(size, 22);
      EXPECT_EQ(p[2].offset, 0);
      EXPECT_EQ(p[3].offset, 8);
      EXPECT_EQ(p[1].offset, 16);
      EXPECT_EQ(p[0].offset, 20);
      EXPECT_EQ(p[3].count_offset, 21);
    } else {
      EXPECT_EQ(size, 18);
      EXPECT_EQ(p[2].offset, 0);
      EXPECT_EQ(p[1].offset, 8);
      EXPECT_EQ(p[3].offset, 12);
      EXPECT_EQ(p[0].offset, 16);
      EXPECT_EQ(p[3].count_offset, 17);
    }
  }

  // Read for real on this host: the unrequested values sit in the block at those offsets, and a
  // property of an unknown type gets no field (and ends the read once its value is reached).
  TempDir dir;
  struct Rec {
    float x;
    void *other;
  };
  std::string text = "ply\nformat binary_big_endian 1.0\nelement v 1\nproperty float x\n"
                     "property uchar a\nproperty float b\nproperty double c\n"
                     "property list uchar int d\nend_header\n";
  Put<float>(text, 1.0f, true);
  Put<uint8_t>(text, 9, true);
  Put<float>(text, 2.5f, true);
  Put<double>(text, -4.0, true);
  Put<uint8_t>(text, 1, true);
  Put<int32_t>(text, 77, true);
  std::unique_ptr<PlyStream> ply = OpenPly(dir, text);
  ASSERT_TRUE(ply);
  ply_request_property(ply.get(), "v", Field("x", kPlyFloat, offsetof(Rec, x)));
  std::unique_ptr<PlyOtherProps> other =
      ply_get_other_properties(ply.get(), "v", offsetof(Rec, other));
  ASSERT_TRUE(other);
  EXPECT_EQ(other->size, sizeof(void *) == 8 ? 22 : 18);
  ASSERT_EQ(other->nprops(), 4);
  EXPECT_EQ(other->props[0].name, "a");
  Rec r{};
  ply_get_element(ply.get(), &r);
  EXPECT_EQ(r.x, 1.0f);
  ASSERT_NE(r.other, nullptr);
  const char *block = static_cast<const char *>(r.other);
  double c;
  float b;
  int32_t *d;
  std::memcpy(&c, block + other->props[2].offset, 8);
  std::memcpy(&b, block + other->props[1].offset, 4);
  std::memcpy(&d, block + other->props[3].offset, sizeof d);
  EXPECT_EQ(c, -4.0);
  EXPECT_EQ(b, 2.5f);
  EXPECT_EQ(static_cast<uint8_t>(block[other->props[0].offset]), 9);
  EXPECT_EQ(block[other->props[3].count_offset], 1);
  EXPECT_EQ(d[0], 77);
}

TEST(PlyFile, OtherElementsAreReadAndKept) {
  TempDir dir;
  std::unique_ptr<PlyStream> ply =
      OpenPly(dir, "ply\nformat ascii 1.0\nelement edge 2\nproperty int v1\nproperty int v2\n"
                   "element note 1\nproperty list uchar float t\nend_header\n1 2\n3 4\n2 0.5 "
                   "0.25\n");
  ASSERT_TRUE(ply);
  std::shared_ptr<PlyOtherElementList> list = ply_get_other_element(ply.get(), "edge", 2);
  list = ply_get_other_element(ply.get(), "note", 1);
  ply_close_file(std::move(ply));
  ASSERT_EQ(list->num_elems(), 2);
  const PlyOtherElement &edge = list->other_list[0];
  EXPECT_EQ(edge.elem_name, "edge");
  ASSERT_EQ(edge.elem_count, 2);
  int32_t v2;
  std::memcpy(
      &v2, static_cast<char *>(edge.other_data[1].other_props) + edge.other_props->props[1].offset,
      4);
  EXPECT_EQ(v2, 4);
  const PlyOtherElement &note = list->other_list[1];
  float *t;
  std::memcpy(
      &t, static_cast<char *>(note.other_data[0].other_props) + note.other_props->props[0].offset,
      sizeof t);
  EXPECT_EQ(t[1], 0.25f); // the storage travels with the list
}

TEST(PlyFile, ElementsWithoutProperties) {
  TempDir dir;
  // Binary: an instance without properties takes no bytes, whatever the count.
  for (int count : {100, 2000000000}) {
    std::string text = "ply\nformat binary_little_endian 1.0\nelement marker " +
                       std::to_string(count) + "\nelement v 1\nproperty short a\nend_header\n";
    Put<int16_t>(text, -7, false);
    std::unique_ptr<PlyStream> ply = OpenPly(dir, text);
    ASSERT_TRUE(ply) << count << ": " << ply_header_error();
    std::shared_ptr<PlyOtherElementList> list = ply_get_other_element(ply.get(), "marker", count);
    EXPECT_EQ(list->other_list[0].elem_count, count);
    EXPECT_TRUE(list->other_list[0].other_data.empty()); // nothing to keep, nothing allocated
    list = ply_get_other_element(ply.get(), "v", 1);
    int16_t a;
    std::memcpy(&a,
                static_cast<char *>(list->other_list[1].other_data[0].other_props) +
                    list->other_list[1].other_props->props[0].offset,
                2);
    EXPECT_EQ(a, -7);
  }
  // Ascii: every instance is a line, empty or not; a count its lines do not reach ends the run.
  const std::string head = "ply\nformat ascii 1.0\nelement blank 3\nelement v 1\nproperty int a\n"
                           "end_header\n";
  std::unique_ptr<PlyStream> ply = OpenPly(dir, head + "\nanything\n\n5\n");
  ASSERT_TRUE(ply);
  ply_get_other_element(ply.get(), "blank", 3);
  std::shared_ptr<PlyOtherElementList> list = ply_get_other_element(ply.get(), "v", 1);
  int32_t a;
  std::memcpy(&a,
              static_cast<char *>(list->other_list[1].other_data[0].other_props) +
                  list->other_list[1].other_props->props[0].offset,
              4);
  EXPECT_EQ(a, 5);
  ply = OpenPly(dir, "ply\nformat ascii 1.0\nelement blank 2000000000\nend_header\n\n\n");
  ASSERT_TRUE(ply);
  Failure f = Fails([&] { ply_get_other_element(ply.get(), "blank", 2000000000); });
  EXPECT_EQ(f.status, -1);
  EXPECT_EQ(f.message, "ply_get_element: unexpected end of file\n");
}

// Ascii data that stops short of its counts ends the run with the library's message, however many
// lines are missing; the count is never trusted for room first.
TEST(PlyFile, AsciiDataEndingEarlyEndsTheRunAsReadingDoes) {
  TempDir dir;
  struct Case {
    std::string text;
    const char *message;
  };
  const std::string v = "ply\nformat ascii 1.0\nelement v ";
  const Case cases[] = {
      {v + "3\nproperty float x\nend_header\n1\n2\n", "ply_get_element: unexpected end of file\n"},
      {v + "3\nproperty float x\nend_header\n1\n", "ply_get_element: unexpected end of file\n"},
      // A file cut inside its last line ends early too.
      {v + "3\nproperty float x\nproperty float y\nend_header\n1 2\n3 4\n5",
       "ply_get_element: unexpected end of file\n"},
      {v + "2\nproperty list uchar int l\nend_header\n3 1 2 3\n3 1 2",
       "ply_get_element: unexpected end of file\n"},
      // Long lines: the count looks possible until the lines run out.
      {v + "3\nproperty float x\nend_header\n1 2 3 4\n5\n",
       "ply_get_element: unexpected end of file\n"},
      {v + "2000000000\nproperty float x\nend_header\n1\n",
       "ply_get_element: unexpected end of file\n"},
      {v + "2000000000\nproperty float x\nend_header\n",
       "ply_get_element: unexpected end of file\n"},
      {v + "9\nproperty float x\nproperty float y\nend_header\n1 2\n3\n",
       "ply_get_element: too few values for element 'v' on line 8\n"},
      {v + "9\nproperty float x\nend_header\n1\n2 junk\n3\n4\n",
       "ply_get_element: unexpected end of file\n"},
  };
  struct Rec {
    float x;
    void *other;
  };
  for (const Case &c : cases) {
    for (bool whole : {false, true}) {
      std::unique_ptr<PlyStream> ply = OpenPly(dir, c.text);
      ASSERT_TRUE(ply) << c.text << ply_header_error();
      int n = 0;
      ply_element_description(ply.get(), "v", &n, nullptr, nullptr);
      Failure f = Fails([&] {
        if (whole) {
          ply_get_other_element(ply.get(), "v", n);
          return;
        }
        ply_request_property(ply.get(), "v", Field("x", kPlyFloat, offsetof(Rec, x)));
        ply_get_other_properties(ply.get(), "v", offsetof(Rec, other));
        ply_check_elements(ply.get(), n);
        std::vector<Rec> records(static_cast<std::size_t>(n));
        for (Rec &r : records) ply_get_element(ply.get(), &r);
      });
      EXPECT_EQ(f.status, -1) << c.text;
      EXPECT_EQ(f.message, c.message) << c.text;
    }
  }
  // A count the lines hold passes the check and reads.
  std::unique_ptr<PlyStream> ply = OpenPly(dir, v + "2\nproperty float x\nend_header\n1\n2");
  ASSERT_TRUE(ply);
  ply_request_property(ply.get(), "v", Field("x", kPlyFloat, offsetof(Rec, x)));
  ply_check_elements(ply.get(), 2);
  Rec r[2];
  ply_get_element(ply.get(), &r[0]);
  ply_get_element(ply.get(), &r[1]);
  EXPECT_EQ(r[1].x, 2.0f);
}

TEST(PlyFile, MissingNamesWarnOrEndTheRun) {
  TempDir dir;
  std::unique_ptr<PlyStream> ply =
      OpenPly(dir, "ply\nformat ascii 1.0\nelement v 1\nproperty float x\n"
                   "property list uchar int l\nend_header\n1 1 2\n");
  ASSERT_TRUE(ply);
  struct Rec {
    float x;
    float l; // a scalar where the file has a list: never written over
    float y;
  } r{0, -1, -2};
  testing::internal::CaptureStderr();
  ply_request_property(ply.get(), "v", Field("y", kPlyFloat, offsetof(Rec, y)));
  ply_request_property(ply.get(), "v", Field("l", kPlyFloat, offsetof(Rec, l)));
  ply_request_property(ply.get(), "v", Field("x", kPlyFloat, offsetof(Rec, x)));
  EXPECT_FALSE(ply_get_other_properties(ply.get(), "w", 0));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Warning:  Can't find property 'y' in element 'v'\n"), std::string::npos);
  EXPECT_NE(err.find("'l' in element 'v' is a list in the file"), std::string::npos);
  EXPECT_NE(err.find("ply_get_other_properties: Can't find element 'w'\n"), std::string::npos);
  ply_get_element(ply.get(), &r);
  EXPECT_EQ(r.x, 1.0f);
  EXPECT_EQ(r.l, -1.0f);
  EXPECT_EQ(r.y, -2.0f);
  Failure f = Fails([&] { ply_get_other_element(ply.get(), "w", 1); });
  EXPECT_EQ(f.status, -1);
  EXPECT_EQ(f.message, "ply_get_other_element: can't find element 'w'\n");
}

TEST(PlyFile, BadDataEndsTheRunWithoutReadingPastIt) {
  TempDir dir;
  struct Case {
    std::string text;
    const char *message;
  };
  std::string truncated = "ply\nformat binary_little_endian 1.0\nelement v 2\nproperty int a\n"
                          "property list uchar int l\nend_header\n";
  std::string longList = truncated;
  Put<int32_t>(truncated, 1, false);
  Put<uint8_t>(truncated, 0, false);
  Put<int32_t>(truncated, 1, false);
  Put<uint8_t>(truncated, 1, false); // its one item is missing
  Put<int32_t>(longList, 1, false);
  Put<uint8_t>(longList, 1, false);
  Put<int32_t>(longList, 1, false);
  Put<int32_t>(longList, 1, false);
  Put<uint8_t>(longList, 200, false); // promises 800 bytes, holds 4
  Put<int32_t>(longList, 1, false);
  std::string negative = "ply\nformat binary_big_endian 1.0\nelement v 1\n"
                         "property list int int l\nend_header\n";
  Put<int32_t>(negative, -2, true);
  Put<int32_t>(negative, 5, true);
  Put<int32_t>(negative, 5, true);
  const Case cases[] = {
      {"ply\nformat ascii 1.0\nelement v 1\nproperty float x\nproperty float y\n"
       "end_header\n1      \n",
       "ply_get_element: too few values for element 'v' on line 7\n"},
      {"ply\nformat ascii 1.0\nelement v 1\nproperty list uchar int l\nend_header\n9 1 2\n",
       "ply_get_element: too few values for element 'v' on line 6\n"},
      {"ply\nformat ascii 1.0\nelement v 2\nproperty float x\nend_header\n1 2 3\n",
       "ply_get_element: unexpected end of file\n"},
      {"ply\nformat ascii 1.0\nelement v 1\nproperty list uchar int l\nend_header\n-1\n",
       "ply_get_element: bad count -1 in list 'l' of element 'v'\n"},
      {truncated, "ply_get_element: unexpected end of file\n"},
      {longList, "ply_get_element: unexpected end of file\n"},
      {negative, "ply_get_element: bad count -2 in list 'l' of element 'v'\n"},
      {"ply\nformat ascii 1.0\nelement v 1\nproperty float32x x\nend_header\n1\n",
       "get_ascii_item: bad type = 0\n"},
      {"ply\nformat binary_little_endian 1.0\nelement v 1\nproperty int a\nproperty half x\n"
       "end_header\n12345678",
       "get_binary_item: bad type = 0\n"},
  };
  for (const Case &c : cases) {
    std::unique_ptr<PlyStream> ply = OpenPly(dir, c.text);
    ASSERT_TRUE(ply) << c.text << ply_header_error();
    Failure f = Fails([&] {
      ply_get_other_element(ply.get(), "v", 2 > ply->elems[0].num ? ply->elems[0].num : 2);
    });
    EXPECT_EQ(f.status, -1) << c.text;
    EXPECT_EQ(f.message, c.message) << c.text;
  }
  // Binary data that ends early names the file once the caller has given its name.
  for (const std::string &text : {truncated, longList}) {
    std::unique_ptr<PlyStream> ply = OpenPly(dir, text);
    ASSERT_TRUE(ply);
    ply_set_file_name(ply.get(), "cut.ply");
    Failure f = Fails([&] { ply_get_other_element(ply.get(), "v", 2); });
    EXPECT_EQ(f.status, -1);
    EXPECT_EQ(f.message,
              "ply_get_element: unexpected end of file: cut.ply is shorter than its header says\n");
  }
}
