// The POSIX thread functions that the statically linked C++ runtime calls (once, mutexes,
// condition variables, thread-specific keys), made over the platform's own primitives and kept
// in this module's static data.
//
// The runtime's own POSIX thread library gives each calling thread an implicit thread object (a
// duplicated thread handle, an event, a TLS slot) the first time it calls pthread_once or a key
// function, and frees it only when the thread ends. A library that links the runtime statically
// calls those at every load (32-bit frame registration) or at its first exception (the
// exception state is thread-local), so each load and unload of it on a long-lived host thread
// would leave those behind, until the host runs out of TLS indexes. Here nothing is allocated
// per thread but the record of a thread's key values, and everything is given back when the
// library is freed: the locks live in static slots of this module, the one TLS index and the
// value records are freed by the cleanup that the library's exit runs last.
#define CADENZA_THREAD_RUNTIME_DEFINITION
#include "base/thread_runtime.h"

#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace {

// ---- locks: a static slot of this module per mutex or condition variable ----

// The runtime's static initializers (PTHREAD_MUTEX_INITIALIZER and its kin) and what a mutex
// word holds once bound to a slot: the slot's address with the low bit set.
constexpr intptr_t kNormalInitializer = -1;
constexpr intptr_t kErrorCheckInitializer = -2;
constexpr intptr_t kRecursiveInitializer = -3;
constexpr intptr_t kBoundTag = 1;

// What a mutex does when its owner locks it again: waits for ever (normal, as POSIX has it),
// refuses (error-checking) or counts (recursive).
enum class Kind { kNormal, kErrorCheck, kRecursive };

struct LockSlot {
  volatile LONG inUse;
  SRWLOCK lock;
  CONDITION_VARIABLE condition;
  volatile DWORD owner;  // thread id while held
  LONG depth;            // nested holds by the owner (recursive mutexes)
  Kind kind;
};

// The runtime binds a handful (frame registration, exception buffer, thread-local storage,
// static-local guards, locale); a module that needs more still works, through the heap.
constexpr int kSlots = 64;
LockSlot g_slots[kSlots];

LockSlot* NewSlot(Kind kind) {
  for (LockSlot& slot : g_slots) {
    if (InterlockedCompareExchange(&slot.inUse, 1, 0) == 0) {
      InitializeSRWLock(&slot.lock);
      InitializeConditionVariable(&slot.condition);
      slot.owner = 0;
      slot.depth = 0;
      slot.kind = kind;
      return &slot;
    }
  }
  // Past the static slots: a heap slot that is never given back (the runtime destroys hardly
  // any mutex); bounded by what the module creates, not by loads.
  auto* slot = static_cast<LockSlot*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(LockSlot)));
  if (slot == nullptr) return nullptr;
  slot->inUse = 1;
  InitializeSRWLock(&slot->lock);
  InitializeConditionVariable(&slot->condition);
  slot->kind = kind;
  return slot;
}

bool IsStaticSlot(const LockSlot* slot) { return slot >= g_slots && slot < g_slots + kSlots; }

void FreeSlot(LockSlot* slot) {
  if (IsStaticSlot(slot))
    InterlockedExchange(&slot->inUse, 0);
  else
    HeapFree(GetProcessHeap(), 0, slot);
}

// A word not bound yet holds an initializer (or 0, for zeroed memory); a bound one, the
// address of its slot with the tag bit set (slots are aligned, so the bit is free).
bool IsBound(intptr_t value) {
  return value != 0 && value != kNormalInitializer && value != kErrorCheckInitializer &&
         value != kRecursiveInitializer;
}

// The slot of a mutex or condition word, bound on first use; nullptr only when none can be had.
LockSlot* SlotOf(volatile intptr_t* word) {
  for (;;) {
    const intptr_t value = *word;
    if (IsBound(value)) return reinterpret_cast<LockSlot*>(value & ~kBoundTag);
    LockSlot* slot = NewSlot(value == kRecursiveInitializer    ? Kind::kRecursive
                             : value == kErrorCheckInitializer ? Kind::kErrorCheck
                                                               : Kind::kNormal);
    if (slot == nullptr) return nullptr;
    const intptr_t bound = reinterpret_cast<intptr_t>(slot) | kBoundTag;
    if (reinterpret_cast<intptr_t>(InterlockedCompareExchangePointer(
            reinterpret_cast<void* volatile*>(word), reinterpret_cast<void*>(bound),
            reinterpret_cast<void*>(value))) == value)
      return slot;
    FreeSlot(slot);  // another thread bound it first
  }
}

// The owner locking again: 0 (counted), EDEADLK or EBUSY (refused); -1 when the lock is to be
// taken (also a normal mutex's owner, who then waits as POSIX says it does).
int LockAgain(LockSlot* slot, int refusal) {
  if (slot->owner != GetCurrentThreadId()) return -1;
  if (slot->kind == Kind::kRecursive) {
    ++slot->depth;
    return 0;
  }
  return slot->kind == Kind::kErrorCheck ? refusal : -1;
}

int Lock(LockSlot* slot) {
  const DWORD self = GetCurrentThreadId();
  const int again = LockAgain(slot, EDEADLK);
  if (again >= 0) return again;
  AcquireSRWLockExclusive(&slot->lock);
  slot->owner = self;
  slot->depth = 1;
  return 0;
}

int Unlock(LockSlot* slot) {
  if (slot->owner != GetCurrentThreadId()) return EPERM;
  if (--slot->depth > 0) return 0;
  slot->owner = 0;
  ReleaseSRWLockExclusive(&slot->lock);
  return 0;
}

// ---- thread-specific keys ----

constexpr unsigned kKeys = 16;
constexpr int kDestructorRounds = 4;

struct KeySlot {
  volatile LONG inUse;
  void (*destructor)(void*);
};
KeySlot g_keys[kKeys];

// One record per thread that set a value: the values, linked into the module's list so that
// the library's exit can free the records of every thread.
struct ThreadRecord {
  ThreadRecord* next;
  void* values[kKeys];
};

SRWLOCK g_recordsLock = SRWLOCK_INIT;
ThreadRecord* g_records = nullptr;
volatile DWORD g_recordIndex = TLS_OUT_OF_INDEXES;

DWORD RecordIndex() {
  DWORD index = g_recordIndex;
  if (index != TLS_OUT_OF_INDEXES) return index;
  const DWORD fresh = TlsAlloc();
  if (fresh == TLS_OUT_OF_INDEXES) return fresh;
  index = static_cast<DWORD>(InterlockedCompareExchange(
      reinterpret_cast<volatile LONG*>(&g_recordIndex), static_cast<LONG>(fresh),
      static_cast<LONG>(TLS_OUT_OF_INDEXES)));
  if (index == TLS_OUT_OF_INDEXES) return fresh;
  TlsFree(fresh);  // another thread allocated it first
  return index;
}

// The calling thread's record; the platform's last error is left as it was, since the runtime
// reaches here between a failing platform call and the caller's GetLastError.
ThreadRecord* CurrentRecord() {
  const DWORD index = g_recordIndex;
  if (index == TLS_OUT_OF_INDEXES) return nullptr;
  const DWORD lastError = GetLastError();
  auto* record = static_cast<ThreadRecord*>(TlsGetValue(index));
  SetLastError(lastError);
  return record;
}

// Runs the destructors of a record's values, as a thread's end does.
void DestroyValues(ThreadRecord* record) {
  for (int round = 0; round < kDestructorRounds; ++round) {
    bool ranAny = false;
    for (unsigned key = 0; key < kKeys; ++key) {
      void* value = record->values[key];
      void (*destructor)(void*) = g_keys[key].destructor;
      if (value == nullptr) continue;
      record->values[key] = nullptr;
      if (g_keys[key].inUse && destructor != nullptr) {
        destructor(value);
        ranAny = true;
      }
    }
    if (!ranAny) return;
  }
}

void Unlink(ThreadRecord* record) {
  AcquireSRWLockExclusive(&g_recordsLock);
  for (ThreadRecord** link = &g_records; *link != nullptr; link = &(*link)->next) {
    if (*link == record) {
      *link = record->next;
      break;
    }
  }
  ReleaseSRWLockExclusive(&g_recordsLock);
}

volatile LONG g_processExiting = 0;

// Last of the library's exit (registered before any static object of the runtime): the value
// records of every thread, with their destructors, and the TLS index. Not at process exit,
// where other threads were stopped wherever they were and the heap goes with the process.
void ReleaseThreadRuntime() {
  if (g_processExiting) return;
  AcquireSRWLockExclusive(&g_recordsLock);
  ThreadRecord* records = g_records;
  g_records = nullptr;
  ReleaseSRWLockExclusive(&g_recordsLock);
  while (records != nullptr) {
    ThreadRecord* next = records->next;
    DestroyValues(records);
    HeapFree(GetProcessHeap(), 0, records);
    records = next;
  }
  if (g_recordIndex != TLS_OUT_OF_INDEXES) {
    TlsFree(g_recordIndex);
    g_recordIndex = TLS_OUT_OF_INDEXES;
  }
}

// Registered with the module's exit list before the runtime's own statics register theirs, so
// that it runs after their destructors (which may still lock or use a key).
__attribute__((constructor(101))) void RegisterRelease() { atexit(ReleaseThreadRuntime); }

// A condition wait on a held mutex: the mutex's nested holds are put aside for the wait and
// restored after it, as the thread has the lock again either way. ETIMEDOUT when the time ran out.
int Wait(volatile intptr_t* cond, volatile intptr_t* mutex, DWORD milliseconds) {
  LockSlot* condition = SlotOf(cond);
  LockSlot* held = SlotOf(mutex);
  if (condition == nullptr || held == nullptr) return ENOMEM;
  if (held->owner != GetCurrentThreadId()) return EPERM;
  const LONG depth = held->depth;
  held->owner = 0;
  held->depth = 0;
  const DWORD lastError = GetLastError();
  const bool woken = SleepConditionVariableSRW(&condition->condition, &held->lock, milliseconds, 0);
  const bool timedOut = !woken && GetLastError() == ERROR_TIMEOUT;
  SetLastError(lastError);
  held->owner = GetCurrentThreadId();
  held->depth = depth;
  return timedOut ? ETIMEDOUT : 0;
}

}  // namespace

void ThreadRuntimeDetach(DWORD dwReason, LPVOID lpReserved) noexcept {
  if (dwReason == DLL_PROCESS_DETACH) {
    if (lpReserved != nullptr) InterlockedExchange(&g_processExiting, 1);
    return;
  }
  if (dwReason != DLL_THREAD_DETACH) return;
  ThreadRecord* record = CurrentRecord();
  if (record == nullptr) return;
  DestroyValues(record);
  Unlink(record);
  TlsSetValue(g_recordIndex, nullptr);
  HeapFree(GetProcessHeap(), 0, record);
}

unsigned ThreadRuntimeRecordCount() noexcept {
  unsigned count = 0;
  AcquireSRWLockShared(&g_recordsLock);
  for (ThreadRecord* record = g_records; record != nullptr; record = record->next) ++count;
  ReleaseSRWLockShared(&g_recordsLock);
  return count;
}

// ---- the functions the runtime calls, with the POSIX thread library's types ----

extern "C" {

using pthread_once_t = long;
using pthread_key_t = unsigned;
using pthread_mutex_t = intptr_t;
using pthread_cond_t = intptr_t;
using pthread_mutexattr_t = unsigned;
using pthread_condattr_t = int;

int pthread_once(pthread_once_t* once, void (*routine)()) {
  volatile LONG* state = reinterpret_cast<volatile LONG*>(once);
  // 0 not run, 1 running, 2 done. A routine that throws leaves the state at "not run" (as
  // std::call_once requires), so that the next call, or a thread that waits, runs it again.
  struct ResetUnlessDone {
    volatile LONG* state;
    bool done = false;
    ~ResetUnlessDone() {
      if (!done) InterlockedExchange(state, 0);
    }
  };
  for (;;) {
    const LONG seen = InterlockedCompareExchange(state, 1, 0);
    if (seen == 2) return 0;
    if (seen == 0) {
      ResetUnlessDone guard{state};
      routine();
      guard.done = true;
      InterlockedExchange(state, 2);
      return 0;
    }
    if (!SwitchToThread()) Sleep(1);
  }
}

int pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t* attr) {
  // The attribute's kind as the POSIX thread library numbers it: 0 normal, 1 error-checking,
  // 2 recursive.
  const unsigned kind = attr != nullptr ? (*attr & 3) : 0;
  *mutex = kind == 2 ? kRecursiveInitializer : kind == 1 ? kErrorCheckInitializer : kNormalInitializer;
  return 0;
}

int pthread_mutex_destroy(pthread_mutex_t* mutex) {
  const intptr_t value = *mutex;
  if (IsBound(value)) FreeSlot(reinterpret_cast<LockSlot*>(value & ~kBoundTag));
  *mutex = kNormalInitializer;
  return 0;
}

int pthread_mutex_lock(pthread_mutex_t* mutex) {
  LockSlot* slot = SlotOf(mutex);
  return slot != nullptr ? Lock(slot) : ENOMEM;
}

int pthread_mutex_trylock(pthread_mutex_t* mutex) {
  LockSlot* slot = SlotOf(mutex);
  if (slot == nullptr) return ENOMEM;
  const DWORD self = GetCurrentThreadId();
  const int again = LockAgain(slot, EBUSY);
  if (again >= 0) return again;
  if (!TryAcquireSRWLockExclusive(&slot->lock)) return EBUSY;
  slot->owner = self;
  slot->depth = 1;
  return 0;
}

int pthread_mutex_unlock(pthread_mutex_t* mutex) {
  LockSlot* slot = SlotOf(mutex);
  return slot != nullptr ? Unlock(slot) : EPERM;
}

int pthread_mutexattr_init(pthread_mutexattr_t* attr) {
  *attr = 0;
  return 0;
}
int pthread_mutexattr_destroy(pthread_mutexattr_t*) { return 0; }
int pthread_mutexattr_settype(pthread_mutexattr_t* attr, int type) {
  *attr = (*attr & ~3u) | (static_cast<unsigned>(type) & 3u);
  return 0;
}

// A condition variable shares the slot kind of the mutexes; it waits on the mutex's lock.
int pthread_cond_init(pthread_cond_t* cond, const pthread_condattr_t*) {
  *cond = kNormalInitializer;
  return 0;
}
int pthread_cond_destroy(pthread_cond_t* cond) { return pthread_mutex_destroy(cond); }

int pthread_cond_wait(pthread_cond_t* cond, pthread_mutex_t* mutex) {
  return Wait(cond, mutex, INFINITE);
}

// std::condition_variable's timed waits: until an absolute time of the system clock.
int pthread_cond_timedwait(pthread_cond_t* cond, pthread_mutex_t* mutex, const struct timespec* until) {
  if (until == nullptr || until->tv_nsec < 0 || until->tv_nsec >= 1000000000L) return EINVAL;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  // 100-nanosecond units since 1601; the POSIX epoch is 1970.
  constexpr long long kEpochDifference = 116444736000000000LL;
  const long long nowUnits = ((static_cast<long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime) - kEpochDifference;
  const long long untilUnits = static_cast<long long>(until->tv_sec) * 10000000LL + until->tv_nsec / 100;
  const long long leftMs = untilUnits > nowUnits ? (untilUnits - nowUnits + 9999) / 10000 : 0;
  // Longer than a DWORD of milliseconds (49 days) waits that long; a spurious wake-up is allowed.
  return Wait(cond, mutex, leftMs >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(leftMs));
}

int pthread_cond_signal(pthread_cond_t* cond) {
  LockSlot* condition = SlotOf(cond);
  if (condition != nullptr) WakeConditionVariable(&condition->condition);
  return 0;
}

int pthread_cond_broadcast(pthread_cond_t* cond) {
  LockSlot* condition = SlotOf(cond);
  if (condition != nullptr) WakeAllConditionVariable(&condition->condition);
  return 0;
}

int pthread_key_create(pthread_key_t* key, void (*destructor)(void*)) {
  if (RecordIndex() == TLS_OUT_OF_INDEXES) return EAGAIN;
  for (unsigned k = 0; k < kKeys; ++k) {
    if (InterlockedCompareExchange(&g_keys[k].inUse, 1, 0) == 0) {
      g_keys[k].destructor = destructor;
      *key = k;
      return 0;
    }
  }
  return EAGAIN;
}

int pthread_key_delete(pthread_key_t key) {
  if (key >= kKeys) return EINVAL;
  g_keys[key].destructor = nullptr;
  // Every thread's value goes with the key (no destructor runs), so that a key made again in
  // this slot starts as NULL in every thread.
  AcquireSRWLockShared(&g_recordsLock);
  for (ThreadRecord* record = g_records; record != nullptr; record = record->next) record->values[key] = nullptr;
  ReleaseSRWLockShared(&g_recordsLock);
  InterlockedExchange(&g_keys[key].inUse, 0);
  return 0;
}

void* pthread_getspecific(pthread_key_t key) {
  ThreadRecord* record = CurrentRecord();
  return record != nullptr && key < kKeys ? record->values[key] : nullptr;
}

int pthread_setspecific(pthread_key_t key, const void* value) {
  if (key >= kKeys) return EINVAL;
  ThreadRecord* record = CurrentRecord();
  if (record == nullptr) {
    if (value == nullptr) return 0;
    const DWORD index = RecordIndex();
    if (index == TLS_OUT_OF_INDEXES) return EAGAIN;
    record = static_cast<ThreadRecord*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ThreadRecord)));
    if (record == nullptr) return ENOMEM;
    const DWORD lastError = GetLastError();
    TlsSetValue(index, record);
    SetLastError(lastError);
    AcquireSRWLockExclusive(&g_recordsLock);
    record->next = g_records;
    g_records = record;
    ReleaseSRWLockExclusive(&g_recordsLock);
  }
  record->values[key] = const_cast<void*>(value);
  return 0;
}

}  // extern "C"
