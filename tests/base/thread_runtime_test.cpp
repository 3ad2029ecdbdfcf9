// The thread functions that stand in for the POSIX thread library under the C++ runtime keep
// the POSIX and C++ rules the runtime relies on: a once routine that throws leaves the flag not
// done, and a deleted key takes every thread's value with it.
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>

extern "C" {
int pthread_key_create(unsigned* key, void (*destructor)(void*));
int pthread_key_delete(unsigned key);
void* pthread_getspecific(unsigned key);
int pthread_setspecific(unsigned key, const void* value);
}

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

TEST(ThreadRuntime, AKeyMadeAgainInADeletedKeysSlotStartsEmptyInEveryThread) {
  unsigned key = 0;
  ASSERT_EQ(0, pthread_key_create(&key, nullptr));
  int here = 0, there = 0;
  ASSERT_EQ(0, pthread_setspecific(key, &here));
  void* seenThere = nullptr;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr), go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  auto other = [&] {
    pthread_setspecific(key, &there);
    SetEvent(ready);
    WaitForSingleObject(go, INFINITE);
    seenThere = pthread_getspecific(key);
  };
  HANDLE thread = nullptr;
  OnAnotherThread(other, &thread);
  ASSERT_NE(nullptr, thread);
  WaitForSingleObject(ready, INFINITE);
  ASSERT_EQ(0, pthread_key_delete(key));
  unsigned again = 99;
  ASSERT_EQ(0, pthread_key_create(&again, nullptr));
  EXPECT_EQ(key, again) << "the slot is used again";
  EXPECT_EQ(nullptr, pthread_getspecific(again));
  SetEvent(go);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_EQ(nullptr, seenThere);
  pthread_key_delete(again);
  CloseHandle(ready);
  CloseHandle(go);
}

}  // namespace
