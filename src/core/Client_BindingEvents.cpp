#include "core/Client_BindingEvents.h"
#include "platform/Application.h"
#include "platform/Text.h"
#include "platform/UIThread.h"

namespace pelvox {

TBindingEvent::TBindingEvent() : FAlive(std::make_shared<std::atomic<bool>>(true))
{
    TBindingEventManager::Instance().AddEvent(this);
}

TBindingEvent::TBindingEvent(const QString& name, THandler handler) : TBindingEvent()
{
    SetEventName(name);
    FUIThread = true;
    FOnExecute = std::move(handler);
}

TBindingEvent::~TBindingEvent()
{
    *FAlive = false;
    TBindingEventManager::Instance().RemoveEvent(this);
}

void TBindingEvent::SetEventName(const QString& v)
{
    FEventName = v;
    FNameHash = FoldedHash(v);
}

TBindingEventManager::TBindingEventManager()
    : FWindowHandle(std::make_unique<THiddenWindow>(
          [this](uint32_t m, uintptr_t w, intptr_t l) { return WndProc(m, w, l); }))
{
}

TBindingEventManager::~TBindingEventManager() = default;

TBindingEventManager& TBindingEventManager::Instance()
{
    // Never freed: subscriptions of static objects may unregister late.
    static auto* bus = new TBindingEventManager();
    return *bus;
}

void TBindingEventManager::AddEvent(TBindingEvent* AItem)
{
    std::lock_guard l(FBindingEventListLock);
    FBindingEventList.push_back(AItem);
}

void TBindingEventManager::RemoveEvent(TBindingEvent* AItem)
{
    std::lock_guard l(FBindingEventListLock);
    std::erase(FBindingEventList, AItem);
}

size_t TBindingEventManager::Count() const
{
    std::lock_guard l(FBindingEventListLock);
    return FBindingEventList.size();
}

int32_t TBindingEventManager::Deliver(const Collected& c, uintptr_t p1, uintptr_t p2)
{
    // A subscription freed since it was collected is neither called nor read.
    if (!*c.Alive) return 0;
    TBindingEvent* e = c.Item;
    // The parameters and the result live on this thread for this delivery; a
    // nested delivery to the same subscription gets its own and restores ours.
    const uintptr_t saved1 = e->FEventParam1, saved2 = e->FEventParam2;
    const int32_t savedResult = e->FEventResult;
    e->FEventParam1 = p1;
    e->FEventParam2 = p2;
    e->FEventResult = 0;
    auto alive = c.Alive;
    try {
        if (e->FOnExecute) {
            auto handler = e->FOnExecute; // the handler may free its own subscription
            handler(*e);
        }
    } catch (...) {
        HandleCurrentException();
    }
    if (!*alive) return 0;
    const int32_t result = e->FEventResult;
    e->FEventParam1 = saved1;
    e->FEventParam2 = saved2;
    e->FEventResult = savedResult;
    return result;
}

int32_t TBindingEventManager::ExecuteEvent(int32_t AType, const QString& AName, uintptr_t AParam1, uintptr_t AParam2)
{
    const bool onUI = UIThread::IsUIThread();
    const size_t hash = FoldedHash(AName);
    std::vector<Collected> matches;
    {
        std::unique_lock l(FBindingEventListLock, std::defer_lock);
        if (!onUI) l.lock();
        for (TBindingEvent* e : FBindingEventList)
            if (e->FNameHash == hash && e->FEventType == AType && SameText(e->FEventName, AName))
                matches.push_back({e, e->FAlive});
    }
    int32_t result = 0;
    for (const Collected& c : matches) {
        if (!*c.Alive) continue;
        if (onUI) {
            result = Deliver(c, AParam1, AParam2);
        } else if (c.Item->FUIThread) {
            Job job{&c, AParam1, AParam2, 0};
            FWindowHandle->Send(WM_EXECUTE_EVENT, reinterpret_cast<uintptr_t>(&job), 0);
            result = job.Result;
        } else {
            // Off-thread subscriptions: one delivery at a time per subscription.
            std::lock_guard dl(c.Item->FDeliveryLock);
            result = Deliver(c, AParam1, AParam2);
        }
    }
    return result;
}

intptr_t TBindingEventManager::WndProc(uint32_t msg, uintptr_t wParam, intptr_t)
{
    if (msg != WM_EXECUTE_EVENT || wParam == 0) return 0;
    auto* job = reinterpret_cast<Job*>(wParam);
    job->Result = Deliver(*job->C, job->P1, job->P2);
    return 0;
}

} // namespace pelvox
