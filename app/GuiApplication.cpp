#include "app/GuiApplication.h"

#include <QApplication>

std::unique_ptr<QCoreApplication> CreateGuiApplication(int &Argc, char **Argv) {
    auto App = std::make_unique<QApplication>(Argc, Argv);
    // The program lives in the notification area; its dialogs come and go.
    QApplication::setQuitOnLastWindowClosed(false);
    return App;
}
