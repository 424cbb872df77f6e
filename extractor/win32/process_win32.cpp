// The process: threads, the lock, randomness, time and processors.
// rand_s: random bytes from the system, through the C runtime.
#define _CRT_RAND_S
#include <stdlib.h>

#include <process.h>

#include <cstring>

#include "win32/win32.h"

namespace rdz::sys {

using namespace win32;

Err NativeHost::random(void* buf, size_t n) {
  auto* p = static_cast<unsigned char*>(buf);
  while (n > 0) {
    unsigned int r;
    if (rand_s(&r) != 0) return ERROR_GEN_FAILURE;
    size_t take = n < sizeof r ? n : sizeof r;
    std::memcpy(p, &r, take);
    p += take;
    n -= take;
  }
  return 0;
}

void NativeHost::sleep_ms(unsigned ms) { Sleep(ms); }

ComponentLimit NativeHost::component_limit() { return {255, ComponentLimit::Unit::utf16}; }

// The program that ships always flushes: no setting on a user's machine
// may trade a whole file after a power cut for speed.
bool bench_without_flush() { return false; }

bool NativeHost::local_time_to_unix(int year, int month, int day, int hour, int minute,
                        int second, int64_t* out) {
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(year);
  local.wMonth = static_cast<WORD>(month);
  local.wDay = static_cast<WORD>(day);
  local.wHour = static_cast<WORD>(hour);
  local.wMinute = static_cast<WORD>(minute);
  local.wSecond = static_cast<WORD>(second);
  SYSTEMTIME utc;
  FILETIME ft;
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
      !SystemTimeToFileTime(&utc, &ft)) {
    return false;
  }
  *out = filetime_to_unix(ft);
  return true;
}

unsigned processor_count() {
  // The affinity mask, not the machine: a job object or `start /affinity`
  // may give this process fewer processors than the system has.
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process) {
    unsigned n = 0;
    for (; process; process &= process - 1) ++n;
    return n;
  }
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  return si.dwNumberOfProcessors ? si.dwNumberOfProcessors : 1;
}

static_assert(sizeof(SRWLOCK) <= 64 && sizeof(CONDITION_VARIABLE) <= 64);

NativeHost::NativeHost(bool flush) : flush_(flush) {
  InitializeSRWLock(reinterpret_cast<SRWLOCK*>(mutex_));
  InitializeConditionVariable(reinterpret_cast<CONDITION_VARIABLE*>(cond_));
}

// A slim lock holds nothing to free.
NativeHost::~NativeHost() {
  for (unsigned i = 0; i < kMostThreads; ++i) join_thread(i);
}

void NativeHost::lock() { AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(mutex_)); }
void NativeHost::unlock() { ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(mutex_)); }

// The slim lock's own kind of waiting; a slim condition holds nothing to free.
void NativeHost::wait() {
  SleepConditionVariableSRW(reinterpret_cast<CONDITION_VARIABLE*>(cond_),
                            reinterpret_cast<SRWLOCK*>(mutex_), INFINITE, 0);
}

void NativeHost::notify_all() {
  WakeAllConditionVariable(reinterpret_cast<CONDITION_VARIABLE*>(cond_));
}

// Windows gives handles out of a table that grows without stalling the
// threads, and sets no limit a run could reach.
size_t NativeHost::reserve_handles(size_t want) { return want; }

unsigned __stdcall NativeHost::enter(void* self) {
  auto* t = static_cast<Thread*>(self);
  t->fn(t->arg);
  return 0;
}

Err NativeHost::start_thread(unsigned slot, void (*fn)(void*), void* arg) {
  if (slot >= kMostThreads || threads_[slot].running) return ERROR_BUSY;
  Thread& t = threads_[slot];
  t.fn = fn;
  t.arg = arg;
  // Through the C runtime rather than CreateThread, so that the runtime
  // knows the thread its functions are called from.
  uintptr_t h = _beginthreadex(nullptr, 0, &NativeHost::enter, &t, 0, nullptr);
  if (h == 0) {
    Err e = last_error();
    return e ? e : ERROR_NOT_ENOUGH_MEMORY;
  }
  t.h = static_cast<intptr_t>(h);
  t.running = true;
  return 0;
}

void NativeHost::join_thread(unsigned slot) {
  if (slot >= kMostThreads || !threads_[slot].running) return;
  HANDLE h = reinterpret_cast<HANDLE>(threads_[slot].h);
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
  threads_[slot].running = false;
}

}  // namespace rdz::sys
