#include "core/Client_BindingEvents.h"
#include "data/Client_UserDb.h"
#include "platform/DebugOutput.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <csignal>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pelvox;

namespace {

class UserDbTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        Db.SetDBFileName(Path());
        ASSERT_TRUE(Db.OpenDatabase());
    }
    QString Path() const { return FDir.filePath(TUSERDBManager::FileName); }

    QTemporaryDir FDir;
    TUSERDBManager Db;
};

QByteArray Id(int i) { return "m" + QByteArray::number(i); }

// One adapter per kind of history, so the paging contract runs as one table.
struct ChatKind {
    static constexpr const char* Name = "one-to-one";
    static bool Add(TUSERDBManager& db, int32_t key, const QByteArray& id, TDateTime t, int i)
    {
        // Alternate the direction: both directions are one conversation.
        const int32_t other = key + 1000;
        return i % 2 ? db.AddMessage(id, mtChatMsg, mlNormal, "c", "f", key, "", "", other, "", "", t)
                     : db.AddMessage(id, mtChatMsg, mlNormal, "c", "f", other, "", "", key, "", "", t);
    }
    static bool Read(TUSERDBManager& db, int32_t key, int size, int index, QList<QByteArray>& ids, int& maxPage)
    {
        TUSERDBOBJ_Messages out;
        const bool ok = db.GetMessages(key + 1000, key, size, index, out, maxPage);
        for (const auto& m : out) ids << m.MsgId;
        return ok;
    }
    static bool Clear(TUSERDBManager& db, int32_t key) { return db.ClearMessages(key, key + 1000); }
};

struct GroupKind {
    static constexpr const char* Name = "group";
    static bool Add(TUSERDBManager& db, int32_t key, const QByteArray& id, TDateTime t, int)
    {
        return db.AddGroupMessage(id, key, mlNormal, "c", "f", 5, "n", "a", t);
    }
    static bool Read(TUSERDBManager& db, int32_t key, int size, int index, QList<QByteArray>& ids, int& maxPage)
    {
        TUSERDBOBJ_GroupMessages out;
        const bool ok = db.GetGroupMessages(key, size, index, out, maxPage);
        for (const auto& m : out) ids << m.MsgId;
        return ok;
    }
    static bool Clear(TUSERDBManager& db, int32_t key) { return db.ClearGroupMessages(key); }
};

struct RoomKind {
    static constexpr const char* Name = "room";
    static bool Add(TUSERDBManager& db, int32_t key, const QByteArray& id, TDateTime t, int)
    {
        return db.AddRoomMessage(id, key, mlImportant, "c", "f", 5, "n", "a", t);
    }
    static bool Read(TUSERDBManager& db, int32_t key, int size, int index, QList<QByteArray>& ids, int& maxPage)
    {
        TUSERDBOBJ_RoomMessages out;
        const bool ok = db.GetRoomMessages(key, size, index, out, maxPage);
        for (const auto& m : out) ids << m.MsgId;
        return ok;
    }
    static bool Clear(TUSERDBManager& db, int32_t key) { return db.ClearRoomMessages(key); }
};

struct SmsKind {
    static constexpr const char* Name = "SMS";
    static bool Add(TUSERDBManager& db, int32_t key, const QByteArray& id, TDateTime t, int)
    {
        return db.AddSMSChatMsg(id, key, 0, "me", "13800000000", "c", t);
    }
    static bool Read(TUSERDBManager& db, int32_t key, int size, int index, QList<QByteArray>& ids, int& maxPage)
    {
        TUSERDBOBJ_SMSChatMsgs out;
        const bool ok = db.GetSMSChatMsgs(key, size, index, out, maxPage);
        for (const auto& m : out) ids << m.MsgId;
        return ok;
    }
    static bool Clear(TUSERDBManager& db, int32_t key) { return db.ClearSMSChatMsgs(key); }
};

template <class K> class HistoryTest : public UserDbTest {
protected:
    // Stores n records m0..m(n-1) whose times ascend in pairs (m0 and m1 share a
    // time, ...). They are inserted newest time first so the order read back
    // must come from the times, with equal times in insertion order.
    void Fill(int32_t key, int n)
    {
        for (int t = (n - 1) / 2; t >= 0; --t)
            for (int i = 2 * t; i < std::min(n, 2 * t + 2); ++i) ASSERT_TRUE(K::Add(Db, key, Id(i), 45000.0 + t, i));
    }
};

using HistoryKinds = ::testing::Types<ChatKind, GroupKind, RoomKind, SmsKind>;
TYPED_TEST_SUITE(HistoryTest, HistoryKinds);

TYPED_TEST(HistoryTest, PagingContract)
{
    struct Case {
        int n, size, index;
        int first, count; // records m<first>.. expected
        int maxPage;      // -1: left as it was
    };
    const Case cases[] = {
        {0, 10, 1, 0, 0, 1},     {0, 10, -1, 0, 0, 1},   {3, 80, -1, 0, 3, 1},   {25, 10, 1, 0, 5, 3},
        {25, 10, 2, 5, 10, 3},   {25, 10, 3, 15, 10, 3}, {25, 10, -1, 15, 10, 3}, {25, 10, 4, 0, 0, 3},
        {25, 10, 0, 0, 0, 3},    {25, 10, -2, 0, 0, 3},  {20, 10, 1, 0, 10, 2},  {20, 10, -1, 10, 10, 2},
        {25, 0, 1, 0, 0, -1},    {25, -5, -1, 0, 0, -1}, {25, 25, 1, 0, 25, 1},  {25, 1, 13, 12, 1, 25},
    };
    int key = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1: n=%2 size=%3 index=%4").arg(TypeParam::Name).arg(c.n).arg(c.size).arg(c.index).toStdString());
        ++key;
        this->Fill(key, c.n);
        this->Fill(key + 50, 3); // a neighbouring conversation never leaks in
        QList<QByteArray> ids;
        int maxPage = 77;
        ASSERT_TRUE(TypeParam::Read(this->Db, key, c.size, c.index, ids, maxPage));
        QList<QByteArray> expected;
        for (int i = c.first; i < c.first + c.count; ++i) expected << Id(i);
        EXPECT_EQ(ids, expected);
        EXPECT_EQ(maxPage, c.maxPage == -1 ? 77 : c.maxPage);
    }
}

TYPED_TEST(HistoryTest, ResentMessageIsKeptOnce)
{
    const QByteArray hex = "0123456789abcdef0123456789abcdef";
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(TypeParam::Add(this->Db, 1, hex, 45000.0 + i, i));
    ASSERT_TRUE(TypeParam::Add(this->Db, 2, hex, 45000.0, 0)); // another conversation keeps its own copy
    ASSERT_TRUE(TypeParam::Add(this->Db, 1, "", 45000.0, 0));  // no id: never taken for a resend
    ASSERT_TRUE(TypeParam::Add(this->Db, 1, "", 45000.0, 0));
    for (auto [key, expected] : {std::pair{1, QList<QByteArray>{hex, "", ""}}, std::pair{2, QList<QByteArray>{hex}}}) {
        QList<QByteArray> ids;
        int maxPage = 0;
        ASSERT_TRUE(TypeParam::Read(this->Db, key, 10, -1, ids, maxPage));
        EXPECT_EQ(ids, expected) << key;
    }
}

TYPED_TEST(HistoryTest, ClearRemovesOneConversationOnly)
{
    this->Fill(1, 5);
    this->Fill(2, 4);
    ASSERT_TRUE(TypeParam::Clear(this->Db, 1));
    QList<QByteArray> ids;
    int maxPage = 0;
    ASSERT_TRUE(TypeParam::Read(this->Db, 1, 10, -1, ids, maxPage));
    EXPECT_TRUE(ids.isEmpty());
    EXPECT_EQ(maxPage, 1);
    ASSERT_TRUE(TypeParam::Read(this->Db, 2, 10, -1, ids, maxPage));
    EXPECT_EQ(ids.size(), 4);
    // The cleared conversation starts afresh.
    this->Fill(1, 2);
    ids.clear();
    ASSERT_TRUE(TypeParam::Read(this->Db, 1, 10, -1, ids, maxPage));
    EXPECT_EQ(ids, (QList<QByteArray>{Id(0), Id(1)}));
}

TEST_F(UserDbTest, ClearingAPairRemovesBothDirectionsOfThatPairOnly)
{
    const int32_t me = 1, a = 2, b = 3;
    Db.AddMessage("x1", mtChatMsg, mlNormal, "to a", "", me, "", "", a, "", "", 1);
    Db.AddMessage("x2", mtChatMsg, mlNormal, "from a", "", a, "A", "", me, "", "", 2);
    Db.AddMessage("x3", mtChatMsg, mlNormal, "to b", "", me, "", "", b, "", "", 3);
    Db.AddMessage("x4", mtChatMsg, mlNormal, "a to b", "", a, "", "", b, "", "", 4);
    ASSERT_TRUE(Db.ClearMessages(me, a));
    struct {
        int32_t u1, u2;
        int count;
    } const rows[] = {{me, a, 0}, {a, me, 0}, {me, b, 1}, {b, a, 1}};
    for (const auto& r : rows) {
        TUSERDBOBJ_Messages out;
        int maxPage = 0;
        ASSERT_TRUE(Db.GetMessages(r.u1, r.u2, 10, 1, out, maxPage));
        EXPECT_EQ(int(out.size()), r.count) << r.u1 << "-" << r.u2;
    }
}

TEST_F(UserDbTest, TextsRoundTripExactly)
{
    const QString lone = QString(QChar(0xD800)) + u'a' + QChar(0xDC00) + QChar(0xDFFF);
    const QString chinese = QStringLiteral("你好，世界！[Msg_Image]图片.png[/Msg_Image]");
    QString longText;
    for (int i = 0; i < 20000; ++i) longText += QChar(0x4E00 + i % 20000);
    const QString withNul = QStringLiteral("a") + QChar(0) + QStringLiteral("b");
    for (const QString& text : {lone, chinese, longText, withNul, QString()}) {
        ASSERT_TRUE(Db.ClearMessages(1, 2));
        ASSERT_TRUE(Db.AddMessage("id", mtAutoWriteBack, mlImportant, text, text, 2, text, text, 1, text, text, 44000.5));
        ASSERT_TRUE(Db.AddGroupMessage("id", 9, mlImportant, text, text, 2, text, text, 44000.5));
        ASSERT_TRUE(Db.AddSMSChatMsg("id", 9, 1, text, text, text, 44000.5));
        ASSERT_TRUE(Db.AddSysMsg(9, text, text, text, text, text, 1, 1, 44000.5));
        TUSERDBOBJ_Messages m;
        TUSERDBOBJ_GroupMessages g;
        TUSERDBOBJ_SMSChatMsgs s;
        TUSERDBOBJ_SysMsgs y;
        int maxPage = 0;
        ASSERT_TRUE(Db.GetMessages(1, 2, 1, -1, m, maxPage));
        ASSERT_TRUE(Db.GetGroupMessages(9, 1, -1, g, maxPage));
        ASSERT_TRUE(Db.GetSMSChatMsgs(9, 1, -1, s, maxPage));
        ASSERT_EQ(Db.GetSysMsgs(1, 1, y, maxPage), 1);
        ASSERT_EQ(m.size(), 1u);
        for (const QString& got : {m[0].Content, m[0].Font, m[0].Sender_NickName, m[0].Sender_ActualName, m[0].Receiver_NickName,
                                   m[0].Receiver_ActualName, g[0].Content, g[0].Sender_NickName, s[0].Sender, s[0].Mobile,
                                   s[0].Content, y[0].Title, y[0].Content, y[0].Link, y[0].Attachfile})
            EXPECT_EQ(got, text) << text.size();
        EXPECT_EQ(m[0].MsgType, mtAutoWriteBack);
        EXPECT_EQ(m[0].MsgLevel, mlImportant);
        EXPECT_EQ(m[0].Sender_UserId, 2);
        EXPECT_EQ(m[0].Receiver_UserId, 1);
        EXPECT_EQ(m[0].Sendtime, 44000.5);
        EXPECT_EQ(g[0].GroupId, 9);
        EXPECT_EQ(s[0].ItemId, 9);
        EXPECT_EQ(s[0].Flag, 1);
        ASSERT_TRUE(Db.ClearGroupMessages(9));
        ASSERT_TRUE(Db.ClearSMSChatMsgs(9));
        ASSERT_TRUE(Db.ClearSysMsgs());
    }
}

TEST_F(UserDbTest, SystemMessagesPageNewestFirstAndCountUnread)
{
    ASSERT_TRUE(Db.BeginBatch());
    for (int i = 1; i <= 450; ++i) ASSERT_TRUE(Db.AddSysMsg(int64_t(1) << 40 | i, "t", "c", "x", "", "", 1, 0, 45000.0 + i));
    ASSERT_TRUE(Db.CommitBatch());
    QList<int> sizes;
    int maxPage = 0;
    for (int page = 1; page <= 4; ++page) {
        TUSERDBOBJ_SysMsgs out;
        sizes << Db.GetSysMsgs(200, page, out, maxPage);
        EXPECT_EQ(maxPage, 3);
        if (page == 1) {
            EXPECT_EQ(out.front().SysMsgId, int64_t(1) << 40 | 450);
        }
    }
    EXPECT_EQ(sizes, (QList<int>{200, 200, 50, 0}));

    EXPECT_EQ(Db.GetUnReadSysMsgCount(), 450);
    ASSERT_TRUE(Db.SysMsgReaded(int64_t(1) << 40 | 7));
    ASSERT_TRUE(Db.SysMsgReaded(int64_t(1) << 40 | 7));
    ASSERT_TRUE(Db.SysMsgReaded(int64_t(1) << 40 | 8));
    EXPECT_EQ(Db.GetUnReadSysMsgCount(), 448);
    // Received again: keeps its read flag and is not listed twice.
    ASSERT_TRUE(Db.AddSysMsg(int64_t(1) << 40 | 7, "t2", "c", "x", "", "", 1, 0, 46000.0));
    EXPECT_EQ(Db.GetUnReadSysMsgCount(), 448);
    ASSERT_TRUE(Db.RemoveSysMsg(int64_t(1) << 40 | 9));
    ASSERT_TRUE(Db.RemoveSysMsg(12345)); // unknown: nothing to do
    TUSERDBOBJ_SysMsgs out;
    EXPECT_EQ(Db.GetSysMsgs(1000, -1, out, maxPage), 449);
    EXPECT_EQ(Db.GetUnReadSysMsgCount(), 447);
    ASSERT_TRUE(Db.ClearSysMsgs());
    EXPECT_EQ(Db.GetUnReadSysMsgCount(), 0);
    out.clear();
    EXPECT_EQ(Db.GetSysMsgs(200, 1, out, maxPage), 0);
    EXPECT_EQ(maxPage, 1);
}

TEST_F(UserDbTest, FailedWritesAreReportedOnceAndRaised)
{
    QList<uintptr_t> raised;
    TBindingEvent sub(TUSERDBManager::EventSaveFailed, [&](TBindingEvent& e) { raised << e.EventParam1(); });
    DebugOutputCapture capture;
    const QString tooLong(TUserDbStore::MaxTextLength + 1, QChar(u'x'));
    EXPECT_FALSE(Db.AddGroupMessage("g", 1, mlNormal, tooLong, "", 1, "", "", 1));
    EXPECT_EQ(capture.Lines().size(), 1);
    EXPECT_EQ(raised, (QList<uintptr_t>{SQLITE_TOOBIG}));
    // Exactly at the limit is fine.
    EXPECT_TRUE(Db.AddGroupMessage("g", 1, mlNormal, tooLong.left(TUserDbStore::MaxTextLength), "", 1, "", "", 1));

    // A closed store: every call fails, nothing crashes.
    Db.CloseDatabase();
    raised.clear();
    TUSERDBOBJ_Messages m;
    TUSERDBOBJ_SysMsgs s;
    int maxPage = 5;
    const bool writes[] = {
        Db.AddMessage("a", mtChatMsg, mlNormal, "", "", 1, "", "", 2, "", "", 1),
        Db.AddGroupMessage("a", 1, mlNormal, "", "", 1, "", "", 1),
        Db.AddRoomMessage("a", 1, mlNormal, "", "", 1, "", "", 1),
        Db.AddSMSChatMsg("a", 1, 0, "", "", "", 1),
        Db.AddSysMsg(1, "", "", "", "", "", 0, 0, 1),
        Db.ClearMessages(1, 2), Db.ClearGroupMessages(1), Db.ClearRoomMessages(1), Db.ClearSMSChatMsgs(1), Db.ClearSysMsgs(),
        Db.RemoveMessage("a"), Db.RemoveGroupMessage("a"), Db.RemoveRoomMessage("a"), Db.RemoveSMSChatMsg("a"),
        Db.RemoveSysMsg(1), Db.SysMsgReaded(1), Db.SysMsgFeedback(1), Db.BeginBatch(), Db.CommitBatch(),
    };
    for (bool ok : writes) EXPECT_FALSE(ok);
    EXPECT_EQ(raised.size(), qsizetype(std::size(writes)));
    EXPECT_FALSE(Db.GetMessages(1, 2, 10, 1, m, maxPage));
    EXPECT_TRUE(m.empty());
    EXPECT_EQ(maxPage, 1);
    EXPECT_EQ(Db.GetSysMsgs(10, 1, s, maxPage), 0);
    EXPECT_EQ(Db.GetUnReadSysMsgCount(), 0);
    EXPECT_EQ(Db.GetUnFeedbackSysMsgCount(), 0);
}

TEST_F(UserDbTest, ForeignFileIsMovedAsideNeverOverwritten)
{
    Db.CloseDatabase();
    const QByteArray windowsStore("\x01\x00\x39\x30" "a history from another program", 34);
    auto writeFile = [&](const QByteArray& bytes) {
        QFile::remove(Path());
        QFile f(Path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    auto foreignSqlite = [&] {
        QFile::remove(Path());
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Path().toUtf8().constData(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TABLE other(x); INSERT INTO other VALUES(42);", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    };
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        for (const QString& f : QDir(FDir.path()).entryList(QDir::Files)) QFile::remove(FDir.filePath(f));
        if (round == 0) writeFile(windowsStore);
        else foreignSqlite();
        QFile orig(Path());
        ASSERT_TRUE(orig.open(QIODevice::ReadOnly));
        const QByteArray before = orig.readAll();
        orig.close();

        ASSERT_TRUE(Db.OpenDatabase());
        ASSERT_TRUE(Db.AddGroupMessage("g", 1, mlNormal, "new", "", 1, "", "", 1));
        Db.CloseDatabase();
        const QStringList aside = QDir(FDir.path()).entryList({"USERDB2.FDB.*.bad"}, QDir::Files);
        ASSERT_EQ(aside.size(), 1);
        QFile moved(FDir.filePath(aside.front()));
        ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
        EXPECT_EQ(moved.readAll(), before);
    }
}

TEST_F(UserDbTest, StoreReopensWithItsHistory)
{
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(Db.AddRoomMessage(Id(i), 3, mlNormal, "c", "", 1, "", "", 45000.0 + i));
    Db.CloseDatabase();
    ASSERT_TRUE(Db.OpenDatabase());
    TUSERDBOBJ_RoomMessages out;
    int maxPage = 0;
    ASSERT_TRUE(Db.GetRoomMessages(3, 2, -1, out, maxPage));
    EXPECT_EQ(maxPage, 3);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].MsgId, Id(4));
    ASSERT_TRUE(Db.AddRoomMessage(Id(4), 3, mlNormal, "c", "", 1, "", "", 45009.0)); // still known after reopening
    ASSERT_TRUE(Db.GetRoomMessages(3, 100, 1, out, maxPage));
    EXPECT_EQ(out.size(), 2u + 5u);
}

// A child process writes in a loop and tells the parent each committed id;
// the parent kills it mid-write. Every committed message must be there.
TEST_F(UserDbTest, SurvivesAKillDuringWrites)
{
    Db.CloseDatabase();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        TUserDbStore store;
        if (!store.Open(Path())) _exit(2);
        const QString text(300, QChar(u'字'));
        for (int32_t i = 0;; ++i) {
            TUSERDBOBJ_GroupMessage m;
            m.MsgId = Id(i);
            m.GroupId = 1 + i % 3;
            m.Content = text;
            m.SendTime = 45000.0 + i;
            if (!store.Add(m)) _exit(3);
            if (write(fds[1], &i, sizeof i) != sizeof i) _exit(4);
        }
    }
    close(fds[1]);
    int32_t last = -1, got = 0;
    while (last < 2000 && read(fds[0], &got, sizeof got) == sizeof got) last = got;
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child ended early with " << WEXITSTATUS(status);
    ASSERT_GE(last, 2000);

    ASSERT_TRUE(Db.OpenDatabase());
    QSet<QByteArray> stored;
    for (int32_t g = 1; g <= 3; ++g) {
        TUSERDBOBJ_GroupMessages out;
        int maxPage = 0;
        ASSERT_TRUE(Db.GetGroupMessages(g, 1000000, 1, out, maxPage));
        for (const auto& m : out) stored.insert(m.MsgId);
    }
    for (int32_t i = 0; i <= last; ++i) ASSERT_TRUE(stored.contains(Id(i))) << i;
    EXPECT_LE(stored.size(), last + 2); // at most the one in flight besides
    EXPECT_TRUE(Db.AddGroupMessage("after", 1, mlNormal, "", "", 1, "", "", 1));
}

} // namespace
