#pragma once
#include "core/BitDocument.h"
#include "core/Client_TCPClient.h"
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>

namespace pelvox {

enum TSubCmdWorkMode { scwmNone, scwmSendRequest, scwmExecute };

// Set at logout: connects, requests and waiting Execute calls give up at once.
extern TStopFlag CancelSubCmd;

// Inflated answers larger than this are refused.
constexpr qsizetype SUBCMD_MAX_ANSWER_SIZE = 64 * 1024 * 1024;

// Where a sub-command connection goes: the current network item's address
// and local port, and the server's sub-command port.
struct TSubCmdEndpoint {
    QString Address;
    int Port = 5802;
    int LocalPort = 0;
};

// One short sub-command connection (thin mode) with one request and one
// response document. Answers are taken only when named after the pending
// request with "[ACK]" appended; anything else, or anything arriving while
// no request waits, is dropped.
class TSubCmdObject {
public:
    explicit TSubCmdObject(const TSubCmdEndpoint& endpoint);
    ~TSubCmdObject();
    TSubCmdObject(const TSubCmdObject&) = delete;
    TSubCmdObject& operator=(const TSubCmdObject&) = delete;

    TBitDocument& Request() { return *FRequest; }
    // Read only once ResponseGetted is set (or no request is pending).
    TBitDocument& Response() { return *FResponse; }
    bool ResponseGetted() const { return FResponseGetted.load(); }
    bool Connected() const { return FSubCmdSocket->Connected(); }
    TTCPClient& Socket() { return *FSubCmdSocket; }

    bool Connect(int ATimeOut);
    bool Execute(bool AAutoConnect, int ATimeOut);
    void SendRequest();
    void Disconnect();

private:
    bool DoConnect(int ATimeOut);
    bool DoExecute(bool AAutoConnect, int ATimeOut);
    void Arm(TSubCmdWorkMode mode);
    void SendRequestDocument();
    void OnRecvData(const TTCPRECVDATA& data);

    std::unique_ptr<TTCPClient> FSubCmdSocket;
    std::unique_ptr<TBitDocument> FRequest;
    std::unique_ptr<TBitDocument> FResponse;
    std::mutex FAnswerLock; // mode, expected name and response loading
    TSubCmdWorkMode FSubCmdWorkMode = scwmNone;
    QString FExpectedName;
    std::atomic<bool> FResponseGetted{false};
};

} // namespace pelvox
