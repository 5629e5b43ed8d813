// Start-up and command line.
#pragma once

#include "base/fatal.h"
#include "viewer/readers/formatTable.h"

#include <string>
#include <vector>

// Writes the usage text with the invocation name and ends the run with status 1.
[[noreturn]] void PrintUsage(const char *program);
// Walks the arguments from index 1. A word it does not know is passed over, so that scripts may
// add words without breaking a start.
void ParseArgs(const std::vector<std::string> &args);

// Set by the executable: registers the GLUT callbacks and enters the main loop (never returns).
// Null in tests, where the run ends once the object is loaded.
extern void (*enterEventLoop)();
// Set by the executable: draws the first frame into runOptions.snapshot and returns.
extern void (*takeSnapshot)();

// Whether a failure of this run is also shown in a message dialog: only for a run that would open
// the viewer's window (no option beginning with "--" on the command line: those are for scripts,
// --info, --snapshot and the like), with standard error not a terminal (started from the desktop,
// where nobody reads it), on a display, and without MIRANDEL_NO_DIALOG set (to anything but "0").
bool MessageDialogWanted(const std::vector<std::string> &args);
// The heading of the failure dialog: "Mirandel could not open hand.off" for the object being
// loaded (its folder left out), "Mirandel could not start" before any.
std::string FailureHeading(const std::string &object);
// Shows `message` under that heading in a modal message dialog with the error icon and returns once
// it is closed; nothing without GTK or a display.
void ShowMessageDialog(const std::string &message);
// Ends a run that failed: writes the message to standard error and, where the run's rule says so,
// shows it in a message dialog until that is closed. The caller exits with the error's status.
void ReportFatal(const FatalError &e);

// The whole start-up: start values, --help and --version, OBJ_PATH check, arguments (or dialog),
// load, then the event loop, the snapshot or the --info lines. Returns the exit status; failures
// are reported here (ReportFatal).
int MirandelMain(int argc, char **argv);
// The --info lines for the current Shape.
void PrintObjectInfo();
