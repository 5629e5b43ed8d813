// One way down: the layer check of scripts/check-layers.sh, on this tree and on made-up ones.
#include "support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

RunResult CheckLayers(const std::string &tree, const std::string &build = "") {
  std::vector<std::string> argv = {SourcePath("scripts/check-layers.sh"), tree};
  if (!build.empty()) argv.push_back(build);
  return RunProgram(argv);
}

// A tree holding `file` (with its folders) whose one line is `line`.
void Put(const TempDir &tree, const std::string &file, const std::string &line) {
  for (std::size_t slash = file.find('/'); slash != std::string::npos;
       slash = file.find('/', slash + 1))
    mkdir(tree.file(file.substr(0, slash)).c_str(), 0755);
  tree.write(file, line + "\n");
}

// `source` of the tree holding `code`, compiled where CMake puts its object in `build`:
// build/<first folder>/CMakeFiles/<target>.dir/<the rest>.o.
void Compile(const TempDir &tree, const TempDir &build, const std::string &source,
             const std::string &code) {
  Put(tree, source, code);
  const std::size_t slash = source.find('/');
  const std::string object =
      source.substr(0, slash) + "/CMakeFiles/part.dir/" + source.substr(slash + 1) + ".o";
  Put(build, object, "");
  RunResult r = RunProgram({"c++", "-c", "-x", "c++", tree.file(source), "-o", build.file(object)});
  ASSERT_EQ(r.status, 0) << r.err;
}

} // namespace

TEST(Layers, ThisTreeGoesOneWayDown) {
  RunResult r = CheckLayers(SourcePath(""), MIRANDEL_BIN_DIR);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

TEST(Layers, AnIncludeUpwardOrSidewaysIsNamed) {
  struct Case {
    const char *file, *line;
    bool ok;
  } cases[] = {
      {"formats/ply/plyfile.cpp", "#include \"base/fatal.h\"", true},
      {"formats/ply/plyfile.cpp", "#include \"formats/ply/plyfile.h\"", true},
      {"formats/ply/plyfile.cpp", "#include \"viewer/model/shape.h\"", false},
      {"base/files.cpp", "#include \"formats/aoff/aoffData.h\"", false},
      {"tools/wrl2geom/main.cpp", "#include \"base/sanitizerDefaults.h\"", true},
      {"tools/wrl2geom/main.cpp", "#include \"viewer/model/shape.h\"", false},
      {"viewer/graphics/graphics.cpp", "#include \"viewer/model/shape.h\"", true},
      {"viewer/graphics/graphics.cpp", "#include \"viewer/shell/shell.h\"", false},
      {"viewer/graphics/graphics.cpp", "#include \"viewer/readers/findObj.h\"", false},
      {"viewer/readers/readPLObj.cpp", "#include \"viewer/aoff/readAOFFObj.h\"", false},
      {"viewer/aoff/getAOFF.cpp", "#include \"viewer/readers/findObj.h\"", true},
      {"viewer/shell/main.cpp", "#include \"viewer/glut/glutMain.h\"", false},
      {"viewer/glut/mirandel.cpp", "#include \"viewer/shell/main.h\"", true},
      // A header of the folder itself, or of the system, needs no rule; a climbing path is refused.
      {"viewer/model/normalsObj.cpp", "#include \"shape.h\"", true},
      {"viewer/model/normalsObj.cpp", "#include <GL/gl.h>", true},
      {"viewer/model/normalsObj.cpp", "#include \"../shell/shell.h\"", false},
      {"viewer/model/normalsObj.cpp", "#include \"viewer/model/../shell/shell.h\"", false},
      // A folder no rule covers is itself a failure, and so is a source beside the subsystems.
      {"viewer/extra/x.cpp", "#include \"base/fatal.h\"", false},
      {"viewer/fillArray.h", "#include \"base/fatal.h\"", false},
  };
  for (const Case &c : cases) {
    TempDir tree;
    Put(tree, c.file, c.line);
    RunResult r = CheckLayers(tree.path());
    EXPECT_EQ(r.status == 0, c.ok) << c.file << ": " << c.line << "\n" << r.err;
    if (!c.ok) {
      EXPECT_NE(r.err.find(std::string(c.file).substr(0, 12)), std::string::npos) << r.err;
    }
  }
}

TEST(Layers, ALinkUpwardIsNamedThoughNoIncludeClimbs) {
  // Each case: a caller that declares the function itself, and the folder that defines it.
  struct Case {
    const char *caller, *definer;
    bool ok;
  } cases[] = {
      {"viewer/readers/formatTable.cpp", "viewer/aoff/readAOFFObj.cpp", false},
      {"base/files.cpp", "viewer/shell/main.cpp", false},
      {"formats/ply/plyfile.cpp", "tools/wrl2geom/vrmlParse.cpp", false},
      {"viewer/shell/loadObj.cpp", "viewer/aoff/readAOFFObj.cpp", true},
      {"viewer/aoff/getAOFF.cpp", "base/files.cpp", true},
      {"viewer/model/object.cpp", "viewer/model/shape.cpp", true},
  };
  for (const Case &c : cases) {
    TempDir tree, build;
    Compile(tree, build, c.caller, "void Elsewhere();\nvoid Caller() { Elsewhere(); }");
    Compile(tree, build, c.definer, "void Elsewhere() {}");
    EXPECT_EQ(CheckLayers(tree.path()).status, 0) << "the includes alone say nothing";
    RunResult r = CheckLayers(tree.path(), build.path());
    EXPECT_EQ(r.status == 0, c.ok) << c.caller << " -> " << c.definer << "\n" << r.err;
    if (!c.ok) {
      EXPECT_NE(r.err.find(std::string(c.caller) + ": needs Elsewhere()"), std::string::npos)
          << r.err;
    }
  }
}
