/* The floor of an STL load: the mesh library's read and repair calls alone, in the viewer's
 * order and under its conditions, then the release of the mesh. Nothing is converted or drawn.
 * Usage: stl_floor FILE. Prints the facet count; exit status 1 if the library fails. */
#include <admesh/stl.h>
#include <stdio.h>
#include <string.h>

static int all_connected(const stl_file *s) {
  return s->stats.connected_facets_3_edge >= s->stats.number_of_facets;
}

int main(int argc, char **argv) {
  stl_file s;
  float tolerance, increment;
  int i;
  if (argc != 2) {
    fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  memset(&s, 0, sizeof s);
  stl_open(&s, argv[1]);
  if (s.error || s.stats.number_of_facets <= 0) return 1;
  stl_check_facets_exact(&s);
  tolerance = s.stats.shortest_edge;
  increment = s.stats.bounding_diameter * 0.0001f;
  for (i = 0; i < 2 && !all_connected(&s); ++i) {
    stl_check_facets_nearby(&s, tolerance);
    tolerance += increment;
  }
  if (!all_connected(&s) && s.stats.connected_facets_1_edge > 0) stl_remove_unconnected_facets(&s);
  if (!all_connected(&s)) stl_fill_holes(&s);
  stl_fix_normal_directions(&s);
  stl_fix_normal_values(&s);
  stl_calculate_volume(&s);
  if (s.stats.volume < 0.0f) stl_reverse_all_facets(&s);
  stl_verify_neighbors(&s);
  printf("%d facets\n", s.stats.number_of_facets);
  stl_close(&s);
  return s.error ? 1 : 0;
}
