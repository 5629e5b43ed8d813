// STL text as the mesh library would take it, read here instead: the library's binary layout and
// its rule for telling text from binary, and the keyword grammar of text, walked over text in
// memory or read from a file a block at a time (by two walks side by side when it is large).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The library's own layout of a binary file: an 80-byte label and a 32-bit facet count, then 50
// bytes per facet. It takes a file for binary only when one of the 128 bytes after the count has
// its top bit set; everything else, however short, is read as text and so checked first.
constexpr std::size_t kSTLBinaryHeader = 84;
constexpr std::size_t kSTLTypeProbe = 128;
constexpr std::size_t kSTLLabelSize = 80;
constexpr std::size_t kSTLFacetSize = 50;
// The library refuses binary files shorter than four facets.
constexpr std::size_t kSTLMinBinarySize = kSTLBinaryHeader + 4 * kSTLFacetSize;

// The library takes `data`, the start of a file (or all of it), for binary.
bool STLLooksBinary(std::string_view data);

// Receives the twelve numbers of one text facet: its normal, then its three vertices.
using STLFacetSink = std::function<void(const float *)>;

// What the file check found out before the library reads the file.
struct STLFileCheck {
  bool ascii = false;         // text, read here
  int solids = 0;             // "solid" sections (text files)
  long long facets = 0;       // facets found (text files)
  std::string error;          // why the text cannot be read ("" when it can)
  bool markBinary = false;    // binary by its layout, yet the library would take it for text
  long long shortBinary = 0;  // facets of a binary file too short for the library's size check
  bool countMismatch = false; // such a short file's header count disagrees with its size
};
// Looks at the file as the library will: text unless a byte of the 128 after the 84-byte binary
// header has its top bit set. Text is read word by word, keywords in any case, all its solids one
// after another; each facet's numbers, rounded as the C library reads them, go to `facet`. A file
// that is no readable text but has the exact binary layout is marked binary.
STLFileCheck STLCheckFile(std::string_view data, const STLFacetSink &facet = {});
inline STLFileCheck STLCheckFile(const std::vector<char> &data, const STLFacetSink &facet = {}) {
  return STLCheckFile(std::string_view(data.data(), data.size()), facet);
}
// The text check of STLCheckFile over a file of `size` bytes, read a block at a time.
STLFileCheck STLCheckTextFile(int fd, long long size, const STLFacetSink &facet = {});
