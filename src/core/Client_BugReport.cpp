#include "core/Client_BugReport.h"
#include "platform/DebugOutput.h"

namespace pelvox {

void TQVBugReport::WriteError(const QString& AErrStr, const QString& AModuleName, const QString& AUnitName,
                              const QString& AMethodName, const QString& APosition) noexcept
{
    try {
        DebugOutput(QStringLiteral("[error]:%1, [modulename]:%2, [unitname]:%3, [methodname]:%4, [position]:%5")
                        .arg(AErrStr, AModuleName, AUnitName, AMethodName, APosition));
    } catch (...) {
    }
}

} // namespace pelvox
