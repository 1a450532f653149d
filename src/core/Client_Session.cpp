#include "core/Client_Session.h"
#include <atomic>

namespace pelvox {

namespace {
std::atomic<ISession*> gSession{nullptr};
}

ISession* Session() { return gSession.load(); }
void SetSession(ISession* session) { gSession.store(session); }

} // namespace pelvox
