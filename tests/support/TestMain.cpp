#include "platform/UIThread.h"
#include <QCoreApplication>
#include <gmock/gmock.h>

// Tests run with a Qt application on the main thread, as the program does.
int main(int argc, char** argv)
{
    ::testing::InitGoogleMock(&argc, argv);
    QCoreApplication app(argc, argv);
    const int rc = RUN_ALL_TESTS();
    pelvox::UIThread::Shutdown();
    return rc;
}
