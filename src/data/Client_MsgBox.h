#pragma once
#include "core/Client_Session.h"
#include "data/Client_Common.h"
#include "platform/DateTime.h"
#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <memory>

namespace pelvox {

class TBitDocument;

enum TMsgBoxItemType : uint8_t {
    mbitChatMsg = 0,
    mbitGroupChatMsg = 1,
    mbitRoomChatMsg = 2,
    mbitJoinRequest = 3,
    mbitJoinResponse = 4,
    mbitJoinGroupRequest = 5,
    mbitJoinGroupResponse = 6,
    mbitJoinRoomRequest = 7,
    mbitJoinRoomResponse = 8,
    mbitSystem = 9,
};

// A read-write property over a field of the same name with the F prefix.
#define PELVOX_MSGBOX_PROPERTY(Type, Name)              \
public:                                                 \
    const Type& Name() const { return F##Name; }        \
    void Set##Name(const Type& AValue) { F##Name = AValue; } \
                                                        \
private:                                                \
    Type F##Name{};

// One item waiting to be seen. Items are owned by the manager's lists.
class TMsgBoxItem {
public:
    virtual ~TMsgBoxItem() = default;
    TMsgBoxItem(const TMsgBoxItem&) = delete;
    TMsgBoxItem& operator=(const TMsgBoxItem&) = delete;

    TMsgBoxItemType ItemType() const { return FItemType; }
    // Whether the item makes the tray and the views blink.
    bool NeedBlink() const { return FNeedBlink; }
    void SetNeedBlink(bool AValue) { FNeedBlink = AValue; }
    // The icon shown while blinking: the item's own copy.
    const QImage& BlinkIcon() const { return FBlinkIcon; }
    void SetBlinkIcon(const QImage& AValue) { FBlinkIcon = AValue; }
    // Seen; read items stay listed until removed.
    bool Readed() const { return FReaded; }
    void SetReaded(bool AValue) { FReaded = AValue; }

    // The id that names the item's source (sender, group or room); false for
    // kinds without one (system messages).
    virtual bool SourceId(int32_t& AId) const { return false; }

protected:
    explicit TMsgBoxItem(TMsgBoxItemType AType) : FItemType(AType) {}

private:
    TMsgBoxItemType FItemType;
    bool FNeedBlink = true;
    QImage FBlinkIcon;
    bool FReaded = false;
};

template <TMsgBoxItemType K> class TMsgBoxItemOf : public TMsgBoxItem {
public:
    static constexpr TMsgBoxItemType Kind = K;
    TMsgBoxItemOf() : TMsgBoxItem(K) {}
};

// What every message item carries: the message and its sender.
template <TMsgBoxItemType K> class TMsgBoxItem_Message : public TMsgBoxItemOf<K> {
    PELVOX_MSGBOX_PROPERTY(QByteArray, MsgId)
    PELVOX_MSGBOX_PROPERTY(TMsgLevel, MsgLevel)
    PELVOX_MSGBOX_PROPERTY(QString, Content)
    PELVOX_MSGBOX_PROPERTY(QString, FontString)
    PELVOX_MSGBOX_PROPERTY(QStringList, SuperObjects)
    PELVOX_MSGBOX_PROPERTY(int32_t, Sender_UserId)
    PELVOX_MSGBOX_PROPERTY(QString, Sender_NickName)
    PELVOX_MSGBOX_PROPERTY(QString, Sender_ActualName)
    PELVOX_MSGBOX_PROPERTY(TDateTime, SendTime)
};

class TMsgBoxItem_ChatMsg : public TMsgBoxItem_Message<mbitChatMsg> {
public:
    bool SourceId(int32_t& AId) const override { return AId = Sender_UserId(), true; }
    PELVOX_MSGBOX_PROPERTY(TMsgType, MsgType)
};

class TMsgBoxItem_GroupChatMsg : public TMsgBoxItem_Message<mbitGroupChatMsg> {
public:
    bool SourceId(int32_t& AId) const override { return AId = FGroupId, true; }
    PELVOX_MSGBOX_PROPERTY(int32_t, GroupId)
    PELVOX_MSGBOX_PROPERTY(QString, GroupName)
};

class TMsgBoxItem_RoomChatMsg : public TMsgBoxItem_Message<mbitRoomChatMsg> {
public:
    bool SourceId(int32_t& AId) const override { return AId = FRoomId, true; }
    PELVOX_MSGBOX_PROPERTY(int32_t, RoomId)
    PELVOX_MSGBOX_PROPERTY(QString, RoomName)
};

// The six join kinds: a text and the person it came from, some with a group or
// room id and an answer.
template <TMsgBoxItemType K> class TMsgBoxItemJoin : public TMsgBoxItemOf<K> {
public:
    bool SourceId(int32_t& AId) const override { return AId = FSender, true; }
    PELVOX_MSGBOX_PROPERTY(QString, Content)
    PELVOX_MSGBOX_PROPERTY(int32_t, Sender)
};

template <TMsgBoxItemType K> class TMsgBoxItemJoinAnswer : public TMsgBoxItemJoin<K> {
    PELVOX_MSGBOX_PROPERTY(bool, Agree)
};

class TMsgBoxItem_JoinRequest : public TMsgBoxItemJoin<mbitJoinRequest> {};
class TMsgBoxItem_JoinResponse : public TMsgBoxItemJoinAnswer<mbitJoinResponse> {};
class TMsgBoxItem_JoinGroupRequest : public TMsgBoxItemJoin<mbitJoinGroupRequest> {
    PELVOX_MSGBOX_PROPERTY(int32_t, GroupId)
};
class TMsgBoxItem_JoinGroupResponse : public TMsgBoxItemJoinAnswer<mbitJoinGroupResponse> {
    PELVOX_MSGBOX_PROPERTY(int32_t, GroupId)
};
class TMsgBoxItem_JoinRoomRequest : public TMsgBoxItemJoin<mbitJoinRoomRequest> {
    PELVOX_MSGBOX_PROPERTY(int32_t, RoomId)
};
class TMsgBoxItem_JoinRoomResponse : public TMsgBoxItemJoinAnswer<mbitJoinRoomResponse> {
    PELVOX_MSGBOX_PROPERTY(int32_t, RoomId)
};

class TMsgBoxItem_System : public TMsgBoxItemOf<mbitSystem> {
    PELVOX_MSGBOX_PROPERTY(int64_t, SysMsgId)
    PELVOX_MSGBOX_PROPERTY(QString, Title)
    PELVOX_MSGBOX_PROPERTY(QString, Category)
    PELVOX_MSGBOX_PROPERTY(QString, Content)
    PELVOX_MSGBOX_PROPERTY(QString, Link)
    PELVOX_MSGBOX_PROPERTY(QString, Attachfile)
    PELVOX_MSGBOX_PROPERTY(int16_t, NeedReaded)
    PELVOX_MSGBOX_PROPERTY(int16_t, NeedFeedback)
    // The system message's own flag; hides the item's Boolean of the same name.
    PELVOX_MSGBOX_PROPERTY(int16_t, Readed)
    PELVOX_MSGBOX_PROPERTY(int16_t, Feedback)
    PELVOX_MSGBOX_PROPERTY(QString, FeedbackText)
    PELVOX_MSGBOX_PROPERTY(TDateTime, SendTime)
};

#undef PELVOX_MSGBOX_PROPERTY

// An owning list of items; index 0 is the newest. Removing an item frees it.
class TMsgBoxItemList {
public:
    int Count() const { return int(FItems.size()); }
    TMsgBoxItem* Items(int AIndex) const { return FItems.at(size_t(AIndex)).get(); }
    TMsgBoxItem* operator[](int AIndex) const { return Items(AIndex); }
    // Inserts at the front and returns the item.
    template <class T> T* InsertFront(std::unique_ptr<T> AItem)
    {
        T* raw = AItem.get();
        FItems.push_front(std::move(AItem));
        return raw;
    }
    void Delete(int AIndex) { FItems.erase(FItems.begin() + AIndex); }
    void Clear() { FItems.clear(); }

    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::deque<std::unique_ptr<TMsgBoxItem>> FItems;
};

// What has arrived and waits to be seen: Items (the unread items the tray and
// views show) and StoredItems (items set aside for a window about to take
// them). Used on the user-interface thread only, so it takes no lock. Every
// change of Items made here is bracketed by EventBeforeChange and
// EventAfterChange, the second also when the change fails.
class TMsgBoxManager : public IDataManager {
public:
    static inline const QString EventBeforeChange = QStringLiteral("Client:OnMsgBoxBeforeChange");
    static inline const QString EventAfterChange = QStringLiteral("Client:OnMsgBoxAfterChange");
    static inline const QString EventStopAllBlink = QStringLiteral("Client:OnStopAllBlink");
    static inline const QString EventStopBlinkUserFace = QStringLiteral("Client:OnStopBlinkUserFace");
    static inline const QString EventStopBlinkGroup = QStringLiteral("Client:OnStopBlinkGroup");
    static inline const QString EventStopBlinkRoom = QStringLiteral("Client:OnStopBlinkRoom");

    TMsgBoxManager() = default;
    TMsgBoxManager(const TMsgBoxManager&) = delete;
    TMsgBoxManager& operator=(const TMsgBoxManager&) = delete;

    TMsgBoxItemList& StoredItems() { return FStoredItems; }
    TMsgBoxItemList& Items() { return FItems; }

    // Adds the join items of the login answer (no change events).
    void InitWhenLoginSuccess(const TBitDocument& ADoc) override;
    // Empties both lists, so the next account never sees this one's items.
    void UpdateDataWhenLogout() override;
    // After each login: ask for the system messages kept for the user.
    void AfterLoginSuccess() override { GetUserSysMsgs(); }

    // Asks the server to push the user's system messages (signed in only).
    void GetUserSysMsgs();

    // Unread items (only those that blink when AOnlyNeedBlink); AMsgClassCount
    // receives the number of distinct sources among all unread items.
    int GetUnReadMsgBoxItemCount(bool AOnlyNeedBlink, int& AMsgClassCount) const;
    // The newest unread item (that blinks, when AOnlyNeedBlink), or null.
    TMsgBoxItem* GetFirstUnReadMsgBoxItem(bool AOnlyNeedBlink) const;
    // The source key of an item: its kind, "-" and its source id; empty for a
    // system message.
    static QString SourceKey(const TMsgBoxItem& AItem);

    void IgnoreAllMsgBoxItems();
    void IgnoreChatMsgs(int32_t AUserId);
    void IgnoreGroupChatMsgs(int32_t AGroupId);
    void IgnoreRoomChatMsgs(int32_t ARoomId);

    // Only from Items: the chat window takes its set-aside items itself.
    void RemoveChatMsg(int32_t AUserId);
    // From StoredItems and then from Items.
    void RemoveGroupChatMsg(int32_t AGroupId);
    void RemoveRoomChatMsg(int32_t ARoomId);
    void RemoveJoinRequest(int32_t AUserId);
    void RemoveJoinResponse(int32_t AUserId);
    void RemoveJoinGroupRequest(int32_t AGroupId, int32_t AUserId);
    void RemoveJoinGroupResponse(int32_t AGroupId, int32_t AUserId);
    void RemoveJoinRoomRequest(int32_t ARoomId, int32_t AUserId);
    void RemoveJoinRoomResponse(int32_t ARoomId, int32_t AUserId);

    void DoBeforeChange();
    void DoAfterChange();

private:
    template <class Pred> void MarkRead(Pred APred);
    template <class Pred> static void RemoveFrom(TMsgBoxItemList& AList, Pred APred);

    TMsgBoxItemList FStoredItems;
    TMsgBoxItemList FItems;
};

} // namespace pelvox
