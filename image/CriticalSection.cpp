#include "image/CriticalSection.h"

#ifdef _WIN32
AE_CriticalSection::AE_CriticalSection() { InitializeCriticalSection(&section); }
AE_CriticalSection::~AE_CriticalSection() { DeleteCriticalSection(&section); }
void AE_CriticalSection::Enter() { EnterCriticalSection(&section); }
void AE_CriticalSection::Leave() { LeaveCriticalSection(&section); }
#else
AE_CriticalSection::AE_CriticalSection() = default;
AE_CriticalSection::~AE_CriticalSection() = default;
void AE_CriticalSection::Enter() { section.lock(); }
void AE_CriticalSection::Leave() { section.unlock(); }
#endif
