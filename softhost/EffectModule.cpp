// Loading an effect module as a host does: the shared library, then its one
// exported entry point, `main`.
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "softhost/SoftHost.h"

namespace softhost {

#ifdef _WIN32

EffectModule::EffectModule(const std::string& path) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) {
    throw std::runtime_error("cannot load effect module '" + path + "': error " +
                             std::to_string(GetLastError()));
  }
  handle = module;
  // Through void(*)(), the one pointer type that GCC lets any function cast from.
  entry = reinterpret_cast<PF_EffectMainFunc>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "main")));
  if (!entry) {
    FreeLibrary(module);
    handle = nullptr;
    throw std::runtime_error("effect module '" + path + "' exports no entry point 'main'");
  }
}

EffectModule::~EffectModule() {
  if (handle) FreeLibrary(static_cast<HMODULE>(handle));
}

#else

EffectModule::EffectModule(const std::string& path) {
  // RTLD_NODELETE keeps the code mapped after dlclose: the module's own C++
  // runtime holds memory it never frees (its emergency exception pool), which
  // would otherwise turn into a leak report once the module is unmapped.
  handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle) {
    const char* why = dlerror();
    throw std::runtime_error("cannot load effect module '" + path +
                             "': " + (why ? why : "unknown error"));
  }
  dlerror();
  entry = reinterpret_cast<PF_EffectMainFunc>(dlsym(handle, "main"));
  if (!entry) {
    dlclose(handle);
    handle = nullptr;
    throw std::runtime_error("effect module '" + path + "' exports no entry point 'main'");
  }
}

EffectModule::~EffectModule() {
  if (handle) dlclose(handle);
}

#endif

}  // namespace softhost
