#include "formats/3mf/zipPackage.h"

#include "base/fatal.h"

#include <sys/resource.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstring>

static const char *const kModule = "zipPackage";

// Deflate gives at most 1032 bytes for each stored one (258 from a two-bit code); a claim beyond
// that, with room for the block headers of a tiny entry, cannot be true.
static const uint64_t kDeflateRatio = 1032;
static const uint64_t kDeflateSlack = 1024;

ZipPackage::~ZipPackage() {
  if (archive) zip_discard(archive);
}

static uint64_t budgetSet = 0;

void SetInflateBudget(uint64_t bytes) {
  budgetSet = bytes;
}

uint64_t InflateBudget() {
  if (budgetSet) return budgetSet;
  uint64_t memory = uint64_t(8) << 30;
  long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  if (pages > 0 && pageSize > 0) memory = uint64_t(pages) * uint64_t(pageSize);
  struct rlimit limit;
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    memory = std::min<uint64_t>(memory, limit.rlim_cur);
  return memory / 2;
}

void OpenZipPackage(ZipPackage &z, const char *data, std::size_t size, const std::string &file,
                    uint64_t budget) {
  z.file = file;
  z.budget = budget ? budget : InflateBudget();
  // A zip archive starts with a local entry, or is an empty directory alone.
  if (size < 4 || data[0] != 'P' || data[1] != 'K' ||
      !((data[2] == 3 && data[3] == 4) || (data[2] == 5 && data[3] == 6)))
    fatal(1, "3MFReadObj: %s is not a 3MF package: it is no zip archive\n", file.c_str());
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t *source = zip_source_buffer_create(data, size, 0, &error);
  if (!source) allocFailed("zip_source", 1, __LINE__, kModule);
  z.archive = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
  if (!z.archive) {
    zip_source_free(source);
    std::string why = zip_error_strerror(&error);
    zip_error_fini(&error);
    fatal(1, "3MFReadObj: %s: the zip archive is damaged: %s\n", file.c_str(), why.c_str());
  }
  zip_error_fini(&error);
}

std::string ZipEntryName(const std::string &partName) {
  std::string out;
  std::size_t i = 0;
  while (i < partName.size() && partName[i] == '/') ++i;
  auto hex = [](char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
  };
  for (; i < partName.size(); ++i) {
    char c = partName[i];
    if (c == '%' && i + 2 < partName.size() && hex(partName[i + 1]) >= 0 &&
        hex(partName[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hex(partName[i + 1]) * 16 + hex(partName[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool ZipHas(const ZipPackage &z, const std::string &entry) {
  return zip_name_locate(z.archive, entry.c_str(), ZIP_FL_NOCASE) >= 0;
}

ZipBytes ZipRead(ZipPackage &z, const std::string &entry) {
  const char *file = z.file.c_str(), *name = entry.c_str();
  zip_int64_t index = zip_name_locate(z.archive, name, ZIP_FL_NOCASE);
  if (index < 0) fatal(1, "3MFReadObj: %s: the package has no part \"%s\"\n", file, name);
  zip_stat_t st;
  zip_stat_init(&st);
  const zip_uint64_t need = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD;
  if (zip_stat_index(z.archive, static_cast<zip_uint64_t>(index), 0, &st) != 0 ||
      (st.valid & need) != need)
    fatal(1, "3MFReadObj: %s: the zip entry \"%s\" cannot be read: %s\n", file, name,
          zip_strerror(z.archive));
  if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
    fatal(1, "3MFReadObj: %s: the zip entry \"%s\" is encrypted\n", file, name);
  const uint64_t size = st.size, stored = st.comp_size;
  if ((st.comp_method == ZIP_CM_STORE && size != stored) ||
      (st.comp_method == ZIP_CM_DEFLATE && size > stored * kDeflateRatio + kDeflateSlack))
    fatal(1,
          "3MFReadObj: %s: the zip entry \"%s\" claims %llu bytes from %llu stored ones, more "
          "than its compression can give\n",
          file, name, static_cast<unsigned long long>(size),
          static_cast<unsigned long long>(stored));
  if (size > z.budget || size > SIZE_MAX - 1)
    fatal(1,
          "3MFReadObj: %s: the zip entry \"%s\" inflates to %llu bytes, more than the %llu "
          "bytes of memory left for the package\n",
          file, name, static_cast<unsigned long long>(size),
          static_cast<unsigned long long>(z.budget));
  z.budget -= size;

  ZipBytes bytes;
  // One byte more than claimed: an entry that inflates beyond its claim shows it there.
  const std::size_t room = static_cast<std::size_t>(size) + 1;
  ALLOC_OR_REPORT("char", room, kModule, bytes.data.reset(new char[room]));
  AdviseHugePages(bytes.data.get(), room);
  zip_file_t *in = zip_fopen_index(z.archive, static_cast<zip_uint64_t>(index), 0);
  if (!in)
    fatal(1, "3MFReadObj: %s: the zip entry \"%s\" cannot be opened: %s\n", file, name,
          zip_strerror(z.archive));
  uint64_t got = 0;
  for (;;) {
    zip_int64_t n = zip_fread(in, bytes.data.get() + got, room - got);
    if (n < 0) {
      std::string why = zip_file_strerror(in);
      zip_fclose(in);
      fatal(1, "3MFReadObj: %s: the zip entry \"%s\" is damaged: %s\n", file, name, why.c_str());
    }
    if (n == 0) break;
    got += static_cast<uint64_t>(n);
    if (got > size) break;
  }
  zip_fclose(in);
  if (got != size)
    fatal(1, "3MFReadObj: %s: the zip entry \"%s\" holds %s bytes than the %llu it claims\n", file,
          name, got > size ? "more" : "fewer", static_cast<unsigned long long>(size));
  bytes.size = static_cast<std::size_t>(size);
  return bytes;
}
