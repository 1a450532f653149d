#pragma once
#include <QString>

namespace pelvox {

// Every file or folder name received from the server or a peer reaches the
// disk only through these helpers.

// A plain name: not empty, not "." or "..", no separator ("/" or "\"), no
// control character, at most 255 bytes in UTF-8.
bool IsSafeFileName(const QString& name);

// folder + "/" + name when the name is safe; empty otherwise.
QString SafeJoin(const QString& folder, const QString& name);

// Like SafeJoin, but when the path exists already it returns the first free
// variant "name(1).ext", "name(2).ext"... so nothing the user has is replaced.
QString SafeJoinFree(const QString& folder, const QString& name);

} // namespace pelvox
