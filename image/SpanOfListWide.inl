// The body of SpanOfList for the wide instruction sets, written once against
// a struct `W` of vector operations that the including file defines inside
// that set's target region (Scale.cpp, once for AVX2 and once for AVX-512),
// so that the code is compiled for that set. No includes: the including file
// provides them.
//
// W::kPixels pixels to a vector V, four 16-bit lanes each. The sums are the
// ones ApplyContributors adds, in 32-bit lanes twice as wide: the unpacks
// and packs work within 128-bit quarters, so the sums lie permuted while
// they add up and the packs put them back in order. Makes whole vectors of
// pixels, two a walk of the list while they last, and answers how many
// pixels (none where a weight needs more than 16 bits).
template <typename Pixel>
int32_t SpanOfListWide(const ContributorList& list, const char* origin, intptr_t step,
                       int32_t indexBase, int32_t pixels, const Pixel* background, Pixel* out) {
  using V = typename W::V;
  using Full = typename W::Full;
  constexpr int32_t kMax = PixelTraits<Pixel>::kMax;
  constexpr int32_t kPixels = W::kPixels;
  int32_t f[4];
  if (!BackgroundFill(list, background, f)) return 0;
  const V fill = W::Fill(f);
  const V max16 = W::Splat16(kMax);
  const V max32 = W::Splat32(kMax);
  constexpr intptr_t kVectorBytes = kPixels * sizeof(Pixel);
  auto walk = [&](int32_t i, auto vectors) {
    V lo[vectors.value];
    V hi[vectors.value];
    Full full[vectors.value];
    for (int32_t n = 0; n < vectors.value; ++n) {
      lo[n] = W::Zero();
      hi[n] = W::Zero();
      full[n] = W::AllFull();
    }
    for (int32_t k = 0; k < list.count; ++k) {
      const int32_t weight = list.p[k].weight;
      const bool negative = weight < 0;
      const V w16 = W::Splat16(negative ? weight + 0x10000 : weight);
      const char* at = origin + (list.p[k].pixel - indexBase) * step +
                       static_cast<intptr_t>(i) * static_cast<intptr_t>(sizeof(Pixel));
      for (int32_t n = 0; n < vectors.value; ++n) {
        const V c = W::template LoadPixels<Pixel>(at + n * kVectorBytes);
        full[n] = W::KeepFull(full[n], c, max16);
        // A filter's zero crossings land on whole pixels when the scale keeps
        // the size (the cubics' outer taps): such a tap adds only its alpha.
        if (weight == 0) continue;
        const V low = W::MulLo(c, w16);
        const V high = W::MulHi(c, w16);
        V p0 = W::UnpackLo16(low, high);
        V p1 = W::UnpackHi16(low, high);
        // A negative weight is its 16-bit pattern less 2^16: each product is
        // corrected by c << 16, and the sums wrap as the 32-bit ones do.
        if (negative) {
          p0 = W::Sub32(p0, W::UnpackLo16(W::Zero(), c));
          p1 = W::Sub32(p1, W::UnpackHi16(W::Zero(), c));
        }
        lo[n] = W::Add32(lo[n], p0);
        hi[n] = W::Add32(hi[n], p1);
      }
    }
    for (int32_t n = 0; n < vectors.value; ++n) {
      // Values lie in 0 .. 32768 at most: the unsigned pack keeps them.
      V packed = W::PackUnsigned(W::Clamp(lo[n], fill, max32), W::Clamp(hi[n], fill, max32));
      // A fully opaque footprint stays exactly opaque.
      packed = W::OpaqueAlpha(packed, full[n], max16);
      W::StorePixels(out + i + kPixels * n, packed);
    }
  };
  int32_t i = 0;
  for (; i + 2 * kPixels <= pixels; i += 2 * kPixels) walk(i, std::integral_constant<int32_t, 2>{});
  for (; i + kPixels <= pixels; i += kPixels) walk(i, std::integral_constant<int32_t, 1>{});
  return i;
}
