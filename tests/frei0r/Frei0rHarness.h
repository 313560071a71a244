// Shared by the frei0r tests: RGBA frames as frei0r hands them (bytes R, G,
// B, A, straight alpha, rows top to bottom), PNG files, the plug-ins loaded
// in-process as a host loads them, and the command-line host's render of the
// same frame, which every plug-in frame must equal.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "frei0r/Frei0r.h"

namespace frei0rtest {

struct Frame {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;

  Frame() = default;
  Frame(int w, int h) : width(w), height(h), rgba(size_t(w) * h * 4, 0) {}
  uint8_t* At(int x, int y) { return &rgba[(size_t(y) * width + x) * 4]; }
  const uint32_t* Pixels() const { return reinterpret_cast<const uint32_t*>(rgba.data()); }
  uint32_t* Pixels() { return reinterpret_cast<uint32_t*>(rgba.data()); }
};

// Highlights on a dim, partly transparent background, moved by `frame`, so
// that a blur changes every region and a wrong channel order shows.
Frame Pattern(int width, int height, int frame = 0);
// A horizontal ramp, dark to bright: a control layer or a custom shape.
Frame Ramp(int width, int height, int frame = 0);

void WritePng(const std::filesystem::path& path, const Frame& frame);
Frame ReadPng(const std::filesystem::path& path);

// The first pixel and channel where the frames differ; "" when equal.
std::string FirstDifference(const Frame& expected, const Frame& actual);

// The frei0r functions of one plug-in file, loaded with dlopen.
struct Plugin {
  explicit Plugin(const std::string& file);  // "quorvant_blur" or "quorvant_blur_mixer"
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  void* handle = nullptr;
  int (*init)() = nullptr;
  void (*deinit)() = nullptr;
  void (*get_plugin_info)(f0r_plugin_info_t*) = nullptr;
  void (*get_param_info)(f0r_param_info_t*, int) = nullptr;
  f0r_instance_t (*construct)(unsigned, unsigned) = nullptr;
  void (*destruct)(f0r_instance_t) = nullptr;
  void (*set_param_value)(f0r_instance_t, f0r_param_t, int) = nullptr;
  void (*get_param_value)(f0r_instance_t, f0r_param_t, int) = nullptr;
  void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*) = nullptr;
  void (*update2)(f0r_instance_t, double, const uint32_t*, const uint32_t*, const uint32_t*,
                  uint32_t*) = nullptr;

  int Index(const std::string& name) const;  // -1 when there is none
  int Type(int index) const;
  // name=value as a host sets it: doubles and bools as numbers, strings as
  // text; unknown names fail the test.
  void Set(f0r_instance_t instance, const std::map<std::string, std::string>& values) const;
  Frame Render(const std::map<std::string, std::string>& values, const Frame& first,
               const Frame* second = nullptr) const;
};

struct RunResult {
  int status = -1;
  std::string err;
};

// Each test works in a fresh folder, kept when the test fails.
class Frei0rTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path Path(const std::string& name) const { return dir / name; }
  // Through the shell in the test's folder, with FREI0R_PATH naming the
  // plug-ins' folder; stdout is dropped, stderr kept.
  RunResult Run(const std::string& line) const;
  // The command-line host's render of one frame with `args`; a second frame
  // goes in as a file named by `secondOption` (--bcl or --shape).
  Frame CliRender(const std::string& name, const Frame& input, const std::string& args,
                  const Frame* second = nullptr, const std::string& secondOption = "") const;

  std::filesystem::path dir;
};

// Finds a host program, or leaves `path` empty after skipping the test (or
// failing it when QB_FREI0R_REQUIRED=1) because it is not installed; skips
// too in instrumented builds, whose plug-ins a host program cannot load.
void RequireProgram(const std::string& program, std::string& path);
#define QB_REQUIRE_PROGRAM(var, program) \
  std::string var;                       \
  RequireProgram(program, var);          \
  if (var.empty()) return

}  // namespace frei0rtest
