#pragma once
#include "core/Client_GlobalClient.h"
#include "data/Client_Contacts.h"
#include "data/Client_Departments.h"
#include "data/Client_MsgBox.h"
#include "data/Client_UserDb.h"
#include <functional>
#include <memory>

namespace pelvox {

// What the managers that hold people besides contacts and colleagues (group
// and room members, user-search results) offer the person updates. Those
// managers implement it; they take their own lock inside.
class IPersonHolder {
public:
    virtual ~IPersonHolder() = default;
    // Every record of that user, in list order.
    virtual void ForEachPerson(int32_t AUserId, const std::function<void(TOtherUser&)>& AFn) = 0;
    virtual std::shared_ptr<TOtherUser> FindPerson(const QString& AUserIdOrName) = 0;
};

// Typed access to the session's managers (null without a session, or when
// the slot holds no manager of that type).
template <class T>
T* SessionManager(TManagerKind AKind)
{
    TGlobalClient* c = GlobalClient();
    return c ? dynamic_cast<T*>(c->Manager(AKind)) : nullptr;
}
inline TDepartmentManager* DepartmentManager() { return SessionManager<TDepartmentManager>(TManagerKind::Department); }
inline TContactManager* ContactManager() { return SessionManager<TContactManager>(TManagerKind::Contact); }
inline TMsgBoxManager* MsgBoxManager() { return SessionManager<TMsgBoxManager>(TManagerKind::MsgBox); }
inline TUSERDBManager* USERDBManager() { return SessionManager<TUSERDBManager>(TManagerKind::USERDB); }
inline IPersonHolder* GroupMembers() { return SessionManager<IPersonHolder>(TManagerKind::Group); }
inline IPersonHolder* RoomMembers() { return SessionManager<IPersonHolder>(TManagerKind::Room); }
inline IPersonHolder* SearchResults() { return SessionManager<IPersonHolder>(TManagerKind::Search); }

} // namespace pelvox
