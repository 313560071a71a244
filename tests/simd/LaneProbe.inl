// Every lane operation of L applied, vector by vector, to the probe's inputs.
// LanesTest.cpp includes this once per instruction set, inside that set's
// target region and a namespace of its own. Mask results are written as
// 0xFFFF or 0 per lane, results of a whole vector to each of its lanes.
template <class L>
void Probe(const ProbeInput& in, ProbeOutput& out) {
  using V = typename L::V;
  using M = typename L::M;
  constexpr int32_t n = L::kLanes;
  const V ones = L::Splat(0xFFFF);
  // Capturing: a lambda without captures gets a function-pointer thunk, which
  // the target region does not reach.
  const auto lanes = [&](M m) { return L::Select(L::Zero(), ones, m); };
  const auto whole = [&](bool b) { return b ? ones : L::Zero(); };
  for (int32_t i = 0; i + n <= in.Count(); i += n) {
    const V a = L::Load(in.a.data() + i);
    const V b = L::Load(in.b.data() + i);
    const V c = L::Load(in.c.data() + i);
    const V w = L::Load(in.w.data() + i);
    const M ge = L::GreaterEqual(a, b);
    const M eq = L::Equal(a, b);
    const M nz = L::NonZero(c);
    const auto put = [&](Op op, V v) { L::Store(out[op].data() + i, v); };
    put(kLoadStore, a);
    put(kZero, L::Zero());
    put(kSplat, L::Splat(in.a[static_cast<size_t>(i)]));
    put(kSplatPixel, L::SplatPixel(in.a.data() + i));
    put(kWidened, L::LoadWidened(in.bytes.data() + i));
    // Narrowing keeps values of at most 255, as its callers guarantee.
    uint8_t narrowed[simd::kMaxLanes];
    L::StoreNarrowed(narrowed, L::And(a, L::Splat(0xFF)));
    uint16_t widened[simd::kMaxLanes];
    for (int32_t k = 0; k < n; ++k) widened[k] = narrowed[k];
    put(kNarrowed, L::Load(widened));
    put(kMax, L::Max(a, b));
    put(kAdd, L::Add(a, b));
    put(kSub, L::Sub(a, b));
    put(kAnd, L::And(a, b));
    put(kOr, L::Or(a, b));
    put(kMulHi, L::MulHi(a, b));
    put(kWeigh, L::Weigh(c, L::Load(in.mul.data() + i), L::Load(in.hi.data() + i)));
    put(kWeighAbove, L::Weigh(c, L::Load(in.mul.data() + i), ones));
    put(kWeighBy, L::WeighBy(c, w));
    put(kGreaterEqual, lanes(ge));
    put(kEqual, lanes(eq));
    put(kNonZero, lanes(nz));
    put(kMaskAnd, lanes(L::MaskAnd(ge, nz)));
    put(kMaskOr, lanes(L::MaskOr(eq, nz)));
    put(kNoLanes, lanes(L::NoLanes()));
    put(kAnyLane, whole(L::AnyLane(eq)));
    put(kAllLanes, whole(L::AllLanes(ge)));
    put(kNoLaneIsAny, whole(L::AnyLane(L::NoLanes())));
    put(kZeroWhere, L::ZeroWhere(a, ge));
    put(kKeepWhere, L::KeepWhere(a, ge));
    put(kSelect, L::Select(a, b, nz));
    put(kIncrementWhere, L::IncrementWhere(a, ge));
    put(kLargestLane, L::Splat(L::LargestLane(a)));
  }
}
