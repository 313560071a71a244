#include "convolution/separable/LinePlan.h"

#include <algorithm>

#include "convolution/Weighted.h"
#include "convolution/simd/Lanes.h"

namespace {

// A run of this many equal taps costs about as much through a sliding
// maximum (two passes over the line, then one read) as read tap by tap.
constexpr int32_t kSlideRun = 8;
constexpr int32_t kSlideCost = 6;

}  // namespace

bool LinePlan::Build(const int32_t* taps, int32_t tapCount, int32_t outputs, PixelFormat format) {
  weights.assign(taps, taps + tapCount);
  count = outputs;
  inCount = outputs + tapCount - 1;
  steps.clear();
  offsets.clear();
  slideLengths.clear();
  boundStart = 0;
  boundSpan = 0;
  aboveCount = 0;
  unitCount = 0;

  // Positive taps by decreasing weight, each level's taps left to right, so
  // that the levels and their runs come out of one sort rather than one
  // sweep of the kernel per level (a Gaussian of 401 taps has 200 levels).
  std::vector<int32_t> order;
  for (int32_t t = 0; t < tapCount; ++t) {
    if (weights[t] > 0) order.push_back(t);
  }
  // The position breaks ties, so std::sort gives stable_sort's order without
  // stable_sort's scratch buffer, whose refusal it would quietly work around:
  // every allocation failure must reach the host.
  std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    return weights[a] != weights[b] ? weights[a] > weights[b] : a < b;
  });
  std::vector<int32_t> levels;
  for (int32_t t : order) {
    if (levels.empty() || levels.back() != weights[t]) levels.push_back(weights[t]);
  }
  const int32_t top = levels.empty() ? 0 : levels.front();
  // The straightforward loops store the low bits of an 8-bit channel that
  // overflows, which no lane does: such weights leave the pass to them. At
  // 16 bits the lines that hold values above the limit are emulated.
  valueLimit = 65535;
  if (format != PixelFormat::ArgbFloat) {
    const bool deep = format == PixelFormat::Argb16;
    const int32_t channelMax = deep ? 65535 : 255;
    const int32_t limit = simd::ExactChannelLimit(top, channelMax);
    if (limit < 0 || (!deep && limit < channelMax)) return false;
    valueLimit = static_cast<uint16_t>(limit >= channelMax ? 65535 : limit);
  }

  auto slideFor = [&](int32_t length) -> int32_t {
    for (size_t s = 0; s < slideLengths.size(); ++s) {
      if (slideLengths[s] == length) return static_cast<int32_t>(s) + 1;
    }
    if (static_cast<int32_t>(slideLengths.size()) == kMaxSlides) return 0;
    slideLengths.push_back(length);
    return static_cast<int32_t>(slideLengths.size());
  };
  auto hasSlide = [&](int32_t length) {
    return std::find(slideLengths.begin(), slideLengths.end(), length) != slideLengths.end();
  };

  // The bound for stopping early, over every positive tap: worth its cost
  // (about one sliding maximum) only when many levels could be skipped.
  constexpr int32_t kBoundLevels = 16;
  const auto positive = [](int32_t w) { return w > 0; };
  const auto head = std::find_if(weights.begin(), weights.end(), positive);
  const auto tail = std::find_if(weights.rbegin(), weights.rend(), positive);
  if (std::count_if(levels.begin(), levels.end(), [](int32_t w) { return w < 32768; }) >=
      kBoundLevels) {
    boundStart = static_cast<int32_t>(head - weights.begin());
    boundSpan = static_cast<int32_t>((weights.rend() - tail) - (head - weights.begin()));
  }

  // A level reads its own taps, run by run, or, when its taps and all
  // heavier ones form one contiguous span, that span's sliding maximum.
  struct Ref {
    int32_t source, position;
  };
  std::vector<Ref> refs;
  struct Run {
    int32_t start, length;
  };
  std::vector<Run> runs;
  // The taps of this level and the heavier ones lie within [lo, hi]; they
  // fill it exactly when there are as many as it has positions.
  int32_t lo = tapCount;
  int32_t hi = -1;
  int32_t covered = 0;
  size_t next = 0;
  for (int32_t level : levels) {
    runs.clear();
    for (; next < order.size() && weights[order[next]] == level; ++next) {
      const int32_t t = order[next];
      if (!runs.empty() && runs.back().start + runs.back().length == t) {
        ++runs.back().length;
      } else {
        runs.push_back(Run{t, 1});
      }
      ++covered;
      lo = std::min(lo, t);
      hi = std::max(hi, t);
    }
    const int32_t span = hi - lo + 1;
    const bool contiguous = covered == span;
    int32_t tapCost = 0;
    for (const Run& run : runs) {
      tapCost += run.length >= kSlideRun ? 1 + (hasSlide(run.length) ? 0 : kSlideCost) : run.length;
    }
    const int32_t spanCost = 1 + (hasSlide(span) ? 0 : kSlideCost);

    const size_t first = refs.size();
    int32_t spanSlide = 0;
    if (contiguous && span >= kSlideRun && spanCost < tapCost) spanSlide = slideFor(span);
    if (spanSlide > 0) {
      refs.push_back(Ref{spanSlide, lo});
    } else {
      for (const Run& run : runs) {
        const int32_t slide = run.length >= kSlideRun ? slideFor(run.length) : 0;
        if (slide > 0) {
          refs.push_back(Ref{slide, run.start});
        } else {
          for (int32_t t = run.start; t < run.start + run.length; ++t) refs.push_back(Ref{0, t});
        }
      }
    }
    steps.push_back(LineStep{simd::WeightMul(level), WeightScale(level),
                             static_cast<int32_t>(refs.size() - first), 0});
    if (level > 32768) ++aboveCount;
    if (level == 32768) ++unitCount;
  }
  // Fans: runs of levels below 32768 with two input taps each, moving one
  // position outwards per level (the sides of a unimodal profile).
  size_t ref = refs.size();
  for (size_t s = steps.size(); s-- > 0;) {
    ref -= static_cast<size_t>(steps[s].refCount);
    const bool pair = steps[s].refCount == 2 && refs[ref].source == 0 &&
                      refs[ref + 1].source == 0 && s >= static_cast<size_t>(aboveCount + unitCount);
    if (!pair) continue;
    steps[s].fan = 1;
    if (s + 1 < steps.size() && steps[s + 1].fan > 0 &&
        refs[ref + 2].position == refs[ref].position - 1 &&
        refs[ref + 3].position == refs[ref + 1].position + 1) {
      steps[s].fan += steps[s + 1].fan;
    }
  }
  // The sliding maxima follow the line and its scratch in the job's memory.
  auto offsetOf = [&](const Ref& r) {
    const int32_t base = r.source == 0 ? 0 : inCount * (1 + r.source);
    return (base + r.position) * kLineLanes;
  };
  for (const Ref& r : refs) offsets.push_back(offsetOf(r));
  return true;
}

size_t LinePlan::JobPositions() const {
  return static_cast<size_t>(BoundRegion()) + static_cast<size_t>(BoundSize()) +
         static_cast<size_t>(count);
}

int32_t LinePlan::BoundRegion() const {
  const int32_t lines = slideLengths.empty() ? 1 : 2 + static_cast<int32_t>(slideLengths.size());
  return inCount * lines;
}

int32_t LinePlan::BoundSize() const {
  return boundSpan > 0 ? BoundPositions(inCount, boundSpan) : 0;
}

LineProgram LinePlan::Program() const {
  const int32_t total = static_cast<int32_t>(steps.size());
  return LineProgram{steps.data(),
                     aboveCount,
                     unitCount,
                     total - aboveCount - unitCount,
                     offsets.data(),
                     slideLengths.data(),
                     static_cast<int32_t>(slideLengths.size()),
                     boundStart,
                     boundSpan,
                     BoundRegion() * kLineLanes};
}
