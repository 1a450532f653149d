#include "platform/Application.h"
#include "platform/DebugOutput.h"
#include "platform/Exception.h"
#include <mutex>

namespace pelvox {

namespace {
std::mutex gLock;
ApplicationExceptionHandler gHandler;
} // namespace

void SetApplicationExceptionHandler(ApplicationExceptionHandler handler)
{
    std::lock_guard lock(gLock);
    gHandler = std::move(handler);
}

void DefaultApplicationExceptionHandler(const std::exception& e)
{
    DebugOutput(QStringLiteral("OnApplicationException=") + ExceptionMessage(e));
}

void HandleCurrentException() noexcept
{
    try {
        ApplicationExceptionHandler handler;
        {
            std::lock_guard lock(gLock);
            handler = gHandler;
        }
        if (!handler) handler = DefaultApplicationExceptionHandler;
        try {
            throw;
        } catch (const std::exception& e) {
            handler(e);
        } catch (...) {
            handler(Exception(QStringLiteral("unknown exception")));
        }
    } catch (...) {
    }
}

} // namespace pelvox
