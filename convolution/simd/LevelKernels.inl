// The inner loops of Levels.h, written once against the lane operations of
// convolution/simd/. Each per-instruction-set file there includes this file
// once, inside its target region and an anonymous namespace in fastpath that
// names its lane operations `Ops` and its float lane operations `FloatOps`,
// so every function here is compiled for that set and has internal linkage.
// No includes: the including file provides them.

// Accumulators kept in registers across all elements of the kernel.
constexpr int32_t kBlock = 8;

// kPixels pixels of the image as lanes of O, and back; 8-bit channels are
// widened and narrowed.
template <class O>
typename O::V LoadPixels(const PF_Pixel* p) {
  return O::LoadWidened(reinterpret_cast<const uint8_t*>(p));
}
template <class O>
typename O::V LoadPixels(const PF_Pixel16* p) {
  return O::Load(reinterpret_cast<const uint16_t*>(p));
}
template <class O>
typename O::V LoadPixels(const PF_PixelFloat* p) {
  return O::Load(reinterpret_cast<const float*>(p));
}
template <class O>
void StorePixels(PF_Pixel* p, typename O::V v) {
  O::StoreNarrowed(reinterpret_cast<uint8_t*>(p), v);
}
template <class O>
void StorePixels(PF_Pixel16* p, typename O::V v) {
  O::Store(reinterpret_cast<uint16_t*>(p), v);
}
template <class O>
void StorePixels(PF_PixelFloat* p, typename O::V v) {
  O::Store(reinterpret_cast<float*>(p), v);
}

// The gather is written once over lane operations L, 16-bit (Ops) or float
// (FloatOps); inside it, kPixels, kLanes and kChunk are L's.
// The scalar twin of lanes L.
template <class L>
using ScalarOf =
    std::conditional_t<std::is_same_v<typename L::Lane, float>, simd::ScalarF32, simd::ScalarU16>;

// The last chunk of a row, pixel by pixel with the scalar twin.
template <class L, typename Pixel>
void StoreMaxTail(const typename L::V* acc, int32_t count, Pixel* out, bool overwrite) {
  constexpr int32_t kLanes = L::kLanes;
  constexpr int32_t kChunk = L::kPixels * kBlock;
  using Scalar = ScalarOf<L>;
  typename L::Lane lanes[kChunk * 4];
  for (int32_t k = 0; k < kBlock; ++k) L::Store(lanes + k * kLanes, acc[k]);
  for (int32_t i = 0; i < count; ++i) {
    const typename Scalar::V v = Scalar::Load(lanes + 4 * i);
    StorePixels<Scalar>(out + i, overwrite ? v : Scalar::Max(v, LoadPixels<Scalar>(out + i)));
  }
}

// Bounds of what the low elements can read, lane by lane, for the rows of a
// band in one chunk: window maxima of the source, down the band's rows by
// prefix and suffix maxima over blocks of the window's height (van Herk /
// Gil-Werman), then across by doubling. Rows outside the image count as 0.
// Of the running maxima down, only the rows the band's windows end and
// start on are kept.
template <class L>
class ChunkBounds {
  using V = typename L::V;
  using Lane = typename L::Lane;
  static constexpr int32_t kLanes = L::kLanes;
  static constexpr int32_t kChunk = L::kPixels * kBlock;
  static_assert(kLanes <= kMaxVectorLanes, "scratch rows too short");
  // The bounds read whole vectors from the source, at most this far past the
  // end of a row: the widened copy carries kMaxVectorLanes lanes after its
  // last.
  static_assert(4 * (kChunk - kGatherChunkPixels - 4) + kLanes - 4 <= kMaxVectorLanes,
                "bounds read past the source");

 public:
  ChunkBounds(const GatherPlanOf<Lane>& plan, int32_t bandRows, Lane* scratch)
      : p(plan),
        rows(bandRows),
        height(plan.reachDown - plan.reachUp + 1),
        span(plan.reachRight - plan.reachLeft + 1),
        vectors((4 * (kChunk + span - 1) + kLanes - 1) / kLanes),
        rowLanes(static_cast<intptr_t>(GatherScratchFor(plan, bandRows).rowLanes)),
        prefix(scratch),
        suffix(prefix + rows * rowLanes),
        run(suffix + rows * rowLanes),
        ping(run + rowLanes),
        pong(ping + rowLanes) {
    while (2 * power <= span) power *= 2;
  }

  // Window maxima down the band's rows from y0, over the columns that
  // chunk x0 reads.
  void Down(int32_t x0, int32_t y0) {
    const intptr_t column = p.originLanes + 4 * static_cast<intptr_t>(x0 + p.reachLeft);
    auto source = [&](int32_t r, int32_t v) {
      const int32_t sy = y0 + p.reachUp + r;
      return sy < 0 || sy >= p.height ? L::Zero()
                                      : L::Load(p.source + column + sy * p.rowLanes + v * kLanes);
    };
    // Window i ends on row i + height - 1: prefix maxima from its block's
    // start, kept for i < rows.
    const Lane* previous = run;
    for (int32_t r = 0; r < rows + height - 1; ++r) {
      Lane* to = r >= height - 1 ? prefix + (r - height + 1) * rowLanes : run;
      const bool fresh = r % height == 0;
      for (int32_t v = 0; v < vectors; ++v) {
        const V a = source(r, v);
        L::Store(to + v * kLanes, fresh ? a : L::Max(a, L::Load(previous + v * kLanes)));
      }
      previous = to;
    }
    // Window i starts on row i: suffix maxima to its block's end, from the
    // end of the block that holds row rows - 1.
    const int32_t last = std::min(rows + height - 2, ((rows - 1) / height + 1) * height - 1);
    for (int32_t r = last; r >= 0; --r) {
      Lane* to = r < rows ? suffix + r * rowLanes : run;
      const bool fresh = r == last || (r + 1) % height == 0;
      for (int32_t v = 0; v < vectors; ++v) {
        const V a = source(r, v);
        L::Store(to + v * kLanes, fresh ? a : L::Max(a, L::Load(previous + v * kLanes)));
      }
      previous = to;
    }
  }

  // The bounds of row y0 + i of the band, chunk lanes in bound[0..kBlock).
  void Across(int32_t i, V* bound) {
    const Lane* h = suffix + i * rowLanes;
    const Lane* g = prefix + i * rowLanes;
    for (int32_t v = 0; v < vectors; ++v) {
      L::Store(ping + v * kLanes, L::Max(L::Load(h + v * kLanes), L::Load(g + v * kLanes)));
    }
    Lane* from = ping;
    Lane* to = pong;
    for (int32_t m = 1; m < power; m *= 2) {
      for (int32_t v = 0; v < vectors; ++v) {
        const Lane* a = from + v * kLanes;
        L::Store(to + v * kLanes, L::Max(L::Load(a), L::Load(a + 4 * m)));
      }
      std::swap(from, to);
    }
    // Pixel q's window is [q, q + span): two pieces of `power` pixels.
    for (int32_t k = 0; k < kBlock; ++k) {
      const Lane* a = from + k * kLanes;
      bound[k] = L::Max(L::Load(a), L::Load(a + 4 * (span - power)));
    }
  }

 private:
  const GatherPlanOf<Lane>& p;
  int32_t rows;
  int32_t height;
  int32_t span;
  int32_t vectors;
  intptr_t rowLanes;
  int32_t power = 1;
  Lane* prefix;
  Lane* suffix;
  Lane* run;
  Lane* ping;
  Lane* pong;
};

template <class L, int32_t C>
void GatherLowGroups(const GatherPlanOf<typename L::Lane>& plan, int32_t y, intptr_t column,
                     const int32_t* which, const typename L::V* bound, typename L::V* acc,
                     int32_t g, int32_t e);

// The vectors still open go on alone: `count` of them, listed in `which`.
static_assert(kBlock == 8, "one case per count of open vectors");
template <class L>
void GatherLowOpen(int32_t count, const GatherPlanOf<typename L::Lane>& plan, int32_t y,
                   intptr_t column, const int32_t* which, const typename L::V* bound,
                   typename L::V* acc, int32_t g, int32_t e) {
  switch (count) {
    case 1:
      return GatherLowGroups<L, 1>(plan, y, column, which, bound, acc, g, e);
    case 2:
      return GatherLowGroups<L, 2>(plan, y, column, which, bound, acc, g, e);
    case 3:
      return GatherLowGroups<L, 3>(plan, y, column, which, bound, acc, g, e);
    case 4:
      return GatherLowGroups<L, 4>(plan, y, column, which, bound, acc, g, e);
    case 5:
      return GatherLowGroups<L, 5>(plan, y, column, which, bound, acc, g, e);
    case 6:
      return GatherLowGroups<L, 6>(plan, y, column, which, bound, acc, g, e);
    default:
      return GatherLowGroups<L, 7>(plan, y, column, which, bound, acc, g, e);
  }
}

// The low groups from group g (element e) on, for the C vectors of the chunk
// listed in `which`. (w * c) >> 15 never decreases in w or c, nor does a
// float product with a scale above 0: once a vector's every lane holds at
// least the group's heaviest weight applied to its bound, no element left
// can raise it, and the others go on without it.
template <class L, int32_t C>
void GatherLowGroups(const GatherPlanOf<typename L::Lane>& plan, int32_t y, intptr_t column,
                     const int32_t* which, const typename L::V* bound, typename L::V* acc,
                     int32_t g, int32_t e) {
  using V = typename L::V;
  using Lane = typename L::Lane;
  constexpr int32_t kLanes = L::kLanes;
  static_assert(C >= 1 && C <= kBlock);
  const GatherLowOf<Lane>& low = plan.low;
  V a[C];
  intptr_t at[C];
  for (int32_t j = 0; j < C; ++j) {
    a[j] = acc[which[j]];
    at[j] = which[j] * kLanes;
  }
  for (; g < low.groupCount; ++g) {
    const V most = L::Splat(low.groupMul[g]);
    int32_t open[C];
    int32_t count = 0;
    for (int32_t j = 0; j < C; ++j) {
      if (!L::AllLanes(L::GreaterEqual(a[j], L::WeighBelow(bound[which[j]], most)))) {
        open[count++] = which[j];
      }
    }
    if (count < C) {
      for (int32_t j = 0; j < C; ++j) acc[which[j]] = a[j];
      if (count > 0) GatherLowOpen<L>(count, plan, y, column, open, bound, acc, g, e);
      return;
    }
    for (const int32_t end = low.groupEnd[g]; e < end; ++e) {
      const int32_t sy = y + low.dy[e];
      if (sy < 0 || sy >= plan.height) continue;
      const Lane* s = plan.source + column + sy * plan.rowLanes + low.offsets[e];
      const V w = L::Splat(low.mul[e]);
      for (int32_t j = 0; j < C; ++j) a[j] = L::Max(a[j], L::WeighBelow(L::Load(s + at[j]), w));
    }
  }
  for (int32_t j = 0; j < C; ++j) acc[which[j]] = a[j];
}

template <class L, typename Pixel>
void GatherRows(const GatherPlanOf<typename L::Lane>& plan, int32_t y0, int32_t rows, Pixel* first,
                intptr_t rowBytes, typename L::Lane* scratch) {
  using V = typename L::V;
  using Lane = typename L::Lane;
  constexpr int32_t kPixels = L::kPixels;
  constexpr int32_t kLanes = L::kLanes;
  constexpr int32_t kChunk = kPixels * kBlock;
  static_assert(kChunk <= kGatherChunkPixels, "source margin too small");
  const GatherLowOf<Lane>& low = plan.low;
  std::optional<ChunkBounds<L>> bounds;
  if (low.groupCount > 0) bounds.emplace(plan, rows, scratch);
  // Chunk by chunk, row by row: the source a chunk reads stays in cache
  // across the rows of the band.
  for (int32_t x0 = 0; x0 < plan.width; x0 += kChunk) {
    if (bounds) bounds->Down(x0, y0);
    for (int32_t y = y0; y < y0 + rows; ++y) {
      Pixel* out = reinterpret_cast<Pixel*>(reinterpret_cast<char*>(first) + (y - y0) * rowBytes);
      V acc[kBlock];
      for (V& a : acc) a = L::Zero();
      const intptr_t column = plan.originLanes + 4 * static_cast<intptr_t>(x0);
      for (int32_t r = 0; r < plan.rowCount; ++r) {
        const GatherRowSpec& spec = plan.rows[r];
        const int32_t sy = y + spec.dy;
        if (sy < 0 || sy >= plan.height) continue;
        const intptr_t row = column + sy * plan.rowLanes;
        const Lane* base = plan.source + row;
        int32_t e = spec.first;
        // A weight of exactly 32768 passes the value through, so a run of them
        // takes the maximum of its pixels, read in pieces.
        auto takeMaxima = [&](const Lane* maxima, int32_t count) {
          for (const int32_t end = e + count; e < end; ++e) {
            const Lane* s = maxima + plan.offsets[e];
            for (int32_t k = 0; k < kBlock; ++k) acc[k] = L::Max(acc[k], L::Load(s + k * kLanes));
          }
        };
        takeMaxima(base, spec.flat);
        if (spec.quads > 0) takeMaxima(plan.quads + row, spec.quads);
        if (spec.sixteens > 0) takeMaxima(plan.sixteens + row, spec.sixteens);
        for (const int32_t end = e + spec.high; e < end; ++e) {
          const Lane* s = base + plan.offsets[e];
          const V w = L::Splat(plan.mul[e]);
          for (int32_t k = 0; k < kBlock; ++k) {
            acc[k] = L::Max(acc[k], L::WeighAbove(L::Load(s + k * kLanes), w));
          }
        }
      }
      // The loops above keep acc in registers only while its address stays
      // here: V may alias any type, so once it escapes, every load of an
      // element's offset would first store all eight accumulators.
      V result[kBlock];
      for (int32_t k = 0; k < kBlock; ++k) result[k] = acc[k];
      if (low.groupCount > 0) {
        V bound[kBlock];
        bounds->Across(y - y0, bound);
        const int32_t all[kBlock] = {0, 1, 2, 3, 4, 5, 6, 7};
        GatherLowGroups<L, kBlock>(plan, y, column, all, bound, result, 0, 0);
      }
      // Raised as RaiseTo raises, through Max's operand order: a float
      // floor that is NaN or -0 stays so where nothing is greater.
      if (x0 + kChunk <= plan.width) {
        for (int32_t k = 0; k < kBlock; ++k) {
          Pixel* p = out + x0 + k * kPixels;
          StorePixels<L>(p, plan.overwrite ? result[k] : L::Max(result[k], LoadPixels<L>(p)));
        }
      } else {
        StoreMaxTail<L>(result, plan.width - x0, out + x0, plan.overwrite);
      }
    }
  }
}

// The control-layer loops, in 16-bit lanes.
using V = typename Ops::V;
constexpr int32_t kPixels = Ops::kPixels;
constexpr int32_t kLanes = 4 * kPixels;

void SpreadRow(PF_Pixel16* row, int32_t first, int32_t begin, int32_t end, const uint16_t* mul,
               const uint16_t* hi, int32_t hiBegin, int32_t hiEnd, V v) {
  static_assert(kPixels <= kRowPad, "spread kernels need more padding");
  uint16_t* lanes = reinterpret_cast<uint16_t*>(row);
  // A span no wider than a vector (most spreads of a dark frame, whose
  // kernels are small) takes one vector from `begin`, off the grid, weighed
  // exactly at every weight: the zero taps after the kernel leave the pixels
  // past `end` as they are.
  if (end - begin <= kPixels) {
    const intptr_t tap = 4 * static_cast<intptr_t>(begin - first + kRowPad);
    uint16_t* at = lanes + 4 * static_cast<intptr_t>(begin);
    const V weighted = Ops::Weigh(v, Ops::Load(mul + tap), Ops::Load(hi + tap));
    Ops::Store(at, Ops::Max(Ops::Load(at), weighted));
    return;
  }
  const int32_t hiFrom = hiBegin > begin ? hiBegin : begin;
  const int32_t hiTo = hiEnd < end ? hiEnd : end;
  // Where most taps weigh 32768 or more (most of the Box's rungs), one
  // exact pass weighs every tap; elsewhere a pass of one multiply a tap,
  // exact below 32768, and a second over the few taps from 32768 up.
  const bool mostlyHigh = 2 * (hiTo - hiFrom) >= end - begin;
  if (!mostlyHigh) {
    for (int32_t q = begin - begin % kPixels; q < end; q += kPixels) {
      const intptr_t tap = 4 * static_cast<intptr_t>(q - first + kRowPad);
      uint16_t* at = lanes + 4 * static_cast<intptr_t>(q);
      Ops::Store(at, Ops::Max(Ops::Load(at), Ops::MulHi(v, Ops::Load(mul + tap))));
    }
  }
  const int32_t weighFrom = mostlyHigh ? begin : hiFrom;
  const int32_t weighTo = mostlyHigh ? end : hiTo;
  for (int32_t q = weighFrom - weighFrom % kPixels; q < weighTo; q += kPixels) {
    const intptr_t tap = 4 * static_cast<intptr_t>(q - first + kRowPad);
    uint16_t* at = lanes + 4 * static_cast<intptr_t>(q);
    const V weighted = Ops::Weigh(v, Ops::Load(mul + tap), Ops::Load(hi + tap));
    Ops::Store(at, Ops::Max(Ops::Load(at), weighted));
  }
}

void SpreadCells(const BlockLists& lists, const SpreadCellsBlock& block) {
  const intptr_t slotLanes = kListArrays * kLanes;
  for (int32_t j = 0; j < block.cells; ++j) {
    const int32_t count = lists.counts[j];
    if (count == 0) continue;
    auto* row = reinterpret_cast<PF_Pixel16*>(block.plane + j * block.rowBytes);
    const uint16_t* entry = lists.slots + j;
    const uint16_t* end = entry + count * slotLanes;
    while (entry < end) {
      const uint16_t kernel = entry[5 * kLanes];
      // The merge stays in general registers: a vector loaded from channels
      // just stored one by one would wait for every store.
      uint64_t a = 0;
      uint64_t r = 0;
      uint64_t g = 0;
      uint64_t b = 0;
      for (; entry < end && entry[5 * kLanes] == kernel; entry += slotLanes) {
        a = std::max<uint64_t>(a, entry[1 * kLanes]);
        r = std::max<uint64_t>(r, entry[2 * kLanes]);
        g = std::max<uint64_t>(g, entry[3 * kLanes]);
        b = std::max<uint64_t>(b, entry[4 * kLanes]);
      }
      const SpreadKernel& k = block.kernels[kernel];
      const int32_t tap0 = block.line - k.length / 2;
      const int32_t begin = tap0 > 0 ? tap0 : 0;
      const int32_t last = tap0 + k.length < block.lineCount ? tap0 + k.length : block.lineCount;
      if (begin >= last) continue;
      SpreadRow(row, tap0, begin, last, k.mul, k.hi, tap0 + k.hiBegin, tap0 + k.hiEnd,
                Ops::SplatPacked(a | r << 16 | g << 32 | b << 48));
    }
  }
}

void SpreadAcross(char* plane, intptr_t rowBytes, int32_t cell, int32_t cells, int32_t first,
                  int32_t begin, int32_t end, const uint16_t* mul, const uint16_t* hi,
                  const uint16_t* values) {
  constexpr int32_t kVectors = 4;  // a block's cells: kLanes of them, four lanes each
  const int32_t vectors = (cells + kPixels - 1) / kPixels;
  V v[kVectors];
  for (int32_t k = 0; k < kVectors; ++k) {
    v[k] = k < vectors ? Ops::Load(values + k * kLanes) : Ops::Zero();
  }
  for (int32_t r = begin; r < end; ++r) {
    const intptr_t tap = 4 * static_cast<intptr_t>(r - first + kRowPad);
    uint16_t* at =
        reinterpret_cast<uint16_t*>(plane + r * rowBytes) + 4 * static_cast<intptr_t>(cell);
    const V m = Ops::Splat(mul[tap]);
    // Most taps weigh less than 32768, where one multiply gives the product.
    if (hi[tap] == 0) {
      for (int32_t k = 0; k < vectors; ++k) {
        Ops::Store(at + k * kLanes, Ops::Max(Ops::Load(at + k * kLanes), Ops::MulHi(v[k], m)));
      }
    } else {
      const V h = Ops::Splat(hi[tap]);
      for (int32_t k = 0; k < vectors; ++k) {
        Ops::Store(at + k * kLanes, Ops::Max(Ops::Load(at + k * kLanes), Ops::Weigh(v[k], m, h)));
      }
    }
  }
}

void SpreadEntries(const BlockLists& lists, EntrySpread spread, void* context) {
  constexpr int32_t kGroups = 8;
  uint16_t kernelOf[kGroups];
  V group[kGroups][4];
  int32_t groups = 0;
  alignas(64) uint16_t planar[4][kLanes];
  alignas(64) uint16_t values[4 * kLanes];
  auto flush = [&] {
    for (int32_t g = 0; g < groups; ++g) {
      for (int32_t c = 0; c < 4; ++c) Ops::Store(planar[c], group[g][c]);
      for (int32_t j = 0; j < kLanes; ++j) {
        for (int32_t c = 0; c < 4; ++c) values[4 * j + c] = planar[c][j];
      }
      spread(context, kernelOf[g], values);
    }
    groups = 0;
  };
  const intptr_t slotLanes = kListArrays * kLanes;
  const V counts = Ops::Load(lists.counts);
  for (int32_t e = 0; e < lists.used; ++e) {
    const uint16_t* slot = lists.slots + e * slotLanes;
    // Kernel + 1 in the cells that list entry e, 0 elsewhere (a ladder has
    // far fewer than 65535 rungs): each round takes the largest kernel left
    // and every cell that holds it.
    const typename Ops::M listed =
        Ops::GreaterEqual(counts, Ops::Splat(static_cast<uint16_t>(e + 1)));
    V left = Ops::KeepWhere(Ops::IncrementWhere(Ops::Load(slot + 5 * kLanes), listed), listed);
    for (;;) {
      const uint16_t top = Ops::LargestLane(left);
      if (top == 0) break;
      const typename Ops::M cells = Ops::Equal(left, Ops::Splat(top));
      left = Ops::ZeroWhere(left, cells);
      const auto kernel = static_cast<uint16_t>(top - 1);
      int32_t g = 0;
      while (g < groups && kernelOf[g] != kernel) ++g;
      if (g == groups) {
        if (groups == kGroups) {
          flush();
          g = 0;
        }
        kernelOf[g] = kernel;
        for (int32_t c = 0; c < 4; ++c) group[g][c] = Ops::Zero();
        groups = g + 1;
      }
      for (int32_t c = 0; c < 4; ++c) {
        group[g][c] =
            Ops::Max(group[g][c], Ops::KeepWhere(Ops::Load(slot + (c + 1) * kLanes), cells));
      }
    }
  }
  flush();
}

void ScatterRows(const ScatterSource& s) {
  const V v = Ops::SplatPixel(s.value);
  for (int32_t r = 0; r < s.rowCount; ++r) {
    const ScatterRow& row = s.rows[r];
    const int32_t ty = s.top + row.j;
    if (ty < 0 || ty >= s.plane.height) continue;
    const int32_t start = s.left + row.first;
    const int32_t begin = start > 0 ? start : 0;
    const int32_t end = start + row.count < s.plane.width ? start + row.count : s.plane.width;
    if (begin >= end) continue;
    uint16_t* lanes = reinterpret_cast<uint16_t*>(s.plane.data + ty * s.plane.rowBytes);
    // Tap of position q: base + q, never below the row's leading zeros.
    const intptr_t base = static_cast<intptr_t>(row.tap) + kRowPad - start;
    auto weigh = [&](int32_t q) {
      uint16_t* at = lanes + 4 * static_cast<intptr_t>(q);
      const intptr_t tap = 4 * (base + q);
      const V weighted = Ops::WeighBy(v, Ops::Load(s.weights + tap));
      Ops::Store(at, Ops::Max(Ops::Load(at), weighted));
    };
    // Whole vectors within the flat run.
    const int32_t flatFrom = start + row.flatBegin > begin ? start + row.flatBegin : begin;
    const int32_t flatTo = start + row.flatEnd < end ? start + row.flatEnd : end;
    int32_t flatFirst = flatFrom + (kPixels - flatFrom % kPixels) % kPixels;
    int32_t flatLast = flatTo - flatTo % kPixels;
    if (flatFirst >= flatLast) flatFirst = flatLast = end;
    int32_t q = begin - begin % kPixels;
    for (; q < flatFirst; q += kPixels) weigh(q);
    for (; q < flatLast; q += kPixels) {
      uint16_t* at = lanes + 4 * static_cast<intptr_t>(q);
      Ops::Store(at, Ops::Max(Ops::Load(at), v));
    }
    for (; q < end; q += kPixels) weigh(q);
  }
}

void ScatterRunRows(const ScatterRun& r) {
  // Each row is computed only over row 0's pixels; its last 2^m - 1 pixels
  // then read what an earlier, longer run left, which no span reaches:
  // spans read at most a kernel's width into the trailing padding.
  const intptr_t used = 4 * (2 * static_cast<intptr_t>(r.pad) + r.length);
  for (int32_t m = 1; m <= r.levels; ++m) {
    const uint16_t* from = r.lanes + (m - 1) * r.stride;
    uint16_t* to = r.lanes + m * r.stride;
    const intptr_t reach = 4 * (intptr_t{1} << (m - 1));
    for (intptr_t q = 0; q < used; q += kLanes) {
      Ops::Store(to + q, Ops::Max(Ops::Load(from + q), Ops::Load(from + q + reach)));
    }
  }
  // Vectors on the row's grid: lanes before a span's first pixel and past
  // its last read the run's zero padding, so they leave the row as it was.
  auto raise = [&](int32_t j, int32_t start, int32_t span, auto&& value) {
    const int32_t ty = r.top + j;
    if (ty < 0 || ty >= r.plane.height) return;
    const int32_t begin = start > 0 ? start : 0;
    const int32_t end = start + span < r.plane.width ? start + span : r.plane.width;
    uint16_t* row = reinterpret_cast<uint16_t*>(r.plane.data + ty * r.plane.rowBytes);
    for (int32_t q = begin - begin % kPixels; q < end; q += kPixels) {
      uint16_t* at = row + 4 * static_cast<intptr_t>(q);
      Ops::Store(at, Ops::Max(Ops::Load(at), value(q - start)));
    }
  };
  const uint16_t* values = r.lanes + 4 * static_cast<intptr_t>(r.pad);
  for (int32_t n = 0; n < r.groupCount; ++n) {
    const ScatterTapGroup& g = r.groups[n];
    const ScatterTap* taps = r.taps + g.first;
    // Most taps weigh less than 32768, where one multiply gives the product.
    if (g.heavy) {
      raise(g.j, r.left + g.i, r.length + g.reach, [&](int32_t k) {
        V most = Ops::Zero();
        for (int32_t t = 0; t < g.count; ++t) {
          const V c = Ops::Load(values + 4 * static_cast<intptr_t>(k - taps[t].offset));
          most = Ops::Max(most, Ops::Weigh(c, Ops::Splat(taps[t].mul), Ops::Splat(taps[t].hi)));
        }
        return most;
      });
    } else {
      raise(g.j, r.left + g.i, r.length + g.reach, [&](int32_t k) {
        V most = Ops::Zero();
        for (int32_t t = 0; t < g.count; ++t) {
          const V c = Ops::Load(values + 4 * static_cast<intptr_t>(k - taps[t].offset));
          most = Ops::Max(most, Ops::WeighBelow(c, Ops::Splat(taps[t].mul)));
        }
        return most;
      });
    }
  }
  for (int32_t n = 0; n < r.spanCount; ++n) {
    const ScatterSpan& s = r.spans[n];
    // Target k of the span takes the run's values k - count + 1 to k: two
    // windows of 2^level that together cover the count.
    const uint16_t* windows =
        r.lanes + s.level * r.stride + 4 * (static_cast<intptr_t>(r.pad) - s.count + 1);
    const intptr_t second = 4 * (static_cast<intptr_t>(s.count) - (intptr_t{1} << s.level));
    raise(s.j, r.left + s.i, r.length + s.count - 1, [&](int32_t k) {
      const uint16_t* at = windows + 4 * static_cast<intptr_t>(k);
      return Ops::Max(Ops::Load(at), Ops::Load(at + second));
    });
  }
}

int32_t OfferBlock(BlockLists& lists, const BlockSource* sources, int32_t first, int32_t count,
                   const uint16_t* valid) {
  const intptr_t slotLanes = kListArrays * kLanes;
  const V validLanes = Ops::Load(valid);
  const bool byBest = lists.best != nullptr;
  for (int32_t n = first; n < count; ++n) {
    const BlockSource& s = sources[n];
    const V w = byBest ? Ops::Zero() : Ops::And(Ops::Load(s.key), validLanes);
    V u[4];
    if (s.mul != nullptr) {
      const V mul = Ops::Load(s.mul);
      const V hi = Ops::Load(s.hi);
      for (int32_t c = 0; c < 4; ++c) u[c] = Ops::Weigh(Ops::Splat(s.value[c]), mul, hi);
    } else {
      for (int32_t c = 0; c < 4; ++c) u[c] = Ops::Load(s.exact[c]);
    }
    for (int32_t c = 0; c < 4; ++c) u[c] = Ops::And(u[c], validLanes);
    // Which channels an entry already listed covers, cell by cell.
    V best[4] = {Ops::Zero(), Ops::Zero(), Ops::Zero(), Ops::Zero()};
    if (byBest) {
      for (int32_t c = 0; c < 4; ++c) {
        best[c] = Ops::Load(lists.best + c * kLanes);
        u[c] = Ops::ZeroWhere(u[c], Ops::GreaterEqual(best[c], u[c]));
      }
    } else {
      typename Ops::M d[4] = {Ops::NoLanes(), Ops::NoLanes(), Ops::NoLanes(), Ops::NoLanes()};
      const uint16_t* slot = lists.slots;
      for (int32_t e = 0; e < lists.used; ++e, slot += slotLanes) {
        const typename Ops::M reach = Ops::GreaterEqual(Ops::Load(slot), w);
        for (int32_t c = 0; c < 4; ++c) {
          d[c] = Ops::MaskOr(
              d[c],
              Ops::MaskAnd(reach, Ops::GreaterEqual(Ops::Load(slot + (c + 1) * kLanes), u[c])));
        }
      }
      for (int32_t c = 0; c < 4; ++c) u[c] = Ops::ZeroWhere(u[c], d[c]);
    }
    const typename Ops::M keep = Ops::NonZero(Ops::Or(Ops::Or(u[0], u[1]), Ops::Or(u[2], u[3])));
    if (!Ops::AnyLane(keep)) continue;
    // Lanes that keep a record append it at their own count.
    const V counts = Ops::Load(lists.counts);
    const int32_t highest = Ops::LargestLane(Ops::KeepWhere(counts, keep));
    if (highest >= lists.capacity) return n;
    const int32_t lowest =
        0xFFFF - Ops::LargestLane(Ops::KeepWhere(Ops::Sub(Ops::Splat(0xFFFF), counts), keep));
    const V entry[kListArrays] = {w, u[0], u[1], u[2], u[3], Ops::Splat(s.kernel)};
    for (int32_t e = lowest; e <= highest; ++e) {
      const typename Ops::M at =
          Ops::MaskAnd(keep, Ops::Equal(counts, Ops::Splat(static_cast<uint16_t>(e))));
      uint16_t* to = lists.slots + e * slotLanes;
      for (int32_t a = 0; a < kListArrays; ++a) {
        Ops::Store(to + a * kLanes, Ops::Select(Ops::Load(to + a * kLanes), entry[a], at));
      }
    }
    Ops::Store(lists.counts, Ops::IncrementWhere(counts, keep));
    if (highest + 1 > lists.used) lists.used = highest + 1;
    // Only once the record is listed: a source that found the slots full is
    // offered again.
    if (byBest) {
      for (int32_t c = 0; c < 4; ++c) Ops::Store(lists.best + c * kLanes, Ops::Max(best[c], u[c]));
    }
  }
  return count;
}

constexpr Kernels2D kKernels2D = {&GatherRows<Ops, PF_Pixel>,
                                  &GatherRows<Ops, PF_Pixel16>,
                                  &GatherRows<FloatOps, PF_PixelFloat>,
                                  &SpreadCells,
                                  &SpreadAcross,
                                  &ScatterRows,
                                  &ScatterRunRows,
                                  kLanes,
                                  &OfferBlock,
                                  &SpreadEntries};
