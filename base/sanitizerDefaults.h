// Sanitizer settings of a program built with AddressSanitizer (included once, by each program's
// entry file). A huge allocation must fail as std::bad_alloc, which the readers report, rather than
// end the process; leaks inside the system's graphics, toolkit and mesh libraries are not ours.
#pragma once

extern "C" {
__attribute__((used)) const char *__asan_default_options() {
  return "allocator_may_return_null=1:detect_leaks=1";
}
__attribute__((used)) const char *__ubsan_default_options() {
  return "print_stacktrace=1:halt_on_error=1";
}
__attribute__((used)) const char *__lsan_default_suppressions() {
  return "leak:libadmesh\n"
         "leak:libGLX\n"
         "leak:libGL.so\n"
         "leak:libEGL\n"
         "leak:libgallium\n"
         "leak:swrast_dri\n"
         "leak:libLLVM\n"
         "leak:libglut\n"
         "leak:libX11\n"
         "leak:libxcb\n"
         "leak:libgtk-3\n"
         "leak:libgdk-3\n"
         "leak:libglib-2.0\n"
         "leak:libgobject-2.0\n"
         "leak:libgio-2.0\n"
         "leak:libfontconfig\n"
         "leak:libpango\n"
         "leak:libcairo\n"
         "leak:libdbus\n"
         "leak:libatk\n";
}
}
