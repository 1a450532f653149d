#include "platform/DebugOutput.h"
#include <QStringList>
#include <cstdio>
#include <mutex>

namespace pelvox {

namespace {
std::mutex gHookLock;
DebugOutputHook gHook;
} // namespace

void DebugOutput(const QString& line)
{
    try {
        DebugOutputHook hook;
        {
            std::lock_guard lock(gHookLock);
            hook = gHook;
        }
        if (hook) {
            hook(line);
            return;
        }
        const QByteArray bytes = line.toUtf8();
        std::fprintf(stderr, "%s\n", bytes.constData());
    } catch (...) {
        // the debug channel never fails its caller
    }
}

void SetDebugOutputHook(DebugOutputHook hook)
{
    std::lock_guard lock(gHookLock);
    gHook = std::move(hook);
}

struct DebugOutputCapture::State {
    mutable std::mutex Lock;
    QStringList Lines;
};

DebugOutputCapture::DebugOutputCapture() : FState(std::make_shared<State>())
{
    std::lock_guard lock(gHookLock);
    FPrevious = gHook;
    gHook = [state = FState](const QString& line) {
        std::lock_guard l(state->Lock);
        state->Lines << line;
    };
}

DebugOutputCapture::~DebugOutputCapture()
{
    std::lock_guard lock(gHookLock);
    gHook = FPrevious;
}

QStringList DebugOutputCapture::Lines() const
{
    std::lock_guard l(FState->Lock);
    return FState->Lines;
}

bool DebugOutputCapture::Contains(const QString& fragment) const
{
    std::lock_guard l(FState->Lock);
    for (const QString& s : FState->Lines)
        if (s.contains(fragment)) return true;
    return false;
}

} // namespace pelvox
