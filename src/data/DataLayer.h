#pragma once

namespace pelvox {

// Registers the data layer with the session: the manager factories, the
// person directory, the face and photo downloads and the data document
// handlers. Called by main and the integration tests before the session
// object is created; calling it again is harmless.
void InstallDataLayer();

} // namespace pelvox
