#pragma once
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <map>

namespace pelvox {

constexpr uint32_t WM_TIMER = 0x0113;
constexpr uint32_t WM_USER = 0x0400;

// A message target on the user-interface thread: a window procedure
// (msg, wParam, lParam) -> result, posted and sent messages, and timers that
// arrive as WM_TIMER with the timer id in wParam. Exceptions the procedure
// raises go to the central exception handler.
class THiddenWindow : public QObject {
    Q_OBJECT
public:
    using WndProc = std::function<intptr_t(uint32_t msg, uintptr_t wParam, intptr_t lParam)>;
    explicit THiddenWindow(WndProc proc);
    ~THiddenWindow() override;

    // Queued; runs later on the UI thread (dropped when the window is gone).
    void Post(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
    // Runs the procedure on the UI thread; from another thread the caller
    // waits for it. Returns 0 when the window is gone or an exception was raised.
    intptr_t Send(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
    // Starts or restarts the timer with this id. UI thread only.
    void SetTimer(uintptr_t id, int intervalMs);
    void KillTimer(uintptr_t id);
    bool HasTimer(uintptr_t id) const { return FTimers.count(id) != 0; }
    size_t TimerCount() const { return FTimers.size(); }

protected:
    bool event(QEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    intptr_t Dispatch(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    WndProc FProc;
    std::map<uintptr_t, int> FTimers; // our id -> Qt timer id
};

} // namespace pelvox
