// pelvox-testserver: the local server for trying the client and for tests.
#include "TestLogin.h"
#include "TestPeople.h"
#include "TestServer.h"
#include <QByteArray>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <string>

using pelvox::testserver::TestServer;

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: pelvox-testserver [--host 127.0.0.1] [--cmd-port 5801] [--subcmd-port 5802] "
                         "[--p2p-port 5803] [--web-port 5880] [--fixture FILE]\n");
    return 2;
}

bool ParsePort(const char* text, int& port)
{
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!end || *end || v < 0 || v > 65535) return false;
    port = int(v);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    TestServer::Options o;
    o.CmdPort = 5801;
    o.SubCmdPort = 5802;
    o.P2PPort = 5803;
    o.WebPort = 5880;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage();
        const char* value = argv[++i];
        if (arg == "--host") o.Host = value;
        else if (arg == "--fixture") o.FixtureFile = QString::fromLocal8Bit(value);
        else if (arg == "--cmd-port") { if (!ParsePort(value, o.CmdPort)) return Usage(); }
        else if (arg == "--subcmd-port") { if (!ParsePort(value, o.SubCmdPort)) return Usage(); }
        else if (arg == "--p2p-port") { if (!ParsePort(value, o.P2PPort)) return Usage(); }
        else if (arg == "--web-port") { if (!ParsePort(value, o.WebPort)) return Usage(); }
        else return Usage();
    }

    // Every thread inherits the blocked set; the main thread takes the signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TestServer server(o);
    QString error;
    const auto services = pelvox::testserver::InstallStandardServices(server, o.FixtureFile, &error);
    if (!services) {
        std::fprintf(stderr, "pelvox-testserver: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    const auto people = pelvox::testserver::InstallPeopleService(server, *services, o.FixtureFile);
    if (!server.Start(&error)) {
        std::fprintf(stderr, "pelvox-testserver: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    std::printf("pelvox-testserver listening cmd=%u subcmd=%u p2p=%u web=%u\n", server.CmdPort(), server.SubCmdPort(),
                server.P2PPort(), server.WebPort());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&stopSignals, &sig);
    server.Stop();
    return 0;
}
