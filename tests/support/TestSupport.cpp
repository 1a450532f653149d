#include "TestSupport.h"
#include "core/Client_Base.h"
#include "platform/UIThread.h"
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>


namespace pelvox::test {

bool RunLoopUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!pred()) {
        if (Clock::now() >= deadline) return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        UIThread::WaitUntil(pred, std::min(deadline, Clock::now() + std::chrono::milliseconds(2)));
    }
    return true;
}

void RunLoopFor(std::chrono::milliseconds duration)
{
    RunLoopUntil([] { return false; }, duration);
}

TempAppRoot::TempAppRoot()
{
    for (const char* d : {"Bin", "Config", "Skins", "Sound", "Temp", "Users"}) QDir(FDir.path()).mkpath(QString::fromLatin1(d));
    SetAppRootOverride(Path());
}

TempAppRoot::~TempAppRoot() { SetAppRootOverride(QString()); }

QString TempAppRoot::Path() const { return FDir.path() + u'/'; }

} // namespace pelvox::test
