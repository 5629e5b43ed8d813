// Compressed objects and VRML objects through the external commands, run on the real program with
// the real tools.
#include "viewer/shell/loadObj.h"
#include "viewer/shell/shell.h"
#include "support.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const char *kTriangleOff = "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";

std::string Sh(const std::string &script, const std::vector<std::string> &args = {}) {
  std::vector<std::string> argv{"sh", "-c", script, "sh"};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = RunProgram(argv);
  EXPECT_EQ(r.status, 0) << script << ": " << r.err;
  return r.out;
}

// Writes `contents` as dir/name compressed with the kind's tool ("gz" or "Z").
void WriteCompressed(const TempDir &dir, const std::string &name, const std::string &contents,
                     const std::string &kind) {
  dir.write(name, contents);
  if (kind == "gz")
    Sh("gzip \"$1\"", {dir.file(name)});
  else
    Sh("compress -f \"$1\"", {dir.file(name)});
}

// Every file of a folder with its bytes as they lie.
std::map<std::string, std::string> Bytes(const std::string &dir) {
  std::map<std::string, std::string> files;
  for (const std::string &name : ListDir(dir)) files[name] = ReadFile(dir + "/" + name);
  return files;
}

// Every file of a folder with its contents, compressed files by what they decompress to.
std::map<std::string, std::string> Contents(const std::string &dir) {
  std::map<std::string, std::string> files;
  for (const std::string &name : ListDir(dir)) {
    std::string path = dir + "/" + name;
    if (name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0)
      files[name] = Sh("gzip -dc \"$1\"", {path});
    else if (name.size() > 2 && name.compare(name.size() - 2, 2, ".Z") == 0)
      files[name] = Sh("uncompress -c \"$1\"", {path});
    else
      files[name] = ReadFile(path);
  }
  return files;
}

// A folder of tools that write their name and arguments to `log` and then run the real tool.
std::string LoggingTools(const TempDir &dir, const std::string &log) {
  std::string tools = dir.file("tools");
  mkdir(tools.c_str(), 0755);
  for (const char *tool : {"gzip", "uncompress", "compress", "cp", "rm"}) {
    std::string path = tools + "/" + tool;
    dir.write("tools/" + std::string(tool), "#!/bin/sh\necho \"" + std::string(tool) +
                                                " $*\" >> '" + log + "'\nexec /usr/bin/env " +
                                                tool + " \"$@\"\n");
    chmod(path.c_str(), 0755);
  }
  return tools;
}

bool WaitForFile(const std::string &path, double seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!FileExists(path)) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Ctrl-C reaches every process of the terminal's group; kill and a hang-up reach the program.
void SendEndSignal(int pid, int sig) {
  kill(sig == SIGINT ? -pid : pid, sig);
}

const char *SignalName(int sig) {
  return sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "SIGHUP";
}

bool HaveTool(const char *tool) {
  return RunProgram({"sh", "-c", std::string("command -v ") + tool}).status == 0;
}

} // namespace

TEST(ExtCmd, CompressionKindIsTheWholeSuffix) {
  std::string saved = objName;
  for (auto c : std::vector<std::pair<const char *, int>>{{"hand.off.gz", 1},
                                                          {"hand.geom.Z", 2},
                                                          {"hand.offgz", 0},
                                                          {"hand.off.GZ", 0},
                                                          {"hand.off.z", 0},
                                                          {"hand.Z.off", 0},
                                                          {"gz", 0}}) {
    objName = c.first;
    EXPECT_EQ(CompressionKind(), c.second) << c.first;
  }
  objName = saved;
}

TEST(ExtCmd, QuotedNamesReachTheShellUnchanged) {
  for (const char *text : {"plain", "a b", "it's", "''", "a;touch x", "$(touch y)", "`id`",
                           "back\\slash", "new\nline", "-rf", "*", "\"q\""}) {
    RunResult r = RunProgram({"sh", "-c", "printf %s " + ShellQuote(text)});
    EXPECT_EQ(r.out, text);
  }
}

// The object is copied into a private folder and decompressed there: the user's folder ends byte
// for byte as it began, and the private folder is gone.
TEST(ExtCmd, CompressedObjectIsReadFromPrivateCopies) {
  for (std::string kind : {"gz", "Z"}) {
    if (kind == "Z" && !HaveTool("compress")) GTEST_SKIP() << "ncompress is not installed";
    TempDir dir, tools, tmp;
    std::string obj = dir.file("obj");
    mkdir(obj.c_str(), 0755);
    std::string suffix = "." + kind;
    WriteCompressed(dir, "obj/hand.off", kTriangleOff, kind);
    WriteCompressed(dir, "obj/other.off", kTriangleOff, kind);
    dir.write("obj/handy.txt", "not the object's\n");
    auto before = Bytes(obj);
    std::string log = tools.file("log");
    std::string bin = LoggingTools(tools, log);

    RunResult r = RunMirandel({"--info", "-in", "hand.off" + suffix},
                              {{"OBJ_PATH", true, obj},
                               {"TMP_PATH", true, tmp.path()},
                               {"COMPRESS_PATH", true, bin},
                               {"COPY_COMMAND", true, bin + "/cp"},
                               {"REMOVE_COMMAND", true, bin + "/rm -f"}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Object: hand.off" + suffix);
    EXPECT_EQ(Bytes(obj), before);
    EXPECT_TRUE(ListDir(tmp.path()).empty());
    std::string scratch = tmp.path() + "/mirandel-XXXXXX";
    std::string logged = std::regex_replace(
        ReadFile(log), std::regex(tmp.path() + "/mirandel-[A-Za-z0-9]{6}"), scratch);
    if (kind == "gz")
      EXPECT_EQ(logged, "cp " + obj + "/hand.off.gz " + scratch + "/\ngzip -qfd " + scratch +
                            "/hand.off.gz\n");
    else
      EXPECT_EQ(logged, "cp " + obj + "/hand.off.Z " + scratch + "/\nuncompress " + scratch +
                            "/hand.off.Z\n");
  }
}

// Files of the same stem that are not compressed stay as they are: an uncompressed twin is not
// overwritten by the decompressed object, and nothing the user kept plain gets compressed.
TEST(ExtCmd, SameStemFilesAreNotTouched) {
  TempDir dir, tmp;
  WriteCompressed(dir, "hand.off", kTriangleOff, "gz");
  dir.write("hand.off", "an older hand, kept plain\n");
  dir.write("hand.txt", "notes\n");
  WriteCompressed(dir, "hand.ply", "ply", "Z");
  auto before = Contents(dir.path());
  RunResult r = RunMirandel({"--info", "-in", "hand.off.gz"},
                            {{"OBJ_PATH", true, dir.path()}, {"TMP_PATH", true, tmp.path()}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("1 polygons"), std::string::npos) << r.out;
  EXPECT_EQ(Contents(dir.path()), before);
  EXPECT_TRUE(ListDir(tmp.path()).empty());
}

// A load that fails after decompressing leaves the folder as it was too.
TEST(ExtCmd, FailedLoadStillRestoresTheFolder) {
  TempDir dir;
  WriteCompressed(dir, "broken.off", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 7\n", "gz");
  WriteCompressed(dir, "broken.ply", "not a ply file", "gz");
  auto before = Contents(dir.path());
  RunResult r = RunMirandel({"--info", "-in", "broken.off.gz"}, {{"OBJ_PATH", true, dir.path()}});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Contents(dir.path()), before);
}

// A folder the user may not write is left alone: the object is read from copies in a private
// scratch folder, which is gone afterwards.
TEST(ExtCmd, ReadOnlyFolderIsReadThroughScratchCopies) {
  TempDir dir, scratch;
  std::string obj = dir.file("obj");
  mkdir(obj.c_str(), 0755);
  WriteCompressed(dir, "obj/hand.off", kTriangleOff, "gz");
  dir.write("obj/hand.notes", "kept as it is\n");
  std::string shared = scratch.file("shared");
  mkdir(shared.c_str(), 0777);
  chmod(shared.c_str(), 01777);
  // Someone else's file of the same stem in the shared scratch folder must survive.
  scratch.write("shared/hand.off", "another program's file\n");
  chmod(dir.path().c_str(), 0755);
  chmod(scratch.path().c_str(), 0755);
  chmod(obj.c_str(), 0555);
  auto before = Contents(obj);

  std::vector<std::string> args{MirandelBin(), "--info", "-in", "hand.off.gz"};
  // Permission bits do not bind the superuser: run as nobody, where nobody can reach the program.
  if (geteuid() == 0) {
    std::vector<std::string> asNobody{"setpriv", "--reuid=65534", "--regid=65534",
                                      "--clear-groups"};
    std::vector<std::string> probe = asNobody;
    probe.insert(probe.end(), {"test", "-x", MirandelBin()});
    if (RunProgram(probe).status != 0) GTEST_SKIP() << "nobody cannot run " << MirandelBin();
    args.insert(args.begin(), asNobody.begin(), asNobody.end());
  }
  RunResult r =
      RunProgram(args, {{"OBJ_PATH", true, obj}, {"TMP_PATH", true, shared}, Unset("TMPDIR")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Object: hand.off.gz");
  EXPECT_EQ(Contents(obj), before);
  EXPECT_EQ(ListDir(shared), std::vector<std::string>{"hand.off"});
  EXPECT_EQ(ReadFile(shared + "/hand.off"), "another program's file\n");
}

// Names that mean something to the shell are only names.
TEST(ExtCmd, ShellWordsInNamesRunNothing) {
  for (std::string name : {"a b;touch x.off", "$(touch y).off", "it's `touch z`.off", "-rf .off"}) {
    TempDir dir, cwd;
    WriteCompressed(dir, name, kTriangleOff, "gz");
    auto before = Contents(dir.path());
    RunResult r =
        RunMirandel({"--info", "-in", name + ".gz"}, {{"OBJ_PATH", true, dir.path()}}, cwd.path());
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Object: " + name + ".gz");
    EXPECT_EQ(Contents(dir.path()), before) << name;
    EXPECT_TRUE(ListDir(cwd.path()).empty()) << name;
  }
}

// A tool that cannot run is named on standard error before the reader reports the object missing;
// the compressed object stays as it was.
TEST(ExtCmd, MissingToolIsReportedBeforeTheReader) {
  TempDir dir, tmp;
  WriteCompressed(dir, "hand.off", kTriangleOff, "gz");
  auto before = Bytes(dir.path());
  RunResult r =
      RunMirandel({"--info", "-in", "hand.off.gz"}, {{"OBJ_PATH", true, dir.path()},
                                                     {"TMP_PATH", true, tmp.path()},
                                                     {"COMPRESS_PATH", true, "/no/tools"}});
  EXPECT_EQ(r.status, 1);
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(r.err, m,
                        std::regex("Command failed \\(exit status 127\\): /no/tools/gzip "
                                   "-qfd '" +
                                   tmp.path() + "/mirandel-[A-Za-z0-9]{6}'/'hand.off.gz'\n")))
      << r.err;
  EXPECT_LT(static_cast<std::size_t>(m.position(0) + m.length(0)), r.err.size())
      << "the reader's message follows";
  EXPECT_EQ(Bytes(dir.path()), before);
  EXPECT_TRUE(ListDir(tmp.path()).empty());
}

// VRML worlds written by other programs load through the converter beside the viewer; its
// geometry and the header made for it stay beside the world.
TEST(ExtCmd, VrmlWorldsLoadThroughTheDefaultConverter) {
  REQUIRE_REALWORLD();
  struct Case {
    const char *file, *info;
  } cases[] = {
      {"wrl/vtk-v2-teapot.wrl", "Object: scene.geom\n1189 vertices\n1506 polygons\n"},
      {"wrl/cge-v1-material_per_face_vertex.wrl", "Object: scene.geom\n24 vertices\n6 polygons\n"},
  };
  for (const Case &c : cases) {
    TempDir dir;
    std::string world = ReadFile(RealWorld(c.file));
    dir.write("scene.wrl", world);
    RunResult r = RunMirandel({"--info", "-in", "scene.wrl"},
                              {{"OBJ_PATH", true, dir.path()}, Unset("WRL2GEOM_COMMAND")});
    EXPECT_EQ(r.status, 0) << c.file << ": " << r.err;
    EXPECT_EQ(r.out.substr(0, std::strlen(c.info)), c.info) << c.file;
    EXPECT_EQ(ReadFile(dir.file("scene.wrl")), world);
    EXPECT_TRUE(FileExists(dir.file("scene.geom"))) << c.file;
    EXPECT_TRUE(FileExists(dir.file("scene.aoff"))) << c.file;
  }
}

// The converter named by WRL2GEOM_COMMAND gets the world and the geometry file as two words each,
// whatever the name holds.
TEST(ExtCmd, ConverterGetsTheNamesAsTwoWords) {
  TempDir dir, tools, tmp;
  std::string name = "it's a;b $(touch x)";
  dir.write(name + ".wrl", "#VRML V2.0 utf8\n");
  std::string log = tools.file("log");
  tools.write("convert",
              "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\" >> '" + log +
                  "'; done\nprintf '3 1 3\\n0 0 0\\n1 0 0\\n0 1 0\\n3 0 1 2\\n' > \"$2\"\n");
  chmod(tools.file("convert").c_str(), 0755);
  RunResult r = RunMirandel({"--info", "-in", name + ".wrl"},
                            {{"OBJ_PATH", true, dir.path()},
                             {"TMP_PATH", true, tmp.path()},
                             {"WRL2GEOM_COMMAND", true, "sh " + tools.file("convert")}},
                            tools.path());
  // The geometry is made in the private folder, then added beside the world.
  EXPECT_EQ(std::regex_replace(ReadFile(log), std::regex("mirandel-[A-Za-z0-9]{6}"), "P"),
            "[" + dir.file(name) + ".wrl]\n[" + tmp.path() + "/P/" + name + ".geom]\n");
  EXPECT_EQ(ReadFile(dir.file(name + ".geom")), "3 1 3\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Object: " + name + ".geom");
  EXPECT_FALSE(FileExists(tools.file("x")));
  EXPECT_FALSE(FileExists(dir.file("x")));
}

// A world the converter refuses ends the load: a geometry file left from an earlier conversion
// must not be shown in its place.
TEST(ExtCmd, FailedConversionEndsTheLoad) {
  TempDir dir;
  dir.write("bad.wrl", "#VRML V2.0 utf8\nShape { geometry IndexedFaceSet { coordIndex [0 1 2] } }");
  dir.write("bad.geom", "3 1 3\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
  RunResult r = RunMirandel({"--info", "-in", "bad.wrl"},
                            {{"OBJ_PATH", true, dir.path()}, Unset("WRL2GEOM_COMMAND")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  std::string tail = "File bad.wrl could not be converted\n";
  ASSERT_GE(r.err.size(), tail.size()) << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
  EXPECT_NE(r.err.find("coordIndex 0 out of range"), std::string::npos) << r.err;
}

// A compressed world: the converter's geometry and the side files are compressed with it.
TEST(ExtCmd, CompressedWorldLeavesOnlyCompressedFiles) {
  REQUIRE_REALWORLD();
  TempDir dir;
  std::string world = ReadFile(RealWorld("wrl/cge-v1-concave.wrl"));
  WriteCompressed(dir, "scene.wrl", world, "gz");
  RunResult r = RunMirandel({"--info", "-in", "scene.wrl.gz"},
                            {{"OBJ_PATH", true, dir.path()}, Unset("WRL2GEOM_COMMAND")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Object: scene.geom.gz");
  auto after = Contents(dir.path());
  EXPECT_EQ(after["scene.wrl.gz"], world);
  EXPECT_EQ(after["scene.geom.gz"].substr(0, 7), "6\t4\t12\n");
  for (const auto &f : after) EXPECT_EQ(f.first.substr(f.first.size() - 3), ".gz") << f.first;
}

// A compressed AOFF object: the header and normal files made while loading are compressed with
// it, and the next load finds them and changes nothing.
TEST(ExtCmd, CompressedGeomKeepsItsSideFilesCompressed) {
  TempDir dir;
  const std::string cube = "8 6 24\n"
                           "0 0 0\n1 0 0\n1 1 0\n0 1 0\n0 0 1\n1 0 1\n1 1 1\n0 1 1\n"
                           "4 0 3 2 1\n4 4 5 6 7\n4 0 1 5 4\n4 1 2 6 5\n4 2 3 7 6\n4 3 0 4 7\n";
  WriteCompressed(dir, "cube.geom", cube, "gz");
  const std::vector<std::string> names{"cube.aoff.gz", "cube.geom.gz", "cube.pnorm.gz",
                                       "cube.vnorm.gz"};
  std::map<std::string, std::string> first;
  for (int run = 0; run < 2; ++run) {
    RunResult r = RunMirandel({"--info", "-in", "cube.geom.gz"}, {{"OBJ_PATH", true, dir.path()}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("bbox")),
              "Object: cube.geom.gz\n8 vertices\n6 polygons\n");
    EXPECT_EQ(ListDir(dir.path()), names);
    auto now = Contents(dir.path());
    EXPECT_EQ(now["cube.geom.gz"], cube);
    if (run == 0)
      first = now;
    else
      EXPECT_EQ(now, first);
  }
}

// A load interrupted while a command runs stops the command's whole group: here the decompression
// goes on in the background of the tool's shell and would finish after the run had ended.
TEST(ExtCmd, EndSignalDuringACommandStopsItsWholeGroup) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    TempDir dir, tools, tmp;
    WriteCompressed(dir, "hand.off", kTriangleOff, "gz");
    auto before = Bytes(dir.path());
    std::string marker = tools.file("started"), late = tools.file("finished");
    tools.write("gzip",
                "#!/bin/sh\nif [ \"$1\" = -qfd ]; then\n  (sleep 1; /usr/bin/env gzip \"$@\"; "
                "touch '" +
                    late + "') &\n  touch '" + marker +
                    "'\n  wait\n  exit 0\nfi\nexec /usr/bin/env gzip \"$@\"\n");
    chmod(tools.file("gzip").c_str(), 0755);
    // A session of its own, so that the whole group can be signalled as a terminal does.
    Child c({"setsid", MirandelBin(), "--info", "-in", "hand.off.gz"},
            {{"OBJ_PATH", true, dir.path()},
             {"TMP_PATH", true, tmp.path()},
             {"COMPRESS_PATH", true, tools.path()}});
    ASSERT_TRUE(WaitForFile(marker, 60)) << SignalName(sig);
    SendEndSignal(c.pid(), sig);
    RunResult r = c.Wait(60);
    EXPECT_EQ(r.status, 128 + sig) << SignalName(sig) << ": " << r.err;
    EXPECT_EQ(r.out, "") << SignalName(sig);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_FALSE(FileExists(late)) << SignalName(sig) << ": the tool ran on";
    EXPECT_EQ(Bytes(dir.path()), before) << SignalName(sig);
    EXPECT_TRUE(ListDir(tmp.path()).empty()) << SignalName(sig);
  }
}

namespace {

const std::string kCube = "8 6 24\n"
                          "0 0 0\n1 0 0\n1 1 0\n0 1 0\n0 0 1\n1 0 1\n1 1 1\n0 1 1\n"
                          "4 1 4 3 2\n4 5 6 7 8\n4 1 2 6 5\n4 2 3 7 6\n4 3 4 8 7\n4 4 1 5 8\n";

// The folder holds what it held, byte for byte, and at most new compressed side files of the
// object, each one whole.
void ExpectOnlyWholeNewSideFiles(const std::string &dir,
                                 const std::map<std::string, std::string> &before,
                                 const std::string &when) {
  auto now = Bytes(dir);
  for (const auto &f : before) {
    auto it = now.find(f.first);
    ASSERT_NE(it, now.end()) << when << ": " << f.first << " is gone";
    EXPECT_EQ(it->second, f.second) << when << ": " << f.first << " changed";
  }
  for (const auto &f : now) {
    if (before.count(f.first)) continue;
    EXPECT_TRUE(f.first == "cube.aoff.gz" || f.first == "cube.pnorm.gz" ||
                f.first == "cube.vnorm.gz")
        << when << ": " << f.first;
    EXPECT_EQ(RunProgram({"gzip", "-t", dir + "/" + f.first}).status, 0)
        << when << ": " << f.first << " is not whole";
  }
}

// How long one load of a compressed cube takes here and now, in microseconds: the moments of the
// signals below are spread over it.
long long CompressedCubeLoadMicroseconds() {
  TempDir dir, tmp;
  WriteCompressed(dir, "cube.geom", kCube, "gz");
  auto start = std::chrono::steady_clock::now();
  RunMirandel({"--info", "-in", "cube.geom.gz"},
              {{"OBJ_PATH", true, dir.path()}, {"TMP_PATH", true, tmp.path()}});
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

} // namespace

// Ctrl-C, kill or a hang-up at any moment of the load of a compressed object (before, during
// and after each command, while side files are made and added): the folder holds what it held
// plus at most whole new compressed side files, and the private folder is gone.
TEST(ExtCmd, EndSignalsAtManyMomentsLoseNothing) {
  int ended = 0;
  const int steps = 30;
  long long span = CompressedCubeLoadMicroseconds();
  for (int step = 0; step < steps; ++step) {
    int sig = std::vector<int>{SIGINT, SIGTERM, SIGHUP}[step % 3];
    TempDir dir, tmp;
    WriteCompressed(dir, "cube.geom", kCube, "gz");
    auto before = Bytes(dir.path());
    long long at = span * step / steps;
    Child c({"setsid", MirandelBin(), "--info", "-in", "cube.geom.gz"},
            {{"OBJ_PATH", true, dir.path()}, {"TMP_PATH", true, tmp.path()}});
    std::this_thread::sleep_for(std::chrono::microseconds(at));
    SendEndSignal(c.pid(), sig);
    RunResult r = c.Wait(60);
    std::string when = std::string(SignalName(sig)) + " after " + std::to_string(at) + " us";
    EXPECT_TRUE(r.status == 0 || r.status == 128 + sig) << when << ": " << r.status << r.err;
    if (r.status != 0) ++ended;
    ExpectOnlyWholeNewSideFiles(dir.path(), before, when);
    EXPECT_TRUE(ListDir(tmp.path()).empty()) << when;
  }
  EXPECT_GT(ended, 0) << "no signal came during a load";
}

// SIGKILL cannot be caught: the user's compressed files are intact byte for byte whenever it
// comes, and the next run removes the private folder the killed one left.
TEST(ExtCmd, KillAtManyMomentsLeavesTheCompressedFilesIntact) {
  TempDir tmp;
  const int steps = 16;
  long long span = CompressedCubeLoadMicroseconds();
  int killed = 0;
  for (int step = 0; step < steps; ++step) {
    TempDir dir;
    WriteCompressed(dir, "cube.geom", kCube, "gz");
    auto before = Bytes(dir.path());
    long long at = span * step / steps;
    Child c({MirandelBin(), "--info", "-in", "cube.geom.gz"},
            {{"OBJ_PATH", true, dir.path()}, {"TMP_PATH", true, tmp.path()}});
    std::this_thread::sleep_for(std::chrono::microseconds(at));
    kill(c.pid(), SIGKILL);
    if (c.Wait(60).status == 128 + SIGKILL) ++killed;
    std::string when = "SIGKILL after " + std::to_string(at) + " us";
    ExpectOnlyWholeNewSideFiles(dir.path(), before, when);
    RunResult r = RunMirandel({"--info", "-in", "cube.geom.gz"},
                              {{"OBJ_PATH", true, dir.path()}, {"TMP_PATH", true, tmp.path()}});
    EXPECT_EQ(r.status, 0) << when << ": " << r.err;
    EXPECT_EQ(Contents(dir.path())["cube.geom.gz"], kCube) << when;
    EXPECT_TRUE(ListDir(tmp.path()).empty()) << when;
  }
  EXPECT_GT(killed, 0) << "no kill came during a load";
}

// Two loads of one compressed object at once each read their own copies: both succeed, and the
// side files they add are there once, whole.
TEST(ExtCmd, TwoLoadsOfOneCompressedObjectAtOnce) {
  for (int round = 0; round < 4; ++round) {
    TempDir dir, tmp;
    WriteCompressed(dir, "cube.geom", kCube, "gz");
    auto before = Bytes(dir.path());
    Env env{{"OBJ_PATH", true, dir.path()}, {"TMP_PATH", true, tmp.path()}};
    Child a({MirandelBin(), "--info", "-in", "cube.geom.gz"}, env);
    Child b({MirandelBin(), "--info", "-in", "cube.geom.gz"}, env);
    RunResult ra = a.Wait(60), rb = b.Wait(60);
    EXPECT_EQ(ra.status, 0) << ra.err;
    EXPECT_EQ(rb.status, 0) << rb.err;
    EXPECT_EQ(ra.out, rb.out);
    ExpectOnlyWholeNewSideFiles(dir.path(), before, "round " + std::to_string(round));
    EXPECT_EQ(ListDir(dir.path()).size(), 4u);
  }
}

// Interrupted inside the program, with the object read and its side files made: the folder keeps
// what it held and the private folder goes. The window system that never answers holds the load
// there for as long as the test needs.
TEST(ExtCmd, EndSignalInsideTheLoadLeavesTheFolderAsItWas) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  int display = -1;
  for (int n = 90; n < 190 && display < 0; ++n) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(6000 + n));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0) display = n;
  }
  ASSERT_GE(display, 0);
  ASSERT_EQ(listen(listener, 4), 0);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    TempDir dir, tmp;
    WriteCompressed(dir, "cube.geom", kCube, "gz");
    auto before = Bytes(dir.path());
    Child c({"setsid", MirandelBin(), "-in", "cube.geom.gz"},
            {{"OBJ_PATH", true, dir.path()},
             {"TMP_PATH", true, tmp.path()},
             {"DISPLAY", true, "127.0.0.1:" + std::to_string(display)},
             {"ASAN_OPTIONS", true, "detect_leaks=0"}});
    pollfd p{listener, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 60000), 1) << SignalName(sig);
    int connection = accept(listener, nullptr, nullptr);
    ASSERT_GE(connection, 0);
    EXPECT_TRUE(c.Running()) << SignalName(sig);
    SendEndSignal(c.pid(), sig);
    RunResult r = c.Wait(60);
    close(connection);
    EXPECT_EQ(r.status, 128 + sig) << SignalName(sig) << ": " << r.err;
    ExpectOnlyWholeNewSideFiles(dir.path(), before, SignalName(sig));
    EXPECT_TRUE(ListDir(tmp.path()).empty()) << SignalName(sig);
  }
  close(listener);
}
