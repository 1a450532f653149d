#include "core/Client_NotifyFromServer.h"
#include "core/BitDocument.h"
#include "platform/Text.h"

namespace pelvox {

void TNotifyFromServer::RegisterHandler(const QString& AName, THandler AHandler)
{
    auto e = std::make_unique<TBindingEvent>();
    e->SetEventType(0);
    e->SetUIThread(true);
    e->SetOnExecute([h = std::move(AHandler)](TBindingEvent& sender) {
        if (const auto* doc = sender.Param1As<TBitDocument>()) h(*doc, uint32_t(sender.EventParam2()));
    });
    e->SetEventName(AName); // registers it on the bus
    FEvents.push_back(std::move(e));
}

bool TNotifyFromServer::IsRegistered(const QString& AName) const
{
    for (const auto& e : FEvents)
        if (SameText(e->EventName(), AName)) return true;
    return false;
}

namespace {
std::vector<TDocumentHandlerInstaller>& Installers()
{
    static std::vector<TDocumentHandlerInstaller> installers;
    return installers;
}
} // namespace

void AddDocumentHandlerInstaller(TDocumentHandlerInstaller AInstaller) { Installers().push_back(std::move(AInstaller)); }

void RunDocumentHandlerInstallers(TNotifyFromServer& ADispatcher)
{
    for (const auto& install : Installers()) install(ADispatcher);
}

void ClearDocumentHandlerInstallers() { Installers().clear(); }

} // namespace pelvox
