// The separable kernel makers: size rules and the profiles each shape writes.
#include <vector>

#include "shapes/ShapesSupport.h"

namespace {

using namespace shapestest;

TEST(KernelSizes, BaseAndPaddedLengths) {
  struct Case {
    double amount;
    int32_t base;
    int32_t padded;
  };
  const Case cases[] = {{0, 1, 1},     {0.3, 3, 5},    {1.5, 5, 7},
                        {9.9, 21, 23}, {50, 101, 105}, {130, 261, 269}};
  for (const Case& c : cases) {
    EXPECT_EQ(BaseKernelLength(c.amount), c.base) << "amount " << c.amount;
    EXPECT_EQ(PaddedBoxLength(c.amount), c.padded) << "amount " << c.amount;
  }
}

struct ProfileCase {
  Separable shape;
  double amount;
  bool horizontal;
  std::vector<int32_t> expected;
};

class ReferenceProfiles : public ::testing::TestWithParam<ProfileCase> {};

// The Gaussians are the effect's own formula, which a host without a
// recorded version gets.
TEST_P(ReferenceProfiles, MatchTheTable) {
  const ProfileCase& c = GetParam();
  softhost::Host host;
  auto maker = MakeSeparable(c.shape, host.InData());
  int32_t length = 0;
  maker->GetProfileLength(c.amount, &length, c.horizontal);
  std::vector<int32_t> profile(static_cast<size_t>(length), 0);
  maker->MakeProfile(profile.data(), c.amount, c.horizontal);
  EXPECT_EQ(profile, c.expected) << kSeparableNames[c.shape] << " amount " << c.amount
                                 << (c.horizontal ? " across" : " down");
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReferenceProfiles,
    ::testing::Values(ProfileCase{Gaussian, 0, true, {32768}}, ProfileCase{Box, 0, true, {32768}},
                      ProfileCase{Cylinder, 0, true, {32768}},
                      ProfileCase{Gaussian, 1, true, {1438, 32767, 1438}},
                      ProfileCase{Gaussian, 2, false, {1437, 15002, 32767, 15002, 1437}},
                      ProfileCase{Diamond, 2, true, {0, 16384, 32768, 16384, 0}},
                      ProfileCase{Diamond, 2.5, false, {0, 6554, 19661, 32768, 19661, 6554, 0}},
                      ProfileCase{SharpDiamond, 2, true, {0, 8192, 32768, 8192, 0}},
                      ProfileCase{SharpDiamond, 1.5, false, {0, 3641, 32768, 3641, 0}},
                      ProfileCase{Box, 1.5, false, {0, 0, 32768, 32768, 32768, 0, 0}},
                      ProfileCase{Box, 2, true, {0, 16384, 32768, 32768, 32768, 16384, 0}},
                      ProfileCase{Cylinder, 2, true, {0, 16384, 32768, 32768, 32768, 16384, 0}},
                      ProfileCase{Cylinder, 2, false, {1437, 15002, 32767, 15002, 1437}}));

}  // namespace
