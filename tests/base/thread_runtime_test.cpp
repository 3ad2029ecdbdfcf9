// The thread functions that stand in for the POSIX thread library under the C++ runtime keep
// the POSIX and C++ rules the runtime relies on: the three mutex kinds, condition waits with and
// without a time, a once routine that throws leaves the flag not done, a deleted key takes every
// thread's value with it, and a thread's values are destroyed at its end.
#include <windows.h>
#include <pthread.h>  // the declarations; the definitions bound are the thread runtime's

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "base/thread_runtime.h"

namespace {

// Runs fn on a thread of its own and waits for it (std::thread would bring the POSIX thread
// library that these functions replace).
template <typename Fn>
DWORD CALLBACK RunOnThread(void* fn) {  // a thread procedure is __stdcall on x86
  (*static_cast<Fn*>(fn))();
  return 0;
}
template <typename Fn>
void OnAnotherThread(Fn& fn, HANDLE* started = nullptr) {
  HANDLE thread = CreateThread(nullptr, 0, RunOnThread<Fn>, &fn, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  if (started != nullptr) {
    *started = thread;
    return;
  }
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

bool Ends(HANDLE thread) {
  const bool ended = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return ended;
}

TEST(ThreadRuntime, EachMutexKindAnswersItsOwnerLockingAgainAsPosixSays) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
  pthread_mutex_t checked;
  pthread_mutex_init(&checked, &attr);
  EXPECT_EQ(0, pthread_mutex_lock(&checked));
  EXPECT_EQ(EDEADLK, pthread_mutex_lock(&checked)) << "refused, not a wait for ever";
  EXPECT_EQ(EBUSY, pthread_mutex_trylock(&checked));
  int answer = -1;
  auto unlockThere = [&] { answer = pthread_mutex_unlock(&checked); };
  OnAnotherThread(unlockThere);
  EXPECT_EQ(EPERM, answer) << "only the owner unlocks";
  EXPECT_EQ(0, pthread_mutex_unlock(&checked));
  EXPECT_EQ(EPERM, pthread_mutex_unlock(&checked)) << "not held";
  pthread_mutex_destroy(&checked);

  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_t counted;
  pthread_mutex_init(&counted, &attr);
  EXPECT_EQ(0, pthread_mutex_lock(&counted));
  EXPECT_EQ(0, pthread_mutex_lock(&counted));
  EXPECT_EQ(0, pthread_mutex_trylock(&counted));
  auto tryThere = [&] {
    answer = pthread_mutex_trylock(&counted);
    if (answer == 0) pthread_mutex_unlock(&counted);
  };
  for (int held = 3; held > 0; --held) {
    OnAnotherThread(tryThere);
    EXPECT_EQ(EBUSY, answer) << "held " << held << " deep";
    EXPECT_EQ(0, pthread_mutex_unlock(&counted));
  }
  OnAnotherThread(tryThere);
  EXPECT_EQ(0, answer);
  pthread_mutex_destroy(&counted);
  pthread_mutexattr_destroy(&attr);

  // The runtime's own, from their static initializers.
  std::recursive_mutex recursive;
  std::mutex normal;
  recursive.lock();
  recursive.lock();
  normal.lock();
  bool took = true;
  auto tryBoth = [&] {
    took = recursive.try_lock() || normal.try_lock();
  };
  OnAnotherThread(tryBoth);
  EXPECT_FALSE(took);
  recursive.unlock();
  recursive.unlock();
  normal.unlock();
  auto takeBoth = [&] {
    took = recursive.try_lock() && normal.try_lock();
    recursive.unlock();
    normal.unlock();
  };
  OnAnotherThread(takeBoth);
  EXPECT_TRUE(took);
}

TEST(ThreadRuntime, ConditionWaitsEndAtTheirTimeOrAtAWakeUpHoldingTheMutex) {
  std::mutex m;
  std::condition_variable cv;
  {
    std::unique_lock<std::mutex> hold(m);
    // Measured on the clock the wait is given in (the tick count moves in 16 ms steps here).
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(std::cv_status::timeout, cv.wait_for(hold, std::chrono::milliseconds(60)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
    bool took = true;
    auto tryTake = [&] {
      took = m.try_lock();
      if (took) m.unlock();
    };
    OnAnotherThread(tryTake);
    EXPECT_FALSE(took) << "held again after the wait";
  }

  int waiting = 0, woken = 0;
  bool go = false, timedWaitSawGo = false;
  auto waiter = [&] {
    std::unique_lock<std::mutex> hold(m);
    ++waiting;
    cv.notify_all();
    cv.wait(hold, [&] { return go; });
    ++woken;
  };
  auto timedWaiter = [&] {
    std::unique_lock<std::mutex> hold(m);
    ++waiting;
    cv.notify_all();
    timedWaitSawGo = cv.wait_for(hold, std::chrono::seconds(30), [&] { return go; });
    ++woken;
  };
  HANDLE first = nullptr, second = nullptr;
  OnAnotherThread(waiter, &first);
  OnAnotherThread(timedWaiter, &second);
  {
    std::unique_lock<std::mutex> hold(m);
    ASSERT_TRUE(cv.wait_for(hold, std::chrono::seconds(10), [&] { return waiting == 2; }));
    go = true;
  }
  const ULONGLONG start = GetTickCount64();
  cv.notify_all();
  EXPECT_TRUE(Ends(first));
  EXPECT_TRUE(Ends(second));
  EXPECT_LT(GetTickCount64() - start, 10000u) << "woken, not timed out";
  EXPECT_EQ(2, woken);
  EXPECT_TRUE(timedWaitSawGo);
}

TEST(ThreadRuntime, CallOnceRunsAgainAfterItsCallableThrewAlsoOnAnotherThread) {
  std::once_flag flag;
  int runs = 0;
  EXPECT_THROW(std::call_once(flag, [&] {
    ++runs;
    throw std::runtime_error("first try");
  }), std::runtime_error);
  auto callOnce = [&] { std::call_once(flag, [&] { ++runs; }); };
  OnAnotherThread(callOnce);
  std::call_once(flag, [&] { ++runs; });  // done now: not run again
  EXPECT_EQ(2, runs);
}

int g_destroyed = 0;
void* g_lastDestroyed = nullptr;
void CountDestroyed(void* value) {
  ++g_destroyed;
  g_lastDestroyed = value;
}

TEST(ThreadRuntime, AThreadsValuesAreDestroyedAtItsEnd) {
  pthread_key_t key = 0;
  ASSERT_EQ(0, pthread_key_create(&key, CountDestroyed));
  g_destroyed = 0;
  int value = 0;
  const unsigned recordsBefore = ThreadRuntimeRecordCount();
  unsigned recordsWhileSet = 0;
  auto setAndEnd = [&] {
    pthread_setspecific(key, &value);
    recordsWhileSet = ThreadRuntimeRecordCount();
    // What a library's entry point passes on when the thread ends.
    CallThreadRuntimeDetach(DLL_THREAD_DETACH, nullptr);
  };
  OnAnotherThread(setAndEnd);
  EXPECT_EQ(1, g_destroyed);
  EXPECT_EQ(&value, g_lastDestroyed);
  EXPECT_EQ(recordsBefore + 1, recordsWhileSet);
  EXPECT_EQ(recordsBefore, ThreadRuntimeRecordCount()) << "the thread's record is freed";
  pthread_key_delete(key);
}

TEST(ThreadRuntime, AKeyMadeAgainInADeletedKeysSlotStartsEmptyInEveryThread) {
  pthread_key_t key = 0;
  ASSERT_EQ(0, pthread_key_create(&key, CountDestroyed));
  g_destroyed = 0;
  int here = 0, there = 0;
  ASSERT_EQ(0, pthread_setspecific(key, &here));
  void* seenThere = nullptr;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr), go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  auto other = [&] {
    pthread_setspecific(key, &there);
    SetEvent(ready);
    WaitForSingleObject(go, INFINITE);
    seenThere = pthread_getspecific(key);
    CallThreadRuntimeDetach(DLL_THREAD_DETACH, nullptr);
  };
  HANDLE thread = nullptr;
  OnAnotherThread(other, &thread);
  ASSERT_NE(nullptr, thread);
  WaitForSingleObject(ready, INFINITE);
  ASSERT_EQ(0, pthread_key_delete(key));
  pthread_key_t again = 99;
  ASSERT_EQ(0, pthread_key_create(&again, CountDestroyed));
  EXPECT_EQ(key, again) << "the slot is used again";
  EXPECT_EQ(nullptr, pthread_getspecific(again));
  SetEvent(go);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_EQ(nullptr, seenThere);
  EXPECT_EQ(0, g_destroyed) << "no destructor runs on a deleted key's value";
  pthread_key_delete(again);
  CloseHandle(ready);
  CloseHandle(go);
}

}  // namespace
