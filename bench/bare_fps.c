/* The yardstick for the viewer's frame rate: the plainest program that draws a binary STL's
 * triangles from one display list (facet normals, two lights, the viewer's window size) while
 * turning them, and prints its frames per second. It lights them as the viewer's default lights do,
 * so that the comparison measures how the lists are built, not how much light is computed.
 * bare_fps FILE.stl SECONDS */
#include <GL/glut.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>

static double seconds;
static double start;
static int frames;
static GLuint list;

static double now(void) {
  struct timeval tv;
  gettimeofday(&tv, NULL);
  return tv.tv_sec + tv.tv_usec * 1e-6;
}

static void display(void) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  static float angle;
  angle += 1.0f;
  glPushMatrix();
  glRotatef(angle, 0.3f, 1.0f, 0.2f);
  glCallList(list);
  glPopMatrix();
  glutSwapBuffers();
  ++frames;
  double t = now() - start;
  if (t >= seconds) {
    printf("bare display list: %d frames in %.2f s, %.2f fps\n", frames, t, frames / t);
    exit(0);
  }
  glutPostRedisplay();
}

int main(int argc, char **argv) {
  if (argc < 3) return 2;
  seconds = atof(argv[2]);
  FILE *f = fopen(argv[1], "rb");
  if (!f) return 1;
  unsigned char header[84];
  if (fread(header, 1, 84, f) != 84) return 1;
  unsigned n;
  memcpy(&n, header + 80, 4);
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(560, 525);
  glutInitWindowPosition(454, 233);
  glutCreateWindow("bare");
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_LIGHTING);
  {
    const GLfloat white[4] = {1, 1, 1, 1};
    const GLfloat dir[4] = {-1, 0, 0, 1}, pos[4] = {1, 2, 0.7f, 1}, spot[4] = {-2.5f, -0.5f, 2, 1};
    const GLfloat spotDir[3] = {0, 0, -1};
    glLightfv(GL_LIGHT1, GL_DIFFUSE, white);
    glLightfv(GL_LIGHT1, GL_POSITION, dir);
    glLightfv(GL_LIGHT2, GL_DIFFUSE, white);
    glLightfv(GL_LIGHT2, GL_POSITION, pos);
    glLightf(GL_LIGHT2, GL_CONSTANT_ATTENUATION, 0);
    glLightf(GL_LIGHT2, GL_LINEAR_ATTENUATION, 0.5f);
    glLightfv(GL_LIGHT3, GL_DIFFUSE, white);
    glLightfv(GL_LIGHT3, GL_POSITION, spot);
    glLightfv(GL_LIGHT3, GL_SPOT_DIRECTION, spotDir);
    glLightf(GL_LIGHT3, GL_SPOT_CUTOFF, 90);
    glLightf(GL_LIGHT3, GL_CONSTANT_ATTENUATION, 0.5f);
    glLightf(GL_LIGHT3, GL_LINEAR_ATTENUATION, 0);
    glEnable(GL_LIGHT1);
    glEnable(GL_LIGHT2);
    glEnable(GL_LIGHT3);
    const GLfloat ambient[4] = {0.2f, 0.2f, 0.2f, 1};
    glMaterialfv(GL_FRONT, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT, GL_SPECULAR, white);
    glMaterialf(GL_FRONT, GL_SHININESS, 15);
    glColorMaterial(GL_FRONT, GL_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    glColor3f(1.0f, 0.2f, 0.5f);
  }
  glEnable(GL_NORMALIZE);
  glEnable(GL_CULL_FACE);
  glMatrixMode(GL_PROJECTION);
  glFrustum(-0.2, 0.2, -0.2, 0.2, 1.0, 20.0);
  glTranslatef(0, 0, -10);
  glMatrixMode(GL_MODELVIEW);
  double t0 = now();
  /* The viewer's fit: centred, scaled so that the largest extent is about 4 units. */
  long body = ftell(f);
  float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
  float rec[12];
  unsigned char attr[2];
  for (unsigned i = 0; i < n; ++i) {
    if (fread(rec, 4, 12, f) != 12 || fread(attr, 1, 2, f) != 2) break;
    for (int k = 3; k < 12; ++k) {
      if (rec[k] < lo[k % 3]) lo[k % 3] = rec[k];
      if (rec[k] > hi[k % 3]) hi[k % 3] = rec[k];
    }
  }
  float m = 0;
  for (int k = 0; k < 3; ++k)
    if (hi[k] - lo[k] > m) m = hi[k] - lo[k];
  float scale = m > 4 ? 4 / m : m < 0.5f ? 50 * m : m < 1 ? 4 * m : 1;
  fseek(f, body, SEEK_SET);
  glScalef(scale, scale, scale);
  glTranslatef(-(lo[0] + hi[0]) / 2, -(lo[1] + hi[1]) / 2, -(lo[2] + hi[2]) / 2);
  list = glGenLists(1);
  glNewList(list, GL_COMPILE);
  glBegin(GL_TRIANGLES);
  for (unsigned i = 0; i < n; ++i) {
    if (fread(rec, 4, 12, f) != 12 || fread(attr, 1, 2, f) != 2) break;
    /* Our own STL benchmark files carry zero normals, which would light nothing (and a renderer
     * skips lighting that no vertex receives): the facet normal comes from the vertices. */
    float *a = rec + 3, *b = rec + 6, *c = rec + 9;
    float u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]},
          v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    float nrm[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                    u[0] * v[1] - u[1] * v[0]};
    float len = sqrtf(nrm[0] * nrm[0] + nrm[1] * nrm[1] + nrm[2] * nrm[2]);
    if (len > 0) {
      nrm[0] /= len;
      nrm[1] /= len;
      nrm[2] /= len;
    }
    glNormal3fv(nrm);
    glVertex3fv(rec + 3);
    glVertex3fv(rec + 6);
    glVertex3fv(rec + 9);
  }
  glEnd();
  glEndList();
  fclose(f);
  printf("bare display list: %u triangles read and compiled in %.2f s\n", n, now() - t0);
  glutDisplayFunc(display);
  start = now();
  glutMainLoop();
  return 0;
}
