// Loads the library named by its argument and unloads it again, calling
// nothing in between.
#include <dlfcn.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  void* library = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return 1;
  return ::dlclose(library) == 0 ? 0 : 1;
}
