#pragma once
#include "core/Client_BindingEvents.h"
#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace pelvox {

class TBitDocument;
class TGlobalClient;

// The server-document dispatcher: one bus subscription per document name,
// each running its handler on the user-interface thread with the received
// document (valid only during the call) and the packet's sequence id.
class TNotifyFromServer {
public:
    using THandler = std::function<void(const TBitDocument& ADoc, uint32_t ASID)>;

    explicit TNotifyFromServer(TGlobalClient* AClient = nullptr) : FClient(AClient) {}
    ~TNotifyFromServer() = default; // the subscriptions leave the bus with it
    TNotifyFromServer(const TNotifyFromServer&) = delete;
    TNotifyFromServer& operator=(const TNotifyFromServer&) = delete;

    TGlobalClient* Client() const { return FClient; }
    // Subscribes AHandler to the document name (compared without case).
    void RegisterHandler(const QString& AName, THandler AHandler);
    size_t Count() const { return FEvents.size(); }
    bool IsRegistered(const QString& AName) const;

private:
    TGlobalClient* FClient;
    std::vector<std::unique_ptr<TBindingEvent>> FEvents;
};

// Handlers of other families register themselves through functions of this
// shape, called once with the session's dispatcher.
using TDocumentHandlerInstaller = std::function<void(TNotifyFromServer&)>;
// Upper layers add their installers at start-up; every new dispatcher runs them.
void AddDocumentHandlerInstaller(TDocumentHandlerInstaller AInstaller);
void RunDocumentHandlerInstallers(TNotifyFromServer& ADispatcher);
void ClearDocumentHandlerInstallers();

} // namespace pelvox
