// Renders through the effect's entry point on the software host, and an
// independent reference of the uniform blur written from its definition:
// profiles from the shape formulas, a scatter of every source pixel with
// weighted maxima, taps outside the image dropped, one axis after the other.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "shapes/ShapesSupport.h"
#include "shell/EntryPoint.h"
#include "shell/ParamIndices.h"
#include "softhost/SoftHost.h"

namespace rendertest {

// Values are the 0-based "Blur Type" choices.
enum Shape { Gaussian = 0, Diamond = 1, SharpDiamond = 2, Box = 3, Cylinder = 8 };

inline constexpr const char* kShapeNames[] = {
    "Gaussian", "Diamond", "SharpDiamond", "Box", "Star", "Spiral", "Cross", "Custom", "Cylinder"};
inline const char* Name(Shape s) { return kShapeNames[s]; }

// Channels in the host's order: alpha, red, green, blue.
using Pix = std::array<int32_t, 4>;

struct Image {
  int32_t width = 0;
  int32_t height = 0;
  bool deep = false;
  std::vector<Pix> pixels;

  Image() = default;
  Image(int32_t w, int32_t h, bool d, Pix fill = Pix{0, 0, 0, 0})
      : width(w), height(h), deep(d), pixels(static_cast<size_t>(w * h), fill) {}
  Pix& At(int32_t x, int32_t y) { return pixels[static_cast<size_t>(y * width + x)]; }
  const Pix& At(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y * width + x)]; }
  int32_t Full() const { return deep ? 32768 : 255; }
};

// A float world's channels are held as their bit patterns, so that
// comparisons are exact, NaN included.
inline Image Load(softhost::SoftWorld& world) {
  Image image(world.Width(), world.Height(), world.Deep());
  if (world.Format() == PixelFormat::ArgbFloat) {
    for (int32_t y = 0; y < image.height; ++y) {
      for (int32_t x = 0; x < image.width; ++x) {
        const PF_PixelFloat p = *world.PixelF(x, y);
        image.At(x, y) = Pix{std::bit_cast<int32_t>(p.alpha), std::bit_cast<int32_t>(p.red),
                             std::bit_cast<int32_t>(p.green), std::bit_cast<int32_t>(p.blue)};
      }
    }
    return image;
  }
  for (int32_t i = 0; i < image.width * image.height * 4; ++i) {
    image.pixels[static_cast<size_t>(i / 4)][i % 4] =
        shapestest::Channel(world.World(), i / 4 % image.width, i / 4 / image.width, i % 4);
  }
  return image;
}

// A host world holding `image`.
inline std::unique_ptr<softhost::SoftWorld> ToWorld(const Image& image) {
  auto world = std::make_unique<softhost::SoftWorld>(image.width, image.height, image.deep);
  for (int32_t i = 0; i < image.width * image.height * 4; ++i) {
    shapestest::SetChannel(world->World(), i / 4 % image.width, i / 4 / image.width, i % 4,
                           image.pixels[static_cast<size_t>(i / 4)][i % 4]);
  }
  return world;
}

enum Pattern { Random, Impulses, Edges };
inline const char* Name(Pattern p) {
  return p == Random ? "Random" : p == Impulses ? "Impulses" : "Edges";
}

// Random pixels, one in five fully transparent with colour left in it (which
// the effect must not spread); impulses at the corners, on the edges and
// inside; a bright quadrant and a half-bright band, for step edges.
inline Image MakePattern(Pattern pattern, int32_t w, int32_t h, bool deep, uint32_t seed) {
  Image image(w, h, deep);
  const int32_t full = image.Full();
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> channel(0, full);
  if (pattern == Random) {
    for (Pix& p : image.pixels) {
      p = Pix{rng() % 5 == 0 ? 0 : channel(rng), channel(rng), channel(rng), channel(rng)};
    }
  } else if (pattern == Impulses) {
    const int32_t spots[][2] = {{0, 0},         {w - 1, 0}, {0, h - 1},         {w - 1, h - 1},
                                {w / 2, h / 2}, {3, h / 3}, {w - 2, 2 * h / 3}, {w / 3, 1}};
    for (int32_t k = 0; k < 8; ++k) {
      image.At(spots[k][0], spots[k][1]) = Pix{full, full * (k + 1) / 8, full, full / (k + 2)};
    }
  } else {
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        if (x >= w / 2 && y < h / 2) image.At(x, y) = Pix{full, full, full / 3, full};
        if (y >= h / 2 + 2 && y < h / 2 + 5) image.At(x, y) = Pix{full / 2, 0, full / 2, full / 7};
      }
    }
  }
  return image;
}

// ---- Reference ------------------------------------------------------------

// The effect's own Gaussian: standard deviation 0.4 r sampled at -n..n,
// optionally rescaled to sum to about 32768.
inline std::vector<int32_t> OwnGaussian(float radius, bool normalise) {
  const double r = radius;
  const int32_t n = static_cast<int32_t>(std::ceil(r) + 0.5);
  const double sigma = 2 * r * 0.2;
  const double peak = 32768 * (1 / (sigma * std::sqrt(2 * std::numbers::pi)));
  std::vector<int32_t> k(static_cast<size_t>(2 * n + 1));
  for (int32_t i = -n; i <= n; ++i) {
    k[static_cast<size_t>(n + i)] =
        static_cast<int32_t>(i == 0 ? peak : peak * std::exp(-(i * i) * (1 / (2 * sigma * sigma))));
  }
  if (normalise) {
    int32_t sum = 0;
    for (int32_t v : k) sum += v;
    for (int32_t& v : k) v = static_cast<int32_t>(static_cast<double>(v) / sum * 32768 + 0.5);
  }
  return k;
}

inline void ScaleToPeak(std::vector<int32_t>& p) {
  const int32_t max = *std::max_element(p.begin(), p.end());
  const int32_t scale = static_cast<int32_t>(32768.0 / max * 32768.0 + 0.5);
  for (int32_t& v : p) v = static_cast<int32_t>((static_cast<int64_t>(v) * scale) >> 15);
}

// The one-dimensional profile of a pass: `across` for the horizontal one.
inline std::vector<int32_t> Profile(Shape shape, double a, bool across) {
  const bool box = shape == Box || (shape == Cylinder && across);
  const int32_t n = box ? PaddedBoxLength(a) : BaseKernelLength(a);
  std::vector<int32_t> p(static_cast<size_t>(n), 0);
  const double c = n * 0.5;
  if (n == 1) {
    p[0] = 32768;
  } else if (box) {
    // Coverage of each element by [c - a, c + a], smoothed with radius a/20
    // (taps beyond the ends dropped), the centre then exactly 1.
    std::vector<int32_t> cover(p.size());
    for (int32_t i = 0; i < n; ++i) {
      const double overlap = std::min<double>(i + 1, c + a) - std::max<double>(i, c - a);
      cover[static_cast<size_t>(i)] = static_cast<int32_t>(std::max(0.0, overlap) * 32768 + 0.5);
    }
    const std::vector<int32_t> k = OwnGaussian(static_cast<float>(a * 0.05), true);
    const int32_t half = static_cast<int32_t>(k.size()) / 2;
    for (int32_t x = 0; x < n; ++x) {
      int64_t sum = 0;
      for (int32_t t = 0; t < static_cast<int32_t>(k.size()); ++t) {
        const int32_t s = x - half + t;
        if (s >= 0 && s < n)
          sum += int64_t{k[static_cast<size_t>(t)]} * cover[static_cast<size_t>(s)];
      }
      p[static_cast<size_t>(x)] = static_cast<int32_t>(sum >> 15);
    }
    p[static_cast<size_t>(n / 2)] = 32768;
  } else if (shape == Gaussian || shape == Cylinder) {
    p = OwnGaussian(static_cast<float>(a), false);
    ScaleToPeak(p);
  } else {
    for (int32_t i = 0; i < n; ++i) {
      const double t = (a - std::fabs(c - (i + 0.5))) * (1.0 / a);
      if (t > 0) {
        p[static_cast<size_t>(i)] =
            static_cast<int32_t>((shape == SharpDiamond ? t * t : t) * 32768 + 0.5);
      }
    }
  }
  return p;
}

// What the Normal view must produce for the half-sizes h and v. Only the
// region of the extent hint (bottom and right inclusive) widened by half the
// kernel and clipped is computed, from the pixels inside it; the rest stays
// transparent black.
inline Image ReferenceBlur(const Image& input, Shape shape, double h, double v,
                           const PF_Rect& hint) {
  const std::vector<int32_t> across = Profile(shape, h, true);
  const std::vector<int32_t> down = Profile(shape, v, false);
  const int32_t hw = static_cast<int32_t>(across.size()) / 2;
  const int32_t hh = static_cast<int32_t>(down.size()) / 2;
  const int32_t left = std::max(hint.left - hw, 0);
  const int32_t top = std::max(hint.top - hh, 0);
  const int32_t width = std::min(hint.right + hw, input.width) - left;
  const int32_t height = std::min(hint.bottom + hh, input.height) - top;
  Image out(input.width, input.height, input.deep);
  if (width <= 0 || height <= 0) return out;
  Image region(width, height, input.deep);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const Pix& p = input.At(left + x, top + y);
      region.At(x, y) = p[0] == 0 ? Pix{0, 0, 0, 0} : p;
    }
  }
  // One axis after the other, through the two-dimensional scatter.
  const auto source = ToWorld(region);
  softhost::SoftWorld mid(width, height, input.deep), blurred(width, height, input.deep);
  const shapestest::Kernel row{static_cast<int32_t>(across.size()), 1, across};
  const shapestest::Kernel column{1, static_cast<int32_t>(down.size()), down};
  shapestest::ReferenceScatter(source->World(), mid.World(), [&](int32_t, int32_t) { return row; });
  shapestest::ReferenceScatter(mid.World(), blurred.World(),
                               [&](int32_t, int32_t) { return column; });
  const Image result = Load(blurred);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) out.At(left + x, top + y) = result.At(x, y);
  }
  return out;
}

// Empty when equal; else the first differing (x, y, channel) with every value
// that went into it (`floor`, what the output started from, may be null).
inline std::string FirstDifference(const Image& expected, const Image& actual, const Image& input,
                                   const Image* floor = nullptr) {
  const auto argb = [](const Pix& p) {
    return std::to_string(p[0]) + " " + std::to_string(p[1]) + " " + std::to_string(p[2]) + " " +
           std::to_string(p[3]);
  };
  for (size_t i = 0; i < expected.pixels.size(); ++i) {
    if (expected.pixels[i] == actual.pixels[i]) continue;
    const int32_t x = static_cast<int32_t>(i) % expected.width;
    const int32_t y = static_cast<int32_t>(i) / expected.width;
    std::ostringstream s;
    s << "first difference at (" << x << ", " << y << "): expected argb " << argb(expected.At(x, y))
      << ", got " << argb(actual.At(x, y)) << ", input " << argb(input.At(x, y));
    if (floor != nullptr) s << ", floor " << argb(floor->At(x, y));
    return s.str();
  }
  return "";
}

// ---- Driving the effect ----------------------------------------------------

struct Controls {
  int32_t view = 0;  // 0-based
  Shape shape = Diamond;
  bool uniform = true;
  double amount = 0;    // slider value, a full-resolution diameter
  double vertical = 0;  // slider value, read when not uniform
};

// Version 11 makes the effect compute its Gaussians by its own formula,
// which the reference follows; several threads run the pixel functions.
inline softhost::HostConfig ReferenceHostConfig() {
  softhost::HostConfig config;
  config.majorVersion = 11;
  config.threads = 3;
  return config;
}

struct Rendered {
  PF_Err err;
  std::string message;
  Image output;
  bool inputKept;
  long liveWorlds;
  long checkedOut;
};

// One render of `input`, with no control layer and no custom shape layer,
// into an output holding leftovers, which must not survive it.
inline Rendered Render(softhost::Host& host, PF_EffectMainFunc entry, const Controls& c,
                       const Image& input) {
  std::vector<PF_ParamDef>& p = host.Params();
  p[ParamOutputView].u.pd.value = c.view + 1;
  p[ParamBlurType].u.pd.value = static_cast<int32_t>(c.shape) + 1;
  p[ParamUniformAmount].u.bd.value = c.uniform ? 1 : 0;
  p[ParamBlurAmount].u.fd.value = static_cast<PF_Fixed>(std::lround(c.amount * 65536.0));
  p[ParamVerticalAmount].u.fd.value = static_cast<PF_Fixed>(std::lround(c.vertical * 65536.0));
  host.SetLayer(ParamBCLLayer, softhost::LayerChoice{});
  host.SetLayer(ParamShapeLayer, softhost::LayerChoice{});
  const auto in = ToWorld(input);
  const auto out = ToWorld(Image(input.width, input.height, input.deep, Pix{3, 3, 3, 3}));
  host.SetInput(in->World());
  const PF_Err err = host.Render(entry, out->World());
  return Rendered{err,
                  host.OutData()->return_msg,
                  Load(*out),
                  Load(*in).pixels == input.pixels,
                  host.LiveWorlds(),
                  host.CheckedOutLayers()};
}

}  // namespace rendertest
