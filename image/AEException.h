// The one exception type through which the effect reports a failure: a fixed
// message of at most 254 characters and a 32-bit code (1 for the effect's own
// failures, or the PF_Err of the host callback that failed).
#pragma once

#include <cstdint>

class AEException {
 public:
  explicit AEException(const char* text);
  AEException(int32_t errorCode, const char* text);
  AEException(const AEException& other);
  AEException& operator=(const AEException& other);
  virtual ~AEException();

  const char* Message() const { return message; }
  int32_t Code() const { return code; }

 protected:
  void SetText(const char* text);

  char message[256];
  int32_t code;
};

// Raised when the host has no basic suite or refuses a suite.
class SuiteNotFound : public AEException {
 public:
  SuiteNotFound();
  SuiteNotFound(const SuiteNotFound& other);
};
