// The main of every test program: a QApplication (offscreen unless the caller chose a platform) so
// that event loops, timers, sockets, child processes and widgets work. A test that needs set-up of
// its own for the whole program registers a ::testing::Environment
// (::testing::AddGlobalTestEnvironment) instead of bringing a main.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
