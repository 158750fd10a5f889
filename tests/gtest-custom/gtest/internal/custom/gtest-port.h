// GoogleTest's place for a platform's own building blocks: it includes this header (by
// this name, found here before its own empty one) ahead of its portability layer. The
// win32 thread model of our compilers has no std::mutex or std::condition_variable, of
// which GoogleTest makes its Notification, the gate its thread helper waits at; this
// one is a Win32 event. Included by GoogleTest itself and by every test, alike.
#pragma once

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

// Set once by one thread; every thread that waits goes on from then on.
class Notification {
  public:
    Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() {
        if (event_) CloseHandle(event_);
    }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

  private:
    HANDLE event_;
};

} // namespace testing::internal
