#include "viewer/shell/main.h"

#include "base/fatal.h"
#include "base/files.h"
#include "viewer/graphics/graphics.h"
#include "viewer/readers/formatTable.h"
#include "viewer/shell/fileDialog.h"
#include "viewer/shell/formatLoaders.h"
#include "viewer/shell/loadObj.h"
#include "viewer/model/shape.h"
#include "viewer/readers/findObj.h"
#include "viewer/shell/shell.h"
#include "viewer/shell/thumbnail.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int objType = 0;
int drawableKind = kDrawableBuffer;
RunOptions runOptions;

// Every program-wide value a run reads back to its start value: a process may run more than once
// (the tests do). A value defined in a lower folder is reset by that folder's own function.
static void ResetProgramValues() {
  objType = 0;
  drawableKind = kDrawableBuffer;
  runOptions = RunOptions();
  ResetObjectValues();
  ResetRunSwitches();
}

void (*enterEventLoop)() = nullptr;
void (*takeSnapshot)() = nullptr;

// True while a failure of this run is also to be shown in a message dialog.
static bool messageDialog = false;

void PrintUsage(const char *program) {
  fatal(1,
        "\nUsage: %s            \n"
        "       -h[elp]                              \n"
        "       -v[erbose]                           \n"
        "       -in object \n\n",
        program);
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
        drawableKind = kDrawableBuffer;
      else if (value.compare(0, 6, "pixmap") == 0 && value.size() >= 6)
        drawableKind = kDrawablePixmap;
      else if (value.compare(0, 6, "window") == 0 && value.size() >= 6)
        drawableKind = kDrawableWindow;
    } else if (a.compare(0, 3, "-in") == 0 && objType == 0) {
      if (i + 1 >= args.size()) PrintUsage(program);
      objName = args[++i];
      if (objName.find('/') != std::string::npos) objFolder.named = true;
      // A name from the root is a full path: its directory becomes OBJ_PATH.
      if (!objName.empty() && objName[0] == '/') SplitObjPath();
      // Looked for along the folders as the readers will look.
      std::string folder;
      int found = ObjectFolderOf(objName, folder);
      const FormatRow *row = FormatOfType(TypeFromName(objName));
      if (found == -1)
        fatal(1, "%s: too many (> %d) directories in OBJ_PATH\n",
              row && row->reader ? row->reader : "OBJ_PATH", kMaxSearchDirs);
      if (found == 0) fatal(1, "File %s does not exist\n", objName.c_str());
      // A pipe would never end and a device never stop: only a regular file is an object.
      if (FileKindAt(folder + "/" + objName) != FileKind::kRegular)
        fatal(1, "File %s is not a regular file\n", objName.c_str());
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

// The --help text, one row a line: the forms of the command line, then each option and variable
// with what it does. A new option or variable is one more row.
struct HelpRow {
  const char *term; // the option or variable ("": the text goes on); null: a line of its own
  const char *text; // in a line of its own, "%s" stands for the invocation name
};
const HelpRow kHelp[] = {
    {nullptr, "Usage: %s [-v[erbose]] [-drawable buffer|pixmap|window] [-in object]"},
    {nullptr, "       %s --info [-v[erbose]] -in object"},
    {nullptr, "       %s --snapshot file.png [--status] [--size WxH|N] -in object"},
    {nullptr, "       %s [--size N] --thumbnail object picture.png"},
    {nullptr, "       %s --help | --version"},
    {nullptr, "Shows one 3D polygonal object in a window; without -in, a dialog asks for it."},
    {nullptr, "%objects"},
    {nullptr, ""},
    {nullptr, "Options:"},
    {"-in object", "the object: a name along OBJ_PATH, or a full path"},
    {"-v[erbose]", "progress lines on standard output"},
    {"-drawable kind", "buffer, pixmap or window: recorded only"},
    {"-h[elp]", "the short usage text on standard error, exit status 1"},
    {"--info", "prints the object's counts and bounds; no window"},
    {"--snapshot file.png", "draws the first frame into a PNG file (off-screen"},
    {"", "without a display)"},
    {"--status", "with --snapshot: the picture shows the status text"},
    {"--size WxH|N", "the window's or picture's size (snapshots: 560x525,"},
    {"", "thumbnails: 128)"},
    {"--thumbnail in out.png", "a square picture of the object alone, as a file"},
    {"", "manager asks for one; needs no display, no OBJ_PATH"},
    {"--help", "this text"},
    {"--version", "the program's name and version"},
    {nullptr, ""},
    {nullptr, "Environment:"},
    {"OBJ_PATH", "required: up to 10 object folders, separated by blanks,"},
    {"", "looked along in order (one folder with blanks: whole)"},
    {"HOME", "what a leading ~/ in OBJ_PATH stands for"},
    {"COMPRESS_PATH", "the folder of gzip and compress (default: along PATH)"},
    {"TMP_PATH", "where compressed objects are decompressed privately"},
    {"", "(default: $TMPDIR, else /tmp)"},
    {"COPY_COMMAND", "copies them there (default: cp)"},
    {"REMOVE_COMMAND", "accepted, no longer run"},
    {"WRL2GEOM_COMMAND", "converts VRML: COMMAND in.wrl out.geom"},
    {"", "(default: the mirandel-wrl2geom beside the program)"},
    {"MIRANDEL_NO_DIALOG", "1: failures on standard error only, never in a dialog"},
    {"MIRANDEL_THUMBNAIL_SECONDS", "a thumbnail's time limit (default 10)"},
    {"MIRANDEL_THUMBNAIL_MEGABYTES", "a thumbnail's memory limit (default 1024)"},
    {"DISPLAY", "the X display of the window and the dialogs"},
};

static void PrintHelp(const char *program) {
  const int column = 24; // where the texts of the rows begin
  for (const HelpRow &row : kHelp) {
    if (!row.term && std::strcmp(row.text, "%objects") == 0) {
      // The formats as the table has them, wrapped within 80 columns.
      std::string line = "Objects:";
      for (const FormatRow &f : Formats()) {
        if (!CanShow(f)) continue;
        if (line.size() + 1 + std::strlen(f.extension) > 78) {
          std::printf("%s\n", line.c_str());
          line = "        ";
        }
        line = line + " " + f.extension;
      }
      std::printf("%s\n         any of them also gzip- or compress-compressed\n", line.c_str());
    } else if (!row.term) {
      std::string line = row.text;
      std::size_t at = line.find("%s");
      if (at != std::string::npos) line.replace(at, 2, program);
      std::printf("%s\n", line.c_str());
    } else if (std::strlen(row.term) + 4 > std::size_t(column)) {
      std::printf("  %s\n%*s%s\n", row.term, column, "", row.text);
    } else {
      std::printf("  %-*s%s\n", column - 2, row.term, row.text);
    }
  }
}

// --help and --version are answered wherever they stand and before anything else, so that they
// work without OBJ_PATH and whatever else the line holds. True when one was answered.
static bool AnswerHelpOrVersion(const std::vector<std::string> &args) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--help") {
      PrintHelp(args[0].c_str());
    } else if (args[i] == "--version") {
      std::printf("mirandel %s\n", MIRANDEL_VERSION);
    } else {
      continue;
    }
    std::fflush(stdout);
    return true;
  }
  return false;
}

bool MessageDialogWanted(const std::vector<std::string> &args) {
  const char *off = std::getenv("MIRANDEL_NO_DIALOG");
  if (off && *off && std::strcmp(off, "0") != 0) return false;
  if (isatty(STDERR_FILENO)) return false;
  const char *x = std::getenv("DISPLAY");
  const char *wayland = std::getenv("WAYLAND_DISPLAY");
  if (!(x && *x) && !(wayland && *wayland)) return false;
  // The options of our own are for scripts, which read standard error and must never wait.
  for (std::size_t i = 1; i < args.size(); ++i)
    if (args[i].compare(0, 2, "--") == 0) return false;
  return true;
}

void ReportFatal(const FatalError &e) {
  std::fflush(stdout);
  std::fputs(e.what(), stderr);
  std::fflush(stderr);
  // The warnings before the message are often its reason; standard error has them just above.
  if (messageDialog) ShowMessageDialog(RecentWarnings() + e.what());
}

static int Run(int argc, char **argv) {
  ResetProgramValues();
  std::vector<std::string> args(argv, argv + argc);
  if (AnswerHelpOrVersion(args)) return 0;
  messageDialog = MessageDialogWanted(args);
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
    // Who cancelled the file dialog chose to stop: the message is for standard error only.
    if (chosen.empty()) messageDialog = false;
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
    ReportFatal(e);
    return e.status;
  }
}
