#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "image/AEException.h"
#include "shell/SuiteHolder.h"

namespace {

// A basic suite that serves any suite and records the order of calls.
struct Recorder {
  std::vector<std::pair<std::string, int32_t>> acquired, released;
  SPErr answer = 0;
  bool answerNull = false;
};
Recorder recorder;
int dummySuite;

SPErr Acquire(const char* name, int32_t version, const void** suite) {
  recorder.acquired.emplace_back(name, version);
  *suite = recorder.answerNull ? nullptr : &dummySuite;
  return recorder.answer;
}
SPErr Release(const char* name, int32_t version) {
  recorder.released.emplace_back(name, version);
  return 0;
}

class SuiteHolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder = Recorder{};
    basic.AcquireSuite = &Acquire;
    basic.ReleaseSuite = &Release;
  }
  SPBasicSuite basic{};
};

// Acquired out of order, released in the holder's fixed order, each once,
// under the name and version it was acquired with.
TEST_F(SuiteHolderTest, ReleasesEachAcquiredSuiteOnceInItsOrder) {
  {
    SuiteHolder holder(&basic);
    for (SuiteHolder::Suite suite : {SuiteHolder::PFIterate16Suite, SuiteHolder::AEGPLayerSuite,
                                     SuiteHolder::PFParamUtilsSuite, SuiteHolder::AEGPLayerSuite}) {
      EXPECT_EQ(holder.Get(suite), &dummySuite);
    }
    EXPECT_EQ(recorder.acquired.size(), 3u);
    EXPECT_TRUE(recorder.released.empty());
  }
  const std::vector<std::pair<std::string, int32_t>> expected = {
      {"AEGP Layer Suite", 7}, {"PF Param Utils Suite", 1}, {"PF iterate16 Suite", 1}};
  EXPECT_EQ(recorder.released, expected);
}

TEST_F(SuiteHolderTest, RefusedOrMissingSuitesRaiseSuiteNotFound) {
  auto expectNotFound = [](auto fn) {
    try {
      fn();
      ADD_FAILURE() << "no SuiteNotFound";
    } catch (const SuiteNotFound& e) {
      EXPECT_EQ(e.Code(), 13);
      EXPECT_STREQ(e.Message(), "Suite not found");
    }
  };
  expectNotFound([] { SuiteHolder holder(nullptr); });
  recorder.answer = 1;
  expectNotFound([this] {
    SuiteHolder holder(&basic);
    holder.Get(SuiteHolder::PFParamUtilsSuite);
  });
  recorder.answer = 0;
  recorder.answerNull = true;
  expectNotFound([this] {
    SuiteHolder holder(&basic);
    holder.Get(SuiteHolder::AEGPLayerSuite);
  });
  EXPECT_TRUE(recorder.released.empty()) << "a refused suite was released";
}

}  // namespace
