// fill and the three iterate callbacks, and the row-band threading they
// share with convolve.
//
// iterate splits the area into bands of kBandRows rows. Workers take bands
// in increasing order; the calling thread polls abort and reports progress
// once per finished band, so the number of polls does not depend on the
// thread count. When pixel functions fail, the error of the first failing
// pixel in row-major order is returned, also independent of the threads.
// A null source hands the pixel functions a null `in`.
#include <algorithm>
#include <atomic>
#include <climits>
#include <thread>

#include "softhost/HostInternal.h"

namespace softhost {
namespace {

constexpr int32_t kBandRows = 8;

}  // namespace

Span ClipToWorld(const PF_Rect* area, const PF_EffectWorld* world) {
  Span span{0, 0, world->width, world->height};
  if (area) {
    span.left = std::max<int32_t>(span.left, area->left);
    span.top = std::max<int32_t>(span.top, area->top);
    span.right = std::min<int32_t>(span.right, area->right);
    span.bottom = std::min<int32_t>(span.bottom, area->bottom);
  }
  return span;
}

void ParallelRows(int threads, int32_t rows, int32_t band,
                  const std::function<void(int32_t first, int32_t last)>& body) {
  if (rows <= 0) return;
  band = std::max<int32_t>(band, 1);
  const int32_t bands = (rows + band - 1) / band;
  const int workers = std::clamp(threads, 1, static_cast<int>(bands));
  std::atomic<int32_t> next{0};
  auto work = [&] {
    for (int32_t b = next++; b < bands; b = next++) {
      body(b * band, std::min(rows, (b + 1) * band));
    }
  };
  if (workers == 1) {
    work();
    return;
  }
  std::vector<std::thread> pool;
  pool.reserve(static_cast<size_t>(workers));
  for (int i = 0; i < workers; ++i) pool.emplace_back(work);
  for (std::thread& t : pool) t.join();
}

PF_Err Host::Impl::Fill(PF_ProgPtr ref, const PF_Pixel* color, const PF_Rect* rect,
                        PF_EffectWorld* world) {
  Host* host = From(ref);
  // The fill callback has no float form.
  if (!host || !world || !world->data || WorldIsFloat(world)) return PF_Err_BAD_CALLBACK_PARAM;
  if (Fires(host, kCountFill, host->faults.failFillAt)) return host->faults.failCode;
  const PF_Pixel c = color ? *color : PF_Pixel{0, 0, 0, 0};
  const Span span = ClipToWorld(rect, world);
  if (span.Empty()) return PF_Err_NONE;
  auto widen = [](A_u_char v) { return static_cast<A_u_short>((v * 32768 + 128) / 255); };
  const PF_Pixel16 c16{widen(c.alpha), widen(c.red), widen(c.green), widen(c.blue)};
  const bool deep = WorldIsDeep(world);
  for (int32_t y = span.top; y < span.bottom; ++y) {
    if (deep) {
      PF_Pixel16* row = PixelIn<PF_Pixel16>(world, span.left, y);
      std::fill(row, row + (span.right - span.left), c16);
    } else {
      PF_Pixel* row = PixelIn<PF_Pixel>(world, span.left, y);
      std::fill(row, row + (span.right - span.left), c);
    }
  }
  return PF_Err_NONE;
}

template <typename Pixel, typename Fn>
PF_Err Host::Impl::IterateAny(PF_InData* in_data, A_long progress_base, A_long progress_final,
                              PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin,
                              void* refcon, Fn pix_fn, PF_EffectWorld* dst) {
  if (!in_data || !pix_fn || !dst || !dst->data) return PF_Err_BAD_CALLBACK_PARAM;
  Host* host = From(in_data->effect_ref);
  if (!host) return PF_Err_BAD_CALLBACK_PARAM;
  if (Fires(host, kCountIterate, host->faults.failIterateAt)) return host->faults.failCode;
  constexpr PixelFormat format = kFormatOf<Pixel>;
  if (WorldFormat(dst) != format) return PF_Err_BAD_CALLBACK_PARAM;
  if (src && (!src->data || WorldFormat(src) != format)) return PF_Err_BAD_CALLBACK_PARAM;

  // Source pixel for destination (x, y) is (x + dx, y + dy); the area is
  // clipped so that it stays inside the source.
  const int32_t dx = origin ? origin->h : 0;
  const int32_t dy = origin ? origin->v : 0;
  Span span = ClipToWorld(area, dst);
  if (src) {
    span.left = std::max(span.left, -dx);
    span.top = std::max(span.top, -dy);
    span.right = std::min(span.right, src->width - dx);
    span.bottom = std::min(span.bottom, src->height - dy);
  }
  if (span.Empty()) return PF_Err_NONE;

  const int32_t rows = span.bottom - span.top;
  const int32_t bands = (rows + kBandRows - 1) / kBandRows;
  constexpr int32_t kNoError = INT32_MAX;
  std::atomic<int32_t> firstFailedBand{kNoError};
  std::vector<PF_Err> bandErrors(static_cast<size_t>(bands), PF_Err_NONE);
  std::atomic<bool> stop{false};

  auto runBand = [&](int32_t band) {
    const int32_t first = span.top + band * kBandRows;
    const int32_t last = std::min(span.bottom, first + kBandRows);
    auto fail = [&](PF_Err err) {
      bandErrors[static_cast<size_t>(band)] = err;
      int32_t seen = firstFailedBand.load();
      while (band < seen && !firstFailedBand.compare_exchange_weak(seen, band)) {
      }
    };
    // Pointers step along the row: pixel functions are called once per
    // pixel, so this loop is the host's whole overhead.
    for (int32_t y = first; y < last; ++y) {
      Pixel* out = PixelIn<Pixel>(dst, span.left, y);
      if (src) {
        Pixel* in = PixelIn<Pixel>(src, span.left + dx, y + dy);
        for (int32_t x = span.left; x < span.right; ++x, ++in, ++out) {
          const PF_Err err = pix_fn(refcon, x, y, in, out);
          if (err != PF_Err_NONE) return fail(err);
        }
      } else {
        for (int32_t x = span.left; x < span.right; ++x, ++out) {
          const PF_Err err = pix_fn(refcon, x, y, nullptr, out);
          if (err != PF_Err_NONE) return fail(err);
        }
      }
    }
  };
  auto poll = [&](int32_t bandsDone) {
    const int64_t rowsDone = std::min<int64_t>(rows, int64_t{bandsDone} * kBandRows);
    const A_long current = static_cast<A_long>(
        progress_base + (int64_t{progress_final} - progress_base) * rowsDone / rows);
    const PF_Err err = Poll(host);
    if (err == PF_Err_NONE && host->onProgress) host->onProgress(current, progress_final);
    return err;
  };

  // The calling thread works through bands as well and, between its own,
  // polls for every band finished so far by anyone, so that no worker has
  // to wake it.
  PF_Err abortErr = PF_Err_NONE;
  const int workers = std::clamp(host->config.threads, 1, static_cast<int>(bands));
  std::atomic<int32_t> next{0};
  std::atomic<int32_t> done{0};
  auto takeBand = [&]() -> bool {
    const int32_t band = next++;
    // Bands before a failed one still run, so the first failure wins.
    if (band >= bands || stop.load() || band > firstFailedBand.load()) return false;
    runBand(band);
    ++done;
    return true;
  };
  int32_t polled = 0;
  auto pollFinished = [&] {
    const int32_t finished = done.load();
    while (polled < finished && abortErr == PF_Err_NONE && firstFailedBand.load() == kNoError) {
      abortErr = poll(++polled);
    }
    if (abortErr != PF_Err_NONE) stop = true;
  };
  std::vector<std::thread> helpers;
  helpers.reserve(static_cast<size_t>(workers - 1));
  for (int i = 1; i < workers; ++i) {
    helpers.emplace_back([&] {
      while (takeBand()) {
      }
    });
  }
  while (takeBand()) pollFinished();
  for (std::thread& t : helpers) t.join();
  pollFinished();

  const int32_t failed = firstFailedBand.load();
  if (failed != kNoError) return bandErrors[static_cast<size_t>(failed)];
  return abortErr;
}

PF_Err Host::Impl::Iterate(PF_InData* in_data, A_long progress_base, A_long progress_final,
                           PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                           PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst) {
  return IterateAny<PF_Pixel>(in_data, progress_base, progress_final, src, area, nullptr, refcon,
                              pix_fn, dst);
}

PF_Err Host::Impl::Iterate16(PF_InData* in_data, A_long progress_base, A_long progress_final,
                             PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                             PF_IteratePixel16Func pix_fn, PF_EffectWorld* dst) {
  return IterateAny<PF_Pixel16>(in_data, progress_base, progress_final, src, area, nullptr, refcon,
                                pix_fn, dst);
}

PF_Err Host::Impl::IterateOrigin16(PF_InData* in_data, A_long progress_base, A_long progress_final,
                                   PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin,
                                   void* refcon, PF_IteratePixel16Func pix_fn,
                                   PF_EffectWorld* dst) {
  return IterateAny<PF_Pixel16>(in_data, progress_base, progress_final, src, area, origin, refcon,
                                pix_fn, dst);
}

PF_Err Host::Impl::IterateFloat(PF_InData* in_data, A_long progress_base, A_long progress_final,
                                PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                                PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld* dst) {
  return IterateAny<PF_PixelFloat>(in_data, progress_base, progress_final, src, area, nullptr,
                                   refcon, pix_fn, dst);
}

PF_Err Host::Impl::IterateOriginFloat(PF_InData* in_data, A_long progress_base,
                                      A_long progress_final, PF_EffectWorld* src,
                                      const PF_Rect* area, const PF_Point* origin, void* refcon,
                                      PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld* dst) {
  return IterateAny<PF_PixelFloat>(in_data, progress_base, progress_final, src, area, origin,
                                   refcon, pix_fn, dst);
}

}  // namespace softhost
