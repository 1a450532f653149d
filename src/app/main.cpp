#include "BuildConfig.h"
#include "core/Client_Base.h"
#include "core/Client_BindingEvents.h"
#include "core/Client_OEM.h"
#include "platform/Application.h"
#include "platform/DebugOutput.h"
#include "platform/Memory.h"
#include "platform/UIThread.h"
#include <QCoreApplication>
#include <cstdio>

using namespace pelvox;

int main(int argc, char** argv)
{
    TuneAllocatorForLargePackets();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Pelvox"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELVOX_VERSION_STRING));
    SetCommandLineArguments(QCoreApplication::arguments().mid(1));
    SetApplicationExceptionHandler(DefaultApplicationExceptionHandler);
    MutableOEM() = CompiledOEMDefaults();
    TBindingEventManager::Instance();

    std::printf("Pelvox %s\napplication root: %s\ndefault server: %s:%d\n",
                qPrintable(QCoreApplication::applicationVersion()), qPrintable(GetAppRoot()),
                qPrintable(OEM().OEMServerAddress), OEM().OEMServerPort);
    std::fflush(stdout);
    UIThread::Shutdown();
    return 0;
}
