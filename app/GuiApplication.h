#pragma once
// The desktop program's application object, kept out of main.cpp so that the program entry itself
// stays free of the widget libraries and builds the same with and without the GUI.

#include <QCoreApplication>
#include <memory>

/// A QApplication set up for a tray program: closing the last window (a dialog) does not end it.
std::unique_ptr<QCoreApplication> CreateGuiApplication(int &Argc, char **Argv);
