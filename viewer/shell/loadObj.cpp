#include "viewer/shell/loadObj.h"

#include "base/beside.h"
#include "base/fatal.h"
#include "base/files.h"
#include "viewer/graphics/graphics.h"
#include "viewer/model/normalsObj.h"
#include "viewer/model/orientObj.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/formatTable.h"
#include "viewer/readers/guessSTLObj.h"
#include "viewer/readers/readSTLObj.h"
#include "viewer/shell/formatLoaders.h"
#include "viewer/model/shape.h"
#include "viewer/shell/shell.h"

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

void LoadObject(int type) {
  if (objName.find('/') != std::string::npos) objFolder.named = true;
  // The folder of OBJ_PATH that holds the object becomes its own folder.
  std::string folder;
  if (ObjectFolderOf(objName, folder) != 1) folder = GetObjPath();
  std::string fullPath = folder + "/" + objName;
  if (verbose) {
    std::printf("FileName = %s\n", objName.c_str());
    std::printf("filename = %s\n", fullPath.c_str());
    std::fflush(stdout);
  }
  const FormatRow *row = FormatOfType(type);
  if (row && row->converted)
    LoadVRMLObject(fullPath);
  else if (row && LoaderOfType(type))
    LoadTypedObject(fullPath, type);
  else
    fatal(1, "File %s extension is not supported\n", objName.c_str());
}

// Steps shared by every loader up to the decompression.
static int PrepareLoad(const std::string &fullPath) {
  CatchEndSignals();
  ResetDisplay();
  ReleaseAll();
  objName = fullPath;
  int kind = CompressionKind();
  SplitObjPath();
  return kind;
}

// Whatever ends the load, its private folder goes; a load that succeeds first adds the side
// files it made for a compressed object beside it.
namespace {
struct RestoreOnExit {
  int kind;
  bool done = false;
  explicit RestoreOnExit(int k) : kind(k) {}
  ~RestoreOnExit() {
    if (!done) RestoreDirectory(kind);
    ReleaseEndSignals();
  }
  void finish() {
    Recompress(kind);
    ReleasePrivateFolder();
    done = true;
  }
};
} // namespace

void LoadTypedObject(const std::string &fullPath, int type) {
  int kind = PrepareLoad(fullPath);
  RestoreOnExit restore(kind);
  Decompress(kind);
  BuildShape(type);
  restore.finish();
}

void LoadVRMLObject(const std::string &fullPath) {
  int kind = PrepareLoad(fullPath);
  RestoreOnExit restore(kind);
  Decompress(kind);
  ConvertVRML();
  BuildShape(kTypeAOFF);
  restore.finish();
}

void SplitObjPath() {
  std::size_t slash = objName.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : objName.substr(0, slash);
  if (slash != std::string::npos && slash != 0) objName = objName.substr(slash + 1);
  SetObjectFolder(dir);
}

// A coordinate beyond the float range (1e308) or not a number would pass through the normals and
// the fit as infinities: the object could not be framed, and --info would print "inf".
static void RefuseNonFiniteVertices(const Part &part) {
  for (std::size_t v = 0; v < part.vertices.size(); ++v) {
    const Coord &c = part.vertices[v];
    for (float x : {c.x, c.y, c.z})
      if (!std::isfinite(x))
        fatal(1, "File %s: vertex %zu: coordinate %g is not a finite single-precision number\n",
              objName.c_str(), v + 1, static_cast<double>(x));
  }
}

static bool listsPending = false;

// The file does not say which side of a facet is its front: a closed surface is turned outward
// before its normals follow the facets (the STL repair does this for STL).
static void OrientAndNormals(Part &part) {
  ApplyOrientation(part, PlanOrientation(part));
  ComputeFacetNormals(part);
  ComputeVertexNormals(part);
}

// With a window to come, its start-up (the display connection, the context, the rasteriser's
// libraries) runs on this thread while another completes the object: neither touches what the
// other does, and on a large object each takes a good part of the time to the first frame. A
// failure on either side ends the run as it would have alone (the other is waited for first).
static void CompleteFronts(Part &part) {
  if (runOptions.info) {
    OrientAndNormals(part);
    return;
  }
  Beside completion([&part] { OrientAndNormals(part); });
  OpenDrawing();
  completion.Join();
}

// The mesh library reads and repairs an STL object on one processor, and on a large one that is
// most of the time to the first frame: the window's start-up runs beside it, as it runs beside
// the completion of other formats. What the load does not need (the display, the context) is all
// the window touches; a failure of the load still ends the run, with the window then closed.
static void LoadBesideWindow(int type, Loader load) {
  if (type != kTypeSTL || runOptions.info) {
    load();
    return;
  }
  Beside loading([load] { load(); });
  OpenDrawing();
  loading.Join();
}

// A large binary STL is drawn from a guess while the library reads and repairs it (see
// guessSTLObj.h): the guess is set up and its scene drawn on this thread, and kept when the
// repair bears it out; otherwise it goes and the repaired record is converted as always. True
// when the guess held: the Part, its fit, the settings and the graphics set-up are then in place.
// `setUp` tells whether the graphics were set up (for a guess that did not hold).
// Not for a run without a window, nor where the set-up talks (verbose) or memory is bounded (a
// thumbnail): the guess holds a second copy of the facets until the repair is done.
static bool LoadSTLDrawingAhead(bool &setUp) {
  FoundFile found = FindObjectFile(kTypeSTL, objName);
  const int fd = fcntl(fileno(found.file.get()), F_DUPFD_CLOEXEC, 0);
  STLObjPtr repaired;
  Beside loading([&repaired, &found] { repaired = STLReadFound(std::move(found)); });
  OpenDrawing();
  Part &part = *currentShape->part;
  const bool guessed = fd >= 0 && GuessSTLObject(fd, part);
  if (fd >= 0) close(fd);
  if (guessed) {
    FitObject(part);
    InitRenderSettings();
    SetupGraphics();
    setUp = true;
    DrawSceneAhead();
  }
  loading.Join();
  if (guessed && STLMatchesGuess(*repaired, part)) {
    repaired.reset();
    malloc_trim(0);
    CompleteSTLGuess(part);
    return true;
  }
  if (guessed) DropSTLGuess(part);
  STLAdoptObject(std::move(repaired));
  return false;
}

void CompleteShownShape() {
  if (!listsPending || !currentShape) return;
  listsPending = false;
  BuildVertexFacetLists(*currentShape->part);
}

void BuildShape(int type) {
  CreateShape(static_cast<int16_t>(type));
  Part &part = *currentShape->part;
  const FormatRow *row = FormatOfType(type);
  const Loader load = LoaderOfType(type);
  if (!row || !load) fatal(1, "File %s extension is not supported\n", objName.c_str());
  struct WarmUp {
    WarmUp() {
      if (!runOptions.info) StartWarmUp();
    }
    ~WarmUp() { FinishWarmUp(); }
  } warmUp;
  bool setUp = false, held = false;
  if (type == kTypeSTL && !runOptions.info && !verbose && runOptions.thumbnailInput.empty())
    held = LoadSTLDrawingAhead(setUp);
  else
    LoadBesideWindow(type, load);
  // A mapped file cut short under a reader that went on to the end (reading zeros).
  std::string cut = FileCutShort();
  if (!cut.empty()) fatal(1, "File %s was cut short while it was read\n", cut.c_str());
  // A guess that held took finite corners only.
  if (held) {
    listsPending = true;
    return;
  }
  RefuseNonFiniteVertices(part);
  if (row->completion != kCompleteLists) {
    if (row->completion == kCompleteNormalsFit) CompleteFronts(part);
    FitObject(part);
  }
  // No frame reads the vertex-to-facet lists: they wait until the first one is on the screen.
  listsPending = true;
  InitRenderSettings();
  if (setUp)
    SetupGraphicsAgain();
  else if (!runOptions.info)
    SetupGraphics();
}
