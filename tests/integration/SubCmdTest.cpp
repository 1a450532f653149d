#include "ConnectionFixture.h"
#include "core/Client_SubCmdObjects.h"
#include "core/ZStream.h"
#include "platform/DebugOutput.h"
#include <thread>

namespace pelvox::test {
namespace {

using namespace std::chrono_literals;
using testserver::TAnswerRule;
using testserver::TRequest;

QByteArray Answer(const QString& name, int32_t errorcode = 0)
{
    TBitDocument d(name);
    d.Root()->AddInt32Node(QStringLiteral("errorcode"), errorcode);
    d.Root()->AddBinaryNode(QStringLiteral("data"), QByteArray(3000, 'p'));
    return d.SaveToBytes();
}

class SubCmdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CancelSubCmd.Set(false);
        ASSERT_TRUE(Server.Start());
        // "Face.Get" answers plainly, "Face.GetZ" compressed whole.
        for (bool compressed : {false, true}) {
            const QString name = compressed ? QStringLiteral("Face.GetZ") : QStringLiteral("Face.Get");
            Server.RegisterHandler(TPortKind::SubCmd, name, [name, compressed](const TRequest& r) {
                r.AnswerBytes(Answer(name + QStringLiteral("[ACK]")), compressed);
            });
        }
        Object = std::make_unique<TSubCmdObject>(TSubCmdEndpoint{QStringLiteral("127.0.0.1"), Server.SubCmdPort(), 0});
    }
    void TearDown() override { CancelSubCmd.Set(false); }

    // Answers the next request with these raw payload bytes and reserved word.
    void AnswerRaw(const QString& name, QByteArray payload, uint32_t r1)
    {
        Server.RegisterHandler(TPortKind::SubCmd, name, [payload, r1](const TRequest& r) {
            r.Server->SendPacket(r.ConnId, TCP_FLAG_DATA, payload, r1);
        });
    }

    TestServer Server;
    std::unique_ptr<TSubCmdObject> Object;
};

TEST_F(SubCmdTest, PlainAndCompressedAnswers)
{
    for (const char* name : {"Face.Get", "Face.GetZ"}) {
        SCOPED_TRACE(name);
        Object->Request().SetName(QString::fromLatin1(name));
        ASSERT_TRUE(Object->Execute(true, 3500));
        EXPECT_EQ(Object->Response().Name(), QString::fromLatin1(name) + QStringLiteral("[ACK]"));
        EXPECT_EQ(Object->Response().ReadBinary(u"data").size(), 3000);
    }
    // Both exchanges went over the one connection.
    EXPECT_EQ(Server.CountPackets([](auto& p) { return p.Port == TPortKind::SubCmd && p.Header.bFlag == 1; }), 1u);
}

TEST_F(SubCmdTest, NoAnswerIsFalseAfterTheTimeOut)
{
    Server.SetAnswerRule(QStringLiteral("Face.Get"), TAnswerRule{0ms, true});
    Object->Request().SetName(QStringLiteral("Face.Get"));
    const auto start = Clock::now();
    EXPECT_FALSE(Object->Execute(true, 300));
    EXPECT_GE(Clock::now() - start, 300ms);
    EXPECT_FALSE(Object->ResponseGetted());
}

TEST_F(SubCmdTest, LateAnswerIsNotTakenForTheNextRequest)
{
    Server.SetAnswerRule(QStringLiteral("Face.Get"), TAnswerRule{300ms, false});
    Object->Request().SetName(QStringLiteral("Face.Get"));
    EXPECT_FALSE(Object->Execute(true, 50));

    // The next request's answer is held back until after the late one arrived.
    Server.SetAnswerRule(QStringLiteral("Face.GetZ"), TAnswerRule{600ms, false});
    Object->Request().SetName(QStringLiteral("Face.GetZ"));
    ASSERT_TRUE(Object->Execute(false, 3500));
    EXPECT_EQ(Object->Response().Name(), QStringLiteral("Face.GetZ[ACK]"));
}

TEST_F(SubCmdTest, BadAnswersAreErrors)
{
    // A zlib bomb: far more than the cap once inflated, a few hundred kB on the wire.
    const QByteArray bomb = ZCompress(QByteArray(SUBCMD_MAX_ANSWER_SIZE + 1024, '\0'), 9);
    ASSERT_LT(bomb.size(), 1 << 20);
    struct Case {
        const char* name;
        QByteArray payload;
        uint32_t r1;
        bool reported; // an error report rather than a silent drop
    };
    const Case cases[] = {
        {"bomb", bomb, 1, true},
        {"corrupt zlib", QByteArray("\x78\x9c garbage", 10), 1, true},
        {"not a document", QByteArray("junk"), 0, true},
        {"unknown storage", Answer(QStringLiteral("Face.Get[ACK]")), 2, false},
        {"other name", Answer(QStringLiteral("Face.Other[ACK]")), 0, false},
    };
    DebugOutputCapture capture;
    const auto reports = [&] { return capture.Lines().filter(QStringLiteral("TSubCmdObject.OnRecvData")).size(); };
    Object->Request().SetName(QStringLiteral("Face.Get"));
    qsizetype expectedReports = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AnswerRaw(QStringLiteral("Face.Get"), c.payload, c.r1);
        EXPECT_FALSE(Object->Execute(true, 200));
        if (c.reported) ++expectedReports;
        // The answer was looked at (not merely too late) before the next case.
        EXPECT_TRUE(RunLoopUntil([&] { return reports() == expectedReports; }));
        EXPECT_TRUE(Object->Connected());
    }
}

TEST_F(SubCmdTest, CancelAndSocketFailureEndTheWaitAtOnce)
{
    Server.SetAnswerRule(QStringLiteral("Face.Get"), TAnswerRule{0ms, true});
    Object->Request().SetName(QStringLiteral("Face.Get"));
    ASSERT_TRUE(Object->Connect(3500));

    std::atomic<bool> done{false};
    bool result = true;
    std::thread waiting([&] {
        result = Object->Execute(false, 60000);
        done = true;
        UIThread::Wake();
    });
    ASSERT_TRUE(RunLoopUntil([&] { return Server.CountPackets([](auto& p) { return p.Header.bFlag == 0; }) == 1; }));
    CancelSubCmd.Set(true);
    EXPECT_TRUE(RunLoopUntil([&] { return done.load(); }, 5s));
    waiting.join();
    EXPECT_FALSE(result);
    // While cancelled, nothing starts.
    EXPECT_FALSE(Object->Execute(true, 60000));
    EXPECT_FALSE(Object->Connect(60000));
    CancelSubCmd.Set(false);

    // The server closing the connection ends a wait too.
    Server.RegisterHandler(TPortKind::SubCmd, QStringLiteral("Face.Get"),
                           [](const TRequest& r) { r.Server->CloseConnection(r.ConnId); });
    EXPECT_FALSE(Object->Execute(false, 60000));
    // Without auto-connect a failed connection is not used again; with it, a new one is made.
    Server.RegisterHandler(TPortKind::SubCmd, QStringLiteral("Face.Get"),
                           [](const TRequest& r) { r.AnswerBytes(Answer(QStringLiteral("Face.Get[ACK]"))); });
    Server.ClearAnswerRules();
    EXPECT_TRUE(Object->Execute(true, 3500));
}

TEST_F(SubCmdTest, ExecuteWithoutConnectionSendsNothing)
{
    Object->Request().SetName(QStringLiteral("Face.Get"));
    EXPECT_FALSE(Object->Execute(false, 100));
    RunLoopFor(20ms);
    EXPECT_EQ(Server.CountPackets([](auto&) { return true; }), 0u);
}

} // namespace
} // namespace pelvox::test
