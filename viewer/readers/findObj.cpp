#include "viewer/readers/findObj.h"

#include "base/fatal.h"
#include "viewer/model/object.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// One list per row of the table of formats: each reader builds its own on its first search.
static std::vector<SearchDirs> &ReaderDirs() {
  static std::vector<SearchDirs> dirs(kFormatCount);
  return dirs;
}

std::string ExpandHome(const std::string &entry) {
  if (entry.size() < 2 || entry[0] != '~' || entry[1] != '/') return entry;
  const char *home = std::getenv("HOME");
  if (!home) return entry;
  return std::string(home) + entry.substr(1);
}

int BuildSearchDirs(SearchDirs &list) {
  list.dirs.clear();
  list.dir_count = 0;
  list.objectFolderOnly = false;
  std::string value = GetObjPath();
  if (objFolder.known && value == objFolder.dir) {
    // A folder the load took from the object's own path is already a real path: nothing in it
    // is a separator or stands for the home folder.
    list.objectFolderOnly = objFolder.named;
    if (!value.empty()) {
      list.dirs.push_back(value + '/');
      list.dir_count = 1;
    }
    return 0;
  }
  std::size_t i = 0;
  for (;;) {
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
    std::size_t start = i;
    while (i < value.size() && value[i] != ' ' && value[i] != '\t') ++i;
    if (i == start) break;
    std::string entry = value.substr(start, i - start) + '/';
    if (entry[0] == '~') entry = ExpandHome(entry);
    if (list.dir_count == kMaxSearchDirs) return -1;
    list.dirs.push_back(entry);
    ++list.dir_count;
  }
  return 0;
}

int ObjectFolderOf(const std::string &name, std::string &folder) {
  // OBJ_PATH whole first: one folder whose name holds a blank is a folder too.
  std::string whole = GetObjPath();
  if (ObjectFileExists(whole + "/" + name)) {
    folder = whole;
    return 1;
  }
  SearchDirs list;
  if (BuildSearchDirs(list) == -1) return -1;
  for (const std::string &dir : list.dirs) {
    if (!ObjectFileExists(dir + name)) continue;
    folder = dir.substr(0, dir.size() - 1);
    return 1;
  }
  return 0;
}

void ResetSearchDirs() {
  for (SearchDirs &d : ReaderDirs()) d = SearchDirs();
}

FoundFile SearchObjectFile(int type, const std::string &name) {
  const FormatRow *row = FormatOfType(type);
  if (!row || !row->reader) fatal(1, "No reader searches for objects of type %d\n", type);
  SearchDirs &list = ReaderDirs()[static_cast<std::size_t>(row - kFormats)];
  if (!list.built) {
    int rc = BuildSearchDirs(list);
    list.built = true;
    if (rc == -1)
      fatal(1, "%s: too many (> %d) directories in OBJ_PATH\n", row->reader, kMaxSearchDirs);
  }
  std::size_t slash = name.rfind('/');
  std::string ownDir = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);

  FoundFile found;
  // Opened without waiting: a pipe is handed back as it is (never blocking), for the caller to
  // tell from a regular file.
  auto open = [&](const std::string &path) {
    struct stat st;
    bool notRegular = false;
    found.file.reset(OpenRegularFile(path, st, &notRegular));
    if (notRegular) {
      int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) found.file.reset(fdopen(fd, "rb"));
      if (fd >= 0 && !found.file) close(fd);
    }
  };
  // An object named with its folder is read from that folder only: a file of the same name in
  // the current folder would be another object, and an AOFF object would mix the two.
  bool asNamed = !list.objectFolderOnly || (!name.empty() && name[0] == '/');
  if (asNamed) open(name);
  if (found.file) {
    found.path = name;
    found.dir = ownDir;
    return found;
  }
  for (const std::string &dir : list.dirs) {
    std::string path = dir + name;
    open(path);
    if (found.file) {
      found.path = path;
      found.dir = dir + ownDir;
      return found;
    }
  }
  return found;
}

FoundFile FindObjectFile(int type, const std::string &name) {
  FoundFile found = SearchObjectFile(type, name);
  if (!found.file) fatal(1, "%s: %s not found\n", FormatOfType(type)->reader, name.c_str());
  // Only a regular file is an object: a pipe would never end, a device never stop.
  struct stat st;
  if (fstat(fileno(found.file.get()), &st) != 0 || !S_ISREG(st.st_mode))
    fatal(1, "%s: %s is not a regular file\n", FormatOfType(type)->reader, found.path.c_str());
  return found;
}

ObjectFile ReadObjectFile(int type, const std::string &name, const char *module) {
  FoundFile found = FindObjectFile(type, name);
  ObjectFile object;
  object.data.Load(found.file.get(), module, found.path);
  object.path = std::move(found.path);
  object.dir = std::move(found.dir);
  return object;
}
