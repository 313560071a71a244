#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "image/AEException.h"
#include "shell/SuiteHolder.h"

namespace {

std::vector<std::pair<std::string, int32_t>> acquired, released;
SPErr answer = 0;
bool answerNull = false;
int dummySuite;

SPErr Acquire(const char* name, int32_t version, const void** suite) {
  acquired.emplace_back(name, version);
  *suite = answerNull ? nullptr : &dummySuite;
  return answer;
}
SPErr Release(const char* name, int32_t version) {
  released.emplace_back(name, version);
  return 0;
}

// Acquired out of order and once each, released in the holder's fixed order
// under the name and version they were acquired with; a refused or missing
// suite is SuiteNotFound and is never released.
TEST(SuiteHolder, ReleasesEachAcquiredSuiteOnceInItsOrder) {
  SPBasicSuite basic{};
  basic.AcquireSuite = &Acquire;
  basic.ReleaseSuite = &Release;
  {
    SuiteHolder holder(&basic);
    for (auto suite : {SuiteHolder::PFIterate16Suite, SuiteHolder::AEGPLayerSuite,
                       SuiteHolder::PFParamUtilsSuite, SuiteHolder::AEGPLayerSuite})
      EXPECT_EQ(holder.Get(suite), &dummySuite);
    EXPECT_EQ(acquired.size(), 3u);
    EXPECT_TRUE(released.empty());
  }
  const std::vector<std::pair<std::string, int32_t>> expected = {
      {"AEGP Layer Suite", 7}, {"PF Param Utils Suite", 1}, {"PF iterate16 Suite", 1}};
  EXPECT_EQ(released, expected);

  released.clear();
  for (int fault = 0; fault < 3; ++fault) {
    SCOPED_TRACE(fault);
    answer = fault == 1 ? 1 : 0;
    answerNull = fault == 2;
    try {
      SuiteHolder holder(fault == 0 ? nullptr : &basic);
      holder.Get(SuiteHolder::PFParamUtilsSuite);
      ADD_FAILURE() << "no SuiteNotFound";
    } catch (const SuiteNotFound& e) {
      EXPECT_EQ(e.Code(), 13);
      EXPECT_STREQ(e.Message(), "Suite not found");
    }
  }
  EXPECT_TRUE(released.empty()) << "a refused suite was released";
}

}  // namespace
