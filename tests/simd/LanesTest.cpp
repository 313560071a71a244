// The weight encoding of the integer lanes against the Q15 product the
// straightforward loops compute, wherever the exactness limit says the lanes
// may stand in. The instruction sets themselves are held to the
// straightforward loops image by image in test_fast.
#include <gtest/gtest.h>

#include <cstdint>

#include "convolution/simd/Lanes.h"
#include "convolution/simd/Scalar.h"

namespace {

const uint16_t kWeights[] = {0,     1,     2,     3,     257,   4099,  16384, 24577,
                             32767, 32768, 32769, 40000, 49153, 65534, 65535};

// Weigh and WeighBy give (w * c) >> 15 for every channel up to the exactness
// limit, and the limit is the largest such value: one more would overflow the
// channel or the 32-bit product.
TEST(WeightEncoding, IsTheQ15ProductUpToTheExactnessLimit) {
  using S = simd::ScalarU16;
  for (const int32_t channelMax : {255, 65535}) {
    for (const int32_t w : kWeights) {
      const int32_t limit = simd::ExactChannelLimit(w, channelMax);
      SCOPED_TRACE(::testing::Message() << "weight " << w << ", channel max " << channelMax);
      const S::V mul = S::Splat(simd::WeightMul(w)), hi = S::Splat(simd::WeightHi(w));
      for (int32_t c = 0; c <= limit; ++c) {
        const auto expected = static_cast<uint16_t>((int64_t{w} * c) >> 15);
        const S::V v = S::Splat(static_cast<uint16_t>(c));
        ASSERT_EQ(S::Weigh(v, mul, hi).c[0], expected) << "channel " << c;
        ASSERT_EQ(S::WeighBy(v, S::Splat(static_cast<uint16_t>(w))).c[0], expected) << c;
      }
      const int64_t over = int64_t{w} * (limit + 1);
      EXPECT_TRUE(limit == 65535 || (over >> 15) > channelMax || over > INT32_MAX);
    }
  }
  EXPECT_EQ(simd::ExactChannelLimit(65536, 65535), -1);
  EXPECT_EQ(simd::ExactChannelLimit(0, 255), 65535);
}

}  // namespace
