#include "core/Client_SubCmdObjects.h"
#include "core/Client_BugReport.h"
#include "core/ZStream.h"

namespace pelvox {

TStopFlag CancelSubCmd;

namespace {

template <typename Fn>
bool Guarded(const char* method, Fn&& body)
{
    return GuardedCall(QStringLiteral("Core.bpl"), QStringLiteral("Client_SubCmdObjects"),
                       QStringLiteral("TSubCmdObject.") + QLatin1String(method), std::forward<Fn>(body));
}

} // namespace

TSubCmdObject::TSubCmdObject(const TSubCmdEndpoint& endpoint)
    : FSubCmdSocket(std::make_unique<TTCPClient>()), FRequest(std::make_unique<TBitDocument>()),
      FResponse(std::make_unique<TBitDocument>())
{
    FSubCmdSocket->SetThinMode(true);
    FSubCmdSocket->SetAutoReconnect(false);
    FSubCmdSocket->SetUseComInThread(false);
    FSubCmdSocket->SetServerAddress(endpoint.Address);
    FSubCmdSocket->SetServerPort(endpoint.Port);
    FSubCmdSocket->SetLocalPort(endpoint.LocalPort);
    FSubCmdSocket->SetCancelFlag(&CancelSubCmd);
    FSubCmdSocket->SetOnRecvData([this](TTCPClient*, const TTCPRECVDATA* data) { OnRecvData(*data); });
}

TSubCmdObject::~TSubCmdObject() { Disconnect(); }

bool TSubCmdObject::Connect(int ATimeOut)
{
    bool result = false;
    Guarded("Connect", [&] { result = DoConnect(ATimeOut); });
    return result;
}

bool TSubCmdObject::DoConnect(int ATimeOut)
{
    if (CancelSubCmd.IsSet()) return false;
    // A connection whose socket failed cannot carry another exchange.
    if (FSubCmdSocket->Connected() && FSubCmdSocket->SocketError()) FSubCmdSocket->Disconnect();
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ATimeOut, 0));
    while (!FSubCmdSocket->Connected()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        // Each attempt stays within what is left of the time-out.
        if (FSubCmdSocket->Connect(int(std::clamp<long long>(left, 1, 15000)))) break;
        if (CancelSubCmd.IsSet() || Clock::now() >= deadline) return false;
        UIThread::WaitUntil([] { return CancelSubCmd.IsSet(); },
                            std::min(deadline, Clock::now() + std::chrono::milliseconds(100)));
        if (CancelSubCmd.IsSet()) return false;
    }
    return FSubCmdSocket->Connected();
}

bool TSubCmdObject::Execute(bool AAutoConnect, int ATimeOut)
{
    bool result = false;
    Guarded("Execute", [&] { result = DoExecute(AAutoConnect, ATimeOut); });
    return result;
}

bool TSubCmdObject::DoExecute(bool AAutoConnect, int ATimeOut)
{
    if (CancelSubCmd.IsSet()) return false;
    if (AAutoConnect ? !DoConnect(ATimeOut) : !FSubCmdSocket->Connected()) return false;
    Arm(scwmExecute);
    SendRequestDocument();
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ATimeOut, 0));
    UIThread::WaitUntil(
        [this] { return FResponseGetted.load() || CancelSubCmd.IsSet() || FSubCmdSocket->SocketError(); }, deadline);
    std::lock_guard l(FAnswerLock);
    // Whatever arrives after we stopped waiting is dropped.
    if (!FResponseGetted) FSubCmdWorkMode = scwmNone;
    return FResponseGetted;
}

void TSubCmdObject::SendRequest()
{
    Guarded("SendRequest", [&] {
        if (CancelSubCmd.IsSet() || !FSubCmdSocket->Connected()) return;
        Arm(scwmSendRequest);
        SendRequestDocument();
    });
}

void TSubCmdObject::Disconnect()
{
    Guarded("Disconnect", [&] { FSubCmdSocket->Disconnect(); });
}

void TSubCmdObject::Arm(TSubCmdWorkMode mode)
{
    std::lock_guard l(FAnswerLock);
    FResponseGetted = false;
    FSubCmdWorkMode = mode;
    FExpectedName = (FRequest->Name() + QStringLiteral("[ACK]")).left(BitNodeNameLimit);
}

void TSubCmdObject::SendRequestDocument()
{
    const QByteArray bytes = FRequest->SaveToBytes();
    FSubCmdSocket->SendData(bytes.constData(), uint32_t(bytes.size()), 0, 0);
}

void TSubCmdObject::OnRecvData(const TTCPRECVDATA& data)
{
    Guarded("OnRecvData", [&] {
        const QByteArray payload =
            QByteArray::fromRawData(reinterpret_cast<const char*>(data.pDataBuffer), qsizetype(data.dwDataSize));
        QByteArray document;
        if (data.dwReserved1 == 0) {
            document = payload;
        } else if (data.dwReserved1 == 1) {
            auto inflated = ZDecompress(payload, SUBCMD_MAX_ANSWER_SIZE);
            if (!inflated) throw Exception(QStringLiteral("invalid compressed answer"));
            document = std::move(*inflated);
        } else {
            return; // a storage form we do not know is no answer
        }
        int16_t code;
        uint8_t version;
        QString name;
        TBitDocument::PrefetchDocumentHeader(document.constData(), document.size(), code, version, name);
        std::lock_guard l(FAnswerLock);
        if (FSubCmdWorkMode == scwmNone || name != FExpectedName) return;
        FResponse->LoadFromBuffer(document.constData(), document.size());
        FSubCmdWorkMode = scwmNone;
        FResponseGetted = true;
    });
    UIThread::Wake();
}

} // namespace pelvox
