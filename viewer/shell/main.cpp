#include "viewer/shell/main.h"

#include "base/fatal.h"
#include "viewer/graphics/graphics.h"
#include "viewer/shell/loadObj.h"
#include "viewer/model/shape.h"
#include "viewer/shell/shell.h"
#include "viewer/shell/thumbnail.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

int objType = 0;
int drawableKind = 3;
RunOptions runOptions;

void (*enterEventLoop)() = nullptr;
void (*takeSnapshot)() = nullptr;

void PrintUsage(const char *program) {
  fatal(1,
        "\nUsage: %s            \n"
        "       -h[elp]                              \n"
        "       -v[erbose]                           \n"
        "       -in object \n\n",
        program);
}

int TypeFromName(const std::string &name) {
  for (const FormatRow &row : Formats())
    if (name.find(row.extension) != std::string::npos) return row.type;
  return 0;
}

bool ObjectFileExists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// A side of --size: digits only, 1 to kMaxPictureSide; 0 for anything else.
static int PictureSide(const std::string &digits) {
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  int n = std::stoi(digits);
  return n <= kMaxPictureSide ? n : 0;
}

// --size WIDTHxHEIGHT, or N for a square, into the drawing target.
static void ParsePictureSize(const std::string &value) {
  std::size_t x = value.find('x');
  int w = PictureSide(value.substr(0, x));
  int h = x == std::string::npos ? w : PictureSide(value.substr(x + 1));
  if (w == 0 || h == 0)
    fatal(1, "--size %s: give WIDTHxHEIGHT, or one number for a square, each from 1 to %d\n",
          value.c_str(), kMaxPictureSide);
  drawing_target.width = w;
  drawing_target.height = h;
}

// Options of our own begin with "--"; returns how many arguments were consumed after `i`.
static std::size_t ParseOwnOption(const std::vector<std::string> &args, std::size_t i) {
  const std::string &a = args[i];
  if (a == "--info") {
    runOptions.info = true;
  } else if (a == "--status") {
    runOptions.snapshotStatus = true;
  } else if (a == "--snapshot") {
    if (i + 1 >= args.size()) PrintUsage(args[0].c_str());
    runOptions.snapshot = args[i + 1];
    return 1;
  } else if (a == "--size") {
    if (i + 1 >= args.size()) PrintUsage(args[0].c_str());
    ParsePictureSize(args[i + 1]);
    return 1;
  } else if (a == "--thumbnail") {
    if (i + 2 >= args.size()) PrintUsage(args[0].c_str());
    runOptions.thumbnailInput = args[i + 1];
    runOptions.thumbnailOutput = args[i + 2];
    return 2;
  }
  return 0;
}

void ParseArgs(const std::vector<std::string> &args) {
  const char *program = args.empty() ? "mirandel" : args[0].c_str();
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (a == "-drawable") {
      if (i + 1 >= args.size()) PrintUsage(program);
      const std::string &value = args[++i];
      if (value.compare(0, 6, "buffer") == 0 && value.size() >= 6)
        drawableKind = 3;
      else if (value.compare(0, 6, "pixmap") == 0 && value.size() >= 6)
        drawableKind = 2;
      else if (value.compare(0, 6, "window") == 0 && value.size() >= 6)
        drawableKind = 1;
    } else if (a.compare(0, 3, "-in") == 0 && objType == 0) {
      if (i + 1 >= args.size()) PrintUsage(program);
      objName = args[++i];
      if (objName.find('/') != std::string::npos) objFolder.named = true;
      // A name from the root is a full path: its directory becomes OBJ_PATH.
      if (!objName.empty() && objName[0] == '/') SplitObjPath();
      std::string path = GetObjPath() + "/" + objName;
      if (!ObjectFileExists(path)) fatal(1, "File %s does not exist\n", objName.c_str());
      objType = TypeFromName(objName);
      if (objType == 0) fatal(1, "File %s extension is not supported\n", objName.c_str());
    } else if (a.compare(0, 2, "--") == 0) {
      i += ParseOwnOption(args, i);
    } else if (a.compare(0, 2, "-h") == 0) {
      PrintUsage(program);
    } else if (a.compare(0, 2, "-v") == 0) {
      verbose = 1;
    }
  }
}

void PrintObjectInfo() {
  const Part *p = currentShape ? currentShape->part.get() : nullptr;
  std::printf("Object: %s\n", objName.c_str());
  std::printf("%d vertices\n", p ? static_cast<int>(p->vertex_count) : 0);
  std::printf("%d polygons\n", p ? static_cast<int>(p->facet_count) : 0);
  // Without vertices the box keeps the start values of its search, which are no extent at all.
  if (p && p->vertex_count == 0)
    std::printf("bbox: empty\n");
  else if (p)
    std::printf("bbox: %g %g %g %g %g %g\n", p->bbox_min.x, p->bbox_min.y, p->bbox_min.z,
                p->bbox_max.x, p->bbox_max.y, p->bbox_max.z);
  std::fflush(stdout);
}

static int Run(int argc, char **argv) {
  verbose = 0;
  objType = 0;
  drawableKind = 3;
  show_status = 0;
  show_ground = 1;
  front_ccw = 1;
  runOptions = RunOptions();
  objFolder = ObjectFolder();
  drawing_target = DrawingTarget();

  std::vector<std::string> args(argv, argv + argc);
  // A thumbnail names its object by path, as a file manager does: OBJ_PATH plays no part.
  bool thumbnail = std::find(args.begin() + std::min<std::size_t>(1, args.size()), args.end(),
                             "--thumbnail") != args.end();
  if (!thumbnail && !std::getenv("OBJ_PATH"))
    fatal(1, "Environment variable OBJ_PATH, undefined\n\n");

  ParseArgs(args);
  if (thumbnail) {
    if (runOptions.thumbnailInput.empty()) PrintUsage(args[0].c_str());
    return MakeThumbnail(runOptions.thumbnailInput, runOptions.thumbnailOutput);
  }
  if (objType == 0) {
    std::string chosen = ChooseObjectFile();
    args.push_back("-in");
    args.push_back(chosen);
    ParseArgs(args);
  }

  // A snapshot needs no window: without a display that shows OpenGL it is drawn off-screen.
  // Only the status text's font needs the display.
  if (!runOptions.info && !runOptions.snapshot.empty() && !DisplayAvailable()) {
    const char *display = std::getenv("DISPLAY");
    if (runOptions.snapshotStatus && (!display || !*display))
      fatal(1, "--status: the status text needs a display, and DISPLAY names none\n");
    if (runOptions.snapshotStatus)
      fatal(1, "--status: the status text needs a display, and DISPLAY=%s cannot be used\n",
            display);
    drawing_target.offscreen = true;
  }

  LoadObject(objType);

  if (runOptions.info) {
    PrintObjectInfo();
  } else if (!runOptions.snapshot.empty() && drawing_target.offscreen) {
    WriteSnapshot(runOptions.snapshot);
    ReleaseAll();
  } else if (!runOptions.snapshot.empty()) {
    if (!takeSnapshot) fatal(1, "--snapshot: this build cannot draw\n");
    takeSnapshot();
  } else if (enterEventLoop) {
    enterEventLoop();
  }
  return 0;
}

int MirandelMain(int argc, char **argv) {
  try {
    return Run(argc, argv);
  } catch (const FatalError &e) {
    std::fflush(stdout);
    std::fputs(e.what(), stderr);
    std::fflush(stderr);
    return e.status;
  }
}
