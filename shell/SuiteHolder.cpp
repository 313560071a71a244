#include "shell/SuiteHolder.h"

#include "image/AEException.h"

namespace {

struct SuiteName {
  const char* name;
  int32_t version;
};

// The versions this effect was built against; a host that only has another
// version of a suite refuses it.
constexpr SuiteName kSuites[SuiteHolder::SuiteCount] = {
    {"AEGP Layer Suite", 7},        {"AEGP Stream Suite", 4},
    {"AEGP Keyframe Suite", 1},     {"AEGP Comp Suite", 6},
    {"AEGP Proj Suite", 2},         {"AEGP Canvas Suite", 6},
    {"AEGP Camera Suite", 2},       {"AEGP Register Suite", 1},
    {"AEGP Memory Suite", 1},       {"AEGP Item Suite", 3},
    {"AEGP PF Interface Suite", 1}, {"PF Path Query Suite", 1},
    {"PF Path Data Suite", 1},      {kPFParamUtilsSuite, kPFParamUtilsSuiteVersion1},
    {"PF AE App Suite", 1},         {"AEGP Light Suite", 2},
    {"AEGP Effect Suite", 1},       {"AEGP Layer Mask Suite", 3},
    {"AEGP Mask Outline Suite", 3}, {"AEGP Footage Suite", 3},
    {"AEGP Command Suite", 1},      {"AEGP Utility Suite", 3},
    {"PF ANSI Suite", 1},           {"PF Handle Suite", 1},
    {"PF Fill Matte Suite", 1},     {"PF World Transform Suite", 1},
    {"AEGP Composite Suite", 2},    {"PF World Suite", 1},
    {"AEGP IO In Suite", 1},        {"AEGP IO Out Suite", 1},
    {"AEGP Render Queue Suite", 1}, {"AEGP File Import Manager Suite", 2},
    {"PF Sampling8 Suite", 1},      {"PF Sampling16 Suite", 1},
    {"PF Iterate8 Suite", 1},       {"PF iterate16 Suite", 1},
    {"AEGP Collection Suite", 1},   {"PF World Suite", 2},
};

}  // namespace

SuiteHolder::SuiteHolder(SPBasicSuite* basicSuite) : basic(basicSuite), suites{} {
  if (basic == nullptr) throw SuiteNotFound();
}

SuiteHolder::~SuiteHolder() {
  for (int32_t i = 0; i < SuiteCount; ++i) {
    if (suites[i] != nullptr) basic->ReleaseSuite(kSuites[i].name, kSuites[i].version);
  }
}

const void* SuiteHolder::Acquire(const char* name, int32_t version) {
  const void* suite = nullptr;
  if (basic->AcquireSuite == nullptr || basic->AcquireSuite(name, version, &suite) != 0 ||
      suite == nullptr)
    throw SuiteNotFound();
  return suite;
}

const void* SuiteHolder::Get(Suite suite) {
  if (suites[suite] == nullptr) suites[suite] = Acquire(Name(suite), Version(suite));
  return suites[suite];
}

const char* SuiteHolder::Name(Suite suite) { return kSuites[suite].name; }

int32_t SuiteHolder::Version(Suite suite) { return kSuites[suite].version; }
