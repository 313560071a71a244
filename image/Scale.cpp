#include "image/Scale.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <numbers>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#endif

#include "image/AEException.h"
#include "image/EdgeMode.h"
#include "image/FixedMath.h"
#include "image/HostAllocator.h"
#include "image/IterateRows.h"
#include "image/PixelTraits.h"

namespace {

const char kScalingError[] = "Scale: Scaling error";

// A host image as the resampler sees it: rows rowBytes apart from data.
struct ScaleImage {
  int32_t width;
  int32_t height;
  char* data;
  int32_t rowBytes;

  template <typename Pixel>
  Pixel* At(int32_t x, int32_t y) const {
    return reinterpret_cast<Pixel*>(data + static_cast<intptr_t>(y) * rowBytes) + x;
  }
};

ScaleImage ViewOf(const PF_EffectWorld* world) {
  return ScaleImage{world->width, world->height, static_cast<char*>(world->data), world->rowbytes};
}

// One source sample along an axis; weight is Q15 (32768 = 1.0) and may be
// negative where the filter has negative lobes.
struct Contributor {
  int32_t pixel;
  int32_t weight;
};

struct ContributorList {
  int32_t count;
  Contributor* p;
};

// Working storage from ZeroAlloc, given back on every exit.
class ZeroBlock {
 public:
  ZeroBlock(size_t count, size_t elementSize) : memory(ZeroAlloc(count, elementSize)) {}
  ZeroBlock(const ZeroBlock&) = delete;
  ZeroBlock& operator=(const ZeroBlock&) = delete;
  ~ZeroBlock() { ::operator delete(memory); }
  template <typename T>
  T* As() const {
    return static_cast<T*>(memory);
  }

 private:
  void* memory;
};

double Sinc(double u) {
  if (u == 0.0) return 1.0;
  const double x = std::numbers::pi * u;
  return std::sin(x) / x;
}

// Integer Bresenham stretch of m source pixels onto n >= 2 destination
// pixels; strides are in bytes so that rows and columns share it.
template <typename Pixel>
void Stretch(const char* src, intptr_t srcStride, int32_t m, char* dst, intptr_t dstStride,
             int32_t n) {
  const int32_t dd = n - 1;
  const int32_t ds = std::abs(m - 1);
  int32_t e = 2 * ds - dd;
  int32_t s = 0;
  for (int32_t d = 0; d <= dd; ++d) {
    *reinterpret_cast<Pixel*>(dst + d * dstStride) =
        *reinterpret_cast<const Pixel*>(src + s * srcStride);
    while (e >= 0) {
      ++s;
      e -= 2 * dd;
    }
    e += 2 * ds;
  }
}

// Source line index for every destination line, by the same stepping.
template <typename F>
void StepLines(int32_t n, int32_t m, F&& each) {
  const int32_t dd = n - 1;
  const int32_t ds = std::abs(m - 1);
  int32_t e = 2 * ds - dd;
  int32_t s = 0;
  for (int32_t d = 0; d <= dd; ++d) {
    each(d, s);
    while (e >= 0) {
      ++s;
      e -= 2 * dd;
    }
    e += 2 * ds;
  }
}

template <typename Pixel>
void ResampleNearest(const ScaleImage& src, const ScaleImage& dst) {
  constexpr intptr_t kPixel = sizeof(Pixel);
  if (dst.width == 1 && dst.height == 1) {
    *dst.At<Pixel>(0, 0) = *src.At<Pixel>(0, 0);
  } else if (dst.height == 1) {
    Stretch<Pixel>(reinterpret_cast<const char*>(src.At<Pixel>(0, (src.height - 1) / 2)), kPixel,
                   src.width, reinterpret_cast<char*>(dst.At<Pixel>(0, 0)), kPixel, dst.width);
  } else if (dst.width == 1) {
    Stretch<Pixel>(reinterpret_cast<const char*>(src.At<Pixel>((src.width - 1) / 2, 0)),
                   src.rowBytes, src.height, reinterpret_cast<char*>(dst.At<Pixel>(0, 0)),
                   dst.rowBytes, dst.height);
  } else {
    StepLines(dst.height, src.height, [&](int32_t d, int32_t s) {
      Stretch<Pixel>(reinterpret_cast<const char*>(src.At<Pixel>(0, s)), kPixel, src.width,
                     reinterpret_cast<char*>(dst.At<Pixel>(0, d)), kPixel, dst.width);
    });
  }
}

// Contributor lists for dstSize destination lines from srcSize source
// lines, each list a fixed slice of maxContributors in the pool.
void BuildContributors(ContributorList* lists, Contributor* pool, int32_t maxContributors,
                       int32_t dstSize, int32_t srcSize, double scale, int32_t filter,
                       int32_t edgeMode) {
  const double support = ScaleFilterSupport(filter);
  for (int32_t i = 0; i < dstSize; ++i) {
    ContributorList& list = lists[i];
    list.count = 0;
    list.p = pool + static_cast<intptr_t>(i) * maxContributors;
    auto add = [&](int32_t j, double weight) {
      const int32_t mapped = MapEdgeIndex(edgeMode, srcSize, j);
      if (mapped < 0 || mapped >= srcSize) return;
      if (list.count >= maxContributors) throw AEException(1, kScalingError);
      list.p[list.count++] = Contributor{mapped, TruncToInt32(weight * 32768)};
    };
    if (scale >= 1.0) {
      const double center = i / scale;
      const int32_t left = TruncToInt32(std::ceil(center - support));
      const int32_t right = TruncToInt32(std::floor(center + support));
      for (int32_t j = left; j <= right; ++j) add(j, ScaleFilterValue(filter, center - j));
    } else {
      const double fscale = 1.0 / scale;
      const double width = fscale * support;
      const double s = 1.0 / fscale;
      const double center = i * fscale;
      const int32_t left = TruncToInt32(std::ceil(center - width));
      const int32_t right = TruncToInt32(std::floor(center + width));
      for (int32_t j = left; j <= right; ++j) {
        add(j, ScaleFilterValue(filter, (center - j) * s) * s);
      }
    }
  }
}

// One output pixel from one list over a line of pixels, `step` bytes apart
// (a row, or a column of the intermediate image whose first row holds list
// index indexBase). Sums are 32-bit on the target (wrapping), so unsigned
// 32-bit arithmetic gives their bits exactly, and lets the four channels
// share one vector. A fully opaque footprint stays exactly opaque even where
// the weights do not add up to one.
template <typename Pixel>
Pixel ApplyContributors(const ContributorList& list, const char* line, intptr_t step,
                        const Pixel* background, int32_t indexBase = 0) {
  constexpr int32_t kMax = PixelTraits<Pixel>::kMax;
  // Channels side by side in one vector (alpha, red, green, blue).
  typedef uint32_t Lanes __attribute__((vector_size(16)));
  Lanes sums = {0, 0, 0, 0};
  uint32_t total = 0;
  bool opaque = true;
  for (int32_t k = 0; k < list.count; ++k) {
    const Contributor& c = list.p[k];
    const Pixel& p = *reinterpret_cast<const Pixel*>(line + (c.pixel - indexBase) * step);
    const auto w = static_cast<uint32_t>(c.weight);
    const Lanes channels = {p.alpha, p.red, p.green, p.blue};
    sums += w * channels;
    total += w;
    if (p.alpha != kMax) opaque = false;
  }
  uint32_t a = sums[0], r = sums[1], g = sums[2], b = sums[3];
  if (background != nullptr) {
    const auto sum = static_cast<int32_t>(total);
    if (sum < 32768) {
      const uint32_t rest = 32768u - total;
      a += background->alpha * rest;
      r += background->red * rest;
      g += background->green * rest;
      b += background->blue * rest;
    }
  }
  using Channel = typename PixelTraits<Pixel>::Channel;
  auto finish = [](uint32_t v) {
    return static_cast<Channel>(
        std::clamp<int32_t>(static_cast<int32_t>(v) >> 15, 0, PixelTraits<Pixel>::kMax));
  };
  Pixel out;
  out.alpha = opaque ? static_cast<Channel>(kMax) : finish(a);
  out.red = finish(r);
  out.green = finish(g);
  out.blue = finish(b);
  return out;
}

// What a span of one list adds to each channel's sums for the background
// (alpha, red, green, blue): its weight of the part the list's weights leave
// short of 32768. False where a weight needs more than the 16 bits of sign
// and magnitude the vector multiplies take.
template <typename Pixel>
bool BackgroundFill(const ContributorList& list, const Pixel* background, int32_t fill[4]) {
  uint32_t total = 0;
  for (int32_t k = 0; k < list.count; ++k) {
    if (list.p[k].weight < -0xFFFF || list.p[k].weight > 0xFFFF) return false;
    total += static_cast<uint32_t>(list.p[k].weight);
  }
  std::fill_n(fill, 4, 0);
  if (background != nullptr && static_cast<int32_t>(total) < 32768) {
    const uint32_t rest = 32768u - total;
    fill[0] = static_cast<int32_t>(background->alpha * rest);
    fill[1] = static_cast<int32_t>(background->red * rest);
    fill[2] = static_cast<int32_t>(background->green * rest);
    fill[3] = static_cast<int32_t>(background->blue * rest);
  }
  return true;
}

// Output pixels 0 .. pixels - 1 of one list laid side by side: pixel i reads
// contributor k's pixel at origin + (k's index - indexBase) * step + i pixels
// (a run of lists shifted by a pixel each along a row, or one list down the
// columns of a row). The terms are the ones ApplyContributors adds, in
// wrapping unsigned 32-bit arithmetic, so the order they arrive in does not
// change a bit of the sums; each pair of pixels keeps its sums in registers
// across the whole list. Answers how many pixels it made (the rest are left
// to ApplyContributors), none where a weight needs more than 16 bits of sign
// and magnitude or the target has no SSE2.
template <typename Pixel>
int32_t SpanOfList(const ContributorList& list, const char* origin, intptr_t step,
                   int32_t indexBase, int32_t pixels, const Pixel* background, Pixel* out) {
#if defined(__SSE2__)
  using Channel = typename PixelTraits<Pixel>::Channel;
  constexpr int32_t kMax = PixelTraits<Pixel>::kMax;
  int32_t f[4];
  if (!BackgroundFill(list, background, f)) return 0;
  const __m128i fill = _mm_setr_epi32(f[0], f[1], f[2], f[3]);
  const __m128i max16 = _mm_set1_epi16(static_cast<short>(kMax));
  const __m128i max32 = _mm_set1_epi32(kMax);
  // Alpha is lane 0 of each pixel's four.
  const __m128i alphaLanes = _mm_set_epi16(0, 0, 0, -1, 0, 0, 0, -1);
  auto clamp = [&](__m128i v) {
    v = _mm_srai_epi32(_mm_add_epi32(v, fill), 15);
    v = _mm_andnot_si128(_mm_srai_epi32(v, 31), v);
    const __m128i over = _mm_cmpgt_epi32(v, max32);
    return _mm_or_si128(_mm_and_si128(over, max32), _mm_andnot_si128(over, v));
  };
  // Sums of eight channels (two pixels) and whether every contributor's
  // channel was full scale.
  struct Sums {
    __m128i lo = _mm_setzero_si128();
    __m128i hi = _mm_setzero_si128();
    __m128i full = _mm_set1_epi32(-1);

    void Add(const char* at, __m128i w16, bool negative, bool zeroWeight) {
      const __m128i zero = _mm_setzero_si128();
      __m128i c;
      if constexpr (sizeof(Channel) == 1) {
        c = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at)), zero);
      } else {
        c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
      }
      full = _mm_and_si128(full, _mm_cmpeq_epi16(c, _mm_set1_epi16(static_cast<short>(kMax))));
      // A filter's zero crossings land on whole pixels when the scale keeps
      // the size (the cubics' outer taps): such a tap adds only its alpha.
      if (zeroWeight) return;
      const __m128i low = _mm_mullo_epi16(c, w16);
      const __m128i high = _mm_mulhi_epu16(c, w16);
      __m128i p0 = _mm_unpacklo_epi16(low, high);
      __m128i p1 = _mm_unpackhi_epi16(low, high);
      // A negative weight is its 16-bit pattern less 2^16: each product is
      // corrected by c << 16, and the sums wrap as the 32-bit ones do.
      if (negative) {
        p0 = _mm_sub_epi32(p0, _mm_unpacklo_epi16(zero, c));
        p1 = _mm_sub_epi32(p1, _mm_unpackhi_epi16(zero, c));
      }
      lo = _mm_add_epi32(lo, p0);
      hi = _mm_add_epi32(hi, p1);
    }
  };
  auto store = [&](const Sums& sums, Pixel* to) {
    // Values lie in 0 .. 32768 at most: offset by 32768 they pack signed.
    const __m128i offset = _mm_set1_epi32(32768);
    __m128i packed = _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(clamp(sums.lo), offset),
                                                   _mm_sub_epi32(clamp(sums.hi), offset)),
                                   _mm_set1_epi16(static_cast<short>(0x8000)));
    // A fully opaque footprint stays exactly opaque.
    const __m128i opaque = _mm_and_si128(sums.full, alphaLanes);
    packed = _mm_or_si128(_mm_andnot_si128(opaque, packed), _mm_and_si128(opaque, max16));
    if constexpr (sizeof(Channel) == 1) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm_packus_epi16(packed, packed));
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to), packed);
    }
  };
  constexpr intptr_t kPair = 2 * sizeof(Pixel);
  // Four pixels per walk of the list, so that each contributor's address and
  // weight serve two vectors.
  auto walk = [&](int32_t i, auto pairs) {
    Sums sums[pairs.value];
    for (int32_t k = 0; k < list.count; ++k) {
      const int32_t weight = list.p[k].weight;
      const bool negative = weight < 0;
      const __m128i w16 = _mm_set1_epi16(static_cast<short>(negative ? weight + 0x10000 : weight));
      const char* at = origin + (list.p[k].pixel - indexBase) * step +
                       static_cast<intptr_t>(i) * static_cast<intptr_t>(sizeof(Pixel));
      for (int32_t n = 0; n < pairs.value; ++n)
        sums[n].Add(at + n * kPair, w16, negative, weight == 0);
    }
    for (int32_t n = 0; n < pairs.value; ++n) store(sums[n], out + i + 2 * n);
  };
  int32_t i = 0;
  for (; i + 4 <= pixels; i += 4) walk(i, std::integral_constant<int32_t, 2>{});
  for (; i + 2 <= pixels; i += 2) walk(i, std::integral_constant<int32_t, 1>{});
  return i;
#else
  (void)list, (void)origin, (void)step, (void)indexBase, (void)pixels, (void)background, (void)out;
  return 0;
#endif
}

#if defined(__i386__) || defined(__x86_64__)
#define QB_SCALE_AVX2 1
// Everything defined in this region, lambdas included, is compiled for AVX2
// alone; it runs only where the caller has asked the processor.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace spans_avx2 {

// Four pixels a vector; the opaque lanes as a vector mask.
struct W {
  using V = __m256i;
  using Full = __m256i;
  static constexpr int32_t kPixels = 4;
  static V Zero() { return _mm256_setzero_si256(); }
  static V Splat16(int32_t x) { return _mm256_set1_epi16(static_cast<short>(x)); }
  static V Splat32(int32_t x) { return _mm256_set1_epi32(x); }
  static V Fill(const int32_t* f) {
    return _mm256_setr_epi32(f[0], f[1], f[2], f[3], f[0], f[1], f[2], f[3]);
  }
  template <typename Pixel>
  static V LoadPixels(const char* at) {
    if constexpr (sizeof(typename PixelTraits<Pixel>::Channel) == 1) {
      return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
    } else {
      return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    }
  }
  static Full AllFull() { return _mm256_set1_epi32(-1); }
  static Full KeepFull(Full full, V c, V max16) {
    return _mm256_and_si256(full, _mm256_cmpeq_epi16(c, max16));
  }
  static V MulLo(V a, V b) { return _mm256_mullo_epi16(a, b); }
  static V MulHi(V a, V b) { return _mm256_mulhi_epu16(a, b); }
  static V UnpackLo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
  static V Add32(V a, V b) { return _mm256_add_epi32(a, b); }
  static V Sub32(V a, V b) { return _mm256_sub_epi32(a, b); }
  static V Clamp(V v, V fill, V max32) {
    v = _mm256_srai_epi32(_mm256_add_epi32(v, fill), 15);
    return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), max32);
  }
  static V PackUnsigned(V lo, V hi) { return _mm256_packus_epi32(lo, hi); }
  static V OpaqueAlpha(V packed, Full full, V max16) {
    // Alpha is lane 0 of each pixel's four.
    const V alphaLanes = _mm256_setr_epi16(-1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0);
    return _mm256_blendv_epi8(packed, max16, _mm256_and_si256(full, alphaLanes));
  }
  template <typename Pixel>
  static void StorePixels(Pixel* to, V packed) {
    if constexpr (sizeof(typename PixelTraits<Pixel>::Channel) == 1) {
      const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(packed, packed), 0x08);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm256_castsi256_si128(bytes));
    } else {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), packed);
    }
  }
};

#include "image/SpanOfListWide.inl"

}  // namespace spans_avx2

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

// As the AVX2 region, for AVX-512 (F and BW).
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx2")
#endif

namespace spans_avx512 {

// Eight pixels a vector; the opaque lanes as a lane mask. The masked forms
// with every lane set stand for the plain ones, whose undefined
// pass-through GCC 12 takes for a read of an uninitialised value.
struct W {
  using V = __m512i;
  using Full = __mmask32;
  static constexpr int32_t kPixels = 8;
  static constexpr __mmask16 kEvery32BitLane = 0xFFFF;
  static V Zero() { return _mm512_setzero_si512(); }
  static V Splat16(int32_t x) { return _mm512_set1_epi16(static_cast<short>(x)); }
  static V Splat32(int32_t x) { return _mm512_set1_epi32(x); }
  static V Fill(const int32_t* f) { return _mm512_set4_epi32(f[3], f[2], f[1], f[0]); }
  template <typename Pixel>
  static V LoadPixels(const char* at) {
    if constexpr (sizeof(typename PixelTraits<Pixel>::Channel) == 1) {
      return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)));
    } else {
      return _mm512_loadu_si512(at);
    }
  }
  static Full AllFull() { return ~Full{0}; }
  static Full KeepFull(Full full, V c, V max16) { return full & _mm512_cmpeq_epi16_mask(c, max16); }
  static V MulLo(V a, V b) { return _mm512_mullo_epi16(a, b); }
  static V MulHi(V a, V b) { return _mm512_mulhi_epu16(a, b); }
  static V UnpackLo16(V a, V b) { return _mm512_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm512_unpackhi_epi16(a, b); }
  static V Add32(V a, V b) { return _mm512_add_epi32(a, b); }
  static V Sub32(V a, V b) { return _mm512_sub_epi32(a, b); }
  static V Clamp(V v, V fill, V max32) {
    v = _mm512_maskz_srai_epi32(kEvery32BitLane, _mm512_add_epi32(v, fill), 15);
    return _mm512_maskz_min_epi32(kEvery32BitLane,
                                  _mm512_maskz_max_epi32(kEvery32BitLane, v, Zero()), max32);
  }
  static V PackUnsigned(V lo, V hi) { return _mm512_packus_epi32(lo, hi); }
  static V OpaqueAlpha(V packed, Full full, V max16) {
    // Alpha is lane 0 of each pixel's four.
    constexpr Full kAlphaLanes = 0x11111111u;
    return _mm512_mask_blend_epi16(full & kAlphaLanes, packed, max16);
  }
  template <typename Pixel>
  static void StorePixels(Pixel* to, V packed) {
    if constexpr (sizeof(typename PixelTraits<Pixel>::Channel) == 1) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to),
                          _mm512_maskz_cvtepi16_epi8(~Full{0}, packed));
    } else {
      _mm512_storeu_si512(to, packed);
    }
  }
};

#include "image/SpanOfListWide.inl"

}  // namespace spans_avx512

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#else
#define QB_SCALE_AVX2 0
#endif

// The widest vectors a span may use.
enum class SpanVectors { Sse2, Avx2, Avx512 };

// SpanOfList with the widest vectors the caller allows, the span's last few
// pixels with narrower ones.
template <typename Pixel>
int32_t WidestSpanOfList(SpanVectors widest, const ContributorList& list, const char* origin,
                         intptr_t step, int32_t indexBase, int32_t pixels, const Pixel* background,
                         Pixel* out) {
  int32_t made = 0;
#if QB_SCALE_AVX2
  if (widest == SpanVectors::Avx512) {
    made =
        spans_avx512::SpanOfListWide<Pixel>(list, origin, step, indexBase, pixels, background, out);
  }
  if (widest != SpanVectors::Sse2) {
    made += spans_avx2::SpanOfListWide<Pixel>(
        list, origin + made * static_cast<intptr_t>(sizeof(Pixel)), step, indexBase, pixels - made,
        background, out + made);
  }
#else
  (void)widest;
#endif
  return made + SpanOfList<Pixel>(list, origin + made * static_cast<intptr_t>(sizeof(Pixel)), step,
                                  indexBase, pixels - made, background, out + made);
}

// Output columns first .. end - 1 of the pass along rows whose lists are one
// list shifted by a pixel each (the interior of a scale that keeps the size):
// a stretch of them takes every contributor's term from one contiguous run
// of source pixels.
struct ShiftedRun {
  int32_t first;
  int32_t end;
  bool shifted;
};

bool ConsecutivePixels(const ContributorList& list) {
  for (int32_t k = 1; k < list.count; ++k) {
    if (list.p[k].pixel != list.p[0].pixel + k) return false;
  }
  return true;
}

bool ShiftedByOne(const ContributorList& list, const ContributorList& previous) {
  if (list.count != previous.count) return false;
  for (int32_t k = 0; k < list.count; ++k) {
    if (list.p[k].pixel != previous.p[k].pixel + 1 || list.p[k].weight != previous.p[k].weight) {
      return false;
    }
  }
  return true;
}

// Splits the lists into runs; only runs of kMinShifted or more are worth a
// span, the rest go pixel by pixel.
std::vector<ShiftedRun> ShiftedRuns(const ContributorList* lists, int32_t count) {
  constexpr int32_t kMinShifted = 8;
  std::vector<ShiftedRun> runs;
  int32_t i = 0;
  while (i < count) {
    int32_t end = i + 1;
    if (lists[i].count > 0 && ConsecutivePixels(lists[i])) {
      while (end < count && ShiftedByOne(lists[end], lists[end - 1])) ++end;
    }
    const bool shifted = end - i >= kMinShifted;
    if (!runs.empty() && !shifted && !runs.back().shifted) {
      runs.back().end = end;
    } else {
      runs.push_back(ShiftedRun{i, end, shifted});
    }
    i = end;
  }
  return runs;
}

// One pass of the filtered scale. Along rows, row k of the output is row k of
// `from` through lists[i] for each column i; across rows (down), output
// pixel (i, j) is column i of `from` through lists[j]. Pixel (i, j) is the
// same sum whether the pass runs column by column or row by row, in any
// order, so the host's threads may share the rows out.
template <typename Pixel>
struct ScalePass {
  using Channel = typename PixelTraits<Pixel>::Channel;
  const ContributorList* lists;
  ScaleImage from;
  ScaleImage to;
  bool down;
  const Pixel* background;
  std::vector<ShiftedRun> runs = {};       // of the pass along rows, for SpansAlong
  int32_t fromFirst = 0;                   // down: the row of `from` that list pixels count from
  SpanVectors widest = SpanVectors::Sse2;  // the spans' widest vectors

  Pixel At(int32_t i, int32_t j) const {
    if (down) {
      return ApplyContributors<Pixel>(lists[j], reinterpret_cast<const char*>(from.At<Pixel>(i, 0)),
                                      from.rowBytes, background, fromFirst);
    }
    return ApplyContributors<Pixel>(lists[i], reinterpret_cast<const char*>(from.At<Pixel>(0, j)),
                                    sizeof(Pixel), background);
  }

  void Row(int32_t j) const {
    Pixel* out = to.At<Pixel>(0, j);
    for (int32_t i = 0; i < to.width; ++i) out[i] = At(i, j);
  }

  void Column(int32_t i) const {
    for (int32_t j = 0; j < to.height; ++j) *to.At<Pixel>(i, j) = At(i, j);
  }

  // Row j of the pass down as Row makes it, a span of pixels at a time:
  // every pixel of the row shares list j.
  void SpansDown(int32_t j) const {
    Pixel* out = to.At<Pixel>(0, j);
    const int32_t made = WidestSpanOfList<Pixel>(widest, lists[j], from.data, from.rowBytes,
                                                 fromFirst, to.width, background, out);
    for (int32_t i = made; i < to.width; ++i) out[i] = At(i, j);
  }

  // Columns [c0, c1) of row j of the pass along rows, into pixels 0 ..
  // c1 - c0 - 1 of row j of `to`; a shifted run's part from column i on is
  // one span of list i.
  void SpansAlong(int32_t j, int32_t c0, int32_t c1) const {
    Pixel* out = to.At<Pixel>(0, j);
    const Pixel* in = from.At<Pixel>(0, j);
    for (const ShiftedRun& run : runs) {
      const int32_t first = std::max(run.first, c0);
      const int32_t end = std::min(run.end, c1);
      int32_t i = first;
      if (run.shifted && first < end) {
        i += WidestSpanOfList<Pixel>(widest, lists[first], reinterpret_cast<const char*>(in),
                                     sizeof(Pixel), 0, end - first, background, out + (first - c0));
      }
      for (; i < end; ++i) out[i - c0] = At(i, j);
    }
  }
};

// Both passes on the host's threads in one go: a call takes a band of
// destination rows and makes, into a buffer of its own, just the rows of the
// pass along rows that the band's lists read, a strip of columns at a time.
// Each pixel is the sum the two passes make one after the other; only the
// rows at a band's edges are made twice. Buffers go back to a pool for the
// next call, so that the frame's worth of intermediate rows is never
// allocated and first touched at once.
template <typename Pixel>
struct FusedScale {
  // Bands of about this many rows keep the rows made twice (the filter's
  // support, a few rows) a small part of a band.
  static constexpr int32_t kBandRows = 32;
  // Strips this wide keep a band's buffer within the caches and on few
  // fresh pages at the same size (about 150 kB at 16 bits), while a span
  // still covers many pixels.
  static constexpr int32_t kStripColumns = 512;

  FusedScale(ScalePass<Pixel> rowsPass, ScalePass<Pixel> downPass)
      : across(std::move(rowsPass)), down(std::move(downPass)), calls(CallsFor(down.to.height)) {
    pool.reserve(static_cast<size_t>(calls));
    // Every buffer is made for the widest band, so that a buffer from the
    // pool never grows: a grown one is fresh memory, faulted in page by page.
    for (int32_t y = 0; y < calls; ++y) {
      const RowShare share = ShareOfRow(y, calls, down.to.height);
      int32_t lo = 0;
      int32_t hi = 0;
      if (RowsRead(share.first, share.end, lo, hi)) widest = std::max(widest, hi - lo + 1);
    }
  }

  ScalePass<Pixel> across;  // from src; `to` is set per band
  ScalePass<Pixel> down;    // into dst; `from` is set per band
  int32_t calls;
  int32_t widest = 0;  // rows of the pass along rows that a band reads, at most
  std::mutex poolLock;
  std::vector<std::vector<Pixel>> pool;
  std::exception_ptr failure;  // under poolLock; the first band's that failed

  static int32_t CallsFor(int32_t rows) {
    return std::clamp((rows + kBandRows - 1) / kBandRows, 1, std::min(rows, kMaxIterateRows));
  }

  // The rows [lo, hi] of the pass along rows that destination rows
  // [first, end) read; false where they read none.
  bool RowsRead(int32_t first, int32_t end, int32_t& lo, int32_t& hi) const {
    lo = INT32_MAX;
    hi = -1;
    for (int32_t j = first; j < end; ++j) {
      const ContributorList& list = down.lists[j];
      for (int32_t k = 0; k < list.count; ++k) {
        lo = std::min(lo, list.p[k].pixel);
        hi = std::max(hi, list.p[k].pixel);
      }
    }
    return hi >= lo;
  }

  void Band(int32_t first, int32_t end, std::vector<Pixel>& rows) const {
    int32_t lo = 0;
    int32_t hi = 0;
    ScalePass<Pixel> band = down;
    if (RowsRead(first, end, lo, hi)) {
      const int32_t count = hi - lo + 1;
      const int32_t width = across.to.width;
      const int32_t strip = std::min(width, kStripColumns);
      const size_t room = static_cast<size_t>(widest) * static_cast<size_t>(strip);
      if (rows.size() < room) rows.resize(room);
      ScalePass<Pixel> make = across;
      make.from.data += static_cast<intptr_t>(lo) * make.from.rowBytes;
      make.from.height = count;
      band.fromFirst = lo;
      for (int32_t c0 = 0; c0 < width; c0 += strip) {
        const int32_t c1 = std::min(width, c0 + strip);
        const ScaleImage window{c1 - c0, count, reinterpret_cast<char*>(rows.data()),
                                (c1 - c0) * static_cast<int32_t>(sizeof(Pixel))};
        make.to = window;
        for (int32_t k = 0; k < count; ++k) make.SpansAlong(k, c0, c1);
        band.from = window;
        band.to =
            ScaleImage{c1 - c0, down.to.height,
                       down.to.data + static_cast<intptr_t>(c0) * sizeof(Pixel), down.to.rowBytes};
        for (int32_t j = first; j < end; ++j) band.SpansDown(j);
      }
      return;
    }
    for (int32_t j = first; j < end; ++j) band.SpansDown(j);
  }

  static PF_Err Function(void* refcon, A_long, A_long y, Pixel*, Pixel*) {
    auto& self = *static_cast<FusedScale*>(refcon);
    const RowShare share = ShareOfRow(y, self.calls, self.down.to.height);
    if (share.first >= share.end) return PF_Err_NONE;
    try {
      std::vector<Pixel> rows;
      {
        const std::lock_guard<std::mutex> hold(self.poolLock);
        if (!self.pool.empty()) {
          rows = std::move(self.pool.back());
          self.pool.pop_back();
        }
      }
      self.Band(share.first, share.end, rows);
      // The pool holds room for every call's buffer: this cannot allocate.
      const std::lock_guard<std::mutex> hold(self.poolLock);
      self.pool.push_back(std::move(rows));
    } catch (...) {
      // Only allocation can fail here, through the host's memory; nothing may
      // cross the host, so the failure is raised after the iterate, as it
      // would have been where the whole intermediate was made.
      const std::lock_guard<std::mutex> hold(self.poolLock);
      if (!self.failure) self.failure = std::current_exception();
      return PF_Err_OUT_OF_MEMORY;
    }
    return PF_Err_NONE;
  }
};

template <typename Pixel>
void ScaleFiltered(PF_InData* inData, PF_EffectWorld* destination, const ScaleImage& src,
                   const ScaleImage& dst, int32_t filter, int32_t edgeMode, const Pixel* background,
                   ScaleRows order) {
  const double xScale = static_cast<double>(dst.width) / src.width;
  const double yScale = static_cast<double>(dst.height) / src.height;
  const double support = ScaleFilterSupport(filter);
  const double wx = xScale >= 1.0 ? support : support / xScale;
  const double wy = yScale >= 1.0 ? support : support / yScale;
  const int32_t maxContributors = std::max(TruncToInt32(2 * wx + 1.5), TruncToInt32(2 * wy + 1.5));
  const int32_t maxDst = std::max(dst.width, dst.height);

  ZeroBlock listBlock(static_cast<size_t>(maxDst), sizeof(ContributorList));
  ContributorList* lists = listBlock.As<ContributorList>();
  ZeroBlock poolBlock(static_cast<size_t>(maxContributors) * maxDst + 1, sizeof(Contributor));
  Contributor* pool = poolBlock.As<Contributor>();
  const ScaleImage rowsWide{dst.width, src.height, nullptr,
                            dst.width * static_cast<int32_t>(sizeof(Pixel))};

  if (order != ScaleRows::InOrder && dst.height <= kMaxIterateRows) {
    // The lists of both passes live at once: the rows' in lists, the
    // columns' in a second block.
    ZeroBlock downListBlock(static_cast<size_t>(dst.height), sizeof(ContributorList));
    ContributorList* downLists = downListBlock.As<ContributorList>();
    ZeroBlock downPoolBlock(static_cast<size_t>(maxContributors) * dst.height + 1,
                            sizeof(Contributor));
    BuildContributors(lists, pool, maxContributors, dst.width, src.width, xScale, filter, edgeMode);
    BuildContributors(downLists, downPoolBlock.As<Contributor>(), maxContributors, dst.height,
                      src.height, yScale, filter, edgeMode);
    FusedScale<Pixel> fused(
        ScalePass<Pixel>{lists, src, rowsWide, false, background, ShiftedRuns(lists, dst.width)},
        ScalePass<Pixel>{downLists, rowsWide, dst, true, background});
    fused.across.widest = fused.down.widest =
        order == ScaleRows::OnHostThreadsAvx512 ? SpanVectors::Avx512
        : order == ScaleRows::OnHostThreadsAvx2 ? SpanVectors::Avx2
                                                : SpanVectors::Sse2;
    const PF_Err err = IterateRows<Pixel>(inData, 0, fused.calls, nullptr, fused.calls, &fused,
                                          FusedScale<Pixel>::Function, destination);
    if (fused.failure) std::rethrow_exception(fused.failure);
    if (err != PF_Err_NONE) throw AEException(err, kScalingError);
    return;
  }

  ZeroBlock intermediateBlock(static_cast<size_t>(dst.width) * src.height, sizeof(Pixel));
  const ScaleImage intermediate{rowsWide.width, rowsWide.height, intermediateBlock.As<char>(),
                                rowsWide.rowBytes};
  ScalePass<Pixel> across{lists, src, intermediate, false, background};
  const ScalePass<Pixel> down{lists, intermediate, dst, true, background};

  PF_InteractCallbacks& host = inData->inter;
  auto checkAbort = [&] {
    const PF_Err err = host.abort(inData->effect_ref);
    if (err != PF_Err_NONE) throw AEException(err, kScalingError);
  };
  int32_t count = 0;
  auto ping = [&] {
    checkAbort();
    const PF_Err err = host.progress(inData->effect_ref, count++, src.height + dst.width);
    if (err != PF_Err_NONE) throw AEException(err, kScalingError);
  };
  BuildContributors(lists, pool, maxContributors, dst.width, src.width, xScale, filter, edgeMode);
  checkAbort();
  for (int32_t k = 0; k < src.height; ++k) {
    across.Row(k);
    ping();
  }
  BuildContributors(lists, pool, maxContributors, dst.height, src.height, yScale, filter, edgeMode);
  checkAbort();
  for (int32_t i = 0; i < dst.width; ++i) {
    down.Column(i);
    ping();
  }
}

template <typename Pixel>
void ScaleT(PF_InData* inData, PF_EffectWorld* source, PF_EffectWorld* destination, int32_t filter,
            int32_t edgeMode, const Pixel* background, ScaleRows order) {
  if (source->data == nullptr || destination->data == nullptr) {
    throw AEException(1, kScalingError);
  }
  const ScaleImage src = ViewOf(source);
  const ScaleImage dst = ViewOf(destination);
  if (filter == ScaleNearest) {
    ResampleNearest<Pixel>(src, dst);
  } else {
    ScaleFiltered<Pixel>(inData, destination, src, dst, filter, edgeMode, background, order);
  }
}

}  // namespace

double ScaleFilterValue(int32_t filter, double t) {
  const double a = std::fabs(t);
  switch (filter) {
    case ScaleTriangle:
      return a < 1.0 ? 1.0 - a : 0.0;
    case ScaleBell:
      if (a < 0.5) return 0.75 - a * a;
      if (a < 1.5) {
        const double u = a - 1.5;
        return 0.5 * (u * u);
      }
      return 0.0;
    case ScaleLanczos3:
      return a < 3.0 ? Sinc(a) * Sinc(a / 3.0) : 0.0;
    case ScaleMitchell: {
      const double a2 = a * a;
      const double a3 = a2 * a;
      if (a < 1.0) return (7.0 * a3 - 12.0 * a2 + 16.0 / 3.0) / 6.0;
      if (a < 2.0) return (-7.0 / 3.0 * a3 + 12.0 * a2 - 20.0 * a + 32.0 / 3.0) / 6.0;
      return 0.0;
    }
    default:
      return 0.0;
  }
}

double ScaleFilterSupport(int32_t filter) {
  switch (filter) {
    case ScaleTriangle:
      return 1.0;
    case ScaleBell:
      return 1.5;
    case ScaleLanczos3:
      return 3.0;
    case ScaleMitchell:
      return 2.0;
    default:
      return 0.0;
  }
}

void Scale(PF_InData* inData, PF_EffectWorld* source, PF_EffectWorld* destination, int32_t filter,
           int32_t edgeMode, const PF_Pixel* background, ScaleRows order) {
  ScaleT(inData, source, destination, filter, edgeMode, background, order);
}

void Scale(PF_InData* inData, PF_EffectWorld* source, PF_EffectWorld* destination, int32_t filter,
           int32_t edgeMode, const PF_Pixel16* background, ScaleRows order) {
  ScaleT(inData, source, destination, filter, edgeMode, background, order);
}
