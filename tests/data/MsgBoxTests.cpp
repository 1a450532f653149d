#include "core/BitDocument.h"
#include "core/Client_BindingEvents.h"
#include "data/Client_MsgBox.h"
#include "data/Client_TrayIcons.h"
#include <gtest/gtest.h>

using namespace pelvox;

namespace {

using Events = QList<QPair<QString, uintptr_t>>;

// Records the message box's events in order.
class EventLog {
public:
    EventLog()
    {
        for (const QString& name : {TMsgBoxManager::EventBeforeChange, TMsgBoxManager::EventAfterChange, TMsgBoxManager::EventStopAllBlink,
                                    TMsgBoxManager::EventStopBlinkUserFace, TMsgBoxManager::EventStopBlinkGroup,
                                    TMsgBoxManager::EventStopBlinkRoom})
            FSubs.push_back(std::make_unique<TBindingEvent>(name, [this, name](TBindingEvent& e) { Log << qMakePair(name, e.EventParam1()); }));
    }
    Events Log;

private:
    std::vector<std::unique_ptr<TBindingEvent>> FSubs;
};

// Items as the handlers make them.
std::unique_ptr<TMsgBoxItem> Chat(int32_t sender, bool blink = true)
{
    auto i = std::make_unique<TMsgBoxItem_ChatMsg>();
    i->SetSender_UserId(sender);
    i->SetNeedBlink(blink);
    return i;
}
std::unique_ptr<TMsgBoxItem> Group(int32_t id, bool blink = true)
{
    auto i = std::make_unique<TMsgBoxItem_GroupChatMsg>();
    i->SetGroupId(id);
    i->SetNeedBlink(blink);
    return i;
}
std::unique_ptr<TMsgBoxItem> Room(int32_t id, bool blink = true)
{
    auto i = std::make_unique<TMsgBoxItem_RoomChatMsg>();
    i->SetRoomId(id);
    i->SetNeedBlink(blink);
    return i;
}
template <class T> std::unique_ptr<TMsgBoxItem> Join(int32_t sender, int32_t place = 0)
{
    auto i = std::make_unique<T>();
    i->SetSender(sender);
    if constexpr (requires { i->SetGroupId(0); }) i->SetGroupId(place);
    if constexpr (requires { i->SetRoomId(0); }) i->SetRoomId(place);
    return i;
}
std::unique_ptr<TMsgBoxItem> System() { return std::make_unique<TMsgBoxItem_System>(); }

using Maker = std::function<std::unique_ptr<TMsgBoxItem>()>;

void Fill(TMsgBoxItemList& list, const std::vector<Maker>& makers)
{
    for (const Maker& m : makers) list.InsertFront(m());
}

TEST(MsgBox, CountsAndClassCounts)
{
    struct Case {
        const char* name;
        std::vector<Maker> items; // oldest first
        std::function<void(TMsgBoxManager&)> op;
        int count, blinkCount, classCount;
    };
    const auto none = [](TMsgBoxManager&) {};
    const Case cases[] = {
        {"empty", {}, none, 0, 0, 0},
        {"two chats of one user and a join request", {[] { return Chat(1); }, [] { return Chat(1); }, [] { return Join<TMsgBoxItem_JoinRequest>(2); }}, none, 3, 3, 2},
        {"... after ignoring the user", {[] { return Chat(1); }, [] { return Chat(1); }, [] { return Join<TMsgBoxItem_JoinRequest>(2); }},
         [](TMsgBoxManager& m) { m.IgnoreChatMsgs(1); }, 1, 1, 1},
        {"a group message without hint", {[] { return Group(5, false); }}, none, 1, 0, 1},
        {"same id, different kinds", {[] { return Chat(5); }, [] { return Group(5); }, [] { return Room(5); }, [] { return Join<TMsgBoxItem_JoinResponse>(5); }}, none, 4, 4, 4},
        {"join requests of one person to two groups", {[] { return Join<TMsgBoxItem_JoinGroupRequest>(7, 1); }, [] { return Join<TMsgBoxItem_JoinGroupRequest>(7, 2); }}, none, 2, 2, 1},
        {"a system message has no key", {[] { return System(); }}, none, 1, 1, 0},
        {"all ignored", {[] { return Chat(1); }, [] { return Room(2); }}, [](TMsgBoxManager& m) { m.IgnoreAllMsgBoxItems(); }, 0, 0, 0},
        {"ignoring a group leaves its room twin", {[] { return Group(3); }, [] { return Room(3); }}, [](TMsgBoxManager& m) { m.IgnoreGroupChatMsgs(3); }, 1, 1, 1},
        {"ignoring a room", {[] { return Room(3); }, [] { return Room(4); }}, [](TMsgBoxManager& m) { m.IgnoreRoomChatMsgs(3); }, 1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMsgBoxManager m;
        Fill(m.Items(), c.items);
        c.op(m);
        int classes = -1;
        EXPECT_EQ(m.GetUnReadMsgBoxItemCount(false, classes), c.count);
        EXPECT_EQ(classes, c.classCount);
        classes = -1;
        EXPECT_EQ(m.GetUnReadMsgBoxItemCount(true, classes), c.blinkCount);
        EXPECT_EQ(classes, c.classCount);
        EXPECT_EQ(m.Items().Count(), int(c.items.size())); // marking never removes
    }
}

TEST(MsgBox, SourceKeys)
{
    const std::pair<Maker, QString> cases[] = {
        {[] { return Chat(7); }, "0-7"},
        {[] { return Group(8); }, "1-8"},
        {[] { return Room(9); }, "2-9"},
        {[] { return Join<TMsgBoxItem_JoinRequest>(10); }, "3-10"},
        {[] { return Join<TMsgBoxItem_JoinResponse>(11); }, "4-11"},
        {[] { return Join<TMsgBoxItem_JoinGroupRequest>(12, 99); }, "5-12"},
        {[] { return Join<TMsgBoxItem_JoinGroupResponse>(13, 99); }, "6-13"},
        {[] { return Join<TMsgBoxItem_JoinRoomRequest>(14, 99); }, "7-14"},
        {[] { return Join<TMsgBoxItem_JoinRoomResponse>(-15, 99); }, "8--15"},
        {[] { return System(); }, ""},
    };
    for (const auto& [make, key] : cases) EXPECT_EQ(TMsgBoxManager::SourceKey(*make()), key);
}

TEST(MsgBox, FirstUnreadItem)
{
    TMsgBoxManager m;
    EXPECT_EQ(m.GetFirstUnReadMsgBoxItem(false), nullptr);
    Fill(m.Items(), {[] { return Chat(1); }, [] { return Chat(2); }, [] { return Group(3, false); }});
    // Index 0 is the newest: the group item that does not blink.
    EXPECT_EQ(m.GetFirstUnReadMsgBoxItem(false), m.Items()[0]);
    EXPECT_EQ(m.GetFirstUnReadMsgBoxItem(true), m.Items()[1]);
    m.IgnoreChatMsgs(2);
    EXPECT_EQ(m.GetFirstUnReadMsgBoxItem(true), m.Items()[2]);
    m.IgnoreAllMsgBoxItems();
    EXPECT_EQ(m.GetFirstUnReadMsgBoxItem(false), nullptr);
}

TEST(MsgBox, OperationsAreBracketedByTheirEvents)
{
    const QString B = TMsgBoxManager::EventBeforeChange, A = TMsgBoxManager::EventAfterChange;
    struct Case {
        const char* name;
        std::function<void(TMsgBoxManager&)> op;
        Events expected;
    };
    const Case cases[] = {
        {"ignore all", [](TMsgBoxManager& m) { m.IgnoreAllMsgBoxItems(); }, {{B, 0}, {A, 0}, {TMsgBoxManager::EventStopAllBlink, 0}}},
        {"ignore chat", [](TMsgBoxManager& m) { m.IgnoreChatMsgs(4); }, {{B, 0}, {A, 0}, {TMsgBoxManager::EventStopBlinkUserFace, 4}}},
        {"ignore group", [](TMsgBoxManager& m) { m.IgnoreGroupChatMsgs(5); }, {{B, 0}, {A, 0}, {TMsgBoxManager::EventStopBlinkGroup, 5}}},
        {"ignore room", [](TMsgBoxManager& m) { m.IgnoreRoomChatMsgs(6); }, {{B, 0}, {A, 0}, {TMsgBoxManager::EventStopBlinkRoom, 6}}},
        {"remove chat", [](TMsgBoxManager& m) { m.RemoveChatMsg(4); }, {{B, 0}, {A, 0}, {TMsgBoxManager::EventStopBlinkUserFace, 4}}},
        {"remove group", [](TMsgBoxManager& m) { m.RemoveGroupChatMsg(5); }, {{B, 0}, {A, 0}, {TMsgBoxManager::EventStopBlinkGroup, 5}}},
        {"remove room", [](TMsgBoxManager& m) { m.RemoveRoomChatMsg(6); }, {{B, 0}, {A, 0}, {TMsgBoxManager::EventStopBlinkRoom, 6}}},
        {"remove join request", [](TMsgBoxManager& m) { m.RemoveJoinRequest(4); }, {{B, 0}, {A, 0}}},
        {"remove join response", [](TMsgBoxManager& m) { m.RemoveJoinResponse(4); }, {{B, 0}, {A, 0}}},
        {"remove group join request", [](TMsgBoxManager& m) { m.RemoveJoinGroupRequest(5, 4); }, {{B, 0}, {A, 0}}},
        {"remove group join response", [](TMsgBoxManager& m) { m.RemoveJoinGroupResponse(5, 4); }, {{B, 0}, {A, 0}}},
        {"remove room join request", [](TMsgBoxManager& m) { m.RemoveJoinRoomRequest(6, 4); }, {{B, 0}, {A, 0}}},
        {"remove room join response", [](TMsgBoxManager& m) { m.RemoveJoinRoomResponse(6, 4); }, {{B, 0}, {A, 0}}},
        {"logout", [](TMsgBoxManager& m) { m.UpdateDataWhenLogout(); }, {{B, 0}, {A, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMsgBoxManager m;
        Fill(m.Items(), {[] { return Chat(4); }});
        EventLog log;
        c.op(m);
        EXPECT_EQ(log.Log, c.expected);
    }
}

TEST(MsgBox, RemovalsTakeTheirKindAndKeyOnly)
{
    // Every kind once for source 1 (group/room 5) and once for source 2 (group/room 6).
    auto all = [](int32_t who, int32_t place) -> std::vector<Maker> {
        return {[=] { return Chat(who); }, [=] { return Group(place); }, [=] { return Room(place); },
                [=] { return Join<TMsgBoxItem_JoinRequest>(who); }, [=] { return Join<TMsgBoxItem_JoinResponse>(who); },
                [=] { return Join<TMsgBoxItem_JoinGroupRequest>(who, place); }, [=] { return Join<TMsgBoxItem_JoinGroupResponse>(who, place); },
                [=] { return Join<TMsgBoxItem_JoinRoomRequest>(who, place); }, [=] { return Join<TMsgBoxItem_JoinRoomResponse>(who, place); }};
    };
    struct Case {
        const char* name;
        std::function<void(TMsgBoxManager&)> op;
        QString gone; // the one key removed from Items
        int storedLeft;
    };
    const Case cases[] = {
        {"chat", [](TMsgBoxManager& m) { m.RemoveChatMsg(1); }, "0-1", 6},
        {"group", [](TMsgBoxManager& m) { m.RemoveGroupChatMsg(5); }, "1-5", 4},
        {"room", [](TMsgBoxManager& m) { m.RemoveRoomChatMsg(5); }, "2-5", 5},
        {"join request", [](TMsgBoxManager& m) { m.RemoveJoinRequest(1); }, "3-1", 6},
        {"join response", [](TMsgBoxManager& m) { m.RemoveJoinResponse(1); }, "4-1", 6},
        {"group join request", [](TMsgBoxManager& m) { m.RemoveJoinGroupRequest(5, 1); }, "5-1", 6},
        {"group join request of another group", [](TMsgBoxManager& m) { m.RemoveJoinGroupRequest(6, 1); }, "", 6},
        {"group join response", [](TMsgBoxManager& m) { m.RemoveJoinGroupResponse(5, 1); }, "6-1", 6},
        {"room join request", [](TMsgBoxManager& m) { m.RemoveJoinRoomRequest(5, 1); }, "7-1", 6},
        {"room join response", [](TMsgBoxManager& m) { m.RemoveJoinRoomResponse(5, 1); }, "8-1", 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMsgBoxManager m;
        Fill(m.Items(), all(1, 5));
        Fill(m.Items(), all(2, 6));
        // Set aside: a chat of 1, group 5 twice, room 5, group 6, a system message.
        Fill(m.StoredItems(), {[] { return Chat(1); }, [] { return Group(5); }, [] { return Group(5); }, [] { return Room(5); },
                               [] { return Group(6); }, [] { return System(); }});
        c.op(m);
        QStringList left;
        for (const auto& item : m.Items()) left << TMsgBoxManager::SourceKey(*item);
        EXPECT_EQ(left.size(), c.gone.isEmpty() ? 18 : 17);
        EXPECT_TRUE(c.gone.isEmpty() || !left.contains(c.gone));
        EXPECT_EQ(m.StoredItems().Count(), c.storedLeft);
    }
}

TEST(MsgBox, LoginAnswerJoinListsInOrder)
{
    TBitDocument doc(QStringLiteral("Users.Login"));
    TBitNode* root = doc.Root();
    TBitNode* requests = root->AddDirectoryNode("joinrequests");
    for (int32_t sender : {1, 2}) {
        TBitNode* e = requests->AddDirectoryNode("item");
        e->AddStringNode("content", QStringLiteral("请加我 %1").arg(sender));
        e->AddInt32Node("sender", sender);
    }
    TBitNode* answers = root->AddDirectoryNode("joingroupresponses");
    for (int16_t agree : {1, 2}) {
        TBitNode* e = answers->AddDirectoryNode("item");
        e->AddInt32Node("groupid", 50);
        e->AddStringNode("content", "ok");
        e->AddInt16Node("agree", agree);
        e->AddInt32Node("sender", 3);
    }
    TBitNode* rooms = root->AddDirectoryNode("joinroomrequests");
    TBitNode* e = rooms->AddDirectoryNode("item");
    e->AddInt32Node("roomid", 60);
    e->AddStringNode("content", "r");
    e->AddInt32Node("sender", 4);
    root->AddDirectoryNode("joinresponses"); // present but empty

    TMsgBoxManager m;
    EventLog log;
    m.InitWhenLoginSuccess(doc);
    EXPECT_TRUE(log.Log.isEmpty());
    ASSERT_EQ(m.Items().Count(), 5);
    // Each entry goes to the front: the last entry of the last list is first.
    QStringList keys;
    for (const auto& item : m.Items()) keys << TMsgBoxManager::SourceKey(*item);
    EXPECT_EQ(keys, (QStringList{"7-4", "6-3", "6-3", "3-2", "3-1"}));
    auto* room = static_cast<TMsgBoxItem_JoinRoomRequest*>(m.Items()[0]);
    EXPECT_EQ(room->RoomId(), 60);
    EXPECT_EQ(room->Content(), "r");
    auto* refused = static_cast<TMsgBoxItem_JoinGroupResponse*>(m.Items()[1]);
    auto* agreed = static_cast<TMsgBoxItem_JoinGroupResponse*>(m.Items()[2]);
    EXPECT_FALSE(refused->Agree()); // only 1 means agreed
    EXPECT_TRUE(agreed->Agree());
    EXPECT_EQ(agreed->GroupId(), 50);
    EXPECT_EQ(static_cast<TMsgBoxItem_JoinRequest*>(m.Items()[4])->Content(), QStringLiteral("请加我 1"));
    for (const auto& item : m.Items()) {
        EXPECT_TRUE(item->NeedBlink());
        EXPECT_FALSE(item->Readed());
        EXPECT_EQ(item->BlinkIcon(), TrayIcons().TrayIcon_SystemMessage());
    }

    // An answer without join lists adds nothing; logout empties both lists.
    m.InitWhenLoginSuccess(TBitDocument(QStringLiteral("Users.Login")));
    EXPECT_EQ(m.Items().Count(), 5);
    m.StoredItems().InsertFront(Chat(1));
    m.UpdateDataWhenLogout();
    EXPECT_EQ(m.Items().Count(), 0);
    EXPECT_EQ(m.StoredItems().Count(), 0);
}

TEST(MsgBox, RegisteredTrayIconsAreCopied)
{
    struct Icons : ITrayIcons {
        QImage S{4, 4, QImage::Format_ARGB32};
        const QImage& TrayIcon_SystemMessage() const override { return S; }
        const QImage& TrayIcon_GroupMessage() const override { return S; }
        const QImage& TrayIcon_RoomMessage() const override { return S; }
    } icons;
    icons.S.fill(Qt::yellow);
    SetTrayIcons(&icons);
    TBitDocument doc(QStringLiteral("Users.Login"));
    doc.Root()->AddDirectoryNode("joinrequests")->AddDirectoryNode("item")->AddInt32Node("sender", 1);
    TMsgBoxManager m;
    m.InitWhenLoginSuccess(doc);
    icons.S.fill(Qt::blue); // the source changing later does not touch the copy
    SetTrayIcons(nullptr);
    ASSERT_EQ(m.Items().Count(), 1);
    EXPECT_EQ(m.Items()[0]->BlinkIcon().pixel(0, 0), QColor(Qt::yellow).rgba());
    EXPECT_NE(TrayIcons().TrayIcon_GroupMessage(), TrayIcons().TrayIcon_RoomMessage());
}

class FakeSession : public ISession {
public:
    bool Logined() const override { return FLogined; }
    void SendMainCmdData(TBitDocument& ADoc, bool ACompress) override
    {
        Sent << ADoc.Name();
        Children << ADoc.Root()->ChildNodes().Count();
        Compressed << ACompress;
    }
    TDateTime ServerTime() const override { return 0; }
    QString UserRoot() const override { return QString(); }
    uint32_t CurrentUserId() const override { return 1; }
    bool FLogined = false;
    QStringList Sent;
    QList<int> Children;
    QList<bool> Compressed;
};

TEST(MsgBox, AsksForSystemMessagesOnlyWhenSignedIn)
{
    FakeSession session;
    SetSession(&session);
    TMsgBoxManager m;
    m.GetUserSysMsgs();
    EXPECT_TRUE(session.Sent.isEmpty());
    session.FLogined = true;
    m.GetUserSysMsgs();
    SetSession(nullptr);
    m.GetUserSysMsgs(); // no session: nothing, no crash
    EXPECT_EQ(session.Sent, QStringList{"SysMsg.GetUserSysMsgs"});
    EXPECT_EQ(session.Children, QList<int>{0});
    EXPECT_EQ(session.Compressed, QList<bool>{false});
}

} // namespace
