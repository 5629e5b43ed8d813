// The dialogs, driven for real on an X server of the test's own: the file-open dialog and the
// message dialog of a failure.
#include "support.h"

#include <chrono>
#include <gtest/gtest.h>
#include <regex>
#include <thread>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

// Message dialogs are on (the test harness turns them off for every other run).
Env DialogEnv(const XServer &x, const std::string &objPath) {
  // The toolkit keeps caches and bus connections alive until exit; they are not ours.
  return {x.env(),
          {"OBJ_PATH", true, objPath},
          {"ASAN_OPTIONS", true, "detect_leaks=0"},
          {"GTK_A11Y", true, "none"},
          {"NO_AT_BRIDGE", true, "1"},
          Unset("WAYLAND_DISPLAY"),
          Unset("MIRANDEL_NO_DIALOG")};
}

// The text on the clipboard of the X server, as UTF-8; "" when nobody holds it.
std::string ReadClipboard(const XServer &x) {
  Display *d = XOpenDisplay(x.display().c_str());
  if (!d) return "";
  Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
  Atom property = XInternAtom(d, "MIRANDEL_CLIPBOARD", False);
  XConvertSelection(d, XInternAtom(d, "CLIPBOARD", False), XInternAtom(d, "UTF8_STRING", False),
                    property, w, CurrentTime);
  XFlush(d);
  std::string text;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    if (!XPending(d)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    XEvent ev;
    XNextEvent(d, &ev);
    if (ev.type != SelectionNotify) continue;
    if (ev.xselection.property != None) {
      Atom type;
      int format;
      unsigned long count, after;
      unsigned char *data = nullptr;
      XGetWindowProperty(d, w, property, 0, 1 << 16, False, AnyPropertyType, &type, &format, &count,
                         &after, &data);
      if (data) {
        text.assign(reinterpret_cast<char *>(data), count);
        XFree(data);
      }
    }
    break;
  }
  XDestroyWindow(d, w);
  XCloseDisplay(d);
  return text;
}

// Asks a window to close as a window manager's close button does (WM_DELETE_WINDOW).
void CloseWindow(const XServer &x, const std::string &id) {
  Display *d = XOpenDisplay(x.display().c_str());
  if (!d) return;
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = std::stoul(id);
  ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, ev.xclient.window, False, NoEventMask, &ev);
  XCloseDisplay(d);
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

// Who cancels has chosen to stop: no message dialog follows, the run ends.
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

// "All objects", the filter the dialog opens on, lists the objects among the other files,
// compressed ones too: in a folder of a text file, a material library (no object) and a
// compressed OFF object, the first name it lists is the object.
TEST(Dialog, AllObjectsListsObjectsOnly) {
  XServer x(1280, 1024); // the whole dialog on the screen
  ASSERT_TRUE(x.ok());
  TempDir start;
  start.write("a-notes.txt", "x");
  start.write("a.mtl", "x");
  start.write("b.off", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
  ASSERT_EQ(RunProgram({"gzip", start.file("b.off")}).status, 0);
  Child viewer({MirandelBin(), "--info"}, DialogEnv(x, start.path()));
  std::string id = x.WaitForWindow("^Select file to View$", 60);
  ASSERT_FALSE(id.empty()) << "no dialog appeared";
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

// Started from the desktop (standard error not a terminal, a display), a failure is shown in a
// message dialog too, with the text standard error has, warnings before it included; the run waits
// until the dialog is closed, however it is closed, and ends with the failure's status.
TEST(MessageDialog, ShowsTheFailureUntilClosedThenEndsWithItsStatus) {
  XServer x;
  ASSERT_TRUE(x.ok());
  TempDir dir;
  // Neither a format nor markup for the toolkit.
  const std::string off = "bad 100%s <b>.off";
  dir.write(off, "OFF\n3 1 0\n0 0 0\n1 0\n");
  dir.write("flat.ply",
            "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nend_header\n1\n");
  const std::string offErr = "PolyList " + off +
                             ": Bad vertex/face/edge counts\nPLReadObj: " + off +
                             " is not a readable OFF object\n";
  const std::string plyErr = "Vertices don't have x, y, and z\n";
  struct Case {
    std::string object;
    int status;
    std::string err;
    const char *key; // pressed in the dialog; null: its window is closed
  };
  const Case cases[] = {
      {off, 1, offErr, "Return"},
      {"flat.ply", 255, plyErr, "Escape"},
      {"flat.ply", 255, plyErr, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.object + ", closed by " + (c.key ? c.key : "its window"));
    Child viewer({MirandelBin(), "-in", c.object}, DialogEnv(x, dir.path()));
    std::string id = x.WaitForWindow("^Mirandel$", 60);
    ASSERT_FALSE(id.empty()) << "no message dialog";
    RunResult cls = x.Run({"xprop", "-id", id, "WM_CLASS"});
    EXPECT_EQ(cls.out, "WM_CLASS(STRING) = \"mirandel\", \"Mirandel\"\n");
    // The text can be copied: Shift+Tab from the Close button selects it.
    x.Run({"xdotool", "windowfocus", "--sync", id});
    x.Run({"xdotool", "key", "--delay", "200", "shift+Tab", "ctrl+c"});
    std::string shown = ReadClipboard(x);
    EXPECT_TRUE(viewer.Running()) << "the run ended with its dialog open";

    if (c.key) {
      x.Run({"xdotool", "windowfocus", "--sync", id});
      x.Run({"xdotool", "key", c.key});
    } else {
      CloseWindow(x, id);
    }
    RunResult r = viewer.Wait(30);
    ASSERT_FALSE(r.timedOut) << "still waiting after the dialog was closed";
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(shown + "\n", c.err);
  }
}

// Scripts read standard error and must never wait: runs with our own options (--info, --snapshot),
// runs on a terminal, without a display or with MIRANDEL_NO_DIALOG end at once.
TEST(MessageDialog, NeverForScriptsTerminalsOrWithoutADisplay) {
  XServer x;
  ASSERT_TRUE(x.ok());
  TempDir dir;
  dir.write("bad.off", "OFF\n3 1 0\n");
  const std::string err = "PolyList bad.off: Bad vertex/face/edge counts\nPLReadObj: bad.off is "
                          "not a readable OFF object\n";
  const Env shown = DialogEnv(x, dir.path());
  auto with = [&](const EnvChange &change) {
    Env env = shown;
    env.push_back(change);
    return env;
  };
  struct Case {
    const char *why;
    std::vector<std::string> args;
    Env env;
    std::string err;
  };
  const Case cases[] = {
      {"--info", {"--info", "-in", "bad.off"}, shown, err},
      {"--snapshot", {"--snapshot", dir.file("bad.png"), "-in", "bad.off"}, shown, err},
      // The object is missing before --info is reached: the whole command line counts.
      {"--info after",
       {"-in", "nothere.off", "--info"},
       shown,
       "File nothere.off does not exist\n"},
      {"MIRANDEL_NO_DIALOG=1", {"-in", "bad.off"}, with({"MIRANDEL_NO_DIALOG", true, "1"}), err},
      {"no display", {"-in", "bad.off"}, with(Unset("DISPLAY")), err},
  };
  for (const Case &c : cases) {
    RunResult r = RunMirandel(c.args, c.env, "", 30);
    EXPECT_FALSE(r.timedOut) << c.why << ": waited";
    EXPECT_EQ(r.status, 1) << c.why;
    EXPECT_EQ(r.err, c.err) << c.why;
  }
  // Standard error on a terminal: the user reads it there.
  RunResult t = RunProgram({"script", "-qec", "'" + MirandelBin() + "' -in bad.off", "/dev/null"},
                           shown, dir.path(), 30);
  EXPECT_FALSE(t.timedOut) << "terminal: waited";
  EXPECT_EQ(t.status, 1);
  EXPECT_NE(t.out.find("bad.off is not a readable OFF object"), std::string::npos) << t.out;
}
