// The two ways the command-line host fails: a command line it cannot act on
// (exit status 2) and anything that goes wrong while acting on it (status 1,
// plain std::runtime_error). Messages are one line, naming the problem.
#pragma once

#include <stdexcept>
#include <string>

namespace qbcli {

class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace qbcli
