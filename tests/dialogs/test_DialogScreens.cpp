// Pictures of the real dialog windows on a private X server (Xvfb), in English and in Russian,
// written to <build>/screenshots/dialogs/ for a person to look at.

#include "dialogs/ManageProxy.h"
#include "dialogs/OptionsFormCode.h"
#include "dialogs/WarningMessage.h"
#include "tests/dialogs/DialogsTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QThread>
#include <QWindow>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace dialogtests;

namespace {

QString ShotDir() {
    const QString dir = QStringLiteral(RELAYVANE_BUILD_DIR "/screenshots/dialogs");
    QDir().mkpath(dir);
    return dir;
}

// Shows nothing itself: waits until Window is mapped and painted, then takes the X server's pixels.
QString Shoot(QWidget *Window, const QString &Name) {
    EXPECT_TRUE(WaitUntil([&] { return Window->windowHandle() && Window->windowHandle()->isExposed(); }));
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    Window->repaint();
    QCoreApplication::processEvents();
    const QPixmap shot = Window->screen()->grabWindow(Window->winId());
    const QString path = ShotDir() + u'/' + Name + QStringLiteral(".png");
    EXPECT_TRUE(shot.save(path)) << path.toStdString();
    // A real picture, not an empty or single-colour area.
    const QImage img = shot.toImage();
    EXPECT_GE(img.width(), 100);
    EXPECT_GE(img.height(), 80);
    QSet<QRgb> colours;
    for (int y = 0; y < img.height(); y += 3)
        for (int x = 0; x < img.width(); x += 3)
            colours.insert(img.pixel(x, y));
    EXPECT_GT(colours.size(), 10) << path.toStdString();
    return path;
}

class DialogScreens : public ::testing::TestWithParam<QString> {};

TEST_P(DialogScreens, EveryDialog) {
    const QString language = GetParam();
    const QString tag = language == QStringLiteral("english") ? QStringLiteral("en") : QStringLiteral("ru");

    FakeOptionsOwner owner;
    owner.Config.SetLanguage(language);
    owner.Config.SetGroupBoxFreeState(true);
    owner.Config.SetGroupBoxSettingsState(true);
    owner.Config.SetCountry(QStringLiteral("DE"));
    owner.Config.SetPort(QStringLiteral("8080"));
    owner.Config.SetAutoDownloadProxy(true);
    owner.CountryList = {QStringLiteral("US=United States"), QStringLiteral("DE=Germany")};
    owner.PortList = {QStringLiteral("80=80"), QStringLiteral("8080=8080")};
    {
        TOptions options(owner);
        options.show();
        Shoot(&options, QStringLiteral("preferences-") + tag);
    }
    {
        // The first showing of a run, while the lists load, with the default folding.
        FakeOptionsOwner fresh;
        fresh.Config.SetLanguage(language);
        fresh.Messages = LoadMessageStrings(language);
        TOptions options(fresh);
        options.SetServiceBaseUrl(QStringLiteral("http://127.0.0.1:%1").arg(testsupport::FreeTcpPort()));
        options.show();
        Shoot(&options, QStringLiteral("preferences-loading-") + tag);
        WaitUntil([&] { return !options.CountryFetchRunning(); });
    }
    {
        TLoadProxy manage;
        manage.SetLanguage(language);
        manage.ProxyListMemo->setPlainText(QStringLiteral("10.1.2.3:8080\n8.8.4.4:3128\n192.168.0.10:80"));
        manage.show();
        Shoot(&manage, QStringLiteral("manage-proxy-") + tag);
    }
    {
        TWarningMessageForm warning(language);
        const TMessageStrings ms = LoadMessageStrings(language);
        WhenShown(&warning, [&] {
            Shoot(&warning, QStringLiteral("warning-") + tag);
            warning.OKBtn->click();
        });
        warning.ShowMessage(ms.sCannotSetupLocalProxy, QStringLiteral("http://127.0.0.1:8731/faq.php"));
    }
}

INSTANTIATE_TEST_SUITE_P(EnglishAndRussian, DialogScreens,
                         ::testing::Values(QStringLiteral("english"), QStringLiteral("русский")),
                         [](const ::testing::TestParamInfo<QString> &Info) {
                             return std::string(Info.index == 0 ? "english" : "russian");
                         });

} // namespace
