#include "app/GuiChecker.h"

#include "app/MainFormCode.h"
#include "config/ProgramConfig.h"
#include "dialogs/ProxyChackForm.h"

#include <QPointer>
#include <memory>

namespace {

// The one checker window of the program, cleared when the window goes away.
QPointer<ProxyChackForm::TProxyCheck> CheckerWindow;

// The controller as the checker window sees it.
class TMainFormCheckOwner : public ProxyChackForm::IProxyCheckOwner {
public:
    explicit TMainFormCheckOwner(TMainForm &Form) : FForm(Form) {}
    TProgramConfig &ProgramConfig() override { return *FForm.ProgramConfig; }
    const TMessageStrings &ms() const override { return FForm.ms; }
    void ShowWarningMessage(const QString &Msg, const QString &Url) override { FForm.ShowWarningMessage(Msg, Url); }
    void ReBuildProxyMenu() override { FForm.ReBuildProxyMenu(); }

private:
    TMainForm &FForm;
};

} // namespace

bool CheckerWindowVisible() {
    return CheckerWindow && CheckerWindow->isVisible();
}

void ExecCheckerWindow(TMainForm &Form) {
    if (CheckerWindow || !Form.ProgramConfig)
        return;
    TMainFormCheckOwner owner(Form);
    auto window = std::make_unique<ProxyChackForm::TProxyCheck>(owner);
    CheckerWindow = window.get();
    window->SetProxyListVIP(Form.ProgramConfig->ProxyList());
    window->SetProxyListUser(Form.ProgramConfig->ProxyListUser());
    // Downloads and deleting the active proxy wait while the window works on copies of the lists.
    const bool wasChecking = Form.ProxyCheckingInProgress;
    Form.ProxyCheckingInProgress = true;
    window->exec();
    Form.ProxyCheckingInProgress = wasChecking;
}
