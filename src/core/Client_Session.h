#pragma once
#include "platform/DateTime.h"
#include <QString>
#include <cstdint>

namespace pelvox {

class TBitDocument;

// What the data managers need of the signed-in session. The session object
// implements it and registers itself; managers never touch the connection.
class ISession {
public:
    virtual ~ISession() = default;
    virtual bool Logined() const = 0;
    // Serialises the document and queues it on the command connection.
    virtual void SendMainCmdData(TBitDocument& ADoc, bool ACompress = false) = 0;
    // The server's clock in local time.
    virtual TDateTime ServerTime() const = 0;
    // The signed-in user's folder, ending with "/".
    virtual QString UserRoot() const = 0;
    virtual uint32_t CurrentUserId() const = 0;
};

// Every data manager is created by the session and called at login and logout.
class IDataManager {
public:
    virtual ~IDataManager() = default;
    virtual void InitWhenLoginSuccess(const TBitDocument& ALoginAnswer) { (void)ALoginAnswer; }
    virtual void UpdateDataWhenLogout() {}
};

// The process-wide session (null before the session object exists).
ISession* Session();
void SetSession(ISession* session);

} // namespace pelvox
