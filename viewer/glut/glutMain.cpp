#include "viewer/glut/glutMain.h"

#include "base/fatal.h"
#include "viewer/graphics/graphics.h"
#include "viewer/graphics/graphicsMath.h"
#include "viewer/shell/loadObj.h"
#include "viewer/shell/main.h"
#include "viewer/shell/shell.h"

#include <GL/freeglut.h>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

// fatal() throws; inside a callback there is nobody above to catch it, so end the run here.
template <class F> void Guard(F f) {
  try {
    f();
  } catch (const FatalError &e) {
    ReportFatal(e);
    std::exit(e.status);
  }
}

// GLUT's idle callback runs as fast as the machine allows; a timer keeps the spin at a steady
// 60 steps a second on every machine and leaves the processor idle in between.
constexpr double kSpinPeriodMs = 1000.0 / 60.0;
bool timerArmed = false;
double spinDue = 0;

void SpinTick(int);

void ArmSpin() {
  if (timerArmed || !spinning) return;
  double now = glutGet(GLUT_ELAPSED_TIME);
  // A frame slower than the period restarts the schedule instead of racing to catch up.
  if (spinDue < now - kSpinPeriodMs) spinDue = now;
  spinDue += kSpinPeriodMs;
  int delay = spinDue > now ? static_cast<int>(spinDue - now) : 0;
  glutTimerFunc(static_cast<unsigned>(delay), SpinTick, 0);
  timerArmed = true;
}

void SpinTick(int) {
  timerArmed = false;
  if (!spinning) return;
  Guard([] { OnSpin(); });
  ArmSpin();
}

void Display() {
  Guard([] {
    OnDisplay();
    CompleteShownShape();
  });
}
void Reshape(int w, int h) {
  Guard([&] { OnReshape(w, h); });
}
void Keyboard(unsigned char key, int x, int y) {
  ForgetSceneAhead();
  Guard([&] {
    if (OnKeyboard(key, x, y)) glutLeaveMainLoop();
  });
}
void Mouse(int button, int state, int x, int y) {
  ForgetSceneAhead();
  bool shift = (glutGetModifiers() & GLUT_ACTIVE_SHIFT) != 0;
  Guard([&] { OnMouse(button, state, x, y, shift); });
}
void Motion(int x, int y) {
  ForgetSceneAhead();
  Guard([&] { OnMotion(x, y); });
}
void Visibility(int state) {
  Guard([&] { OnVisibility(state); });
}

void RegisterCallbacks() {
  glutDisplayFunc(Display);
  glutReshapeFunc(Reshape);
  glutKeyboardFunc(Keyboard);
  glutMouseFunc(Mouse);
  glutMotionFunc(Motion);
  glutVisibilityFunc(Visibility);
  spinStarted = [] {
    spinDue = glutGet(GLUT_ELAPSED_TIME);
    ArmSpin();
  };
}

// MIRANDEL_BENCH_SPIN=seconds: report the list compile time and the frames per second of a
// free-running spin, then end. For the benchmarks only.
bool RunSpinBenchmark() {
  const char *v = std::getenv("MIRANDEL_BENCH_SPIN");
  if (!v) return false;
  double seconds = std::atof(v);
  if (!(seconds > 0)) seconds = 5;
  RotationMatrix(1, 1, 0, 2.0f, spin_step);
  glutDisplayFunc(Display);
  glutReshapeFunc(Reshape);
  for (int i = 0; i < 10; ++i) glutMainLoopEvent();
  OnDisplay();
  glFinish();
  auto start = std::chrono::steady_clock::now();
  std::clock_t cpuStart = std::clock();
  int frames = 0;
  double elapsed = 0;
  while (elapsed < seconds) {
    OnSpin();
    glFinish();
    ++frames;
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  // Processor time (all of the renderer's threads) tells the cost apart from a busy machine.
  std::printf("list compile: %.3f s wall, %.3f s cpu\n"
              "spin: %d frames in %.2f s = %.2f fps, %.3f s cpu per frame\n",
              list_compile_seconds, list_compile_cpu_seconds, frames, elapsed, frames / elapsed,
              cpu / frames);
  std::fflush(stdout);
  ReleaseAll();
  return true;
}

bool snapshotShown = false;
void SnapshotDisplay() {
  snapshotShown = true;
}

} // namespace

void EnterEventLoop() {
  if (RunSpinBenchmark()) return;
  RegisterCallbacks();
  glutMainLoop();
}

void TakeSnapshot() {
  show_status = runOptions.snapshotStatus ? 1 : 0;
  glutDisplayFunc(SnapshotDisplay);
  glutReshapeFunc(Reshape);
  // Draw once the window is on the screen at its final size, as the first frame would be.
  auto start = std::chrono::steady_clock::now();
  while (!snapshotShown && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
    glutMainLoopEvent();
    if (!snapshotShown) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  WriteSnapshot(runOptions.snapshot);
  ReleaseAll();
}
