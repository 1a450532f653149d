#pragma once
#include <QString>
#include "platform/Exception.h"
#include <exception>

namespace pelvox {

// The error reporter: one line to the debug output, never to disk, never throws.
class TQVBugReport {
public:
    static void WriteError(const QString& AErrStr, const QString& AModuleName, const QString& AUnitName,
                           const QString& AMethodName, const QString& APosition = QString()) noexcept;
};

// Runs body and reports an Exception or std::exception with WriteError, as the
// guarded boundaries do. Returns false when something was reported.
template <typename Fn>
bool GuardedCall(const QString& module, const QString& unit, const QString& method, Fn&& body,
                 const QString& position = QString());

template <typename Fn>
bool GuardedCall(const QString& module, const QString& unit, const QString& method, Fn&& body,
                 const QString& position)
{
    try {
        body();
        return true;
    } catch (const std::exception& e) {
        TQVBugReport::WriteError(ExceptionMessage(e), module, unit, method, position);
        return false;
    }
}

} // namespace pelvox
