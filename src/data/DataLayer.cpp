#include "data/DataLayer.h"
#include "core/Client_NotifyFromServer.h"
#include "data/Client_FaceDownload.h"
#include "data/Client_Managers.h"
#include "data/Client_SysMsgDocuments.h"
#include "data/Client_UserDocuments.h"
#include <mutex>

namespace pelvox {

namespace {

// FindOtherUser: contacts first, then colleagues, group and room members;
// one manager lock at a time.
class TPersonDirectory : public IPersonDirectory {
public:
    std::shared_ptr<TOtherUser> FindOtherUser(const QString& AUserIdOrName) override
    {
        if (TContactManager* m = ContactManager()) {
            std::lock_guard guard(m->Mutex());
            if (TContact* c = m->FindContact(AUserIdOrName, false)) return c->shared_from_this();
        }
        if (TDepartmentManager* m = DepartmentManager()) {
            std::lock_guard guard(m->Mutex());
            if (TDepartNode* n = m->FindDepartUser(AUserIdOrName)) return n->shared_from_this();
        }
        for (IPersonHolder* h : {GroupMembers(), RoomMembers()})
            if (h)
                if (auto p = h->FindPerson(AUserIdOrName)) return p;
        return nullptr;
    }
};

} // namespace

void InstallDataLayer()
{
    static std::once_flag once;
    RegisterManagerFactory(TManagerKind::Department, [] { return std::make_unique<TDepartmentManager>(); });
    RegisterManagerFactory(TManagerKind::Contact, [] { return std::make_unique<TContactManager>(); });
    RegisterManagerFactory(TManagerKind::MsgBox, [] { return std::make_unique<TMsgBoxManager>(); });
    RegisterManagerFactory(TManagerKind::USERDB, [] { return std::make_unique<TUSERDBManager>(); });
    SetPersonDirectory(std::make_shared<TPersonDirectory>());
    SetPersonDownloads(std::make_shared<TPersonDownloads>());
    std::call_once(once, [] {
        AddDocumentHandlerInstaller(RegisterUserDocumentHandlers);
        AddDocumentHandlerInstaller(RegisterSysMsgDocumentHandlers);
    });
}

} // namespace pelvox
