#include "viewer/readers/stlCopy.h"

#include "base/fatal.h"
#include "base/files.h"
#include "viewer/readers/stlText.h"
#include "viewer/model/object.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

static const char *kModule = "readSTLObj";

// A file that lives only as long as its descriptor: in memory where the system allows, else in
// TMPDIR, unlinked at once. The library reads it through the descriptor.
struct STLCopy::ScratchFile {
  int fd = -1;
  ScratchFile() = default;
  ScratchFile(const ScratchFile &) = delete;
  ScratchFile &operator=(const ScratchFile &) = delete;
  ~ScratchFile() {
    if (fd >= 0) close(fd);
  }
  void Open() {
    fd = OpenScratchFile("mirandel-stl");
    if (fd < 0)
      fatal(1, "STLReadObj: cannot create a temporary file in %s\n", TempFolder().c_str());
  }
  // An empty file again, opened if need be.
  void Restart() {
    if (fd < 0) Open();
    if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0)
      fatal(1, "STLReadObj: cannot write a temporary copy of %s\n", objName.c_str());
  }
  void Write(const char *data, std::size_t size) {
    if (!WriteAll(fd, data, size))
      fatal(1, "STLReadObj: cannot write a temporary copy of %s\n", objName.c_str());
  }
  void WriteAt(const char *data, std::size_t size, off_t at) {
    if (pwrite(fd, data, size, at) != static_cast<ssize_t>(size))
      fatal(1, "STLReadObj: cannot write a temporary copy of %s\n", objName.c_str());
  }
};

namespace {

using ScratchFile = STLCopy::ScratchFile;

// Facets in the library's binary layout, gathered a block at a time and written out.
struct BinaryCopy {
  ScratchFile &file;
  std::vector<char> block;
  std::size_t used = 0;
  long long facets = 0;
  static const std::size_t kBlockFacets = 16384;

  explicit BinaryCopy(ScratchFile &f) : file(f), block(kBlockFacets * kSTLFacetSize) {
    char header[kSTLBinaryHeader];
    std::memset(header, ' ', kSTLLabelSize);
    std::memset(header + kSTLLabelSize, 0, 4);
    file.Write(header, sizeof header);
  }
  void Add(const float *v) {
    if (used == block.size()) Flush();
    char *f = block.data() + used;
    std::memcpy(f, v, 48);
    f[48] = 0;
    f[49] = 0;
    used += kSTLFacetSize;
    ++facets;
  }
  void Flush() {
    file.Write(block.data(), used);
    used = 0;
  }
};

} // namespace

// The text's facets are all in the copy: its count goes into the header.
static long long FinishText(const STLFileCheck &check, ScratchFile &file, BinaryCopy &copy) {
  if (!check.error.empty())
    fatal(1, "STLReadObj: %s is not a readable ASCII STL file: %s\n", objName.c_str(),
          check.error.c_str());
  if (check.facets == 0) fatal(1, "STLReadObj: %s holds no facets\n", objName.c_str());
  if (check.facets > INT32_MAX / 3)
    fatal(1, "STLReadObj: %s has too many facets (%lld)\n", objName.c_str(), check.facets);
  copy.Flush();
  const uint32_t count = static_cast<uint32_t>(copy.facets);
  file.WriteAt(reinterpret_cast<const char *>(&count), 4, kSTLLabelSize);
  return copy.facets;
}

// A binary file the library would not read as it is, copied as it is: the facets of the copy, or
// -1 when the library can read the file itself.
static long long CopyBinary(const STLFileCheck &check, ScratchFile &file,
                            const FileContents &whole) {
  if (check.shortBinary > 0) {
    // Too few facets for the library's own size check, which reading the copy passes by.
    if (check.countMismatch)
      warn("Warning: File size doesn't match number of facets in the header\n");
    file.Restart();
    file.Write(whole.data(),
               kSTLBinaryHeader + static_cast<std::size_t>(check.shortBinary) * kSTLFacetSize);
    return check.shortBinary;
  }
  if (check.markBinary) {
    file.Restart();
    file.Write(whole.data(), whole.size());
    return static_cast<long long>((whole.size() - kSTLBinaryHeader) / kSTLFacetSize);
  }
  return -1;
}

STLCopy::STLCopy() : file_(new ScratchFile) {}
STLCopy::~STLCopy() = default;

bool STLCopy::Make(FoundFile &found) {
  // The first bytes tell whether the library takes the file for binary.
  std::vector<char> probe(kSTLBinaryHeader + kSTLTypeProbe);
  probe.resize(std::fread(probe.data(), 1, probe.size(), found.file.get()));
  struct stat st;
  const int fd = fileno(found.file.get());
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const bool binary = STLLooksBinary(std::string_view(probe.data(), probe.size()));

  // A file that is not plain text of a readable size is looked at whole.
  std::unique_ptr<BinaryCopy> copy;
  STLFacetSink sink = [&copy](const float *v) { copy->Add(v); };
  STLFileCheck check;
  FileContents whole;
  auto readWhole = [&]() {
    std::rewind(found.file.get());
    whole.Load(found.file.get(), kModule, found.path);
    return std::string_view(whole.data(), whole.size());
  };
  if (!binary) {
    file_->Open();
    copy.reset(new BinaryCopy(*file_));
    if (regular) {
      check = STLCheckTextFile(fd, static_cast<long long>(st.st_size), sink);
      // No text, yet perhaps the exact layout of a binary file (see STLCheckFile).
      if (!check.error.empty() && (st.st_size - kSTLBinaryHeader) % kSTLFacetSize == 0 &&
          st.st_size > static_cast<off_t>(kSTLBinaryHeader))
        check = STLCheckFile(readWhole());
    } else {
      check = STLCheckFile(readWhole(), sink);
    }
  } else if (!regular || static_cast<uint64_t>(st.st_size) < kSTLMinBinarySize) {
    check = STLCheckFile(readWhole());
  }
  found.file.reset();
  facets_ = check.ascii ? FinishText(check, *file_, *copy) : CopyBinary(check, *file_, whole);
  return facets_ >= 0;
}

// The steps of the library's own opening, over the copy's descriptor.
void STLCopy::Open(STLObj *obj) const {
  const int fd = file_->fd;
  const long long facets = facets_;
  stl_initialize(obj);
  STLStopOnLibraryError(obj);
  int own = dup(fd);
  obj->fp = own < 0 ? nullptr : fdopen(own, "rb");
  if (!obj->fp || std::fseek(obj->fp, 0, SEEK_SET) != 0 ||
      std::fread(obj->stats.header, 1, kSTLLabelSize, obj->fp) != kSTLLabelSize ||
      std::fseek(obj->fp, kSTLBinaryHeader, SEEK_SET) != 0) {
    if (obj->fp) std::fclose(obj->fp);
    if (!obj->fp && own >= 0) close(own);
    obj->fp = nullptr;
    fatal(1, "STLReadObj: cannot read the temporary copy of %s\n", objName.c_str());
  }
  obj->stats.header[kSTLLabelSize] = '\0';
  obj->stats.type = binary;
  obj->stats.number_of_facets = static_cast<int>(facets);
  obj->stats.original_num_facets = static_cast<int>(facets);
  stl_allocate(obj);
  if (!obj->error) stl_read(obj, 0, 1);
  std::fclose(obj->fp);
  obj->fp = nullptr;
}
