// Thumbnails for file managers: `--thumbnail INPUT OUTPUT.png` with `--size N`.
#pragma once

#include <string>

// The thumbnail's side when --size is not given.
constexpr int kThumbnailDefaultSize = 128;
// Default limits of one thumbnail run, and the environment variables that change them.
constexpr double kThumbnailDefaultSeconds = 10;
constexpr long long kThumbnailDefaultMegabytes = 1024;
constexpr const char *kThumbnailSecondsVariable = "MIRANDEL_THUMBNAIL_SECONDS";
constexpr const char *kThumbnailMegabytesVariable = "MIRANDEL_THUMBNAIL_MEGABYTES";

struct ThumbnailLimits {
  double seconds = kThumbnailDefaultSeconds; // wall time of the load and drawing
  long long megabytes =
      kThumbnailDefaultMegabytes; // resident memory; also the largest file written
};
// The limits from the environment; a value that is not a positive number ends the run.
ThumbnailLimits ThumbnailLimitsFromEnvironment();

// How many times larger than the thumbnail the picture is drawn on each side, for smooth edges.
int ThumbnailOversampling(int width, int height);

// Draws `input` (any path, OBJ_PATH not needed) into the PNG file `output`, of the size
// drawing_target asks for (kThumbnailDefaultSize square without one). The object and its side
// files (the files of its stem) are copied into a private scratch folder and loaded there, in a
// child process watched for the limits, so nothing is ever written beside the object and a
// huge or hostile file costs bounded time and memory. The scratch folder is removed in every
// case. Returns 0; a failure ends the run with a message and status 1.
int MakeThumbnail(const std::string &input, const std::string &output);
