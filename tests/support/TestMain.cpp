// The tests' entry point: a Qt core application (for timers, threads and events) around GoogleTest.
// A test program that needs a GUI application defines its own main, and this one is not linked.

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
