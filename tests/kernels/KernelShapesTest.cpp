// The separable kernel makers: size rules, the profiles each shape writes,
// the kernels built from them, and the holder that carries one kernel.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "image/AEException.h"
#include "image/Containers.h"
#include "kernels/KernelMaker.h"
#include "kernels/KernelStorage.h"
#include "shell/HostInfo.h"

namespace {

// Just enough of a host for the profiles: the box smoothing polls abort and
// progress once per column; abort answers abortAnswer.
struct PollingHost {
  PF_InData inData{};
  PF_Err abortAnswer = PF_Err_NONE;

  PollingHost() {
    inData.effect_ref = reinterpret_cast<PF_ProgPtr>(this);
    inData.inter.abort = [](PF_ProgPtr ref) -> PF_Err {
      return reinterpret_cast<PollingHost*>(ref)->abortAnswer;
    };
    inData.inter.progress = [](PF_ProgPtr, A_long, A_long) -> PF_Err { return PF_Err_NONE; };
  }
};

enum Shape { Gaussian, Diamond, SharpDiamond, Box, Cylinder };
const char* const kNames[] = {"Gaussian", "Diamond", "SharpDiamond", "Box", "Cylinder"};

std::unique_ptr<KernelMaker1D> Make(Shape s, PF_InData* inData) {
  switch (s) {
    case Gaussian:
      return std::make_unique<GaussianKernelMaker>(inData);
    case Diamond:
      return std::make_unique<DiamondKernelMaker>(inData);
    case SharpDiamond:
      return std::make_unique<SharpDiamondKernelMaker>();
    case Box:
      return std::make_unique<BoxKernelMaker>(inData);
    case Cylinder:
      return std::make_unique<CylinderKernelMaker>(inData);
  }
  return nullptr;
}

std::vector<int32_t> Profile(KernelMaker1D& maker, double amount, bool horizontal) {
  int32_t length = 0;
  maker.GetProfileLength(amount, &length, horizontal);
  std::vector<int32_t> profile(static_cast<size_t>(length), 0);
  maker.MakeProfile(profile.data(), amount, horizontal);
  return profile;
}

class KernelShapes : public ::testing::Test {
 protected:
  // The Gaussians below are the effect's own formula, which a host without a
  // recorded version gets.
  void SetUp() override { ResetHostInfo(); }
  PollingHost host;
};

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
  Shape shape;
  double amount;
  bool horizontal;
  std::vector<int32_t> expected;
};

class ReferenceProfiles : public KernelShapes, public ::testing::WithParamInterface<ProfileCase> {};

TEST_P(ReferenceProfiles, MatchTheTable) {
  const ProfileCase& c = GetParam();
  auto maker = Make(c.shape, &host.inData);
  EXPECT_EQ(Profile(*maker, c.amount, c.horizontal), c.expected)
      << kNames[c.shape] << " amount " << c.amount << (c.horizontal ? " across" : " down");
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

// 5 x 5 kernels are the outer product of their profiles (the Gaussian's
// already peak at 32767, which the kernel's normalisation keeps): Diamond
// 8192 at (1, 1) and a zero ring, Gaussian 32766 at the centre.
TEST_F(KernelShapes, KernelsAreOuterProductsOfTheirProfiles) {
  struct Case {
    Shape shape;
    int32_t profile[5];
  };
  const Case cases[] = {{Diamond, {0, 16384, 32768, 16384, 0}},
                        {Gaussian, {1437, 15002, 32767, 15002, 1437}}};
  for (const Case& c : cases) {
    auto maker = Make(c.shape, &host.inData);
    SimpleKernelHolder holder(2, 2, maker.get());
    const KernelView& v = holder.View();
    ASSERT_EQ(v.width, 5);
    ASSERT_EQ(v.height, 5);
    EXPECT_EQ(v.rowStride, 5);
    for (int32_t j = 0; j < 5; ++j) {
      for (int32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(v.Weight(i, j), (c.profile[i] * c.profile[j]) >> 15)
            << kNames[c.shape] << " " << i << ", " << j;
      }
    }
  }
}

// The box smoothing polls the host; an abort there leaves the kernel build
// and reaches the holder's user with the host's code.
TEST_F(KernelShapes, AbortWhileSmoothingTheBoxLeavesTheHolder) {
  for (Shape shape : {Box, Cylinder}) {
    auto maker = Make(shape, &host.inData);
    host.abortAnswer = PF_Interrupt_CANCEL;
    KernelHolderFactory factory;
    try {
      AEObjectAutoPointer<SimpleKernelHolder> holder(factory.MakeHolder(4, 4, maker.get()));
      ADD_FAILURE() << kNames[shape] << ": no exception";
    } catch (const AEException& e) {
      EXPECT_EQ(e.Code(), PF_Interrupt_CANCEL);
      EXPECT_STREQ(e.Message(), "UI Ping: Error or user Abort.");
    }
    host.abortAnswer = PF_Err_NONE;
  }
}

}  // namespace
