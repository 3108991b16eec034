#include "app/GuiDialogs.h"

#include "app/GuiChecker.h"
#include "app/MainFormCode.h"
#include "browsers/BrowserSetup.h"
#include "config/ProgramConfig.h"
#include "dialogs/ManageProxy.h"
#include "dialogs/OptionsFormCode.h"
#include "dialogs/WarningMessage.h"
#include "platform/ServiceEndpoints.h"

#include <QDesktopServices>
#include <QObject>
#include <QUrl>
#include <memory>

namespace {

/// The dialog host: creates each dialog on first use and keeps it for the run.
class TGuiDialogHost : public QObject, public IDialogHost, public IOptionsOwner {
public:
    explicit TGuiDialogHost(TMainForm &Form) : QObject(&Form), FForm(Form) {}

    ~TGuiDialogHost() override {
        // Windows before the controller's objects they point into.
        FOptions.reset();
        FLoadProxy.reset();
        FWarning.reset();
    }

    // IDialogHost.
    bool ExecManageProxy(TMainForm &Form) override {
        if (!FLoadProxy) {
            FLoadProxy = std::make_unique<TLoadProxy>();
            FLoadProxy->SetOnWarning([this](const QString &Msg) { FForm.ShowWarningMessage(Msg, FaqUrl()); });
        }
        TProgramConfig *cfg = Form.ProgramConfig;
        FLoadProxy->SetLanguage(Language());
        FLoadProxy->FillMemo(*cfg->ProxyListUser());
        if (FLoadProxy->exec() != QDialog::Accepted)
            return false;
        cfg->SetProxyListUser(FLoadProxy->ProxyList.get());
        return true;
    }

    void ExecChecker(TMainForm &Form) override {
        ExecCheckerWindow(Form);
    }

    bool ExecOptions(TMainForm &Form) override {
        Q_UNUSED(Form);
        if (!FOptions)
            FOptions = std::make_unique<TOptions>(*this);
        return FOptions->exec() == QDialog::Accepted;
    }

    void ShowWarning(const QString &Msg, const QString &Url) override {
        if (!FWarning)
            FWarning = std::make_unique<TWarningMessageForm>(Language());
        FWarning->ShowMessage(Msg, Url);
    }

    void OpenUrl(const QString &Url) override {
        QDesktopServices::openUrl(QUrl(Url));
    }

    bool ManageProxyVisible() const override {
        return FLoadProxy && FLoadProxy->isVisible();
    }

    bool CheckerVisible() const override {
        return CheckerWindowVisible();
    }

    bool OptionsVisible() const override {
        return FOptions && FOptions->isVisible();
    }

    // IOptionsOwner.
    TProgramConfig &ProgramConfig() override {
        return *FForm.ProgramConfig;
    }
    const TMessageStrings &ms() const override {
        return FForm.ms;
    }
    QStringList &Country() override {
        return FForm.Country;
    }
    QStringList &Ports() override {
        return FForm.Ports;
    }
    void ShowWarningMessage(const QString &Msg, const QString &Url) override {
        FForm.ShowWarningMessage(Msg, Url);
    }
    void RestoreBrowser(bool IExplorerOnly) override {
        if (FForm.BrowserSetup)
            FForm.BrowserSetup->RestoreBrowser(IExplorerOnly);
    }
    void SetupBrowser(bool IExplorerOnly) override {
        if (FForm.BrowserSetup)
            FForm.BrowserSetup->SetupBrowser(IExplorerOnly);
    }
    void LoadProxyClick() override {
        FForm.LoadProxyClick(&FForm);
    }

private:
    QString Language() const {
        return FForm.ProgramConfig ? FForm.ProgramConfig->Language() : QStringLiteral("english");
    }

    TMainForm &FForm;
    std::unique_ptr<TOptions> FOptions;
    std::unique_ptr<TLoadProxy> FLoadProxy;
    std::unique_ptr<TWarningMessageForm> FWarning;
};

} // namespace

void InstallDialogs(TMainForm &Form) {
    Form.SetDialogHost(new TGuiDialogHost(Form));
}
