// The file-open dialog, driven for real on an X server of the test's own.
#include "support.h"

#include <gtest/gtest.h>
#include <regex>

namespace {

Env DialogEnv(const XServer &x, const std::string &objPath) {
  // The toolkit keeps caches and bus connections alive until exit; they are not ours.
  return {x.env(),
          {"OBJ_PATH", true, objPath},
          {"ASAN_OPTIONS", true, "detect_leaks=0"},
          {"GTK_A11Y", true, "none"},
          {"NO_AT_BRIDGE", true, "1"},
          Unset("WAYLAND_DISPLAY")};
}

// The window's size from xdotool.
std::pair<int, int> WindowSize(const XServer &x, const std::string &id) {
  RunResult r = x.Run({"xdotool", "getwindowgeometry", id});
  std::smatch m;
  if (!std::regex_search(r.out, m, std::regex("Geometry: (\\d+)x(\\d+)"))) return {0, 0};
  return {std::stoi(m[1]), std::stoi(m[2])};
}

} // namespace

TEST(Dialog, TypedPathIsLoadedFromItsOwnDirectory) {
  XServer x;
  ASSERT_TRUE(x.ok());
  TempDir start, other;
  other.write("hand.off", "OFF\n0 0 0\n");
  Child viewer({MirandelBin(), "-v", "--info"}, DialogEnv(x, start.path()));
  std::string id = x.WaitForWindow("^Select file to View$", 60);
  ASSERT_FALSE(id.empty()) << "no dialog appeared";
  // The toolkit ignores keys sent to a window, so focus it and type as a keyboard would.
  // Typing a name that starts with "/" opens the dialog's location field.
  x.Run({"xdotool", "windowfocus", "--sync", id});
  x.Run({"xdotool", "type", "--delay", "30", other.path() + "/hand.off"});
  x.Run({"sleep", "0.5"});
  x.Run({"xdotool", "key", "Return"});
  RunResult r = viewer.Wait(60);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), "FileName = hand.off\n");
  EXPECT_NE(r.out.find("filename = " + other.path() + "/hand.off\n"), std::string::npos);
  EXPECT_NE(r.out.find("Object: hand.off\n0 vertices\n0 polygons\n"), std::string::npos);
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(Dialog, CancelLeavesAnEmptyNameThatDoesNotExist) {
  XServer x;
  ASSERT_TRUE(x.ok());
  TempDir start;
  Child viewer({MirandelBin()}, DialogEnv(x, start.path()));
  std::string id = x.WaitForWindow("^Select file to View$", 60);
  ASSERT_FALSE(id.empty()) << "no dialog appeared";
  x.Run({"xdotool", "windowfocus", "--sync", id});
  x.Run({"xdotool", "key", "Escape"});
  RunResult r = viewer.Wait(60);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "File  does not exist\n");
}

// "All objects", last in the list, lists the objects among the other files, compressed ones too:
// in a folder of a text file, a ".obj" (recognised, but no reader) and a compressed OFF object,
// the first name it lists is the object.
TEST(Dialog, AllObjectsListsObjectsOnly) {
  XServer x(1280, 1024); // the whole dialog on the screen
  ASSERT_TRUE(x.ok());
  TempDir start;
  start.write("a-notes.txt", "x");
  start.write("a.obj", "x");
  start.write("b.off", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
  ASSERT_EQ(RunProgram({"gzip", start.file("b.off")}).status, 0);
  Child viewer({MirandelBin(), "--info"}, DialogEnv(x, start.path()));
  std::string id = x.WaitForWindow("^Select file to View$", 60);
  ASSERT_FALSE(id.empty()) << "no dialog appeared";
  auto [width, height] = WindowSize(x, id);
  ASSERT_GT(width, 300);
  // The filter list sits at the bottom right, above the buttons: its last entry.
  x.Run({"xdotool", "mousemove", "--window", id, std::to_string(width - 100),
         std::to_string(height - 70), "click", "1"});
  x.Run({"sleep", "1"});
  x.Run({"xdotool", "key", "--delay", "300", "End", "Return"});
  x.Run({"sleep", "1"});
  // The first name of the list, opened.
  x.Run({"xdotool", "mousemove", "--window", id, "300", "83", "click", "1"});
  x.Run({"sleep", "0.5"});
  x.Run({"xdotool", "key", "Return"});
  RunResult r = viewer.Wait(60);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.out, "Object: b.off.gz\n3 vertices\n1 polygons\nbbox: 0 0 0 1 1 0\n");
  EXPECT_EQ(r.status, 0) << r.err;
}
