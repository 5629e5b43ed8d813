// Rendering and interaction: render settings, window, display lists, keyboard and mouse.
#pragma once

// The render defaults for the current Shape, right before SetupGraphics.
void InitRenderSettings();
// Creates the window, sets the OpenGL state and builds the display lists.
void SetupGraphics();
// Restores the display modes and the trackball (the R key); nothing without a Shape.
void ResetDisplay();
// Releases the Shape and the graphics; show_ground = 1.
void ReleaseAll();
