#include "graphics.h"

#include "fatal.h"
#include "shape.h"
#include "shell.h"

void InitRenderSettings() {}
void SetupGraphics() {
  fatal(1, "File %s: the viewer window is not available yet\n", objName.c_str());
}
void ResetDisplay() {}
void ReleaseAll() {
  ReleaseShape();
  show_ground = 1;
}
