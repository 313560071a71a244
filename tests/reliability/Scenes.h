// The effect module as a host loads it, once per convolution engine, and the
// scenes the reliability tests render through it on a probed software host.
//
// A Scene names what a render uses: view and shape (0-based popup choices),
// depth, whether a Blur Control Layer is chosen, the "Blur Amount" slider
// value (a full-resolution diameter) and the frame size in pixels. A Stage
// owns the host and every world of one scene; the worlds it hands to the
// host stay its own. Pixel snapshots are row-major alpha, red, green, blue,
// 0..255 or 0..32768.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "reliability/HostProbe.h"
#include "shell/ParamIndices.h"
#include "softhost/SoftHost.h"

namespace reliability {

enum class EngineKind { Fast, Reference };

inline const char* Name(EngineKind engine) {
  return engine == EngineKind::Reference ? "reference" : "fast";
}

// A module instance reads its engine from the environment once, at its first
// render, so each engine gets its own copy of the module file. Not for use
// while renders run on other threads.
inline PF_EffectMainFunc EntryFor(EngineKind engine) {
  ::setenv("QUORVANT_BLUR_ENGINE", Name(engine), 1);
  // Never unloaded: after an unload the leak checker no longer sees the
  // module's own runtime memory as referenced.
  static softhost::EffectModule* const fast = new softhost::EffectModule(QB_MODULE_PATH);
  static softhost::EffectModule* const reference = [] {
    namespace fs = std::filesystem;
    const fs::path copy = fs::temp_directory_path() /
                          ("QuorvantBlur-reference-" + std::to_string(::getpid()) + ".so");
    fs::copy_file(QB_MODULE_PATH, copy, fs::copy_options::overwrite_existing);
    auto* module = new softhost::EffectModule(copy.string());
    fs::remove(copy);
    return module;
  }();
  return (engine == EngineKind::Reference ? reference : fast)->Entry();
}

inline constexpr const char* kShapeNames[] = {
    "Gaussian", "Diamond", "SharpDiamond", "Box", "Star", "Spiral", "Cross", "Custom", "Cylinder"};
inline constexpr int32_t kShapes = 9;
inline constexpr int32_t kCustomShape = 7;

struct Scene {
  int32_t view = 0;   // 0 Normal, 1 View Kernel, 2 View BCL
  int32_t shape = 1;  // 0-based "Blur Type"
  bool deep = false;
  bool control = false;
  double amount = 6;
  int32_t compoundShapes = 4;
  int32_t width = 24;
  int32_t height = 16;
  bool oldHost = false;  // major version 11: the effect smooths and builds Gaussians itself
};

inline std::string Describe(const Scene& s) {
  static const char* const kViews[] = {"Normal", "ViewKernel", "ViewBCL"};
  std::ostringstream out;
  out << kViews[s.view] << " " << kShapeNames[s.shape] << (s.deep ? " 16" : " 8") << " bpc"
      << (s.control ? " with control layer" : "") << ", amount " << s.amount << ", " << s.width
      << "x" << s.height << (s.oldHost ? ", old host" : "");
  return out.str();
}

struct Pixels {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint16_t> argb;
};

inline Pixels Snapshot(const softhost::SoftWorld& world) {
  Pixels p{world.Width(), world.Height(), {}};
  p.argb.reserve(static_cast<size_t>(p.width) * p.height * 4);
  for (int32_t y = 0; y < p.height; ++y) {
    for (int32_t x = 0; x < p.width; ++x) {
      if (world.Deep()) {
        const PF_Pixel16& q = *world.Pixel16(x, y);
        p.argb.insert(p.argb.end(), {q.alpha, q.red, q.green, q.blue});
      } else {
        const PF_Pixel& q = *world.Pixel8(x, y);
        p.argb.insert(p.argb.end(), {q.alpha, q.red, q.green, q.blue});
      }
    }
  }
  return p;
}

// Empty when equal; else the first differing (x, y, channel) with both pixels.
inline std::string FirstDifference(const Pixels& expected, const Pixels& actual) {
  if (expected.width != actual.width || expected.height != actual.height) return "sizes differ";
  static const char* const kChannel[] = {"alpha", "red", "green", "blue"};
  for (size_t i = 0; i < expected.argb.size(); ++i) {
    if (expected.argb[i] == actual.argb[i]) continue;
    const size_t pixel = i / 4;
    auto argb = [&](const Pixels& p) {
      std::ostringstream s;
      for (size_t c = 0; c < 4; ++c) s << (c ? " " : "") << p.argb[pixel * 4 + c];
      return s.str();
    };
    std::ostringstream s;
    s << "first difference at (" << pixel % static_cast<size_t>(expected.width) << ", "
      << pixel / static_cast<size_t>(expected.width) << ") " << kChannel[i % 4] << ": expected "
      << expected.argb[i] << ", got " << actual.argb[i] << "; argb expected " << argb(expected)
      << ", got " << argb(actual);
    return s.str();
  }
  return "";
}

// Row padding is a fixed byte; overruns there escape every sanitizer.
inline bool PaddingIntact(const softhost::SoftWorld& world) {
  const PF_EffectWorld* w = world.World();
  const size_t used = static_cast<size_t>(w->width) * (world.Deep() ? 8 : 4);
  for (int32_t y = 0; y < w->height; ++y) {
    const auto* row =
        static_cast<const unsigned char*>(w->data) + static_cast<size_t>(y) * w->rowbytes;
    for (size_t b = used; b < static_cast<size_t>(w->rowbytes); ++b) {
      if (row[b] != row[used]) return false;
    }
  }
  return true;
}

// One pixel in five transparent (colour kept) and a white impulse.
inline void Paint(softhost::SoftWorld& world, uint32_t seed) {
  std::mt19937 rng(seed);
  const int32_t full = world.Deep() ? 32768 : 255;
  std::uniform_int_distribution<int32_t> channel(0, full);
  for (int32_t y = 0; y < world.Height(); ++y) {
    for (int32_t x = 0; x < world.Width(); ++x) {
      const bool white = x == world.Width() / 3 && y == world.Height() / 2;
      const int32_t a = white ? full : rng() % 5 == 0 ? 0 : channel(rng);
      const int32_t r = white ? full : channel(rng), g = white ? full : channel(rng),
                    b = white ? full : channel(rng);
      if (world.Deep()) {
        *world.Pixel16(x, y) = PF_Pixel16{static_cast<A_u_short>(a), static_cast<A_u_short>(r),
                                          static_cast<A_u_short>(g), static_cast<A_u_short>(b)};
      } else {
        *world.Pixel8(x, y) = PF_Pixel{static_cast<A_u_char>(a), static_cast<A_u_char>(r),
                                       static_cast<A_u_char>(g), static_cast<A_u_char>(b)};
      }
    }
  }
}

// One scene on its own probed host; the control layer is smaller than the
// frame and centred, so it is scaled and sampled.
class Stage {
 public:
  Stage(const Scene& s, PF_EffectMainFunc effect, const softhost::HostConfig& config = {})
      : scene(s),
        entry(effect),
        host([&] {
          softhost::HostConfig c = config;
          if (s.oldHost) c.majorVersion = 11;
          return c;
        }()),
        input(s.width, s.height, s.deep),
        output(s.width, s.height, s.deep),
        control(11, 7, s.deep),
        shapeLayer(9, 9, s.deep) {
    probe::Install(host);
    Paint(input, 7);
    Paint(control, 11);
    Paint(shapeLayer, 13);
    host.SetInput(input.World());
    setupError = host.Setup(entry);
    EXPECT_EQ(setupError, PF_Err_NONE) << host.OutData()->return_msg;
    if (setupError != PF_Err_NONE) return;
    std::vector<PF_ParamDef>& p = host.Params();
    p[ParamOutputView].u.pd.value = s.view + 1;
    p[ParamBlurType].u.pd.value = s.shape + 1;
    p[ParamBlurAmount].u.fd.value = static_cast<PF_Fixed>(s.amount * 65536.0);
    p[ParamBCLTileMode].u.pd.value = 2;  // "Center Image"
    p[ParamBCLCompoundShapes].u.fd.value = s.compoundShapes << 16;
    p[ParamShapeSmooth].u.bd.value = 1;
    p[ParamShapeSmoothAmount].u.fd.value = 3 << 16;
    host.SetLayer(ParamBCLLayer,
                  s.control ? softhost::LayerChoice{softhost::LayerChoice::Image, control.World()}
                            : softhost::LayerChoice{});
    host.SetLayer(ParamShapeLayer,
                  s.shape == kCustomShape
                      ? softhost::LayerChoice{softhost::LayerChoice::Image, shapeLayer.World()}
                      : softhost::LayerChoice{});
  }

  softhost::Host& Host() { return host; }
  bool Ready() const { return setupError == PF_Err_NONE; }
  PF_Err Render() { return host.Render(entry, output.World()); }
  std::string Message() { return host.OutData()->return_msg; }
  Pixels Output() const { return Snapshot(output); }
  Pixels Input() const { return Snapshot(input); }
  bool OutputPaddingIntact() const { return PaddingIntact(output); }

 private:
  Scene scene;
  PF_EffectMainFunc entry;
  softhost::Host host;
  softhost::SoftWorld input;
  softhost::SoftWorld output;
  softhost::SoftWorld control;
  softhost::SoftWorld shapeLayer;
  PF_Err setupError = PF_Err_NONE;
};

}  // namespace reliability
