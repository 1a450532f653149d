#include "data/Client_MsgBox.h"
#include "core/BitDocument.h"
#include "core/Client_BindingEvents.h"
#include "core/Client_BugReport.h"
#include "data/Client_TrayIcons.h"
#include <unordered_set>

namespace pelvox {

namespace {

// Raises the before-change event now and the after-change event when the
// list work is over, also when it ends with an error.
class TChangeBracket {
public:
    explicit TChangeBracket(TMsgBoxManager& AOwner) : FOwner(AOwner) { FOwner.DoBeforeChange(); }
    ~TChangeBracket()
    {
        GuardedCall(QStringLiteral("Client"), QStringLiteral("Client_MsgBox"), QStringLiteral("DoAfterChange"),
                    [this] { FOwner.DoAfterChange(); });
    }
    TChangeBracket(const TChangeBracket&) = delete;
    TChangeBracket& operator=(const TChangeBracket&) = delete;

private:
    TMsgBoxManager& FOwner;
};

template <class T> bool Is(const TMsgBoxItem& AItem) { return AItem.ItemType() == T::Kind; }

template <class T, class Pred> auto KindWhere(Pred APred)
{
    return [APred](const TMsgBoxItem& AItem) { return Is<T>(AItem) && APred(static_cast<const T&>(AItem)); };
}

// Entries of the join lists of the login answer, filled from their nodes.
template <class T> std::unique_ptr<TMsgBoxItem> ReadJoin(const TBitNode& AEntry)
{
    auto item = std::make_unique<T>();
    item->SetContent(AEntry.ReadString(u"content"));
    item->SetSender(AEntry.ReadInt32(u"sender"));
    if constexpr (requires { item->SetAgree(true); }) item->SetAgree(AEntry.ReadInt16(u"agree") == 1);
    if constexpr (requires { item->SetGroupId(0); }) item->SetGroupId(AEntry.ReadInt32(u"groupid"));
    if constexpr (requires { item->SetRoomId(0); }) item->SetRoomId(AEntry.ReadInt32(u"roomid"));
    return item;
}

struct TJoinList {
    const char16_t* NodeName;
    std::unique_ptr<TMsgBoxItem> (*Read)(const TBitNode&);
};

const TJoinList JoinLists[] = {
    {u"joinrequests", &ReadJoin<TMsgBoxItem_JoinRequest>},
    {u"joinresponses", &ReadJoin<TMsgBoxItem_JoinResponse>},
    {u"joingrouprequests", &ReadJoin<TMsgBoxItem_JoinGroupRequest>},
    {u"joingroupresponses", &ReadJoin<TMsgBoxItem_JoinGroupResponse>},
    {u"joinroomrequests", &ReadJoin<TMsgBoxItem_JoinRoomRequest>},
    {u"joinroomresponses", &ReadJoin<TMsgBoxItem_JoinRoomResponse>},
};

} // namespace

void TMsgBoxManager::InitWhenLoginSuccess(const TBitDocument& ADoc)
{
    const QImage& icon = TrayIcons().TrayIcon_SystemMessage();
    for (const TJoinList& list : JoinLists) {
        const TBitNode* node = ADoc.FindNode(list.NodeName);
        if (!node) continue;
        for (const TBitNode* entry : node->ChildNodes()) {
            TMsgBoxItem* item = FItems.InsertFront(list.Read(*entry));
            item->SetBlinkIcon(icon);
        }
    }
}

void TMsgBoxManager::UpdateDataWhenLogout()
{
    TChangeBracket bracket(*this);
    FStoredItems.Clear();
    FItems.Clear();
}

void TMsgBoxManager::GetUserSysMsgs()
{
    ISession* session = Session();
    if (!session || !session->Logined()) return;
    TBitDocument doc(QStringLiteral("SysMsg.GetUserSysMsgs"));
    session->SendMainCmdData(doc, false);
}

QString TMsgBoxManager::SourceKey(const TMsgBoxItem& AItem)
{
    int32_t id = 0;
    if (!AItem.SourceId(id)) return QString();
    return QString::number(int(AItem.ItemType())) + u'-' + QString::number(id);
}

int TMsgBoxManager::GetUnReadMsgBoxItemCount(bool AOnlyNeedBlink, int& AMsgClassCount) const
{
    // The key "kind-id" as one number: the same distinct count, no texts built.
    std::unordered_set<uint64_t> keys;
    int count = 0;
    for (const auto& item : FItems) {
        if (item->Readed()) continue;
        int32_t id = 0;
        if (item->SourceId(id)) keys.insert(uint64_t(item->ItemType()) << 32 | uint32_t(id));
        if (!AOnlyNeedBlink || item->NeedBlink()) ++count;
    }
    AMsgClassCount = int(keys.size());
    return count;
}

TMsgBoxItem* TMsgBoxManager::GetFirstUnReadMsgBoxItem(bool AOnlyNeedBlink) const
{
    for (const auto& item : FItems)
        if (!item->Readed() && (!AOnlyNeedBlink || item->NeedBlink())) return item.get();
    return nullptr;
}

template <class Pred> void TMsgBoxManager::MarkRead(Pred APred)
{
    TChangeBracket bracket(*this);
    for (const auto& item : FItems)
        if (APred(*item)) item->SetReaded(true);
}

template <class Pred> void TMsgBoxManager::RemoveFrom(TMsgBoxItemList& AList, Pred APred)
{
    for (int i = AList.Count() - 1; i >= 0; --i)
        if (APred(*AList[i])) AList.Delete(i);
}

void TMsgBoxManager::IgnoreAllMsgBoxItems()
{
    MarkRead([](const TMsgBoxItem&) { return true; });
    RaiseEvent(EventStopAllBlink);
}

void TMsgBoxManager::IgnoreChatMsgs(int32_t AUserId)
{
    MarkRead(KindWhere<TMsgBoxItem_ChatMsg>([=](const auto& m) { return m.Sender_UserId() == AUserId; }));
    RaiseEvent(EventStopBlinkUserFace, uintptr_t(uint32_t(AUserId)));
}

void TMsgBoxManager::IgnoreGroupChatMsgs(int32_t AGroupId)
{
    MarkRead(KindWhere<TMsgBoxItem_GroupChatMsg>([=](const auto& m) { return m.GroupId() == AGroupId; }));
    RaiseEvent(EventStopBlinkGroup, uintptr_t(uint32_t(AGroupId)));
}

void TMsgBoxManager::IgnoreRoomChatMsgs(int32_t ARoomId)
{
    MarkRead(KindWhere<TMsgBoxItem_RoomChatMsg>([=](const auto& m) { return m.RoomId() == ARoomId; }));
    RaiseEvent(EventStopBlinkRoom, uintptr_t(uint32_t(ARoomId)));
}

void TMsgBoxManager::RemoveChatMsg(int32_t AUserId)
{
    {
        TChangeBracket bracket(*this);
        RemoveFrom(FItems, KindWhere<TMsgBoxItem_ChatMsg>([=](const auto& m) { return m.Sender_UserId() == AUserId; }));
    }
    RaiseEvent(EventStopBlinkUserFace, uintptr_t(uint32_t(AUserId)));
}

void TMsgBoxManager::RemoveGroupChatMsg(int32_t AGroupId)
{
    {
        TChangeBracket bracket(*this);
        const auto pred = KindWhere<TMsgBoxItem_GroupChatMsg>([=](const auto& m) { return m.GroupId() == AGroupId; });
        RemoveFrom(FStoredItems, pred);
        RemoveFrom(FItems, pred);
    }
    RaiseEvent(EventStopBlinkGroup, uintptr_t(uint32_t(AGroupId)));
}

void TMsgBoxManager::RemoveRoomChatMsg(int32_t ARoomId)
{
    {
        TChangeBracket bracket(*this);
        const auto pred = KindWhere<TMsgBoxItem_RoomChatMsg>([=](const auto& m) { return m.RoomId() == ARoomId; });
        RemoveFrom(FStoredItems, pred);
        RemoveFrom(FItems, pred);
    }
    RaiseEvent(EventStopBlinkRoom, uintptr_t(uint32_t(ARoomId)));
}

void TMsgBoxManager::RemoveJoinRequest(int32_t AUserId)
{
    TChangeBracket bracket(*this);
    RemoveFrom(FItems, KindWhere<TMsgBoxItem_JoinRequest>([=](const auto& m) { return m.Sender() == AUserId; }));
}

void TMsgBoxManager::RemoveJoinResponse(int32_t AUserId)
{
    TChangeBracket bracket(*this);
    RemoveFrom(FItems, KindWhere<TMsgBoxItem_JoinResponse>([=](const auto& m) { return m.Sender() == AUserId; }));
}

void TMsgBoxManager::RemoveJoinGroupRequest(int32_t AGroupId, int32_t AUserId)
{
    TChangeBracket bracket(*this);
    RemoveFrom(FItems, KindWhere<TMsgBoxItem_JoinGroupRequest>(
                           [=](const auto& m) { return m.GroupId() == AGroupId && m.Sender() == AUserId; }));
}

void TMsgBoxManager::RemoveJoinGroupResponse(int32_t AGroupId, int32_t AUserId)
{
    TChangeBracket bracket(*this);
    RemoveFrom(FItems, KindWhere<TMsgBoxItem_JoinGroupResponse>(
                           [=](const auto& m) { return m.GroupId() == AGroupId && m.Sender() == AUserId; }));
}

void TMsgBoxManager::RemoveJoinRoomRequest(int32_t ARoomId, int32_t AUserId)
{
    TChangeBracket bracket(*this);
    RemoveFrom(FItems, KindWhere<TMsgBoxItem_JoinRoomRequest>(
                           [=](const auto& m) { return m.RoomId() == ARoomId && m.Sender() == AUserId; }));
}

void TMsgBoxManager::RemoveJoinRoomResponse(int32_t ARoomId, int32_t AUserId)
{
    TChangeBracket bracket(*this);
    RemoveFrom(FItems, KindWhere<TMsgBoxItem_JoinRoomResponse>(
                           [=](const auto& m) { return m.RoomId() == ARoomId && m.Sender() == AUserId; }));
}

void TMsgBoxManager::DoBeforeChange() { RaiseEvent(EventBeforeChange); }
void TMsgBoxManager::DoAfterChange() { RaiseEvent(EventAfterChange); }

} // namespace pelvox
