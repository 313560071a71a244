// One fixed session of host commands against an effect module: global setup,
// about, parameter setup, then renders of a table of cases on generated
// images, each case through SmartFX (where the generation has it) and
// through the legacy render command. The Windows harness runs it under wine with the Windows module
// and writes what it saw; the Linux tests run the very same session with the Linux module and
// compare, so both sides must come from this one header.
//
// Images: every case renders the same kWidth x kHeight input, at 8 or 16
// bits per channel (full scale 255 / 32768). A rendered image is handed out
// as raw bytes: rows top to bottom without padding, pixels alpha, red, green,
// blue, 16-bit channels little-endian. The transcript is plain text, one line
// per command with its result and what it reported.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "hostapi/PluginApi.h"
#include "shell/ParamIndices.h"
#include "softhost/SoftHost.h"

namespace winharness {

inline constexpr int32_t kWidth = 61;
inline constexpr int32_t kHeight = 47;
// The control layer differs in size from the input so that its placement
// scales it.
inline constexpr int32_t kControlWidth = 40;
inline constexpr int32_t kControlHeight = 29;

// Values of the popups are 1-based, as the host stores them.
enum Shape : int32_t { Gaussian = 1, Box = 4, Star = 5, Spiral = 6, Cross = 7 };
enum View : int32_t { Normal = 1, ViewKernel = 2, ViewBCL = 3 };

struct Case {
  std::string name;
  int32_t shape;
  int32_t view;
  int32_t bits;     // 8, 16 or 32 (float, through SmartFX only)
  bool control;     // a Blur Control Layer, else none
  double amount;    // slider value (a diameter in pixels)
  double vertical;  // 0: uniform amount
  softhost::RenderPath path;
};

inline std::vector<Case> Cases() {
  struct Row {
    const char* name;
    int32_t shape;
    double amount;
    double vertical;
  };
  static const Row kShapes[] = {{"gaussian", Gaussian, 11, 0},
                                {"box", Box, 9, 5},
                                {"star", Star, 14, 0},
                                {"spiral", Spiral, 16, 0},
                                {"cross", Cross, 10, 6}};
  using softhost::RenderPath;
  std::vector<RenderPath> paths{RenderPath::Legacy};
  if (softhost::kDefaultRenderPath == RenderPath::Smart)
    paths.insert(paths.begin(), RenderPath::Smart);
  std::vector<Case> cases;
  for (RenderPath path : paths) {
    const std::string command = path == RenderPath::Smart ? "-smart" : "-legacy";
    for (int32_t bits : {8, 16, 32}) {
      if (bits == 32 && path != RenderPath::Smart) continue;
      std::string suffix = std::to_string(bits);
      suffix.insert(0, 1, '-').append(command);
      for (const Row& r : kShapes) {
        for (bool control : {false, true}) {
          cases.push_back(Case{r.name + std::string(control ? "-bcl" : "") + suffix, r.shape,
                               Normal, bits, control, r.amount, r.vertical, path});
        }
      }
      cases.push_back(
          Case{"star-kernel-view" + suffix, Star, ViewKernel, bits, false, 14, 0, path});
      cases.push_back(Case{"bcl-view" + suffix, Gaussian, ViewBCL, bits, true, 11, 0, path});
    }
  }
  return cases;
}

inline uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

inline void SetPixel(softhost::SoftWorld& world, int32_t x, int32_t y, const uint32_t argb[4]) {
  if (world.Deep()) {
    PF_Pixel16* p = world.Pixel16(x, y);
    *p = PF_Pixel16{static_cast<A_u_short>(argb[0]), static_cast<A_u_short>(argb[1]),
                    static_cast<A_u_short>(argb[2]), static_cast<A_u_short>(argb[3])};
  } else {
    PF_Pixel* p = world.Pixel8(x, y);
    *p = PF_Pixel{static_cast<A_u_char>(argb[0]), static_cast<A_u_char>(argb[1]),
                  static_cast<A_u_char>(argb[2]), static_cast<A_u_char>(argb[3])};
  }
}

// Sparse bright points (which take on the kernel's shape) over a faint
// gradient; the leftmost columns are transparent with colour left in them.
inline void MakeInput(softhost::SoftWorld& world) {
  const uint32_t full = world.Deep() ? 32768 : 255;
  for (int32_t y = 0; y < world.Height(); ++y) {
    for (int32_t x = 0; x < world.Width(); ++x) {
      const uint32_t h = Hash(static_cast<uint32_t>(y * world.Width() + x));
      uint32_t argb[4];
      if (h % 9 == 0) {
        argb[0] = full;
        for (int c = 1; c < 4; ++c) argb[c] = Hash(h + static_cast<uint32_t>(c)) % (full + 1);
      } else {
        argb[0] = x < 6 ? 0 : full / 2;
        argb[1] = full * static_cast<uint32_t>(x) / static_cast<uint32_t>(4 * world.Width());
        argb[2] = full * static_cast<uint32_t>(y) / static_cast<uint32_t>(4 * world.Height());
        argb[3] = h % (full / 8 + 1);
      }
      SetPixel(world, x, y, argb);
    }
  }
}

// A diagonal ramp with noise, so that the blur amount changes pixel by pixel.
inline void MakeControl(softhost::SoftWorld& world) {
  const uint32_t full = world.Deep() ? 32768 : 255;
  const uint32_t span = static_cast<uint32_t>(world.Width() + world.Height() - 2);
  for (int32_t y = 0; y < world.Height(); ++y) {
    for (int32_t x = 0; x < world.Width(); ++x) {
      const uint32_t ramp = full * static_cast<uint32_t>(x + y) / span;
      const uint32_t noise = Hash(static_cast<uint32_t>(y * 977 + x)) % (full / 6 + 1);
      const uint32_t v = ramp + noise > full ? full : ramp + noise;
      const uint32_t argb[4] = {full, v, full - v, v / 2};
      SetPixel(world, x, y, argb);
    }
  }
}

// The 16-bit world's values in float (v / 32768), its bright points
// (`highlight` > 1) raised above full scale.
inline void MakeFloat(const softhost::SoftWorld& from, softhost::SoftWorld& to, float highlight) {
  for (int32_t y = 0; y < from.Height(); ++y) {
    for (int32_t x = 0; x < from.Width(); ++x) {
      const PF_Pixel16 p = *from.Pixel16(x, y);
      const float k = 1.0f / 32768;
      const float lift = p.alpha == 32768 ? highlight : 1.0f;
      *to.PixelF(x, y) =
          PF_PixelFloat{p.alpha * k, p.red * k * lift, p.green * k * lift, p.blue * k * lift};
    }
  }
}

// Channels in the host's order, little-endian: 1, 2 or 4 bytes each.
inline std::vector<uint8_t> RawPixels(softhost::SoftWorld& world) {
  std::vector<uint8_t> raw;
  for (int32_t y = 0; y < world.Height(); ++y) {
    for (int32_t x = 0; x < world.Width(); ++x) {
      if (world.Format() == PixelFormat::ArgbFloat) {
        const PF_PixelFloat* p = world.PixelF(x, y);
        for (float c : {p->alpha, p->red, p->green, p->blue}) {
          uint32_t bits = 0;
          std::memcpy(&bits, &c, sizeof bits);
          for (int b = 0; b < 4; ++b) raw.push_back(static_cast<uint8_t>(bits >> (8 * b)));
        }
      } else if (world.Deep()) {
        const PF_Pixel16* p = world.Pixel16(x, y);
        for (A_u_short c : {p->alpha, p->red, p->green, p->blue}) {
          raw.push_back(static_cast<uint8_t>(c));
          raw.push_back(static_cast<uint8_t>(c >> 8));
        }
      } else {
        const PF_Pixel* p = world.Pixel8(x, y);
        raw.insert(raw.end(), {p->alpha, p->red, p->green, p->blue});
      }
    }
  }
  return raw;
}

inline std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", v);
  return text;
}

// Control characters of the about text written as \n or \xNN, so that the
// transcript keeps one line per command.
inline std::string Escape(const char* text) {
  std::string out;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '\n') {
      out += "\\n";
    } else if (static_cast<unsigned char>(*c) < 0x20 || *c == '\\') {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(*c));
      out += code;
    } else {
      out += *c;
    }
  }
  return out;
}

using ImageSink = std::function<void(const Case&, const std::vector<uint8_t>& raw)>;

// Runs the whole session on a fresh host and returns its transcript; every
// rendered image goes to `sink`, also after a failed render.
inline std::string RunSession(PF_EffectMainFunc entry, const ImageSink& sink) {
  softhost::HostConfig config;
  config.threads = 2;
  softhost::Host host(config);
  softhost::SoftWorld input8(kWidth, kHeight, false), input16(kWidth, kHeight, true);
  softhost::SoftWorld control8(kControlWidth, kControlHeight, false);
  softhost::SoftWorld control16(kControlWidth, kControlHeight, true);
  MakeInput(input8);
  MakeInput(input16);
  MakeControl(control8);
  MakeControl(control16);
  softhost::SoftWorld input32(kWidth, kHeight, PixelFormat::ArgbFloat);
  softhost::SoftWorld control32(kControlWidth, kControlHeight, PixelFormat::ArgbFloat);
  MakeFloat(input16, input32, 6.0f);
  MakeFloat(control16, control32, 1.0f);
  host.SetInput(input8.World());

  std::string log;
  PF_Err err = host.Call(entry, PF_Cmd_GLOBAL_SETUP);
  log += "global setup: err " + std::to_string(err) + " my_version " +
         Hex(host.OutData()->my_version) + " out_flags " +
         Hex(static_cast<uint32_t>(host.OutData()->out_flags)) + " out_flags2 " +
         Hex(static_cast<uint32_t>(host.OutData()->out_flags2)) + "\n";
  err = host.Call(entry, PF_Cmd_ABOUT);
  log += "about: err " + std::to_string(err) + " text \"" + Escape(host.OutData()->return_msg) +
         "\"\n";
  err = host.Call(entry, PF_Cmd_PARAMS_SETUP);
  log += "params setup: err " + std::to_string(err) + " num_params " +
         std::to_string(host.OutData()->num_params) + " registered " +
         std::to_string(host.Params().size()) + "\n";
  if (err != PF_Err_NONE || host.Params().size() != ParamCount) return log;

  for (const Case& c : Cases()) {
    softhost::SoftWorld& input = c.bits == 32 ? input32 : c.bits == 16 ? input16 : input8;
    softhost::SoftWorld& control = c.bits == 32 ? control32 : c.bits == 16 ? control16 : control8;
    host.SetInput(input.World());
    std::vector<PF_ParamDef>& p = host.Params();
    p[ParamOutputView].u.pd.value = c.view;
    p[ParamBlurType].u.pd.value = c.shape;
    p[ParamUniformAmount].u.bd.value = c.vertical == 0 ? 1 : 0;
    p[ParamBlurAmount].u.fd.value = static_cast<PF_Fixed>(c.amount * 65536);
    p[ParamVerticalAmount].u.fd.value = static_cast<PF_Fixed>(c.vertical * 65536);
    p[ParamBCLTileMode].u.pd.value = 3;  // "Stretch To Fit"
    p[ParamBCLCompoundShapes].u.fd.value = 6 << 16;
    softhost::LayerChoice bcl{softhost::LayerChoice::None, nullptr};
    if (c.control) {
      bcl = {softhost::LayerChoice::Image, control.World()};
    }
    host.SetLayer(ParamBCLLayer, bcl);
    host.SetLayer(ParamShapeLayer, {softhost::LayerChoice::None, nullptr});

    softhost::SoftWorld output(kWidth, kHeight,
                               c.bits == 32   ? PixelFormat::ArgbFloat
                               : c.bits == 16 ? PixelFormat::Argb16
                                              : PixelFormat::Argb8);
    host.Config().renderPath = c.path;
    err = host.Render(entry, output.World());
    log += "render " + c.name + ": err " + std::to_string(err) + " message \"" +
           Escape(host.OutData()->return_msg) + "\"\n";
    sink(c, RawPixels(output));
  }
  return log;
}

}  // namespace winharness
