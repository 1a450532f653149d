#pragma once
#include "platform/HiddenWindow.h"
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace pelvox {

class TBindingEventManager;

// One subscription on the event bus. Creating it registers it with the bus;
// destroying it unregisters it. Created and freed on the user-interface thread.
class TBindingEvent {
public:
    using THandler = std::function<void(TBindingEvent& sender)>;

    TBindingEvent();
    // Convenience: a UI-thread subscription to one name.
    TBindingEvent(const QString& name, THandler handler);
    ~TBindingEvent();
    TBindingEvent(const TBindingEvent&) = delete;
    TBindingEvent& operator=(const TBindingEvent&) = delete;

    int32_t EventType() const { return FEventType; }
    void SetEventType(int32_t v) { FEventType = v; }
    const QString& EventName() const { return FEventName; }
    void SetEventName(const QString& v);
    bool UIThread() const { return FUIThread; }
    void SetUIThread(bool v) { FUIThread = v; }
    void SetOnExecute(THandler h) { FOnExecute = std::move(h); }
    bool HasOnExecute() const { return bool(FOnExecute); }

    // The delivery's parameters and result. They belong to the delivery that
    // runs the handler and are only meaningful inside it.
    uintptr_t EventParam1() const { return FEventParam1; }
    uintptr_t EventParam2() const { return FEventParam2; }
    int32_t EventResult() const { return FEventResult; }
    void SetEventResult(int32_t v) { FEventResult = v; }
    template <typename T>
    T* Param1As() const { return reinterpret_cast<T*>(FEventParam1); }

private:
    friend class TBindingEventManager;
    int32_t FEventType = 0;
    QString FEventName;
    size_t FNameHash = 0;
    bool FUIThread = false;
    THandler FOnExecute;
    uintptr_t FEventParam1 = 0;
    uintptr_t FEventParam2 = 0;
    int32_t FEventResult = 0;
    std::mutex FDeliveryLock; // serialises deliveries that run off the UI thread
    std::shared_ptr<std::atomic<bool>> FAlive;
};

// The process-wide named event bus.
class TBindingEventManager {
public:
    static constexpr uint32_t WM_EXECUTE_EVENT = WM_USER + 100; // 1124

    TBindingEventManager();
    ~TBindingEventManager();
    TBindingEventManager(const TBindingEventManager&) = delete;
    TBindingEventManager& operator=(const TBindingEventManager&) = delete;

    // The one instance; created on first use (on the user-interface thread
    // during start-up) and kept for the life of the process.
    static TBindingEventManager& Instance();

    void AddEvent(TBindingEvent* AItem);
    void RemoveEvent(TBindingEvent* AItem);
    // Runs every subscription whose type and name (without regard to case)
    // match; returns the result of the last one, 0 when none matched.
    int32_t ExecuteEvent(int32_t AType, const QString& AName, uintptr_t AParam1, uintptr_t AParam2);

    size_t Count() const;

private:
    struct Collected {
        TBindingEvent* Item;
        std::shared_ptr<std::atomic<bool>> Alive;
    };
    struct Job {
        const Collected* C;
        uintptr_t P1, P2;
        int32_t Result;
    };
    // Runs one delivery on the current thread; returns its result.
    static int32_t Deliver(const Collected& c, uintptr_t p1, uintptr_t p2);
    intptr_t WndProc(uint32_t msg, uintptr_t wParam, intptr_t lParam);

    std::unique_ptr<THiddenWindow> FWindowHandle;
    mutable std::mutex FBindingEventListLock;
    std::vector<TBindingEvent*> FBindingEventList;
};

// Shorthand for raising an event on the process-wide bus.
inline int32_t RaiseEvent(const QString& name, uintptr_t p1 = 0, uintptr_t p2 = 0)
{
    return TBindingEventManager::Instance().ExecuteEvent(0, name, p1, p2);
}

} // namespace pelvox
