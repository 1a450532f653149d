#include "ConnectionFixture.h"
#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <csignal>

namespace pelvox::test {
namespace {

TEST(TestServerProcess, StartsListensAcceptsAndStopsOnSigterm)
{
    QProcess server;
    server.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/pelvox-testserver"),
                 {"--cmd-port", "0", "--subcmd-port", "0", "--p2p-port", "0", "--web-port", "0"});
    ASSERT_TRUE(server.waitForStarted(5000));
    ASSERT_TRUE(RunLoopUntil([&] { return server.canReadLine(); }));
    const QString line = QString::fromUtf8(server.readLine()).trimmed();
    const auto m = QRegularExpression(QStringLiteral("^pelvox-testserver listening cmd=(\\d+) subcmd=(\\d+) p2p=(\\d+) web=(\\d+)$"))
                       .match(line);
    ASSERT_TRUE(m.hasMatch()) << line.toStdString();

    TTCPClient client;
    client.SetServerAddress(QStringLiteral("127.0.0.1"));
    client.SetServerPort(m.captured(1).toInt());
    EXPECT_TRUE(client.Connect(2000));
    EXPECT_NE(client.SessionID(), TSessionGUID{});
    client.Disconnect();

    ::kill(pid_t(server.processId()), SIGTERM);
    ASSERT_TRUE(RunLoopUntil([&] { return server.state() == QProcess::NotRunning; }));
    EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(server.exitCode(), 0);
}

} // namespace
} // namespace pelvox::test
