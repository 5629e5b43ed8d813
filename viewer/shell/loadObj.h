// The load pipeline: from the chosen name to a complete Shape (and, in the viewer, its window).
#pragma once

#include <string>

void LoadObject(int type);
// The loader of one type (every type but VRML), with the object's full path.
void LoadTypedObject(const std::string &fullPath, int type);
// The VRML loader: converts to ".geom" with the external converter, then loads it as AOFF.
void LoadVRMLObject(const std::string &fullPath);
// Points OBJ_PATH at objName's directory and reduces objName to its bare name.
void SplitObjPath();
// Creates the Shape, reads and converts the object, completes normals and fit, sets up display.
void BuildShape(int type);
// Completes the Shape with what no frame needs (its vertex-to-facet lists): called once its first
// frame is on the screen, so that runs that show no window (a snapshot, --info) never pay for it.
void CompleteShownShape();

// Compressed objects and VRML conversion through external commands. A compressed object is
// decompressed into the load's private folder and read there; Recompress adds the side files
// the load made there beside the object as new compressed files, then removes the folder.
// The compression kinds, as the object name's suffix tells them.
enum : int { kNotCompressed = 0, kGzip = 1, kUnixCompress = 2 };
int CompressionKind();
void Decompress(int kind);
void Recompress(int kind);
void ConvertVRML();
// For a load that is being abandoned: removes the private folder; never throws.
void RestoreDirectory(int kind);
// From the start to the end of a load, Ctrl-C, kill and a hang-up stop the command that runs
// and remove the load's private folder before they end the run.
void CatchEndSignals();
void ReleaseEndSignals();
// The converter run when WRL2GEOM_COMMAND is unset: the one beside the running program, else the
// one on PATH, as a shell word.
std::string DefaultConverter();
// `text` as one shell word, whatever characters it holds.
std::string ShellQuote(const std::string &text);
// Runs a command line through the shell and returns its exit status (128 + signal when killed,
// -1 when no shell ran). A failure is reported on standard error with the command; exit status 2,
// the compression tools' warning, counts as success unless `warningIsFailure`.
int RunCommand(const std::string &command, bool warningIsFailure = false);
