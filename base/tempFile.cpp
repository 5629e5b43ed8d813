#include "base/tempFile.h"

#include "base/fatal.h"
#include "base/files.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

TempFile::~TempFile() {
  if (!path_.empty()) unlink(path_.c_str());
}

void TempFile::Write(const char *contents, std::size_t size, const char *who) {
  std::string dir = TempFolder();
  std::string tmpl = dir + "/mirandel-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) fatal(1, "%s: cannot create a temporary file in %s\n", who, dir.c_str());
  path_ = name.data();
  std::FILE *f = fdopen(fd, "wb");
  bool ok = f && std::fwrite(contents, 1, size, f) == size;
  if (f)
    ok = std::fclose(f) == 0 && ok;
  else
    close(fd);
  if (!ok) fatal(1, "%s: cannot write the temporary file %s\n", who, path_.c_str());
}
