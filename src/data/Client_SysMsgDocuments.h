#pragma once

namespace pelvox {

class TNotifyFromServer;

// "Server:ReceivedSysMsg": a system message for the signed-in user.
void RegisterSysMsgDocumentHandlers(TNotifyFromServer& ADispatcher);

} // namespace pelvox
