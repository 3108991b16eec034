// The preferences dialog, driven as a user would: shown, clicked, saved or cancelled, against a
// loopback list service for the country and port choices.

#include "dialogs/OptionsFormCode.h"
#include "platform/ServiceEndpoints.h"
#include "sourcing/DownloadCountryThread.h"
#include "tests/dialogs/DialogsTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace dialogtests;

namespace {

class OptionsDialog : public ::testing::Test {
protected:
    // A service address where nothing listens: the fetch fails at once.
    static QString DownService() { return QStringLiteral("http://127.0.0.1:%1").arg(testsupport::FreeTcpPort()); }

    std::unique_ptr<TOptions> Open(const QString &ServiceBase) {
        auto dlg = std::make_unique<TOptions>(Owner);
        dlg->SetServiceBaseUrl(ServiceBase);
        dlg->show();
        return dlg;
    }
    static void WaitForFetch(TOptions &Dlg) {
        ASSERT_TRUE(WaitUntil([&] { return !Dlg.CountryFetchRunning(); }));
        QCoreApplication::processEvents();
    }
    QStringList WarningTexts() const {
        QStringList out;
        for (const TWarning &w : Owner.Warnings)
            out << w.Msg;
        return out;
    }

    FakeOptionsOwner Owner;
};

TEST_F(OptionsDialog, FirstShowingWithTheServiceDownSaysLoadingThenWarnsAndRefusesOk) {
    auto dlg = Open(DownService());
    // Until the fetch ends both lists are disabled and say so.
    EXPECT_TRUE(dlg->CountryFetchRunning());
    EXPECT_FALSE(dlg->cmbcountry->isEnabled());
    EXPECT_FALSE(dlg->cmbPort->isEnabled());
    EXPECT_EQ(dlg->cmbcountry->placeholderText(), "Loading...");
    EXPECT_EQ(dlg->cmbPort->placeholderText(), "Loading...");
    EXPECT_EQ(dlg->cmbcountry->count(), 0);
    // The rest of the dialog is usable meanwhile.
    EXPECT_TRUE(dlg->cmbType->isEnabled());

    WaitForFetch(*dlg);
    ASSERT_EQ(Owner.Warnings.size(), 1u);
    EXPECT_EQ(Owner.Warnings[0].Msg, "Cannot loading data from server");
    EXPECT_EQ(Owner.Warnings[0].Url, FaqUrl());
    EXPECT_FALSE(dlg->cmbcountry->isEnabled());
    EXPECT_FALSE(dlg->cmbPort->isEnabled());
    EXPECT_TRUE(Owner.CountryList.isEmpty());

    // OK in list-service mode: both messages, one per line; nothing stored, the dialog stays.
    dlg->spnMiniSpeed->setValue(77);
    dlg->OKBtn->click();
    ASSERT_EQ(Owner.Warnings.size(), 2u);
    EXPECT_EQ(Owner.Warnings[1].Msg, "Please select a proxy country\nPlease select a proxy port");
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_NE(dlg->result(), QDialog::Accepted);
    EXPECT_NE(Owner.Config.MiniSpeed(), 77);
    EXPECT_TRUE(Owner.Calls.isEmpty());
}

TEST_F(OptionsDialog, ListsArriveOncePerRunAndOnlyTheMissingPortIsReported) {
    FakeCountryService service(kCountryReply);
    Owner.Config.SetCountry(QStringLiteral("de")); // keys match without regard to case
    Owner.Config.SetPort(QStringLiteral("3128"));  // not offered: no selection
    auto dlg = Open(service.Base());
    WaitForFetch(*dlg);
    EXPECT_TRUE(Owner.Warnings.empty());
    EXPECT_EQ(Owner.CountryList, (QStringList{"US=United States", "DE=Germany"}));
    EXPECT_EQ(Owner.PortList, (QStringList{"80=80", "8080=8080"}));
    ASSERT_EQ(dlg->cmbcountry->count(), 2);
    EXPECT_EQ(dlg->cmbcountry->itemText(0), "United States");
    EXPECT_EQ(dlg->cmbcountry->currentText(), "Germany");
    EXPECT_EQ(dlg->cmbPort->currentIndex(), -1);
    EXPECT_TRUE(dlg->cmbcountry->isEnabled());
    EXPECT_TRUE(dlg->cmbPort->isEnabled());

    dlg->OKBtn->click();
    ASSERT_EQ(Owner.Warnings.size(), 1u);
    EXPECT_EQ(Owner.Warnings[0].Msg, "Please select a proxy port");
    EXPECT_TRUE(dlg->isVisible());

    dlg->cmbPort->setCurrentIndex(1);
    dlg->OKBtn->click();
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(Owner.Config.Country(), "DE");
    EXPECT_EQ(Owner.Config.Port(), "8080");
    EXPECT_EQ(Owner.Calls, (QStringList{"LoadProxyClick"}));

    // The next showing takes the kept lists: no second request.
    dlg->show();
    EXPECT_FALSE(dlg->CountryFetchRunning());
    EXPECT_EQ(dlg->cmbPort->currentText(), "8080");
    EXPECT_EQ(service.Requests.load(), 1);
}

TEST_F(OptionsDialog, ListsFetchedWhileTheCustomUrlIsChosenStayDisabled) {
    FakeCountryService service(kCountryReply);
    Owner.Config.SetUseListService(false);
    auto dlg = Open(service.Base());
    WaitForFetch(*dlg);
    EXPECT_EQ(dlg->cmbcountry->count(), 2);
    EXPECT_FALSE(dlg->cmbcountry->isEnabled());
    // Switching to the list service enables them now that they hold items.
    dlg->RatioBtn1->click();
    EXPECT_TRUE(dlg->cmbcountry->isEnabled());
    EXPECT_FALSE(dlg->RatioBtn2->isChecked());
    EXPECT_FALSE(dlg->EditCustomURL->isEnabled());
}

TEST_F(OptionsDialog, CustomUrlIsProbedBeforeAnythingIsStored) {
    FakeCountryService service(kCountryReply);
    struct TCase {
        const char *Name;
        QString Url;
        bool Accepted;
    } cases[] = {
        {"default text", QStringLiteral("http://"), false},
        {"unknown scheme", QStringLiteral("notascheme://list"), false},
        {"error status", service.Base() + QStringLiteral("/missing.txt"), false},
        {"nobody listening", DownService() + QStringLiteral("/list.txt"), false},
        {"a list", service.Base() + QStringLiteral("/list.txt"), true},
    };
    Owner.Config.SetCountry(QStringLiteral("FR"));
    Owner.Config.SetPort(QStringLiteral("3128"));
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        Owner.Warnings.clear();
        Owner.Calls.clear();
        Owner.Config.SetCustomURL(QStringLiteral("http://old.example/"));
        // The lists are never fetched here: custom-URL mode does not need them.
        auto dlg = Open(DownService());
        dlg->RatioBtn2->click();
        EXPECT_FALSE(dlg->cmbType->isEnabled());
        EXPECT_TRUE(dlg->EditCustomURL->isEnabled());
        dlg->EditCustomURL->setText(c.Url);
        dlg->ssClick();
        if (c.Accepted) {
            EXPECT_EQ(dlg->result(), QDialog::Accepted);
            EXPECT_FALSE(Owner.Config.UseListService());
            EXPECT_EQ(Owner.Config.CustomURL(), c.Url);
            // Without a selection the stored country and port stay.
            EXPECT_EQ(Owner.Config.Country(), "FR");
            EXPECT_EQ(Owner.Config.Port(), "3128");
            EXPECT_EQ(Owner.Calls, (QStringList{"LoadProxyClick"}));
        } else {
            EXPECT_TRUE(dlg->isVisible());
            ASSERT_FALSE(Owner.Warnings.empty());
            EXPECT_EQ(Owner.Warnings.back().Msg, "Custom URL is not valid");
            EXPECT_EQ(Owner.Warnings.back().Url, FaqUrl());
            EXPECT_EQ(Owner.Config.CustomURL(), "http://old.example/");
            EXPECT_TRUE(Owner.Config.UseListService());
            EXPECT_TRUE(Owner.Calls.isEmpty());
        }
        WaitForFetch(*dlg);
    }
}

TEST_F(OptionsDialog, UnknownStoredLanguageAndBrowserShowTheFirstItemAndOkStoresIt) {
    Owner.Config.SetLanguage(QStringLiteral("klingon"));
    Owner.Config.SetBrowser(QStringLiteral("netscape navigator"));
    Owner.Config.SetUseListService(false);
    FakeCountryService service(kCountryReply);
    Owner.Config.SetCustomURL(service.Base() + QStringLiteral("/list.txt"));
    auto dlg = Open(service.Base());
    EXPECT_EQ(dlg->cmbLanguage->currentText(), "english");
    EXPECT_EQ(dlg->cmbBrowser->currentText(), "all browsers");
    dlg->ssClick();
    ASSERT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(Owner.Config.Language(), "english");
    EXPECT_EQ(Owner.Config.Browser(), "all browsers");
    // The browser changed: the old one is restored before the new one is set up.
    EXPECT_EQ(Owner.Calls, (QStringList{"RestoreBrowser(0) with netscape navigator",
                                        "SetupBrowser(0) with all browsers", "LoadProxyClick"}));
    WaitForFetch(*dlg);
}

TEST_F(OptionsDialog, ChangingOnlyTheLanguageLeavesTheBrowserAlone) {
    FakeCountryService service(kCountryReply);
    Owner.Config.SetCountry(QStringLiteral("US"));
    Owner.Config.SetPort(QStringLiteral("80"));
    Owner.Config.SetBrowser(QStringLiteral("mozilla firefox"));
    auto dlg = Open(service.Base());
    WaitForFetch(*dlg);
    dlg->cmbLanguage->setCurrentText(QStringLiteral("deutsch"));
    dlg->OKBtn->click();
    ASSERT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(Owner.Config.Language(), "deutsch");
    EXPECT_EQ(Owner.Config.Browser(), "mozilla firefox");
    EXPECT_EQ(Owner.Calls, (QStringList{"LoadProxyClick"}));
}

TEST_F(OptionsDialog, OkAlwaysStoresPostGetAnyAndMaxPing15AndEveryBoundValue) {
    FakeCountryService service(kCountryReply);
    TProgramConfig &c = Owner.Config;
    c.SetSupportPostGet(QStringLiteral("yes"));
    c.SetMaxPing(99);
    c.SetCountry(QStringLiteral("US"));
    c.SetPort(QStringLiteral("8080"));
    c.SetProxyType(QStringLiteral("elite"));
    c.SetSupportSSL(QStringLiteral("no"));
    c.SetMiniSpeed(42);
    c.SetMiniUptime(55);
    c.SetMiniUptimeHr(200);
    c.SetTimeInteval(300);
    c.SetAutoDownloadProxy(true);
    c.SetAutoDownloadInterval(123456);
    c.SetAutoChangeProxy(true);
    c.SetAutoChangeInterval(7);
    c.SetRemoveProxyOnSwitch(true);
    c.SetSortOption(TProxyCollection::stPort);
    c.SetKeepHistory(true);
    c.SetKeepHistoryHours(700);
    c.SetUseLocalProxy(true);
    c.SetLocalProxyIp(QStringLiteral("user:pass@10.0.0.9:3128"));
    c.SetLanguage(QStringLiteral("español"));
    c.SetBrowser(QStringLiteral("opera browser"));
    c.SetSort(true);
    auto dlg = Open(service.Base());
    WaitForFetch(*dlg);
    // Shown as stored...
    EXPECT_EQ(dlg->cmbType->currentText(), "elite");
    EXPECT_EQ(dlg->spnAutoDownload->value(), 123456);
    EXPECT_TRUE(dlg->spnAutoDownload->isEnabled());
    EXPECT_EQ(dlg->CmbSort->currentIndex(), 1);
    EXPECT_TRUE(dlg->CmbSort->isEnabled());
    EXPECT_TRUE(dlg->eLocalProxyServer->isEnabled());
    dlg->OKBtn->click();
    ASSERT_EQ(dlg->result(), QDialog::Accepted);
    // ...and stored back unchanged, except the two values the dialog always sets.
    EXPECT_EQ(c.SupportPostGet(), "any");
    EXPECT_EQ(c.MaxPing(), 15);
    EXPECT_EQ(c.Country(), "US");
    EXPECT_EQ(c.Port(), "8080");
    EXPECT_EQ(c.ProxyType(), "elite");
    EXPECT_EQ(c.SupportSSL(), "no");
    EXPECT_EQ(c.MiniSpeed(), 42);
    EXPECT_EQ(c.MiniUptime(), 55);
    EXPECT_EQ(c.MiniUptimeHr(), 200);
    EXPECT_EQ(c.TimeInteval(), 300);
    EXPECT_TRUE(c.UseListService());
    EXPECT_TRUE(c.AutoDownloadProxy());
    EXPECT_EQ(c.AutoDownloadInterval(), 123456);
    EXPECT_TRUE(c.AutoChangeProxy());
    EXPECT_EQ(c.AutoChangeInterval(), 7);
    EXPECT_TRUE(c.RemoveProxyOnSwitch());
    EXPECT_EQ(c.SortOption(), TProxyCollection::stPort);
    EXPECT_TRUE(c.KeepHistory());
    EXPECT_EQ(c.KeepHistoryHours(), 700);
    EXPECT_TRUE(c.UseLocalProxy());
    EXPECT_EQ(c.LocalProxyIp(), "user:pass@10.0.0.9:3128");
    EXPECT_EQ(c.Language(), "español");
    EXPECT_EQ(c.Browser(), "opera browser");
    EXPECT_TRUE(c.Sort());
}

TEST_F(OptionsDialog, EditsAreDroppedByCancelButHistoryClearingIsNot) {
    Owner.Config.BanedProxy()->Add(QStringLiteral("1.2.3.4:80=45000.5"));
    Owner.Config.SetMiniSpeed(10);
    auto dlg = Open(DownService());
    dlg->spnMiniSpeed->setValue(90);
    dlg->btnClearHistory->click();
    dlg->reject();
    EXPECT_EQ(Owner.Config.BanedProxy()->Count(), 0);
    EXPECT_EQ(Owner.Config.MiniSpeed(), 10);
    WaitForFetch(*dlg);
    dlg->show();
    EXPECT_EQ(dlg->spnMiniSpeed->value(), 10);
}

TEST_F(OptionsDialog, EachMarkEnablesItsControlAndTheSpinEditsTakeNoTyping) {
    auto dlg = Open(DownService());
    const std::pair<QCheckBox *, QWidget *> pairs[] = {{dlg->cbAutoDownload, dlg->spnAutoDownload},
                                                       {dlg->cbAutoSwitch, dlg->spnAutoChange},
                                                       {dlg->cbKeepHistory, dlg->spnHours},
                                                       {dlg->cbLocalProxy, dlg->eLocalProxyServer},
                                                       {dlg->RatioGroupSort, dlg->CmbSort}};
    for (const auto &[mark, control] : pairs) {
        SCOPED_TRACE(mark->objectName().toStdString());
        const bool before = mark->isChecked();
        EXPECT_EQ(control->isEnabled(), before);
        mark->click();
        EXPECT_EQ(control->isEnabled(), !before);
        mark->click();
        EXPECT_EQ(control->isEnabled(), before);
    }
    for (QSpinBox *s : {dlg->spnMiniSpeed, dlg->spnMiniUptime, dlg->spnMiniUptimeHr, dlg->spnIntaval,
                        dlg->spnAutoDownload, dlg->spnAutoChange, dlg->spnHours})
        EXPECT_TRUE(s->findChild<QLineEdit *>()->isReadOnly()) << s->objectName().toStdString();
    const std::tuple<QSpinBox *, int, int> ranges[] = {
        {dlg->spnMiniSpeed, 0, 100}, {dlg->spnMiniUptime, 0, 100},        {dlg->spnMiniUptimeHr, 0, 240},
        {dlg->spnIntaval, 0, 360},   {dlg->spnAutoDownload, 1, 99999999}, {dlg->spnAutoChange, 1, 99999999},
        {dlg->spnHours, 1, 720}};
    for (const auto &[spin, lo, hi] : ranges) {
        EXPECT_EQ(spin->minimum(), lo) << spin->objectName().toStdString();
        EXPECT_EQ(spin->maximum(), hi) << spin->objectName().toStdString();
    }
    // The radio buttons exclude each other across their groups; a second click keeps the choice.
    dlg->RatioBtn2->click();
    EXPECT_FALSE(dlg->RatioBtn1->isChecked());
    EXPECT_FALSE(dlg->lblCountry->isEnabled());
    EXPECT_TRUE(dlg->sLabelFX23->isEnabled());
    dlg->RatioBtn2->click();
    EXPECT_TRUE(dlg->RatioBtn2->isChecked());
    dlg->RatioBtn1->click();
    EXPECT_FALSE(dlg->RatioBtn2->isChecked());
    EXPECT_TRUE(dlg->lblCountry->isEnabled());
    // Still loading: the two lists stay disabled even with the list service chosen.
    EXPECT_FALSE(dlg->cmbcountry->isEnabled());
    WaitForFetch(*dlg);
}

TEST_F(OptionsDialog, AFoldedGroupStaysFoldedAfterCancelAndRestart) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("config.cfg"));
    int openHeight = 0;
    {
        auto dlg = Open(DownService());
        // Defaults: the list service group open, the other two folded to their caption line.
        EXPECT_GT(dlg->GroupBoxVIP->height(), TOptions::CollapsedHeight);
        EXPECT_EQ(dlg->GroupBoxOther->height(), TOptions::CollapsedHeight);
        EXPECT_EQ(dlg->GroupBoxSettings->height(), TOptions::CollapsedHeight);
        EXPECT_FALSE(dlg->cbAutoDownload->isVisible());
        openHeight = dlg->GroupBoxVIP->height();
        const int dialogHeight = dlg->height();
        dlg->imgIconVIP->click();
        dlg->imgIconSettings->click();
        EXPECT_FALSE(Owner.Config.GroupBoxVIPState());
        EXPECT_TRUE(Owner.Config.GroupBoxSettingsState());
        EXPECT_EQ(dlg->GroupBoxVIP->height(), TOptions::CollapsedHeight);
        EXPECT_FALSE(dlg->cmbType->isVisible());
        EXPECT_TRUE(dlg->cbAutoDownload->isVisible());
        EXPECT_NE(dlg->height(), dialogHeight); // the window follows its groups
        dlg->reject();
        WaitForFetch(*dlg);
        Owner.Config.SaveToFile(file);
    }
    FakeOptionsOwner restarted;
    restarted.Config.LoadFromFile(file);
    TOptions dlg(restarted);
    dlg.SetServiceBaseUrl(DownService());
    dlg.show();
    EXPECT_EQ(dlg.GroupBoxVIP->height(), TOptions::CollapsedHeight);
    EXPECT_FALSE(dlg.cmbType->isVisible());
    EXPECT_TRUE(dlg.cbAutoDownload->isVisible());
    dlg.imgIconVIP->click();
    EXPECT_EQ(dlg.GroupBoxVIP->height(), openHeight);
    EXPECT_TRUE(dlg.cmbType->isVisible());
    WaitForFetch(dlg);
}

TEST_F(OptionsDialog, AReplyWithoutTheSeparatorLineIsAFailedFetch) {
    FakeCountryService service("US:United States\r\nDE:Germany\r\n");
    auto dlg = Open(service.Base());
    WaitForFetch(*dlg);
    EXPECT_EQ(WarningTexts(), (QStringList{"Cannot loading data from server"}));
    EXPECT_TRUE(Owner.CountryList.isEmpty());
    EXPECT_EQ(dlg->cmbcountry->count(), 0);
    // The next showing tries again.
    dlg->reject();
    dlg->show();
    EXPECT_TRUE(dlg->CountryFetchRunning());
    WaitForFetch(*dlg);
    EXPECT_EQ(service.Requests.load(), 2);
}

TEST_F(OptionsDialog, ClosingWhileTheFetchRunsIsSafe) {
    // The service answers only after the dialog is gone.
    testsupport::LoopbackHttpServer slow;
    std::atomic<bool> release{false};
    slow.Server.Get("/engine/index2.php", [&](const httplib::Request &, httplib::Response &Res) {
        while (!release.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Res.set_content(kCountryReply, "text/plain");
    });
    slow.Start();
    QPointer<TDownloadCountryData> fetch;
    {
        auto dlg = Open(slow.Url());
        EXPECT_TRUE(dlg->CountryFetchRunning());
        fetch = dlg->findChild<TDownloadCountryData *>();
    }
    const bool outlived = !fetch.isNull(); // still running: it outlives the dialog
    release = true;
    ASSERT_TRUE(outlived);
    // The orphaned fetch runs to its end and frees itself; nothing reaches the destroyed dialog.
    EXPECT_TRUE(testsupport::WaitForDestroyed(fetch));
    EXPECT_TRUE(Owner.Warnings.empty());
    EXPECT_TRUE(Owner.CountryList.isEmpty());
    slow.Stop();
}

} // namespace
