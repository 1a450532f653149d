#include "core/Client_Session.h"
#include <array>
#include <atomic>
#include <mutex>

namespace pelvox {

namespace {
std::atomic<ISession*> gSession{nullptr};

// Registration happens at start-up, reads when a session is created; the lock
// only keeps tests that re-register honest.
struct TRegistry {
    std::mutex Lock;
    std::array<TManagerFactory, ManagerKindCount> Factories;
    std::shared_ptr<IPersonDirectory> Directory;
};
TRegistry& Registry()
{
    static TRegistry r;
    return r;
}
} // namespace

ISession* Session() { return gSession.load(); }
void SetSession(ISession* session) { gSession.store(session); }

void RegisterManagerFactory(TManagerKind AKind, TManagerFactory AFactory)
{
    auto& r = Registry();
    std::lock_guard l(r.Lock);
    r.Factories.at(size_t(AKind)) = std::move(AFactory);
}

void ClearManagerFactories()
{
    auto& r = Registry();
    std::lock_guard l(r.Lock);
    for (auto& f : r.Factories) f = nullptr;
}

std::unique_ptr<IDataManager> CreateManager(TManagerKind AKind)
{
    TManagerFactory f;
    {
        auto& r = Registry();
        std::lock_guard l(r.Lock);
        f = r.Factories.at(size_t(AKind));
    }
    std::unique_ptr<IDataManager> m = f ? f() : nullptr;
    return m ? std::move(m) : std::make_unique<IDataManager>();
}

void SetPersonDirectory(std::shared_ptr<IPersonDirectory> ADirectory)
{
    auto& r = Registry();
    std::lock_guard l(r.Lock);
    r.Directory = std::move(ADirectory);
}

std::shared_ptr<IPersonDirectory> PersonDirectory()
{
    auto& r = Registry();
    std::lock_guard l(r.Lock);
    return r.Directory;
}

} // namespace pelvox
