// The file-open dialog, driven for real on an X server of the test's own.
#include "support.h"

#include <gtest/gtest.h>

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
