// One frei0r instance: a software host of its own holding the effect's
// parameters, driven through the effect's entry point as the command-line
// host drives it. Each update copies the frei0r frames (R, G, B, A bytes,
// straight alpha) into 8-bit worlds (alpha, red, green, blue) unchanged, as
// the command-line host does with an 8-bit PNG file, renders, and copies the
// result back.
//
// frei0r lets a host call one instance from one thread at a time; MLT breaks
// that rule when it cuts frames into strips, so every call takes the
// instance's lock, and a strip is reported (a blur cannot be right across
// strip edges).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "frei0r/Parameters.h"
#include "softhost/SoftHost.h"

namespace qbfrei0r {

class Instance {
 public:
  // Null, with the reason written to stderr, when the effect cannot be used.
  static std::unique_ptr<Instance> Create(PluginKind kind, unsigned width, unsigned height);

  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  void Set(int index, const void* param);
  void Get(int index, void* param);
  void Update(double time, const uint32_t* first, const uint32_t* second, uint32_t* out);

 private:
  struct Value {
    double number = 0;  // double and bool parameters
    int choice = 0;     // popups: 1-based
    LayerSource layer = LayerSource::None;
    std::string text;  // string parameters, as get_param_value shows them
  };

  Instance(PluginKind kind, unsigned width, unsigned height, PF_EffectMainFunc entry);
  bool Prepare();
  Value DefaultOf(const ParamSpec& spec);
  Value Parse(const ParamSpec& spec, const void* param) const;
  void CheckStrip(double time, const uint32_t* first);
  void Render(double time, const uint32_t* first, const uint32_t* second, uint32_t* out);
  void ApplyValues(const softhost::SoftWorld* second);

  PluginKind kind;
  int32_t width;  // limited to what the host can render; see tooLarge
  int32_t height;
  size_t frameBytes;  // of the frames the host hands, whatever their size
  bool tooLarge;
  PF_EffectMainFunc entry;
  const std::vector<ParamSpec>& specs;
  std::vector<Value> values;
  std::vector<Value> defaults;
  softhost::Host host;
  std::mutex mutex;
  bool rendered = false;
  double lastTime = 0;
  uintptr_t lastFirst = 0;
};

}  // namespace qbfrei0r
