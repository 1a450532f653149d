#pragma once
#include "platform/UIThread.h"
#include <atomic>

namespace pelvox {

// A process-wide stop flag that waiters check in their wait predicates.
// Setting it wakes every UIThread::WaitUntil wait, so they notice at once.
class TStopFlag {
public:
    void Set(bool value)
    {
        FValue.store(value);
        UIThread::Wake();
    }
    bool IsSet() const { return FValue.load(); }
    explicit operator bool() const { return IsSet(); }

private:
    std::atomic<bool> FValue{false};
};

} // namespace pelvox
