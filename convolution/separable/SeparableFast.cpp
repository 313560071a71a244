#include "convolution/separable/SeparableFast.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "convolution/Slots.h"
#include "convolution/separable/LinePlan.h"
#include "convolution/separable/Separable.h"
#include "convolution/simd/Kernels.h"
#include "image/AEException.h"
#include "image/AEWorld.h"
#include "image/Containers.h"
#include "image/IterateRows.h"
#include "image/PixelTraits.h"

namespace {

// Rows per horizontal band and columns per vertical strip: 8 pixels of 4
// channels fill the 32 lanes of a position.
constexpr int32_t kBlock = 8;
constexpr int32_t kChannels = 4;
static_assert(kBlock * kChannels == kLineLanes);

// Scratch lines for the pixel functions, one per slot, allocated before the
// passes so that nothing is allocated per call.
class SlotPool {
 public:
  explicit SlotPool(size_t positionsPerSlot)
      : slots(Slots::ForThisMachine(33)),
        stride(positionsPerSlot * kLineLanes),
        storage(new uint16_t[stride * static_cast<size_t>(slots.Count())]) {}

  Slots& Indices() { return slots; }
  uint16_t* Memory(int32_t slot) const {
    return storage.get() + stride * static_cast<size_t>(slot);
  }

 private:
  Slots slots;
  size_t stride;
  std::unique_ptr<uint16_t[]> storage;
};

class ScratchLease {
 public:
  explicit ScratchLease(SlotPool& owner)
      : lease(owner.Indices()), memory(owner.Memory(lease.Index())) {}
  uint16_t* Memory() const { return memory; }

 private:
  SlotLease lease;
  uint16_t* memory;
};

struct PassPlan {
  LinePlan plan;
  int32_t taps = 0;
  int32_t before = 0;  // zero positions ahead of the image in the padded line
};

// One separable blur: its two passes and the world its first pass writes.
struct Arm {
  PassPlan across;
  PassPlan down;
  // What the straightforward passes call the temporary copy of dst: dst
  // itself when dst holds only zeros (the floor is then no floor at all).
  PF_EffectWorld* mid = nullptr;
};

struct FastPasses {
  // One blur, or the cross's two arms, whose colours then merge by maximum
  // as the second pass stores them (alpha is the second arm's), so the
  // first arm's result never goes through memory; both run in place then.
  Arm arms[2];
  int32_t armCount = 1;
  // The arm whose horizontal pass has the most taps: the band is padded for
  // it and it runs first, so the other arm's padded line lies within its
  // line, and the other's scratch only past its own line.
  int32_t widest = 0;
  LineFunction line = nullptr;
  PF_EffectWorld* src = nullptr;
  PF_EffectWorld* dst = nullptr;
  bool inPlace = false;
  bool maskSource = false;
  // The horizontal pass did not run (its kernel passes src through): the
  // vertical one reads src itself.
  bool downReadsSource = false;
  int32_t width = 0;
  int32_t height = 0;
  int32_t strips = 0;
  SlotPool* pool = nullptr;
  size_t keptOffset = 0;  // elements into a slot: the first arm's column (two arms)
};

// A pixel's four channels in lane order (alpha, red, green, blue), the
// order of the host's pixel record; 8-bit channels widened, and narrowed back
// (values then never pass 255).
inline void LoadPixel(const PF_Pixel16& p, uint16_t* lanes) { std::memcpy(lanes, &p, 8); }
inline void StorePixel(const uint16_t* lanes, PF_Pixel16* p) { std::memcpy(p, lanes, 8); }

inline void LoadPixel(const PF_Pixel& p, uint16_t* lanes) {
  lanes[0] = p.alpha;
  lanes[1] = p.red;
  lanes[2] = p.green;
  lanes[3] = p.blue;
}

inline void StorePixel(const uint16_t* lanes, PF_Pixel* p) {
  p->alpha = static_cast<A_u_char>(lanes[0]);
  p->red = static_cast<A_u_char>(lanes[1]);
  p->green = static_cast<A_u_char>(lanes[2]);
  p->blue = static_cast<A_u_char>(lanes[3]);
}

// The larger of each channel and its value in the line.
template <typename Pixel>
inline void RaisePixel(const uint16_t* lanes, Pixel* p) {
  uint16_t v[kChannels];
  LoadPixel(*p, v);
  for (int32_t c = 0; c < kChannels; ++c) v[c] = std::max(v[c], lanes[c]);
  StorePixel(v, p);
}

template <typename Pixel>
bool IsClear(const PF_EffectWorld* world) {
  for (int32_t y = 0; y < world->height; ++y) {
    const Pixel* row = PixelAt<Pixel>(world, 0, y);
    for (int32_t x = 0; x < world->width; ++x) {
      if ((row[x].alpha | row[x].red | row[x].green | row[x].blue) != 0) return false;
    }
  }
  return true;
}

// The straightforward loop itself, lane by lane, for lines where a weighted
// value may pass 65535: there the 32-bit product wraps (the tap turns
// negative and drops out), which the vector arithmetic cannot mimic. Each
// lane starts from its floor in `values`.
void EmulateLine(const LinePlan& plan, const uint16_t* in, int32_t count, uint16_t* values) {
  const int32_t* weights = plan.Weights();
  for (int32_t x = 0; x < count; ++x) {
    for (int32_t lane = 0; lane < kLineLanes; ++lane) {
      int32_t v = values[x * kLineLanes + lane];
      for (int32_t t = 0; t < plan.Taps(); ++t) {
        if (weights[t] <= 0) continue;
        const int32_t a = MulQ15(weights[t], in[(x + t) * kLineLanes + lane]);
        if (a > v) v = static_cast<uint16_t>(a);
      }
      values[x * kLineLanes + lane] = static_cast<uint16_t>(v);
    }
  }
}

// Fills the padding of a line, and the lanes past `used` blocks of every
// position, with zeros; returns the line's first image position.
uint16_t* PrepareLine(const PassPlan& pass, int32_t count, int32_t used, uint16_t* in) {
  const size_t after = static_cast<size_t>(pass.taps - 1 - pass.before);
  std::fill(in, in + static_cast<size_t>(pass.before) * kLineLanes, uint16_t{0});
  uint16_t* image = in + static_cast<size_t>(pass.before) * kLineLanes;
  std::fill(image + static_cast<size_t>(count) * kLineLanes,
            image + (static_cast<size_t>(count) + after) * kLineLanes, uint16_t{0});
  if (used < kBlock) {
    for (int32_t x = 0; x < count; ++x) {
      std::fill(image + x * kLineLanes + used * kChannels, image + (x + 1) * kLineLanes,
                uint16_t{0});
    }
  }
  return image;
}

// Runs the line, or emulates it when its values could overflow; the floor
// callback fills the output with the values the emulation starts from.
template <typename Floor>
bool RunOrEmulate(const FastPasses& f, const PassPlan& pass, uint16_t* in, int32_t count,
                  Floor&& floor, uint16_t** out) {
  LineJob job{};
  job.program = pass.plan.Program();
  job.in = in;
  job.inCount = pass.plan.InCount();
  job.count = count;
  job.out = in + (pass.plan.JobPositions() - static_cast<size_t>(count)) * kLineLanes;
  job.valueLimit = pass.plan.ValueLimit();
  *out = job.out;
  if (f.line(job)) return false;
  floor(job.out);
  EmulateLine(pass.plan, in, count, job.out);
  return true;
}

// Calls fn(x, r) for every pixel of a band, x outer. Every band but the last
// has kBlock rows; a constant count lets the compiler unroll the row loop.
template <typename Fn>
inline void ForBandPixels(int32_t width, int32_t rows, Fn&& fn) {
  if (rows == kBlock) {
    for (int32_t x = 0; x < width; ++x) {
      for (int32_t r = 0; r < kBlock; ++r) fn(x, r);
    }
    return;
  }
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t r = 0; r < rows; ++r) fn(x, r);
  }
}

// WithoutHiddenColour, tested on the loaded lanes: in this loop that is
// several percent of a render faster than masking the pixel first.
template <typename Pixel>
inline void LoadMaskedPixel(const Pixel& p, uint16_t* lanes) {
  LoadPixel(p, lanes);
  if (lanes[0] == 0) lanes[1] = lanes[2] = lanes[3] = 0;
}

// The horizontal pass of one arm over a loaded band: `in` is its padded line.
template <typename Pixel>
void AcrossArm(const FastPasses& f, const Arm& arm, A_long y, int32_t rows, uint16_t* in) {
  uint16_t* out = nullptr;
  const bool final = RunOrEmulate(
      f, arm.across, in, f.width,
      [&](uint16_t* values) {
        // In place, dst holds zeros or nothing worth reading.
        for (int32_t r = 0; r < rows; ++r) {
          const Pixel* floor = PixelAt<Pixel>(arm.mid, 0, y + r);
          for (int32_t x = 0; x < f.width; ++x) {
            uint16_t* lanes = values + x * kLineLanes + r * kChannels;
            if (f.inPlace) {
              std::fill(lanes, lanes + kChannels, uint16_t{0});
            } else {
              LoadPixel(floor[x], lanes);
            }
          }
        }
      },
      &out);
  Pixel* target[kBlock];
  for (int32_t r = 0; r < rows; ++r) target[r] = PixelAt<Pixel>(arm.mid, 0, y + r);
  if (final || f.inPlace) {
    ForBandPixels(f.width, rows, [&](int32_t x, int32_t r) {
      StorePixel(out + x * kLineLanes + r * kChannels, &target[r][x]);
    });
  } else {
    ForBandPixels(f.width, rows, [&](int32_t x, int32_t r) {
      RaisePixel(out + x * kLineLanes + r * kChannels, &target[r][x]);
    });
  }
}

// Horizontal pass: rows y..y+7 of src across, lanes (row, channel), raised
// into the same rows of each arm's mid.
template <typename Pixel>
PF_Err AcrossBand(void* refcon, A_long, A_long y, Pixel*, Pixel*) {
  if (y % kBlock != 0) return PF_Err_NONE;
  const FastPasses& f = *static_cast<const FastPasses*>(refcon);
  const int32_t rows = std::min(kBlock, f.height - y);
  ScratchLease lease(*f.pool);
  // Loaded once for every arm.
  uint16_t* image = PrepareLine(f.arms[f.widest].across, f.width, rows, lease.Memory());
  const Pixel* source[kBlock];
  for (int32_t r = 0; r < rows; ++r) source[r] = PixelAt<Pixel>(f.src, 0, y + r);
  if (f.maskSource) {
    ForBandPixels(f.width, rows, [&](int32_t x, int32_t r) {
      LoadMaskedPixel(source[r][x], image + x * kLineLanes + r * kChannels);
    });
  } else {
    ForBandPixels(f.width, rows, [&](int32_t x, int32_t r) {
      LoadPixel(source[r][x], image + x * kLineLanes + r * kChannels);
    });
  }
  for (int32_t n = 0; n < f.armCount; ++n) {
    const Arm& arm = f.arms[n == 0 ? f.widest : 1 - f.widest];
    AcrossArm<Pixel>(f, arm, y, rows,
                     image - static_cast<ptrdiff_t>(arm.across.before) * kLineLanes);
  }
  return PF_Err_NONE;
}

// The vertical pass of one arm over the strip at column x0: its values in
// *out, and whether they already hold dst's floor.
template <typename Pixel>
bool DownArm(const FastPasses& f, const Arm& arm, int32_t x0, int32_t columns, uint16_t* in,
             uint16_t** out) {
  uint16_t* image = PrepareLine(arm.down, f.height, columns, in);
  if (f.downReadsSource && f.maskSource) {
    for (int32_t y = 0; y < f.height; ++y) {
      const Pixel* row = PixelAt<Pixel>(f.src, x0, y);
      uint16_t* lanes = image + y * kLineLanes;
      for (int32_t p = 0; p < columns; ++p) LoadMaskedPixel(row[p], lanes + p * kChannels);
    }
  } else {
    const PF_EffectWorld* from = f.downReadsSource ? f.src : arm.mid;
    for (int32_t y = 0; y < f.height; ++y) {
      const Pixel* row = PixelAt<Pixel>(from, x0, y);
      uint16_t* lanes = image + y * kLineLanes;
      if (PixelTraits<Pixel>::kFormat == PixelFormat::Argb16 && columns == kBlock) {
        std::memcpy(lanes, row, kLineLanes * sizeof(uint16_t));
      } else {
        for (int32_t p = 0; p < columns; ++p) LoadPixel(row[p], lanes + p * kChannels);
      }
    }
  }
  return RunOrEmulate(
      f, arm.down, in, f.height,
      [&](uint16_t* values) {
        for (int32_t y = 0; y < f.height; ++y) {
          const Pixel* floor = PixelAt<Pixel>(f.dst, x0, y);
          for (int32_t p = 0; p < columns; ++p) {
            uint16_t* lanes = values + y * kLineLanes + p * kChannels;
            if (f.inPlace) {
              std::fill(lanes, lanes + kChannels, uint16_t{0});
            } else {
              LoadPixel(floor[p], lanes);
            }
          }
        }
      },
      out);
}

// Vertical pass: one strip of 8 columns of each arm's mid down, lanes
// (column, channel), raised into dst (or, in place, stored: dst then holds
// mid).
template <typename Pixel>
void DownStrip(const FastPasses& f, int32_t strip) {
  const int32_t x0 = strip * kBlock;
  const int32_t columns = std::min(kBlock, f.width - x0);
  ScratchLease lease(*f.pool);
  uint16_t* out = nullptr;
  bool final = DownArm<Pixel>(f, f.arms[0], x0, columns, lease.Memory(), &out);
  if (f.armCount == 2) {
    // The first arm's column waits at the end of the slot while the second
    // arm runs; then the colour lanes take the larger of the two.
    const size_t count = static_cast<size_t>(f.height) * kLineLanes;
    uint16_t* kept = lease.Memory() + f.keptOffset;
    std::memcpy(kept, out, count * sizeof(uint16_t));
    final = DownArm<Pixel>(f, f.arms[1], x0, columns, lease.Memory(), &out);
    for (size_t i = 0; i < count; i += kChannels) {
      for (int32_t c = 1; c < kChannels; ++c) out[i + c] = std::max(out[i + c], kept[i + c]);
    }
  }
  const bool store = final || f.inPlace;
  for (int32_t y = 0; y < f.height; ++y) {
    Pixel* target = PixelAt<Pixel>(f.dst, x0, y);
    const uint16_t* lanes = out + y * kLineLanes;
    if (PixelTraits<Pixel>::kFormat == PixelFormat::Argb16 && columns == kBlock && store) {
      std::memcpy(target, lanes, kLineLanes * sizeof(uint16_t));
      continue;
    }
    for (int32_t p = 0; p < columns; ++p) {
      if (store) {
        StorePixel(lanes + p * kChannels, &target[p]);
      } else {
        RaisePixel(lanes + p * kChannels, &target[p]);
      }
    }
  }
}

template <typename Pixel>
PF_Err DownStrips(void* refcon, A_long, A_long y, Pixel*, Pixel*) {
  const FastPasses& f = *static_cast<const FastPasses*>(refcon);
  const RowShare strips = ShareOfRow(y, f.height, f.strips);
  for (int32_t s = strips.first; s < strips.end; ++s) DownStrip<Pixel>(f, s);
  return PF_Err_NONE;
}

template <typename Pixel>
void RunPass(PF_InData* inData, FastPasses& f, PF_EffectWorld* src, bool across) {
  // One pixel wide and as tall as the image: the same polls and progress as
  // the straightforward pass over the whole image.
  const PF_Err err = IterateRows<Pixel>(inData, across ? 0 : f.height, 2 * f.height, src, f.height,
                                        &f, across ? AcrossBand<Pixel> : DownStrips<Pixel>, f.dst);
  if (err != PF_Err_NONE) throw AEException(err, "ConvolveImage: Error or user Abort.");
}

bool IsUnitTap(const KernelView& view) {
  return view.width == 1 && view.height == 1 && view.Weight(0, 0) == 32768;
}

bool PlanPass(const KernelView& view, bool horizontal, int32_t count, bool deep, PassPlan* pass) {
  const int32_t n = horizontal ? view.width : view.height;
  if (n < 1 || (horizontal ? view.height : view.width) != 1) return false;
  std::vector<int32_t> gather(static_cast<size_t>(n));
  for (int32_t t = 0; t < n; ++t) {
    gather[t] = horizontal ? view.Weight(n - 1 - t, 0) : view.Weight(0, n - 1 - t);
  }
  pass->taps = n;
  pass->before = n / 2;
  return pass->plan.Build(gather.data(), n, count, deep);
}

// Both entries: views holds each arm's across and down kernels; the first
// of two arms writes its first pass to firstMid.
template <typename Pixel>
bool ConvolveArms(PF_InData* inData, const KernelView* const* views, int32_t armCount,
                  PF_EffectWorld* src, PF_EffectWorld* firstMid, PF_EffectWorld* dst,
                  SimdLevel instructionSet, bool maskSource, DestinationState destination) {
  constexpr bool deep = PixelTraits<Pixel>::kFormat == PixelFormat::Argb16;
  const int32_t width = src->width;
  const int32_t height = src->height;
  if (!HoldsPixels<Pixel>(src) || !HoldsPixels<Pixel>(dst)) return false;
  // One iterate call per row, and the rows are a host rectangle's.
  if (width < 1 || height < 1 || height > kMaxIterateRows || dst->width != width ||
      dst->height != height) {
    return false;
  }
  if (armCount == 2 &&
      (firstMid->width != width || firstMid->height != height || !HoldsPixels<Pixel>(firstMid))) {
    return false;
  }
  FastPasses f;
  f.armCount = armCount;
  size_t positions = 0;
  for (int32_t k = 0; k < armCount; ++k) {
    Arm& arm = f.arms[k];
    if (!PlanPass(*views[2 * k], true, width, deep, &arm.across) ||
        !PlanPass(*views[2 * k + 1], false, height, deep, &arm.down)) {
      return false;
    }
    positions = std::max(positions, arm.down.plan.JobPositions());
  }
  // A narrower arm's across line starts inside the widest one's padding.
  f.widest = armCount == 2 && f.arms[1].across.taps > f.arms[0].across.taps ? 1 : 0;
  const int32_t before = f.arms[f.widest].across.before;
  for (int32_t k = 0; k < armCount; ++k) {
    const PassPlan& pass = f.arms[k].across;
    positions =
        std::max(positions, static_cast<size_t>(before - pass.before) + pass.plan.JobPositions());
  }
  // Over a dst that holds no floor the intermediate image can live in dst
  // itself. The cross needs that.
  f.inPlace = destination != DestinationState::Floor || IsClear<Pixel>(dst);
  if (armCount == 2) {
    if (!f.inPlace) return false;
    f.keptOffset = positions * kLineLanes;
    positions += static_cast<size_t>(height);
  }
  f.line = simd::KernelsFor(instructionSet).line;
  f.src = src;
  f.dst = dst;
  f.maskSource = maskSource;
  f.width = width;
  f.height = height;
  f.strips = (width + kBlock - 1) / kBlock;
  SlotPool pool(positions);
  f.pool = &pool;

  // A kernel of one tap of 32768 passes its input through. With one arm in
  // place its pass need not run: the vertical pass reads src itself, or the
  // horizontal one leaves the blur in dst.
  const bool alone = armCount == 1 && f.inPlace;
  const bool acrossRuns = !(alone && IsUnitTap(*views[0]) && !IsUnitTap(*views[1]));
  const bool downRuns = !(alone && IsUnitTap(*views[1]));
  f.downReadsSource = !acrossRuns;

  AEWorld temp(inData);
  if (!f.inPlace) temp.CopyFrom(dst);
  f.arms[armCount - 1].mid = f.inPlace ? dst : temp.World();
  if (armCount == 2) f.arms[0].mid = firstMid;

  auto run = [&](bool across) { RunPass<Pixel>(inData, f, src, across); };
  try {
    if (acrossRuns) run(true);
  } catch (...) {
    // The straightforward passes leave dst untouched when the first one
    // stops; so does this one.
    if (f.inPlace) {
      for (int32_t y = 0; y < height; ++y) {
        std::memset(PixelAt<char>(dst, 0, y), 0, static_cast<size_t>(width) * sizeof(Pixel));
      }
    }
    throw;
  }
  if (downRuns) run(false);
  return true;
}

}  // namespace

bool ConvolveSeparableFast(PF_InData* inData, const KernelView& across, const KernelView& down,
                           PF_EffectWorld* src, PF_EffectWorld* dst, SimdLevel instructionSet,
                           bool maskSource, DestinationState destination) {
  const KernelView* views[] = {&across, &down};
  return DispatchPixel(FormatOf(dst), [&]<typename Pixel>() {
    if constexpr (kIsFloatPixel<Pixel>) {
      return false;
    } else {
      return ConvolveArms<Pixel>(inData, views, 1, src, nullptr, dst, instructionSet, maskSource,
                                 destination);
    }
  });
}

bool ConvolveCrossFast(PF_InData* inData, const KernelView& across1, const KernelView& down1,
                       const KernelView& across2, const KernelView& down2, PF_EffectWorld* src,
                       PF_EffectWorld* scratch, PF_EffectWorld* dst, SimdLevel instructionSet,
                       bool maskSource, DestinationState destination) {
  const KernelView* views[] = {&across1, &down1, &across2, &down2};
  return DispatchPixel(FormatOf(dst), [&]<typename Pixel>() {
    if constexpr (kIsFloatPixel<Pixel>) {
      return false;
    } else {
      return ConvolveArms<Pixel>(inData, views, 2, src, scratch, dst, instructionSet, maskSource,
                                 destination);
    }
  });
}
