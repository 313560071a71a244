// Every lane operation of L applied, vector by vector, to the probe's inputs.
// LanesTest.cpp includes this once per instruction set, inside that set's
// target region and a namespace of its own. Masks are written as 0xFFFF or 0
// per lane, results of a whole vector to each of its lanes.
template <class L>
void Probe(const ProbeInput& in, Results& out) {
  using V = typename L::V;
  using M = typename L::M;
  const V ones = L::Splat(0xFFFF);
  // Capturing: a lambda without captures gets a function-pointer thunk, which
  // the target region does not reach.
  const auto lanes = [&](M m) { return L::Select(L::Zero(), ones, m); };
  const auto whole = [&](bool b) { return b ? ones : L::Zero(); };
  for (size_t i = 0; i + L::kLanes <= in.a.size(); i += L::kLanes) {
    const V a = L::Load(in.a.data() + i), b = L::Load(in.b.data() + i);
    const V c = L::Load(in.c.data() + i), w = L::Load(in.w.data() + i);
    const M ge = L::GreaterEqual(a, b), eq = L::Equal(a, b), nz = L::NonZero(c);
    const auto put = [&](const char* op, V v) {
      std::vector<uint16_t>& o = out[op];
      o.resize(in.a.size());
      L::Store(o.data() + i, v);
    };
    put("Load/Store", a);
    put("Zero", L::Zero());
    put("Splat", L::Splat(in.a[i]));
    put("SplatPixel", L::SplatPixel(in.a.data() + i));
    put("LoadWidened", L::LoadWidened(in.bytes.data() + i));
    // Narrowing keeps values of at most 255, as its callers guarantee.
    uint8_t narrowed[simd::kMaxLanes];
    L::StoreNarrowed(narrowed, L::And(a, L::Splat(0xFF)));
    uint16_t widened[simd::kMaxLanes];
    for (int32_t k = 0; k < L::kLanes; ++k) widened[k] = narrowed[k];
    put("StoreNarrowed", L::Load(widened));
    put("Max", L::Max(a, b));
    put("Add", L::Add(a, b));
    put("Sub", L::Sub(a, b));
    put("And", L::And(a, b));
    put("Or", L::Or(a, b));
    put("MulHi", L::MulHi(a, b));
    put("Weigh", L::Weigh(c, L::Load(in.mul.data() + i), L::Load(in.hi.data() + i)));
    put("WeighBy", L::WeighBy(c, w));
    put("GreaterEqual", lanes(ge));
    put("Equal", lanes(eq));
    put("NonZero", lanes(nz));
    put("MaskAnd", lanes(L::MaskAnd(ge, nz)));
    put("MaskOr", lanes(L::MaskOr(eq, nz)));
    put("NoLanes", lanes(L::NoLanes()));
    put("AnyLane", whole(L::AnyLane(eq)));
    put("AllLanes", whole(L::AllLanes(ge)));
    put("AnyLane(NoLanes)", whole(L::AnyLane(L::NoLanes())));
    put("ZeroWhere", L::ZeroWhere(a, ge));
    put("KeepWhere", L::KeepWhere(a, ge));
    put("Select", L::Select(a, b, nz));
    put("IncrementWhere", L::IncrementWhere(a, ge));
    put("LargestLane", L::Splat(L::LargestLane(a)));
  }
}
