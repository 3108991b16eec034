#pragma once
// Shared pieces of the dialog tests: a main window stand-in for the preferences dialog, a list
// service on loopback for the country/port fetch, and helpers that wait on the event loop.

#include "config/LanguageTable.h"
#include "config/ProgramConfig.h"
#include "dialogs/OptionsFormCode.h"
#include "tests/support/LoopbackHttpServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

namespace dialogtests {

/// Runs the event loop until Done() holds; false when it still does not after a generous bound
/// (the bound only ends a broken test, nothing is measured).
inline bool WaitUntil(const std::function<bool()> &Done, int BoundMs = 20000) {
    QElapsedTimer t;
    t.start();
    while (!Done()) {
        if (t.elapsed() > BoundMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

/// Runs Action inside the modal loop of Window once it is on screen (exec() blocks the test).
inline void WhenShown(QWidget *Window, std::function<void()> Action) {
    QPointer<QWidget> w(Window);
    auto *timer = new QTimer();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [w, timer, Action = std::move(Action)] {
        if (!w) {
            timer->deleteLater();
            return;
        }
        if (!w->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        Action();
    });
    timer->start();
}

struct TWarning {
    QString Msg, Url;
};

/// The main window as the preferences dialog sees it.
class FakeOptionsOwner : public IOptionsOwner {
public:
    FakeOptionsOwner() : Config(nullptr, QLocale::English), Messages(LoadMessageStrings(QStringLiteral("english"))) {}

    TProgramConfig &ProgramConfig() override { return Config; }
    const TMessageStrings &ms() const override { return Messages; }
    QStringList &Country() override { return CountryList; }
    QStringList &Ports() override { return PortList; }
    void ShowWarningMessage(const QString &Msg, const QString &Url) override { Warnings.push_back({Msg, Url}); }
    void RestoreBrowser(bool IExplorerOnly) override {
        Calls.push_back(QStringLiteral("RestoreBrowser(%1) with %2").arg(IExplorerOnly).arg(Config.Browser()));
    }
    void SetupBrowser(bool IExplorerOnly) override {
        Calls.push_back(QStringLiteral("SetupBrowser(%1) with %2").arg(IExplorerOnly).arg(Config.Browser()));
    }
    void LoadProxyClick() override { Calls.push_back(QStringLiteral("LoadProxyClick")); }

    TProgramConfig Config;
    TMessageStrings Messages;
    QStringList CountryList, PortList;
    std::vector<TWarning> Warnings;
    QStringList Calls;
};

/// A list service that answers the country/port request with Reply.
class FakeCountryService {
public:
    explicit FakeCountryService(std::string Reply) : FReply(std::move(Reply)) {
        Http.Server.Get("/engine/index2.php", [this](const httplib::Request &Req, httplib::Response &Res) {
            ++Requests;
            if (!Req.has_param("countryportlist")) {
                Res.status = 404;
                return;
            }
            Res.set_content(FReply, "text/plain");
        });
        Http.Server.Get("/list.txt", [](const httplib::Request &, httplib::Response &Res) {
            Res.set_content("10.0.0.1:8080\r\n", "text/plain");
        });
        Http.Start();
    }
    QString Base() const { return Http.Url(); }

    testsupport::LoopbackHttpServer Http;
    std::atomic<int> Requests{0};

private:
    std::string FReply;
};

inline const char *kCountryReply = "US:United States\r\nDE:Germany\r\n\r\n80:80\r\n8080:8080\r\n";

} // namespace dialogtests
