#include "TestServer.h"
#include "TestSupport.h"
#include "core/Client_NetworkOptions.h"
#include <gtest/gtest.h>

using namespace pelvox;

// The test server's peer-to-peer port answers the profile test as the real service does.
TEST(TestServerP2P, ProfileTestIsAnsweredOnTheServersPort)
{
    test::TempAppRoot root;
    testserver::TestServer server;
    ASSERT_TRUE(server.Start());
    TNetworkItem item;
    item.SetAddress(QStringLiteral("127.0.0.1"));
    item.TestConnection(server.P2PPort());
    EXPECT_GE(item.NetworkDelay(), 0);
    EXPECT_GT(server.P2P()->LoginRequests(), 0);
    server.P2P()->SetSilent(true);
    item.TestConnection(server.P2PPort());
    EXPECT_EQ(item.NetworkDelay(), -1);
}
