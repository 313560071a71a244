#include "frei0r/Messages.h"

#include <cstdio>
#include <mutex>
#include <set>

namespace qbfrei0r {

namespace {

struct Said {
  std::mutex mutex;
  std::set<std::string> messages;
};

}  // namespace

void WarnOnce(const std::string& message) {
  // Never destroyed: host threads may still render while the process exits.
  static Said* said = new Said;
  std::lock_guard<std::mutex> lock(said->mutex);
  if (!said->messages.insert(message).second) return;
  std::fprintf(stderr, "quorvant_blur: %s\n", message.c_str());
  std::fflush(stderr);
}

}  // namespace qbfrei0r
