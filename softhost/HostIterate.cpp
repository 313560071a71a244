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
#include <condition_variable>
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
  if (!host || !world || !world->data) return PF_Err_BAD_CALLBACK_PARAM;
  if (Fires(host, kCountFill, host->faults.failFillAt)) return host->faults.failCode;
  const PF_Pixel c = color ? *color : PF_Pixel{0, 0, 0, 0};
  const Span span = ClipToWorld(rect, world);
  if (span.Empty()) return PF_Err_NONE;
  auto widen = [](A_u_char v) { return static_cast<A_u_short>((v * 32768 + 128) / 255); };
  const PF_Pixel16 c16{widen(c.alpha), widen(c.red), widen(c.green), widen(c.blue)};
  for (int32_t y = span.top; y < span.bottom; ++y) {
    for (int32_t x = span.left; x < span.right; ++x) {
      if (WorldIsDeep(world)) {
        *PixelIn<PF_Pixel16>(world, x, y) = c16;
      } else {
        *PixelIn<PF_Pixel>(world, x, y) = c;
      }
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
  constexpr bool deep = Depth<Pixel>::kDeep;
  if (WorldIsDeep(dst) != deep) return PF_Err_BAD_CALLBACK_PARAM;
  if (src && (!src->data || WorldIsDeep(src) != deep)) return PF_Err_BAD_CALLBACK_PARAM;

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
    for (int32_t y = first; y < last; ++y) {
      for (int32_t x = span.left; x < span.right; ++x) {
        Pixel* in = src ? PixelIn<Pixel>(src, x + dx, y + dy) : nullptr;
        const PF_Err err = pix_fn(refcon, x, y, in, PixelIn<Pixel>(dst, x, y));
        if (err != PF_Err_NONE) {
          bandErrors[static_cast<size_t>(band)] = err;
          int32_t seen = firstFailedBand.load();
          while (band < seen && !firstFailedBand.compare_exchange_weak(seen, band)) {
          }
          return;
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

  PF_Err abortErr = PF_Err_NONE;
  const int workers = std::clamp(host->config.threads, 1, static_cast<int>(bands));
  if (workers == 1) {
    for (int32_t band = 0; band < bands; ++band) {
      runBand(band);
      if (firstFailedBand.load() != kNoError) break;
      abortErr = poll(band + 1);
      if (abortErr != PF_Err_NONE) break;
    }
  } else {
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    int32_t done = 0;
    int exited = 0;
    std::atomic<int32_t> next{0};
    auto work = [&] {
      for (;;) {
        const int32_t band = next++;
        // Bands before a failed one still run, so the first failure wins.
        if (band >= bands || stop.load() || band > firstFailedBand.load()) break;
        runBand(band);
        std::lock_guard<std::mutex> lock(doneMutex);
        ++done;
        doneSignal.notify_one();
      }
      std::lock_guard<std::mutex> lock(doneMutex);
      ++exited;
      doneSignal.notify_one();
    };
    std::vector<std::thread> pool;
    pool.reserve(static_cast<size_t>(workers));
    for (int i = 0; i < workers; ++i) pool.emplace_back(work);
    int32_t polled = 0;
    std::unique_lock<std::mutex> lock(doneMutex);
    for (;;) {
      doneSignal.wait(lock, [&] { return done > polled || exited == workers; });
      while (polled < done && abortErr == PF_Err_NONE && firstFailedBand.load() == kNoError) {
        ++polled;
        lock.unlock();
        abortErr = poll(polled);
        lock.lock();
      }
      if (abortErr != PF_Err_NONE) stop = true;
      if (exited == workers) break;
      if (stop || firstFailedBand.load() != kNoError) polled = done;  // stop polling
    }
    lock.unlock();
    for (std::thread& t : pool) t.join();
  }
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

}  // namespace softhost
