// The host's image services: gaussian_kernel, convolve and area sampling.
//
// Kernel entries: long kernels (the default) hold 32768 = 1.0, PF_Fixed
// kernels (PF_KernelFlag_USE_FIXED) 65536 = 1.0 and char kernels
// (PF_KernelFlag_USE_CHAR) 255 = 1.0. A 1D kernel has kernel_size entries
// with its origin at the middle entry; a 2D kernel is kernel_size x
// kernel_size, row by row, origin in the middle.
//
// convolve: each output channel is the weighted sum of its taps divided by
// the kernel's unit, or, with PF_KernelFlag_NORMALIZED, by the sum of that
// channel's own kernel (a kernel summing to 0 falls back to its unit),
// rounded to nearest with halves away from zero. Taps outside the source
// contribute 0 (transparent borders) unless PF_KernelFlag_REPLICATE_BORDERS
// repeats the edge pixel; the divisor is never adjusted for missing taps.
// Results are clamped to the channel range (255, or 32768 at 16 bits), or
// with PF_KernelFlag_NO_CLAMP only to what the channel can store.
//
// Area sampling: point (x, y) is 16.16 with integer coordinates at pixel
// centres, so pixel i covers [i - 0.5, i + 0.5). The sample is the mean over
// the box [x - x_radius, x + x_radius] x [y - y_radius, y + y_radius], each
// pixel weighted by its exact overlap with the box, pixels outside the source
// counting as transparent black, rounded to nearest. A zero radius samples
// the pixel under the point along that axis.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <vector>

#include "softhost/HostInternal.h"

namespace softhost {
namespace {

#ifdef __SIZEOF_INT128__
using Wide = __int128;
#else
using Wide = long long;  // exact while box area x channel value fits 63 bits
#endif

constexpr double kMaxKernelRadius = 100000.0;
constexpr int64_t kOne = 65536;  // 1.0 in 16.16

int32_t TruncateSaturated(double v) {
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

template <typename T>
T RoundDiv(T num, T den) {
  if (den < 0) {
    num = -num;
    den = -den;
  }
  return num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
}

enum class EntryKind { Long, Fixed, Char };

EntryKind KindOf(PF_KernelFlags flags) {
  if (flags & PF_KernelFlag_USE_CHAR) return EntryKind::Char;
  if (flags & PF_KernelFlag_USE_FIXED) return EntryKind::Fixed;
  return EntryKind::Long;
}

int64_t UnitOf(EntryKind kind) {
  switch (kind) {
    case EntryKind::Char:
      return 255;
    case EntryKind::Fixed:
      return 65536;
    case EntryKind::Long:
      break;
  }
  return 32768;
}

std::vector<int64_t> ReadKernel(const void* kernel, EntryKind kind, size_t count) {
  std::vector<int64_t> weights(count);
  for (size_t i = 0; i < count; ++i) {
    if (kind == EntryKind::Char) {
      weights[i] = static_cast<const unsigned char*>(kernel)[i];
    } else {
      weights[i] = static_cast<const int32_t*>(kernel)[i];
    }
  }
  return weights;
}

template <typename Pixel>
auto& Chan(Pixel& p, int c) {
  switch (c) {
    case 0:
      return p.alpha;
    case 1:
      return p.red;
    case 2:
      return p.green;
    default:
      return p.blue;
  }
}

template <typename Pixel>
PF_Err ConvolveDepth(int threads, const PF_EffectWorld* src, const PF_Rect* area,
                     PF_KernelFlags flags, int32_t size, void* const kernels[4],
                     PF_EffectWorld* dst) {
  const EntryKind kind = KindOf(flags);
  const bool oneD = (flags & PF_KernelFlag_1D) != 0;
  const bool vertical = (flags & PF_KernelFlag_VERTICAL) != 0;
  const bool replicate = (flags & PF_KernelFlag_REPLICATE_BORDERS) != 0;
  const size_t taps = oneD ? static_cast<size_t>(size) : static_cast<size_t>(size) * size;
  std::vector<int64_t> weights[4];
  int64_t divisor[4];
  for (int c = 0; c < 4; ++c) {
    weights[c] = ReadKernel(kernels[c], kind, taps);
    int64_t sum = 0;
    for (int64_t w : weights[c]) sum += w;
    divisor[c] = (flags & PF_KernelFlag_NORMALIZED) && sum != 0 ? sum : UnitOf(kind);
  }
  const int64_t high =
      (flags & PF_KernelFlag_NO_CLAMP) ? Depth<Pixel>::kStorageMax : Depth<Pixel>::kMax;

  // Reading and writing the same pixels needs a snapshot of the source.
  std::vector<unsigned char> snapshot;
  PF_EffectWorld source = *src;
  if (src->data == dst->data) {
    snapshot.assign(static_cast<const unsigned char*>(src->data),
                    static_cast<const unsigned char*>(src->data) +
                        static_cast<size_t>(src->rowbytes) * static_cast<size_t>(src->height));
    source.data = snapshot.data();
  }
  const Span span = ClipToWorld(area, dst);
  if (span.Empty() || source.width < 1 || source.height < 1) return PF_Err_NONE;

  // A 1D kernel is one row (or, vertical, one column) of a 2D one.
  const int32_t kw = oneD && vertical ? 1 : size;
  const int32_t kh = oneD && !vertical ? 1 : size;
  const int32_t halfX = kw / 2, halfY = kh / 2;
  std::vector<int64_t> interleaved(taps * 4);
  for (size_t k = 0; k < taps; ++k) {
    for (int c = 0; c < 4; ++c) interleaved[k * 4 + c] = weights[c][k];
  }
  ParallelRows(threads, span.bottom - span.top, 16, [&](int32_t first, int32_t last) {
    for (int32_t y = span.top + first; y < span.top + last; ++y) {
      for (int32_t x = span.left; x < span.right; ++x) {
        int64_t acc[4] = {0, 0, 0, 0};
        for (int32_t j = 0; j < kh; ++j) {
          int32_t sy = y - halfY + j;
          if (sy < 0 || sy >= source.height) {
            if (!replicate) continue;
            sy = std::clamp(sy, 0, source.height - 1);
          }
          const Pixel* row = PixelIn<Pixel>(&source, 0, sy);
          const int64_t* w = interleaved.data() + static_cast<size_t>(j) * kw * 4;
          // Without replication only the taps inside the row take part.
          const int32_t iLo = replicate ? 0 : std::max(0, halfX - x);
          const int32_t iHi = replicate ? kw : std::min(kw, source.width - x + halfX);
          for (int32_t i = iLo; i < iHi; ++i) {
            const int32_t sx = std::clamp(x - halfX + i, 0, source.width - 1);
            const Pixel& p = row[sx];
            const int64_t* wi = w + static_cast<size_t>(i) * 4;
            acc[0] += wi[0] * p.alpha;
            acc[1] += wi[1] * p.red;
            acc[2] += wi[2] * p.green;
            acc[3] += wi[3] * p.blue;
          }
        }
        Pixel& out = *PixelIn<Pixel>(dst, x, y);
        for (int c = 0; c < 4; ++c) {
          const int64_t v = std::clamp<int64_t>(RoundDiv(acc[c], divisor[c]), 0, high);
          Chan(out, c) = static_cast<typename Depth<Pixel>::Channel>(v);
        }
      }
    }
  });
  return PF_Err_NONE;
}

// One axis of the sampling box: pixels first .. first + count - 1, each
// weighted by its overlap with the box in 1/65536 pixel. Every pixel strictly
// between the two ends is covered whole (kOne), so only the ends carry
// weights of their own; a sampler called once per kernel pixel must not
// allocate.
struct Axis {
  int32_t first = 0;
  int32_t count = 0;
  int64_t firstWeight = 0;  // a single pixel's too
  int64_t lastWeight = 0;
  int64_t total = 1;
};

Axis MakeAxis(PF_Fixed centre, PF_Fixed radius, int32_t size) {
  Axis axis;
  const int64_t r = std::llabs(static_cast<int64_t>(radius));
  // Shift so that pixel i covers [i, i + 1) in 16.16.
  const int64_t c = static_cast<int64_t>(centre) + kOne / 2;
  if (r == 0) {
    const int64_t i = FloorDiv(c, kOne);
    if (i >= 0 && i < size) {
      axis.first = static_cast<int32_t>(i);
      axis.count = 1;
      axis.firstWeight = 1;
    }
    return axis;
  }
  const int64_t lo = c - r, hi = c + r;
  axis.total = hi - lo;
  const int64_t i0 = std::max<int64_t>(FloorDiv(lo, kOne), 0);
  const int64_t i1 = std::min<int64_t>(FloorDiv(hi - 1, kOne), int64_t{size} - 1);
  if (i1 < i0) return axis;
  auto overlap = [&](int64_t i) { return std::min(hi, (i + 1) * kOne) - std::max(lo, i * kOne); };
  axis.first = static_cast<int32_t>(i0);
  axis.count = static_cast<int32_t>(i1 - i0 + 1);
  axis.firstWeight = overlap(i0);
  axis.lastWeight = overlap(i1);
  return axis;
}

// Row y's channels weighted along the axis: at most 2^32 x 65535, well
// inside 64 bits.
template <typename Pixel>
void WeighRow(const PF_EffectWorld* src, const Axis& ax, int32_t y, int64_t row[4]) {
  const Pixel* p = PixelIn<Pixel>(src, ax.first, y);
  for (int c = 0; c < 4; ++c) row[c] = ax.firstWeight * Chan(p[0], c);
  if (ax.count < 2) return;
  int64_t inner[4] = {0, 0, 0, 0};
  for (int32_t i = 1; i + 1 < ax.count; ++i) {
    for (int c = 0; c < 4; ++c) inner[c] += Chan(p[i], c);
  }
  for (int c = 0; c < 4; ++c) {
    row[c] += kOne * inner[c] + ax.lastWeight * Chan(p[ax.count - 1], c);
  }
}

// The sample in Acc, which must hold the box's area times the largest
// channel value; the integers are exact, so any width gives the same pixel.
template <typename Acc, typename Pixel>
void Sample(const PF_EffectWorld* src, const Axis& ax, const Axis& ay, Pixel* out) {
  Acc acc[4] = {0, 0, 0, 0};
  for (int32_t j = 0; j < ay.count; ++j) {
    const int64_t wy = j == 0 ? ay.firstWeight : j + 1 == ay.count ? ay.lastWeight : kOne;
    int64_t row[4];
    WeighRow<Pixel>(src, ax, ay.first + j, row);
    for (int c = 0; c < 4; ++c) acc[c] += static_cast<Acc>(row[c]) * wy;
  }
  const Acc area = static_cast<Acc>(ax.total) * ay.total;
  for (int c = 0; c < 4; ++c) {
    Chan(*out, c) = static_cast<typename Depth<Pixel>::Channel>(
        std::min<Acc>(RoundDiv<Acc>(acc[c], area), Depth<Pixel>::kStorageMax));
  }
}

template <typename Pixel>
PF_Err AreaSampleDepth(PF_Fixed x, PF_Fixed y, const PF_SampPB* params, Pixel* out) {
  if (!params || !out) return PF_Err_BAD_CALLBACK_PARAM;
  const PF_EffectWorld* src = params->src;
  if (!src || !src->data || WorldFormat(src) != kFormatOf<Pixel>) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  const Axis ax = MakeAxis(x, params->x_radius, src->width);
  const Axis ay = MakeAxis(y, params->y_radius, src->height);
  // Boxes of up to about 180 pixels a side fit 64 bits, which divide far
  // faster than 128.
  int64_t area = 0;
  if (!__builtin_mul_overflow(ax.total, ay.total, &area) &&
      area <= INT64_MAX / Depth<Pixel>::kStorageMax) {
    Sample<int64_t>(src, ax, ay, out);
  } else {
    Sample<Wide>(src, ax, ay, out);
  }
  return PF_Err_NONE;
}

}  // namespace

PF_Err Host::Impl::GaussianKernel(PF_ProgPtr ref, A_FpLong kRadius, PF_KernelFlags flags,
                                  A_FpLong multiplier, A_long* diameter, void* kernel) {
  if (!From(ref) || !diameter || !kernel) return PF_Err_BAD_CALLBACK_PARAM;
  if (!std::isfinite(kRadius) || kRadius <= -1.0 || kRadius > kMaxKernelRadius) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  const EntryKind kind = KindOf(flags);
  const double scale = static_cast<double>(UnitOf(kind));
  const bool oneD = (flags & PF_KernelFlag_1D) != 0;
  const int32_t half = static_cast<int32_t>(std::ceil(kRadius) + 0.5);
  const int32_t length = 2 * half + 1;
  const size_t count = oneD ? static_cast<size_t>(length) : static_cast<size_t>(length) * length;
  std::vector<int32_t> values(count, 0);

  if (kRadius <= 0.0) {
    values[0] = TruncateSaturated(scale * multiplier);
  } else {
    // The same expression, evaluated in the same order, as the effect's own
    // kernel, so that both give identical entries.
    const double sigma = 2 * kRadius * 0.2;
    const double falloff = 1 / (2 * sigma * sigma);
    const double peak = oneD ? scale * (1 / (sigma * std::sqrt(2 * std::numbers::pi))) * multiplier
                             : scale * (1 / (2 * std::numbers::pi * sigma * sigma)) * multiplier;
    for (size_t k = 0; k < count; ++k) {
      const int32_t i = static_cast<int32_t>(k % static_cast<size_t>(length)) - half;
      const int32_t j = oneD ? 0 : static_cast<int32_t>(k / static_cast<size_t>(length)) - half;
      const int32_t squared = i * i + j * j;
      values[k] = squared == 0 ? TruncateSaturated(peak)
                               : TruncateSaturated(peak * std::exp(-squared * falloff));
    }
  }
  if (flags & PF_KernelFlag_NORMALIZED) {
    int64_t sum = 0;
    for (int32_t v : values) sum += v;
    if (sum > 0) {
      for (int32_t& v : values) {
        v = TruncateSaturated(v / static_cast<double>(sum) * (scale * multiplier) + 0.5);
      }
    }
  }
  for (size_t k = 0; k < count; ++k) {
    if (kind == EntryKind::Char) {
      static_cast<unsigned char*>(kernel)[k] =
          static_cast<unsigned char>(std::clamp(values[k], 0, 255));
    } else {
      static_cast<int32_t*>(kernel)[k] = values[k];
    }
  }
  *diameter = length;
  return PF_Err_NONE;
}

PF_Err Host::Impl::Convolve(PF_ProgPtr ref, PF_EffectWorld* src, const PF_Rect* area,
                            PF_KernelFlags flags, A_long kernel_size, void* a_kernel,
                            void* r_kernel, void* g_kernel, void* b_kernel, PF_EffectWorld* dst) {
  Host* host = From(ref);
  void* const kernels[4] = {a_kernel, r_kernel, g_kernel, b_kernel};
  if (!host || !src || !dst || !src->data || !dst->data || kernel_size < 1) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  for (void* k : kernels) {
    if (!k) return PF_Err_BAD_CALLBACK_PARAM;
  }
  // The convolve callback has no float form.
  if (WorldFormat(src) != WorldFormat(dst) || WorldIsFloat(dst)) return PF_Err_BAD_CALLBACK_PARAM;
  const int threads = host->config.threads;
  return WorldIsDeep(dst)
             ? ConvolveDepth<PF_Pixel16>(threads, src, area, flags, kernel_size, kernels, dst)
             : ConvolveDepth<PF_Pixel>(threads, src, area, flags, kernel_size, kernels, dst);
}

PF_Err Host::Impl::AreaSample(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                              PF_Pixel* dst_pixel) {
  Host* host = From(ref);
  if (!host) return PF_Err_BAD_CALLBACK_PARAM;
  if (Fires(host, kCountAreaSample, host->faults.failAreaSampleAt)) return host->faults.failCode;
  return AreaSampleDepth(x, y, params, dst_pixel);
}

PF_Err Host::Impl::AreaSample16(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                                PF_Pixel16* dst_pixel) {
  Host* host = From(ref);
  if (!host) return PF_Err_BAD_CALLBACK_PARAM;
  if (Fires(host, kCountAreaSample, host->faults.failAreaSampleAt)) return host->faults.failCode;
  return AreaSampleDepth(x, y, params, dst_pixel);
}

}  // namespace softhost
