// Where the cross-built Windows modules and the wine harness's output are.
// Each path comes from an environment variable or defaults to the build
// folders that test.sh uses. A missing file skips the test with the reason,
// unless QB_WINDOWS_REQUIRED=1 (as test.sh sets) makes it a failure.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace wintest {

inline std::string PathFromEnv(const char* variable, const std::string& fallback) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0' ? value : fallback;
}

inline std::string Module32() {
  return PathFromEnv("QB_WIN32_MODULE", QB_SOURCE_DIR "/build-win32/QuorvantBlur.aex");
}
inline std::string Module64() {
  return PathFromEnv("QB_WIN64_MODULE", QB_SOURCE_DIR "/build-win64/QuorvantBlur.aex");
}
inline std::string WineOutput() {
  return PathFromEnv("QB_WINE_OUTPUT", QB_SOURCE_DIR "/build-win64/wine-out");
}

inline bool Required() {
  const char* value = std::getenv("QB_WINDOWS_REQUIRED");
  return value != nullptr && std::string(value) == "1";
}

}  // namespace wintest

// Skips (or fails, when required) the current test if `path` does not exist.
#define QB_NEED_FILE(path, how)                                              \
  do {                                                                       \
    if (!std::filesystem::exists(path)) {                                    \
      if (wintest::Required()) FAIL() << (path) << " is missing; " << (how); \
      GTEST_SKIP() << (path) << " was not built; " << (how);                 \
    }                                                                        \
  } while (false)
