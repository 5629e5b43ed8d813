// AOFF properties and their data files.
//
// A header line becomes one AOFFProp. Its value is either the inline value block of a "default"
// line or the contents of the data file the line names (generic, indexed, indexed_poly), which
// may be written as text or as little-endian binary recognised by its magic number.
//
// Records keep the layout of the binary data files: every value at an offset that is a multiple of
// its alignment, whole records rounded up to 4 bytes. A text value occupies a 4-byte slot; here the
// slot holds the text's number in AOFFValue::texts, since a pointer does not fit in 4 bytes.
// Polygon sizes and indices are kept as 32-bit numbers in memory so that text files may use indices
// beyond the 16 bits of the binary form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

enum AOFFKind {
  kAOFFText = 1,        // "name", "author", ...: the rest of the line
  kAOFFComment = 2,     // "comment...", "nl"
  kAOFFDefault = 3,     // inline values
  kAOFFGeneric = 4,     // data file of records
  kAOFFIndexedPoly = 5, // data file of records and polygons
  kAOFFIndexed = 6,     // data file of records and an index list
};

constexpr std::size_t kMaxRecordLetters = 30;
constexpr std::size_t kMaxDataWord = 255;

struct RecordLayout {
  std::string letters;
  std::vector<uint32_t> offsets; // one per letter
  uint32_t size = 0;             // bytes per record, tail padding included
  uint32_t tail = 0;             // tail padding bytes
  bool hasText = false;
};

// Size and alignment of a format letter; false for a letter outside b h i f d s.
bool LetterSize(char letter, uint32_t &size, uint32_t &align);
// The record layout of data files; false for a bad letter or more than 30 letters.
bool ComputeRecordLayout(const std::string &format, RecordLayout &layout);

struct AOFFValue {
  RecordLayout layout;            // for a default line: the offsets of its values in `bytes`
  uint32_t records = 0;           // N (1 for a default line)
  uint32_t polygons = 0;          // P of indexed_poly
  uint32_t total = 0;             // T of indexed_poly, M of indexed, as the file declares them
  std::vector<uint8_t> bytes;     // the value block or the record area
  std::vector<std::string> texts; // text values; a slot holds the number of its text
  std::vector<int32_t> sizes;     // indexed_poly: P polygon sizes
  std::vector<int32_t> indices;   // indexed: M; indexed_poly: every polygon's indices in turn
  std::string text;               // kinds 1 and 2: the rest of the line

  // Value `letter` of record `record` as a number (0 for a text or a letter past the format).
  double Number(uint32_t record, std::size_t letter) const;
  // The same as a 32-bit float: a value beyond its range becomes an infinity.
  float Float(uint32_t record, std::size_t letter) const;
  // The text of value `letter` of `record`, or null when that value is not a text.
  const std::string *Text(uint32_t record, std::size_t letter) const;
};

struct AOFFProp {
  std::string name;
  int32_t kind = 0;
  std::string file;
  std::string format;
  int32_t count = 0;
  AOFFValue value;
};

// The data-file readers: 0 with prop.value and prop.count set, or -1 after their message.
int OFFReadGeneric(AOFFProp &prop, const std::string &path);
int OFFReadIndexed(AOFFProp &prop, const std::string &path);
int AOFFReadIndexedPoly(AOFFProp &prop, const std::string &path);

// The same readers on bytes already in memory (`path` only names the file in messages).
int ReadAOFFData(AOFFProp &prop, int kind, const std::vector<char> &data, const std::string &path);

// Reads an open regular file (closing it); an indexed_poly file is remembered, and a later read
// of the same unchanged file with the same format takes the remembered value.
int ReadAOFFOpenFile(AOFFProp &prop, int kind, std::FILE *f, const struct stat &st,
                     const std::string &path);
// Drops the remembered file.
void ForgetAOFFData();

// Fills a default line's value block from the text after its format word. False for a bad letter.
bool ReadDefaultValues(AOFFProp &prop, const std::string &rest);

// Appends `x` as printf's "%f" writes it (six decimals), byte for byte, without printf's cost.
void AppendFixed6(std::string &out, float x);
