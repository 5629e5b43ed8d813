// Rendering and interaction: render settings, window, display lists, keyboard and mouse.
#pragma once

#include "viewer/graphics/graphicsMath.h"
#include "viewer/model/shape.h"

#include <string>

// Display lists are known by fixed numbers ("structure ids").
enum StructureId {
  empty_id = 0,
  ground_id = 2,
  shadow_id = 3,
  edge_id = 5,
  normal_id = 6,
  object_id = 7,
  top_id = 8,
};

// Program-wide render state beside the Shape (one window, one set).
extern int show_status;            // 1 while the status text is drawn
extern int show_ground;            // 1 while the ground is drawn
extern int front_ccw;              // 1: counter-clockwise facets face the viewer
extern float trackball_matrix[16]; // accumulated mouse rotation and zoom, column-major
extern float spin_step[16];        // the last rotation step, re-applied while spinning
extern int last_x, last_y;         // window position of the last handled mouse event
extern int prev_x, prev_y;         // and of the event before it
extern float ball_point[3];        // last_x, last_y on the trackball sphere
extern int window_width, window_height;
extern int current_list;
extern ColorRGB shadow_color, edge_color, normal_color;
// Numbers of the built lists: 0 until built and again after release.
extern int ground_list, shadow_list, edge_list, normal_list, object_list;
// True while the object keeps turning by spin_step.
extern bool spinning;
// Seconds the last SetupGraphics spent compiling the display lists.
extern double list_compile_seconds;
extern double list_compile_cpu_seconds; // and the processor time of all threads
// 1 while the key and mouse help is drawn over the picture.
extern int show_help;
// How the current object is framed in the first picture (set up with the graphics).
extern ViewFrame view_frame;
// The diffuse level of the dim light that comes from the eye, beside the scene's four.
constexpr float kEyeLight = 0.4f;
// A line the status shows at the window's foot until the next key or button (where a picture
// was saved); empty for none.
extern std::string status_message;
// Called whenever `spinning` turns on, so the event loop can start its steady tick.
extern void (*spinStarted)();

// Where the frames are drawn: the window, or an off-screen picture that needs no display
// (snapshots where no display can be opened, thumbnails). A size of 0 is the default: the
// window's follows the screen size, the off-screen picture's is the design size, 560 x 525.
struct DrawingTarget {
  bool offscreen = false;
  int width = 0, height = 0;
};
extern DrawingTarget drawing_target;
// The switches a run starts from (show_status, show_ground, front_ccw) and drawing_target back to
// their start values, for another run in the same process.
void ResetRunSwitches();
// The longest side a window or picture may be given.
constexpr int kMaxPictureSide = 4096;

// The render defaults for the current Shape, right before SetupGraphics.
void InitRenderSettings();
// The default viewing parameters: the Shape's view at the start, and the ground's always.
ViewParams DefaultView();
// Creates the window (or the off-screen picture), sets the OpenGL state and builds the display
// lists.
void SetupGraphics();
// Creates the window (or the off-screen picture) ahead of SetupGraphics, which then uses it: the
// graphics start-up reads nothing of the object, so it can run while the object is completed.
void OpenDrawing();
// SetupGraphics once more, on the drawing that is open already: the Part it was set up for (and
// any scene drawn ahead of it) gave way to another.
void SetupGraphicsAgain();
// Loads the rasteriser's libraries on another thread, for a drawing to come; FinishWarmUp waits
// for it (opening the drawing does), and must be called before a run that started it ends.
void StartWarmUp();
void FinishWarmUp();
// True while the window exists.
bool WindowOpen();
// True while the window or the off-screen picture exists, and with it the OpenGL state.
bool DrawingOpen();

// True when an X display is named (DISPLAY), can be opened within a few seconds, and shows
// OpenGL. GLUT ends the run when it cannot open its display; this asks first, without a word.
bool DisplayAvailable();
// The off-screen picture of `width` x `height` in a context of its own, made current; frames go
// into it from then on. A failure ends the run with a message.
void OpenOffscreen(int width, int height);
void CloseOffscreen();
bool OffscreenOpen();
// Restores the display modes, the trackball and the pan (the R key): the first picture again;
// nothing without a Shape.
void ResetDisplay();
// Releases the Shape and the graphics; show_ground = 1.
void ReleaseAll();
// GL_BACK: cull with one-sided lighting; anything else: no culling, two-sided lighting.
void SetCulling(int face);
// Switches one display mode to its other value and redraws: 'w' wireframe, 'f' flat shading,
// 'e' edge lines, 'n' normal lines, 'c' two-sided drawing, 'g' the ground, 'h' the help text.
// Nothing without a Shape; without the window only the mode changes.
void ToggleDisplayMode(char mode);

// The culling the first picture uses: GL_BACK where the facets' fronts are known to face out,
// else 0 (both sides).
int DefaultCulling(const Part &part);

// OpenGL state from the settings: the object's projection (the view, framed), and the ground's
// (the default view, as it is).
void ApplyView(const ViewParams &view);
void ApplyGroundView();
// The dim light from the eye of `view`: set with the other lights, under the identity.
void ApplyEyeLight(const ViewParams &view);
void ApplyMaterial(const Part &part);
void ApplyLights(const LightState &lights);
void EnableLights(const LightState &lights);

// Display lists.
void BuildGroundList();
void BuildShadowList();
void BuildEdgeList();
void BuildNormalList();
void BuildObjectList();
// The object list is announced at set-up and, where a frame drawn straight from the arrays shows
// the same, compiled only after the first frame (a snapshot never compiles it): until then
// DrawObjectUncompiled draws the object and says so, and EnsureObjectList compiles it.
void AnnounceObjectList();
bool DrawObjectUncompiled();
void EnsureObjectList();
void DrawFacets(const Part &part);
// Draws a Part of unshared triangles whose facet list and index pool are still to come (the
// guess at a large STL, drawn before its lists are made).
void DrawUnsharedObject(const Part &part);
// Announces the shadow, edge and normal lists; each is compiled when first needed.
void AnnounceDeferredLists();
void EnsureShadowList();
void EnsureEdgeList();
void EnsureNormalList();
void RebuildWithEdges(int16_t show);
void RebuildWithNormals(int16_t show);
// Deletes the lists while their context is there and forgets every list number.
void ReleaseLists();

// Redisplay: one frame into the back buffer (callers swap).
void Redisplay();
// The first frame's scene (all of it but the overlays) drawn now into the back buffer, while the
// load finishes beside, for a Part of unshared triangles whose lists are still to come
// (DrawUnsharedObject): the next Redisplay, if the window still has this size, draws only the
// overlays over it. The input callbacks forget it (ForgetSceneAhead), as anything that changes
// what the scene shows must.
void DrawSceneAhead();
void ForgetSceneAhead();
void SwapBuffers();
void DrawText(int x, int y, const char *text);
void OnDisplay();
void OnReshape(int width, int height);
// Deletes the display lists, then closes the window or the off-screen picture.
void ReleaseGraphics();

// Mouse. `shift` is whether the Shift key was held at the button event.
void OnMouse(int button, int state, int x, int y, bool shift);
void OnMotion(int x, int y);
void OnVisibility(int state);
void OnSpin();
void StopSpin();
// The steps behind the mouse callbacks (no drawing).
void StartDrag(int x, int y);
void DragRotate(int x, int y);
void DragPan(int x, int y);
void DragZoom(int x, int y);
// Scales the trackball by `factor` (one zoom step of a drag or of the wheel).
void ZoomBy(float factor);
// Whether a release of `button` at (x, y) leaves the object spinning.
bool ReleaseSpins(int button, int x, int y);

// Keyboard: returns true when the program is to end (Escape; everything is released then).
bool OnKeyboard(unsigned char key, int x, int y);

// Saves what the window shows (the p key) as a PNG file in the pictures folder, named after the
// object and never over another file, and says where on standard output and in the status line.
// A failure is said the same way and ends nothing.
void SavePicture();

// Draws the first frame into the back buffer (or the off-screen picture) and writes it as a PNG
// file.
void WriteSnapshot(const std::string &path);
// Draws the object alone, both sides of its facets, as the first frame turns and lights it but
// framed to fill the picture, and writes it as a PNG file with a transparent background, `factor`
// times smaller than the off-screen picture on each side (each of its pixels the mean of factor x
// factor drawn ones). Fails when the object has nothing to show.
void WriteThumbnail(const std::string &path, int factor);
