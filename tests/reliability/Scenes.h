// The effect module as a host loads it, once per convolution engine, and the
// scenes the reliability tests render through it on a probed software host.
//
// A Scene names what a render uses: view and shape (0-based popup choices),
// depth, whether a Blur Control Layer is chosen, the "Blur Amount" slider
// value (a full-resolution diameter) and the frame size in pixels. A Stage
// owns the host and every world of one scene; the worlds it hands to the
// host stay its own.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "reliability/HostProbe.h"
#include "render/RenderHarness.h"
#include "shell/ParamIndices.h"
#include "softhost/SoftHost.h"

namespace reliability {

enum class EngineKind { Fast, Reference };

inline const char* Name(EngineKind engine) {
  return engine == EngineKind::Reference ? "reference" : "fast";
}

// The render commands the generation has: SmartFX first where it has it.
inline const std::vector<softhost::RenderPath> kRenderPaths = [] {
  std::vector<softhost::RenderPath> paths{softhost::RenderPath::Legacy};
  if (softhost::kDefaultRenderPath == softhost::RenderPath::Smart) {
    paths.insert(paths.begin(), softhost::RenderPath::Smart);
  }
  return paths;
}();

inline const char* Name(softhost::RenderPath path) {
  return path == softhost::RenderPath::Smart ? "smart" : "legacy";
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

using rendertest::kShapeNames;
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
  softhost::RenderPath path = softhost::kDefaultRenderPath;
  bool floatPixels = false;  // 32-bit float frames and layers (deep is then not read)
};

inline PixelFormat PixelsOf(const Scene& s) {
  return s.floatPixels ? PixelFormat::ArgbFloat : s.deep ? PixelFormat::Argb16 : PixelFormat::Argb8;
}

inline std::string Describe(const Scene& s) {
  static const char* const kViews[] = {"Normal", "ViewKernel", "ViewBCL"};
  std::ostringstream out;
  out << kViews[s.view] << " " << kShapeNames[s.shape]
      << (s.floatPixels ? " 32"
          : s.deep      ? " 16"
                        : " 8")
      << " bpc" << (s.control ? " with control layer" : "") << ", amount " << s.amount << ", "
      << s.width << "x" << s.height << (s.oldHost ? ", old host" : "") << ", " << Name(s.path);
  return out.str();
}

// Row padding is a fixed byte; overruns there escape every sanitizer.
inline bool PaddingIntact(const softhost::SoftWorld& world) {
  const PF_EffectWorld* w = world.World();
  const size_t used = static_cast<size_t>(w->width) * world.PixelBytes();
  for (int32_t y = 0; y < w->height; ++y) {
    const auto* row =
        static_cast<const unsigned char*>(w->data) + static_cast<size_t>(y) * w->rowbytes;
    for (size_t b = used; b < static_cast<size_t>(w->rowbytes); ++b) {
      if (row[b] != row[used]) return false;
    }
  }
  return true;
}

// Noise with colour under transparent pixels, and a white impulse, so that
// even a one-pixel frame is opaque.
inline std::unique_ptr<softhost::SoftWorld> Painted(int32_t w, int32_t h, bool deep,
                                                    uint32_t seed) {
  rendertest::Image image = rendertest::MakePattern(rendertest::Random, w, h, deep, seed);
  image.At(w / 3, h / 2).fill(image.Full());
  return rendertest::ToWorld(image);
}

// The 16-bit painting in float, with the impulse a highlight at 4.0.
inline std::unique_ptr<softhost::SoftWorld> PaintedFloat(int32_t w, int32_t h, uint32_t seed) {
  const rendertest::Image image = rendertest::MakePattern(rendertest::Random, w, h, true, seed);
  auto world = std::make_unique<softhost::SoftWorld>(w, h, PixelFormat::ArgbFloat);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const rendertest::Pix& p = image.At(x, y);
      const float k = 1.0f / 32768;
      *world->PixelF(x, y) = PF_PixelFloat{p[0] * k, p[1] * k, p[2] * k, p[3] * k};
    }
  }
  *world->PixelF(w / 3, h / 2) = PF_PixelFloat{1.0f, 4.0f, 4.0f, 4.0f};
  return world;
}

inline std::unique_ptr<softhost::SoftWorld> PaintedFor(const Scene& s, int32_t w, int32_t h,
                                                       uint32_t seed) {
  return s.floatPixels ? PaintedFloat(w, h, seed) : Painted(w, h, s.deep, seed);
}

// One scene on its own probed host; the control layer is smaller than the
// frame and centred, so it is scaled and sampled.
class Stage {
 public:
  Stage(const Scene& s, PF_EffectMainFunc effect, softhost::HostConfig config = {})
      : entry(effect),
        host([&] {
          if (s.oldHost) config.majorVersion = 11;
          config.renderPath = s.path;
          return config;
        }()),
        input(PaintedFor(s, s.width, s.height, 7)),
        output(s.width, s.height, PixelsOf(s)),
        control(PaintedFor(s, 11, 7, 11)),
        shapeLayer(PaintedFor(s, 9, 9, 13)) {
    probe::Install(host);
    host.SetInput(input->World());
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
    using softhost::LayerChoice;
    host.SetLayer(ParamBCLLayer,
                  s.control ? LayerChoice{LayerChoice::Image, control->World()} : LayerChoice{});
    host.SetLayer(ParamShapeLayer, s.shape == kCustomShape
                                       ? LayerChoice{LayerChoice::Image, shapeLayer->World()}
                                       : LayerChoice{});
  }

  softhost::Host& Host() { return host; }
  bool Ready() const { return setupError == PF_Err_NONE; }
  PF_Err Render() { return host.Render(entry, output.World()); }
#ifdef QB_HOSTAPI_CURRENT
  // One smart render into a world of the caller's, reporting into its own
  // out_data: safe on several threads at once.
  PF_Err SmartRenderInto(softhost::SoftWorld& out, PF_OutData& outData) {
    return host.SmartRender(entry, out.World(), &outData);
  }
#endif
  std::string Message() { return host.OutData()->return_msg; }
  rendertest::Image Output() { return rendertest::Load(output); }
  rendertest::Image Input() { return rendertest::Load(*input); }
  bool OutputPaddingIntact() const { return PaddingIntact(output); }

 private:
  PF_EffectMainFunc entry;
  softhost::Host host;
  std::unique_ptr<softhost::SoftWorld> input;
  softhost::SoftWorld output;
  std::unique_ptr<softhost::SoftWorld> control, shapeLayer;
  PF_Err setupError = PF_Err_NONE;
};

}  // namespace reliability
