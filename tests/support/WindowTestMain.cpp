// The main of the window tests: one QApplication on the offscreen platform
// (the tests never need a display), the socket layer started, and the Qt
// event loop that the windows' sockets register with.

#include <gtest/gtest.h>

#include <QApplication>

#include "QtEventLoop.h"
#include "SocketLayer.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    if (SocketLayerStartup())
        return 1;
    CQtEventLoop loop;
    return RUN_ALL_TESTS();
}
