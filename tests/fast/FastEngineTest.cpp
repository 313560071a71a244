// The fast engine against the straightforward one, bit for bit, at every
// instruction set this processor has and on one host thread and three:
// hand-made kernels through the separable passes, and every blur type and
// hand-made makers through the kernel makers, uniform and under noisy
// control layers of either depth, with weights of 0, exactly 32768, above it
// and beyond the lanes; at 8, 16 and 32 bits, the float images with values
// above 1, below 0, NaN, infinities and subnormals among them.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "convolution/Convolve.h"
#include "convolution/EnginePlan.h"
#include "convolution/controllayer/BCL.h"
#include "convolution/separable/Separable.h"
#include "convolution/separable/SeparableFast.h"
#include "image/AEWorld.h"
#include "kernels/CustomKernel.h"
#include "kernels/KernelMaker.h"
#include "kernels/KernelStorage.h"
#include "kernels/StarKernel.h"
#include "render/KernelMakers.h"
#include "render/RenderHarness.h"
#include "shapes/ShapesSupport.h"

namespace {

using rendertest::Image;
using rendertest::ToWorld;

std::vector<SimdLevel> Levels() {
  std::vector<SimdLevel> levels;
  for (int l = 0; l <= static_cast<int>(CpuSimdLevel()); ++l)
    levels.push_back(static_cast<SimdLevel>(l));
  return levels;
}

// Random channels up to `top`, about one pixel in `dark` left black.
Image Noise(int32_t w, int32_t h, bool deep, uint32_t seed, int32_t top, int32_t dark) {
  Image image(w, h, deep);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> value(0, top);
  for (rendertest::Pix& p : image.pixels) {
    const bool black = rng() % static_cast<uint32_t>(dark) == 0;
    for (int32_t& c : p) c = black ? 0 : value(rng);
  }
  return image;
}

const char* FormatName(PixelFormat format) {
  return format == PixelFormat::Argb8 ? "Eight" : format == PixelFormat::Argb16 ? "Deep" : "Float";
}

// A world of `format` holding `image` (of the format's depth; 16-bit values
// v as v / 32768 in float), with about one float channel in `every` (0: none)
// replaced by an HDR value: NaN, infinities, subnormals, -0, above 1 and,
// where `belowZero`, below 0.
std::unique_ptr<softhost::SoftWorld> WorldOf(const Image& image, PixelFormat format,
                                             int32_t every = 0, bool belowZero = true,
                                             uint32_t seed = 1) {
  if (format != PixelFormat::ArgbFloat) return ToWorld(image);
  auto world = std::make_unique<softhost::SoftWorld>(image.width, image.height, format);
  RecordFormat(*world->World(), format);
  using F = std::numeric_limits<float>;
  const float kOdd[] = {F::quiet_NaN(), F::infinity(), 0x1p-140f, 0x1p-127f, F::min(),
                        -0.0f,          1.5f,          20.0f,     F::max(),  -F::quiet_NaN(),
                        -F::infinity(), -1.5f,         -0x1p-140f};
  const size_t odd = belowZero ? std::size(kOdd) : std::size(kOdd) - 4;
  std::mt19937 rng(seed);
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width; ++x) {
      float* c = &world->PixelF(x, y)->alpha;
      for (int32_t k = 0; k < 4; ++k) {
        const bool special = every > 0 && rng() % static_cast<uint32_t>(every) == 0;
        c[k] = special ? kOdd[rng() % odd] : static_cast<float>(image.At(x, y)[k]) / 32768.0f;
      }
    }
  }
  return world;
}

// Channel c of pixel (x, y) as stored, and as text.
uint32_t Bits(const softhost::SoftWorld& w, int32_t x, int32_t y, int32_t c) {
  switch (w.Format()) {
    case PixelFormat::ArgbFloat:
      return std::bit_cast<uint32_t>((&w.PixelF(x, y)->alpha)[c]);
    case PixelFormat::Argb16:
      return (&w.Pixel16(x, y)->alpha)[c];
    case PixelFormat::Argb8:
      break;
  }
  return (&w.Pixel8(x, y)->alpha)[c];
}

std::string Text(const softhost::SoftWorld& w, int32_t x, int32_t y, int32_t c) {
  if (w.Format() != PixelFormat::ArgbFloat) return std::to_string(Bits(w, x, y, c));
  std::ostringstream s;
  s << std::hexfloat << (&w.PixelF(x, y)->alpha)[c];
  return s.str();
}

// Empty when every channel has the same bits; else the first differing
// (x, y, channel) with every value that went into it.
std::string FirstDifference(const softhost::SoftWorld& expected, const softhost::SoftWorld& actual,
                            const softhost::SoftWorld& input,
                            const softhost::SoftWorld* floor = nullptr) {
  for (int32_t y = 0; y < expected.Height(); ++y) {
    for (int32_t x = 0; x < expected.Width(); ++x) {
      for (int32_t c = 0; c < 4; ++c) {
        if (Bits(expected, x, y, c) == Bits(actual, x, y, c)) continue;
        std::ostringstream s;
        s << "first difference at (" << x << ", " << y << ") channel " << c << ": expected "
          << Text(expected, x, y, c) << ", got " << Text(actual, x, y, c) << ", input argb";
        for (int32_t k = 0; k < 4; ++k) s << " " << Text(input, x, y, k);
        if (floor != nullptr) {
          s << ", floor argb";
          for (int32_t k = 0; k < 4; ++k) s << " " << Text(*floor, x, y, k);
        }
        return s.str();
      }
    }
  }
  return "";
}

// Runs `body` inside a host command, where the host's suites (the float
// iterate among them) answer.
void InCommand(softhost::Host& host, std::function<void()> body) {
  host.Call(
      [](PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void* extra) -> PF_Err {
        (*static_cast<std::function<void()>*>(extra))();
        return PF_Err_NONE;
      },
      PF_Cmd_ABOUT, nullptr, &body);
}

std::vector<int32_t> Tent(int32_t half, int32_t peak) {
  std::vector<int32_t> k;
  for (int32_t i = -half; i <= half; ++i) k.push_back(peak - peak * std::abs(i) / (half + 1));
  return k;
}

KernelView ViewOf(std::vector<int32_t>& weights, bool across) {
  KernelView v;
  v.kernelIndex = 0;
  v.width = v.rowStride = across ? static_cast<int32_t>(weights.size()) : 1;
  v.height = across ? 1 : static_cast<int32_t>(weights.size());
  v.weights = weights.data();
  return v;
}

class HandMadeKernels : public ::testing::TestWithParam<PixelFormat> {};

// Weights the vector arithmetic cannot reproduce must be declined, leaving
// the output untouched for the straightforward passes; so must a float floor
// below 0.
TEST_P(HandMadeKernels, MatchTheStraightforwardPassesOrDecline) {
  const PixelFormat format = GetParam();
  const bool deep = format != PixelFormat::Argb8;
  const bool isFloat = format == PixelFormat::ArgbFloat;
  // The largest weight that keeps 255 in range at 8 bits; at 16 bits values
  // near 65535 overflow and must take the exact emulation.
  const int32_t top = deep ? 65535 : 32896;
  std::vector<int32_t> offCentre = Tent(20, 32767);
  offCentre.insert(offCentre.begin(), 0);
  const std::vector<int32_t> heavy{1, top + 1, 1};
  struct KernelCase {
    const char* name;
    std::vector<int32_t> across, down;  // centre at size / 2
    bool taken = true;                  // in float lanes every weight is
    bool floorBelowZero = false;        // float only, declined
  } kernels[] = {
      {"zero and unit", {0, 32768, 0}, {32767, 0, 32769}},
      {"fans", Tent(40, 32768), Tent(33, 32767)},
      {"off centre, even", offCentre, {9000, 32768, 32768, 20000, 0, 1}},
      {"above unit", {top, 32768, top - 1, std::min(40000, top)}, Tent(6, top)},
      {"wider than the image", Tent(70, 32768), Tent(50, 32769)},
      {"too heavy across", heavy, {32768}, false},
      {"too heavy down", {32768}, heavy, false},
      {"far too heavy", {1 << 20, 32768, 7}, {3, 1 << 24}, false},
      {"floor below zero", Tent(5, 30000), Tent(4, 32768), true, true},
  };
  const int32_t sizes[][2] = {{1, 19}, {37, 23}, {64, 40}, {150, 21}};
  for (KernelCase& k : kernels) {
    const KernelView across = ViewOf(k.across, true), down = ViewOf(k.down, false);
    if (k.floorBelowZero && !isFloat) continue;
    const bool taken = isFloat ? !k.floorBelowZero : k.taken;
    for (const auto& [w, h] : sizes) {
      // 65535 is never sent by the host, but the passes must still agree.
      const int32_t full = deep && w == 37 ? 65535 : deep ? 32768 : 255;
      const auto in = WorldOf(Noise(w, h, deep, 11, full, 5), format, 7);
      const Image floorImage = Noise(w, h, deep, 12, full / 3, 3);
      auto makeFloor = [&] {
        auto f = WorldOf(floorImage, format, 11, false, 2);
        if (k.floorBelowZero) f->PixelF(w / 2, h / 2)->red = -0.25f;
        return f;
      };
      const auto floor = makeFloor();
      for (int threads : {1, 3}) {
        softhost::HostConfig config;
        config.threads = threads;
        softhost::Host host(config);
        const auto expected = makeFloor();
        InCommand(host, [&] {
          if (!taken) return;
          AEWorld temp(host.InData());
          temp.CopyFrom(expected->World());
          DispatchPixel(FormatOf(in->World()), [&]<typename Pixel>() {
            IterateMaxGather<Pixel>(host.InData(), across, in->World(), temp.World(), 0, 2 * h);
            IterateMaxGather<Pixel>(host.InData(), down, temp.World(), expected->World(), h, 2 * h);
          });
        });
        for (SimdLevel level : Levels()) {
          SCOPED_TRACE(::testing::Message()
                       << k.name << ", " << w << " x " << h << ", " << FormatName(format) << ", "
                       << threads << " threads, " << SimdLevelName(level));
          const auto out = makeFloor();
          bool answer = !taken;
          InCommand(host, [&] {
            answer = ConvolveSeparableFast(host.InData(), across, down, in->World(), out->World(),
                                           level);
          });
          ASSERT_EQ(answer, taken);
          const std::string d = FirstDifference(*expected, *out, *in, floor.get());
          ASSERT_TRUE(d.empty()) << d;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, HandMadeKernels,
                         ::testing::Values(PixelFormat::Argb8, PixelFormat::Argb16,
                                           PixelFormat::ArgbFloat),
                         [](const auto& p) { return FormatName(p.param); });

// Fixed weights (5 wide unless 21 x 15) for every amount; under a control
// layer rung k scales them by (k + 1) / count, so that the rungs differ.
// Masked makers also record where each rung's weights are positive.
template <class Base>
class FixedMaker : public Base {
 public:
  explicit FixedMaker(std::vector<int32_t> k)
      : weights(std::move(k)), width(weights.size() == 21 * 15 ? 21 : 5) {}
  void PrepareShape(double h, double v, int32_t kernelCount) override {
    Base::PrepareShape(h, v, kernelCount);
    count = kernelCount;
  }
  void GetKernelSize(double, double, int32_t* w, int32_t* h) override {
    *w = width;
    *h = static_cast<int32_t>(weights.size()) / width;
  }
  void BuildKernel(int32_t* out, double, double, int32_t kernelIndex) override {
    for (size_t i = 0; i < weights.size(); ++i) {
      out[i] = static_cast<int32_t>(int64_t{weights[i]} * (kernelIndex + 1) / count);
    }
    if constexpr (std::is_base_of_v<MaskedKernelMaker, Base>) {
      this->RecordPositives(out, width, static_cast<int32_t>(weights.size()) / width, kernelIndex);
    }
  }

 private:
  std::vector<int32_t> weights;
  int32_t width;
  int32_t count = 1;
};

// 21 x 15 weights falling off from a core of 32768, a few just above it (as
// far as 8-bit values stay in a channel) and some holes: many groups of
// weights below 32768 after rows that hold heavier ones.
std::vector<int32_t> Falloff() {
  std::vector<int32_t> k;
  for (int32_t j = 0; j < 15; ++j) {
    for (int32_t i = 0; i < 21; ++i) {
      const int32_t d = std::abs(i - 10) + std::abs(j - 7);
      const int32_t w = d < 2 ? 32768 : std::max(0, 32768 - 1900 * d + (i * 7 + j * 3) % 50);
      k.push_back((i + j) % 11 == 0 ? 0 : (i == 3 && j % 4 == 1) ? 32895 - j : w);
    }
  }
  return k;
}

// A tent whose peak grows with the amount up to `peak`, so that rungs and
// both passes carry weights above 32768.
class PeakedMaker : public KernelMaker1D {
 public:
  explicit PeakedMaker(int32_t top) : peak(top) {}
  void MakeProfile(int32_t* profile, double amount, bool) override {
    const int32_t n = BaseKernelLength(amount);
    const int32_t centre = std::min(peak, 32768 + static_cast<int32_t>(amount * 700));
    for (int32_t i = 0; i < n; ++i) {
      profile[i] = std::max(0, centre - std::abs(i - n / 2) * 5000 + (i % 3) * 40);
    }
    // Below 32768 at the centre but not beside it, or the single tap of
    // 32768 at amount 0.
    if (peak < 32768) {
      profile[n / 2] = n == 1 ? 32768 : peak;
      if (n > 1) profile[n / 2 + 1] = 32768;
    }
  }

 private:
  int32_t peak;
};

// Beyond the nine blur types: the hand-made makers above.
constexpr BlurType kFixed{kBlurTypeCount}, kFixedMasked{kBlurTypeCount + 1},
    kPeaked{kBlurTypeCount + 2};
// The last two as the render sets them for a whole frame on the fast engine:
// colour under transparent source pixels read as 0, and whatever the output
// held overwritten.
enum Options {
  kLayerOfOtherDepth = 1,
  kInverted = 2,
  kSmooth = 4,
  kMasked = 8,
  kOverwrite = 16,
  kSparse = 32,
  kSmoothLayer = 64,       // a ramp with scattered full pixels as the control layer
  kStretched = 128,        // tile mode Stretch To Fit instead of Center Image
  kUntiled = 256,          // No Tiling
  kDarkPatches = 512,      // blocks of the layer give control value 0
  kRegions = 1024,         // flat regions of a few control values, as a depth pass has
  kColumnBands = 2048,     // bands of columns, each of one control value
  kLayerAboveFull = 4096,  // a 16-bit layer's pixels above full scale here and there
  kRisingInward = 8192     // the layer rises, the image dims, away from each centre
};

struct Case {
  const char* name;
  BlurType shape;  // a "Blur Type" or a hand-made maker
  int32_t width, height;
  double h, v;
  int32_t rungs;                      // compound shapes; 0: no control layer
  int32_t options = 0;                // Options
  std::vector<int32_t> weights = {};  // kFixed*: 5 x 3 or 21 x 15; kPeaked: the peak
};

// Weights of 0, negative, exactly 32768, just above it and up to the lanes'
// end, in a kernel that is not symmetric under a half turn.
const std::vector<int32_t> kOdd = {0,     1,     32768, 70, -5,    32769, 12000, 40000,
                                   65535, 32768, 2,     0,  30000, 32767, 9};
// Weights above 32768 that still keep 8-bit values within a channel.
const std::vector<int32_t> kHighEight = {32895, 0,     32768, 1,   32769, 20000, 7,    32800,
                                         0,     32767, 4,     900, 32768, 16384, 32895};
// One weight beyond the lanes: the straightforward loop must run.
const std::vector<int32_t> kBeyond = {0, 70000, 0, 1, 32768, 5, 0, 3, 0, 4, 0, 2, 0, 1, 0};

const Case kCases[] = {
    {"GaussianZero", BlurType::Gaussian, 45, 31, 0, 0, 0, kMasked | kOverwrite},
    {"Gaussian", BlurType::Gaussian, 45, 31, 18.5, 5.5, 0, kMasked | kOverwrite},
    {"DiamondFractional", BlurType::Diamond, 45, 31, 2.75, 2.75, 0, kMasked},
    {"DiamondWiderThanImage", BlurType::Diamond, 45, 31, 90, 90, 0, kMasked | kOverwrite},
    {"SharpDiamondAcross", BlurType::SharpDiamond, 45, 31, 12, 0, 0, kMasked | kOverwrite},
    {"BoxDown", BlurType::Box, 45, 31, 0, 15, 0, kMasked | kOverwrite},
    {"CrossWiderThanImage", BlurType::Cross, 45, 31, 65, 4.5, 0, kMasked | kOverwrite},
    {"CrossTallerThanImage", BlurType::Cross, 45, 31, 3, 40, 0, kOverwrite},
    {"CrossOverAFloor", BlurType::Cross, 45, 31, 12, 20, 0, kMasked},
    {"Cylinder", BlurType::Cylinder, 45, 31, 9.75, 22.5, 0, kMasked | kOverwrite},
    {"GaussianLadder", BlurType::Gaussian, 37, 26, 9.5, 3, 50},
    {"GaussianSmooth", BlurType::Gaussian, 37, 26, 7, 14, 7, kSmooth},
    {"GaussianInverted", BlurType::Gaussian, 37, 26, 6, 6, 7, kInverted | kLayerOfOtherDepth},
    {"GaussianOneAxis", BlurType::Gaussian, 37, 26, 0, 8, 50, kLayerOfOtherDepth},
    {"DiamondTwoRungs", BlurType::Diamond, 37, 26, 8, 8, 2},
    {"SharpDiamond", BlurType::SharpDiamond, 31, 21, 5, 9, 7, kLayerOfOtherDepth},
    // Smooth layers give runs of sources sharing their kernels.
    {"DiamondSmoothLayer", BlurType::Diamond, 200, 90, 20, 20, 50, kSmoothLayer | kSmooth},
    {"SharpDiamondSmoothStretched", BlurType::SharpDiamond, 150, 70, 12, 30, 7,
     kSmoothLayer | kStretched | kInverted},
    {"DiamondSmoothUntiled", BlurType::Diamond, 120, 200, 25, 10, 50,
     kSmoothLayer | kUntiled | kLayerOfOtherDepth},
    {"GaussianSmoothLayer", BlurType::Gaussian, 150, 60, 14, 14, 50, kSmoothLayer},
    {"BoxWide", BlurType::Box, 37, 26, 30, 45, 50},
    // Under ladders that do not cover, runs of one kernel pair merge only
    // where no other class's records meet theirs.
    {"GaussianRegions", BlurType::Gaussian, 160, 90, 9, 12, 50, kRegions | kSmooth},
    {"GaussianColumnBands", BlurType::Gaussian, 120, 80, 11, 11, 50,
     kColumnBands | kStretched | kSmooth},
    {"BoxRegionsDown", BlurType::Box, 90, 200, 26, 22, 50, kRegions | kInverted},
    {"GaussianRegionsDown", BlurType::Gaussian, 130, 70, 6, 6, 7,
     kRegions | kDarkPatches | kSmooth},
    // Sources of control value 0 among others, whose records may dominate
    // theirs.
    {"BoxDarkPatches", BlurType::Box, 61, 40, 9, 12, 7, kDarkPatches | kSmooth},
    {"DiamondDarkPatches", BlurType::Diamond, 90, 50, 10, 10, 50,
     kDarkPatches | kSmoothLayer | kInverted},
    {"FullTapOffCentre", kPeaked, 37, 26, 5, 5, 7, kDarkPatches, {30000}},
    {"StarWiderThanImage", BlurType::Star, 9, 7, 13, 11, 0},
    {"StarTwoRungs", BlurType::Star, 23, 17, 12, 5, 2, kLayerOfOtherDepth},
    {"Spiral", BlurType::Spiral, 29, 19, 6, 6, 50, kLayerOfOtherDepth},
    {"Cross", BlurType::Cross, 27, 21, 9, 6, 7, kLayerOfOtherDepth | kMasked | kOverwrite},
    {"CustomUniform", BlurType::Custom, 31, 25, 7, 5, 0, kMasked | kOverwrite},
    // Hundreds of elements below 32768: over a ramp, gathers settle at every
    // stage and some never do; around lone points, an element at the edge of
    // the kernel may be all a pixel gets.
    {"StarOverARamp", BlurType::Star, 150, 70, 30, 24, 0, kSmooth | kMasked | kOverwrite},
    {"SpiralOverARamp", BlurType::Spiral, 120, 50, 20, 20, 0, kSmooth | kMasked | kOverwrite},
    {"StarAroundPoints", BlurType::Star, 230, 660, 12, 9, 0, kSparse | kOverwrite},
    {"FalloffOverARamp", kFixed, 90, 40, 0, 0, 0, kSmooth, Falloff()},
    {"FalloffAroundPoints", kFixed, 230, 660, 0, 0, 0, kSparse, Falloff()},
    {"Custom", BlurType::Custom, 27, 19, 6, 8, 7, kLayerOfOtherDepth | kMasked | kOverwrite},
    // Runs of sources sharing a kernel along the rows, across strips of
    // columns and past the image's edges.
    {"StarRegions", BlurType::Star, 300, 80, 14, 10, 50, kRegions | kSmooth | kMasked | kOverwrite},
    {"StarSmoothLayerStretched", BlurType::Star, 200, 60, 9, 12, 7,
     kSmoothLayer | kInverted | kStretched},
    {"StarBandsWiderThanImage", BlurType::Star, 40, 30, 30, 25, 7, kColumnBands | kDarkPatches},
    {"SpiralBandsUntiled", BlurType::Spiral, 150, 50, 8, 8, 50,
     kColumnBands | kUntiled | kSmooth | kMasked},
    {"CustomRegions", BlurType::Custom, 140, 40, 7, 5, 7, kRegions | kLayerOfOtherDepth},
    {"CylinderInverted", BlurType::Cylinder, 37, 26, 9, 6, 7, kInverted},
    // No host sends such control values, but the tables by control value
    // must hold them.
    {"DiamondLayerAboveFull", BlurType::Diamond, 60, 40, 10, 10, 50,
     kLayerAboveFull | kSmoothLayer},
    {"GaussianLayerAboveFullInverted", BlurType::Gaussian, 60, 40, 8, 8, 7,
     kLayerAboveFull | kInverted},
    {"StarLayerAboveFullInverted", BlurType::Star, 31, 23, 10, 8, 7, kLayerAboveFull | kInverted},
    // Each source reaches the centre, and the nearer, brighter ones beat the
    // farther: cells there list a record from nearly every source of the
    // line, more than a block's lists first hold. The image's jitter keeps
    // neighbouring lines from standing in for a record the lists lose.
    {"DiamondRisingInward", BlurType::Diamond, 70, 50, 150, 150, 50, kRisingInward},
    // At 8 bits the lanes cannot hold these weights: the straightforward
    // loops take over a source to mask and an output to overwrite.
    {"FixedWeights", kFixed, 19, 13, 0, 0, 0, kMasked | kOverwrite, kOdd},
    {"FixedHighWeights", kFixedMasked, 21, 9, 3, 2, 2, kLayerOfOtherDepth, kHighEight},
    {"FixedMasked", kFixedMasked, 15, 13, 3, 2, 7, kLayerOfOtherDepth, kOdd},
    {"FixedBeyondLanes", kFixedMasked, 13, 9, 2, 2, 2, kLayerOfOtherDepth, kBeyond},
    {"MildPeaks", kPeaked, 37, 26, 7, 4, 50, kLayerOfOtherDepth | kSmooth, {32895}},
    {"HighPeaks", kPeaked, 37, 26, 4, 6, 7, kLayerOfOtherDepth, {45000}},
    {"PeaksBeyondLanes", kPeaked, 37, 26, 5, 3, 7, kLayerOfOtherDepth, {70000}},
    // Without a control layer: float lanes take every weight, the others
    // leave these to the straightforward loops.
    {"FixedMaskedUniform", kFixedMasked, 19, 13, 0, 0, 0, kMasked | kOverwrite, kOdd},
    {"FixedBeyondLanesUniform", kFixed, 13, 9, 0, 0, 0, 0, kBeyond},
    {"PeaksBeyondLanesUniform", kPeaked, 37, 26, 5, 3, 0, 0, {70000}},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::unique_ptr<KernelMaker> MakeShape(const Case& c, KernelSettings s) {
  if (c.shape == kFixed) return std::make_unique<FixedMaker<KernelMaker>>(c.weights);
  if (c.shape == kFixedMasked) return std::make_unique<FixedMaker<MaskedKernelMaker>>(c.weights);
  if (c.shape == kPeaked) return std::make_unique<PeakedMaker>(c.weights.at(0));
  s.blurType = c.shape;
  return std::unique_ptr<KernelMaker>(MakeKernelMaker(s));
}

// A ramp with scattered full pixels, whose records mostly dominate each other.
Image Ramp(int32_t w, int32_t h, bool deep) {
  Image image(w, h, deep);
  std::mt19937 rng(7);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      for (int32_t c = 0; c < 4; ++c) {
        image.At(x, y)[c] =
            rng() % 23 == 0 ? image.Full() : image.Full() * (x + 2 * y + c) / (w + 2 * h + 4);
      }
    }
  }
  return image;
}

class MakerFast : public ::testing::TestWithParam<std::tuple<Case, PixelFormat>> {};

TEST_P(MakerFast, MatchesStraightforward) {
  const auto& [c, format] = GetParam();
  const bool deep = format != PixelFormat::Argb8;
  shapestest::HostSession session;
  softhost::Host& host = session.host;
  const int32_t full = deep ? 32768 : 255;
  Image src = (c.options & kSmooth) != 0   ? Ramp(c.width, c.height, deep)
              : (c.options & kSparse) != 0 ? Noise(c.width, c.height, deep, 3, full, 1)
                                           : Noise(c.width, c.height, deep, 11 + c.width, full, 4);
  // Points further apart than the kernel reaches (27 x 21), on every row of
  // a band of 32 and every column of a chunk of 64 somewhere: 27 and 21 are
  // prime to both. At 16 bits every other row is above full scale.
  for (int32_t r = 0; (c.options & kSparse) != 0 && 5 + 21 * r < c.height; ++r) {
    const int32_t top = deep && r % 2 == 1 ? 65535 : full;
    for (int32_t k = 0, x = 27 * 7 * r % 64; x < c.width; ++k, x += 27) {
      for (int32_t& v : src.At(x, 5 + 21 * r)) v = top - k;
    }
  }
  // Distance from an image's centre, 0 to 1.
  auto away = [](const Image& image, int32_t x, int32_t y) {
    return (std::abs(2 * x - image.width) + std::abs(2 * y - image.height)) /
           static_cast<double>(image.width + image.height);
  };
  std::mt19937 jitter(3);
  for (int32_t y = 0; y < c.height && (c.options & kRisingInward) != 0; ++y) {
    for (int32_t x = 0; x < c.width; ++x) {
      for (int32_t& v : src.At(x, y)) {
        v = static_cast<int32_t>(full * (1.0 - away(src, x, y)) * (0.5 + jitter() % 64 / 128.0));
      }
    }
  }
  for (int32_t y = 0; y < c.height && (c.options & kMasked) != 0; ++y) {
    for (int32_t x = (y * 3) % 7; x < c.width; x += 7) src.At(x, y)[0] = 0;
  }
  // Dim values that the result must keep where nothing beats them.
  const Image floorImage = Noise(c.width, c.height, deep, 13, full / 8, 2);
  const auto floor = WorldOf(floorImage, format, 13, false, 2);
  // Centred and a little smaller than the image, so a border lies outside.
  const bool layerDeep = deep != ((c.options & kLayerOfOtherDepth) != 0);
  Image layerImage =
      (c.options & kSmoothLayer) != 0
          ? Ramp(c.width - 4, c.height - 3, layerDeep)
          : Noise(c.width - 4, c.height - 3, layerDeep, 12 + c.height, layerDeep ? 32768 : 255, 9);
  for (int32_t y = 0; y < layerImage.height && (c.options & (kRegions | kColumnBands)) != 0; ++y) {
    for (int32_t x = 0; x < layerImage.width; ++x) {
      const int32_t step = (c.options & kRegions) != 0 ? (x / 31 + 2 * (y / 23)) % 5 : x / 13 % 5;
      for (int32_t& v : layerImage.At(x, y)) v = layerImage.Full() * step / 4;
    }
  }
  for (int32_t y = 0; y < layerImage.height && layerDeep && (c.options & kLayerAboveFull) != 0;
       ++y) {
    for (int32_t x = (y * 5) % 3; x < layerImage.width; x += 3) {
      for (int32_t& v : layerImage.At(x, y)) v = 65535 - (x + y) % 9 * 1000;
    }
  }
  for (int32_t y = 0; y < layerImage.height && (c.options & kRisingInward) != 0; ++y) {
    for (int32_t x = 0; x < layerImage.width; ++x) {
      for (int32_t& v : layerImage.At(x, y))
        v = static_cast<int32_t>(layerImage.Full() * away(layerImage, x, y));
    }
  }
  for (int32_t y = 0; y < layerImage.height && (c.options & kDarkPatches) != 0; ++y) {
    for (int32_t x = 0; x < layerImage.width; ++x) {
      if ((x / 5 + y / 4) % 3 != 0) continue;
      for (int32_t& v : layerImage.At(x, y))
        v = (c.options & kInverted) != 0 ? layerImage.Full() : 0;
    }
  }
  const auto layer = ToWorld(layerImage);
  const auto in = WorldOf(src, format, (c.options & kSparse) != 0 ? 4001 : 9);
  const auto shape = ToWorld(Noise(16, 12, false, 5, 255, 3));  // for the custom shape

  KernelSettings settings;
  settings.inData = host.InData();
  settings.host = session.Facts();
  settings.hAmount = c.h;
  settings.vAmount = c.v;
  settings.shapeWorld = shape->World();
  settings.shapeChannel = kShapeAlpha;
  KernelHolderFactory factory;
  factory.useBCL = c.rungs > 0;
  factory.inData = host.InData();
  factory.source = in->World();
  factory.bclWorld = layer->World();
  const int32_t tileMode = (c.options & kStretched) != 0 ? 2 : (c.options & kUntiled) != 0 ? 0 : 1;
  factory.bcl = BCLSettings{
      2,      0, 0, tileMode, c.width / 3, c.height / 4, 1.0, 1.0, (c.options & kInverted) != 0,
      c.rungs};

  auto render = [&](Engine engine, SimdLevel level) {
    ConvolvePlan plan;
    plan.engine = engine;
    plan.simd = level;
    plan.maskTransparentSource = (c.options & kMasked) != 0;
    if ((c.options & kOverwrite) != 0) plan.destination = DestinationState::Overwrite;
    auto out = WorldOf(floorImage, format, 13, false, 2);
    const auto maker = MakeShape(c, settings);
    InCommand(host, [&] {
      EXPECT_NO_THROW(
          ConvolveImage(maker.get(), in->World(), out->World(), &settings, &factory, plan));
    });
    return out;
  };
  const auto expected = render(Engine::Reference, SimdLevel::Scalar);
  for (int threads : {1, 3}) {
    host.Config().threads = threads;
    for (SimdLevel level : Levels()) {
      SCOPED_TRACE(::testing::Message() << threads << " threads, " << SimdLevelName(level));
      const std::string d = FirstDifference(*expected, *render(Engine::Fast, level), *in, &*floor);
      EXPECT_TRUE(d.empty()) << d;
    }
  }
}

// Every case at 8 and 16 bits; in float those without a control layer,
// whose float paths are the straightforward loops.
std::vector<std::tuple<Case, PixelFormat>> MakerCases() {
  std::vector<std::tuple<Case, PixelFormat>> cases;
  for (const Case& c : kCases) {
    for (PixelFormat f : {PixelFormat::Argb8, PixelFormat::Argb16, PixelFormat::ArgbFloat}) {
      if (f != PixelFormat::ArgbFloat || c.rungs == 0) cases.emplace_back(c, f);
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Shapes, MakerFast, ::testing::ValuesIn(MakerCases()), [](const auto& p) {
  return std::string(std::get<0>(p.param).name) + FormatName(std::get<1>(p.param));
});

}  // namespace
