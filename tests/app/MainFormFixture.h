#pragma once
// The controller in a sandbox: HOME and XDG_CONFIG_HOME in a temporary folder (so the per-user
// store and the system proxy settings of GSettings' memory backend are the test's own), a
// config.cfg written before start-up, the real relay on a free loopback port, a clock and a
// random source the test sets, and views that record what the controller asks of them.

#include "app/MainFormCode.h"
#include "browsers/ProxyManager.h"
#include "catalogue/Marlo.Common.ProxyList.h"
#include "config/ProgramConfig.h"
#include "platform/StringList.h"
#include "relay/ProxyServer.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace apptest {

/// Every view call, in order, as one text per call ("dress", "animated:1", "balloon:Title|Text"...).
class TRecordingViews : public IPopupMenuView, public ITrayIconView, public IDialogHost {
public:
    void Dress() override {
        Log("dress");
        if (DressFails)
            throw std::runtime_error("skin pictures missing");
    }
    void Popup(QPoint Pos) override { Log(QStringLiteral("popup:%1,%2").arg(Pos.x()).arg(Pos.y())); }
    bool Visible() const override { return MenuVisible; }
    void SetAnimated(bool On) override { Log(QStringLiteral("animated:%1").arg(On ? 1 : 0)); }
    void ShowBalloon(const QString &Title, const QString &Text) override {
        Log(QStringLiteral("balloon:") + Title + QLatin1Char('|') + Text);
    }
    bool ExecManageProxy(TMainForm &) override {
        Log("manage");
        return ManageOk;
    }
    void ExecChecker(TMainForm &Form) override {
        Log(QStringLiteral("checker:%1").arg(Form.ProxyCheckingInProgress ? 1 : 0));
        if (DuringChecker)
            DuringChecker(Form);
    }
    bool ExecOptions(TMainForm &) override {
        Log("options");
        return OptionsOk;
    }
    void ShowWarning(const QString &Msg, const QString &Url) override {
        Log(QStringLiteral("warning:") + Msg + QLatin1Char('|') + Url);
        if (DuringWarning)
            DuringWarning();
    }
    void OpenUrl(const QString &Url) override { Log(QStringLiteral("open:") + Url); }
    bool ManageProxyVisible() const override { return false; }
    bool CheckerVisible() const override { return false; }
    bool OptionsVisible() const override { return false; }

    void Log(const QString &Event) {
        std::lock_guard<std::mutex> Lock(FLock);
        FEvents << Event;
    }
    void Log(const char *Event) { Log(QString::fromLatin1(Event)); }
    QStringList Events() {
        std::lock_guard<std::mutex> Lock(FLock);
        return FEvents;
    }
    /// Events that start with Prefix.
    QStringList Events(const QString &Prefix) {
        return Events().filter(QRegularExpression(u'^' + QRegularExpression::escape(Prefix)));
    }
    void Clear() {
        std::lock_guard<std::mutex> Lock(FLock);
        FEvents.clear();
    }

    bool MenuVisible = false;
    bool DressFails = false;
    bool ManageOk = true;
    bool OptionsOk = true;
    std::function<void(TMainForm &)> DuringChecker;
    std::function<void()> DuringWarning;

private:
    std::mutex FLock;
    QStringList FEvents;
};

using TEnv = testsupport::ScopedEnv;

class MainFormTest : public ::testing::Test {
protected:
    MainFormTest()
        : FHome("HOME", FDir.path().toLocal8Bit()),
          FXdg("XDG_CONFIG_HOME", (FDir.path() + QStringLiteral("/.config")).toLocal8Bit()),
          FDesktop("XDG_CURRENT_DESKTOP", "GNOME"), FSystemProxy("RELAYVANE_SYSTEM_PROXY", "gnome"),
          // Nothing listens here: a download nobody set up fails fast instead of finding a service.
          FService("RELAYVANE_SERVICE",
                   QByteArray("http://127.0.0.1:") + QByteArray::number(testsupport::FreeTcpPort())) {
        QDir().mkpath(FDir.path() + QStringLiteral("/.config"));
        // Only the system settings: no test ever closes a real browser.
        Seed.SetBrowser(QStringLiteral("internet explorer"));
        Seed.SetUseListService(false);
        Seed.SetLanguage(QStringLiteral("english"));
        Options.ConfigPath = ConfigPath();
        Options.RelayPort = testsupport::FreeTcpPort();
        Options.Now = [this] { return Clock; };
        Options.Random = [this](int Bound) {
            Bounds.push_back(Bound);
            if (Draws.empty())
                return 0;
            const int Next = Draws.front();
            Draws.pop_front();
            return Next;
        };
        Options.RunningCopies = [this] {
            Views.Log("copies");
            return Copies;
        };
        Options.CreateShortcut = [this] { Views.Log("shortcut"); };
        Options.Terminate = [this] { Views.Log("terminate"); };
        Options.Quit = [this] { Views.Log("quit"); };
        Options.UpdateCheck = false;
        Options.Hotkeys = [this](TMainForm &Form, bool On) {
            Views.Log(
                QStringLiteral("hotkeys:%1:%2").arg(On ? 1 : 0).arg(Form.SelectProxy ? Form.SelectProxy->Count() : -1));
        };
        // The memory backend lives as long as the process: start every test from direct access.
        TProxyManager Manager;
        Manager.EnableProxyIE(QString());
        Manager.DisableProxyIE();
    }
    ~MainFormTest() override {
        Form.reset();
        TProxyManager Manager;
        Manager.EnableProxyIE(QString());
        Manager.DisableProxyIE();
    }

    QString ConfigPath() const { return FDir.path() + QStringLiteral("/config.cfg"); }
    QString Home() const { return FDir.path(); }

    TProxtData *User(const char *Ip, int Port, const char *Code = "US", double Rank = 0) {
        return Seed.ProxyListUser()->Add(QStringLiteral("Country ") + QLatin1String(Code), QLatin1String(Code), Rank,
                                         QLatin1String(Ip), Port);
    }
    TProxtData *Vip(const char *Ip, int Port, const char *Code = "DE", double Rank = 0) {
        return Seed.ProxyList()->Add(QStringLiteral("Country ") + QLatin1String(Code), QLatin1String(Code), Rank,
                                     QLatin1String(Ip), Port);
    }

    /// Writes Seed as config.cfg and runs start-up.
    void Start(bool WithViews = true) {
        Seed.SaveToFile(ConfigPath());
        Form = std::make_unique<TMainForm>(Options);
        if (WithViews) {
            Form->SetMenuView(&Views);
            Form->SetTrayView(&Views);
            Form->SetDialogHost(&Views);
        }
        Form->FormCreate();
        Pump();
    }
    /// Runs what was posted (the menu state request).
    static void Pump() {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

    TProgramConfig &Config() const { return *Form->ProgramConfig; }
    TProxyServer &Relay() const { return *Form->proxyServer; }
    /// "ip:port" of the active proxy, empty without one.
    QString Active() const {
        return Form->ActiveProxy ? Form->ActiveProxy->IP() + u':' + QString::number(Form->ActiveProxy->Port())
                                 : QString();
    }
    /// The captions of the proxy menu, "-" for the separator.
    QStringList MenuCaptions() const {
        QStringList Out;
        for (int i = 0; i < Form->SelectProxy->Count(); ++i) {
            TMenuItemEx *E = Form->SelectProxy->Items(i);
            Out << (E->Separator() ? QStringLiteral("-") : E->Caption());
        }
        return Out;
    }
    /// The system proxy as "server state".
    static QString SystemProxy() {
        TProxyManager Manager;
        QString Server;
        bool State = false;
        if (!Manager.GetProxyIE(Server, State))
            return QStringLiteral("unreadable");
        return Server + (State ? QStringLiteral(" on") : QStringLiteral(" off"));
    }
    QString RelayAddress() const { return QStringLiteral("127.0.0.1:%1").arg(Options.RelayPort); }

    QTemporaryDir FDir;
    TEnv FHome, FXdg, FDesktop, FSystemProxy, FService;

public:
    TProgramConfig Seed{nullptr, QLocale::English};
    TMainFormOptions Options;
    TRecordingViews Views;
    std::unique_ptr<TMainForm> Form;
    QDateTime Clock{QDate(2026, 12, 11), QTime(6, 0)};
    std::deque<int> Draws;
    std::vector<int> Bounds;
    int Copies = 1;
};

} // namespace apptest
