// Entry point of the widget tests: a QApplication around GoogleTest. The platform is offscreen
// unless one was chosen on purpose; a program built with RELAYVANE_TEST_XVFB_SCREEN ("WxHxD") runs
// on a private Xvfb of that screen instead, for pictures of the real windows.

#include <QApplication>
#include <gtest/gtest.h>

#ifdef RELAYVANE_TEST_XVFB_SCREEN
#include "tests/support/XvfbServer.h"

#include <cstdio>
#endif

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
#ifdef RELAYVANE_TEST_XVFB_SCREEN
    // Listing the cases (test discovery) needs no X server.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    testsupport::TXvfbDisplay xvfb;
    QString error;
    if (!xvfb.Start(&error, QStringLiteral(RELAYVANE_TEST_XVFB_SCREEN))) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    qputenv("DISPLAY", xvfb.Name().toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
#else
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
