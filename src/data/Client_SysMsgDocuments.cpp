#include "data/Client_SysMsgDocuments.h"
#include "core/BitDocument.h"
#include "core/Client_Base.h"
#include "core/Client_BindingEvents.h"
#include "core/Client_NotifyFromServer.h"
#include "data/Client_Managers.h"

namespace pelvox {

namespace {

void OnReceivedSysMsg(const TBitDocument& ADoc, uint32_t)
{
    TMsgBoxManager* box = MsgBoxManager();
    if (!box) return;
    TGlobalClient* client = GlobalClient();
    auto item = std::make_unique<TMsgBoxItem_System>();
    item->SetSysMsgId(ADoc.ReadInt64(u"sysmsgid"));
    item->SetTitle(ADoc.ReadString(u"title"));
    item->SetCategory(ADoc.ReadString(u"category"));
    item->SetContent(ADoc.ReadString(u"content"));
    const QString link = ADoc.ReadString(u"link");
    item->SetLink(client ? client->ConvertURLVariants(link) : link);
    item->SetAttachfile(ADoc.ReadString(u"attachfile"));
    item->SetNeedReaded(ADoc.ReadInt16(u"needreaded"));
    item->SetNeedFeedback(ADoc.ReadInt16(u"needfeedback"));
    item->SetSendTime(UTCToLocalTime(ADoc.ReadFloat64(u"sendtime")));
    TMsgBoxItem_System* sys = box->StoredItems().InsertFront(std::move(item));
    if (TUSERDBManager* store = USERDBManager()) {
        // A history that cannot be written must not stop the notification.
        try {
            store->AddSysMsg(sys->SysMsgId(), sys->Title(), sys->Category(), sys->Content(), sys->Link(), sys->Attachfile(),
                             sys->NeedReaded(), sys->NeedFeedback(), sys->SendTime());
        } catch (const std::exception&) {
        }
    }
    RaiseEvent(QStringLiteral("Client:OnReceivedSysMsg"));
    RaiseEvent(QStringLiteral("Client:OnSysMsgRefresh"));
}

} // namespace

void RegisterSysMsgDocumentHandlers(TNotifyFromServer& ADispatcher)
{
    ADispatcher.RegisterHandler(QStringLiteral("Server:ReceivedSysMsg"), OnReceivedSysMsg);
}

} // namespace pelvox
