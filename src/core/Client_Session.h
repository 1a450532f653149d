#pragma once
#include "platform/DateTime.h"
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

namespace pelvox {

class TBitDocument;
class TOtherUser;

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
    // Called with a successful login answer on the thread that received it,
    // before InitWhenLoginSuccess gets the same document on the UI thread: a
    // manager may build its structures here, off the UI thread, into
    // something private that InitWhenLoginSuccess then swaps in. It must not
    // touch anything the UI thread uses.
    virtual void PrepareLoginData(const TBitDocument& ALoginAnswer) { (void)ALoginAnswer; }
    virtual void InitWhenLoginSuccess(const TBitDocument& ALoginAnswer) { (void)ALoginAnswer; }
    virtual void UpdateDataWhenLogout() {}
    // The requests a manager sends once the login has succeeded (offline
    // messages, offline files, system messages, missing icons). Called on the
    // UI thread for the web applications, chat, file transfer and message box,
    // in that order.
    virtual void AfterLoginSuccess() {}
};

// The process-wide session (null before the session object exists).
ISession* Session();
void SetSession(ISession* session);

// The fifteen manager slots of the session, in creation order (which is also
// the order of UpdateDataWhenLogout at logout).
enum class TManagerKind {
    Department,
    Contact,
    AddressList,
    Group,
    Room,
    WebVisitor,
    WebApp,
    RecentItem,
    Chat,
    AVChat,
    FileTrans,
    RemoteDesktop,
    MsgBox,
    USERDB,
    Search,
};
constexpr int ManagerKindCount = int(TManagerKind::Search) + 1;

// Upper layers register how each manager is made; a kind without a factory
// gets an empty manager. Registered at start-up, before the session exists.
using TManagerFactory = std::function<std::unique_ptr<IDataManager>()>;
void RegisterManagerFactory(TManagerKind AKind, TManagerFactory AFactory);
// Forgets every factory (tests that run without the data layer).
void ClearManagerFactories();
// A new manager of that kind (an empty one when no factory is registered).
std::unique_ptr<IDataManager> CreateManager(TManagerKind AKind);

// The user's message store, as the session opens and closes it; the
// message-store manager implements it.
class IMessageStore {
public:
    virtual ~IMessageStore() = default;
    virtual bool OpenUserDatabase(const QString& AUserRoot) = 0;
    virtual void CloseUserDatabase() = 0;
};

// Lookup of any other person (contacts, colleagues, members), registered by
// the data layer.
class IPersonDirectory {
public:
    virtual ~IPersonDirectory() = default;
    virtual std::shared_ptr<TOtherUser> FindOtherUser(const QString& AUserIdOrName) = 0;
};
void SetPersonDirectory(std::shared_ptr<IPersonDirectory> ADirectory);
std::shared_ptr<IPersonDirectory> PersonDirectory();

} // namespace pelvox
