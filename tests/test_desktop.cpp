// The desktop side of the viewer: MIME types, desktop entry, manual pages, the installed tree and
// the Debian package, and opening an object the way a file manager does.
#include "support.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <regex>
#include <set>
#include <sys/stat.h>

namespace {

// Every tool here comes from setup.sh; one that is missing fails the test (status 127).
std::string Why(const RunResult &r) {
  return "status " + std::to_string(r.status) + "\nout: " + r.out + "\nerr: " + r.err;
}

std::string PathWith(const std::string &dir) {
  const char *path = std::getenv("PATH");
  return dir + ":" + (path ? path : "/usr/bin:/bin");
}

// `cmake --install` of this build into `prefix`.
::testing::AssertionResult InstallInto(const std::string &prefix) {
  RunResult r = RunProgram({"cmake", "--install", MIRANDEL_BIN_DIR, "--prefix", prefix});
  if (r.status != 0) return ::testing::AssertionFailure() << "cmake --install: " << Why(r);
  return ::testing::AssertionSuccess();
}

// Files under `dir`, as paths relative to it, sorted.
std::vector<std::string> FilesUnder(const std::string &dir, const std::string &prefix = "") {
  std::vector<std::string> files;
  for (const std::string &name : ListDir(dir + "/" + prefix)) {
    std::string rel = prefix.empty() ? name : prefix + "/" + name;
    struct stat st;
    if (stat((dir + "/" + rel).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      std::vector<std::string> inner = FilesUnder(dir, rel);
      files.insert(files.end(), inner.begin(), inner.end());
    } else {
      files.push_back(rel);
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The command line a desktop runs for an Exec value with one file: the value's escapes undone,
// split into words at blanks outside double quotes, %f replaced by the file, %% by %, and the
// other field codes dropped.
std::vector<std::string> ExecCommand(const std::string &exec, const std::string &file) {
  std::string value;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    if (exec[i] == '\\' && i + 1 < exec.size()) {
      char c = exec[++i];
      value += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    } else {
      value += exec[i];
    }
  }
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else {
        if (c == '\\' && i + 1 < value.size()) c = value[++i];
        word += c;
      }
    } else if (c == '"') {
      quoted = inWord = true;
    } else if (c == ' ') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else if (c == '%' && i + 1 < value.size()) {
      char code = value[++i];
      if (code == '%') word += '%';
      if (code == 'f') word += file;
      inWord = true;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  words.erase(std::remove(words.begin(), words.end(), ""), words.end());
  return words;
}

const char kDatabaseTypes[][24] = {"model/stl", "model/vrml",      "image/x-3ds",      "model/3mf",
                                   "model/obj", "model/gltf+json", "model/gltf-binary"};

// One small object of each kind, with the type a desktop should give it.
struct SampleFile {
  const char *name;
  std::string contents;
  const char *type;
};

std::vector<SampleFile> SampleFiles() {
  std::string off = "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
  std::string ply = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                    "property float z\nelement face 1\nproperty list uchar int vertex_indices\n"
                    "end_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
  return {
      {"tri.off", off, "model/x-off"},
      {"tri.ply", ply, "model/x-ply"},
      {"cube.geom", ReadFile(SourcePath("samples/cube.geom")), "model/x-aoff"},
      {"cube.aoff", "geometry indexed_poly fff cube.geom\n", "model/x-aoff"},
      {"tri.byu", "1 3 1 3\n1 1\n0 0 0 1 0 0 0 1 0\n1 2 -3\n", "model/x-byu"},
      {"tri.tpoly", "3\n0 0 0\n1 0 0\n0 1 0\n", "model/x-tpoly"},
      {"tri.coor", "1,0,0,0\n2,1,0,0\n3,0,1,0\n", "model/x-coor"},
      // Without an extension the contents tell: both formats open with a keyword line.
      {"ply-without-extension", ply, "model/x-ply"},
      {"off-without-extension", off, "model/x-off"},
      // The database's own types.
      {"tri.stl", "solid tri\nendsolid tri\n", "model/stl"},
      {"scene.wrl", "#VRML V2.0 utf8\n", "model/vrml"},
      {"box.3ds", std::string("MM\x06\0\0\0", 6), "image/x-3ds"},
      {"tetra.3mf", ReadFile(SourcePath("tests/data/3mf/tetra_no_rels.3mf")), "model/3mf"},
      {"tri.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", "model/obj"},
      {"scene.gltf", "{\"asset\": {\"version\": \"2.0\"}}", "model/gltf+json"},
      {"scene.glb", std::string("glTF\x02\0\0\0\x0c\0\0\0", 12), "model/gltf-binary"},
  };
}

} // namespace

TEST(Desktop, MimeDatabaseNamesOurTypes) {
  TempDir data;
  std::string mime = data.file("mime");
  ASSERT_EQ(RunProgram({"mkdir", "-p", mime + "/packages"}).status, 0);
  ASSERT_EQ(RunProgram({"cp", SourcePath("desktop/mirandel.xml"), mime + "/packages/"}).status, 0);
  Env env{{"XDG_DATA_HOME", true, data.path()}};
  RunResult update = RunProgram({"update-mime-database", mime}, env);
  ASSERT_EQ(update.status, 0) << Why(update);
  EXPECT_EQ(update.err, "");

  TempDir files;
  struct Row {
    std::string name;
    std::string type;
  };
  std::vector<Row> rows;
  for (const SampleFile &s : SampleFiles()) {
    files.write(s.name, s.contents);
    rows.push_back({s.name, s.type});
  }
  // Compressed objects get the compressed type of their format; other archives stay archives.
  for (const char *name :
       {"tri.off", "cube.geom", "tri.stl", "scene.wrl", "box.3ds", "tri.obj", "scene.glb"}) {
    std::string f = files.file(name);
    ASSERT_EQ(RunProgram({"sh", "-c", "gzip -c \"$1\" >\"$1.gz\" && compress -c \"$1\" >\"$1.Z\"",
                          "sh", f})
                  .status,
              0);
  }
  rows.insert(rows.end(), {{"tri.off.gz", "model/x-off-gzip"},
                           {"tri.off.Z", "model/x-off-compress"},
                           {"cube.geom.gz", "model/x-aoff-gzip"},
                           {"cube.geom.Z", "model/x-aoff-compress"},
                           {"tri.stl.gz", "model/x-stl-gzip"},
                           {"scene.wrl.Z", "model/x-vrml-compress"},
                           {"box.3ds.gz", "model/x-3ds-gzip"},
                           {"tri.obj.gz", "model/x-obj-gzip"},
                           {"tri.obj.Z", "model/x-obj-compress"},
                           {"scene.glb.gz", "model/x-gltf-binary-gzip"},
                           {"scene.glb.Z", "model/x-gltf-binary-compress"}});
  ASSERT_EQ(RunProgram({"cp", files.file("tri.off.gz"), files.file("notes.gz")}).status, 0);
  rows.push_back({"notes.gz", "application/gzip"});

  // GNOME's answer comes from GIO, as in its file manager; a desktop xdg-mime does not know asks
  // the database through File::MimeInfo.
  for (const char *desktop : {"GNOME", ""}) {
    for (const Row &row : rows) {
      bool tie = row.type == std::string("image/x-3ds") || row.type == std::string("model/obj");
      // On a generic desktop the database's two "*.3ds" types tie, as do its two "*.obj" ones,
      // and it names the other one.
      if (tie && desktop[0] == 0) continue;
      Env queryEnv = env;
      for (const char *var : {"XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION",
                              "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"})
        queryEnv.push_back(Unset(var));
      if (desktop[0]) queryEnv.push_back({"XDG_CURRENT_DESKTOP", true, desktop});
      RunResult r =
          RunProgram({"xdg-mime", "query", "filetype", files.file(row.name)}, queryEnv, "", 30);
      EXPECT_EQ(r.out, row.type + "\n") << row.name << " on '" << desktop << "': " << Why(r);
    }
  }
}

TEST(Desktop, EntryValidatesAndOffersEveryType) {
  std::string entry = SourcePath("desktop/mirandel.desktop");
  RunResult r = RunProgram({"desktop-file-validate", entry});
  EXPECT_EQ(r.status, 0) << Why(r);
  EXPECT_EQ(r.out + r.err, "") << "no warnings or hints";

  // The entry offers exactly the package's types and the database's own.
  std::string xml = ReadFile(SourcePath("desktop/mirandel.xml"));
  std::set<std::string> defined(std::begin(kDatabaseTypes), std::end(kDatabaseTypes));
  std::regex typeRe("<mime-type type=\"([^\"]+)\"");
  for (auto it = std::sregex_iterator(xml.begin(), xml.end(), typeRe); it != std::sregex_iterator();
       ++it)
    defined.insert((*it)[1].str());
  std::vector<std::string> listed = KeyFileList(KeyFileValue(ReadFile(entry), "MimeType"));
  EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), defined);
  EXPECT_EQ(listed.size(), defined.size()) << "a type listed twice";
}

TEST(Desktop, ManualPagesRenderWithoutWarnings) {
  for (const char *page : {"mirandel.1", "mirandel-wrl2geom.1", "mirandel-open.1"}) {
    std::string path = SourcePath(std::string("desktop/") + page);
    RunResult groff = RunProgram({"groff", "-man", "-ww", "-z", path});
    EXPECT_EQ(groff.status, 0) << page << ": " << Why(groff);
    EXPECT_EQ(groff.err, "") << page;
    RunResult man = RunProgram({"man", "--warnings", "-l", path},
                               {{"MANWIDTH", true, "80"}, {"MANPAGER", true, "cat"}});
    EXPECT_EQ(man.status, 0) << page << ": " << Why(man);
    EXPECT_EQ(man.err, "") << page;
    EXPECT_NE(man.out.find("NAME"), std::string::npos) << page;
  }
}

TEST(Desktop, InstallPutsEveryFileInPlace) {
  TempDir prefix;
  ASSERT_TRUE(InstallInto(prefix.path()));
  std::vector<std::string> expected = {
      "bin/mirandel",
      "bin/mirandel-open",
      "bin/mirandel-wrl2geom",
      "share/applications/mirandel.desktop",
      "share/doc/mirandel/README.md",
      "share/icons/hicolor/scalable/apps/mirandel.svg",
      "share/man/man1/mirandel-open.1.gz",
      "share/man/man1/mirandel-wrl2geom.1.gz",
      "share/man/man1/mirandel.1.gz",
      "share/mime/packages/mirandel.xml",
      "share/thumbnailers/mirandel.thumbnailer",
  };
  const int sizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
  for (int n : sizes) {
    std::string size = std::to_string(n) + "x" + std::to_string(n);
    expected.push_back("share/icons/hicolor/" + size + "/apps/mirandel.png");
  }
  for (const std::string &name : ListDir(SourcePath("samples")))
    expected.push_back("share/doc/mirandel/samples/" + name);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesUnder(prefix.path()), expected);

  for (const char *program : {"bin/mirandel", "bin/mirandel-open", "bin/mirandel-wrl2geom"})
    EXPECT_EQ(access((prefix.path() + "/" + program).c_str(), X_OK), 0) << program;
  // Each PNG is of the size its folder names.
  for (int n : sizes) {
    std::string size = std::to_string(n) + "x" + std::to_string(n);
    Image icon = ReadPng(prefix.path() + "/share/icons/hicolor/" + size + "/apps/mirandel.png");
    EXPECT_EQ(icon.width, n) << size;
    EXPECT_EQ(icon.height, n) << size;
  }
  // The compressed pages are the current ones.
  for (const char *page : {"mirandel.1", "mirandel-wrl2geom.1", "mirandel-open.1"}) {
    RunResult r =
        RunProgram({"gzip", "-dc", prefix.path() + "/share/man/man1/" + page + std::string(".gz")});
    EXPECT_EQ(r.out, ReadFile(SourcePath(std::string("desktop/") + page))) << page;
  }
}

// The desktop entry's command, with the file filled in as a file manager fills it, opens objects
// in folders whose names hold blanks and quotes, whatever the current folder and OBJ_PATH.
TEST(Desktop, EntryOpensObjectsInAnyFolder) {
  TempDir prefix;
  ASSERT_TRUE(InstallInto(prefix.path()));
  std::string entry = ReadFile(prefix.path() + "/share/applications/mirandel.desktop");
  std::string exec = KeyFileValue(entry, "Exec");
  ASSERT_FALSE(exec.empty());
  std::string wmClass = KeyFileValue(entry, "StartupWMClass");
  ASSERT_FALSE(wmClass.empty());

  TempDir top;
  std::string dir = top.file("my objects/it's \"here\"");
  ASSERT_EQ(RunProgram({"mkdir", "-p", dir}).status, 0);
  std::string cube = ReadFile(SourcePath("samples/cube.geom"));
  std::string off = "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
  struct Case {
    std::string file;     // what the file manager hands over
    std::string title;    // the window's title
    std::string sideFile; // what the run leaves in the folder
  };
  const Case cases[] = {
      {"cube.geom", "cube.geom", "cube.aoff"},
      // A header is shown through its geometry file.
      {"hand.aoff", "hand.geom", "hand.vnorm"},
      {"tri.off.gz", "tri.off", "tri.off.gz"},
  };
  top.write("my objects/it's \"here\"/cube.geom", cube);
  top.write("my objects/it's \"here\"/hand.geom", cube);
  top.write("my objects/it's \"here\"/hand.aoff", "geometry indexed_poly fff hand.geom\n");
  top.write("my objects/it's \"here\"/tri.off", off);
  ASSERT_EQ(RunProgram({"gzip", dir + "/tri.off"}).status, 0);

  XServer x;
  ASSERT_TRUE(x.ok()) << "Xvfb did not start";
  for (const Case &c : cases) {
    std::vector<std::string> argv = ExecCommand(exec, dir + "/" + c.file);
    ASSERT_FALSE(argv.empty()) << exec;
    Child viewer(argv,
                 {x.env(),
                  {"PATH", true, PathWith(prefix.path() + "/bin")},
                  Unset("OBJ_PATH"),
                  {"ASAN_OPTIONS", true, "detect_leaks=0"}},
                 "/");
    std::string title = "Mirandel: " + c.title;
    std::string escaped = std::regex_replace(title, std::regex(R"([.])"), R"(\.)");
    // Waits for the window while the viewer runs: one that fails ends at once.
    std::string window;
    for (int second = 0; second < 60 && window.empty() && viewer.Running(); ++second)
      window = x.WaitForWindow("^" + escaped + "$", 1);
    if (window.empty()) {
      RunResult gone = viewer.Wait(1);
      FAIL() << c.file << ": no window \"" << title << "\"\n" << Why(gone);
    }
    // A dock finds the entry, and with it the icon, by the window's class.
    RunResult cls = x.Run({"xprop", "-id", window, "WM_CLASS"});
    EXPECT_NE(cls.out.find(", \"" + wmClass + "\"\n"), std::string::npos) << cls.out;
    x.Run({"xdotool", "key", "--window", window, "Escape"});
    RunResult done = viewer.Wait(30);
    EXPECT_EQ(done.status, 0) << c.file << ": " << Why(done);
    EXPECT_TRUE(FileExists(dir + "/" + c.sideFile)) << c.file;
  }
  // The compressed object is compressed again.
  EXPECT_FALSE(FileExists(dir + "/tri.off"));
}

// The Debian package holds the installed tree under /usr and depends on the libraries that the
// programs link, as dpkg-shlibdeps finds them.
TEST(Desktop, DebianPackageDependsOnItsLibraries) {
  TempDir work;
  RunResult pack =
      RunProgram({"cpack", "-G", "DEB", "--config",
                  std::string(MIRANDEL_BIN_DIR) + "/CPackConfig.cmake", "-B", work.path()},
                 {}, "", 280);
  ASSERT_EQ(pack.status, 0) << Why(pack);
  std::string deb;
  for (const std::string &name : ListDir(work.path()))
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".deb") == 0) deb = work.file(name);
  ASSERT_FALSE(deb.empty()) << pack.out;

  RunResult depends = RunProgram({"dpkg-deb", "-f", deb, "Depends"});
  ASSERT_EQ(depends.status, 0) << Why(depends);
  for (const char *lib : {"libc6", "libstdc++6", "libpng16-16", "libglut3.12", "libglu1-mesa",
                          "libopengl0", "libegl1", "zlib1g", "gzip"})
    EXPECT_NE(depends.out.find(lib), std::string::npos) << lib << " missing from " << depends.out;

  // The package's version is the program's.
  RunResult version = RunProgram({"dpkg-deb", "-f", deb, "Version"});
  EXPECT_EQ("mirandel " + version.out, RunMirandel({"--version"}).out);

  RunResult contents = RunProgram({"dpkg-deb", "-c", deb});
  ASSERT_EQ(contents.status, 0) << Why(contents);
  for (const char *file :
       {"./usr/bin/mirandel", "./usr/bin/mirandel-open", "./usr/bin/mirandel-wrl2geom",
        "./usr/share/applications/mirandel.desktop", "./usr/share/mime/packages/mirandel.xml",
        "./usr/share/thumbnailers/mirandel.thumbnailer", "./usr/share/man/man1/mirandel.1.gz",
        "./usr/share/icons/hicolor/48x48/apps/mirandel.png",
        "./usr/share/doc/mirandel/samples/cube.geom"})
    EXPECT_NE(contents.out.find(std::string(file) + "\n"), std::string::npos) << file;
}
