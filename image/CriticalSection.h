// The effect's one lock kind: a Windows critical section there, a mutex
// elsewhere. Users call Enter/Leave directly or hold a CriticalSectionGuard.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <mutex>
#endif

class AE_CriticalSection {
 public:
  AE_CriticalSection();
  AE_CriticalSection(const AE_CriticalSection&) = delete;
  AE_CriticalSection& operator=(const AE_CriticalSection&) = delete;
  virtual ~AE_CriticalSection();

  void Enter();
  void Leave();

 private:
#ifdef _WIN32
  CRITICAL_SECTION section;
#else
  std::mutex section;
#endif
};

class CriticalSectionGuard {
 public:
  explicit CriticalSectionGuard(AE_CriticalSection& s) : lock(s) { lock.Enter(); }
  CriticalSectionGuard(const CriticalSectionGuard&) = delete;
  CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;
  ~CriticalSectionGuard() { lock.Leave(); }

 private:
  AE_CriticalSection& lock;
};
