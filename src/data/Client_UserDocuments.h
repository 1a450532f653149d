#pragma once

namespace pelvox {

class TNotifyFromServer;

// The answers to the user's own account requests, the user-information
// answer and the pushes about other users' presence, profile, signature,
// face and photo. Each applies a person update to every list that holds the
// person (contact, group members, room members, colleagues, search result),
// one manager lock at a time.
void RegisterUserDocumentHandlers(TNotifyFromServer& ADispatcher);

} // namespace pelvox
