#include <vector>

#include "ImageTestSupport.h"
#include "image/AEWorld.h"
#include "image/AreaSample.h"

using namespace imagetest;

namespace {

struct SampleCall {
  PF_Fixed x, y, xRadius, yRadius, area;
  bool operator==(const SampleCall&) const = default;
};
std::vector<SampleCall>* gCalls = nullptr;
PF_UtilCallbacks gHost{};
PF_Err RecordedSample(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                      PF_Pixel* out) {
  gCalls->push_back({x, y, params->x_radius, params->y_radius, params->area});
  return gHost.area_sample(ref, x, y, params, out);
}

TEST(AreaSample, ScalesComeFromTheBoxAndAreClamped) {
  struct Case {
    const char* name;
    int32_t sw, sh, dw, dh;
    double bw, bh;
    SampleCall first;  // sample point of (0, 0): padded centre less half a pixel
  };
  const Case cases[] = {
      {"1:1", 6, 5, 6, 5, 6, 5, {131072, 131072, 32768, 32768, 65536}},
      {"zero box", 4, 4, 3, 3, 0.0, 4, {-8159232, 163840, 4128768, 32768, 8257536}},
      {"negative box", 4, 4, 4, 4, -2, 4, {96666, 131072, 328, 32768, 655}},
  };
  for (const Case& c : cases) {
    HostSession session;
    std::vector<SampleCall> calls;
    gCalls = &calls;
    gHost = *session.In()->utils;
    PF_UtilCallbacks utils = gHost;
    utils.area_sample = &RecordedSample;
    session.In()->utils = &utils;
    softhost::SoftWorld source(c.sw, c.sh, false), dest(c.dw, c.dh, false);
    AreaSample(session.In(), dest.World(), source.World(), c.bw, c.bh);
    gCalls = nullptr;
    ASSERT_EQ(calls.size(), static_cast<size_t>(c.dw * c.dh)) << c.name;
    const SampleCall& got = calls.front();
    EXPECT_TRUE(got == c.first) << c.name << ": x " << got.x << " y " << got.y << " radii "
                                << got.xRadius << " " << got.yRadius << " area " << got.area;
    EXPECT_EQ(session.host.LiveWorlds(), 0) << c.name;
  }
}

TEST(AreaSample, OneToOneReproducesTheSourceAndFailuresRelease) {
  for (bool deep : {false, true}) {
    HostSession session;
    softhost::SoftWorld source(6, 5, deep);
    FillNoise(source.World(), 41);
    AEWorld dest(session.In(), 6, 5, deep);
    dest.AreaSample(source.World(), 6, 5);
    EXPECT_TRUE(SameImage(dest.World(), source.World())) << "deep " << deep;

    session.host.Faults().failAreaSampleAt = 33;
    EXPECT_TRUE(RaisesAE([&] { dest.AreaSample(source.World(), 6, 5); },
                         session.host.Faults().failCode, "AreaSample: Area Sample error"));
    EXPECT_EQ(session.host.LiveWorlds(), 1);  // only the destination
  }
}

}  // namespace
