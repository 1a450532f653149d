#include "platform/HiddenWindow.h"
#include "platform/Application.h"
#include "platform/UIThread.h"
#include <QCoreApplication>
#include <QEvent>
#include <QTimerEvent>

namespace pelvox {

namespace {
const QEvent::Type kPostedMessage = QEvent::Type(QEvent::registerEventType());

struct PostedMessage : QEvent {
    PostedMessage(uint32_t m, uintptr_t w, intptr_t l) : QEvent(kPostedMessage), Msg(m), WParam(w), LParam(l) {}
    uint32_t Msg;
    uintptr_t WParam;
    intptr_t LParam;
};
} // namespace

THiddenWindow::THiddenWindow(WndProc proc) : FProc(std::move(proc))
{
    if (auto* app = QCoreApplication::instance(); app && thread() != app->thread()) moveToThread(app->thread());
}

THiddenWindow::~THiddenWindow() = default;

void THiddenWindow::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    QCoreApplication::postEvent(this, new PostedMessage(msg, wParam, lParam));
}

intptr_t THiddenWindow::Send(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (UIThread::IsUIThread()) return Dispatch(msg, wParam, lParam);
    intptr_t result = 0;
    QPointer<THiddenWindow> self(this);
    UIThread::Send([&] {
        if (self) result = self->Dispatch(msg, wParam, lParam);
    });
    return result;
}

intptr_t THiddenWindow::Dispatch(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    try {
        return FProc ? FProc(msg, wParam, lParam) : 0;
    } catch (...) {
        HandleCurrentException();
        return 0;
    }
}

void THiddenWindow::SetTimer(uintptr_t id, int intervalMs)
{
    KillTimer(id);
    const int qtId = startTimer(std::max(intervalMs, 1), Qt::PreciseTimer);
    if (qtId != 0) FTimers[id] = qtId;
}

void THiddenWindow::KillTimer(uintptr_t id)
{
    auto it = FTimers.find(id);
    if (it == FTimers.end()) return;
    killTimer(it->second);
    FTimers.erase(it);
}

bool THiddenWindow::event(QEvent* e)
{
    if (e->type() == kPostedMessage) {
        auto* m = static_cast<PostedMessage*>(e);
        Dispatch(m->Msg, m->WParam, m->LParam);
        return true;
    }
    return QObject::event(e);
}

void THiddenWindow::timerEvent(QTimerEvent* e)
{
    for (const auto& [id, qtId] : FTimers) {
        if (qtId == e->timerId()) {
            Dispatch(WM_TIMER, id, 0);
            return;
        }
    }
}

} // namespace pelvox
