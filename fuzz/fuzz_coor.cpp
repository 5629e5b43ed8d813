// Any bytes as a COOR file set. The input is cut at its first three NUL bytes into the ".coor",
// ".elem", ".vnorm" and ".rgba" files; a side file whose piece is missing does not exist.
#include "fuzz_readers.h"
#include "viewer/readers/formatTable.h"

#include <cstring>
#include <string>

static void WriteSide(const std::string &name, const uint8_t *data, size_t size, bool present) {
  std::string path = FuzzDir() + "/" + name;
  std::remove(path.c_str());
  if (!present) return;
  if (FILE *f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const uint8_t *piece[4] = {data, nullptr, nullptr, nullptr};
  size_t length[4] = {size, 0, 0, 0};
  for (int i = 1; i < 4; ++i) {
    const void *nul = std::memchr(piece[i - 1], 0, length[i - 1]);
    if (!nul) break;
    const uint8_t *cut = static_cast<const uint8_t *>(nul);
    piece[i] = cut + 1;
    length[i] = length[i - 1] - size_t(piece[i] - piece[i - 1]);
    length[i - 1] = size_t(cut - piece[i - 1]);
  }
  FuzzWriteObject("fuzz.coor", piece[0], length[0]);
  WriteSide("fuzz.elem", piece[1], length[1], piece[1] != nullptr);
  WriteSide("fuzz.vnorm", piece[2], length[2], piece[2] != nullptr);
  WriteSide("fuzz.rgba", piece[3], length[3], piece[3] != nullptr);
  FuzzLoad(kTypeCOOR, LoadCOORObject);
  return 0;
}
