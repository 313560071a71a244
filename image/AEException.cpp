#include "image/AEException.h"

#include <cstring>

AEException::AEException(const char* text) : message{}, code(1) { SetText(text); }

AEException::AEException(int32_t errorCode, const char* text) : message{}, code(errorCode) {
  SetText(text);
}

AEException::AEException(const AEException& other) : message{}, code(other.code) {
  SetText(other.message);
}

AEException& AEException::operator=(const AEException& other) {
  if (this != &other) {
    code = other.code;
    SetText(other.message);
  }
  return *this;
}

AEException::~AEException() = default;

void AEException::SetText(const char* text) {
  // At most 255 characters are copied, but index 254 is always the end, so
  // the kept text is the first 254 characters.
  char copy[256] = {};
  for (size_t i = 0; text != nullptr && i < 254 && text[i] != '\0'; ++i) copy[i] = text[i];
  std::memcpy(message, copy, sizeof message);
}

SuiteNotFound::SuiteNotFound() : AEException(13, "Suite not found") {}

SuiteNotFound::SuiteNotFound(const SuiteNotFound& other) : AEException(1, "Unknown Error") {
  code = other.code;
  SetText(other.message);
}
