// The zip container of a 3MF package, read from memory. Every entry is inflated whole, checked
// against what the central directory claims for it: a size deflate cannot reach from the stored
// bytes, a size beyond what the package may still inflate, more or fewer bytes than claimed, a bad
// checksum, each ends the run with a message naming the entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct zip;

struct ZipPackage {
  struct zip *archive = nullptr;
  std::string file;    // the package's path, for messages
  uint64_t budget = 0; // bytes all entries together may still inflate to
  ZipPackage() = default;
  ZipPackage(const ZipPackage &) = delete;
  ZipPackage &operator=(const ZipPackage &) = delete;
  ~ZipPackage();
};

// What a package may take in memory, inflated and placed: half of what the process may have (the
// machine's memory, or less under an address-space limit), unless SetInflateBudget() set it.
uint64_t InflateBudget();
// Sets that bound (fuzz targets run under a tighter one than the machine's); 0 restores it.
void SetInflateBudget(uint64_t bytes);

// Opens the archive held in data[0, size) (which must outlive the package); `budget` 0 means
// InflateBudget(). Input that is no zip archive, or one whose directory is damaged, ends the run.
void OpenZipPackage(ZipPackage &z, const char *data, std::size_t size, const std::string &file,
                    uint64_t budget = 0);
// The entry's name in the archive for a part name as relationships write it: no leading '/',
// "%XX" escapes replaced. Part names compare without regard to case.
std::string ZipEntryName(const std::string &partName);
bool ZipHas(const ZipPackage &z, const std::string &entry);
// An entry's bytes (not zero-filled first: a model part is tens of megabytes).
struct ZipBytes {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
};
// The entry's bytes; a missing entry ends the run too.
ZipBytes ZipRead(ZipPackage &z, const std::string &entry);
