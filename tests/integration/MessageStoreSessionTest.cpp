#include "SessionFixture.h"
#include "TestLogin.h"
#include "core/Client_PersonDownloads.h"
#include "data/Client_Managers.h"
#include "data/DataLayer.h"
#include <QFile>
#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace pelvox;
using namespace pelvox::test;

namespace {
QJsonObject DirectoryWithUnreadItems()
{
    return QJsonDocument::fromJson(R"({
      "departments": [ { "id": 1, "name": "总部", "parent": 0 } ],
      "users": [
        { "id": 20001, "username": "anna", "password": "secret", "nickname": "安娜", "departid": 1,
          "joinrequests": [ { "sender": 20002, "content": "请加我为联系人" } ],
          "joingroupresponses": [ { "groupid": 7, "sender": 20002, "agree": 1, "content": "欢迎" } ],
          "sysmsgs": [
            { "id": 5000000001, "title": "维护通知", "category": "系统", "content": "今晚 22:00 维护",
              "link": "http://[%HTTP_HOST%]/notice", "needreaded": 1, "sendtime": "2026-12-01T02:00:00Z" },
            { "id": 5000000002, "title": "欢迎", "category": "系统", "content": "欢迎使用" } ] },
        { "id": 20002, "username": "bo", "password": "secret", "nickname": "博", "departid": 1 }
      ] })")
        .object();
}
} // namespace

// The store and the message box as a signed-in session uses them: opened at
// login before anything can be written, filled from the login answer and the
// system-message pushes, closed and emptied at logout.
class MessageStoreSessionTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        InstallDataLayer();
        Service = std::make_unique<testserver::TLoginService>(Server, testserver::TDirectoryFixture::FromJson(DirectoryWithUnreadItems()));
        Service->Install();
    }
    void TearDown() override
    {
        SessionTest::TearDown();
        ClearManagerFactories();
        SetPersonDownloads(nullptr);
        SetPersonDirectory(nullptr);
    }
};

TEST_F(MessageStoreSessionTest, LoginOpensTheStoreAndCollectsUnreadItems)
{
    ASSERT_TRUE(SignIn());
    TUSERDBManager* store = USERDBManager();
    TMsgBoxManager* box = MsgBoxManager();
    ASSERT_NE(store, nullptr);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(store->Opened());
    EXPECT_TRUE(QFile::exists(Root.Path() + QStringLiteral("Users/20001/USERDB2.FDB")));

    // The join lists of the login answer, newest first.
    ASSERT_EQ(box->Items().Count(), 2);
    EXPECT_EQ(box->Items()[0]->ItemType(), mbitJoinGroupResponse);
    EXPECT_EQ(box->Items()[1]->ItemType(), mbitJoinRequest);

    // "SysMsg.GetUserSysMsgs" is answered with pushes that are stored and set aside.
    ASSERT_TRUE(RunLoopUntil([&] { return store->GetUnReadSysMsgCount() == 2; }));
    EXPECT_EQ(box->StoredItems().Count(), 2);
    TUSERDBOBJ_SysMsgs msgs;
    int pages = 0;
    ASSERT_EQ(store->GetSysMsgs(10, 1, msgs, pages), 2);
    bool linkConverted = false;
    for (const auto& m : msgs)
        if (m.SysMsgId == 5000000001) linkConverted = m.Link == QStringLiteral("http://127.0.0.1:%1/notice").arg(Server.WebPort());
    EXPECT_TRUE(linkConverted);

    EXPECT_TRUE(store->AddMessage(QByteArray(32, 'a'), mtChatMsg, mlNormal, QStringLiteral("你好"), QString(), 20001, QString(),
                                  QString(), 20002, QString(), QString(), NowLocal()));
    Client->Logout();
    EXPECT_FALSE(store->Opened());
    EXPECT_EQ(box->Items().Count(), 0);
    EXPECT_EQ(box->StoredItems().Count(), 0);

    // The next login of the same user finds the history again.
    ASSERT_TRUE(SignIn());
    TUSERDBOBJ_Messages history;
    ASSERT_TRUE(USERDBManager()->GetMessages(20002, 20001, 10, -1, history, pages));
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].Content, QStringLiteral("你好"));
}
