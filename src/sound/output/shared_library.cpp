#include "sound/output/shared_library.h"

#include <dlfcn.h>

namespace pendlo::sound::output {

void* SymbolFinder::Symbol(const char* name) {
  void* symbol = dlsym(handle_, name);
  if (symbol == nullptr) error_ = std::string(library_) + " lacks " + name;
  return symbol;
}

void* OpenSharedLibrary(const char* file, std::string& error) {
  void* handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    error = why != nullptr ? why : std::string(file) + " cannot be loaded";
  }
  return handle;
}

void CloseSharedLibrary(void* handle) {
  if (handle != nullptr) dlclose(handle);
}

}  // namespace pendlo::sound::output
