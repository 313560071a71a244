// Shared by the frei0r tests: RGBA frames as frei0r hands them (bytes R, G,
// B, A, straight alpha, rows top to bottom), the plug-ins loaded in-process
// as a host loads them, and the command-line host's render of the same
// frame, which every plug-in frame must equal.
#pragma once

#include <dlfcn.h>

#include <cstdint>

#include "cli/CliHarness.h"
#include "frei0r/Frei0r.h"

namespace frei0rtest {

struct Frame {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;

  Frame() = default;
  Frame(int w, int h) : width(w), height(h), rgba(size_t(w) * h * 4, 0) {}
  const uint32_t* Pixels() const { return reinterpret_cast<const uint32_t*>(rgba.data()); }
  uint32_t* Pixels() { return reinterpret_cast<uint32_t*>(rgba.data()); }
};

// Highlights on a dim, partly transparent background, moved by `frame`, so
// that a blur changes every region and a wrong channel order shows.
Frame Pattern(int width, int height, int frame = 0);
// Dark to bright across: a control layer or a custom shape.
Frame Ramp(int width, int height, int frame = 0);
void WritePng(const std::filesystem::path& path, const Frame& frame);
Frame ReadPng(const std::filesystem::path& path);
// The first pixel and channel where the frames differ; "" when equal.
std::string FirstDifference(const Frame& expected, const Frame& actual);

// The frei0r functions of one plug-in file, loaded with dlopen.
struct Plugin {
  explicit Plugin(const std::string& file)  // "quorvant_blur" or "quorvant_blur_mixer"
      : handle(dlopen((QB_FREI0R_DIR "/" + file + ".so").c_str(), RTLD_NOW | RTLD_LOCAL)) {}
  ~Plugin() {
    if (handle) dlclose(handle);
  }
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  template <typename F>
  F Load(const char* name) const {
    auto function = handle ? reinterpret_cast<F>(dlsym(handle, name)) : nullptr;
    if (function == nullptr) ADD_FAILURE() << name << ": " << dlerror();
    return function;
  }

  void* handle;
#define QB_F0R(name) decltype(&f0r_##name) name = Load<decltype(&f0r_##name)>("f0r_" #name)
  QB_F0R(get_plugin_info);
  QB_F0R(get_param_info);
  QB_F0R(construct);
  QB_F0R(destruct);
  QB_F0R(set_param_value);
  QB_F0R(get_param_value);
  QB_F0R(update);
  QB_F0R(update2);
#undef QB_F0R

  int Index(const std::string& name) const;  // -1 when there is none
  // "name=value; name=value" as a host sets them: doubles and bools as
  // numbers, strings as text; unknown names fail the test.
  void Set(f0r_instance_t instance, const std::string& settings) const;
  Frame Render(const std::string& settings, const Frame& first,
               const Frame* second = nullptr) const;
};

class Frei0rTest : public clitest::CliTest {
 protected:
  // A host program, with FREI0R_PATH naming the plug-ins' folder; one that
  // hangs fails the test instead of holding up the suite.
  clitest::RunResult Host(const std::string& line) const {
    return Shell("FREI0R_PATH='" QB_FREI0R_DIR "' timeout -k 10 120 env " + line);
  }
  // The command-line host's render of one frame with `args`; a second frame
  // goes in as a file named by `secondOption` (--bcl or --shape).
  Frame CliRender(const std::string& name, const Frame& input, const std::string& args,
                  const Frame* second = nullptr, const std::string& secondOption = "") const;
};

}  // namespace frei0rtest
