// The tests' entry point: a Qt core application (for timers, threads and events) around GoogleTest.
// Widget tests compile WidgetTestMain.cpp (a QApplication main) instead, and this one is not linked.

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
