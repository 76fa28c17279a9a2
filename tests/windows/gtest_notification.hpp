// Forced into every GoogleTest unit of the Windows builds. GoogleTest's own
// Notification needs std::mutex, which MinGW's win32 thread model lacks; it is
// used only by GoogleTest's threading helpers, so a spinning flag is enough.
#pragma once

#include <atomic>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : notified_(false) {}
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) {
        }
    }

private:
    std::atomic<bool> notified_;
};

}  // namespace internal
}  // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1
