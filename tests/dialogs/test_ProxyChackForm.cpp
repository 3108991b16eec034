// The proxy checker window on the offscreen platform: the real window, real check runs through
// small fake proxies of the tests' own, a local judge and a local page origin, all on loopback.

#include "config/LanguageTable.h"
#include "config/ProgramConfig.h"
#include "dialogs/ProxyChackForm.h"
#include "tests/checker/CheckerTestPeers.h"
#include "tests/checker/QtPrinters.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QThread>
#include <QTreeWidget>
#include <QWindow>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace checkerpeers;
namespace pcf = ProxyChackForm;

namespace {

const QStringList kLanguages = {QStringLiteral("english"),   QStringLiteral("русский"), QStringLiteral("український"),
                                QStringLiteral("française"), QStringLiteral("español"), QStringLiteral("deutsch")};

constexpr const char *Keyword = "checker-window-keyword";

// The main window as the checker sees it: a real configuration, the message texts of the
// configured language, and a record of warnings and menu rebuilds.
struct TFakeOwner : ProxyChackForm::IProxyCheckOwner {
    explicit TFakeOwner(const QString &Language = QStringLiteral("english")) {
        config.SetLanguage(Language);
        texts = LoadMessageStrings(Language);
    }
    TProgramConfig &ProgramConfig() override { return config; }
    const TMessageStrings &ms() const override { return texts; }
    void ShowWarningMessage(const QString &Msg, const QString &Url) override { warnings.append({Msg, Url}); }
    void ReBuildProxyMenu() override {
        ++rebuilds;
        // What the menu would show now: the stored lists.
        listAtRebuild = config.ProxyList()->Count();
        userAtRebuild = config.ProxyListUser()->Count();
    }
    bool Warned(const QString &Msg) const {
        for (const auto &w : warnings)
            if (w.first == Msg)
                return true;
        return false;
    }
    TProgramConfig config{nullptr, QLocale::English};
    TMessageStrings texts;
    QList<std::pair<QString, QString>> warnings;
    int rebuilds = 0, listAtRebuild = -1, userAtRebuild = -1;
};

TProxtData *AddProxy(TProxyCollection &List, const QString &Country, const QString &Code, int Port, double Ping = -1) {
    TProxtData *p = List.Add(Country, Code, 0, QStringLiteral("127.0.0.1"), Port);
    // A measured record is a tested one (copying an untested record clears its results).
    p->SetTested(Ping >= 0);
    p->SetPing(Ping);
    return p;
}

bool SpinUntil(const std::function<bool()> &Done, int BoundMs = 60000) {
    QElapsedTimer t;
    t.start();
    while (!Done() && t.elapsed() < BoundMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return Done();
}

[[maybe_unused]] QStringList Column(const pcf::TProxyCheck &W, int Col) {
    QStringList out;
    for (int i = 0; i < W.ProxyList->topLevelItemCount(); ++i)
        out.append(W.ProxyList->topLevelItem(i)->text(Col));
    return out;
}

[[maybe_unused]] int ImageIndex(const pcf::TProxyCheck &W, int Row, int Col) {
    return W.ProxyList->topLevelItem(Row)->data(Col, Qt::UserRole + 1).toInt();
}

// A port where nothing listens.
int DeadPort() {
    TRawServer s([](int) {});
    const int port = s.Port();
    s.Stop();
    return port;
}

// Local test sites: the judge, a page with the keyword, a download for the speed test.
struct TLocalSites {
    TLocalSites() {
        origin.Page("/page", std::string("<html><body>") + Keyword + "</body></html>");
        origin.Page("/big", std::string(100000, 'z'), "application/octet-stream");
    }
    TCheckerSites Sites() const {
        TCheckerSites s;
        s.Judges = {judge.Url()};
        s.Http = {{origin.Url("/page"), QLatin1String(Keyword)}};
        s.Speed = {origin.Url("/big")};
        s.Https = {{origin.Url("/nothing-secure"), QLatin1String(Keyword)}};
        return s;
    }
    TTestJudge judge;
    TTestOrigin origin;
};

// A window over the owner's lists, shown the way the opener shows it.
struct TWindow {
    TWindow(TFakeOwner &Owner, const TLocalSites *Local = nullptr)
        : w(Owner, nullptr, Local ? std::optional<TCheckerSites>(Local->Sites()) : std::nullopt) {
        w.SetProxyListVIP(Owner.config.ProxyList());
        w.SetProxyListUser(Owner.config.ProxyListUser());
        w.KvProxyTest->SetHttpsTimeout(2);
        w.TimeOutBasic->setValue(5);
        w.TimeOutSpeed->setValue(5);
        w.show();
    }
    bool WaitIdle() {
        return SpinUntil([this]() -> bool { return w.BtnStart->isEnabled() && !w.KvProxyTest->IsThreadsActive(); });
    }
    pcf::TProxyCheck w;
};

// The screenshot program on Xvfb takes the pictures only.
#ifndef RELAYVANE_TEST_XVFB_SCREEN

// --- Creation and the filter ---------------------------------------------------------------------

TEST(CheckerWindow, DefaultFilterShowsZeroAndFifteenAndSavesFifteen) {
    TFakeOwner owner;
    AddProxy(*owner.config.ProxyList(), "Germany", "DE", 8080, 3);
    AddProxy(*owner.config.ProxyList(), "Germany", "DE", 8081, 20); // ping over the default maximum
    AddProxy(*owner.config.ProxyListUser(), "France", "FR", 3128);  // never measured
    ASSERT_EQ(owner.config.ProxyFilter()->MaxPing(), 0);
    TWindow win(owner);

    EXPECT_EQ(win.w.spnMiniSpeed->currentText(), "0");
    EXPECT_EQ(win.w.spnMaxPing->currentText(), "15");
    EXPECT_EQ(win.w.ProxyFilter->MaxPing(), 15);
    EXPECT_EQ(Column(win.w, 2), QStringList({"127.0.0.1:8080", "127.0.0.1:3128"}));

    win.w.BtnSave->click();
    EXPECT_EQ(owner.config.ProxyFilter()->MaxPing(), 15);
    EXPECT_EQ(owner.rebuilds, 1);
    EXPECT_EQ(win.w.result(), QDialog::Accepted);
}

TEST(CheckerWindow, StoredFilterIsSelectedWithoutBeingOverwrittenWhileTheListsFill) {
    TFakeOwner owner;
    AddProxy(*owner.config.ProxyList(), "Germany", "DE", 8080);
    AddProxy(*owner.config.ProxyList(), "Japan", "JP", 3128);
    TProxyFilter *f = owner.config.ProxyFilter();
    f->SetCountry("CN,JP,MO,MN,TW");
    f->SetPort("3128");
    f->SetProxyType("elite");
    f->SetHttpsPost(tsTrue);
    f->SetHttpPost(tsFalse);
    f->SetBotNetProxy(tsFalse);
    f->SetMiniSpeed(20.7);
    f->SetMaxPing(25);
    TWindow win(owner);

    EXPECT_EQ(win.w.cmbcountry->currentText(), "The Eastern Asia");
    EXPECT_EQ(win.w.cmbPort->currentText(), "3128");
    EXPECT_EQ(win.w.cmbType->currentText(), "elite");
    EXPECT_EQ(win.w.cmbSSL->currentText(), "yes");
    EXPECT_EQ(win.w.cmbPost->currentText(), "no");
    EXPECT_EQ(win.w.cmbBotNet->currentText(), "no");
    EXPECT_EQ(win.w.spnMiniSpeed->currentText(), "20");
    EXPECT_EQ(win.w.spnMaxPing->currentText(), "25");
    EXPECT_EQ(Column(win.w, 2), QStringList({"127.0.0.1:3128"}));
    EXPECT_EQ(win.w.ProxyFilter->Port(), "3128");
}

TEST(CheckerWindow, RegionGroupsAndCountriesFromTheLists) {
    TFakeOwner owner;
    TProxyCollection &vip = *owner.config.ProxyList();
    AddProxy(vip, "United States", "US", 1);
    AddProxy(vip, "Canada", "CA", 2);
    AddProxy(vip, "Germany", "DE", 3);
    AddProxy(*owner.config.ProxyListUser(), "Germany", "DE", 4);
    AddProxy(*owner.config.ProxyListUser(), "", "", 5);
    TWindow win(owner);

    // The eight regions, then each country name once, in list order; no empty choice.
    EXPECT_EQ(win.w.cmbcountry->count(), 11);
    EXPECT_EQ(win.w.FCountryCode.mid(8), QStringList({"US", "CA", "DE"}));
    EXPECT_EQ(win.w.cmbPort->count(), 6);

    const struct {
        QString item;
        QStringList ports;
    } cases[] = {
        {"USA and Canada", {"127.0.0.1:1", "127.0.0.1:2"}},
        {"Germany", {"127.0.0.1:3", "127.0.0.1:4"}},
        {"The Western Europe", {"127.0.0.1:3", "127.0.0.1:4"}},
        {"The Eastern Asia", {}},
        {"any", {"127.0.0.1:1", "127.0.0.1:2", "127.0.0.1:3", "127.0.0.1:4", "127.0.0.1:5"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.item.toStdString());
        win.w.cmbcountry->setCurrentIndex(win.w.cmbcountry->findText(c.item));
        EXPECT_EQ(Column(win.w, 2), c.ports);
    }
}

// --- Rows ----------------------------------------------------------------------------------------

TEST(CheckerWindow, FlagsAreCachedAndMissingCountriesGetTheNoCountryPicture) {
    TFakeOwner owner;
    TProxyCollection &vip = *owner.config.ProxyList();
    AddProxy(vip, "Unknown", "NN", 1);
    AddProxy(vip, "", "", 2);
    AddProxy(vip, "Germany", "DE", 3);
    AddProxy(vip, "Germany", "DE", 4);
    AddProxy(vip, "Nowhere", "QQ", 5); // a code without a flag picture
    TProxtData *dead = AddProxy(vip, "France", "FR", 6);
    dead->SetTested(true);
    dead->SetAlive(tsFalse);
    TWindow win(owner);

    ASSERT_EQ(win.w.ProxyList->topLevelItemCount(), 6);
    const int expected[] = {
        pcf::TProxyCheck::imgNoCountry, pcf::TProxyCheck::imgNoCountry, 4, 4, pcf::TProxyCheck::imgNoCountry, 5};
    for (int r = 0; r < 6; ++r)
        EXPECT_EQ(ImageIndex(win.w, r, 0), expected[r]) << "row " << r;
    // "NN" is answered from the design pictures and an unknown code is not cached.
    EXPECT_EQ(win.w.CountryCode, QStringList({"?", "Proxy OK", "Proxy Dead", "NN", "DE", "FR"}));
    EXPECT_EQ(win.w.CountryList.size(), 6);
    EXPECT_FALSE(win.w.CountryList.at(4).isNull());

    // The state picture follows the alive state; the texts come from the message texts.
    EXPECT_EQ(ImageIndex(win.w, 0, 1), pcf::TProxyCheck::imgUnknownState);
    EXPECT_EQ(ImageIndex(win.w, 5, 1), pcf::TProxyCheck::imgDead);
    EXPECT_EQ(Column(win.w, 1).last(), owner.texts.sDead);
    EXPECT_EQ(Column(win.w, 9), QStringList(6, "-"));
    EXPECT_EQ(win.w.ProxyList->topLevelItem(2)->toolTip(5), "Germany");
}

TEST(CheckerWindow, TenColumnsWithTheirFixedWidths) {
    TFakeOwner owner;
    TWindow win(owner);
    QHeaderView *h = win.w.ProxyList->header();
    ASSERT_EQ(win.w.ProxyList->columnCount(), 10);
    const QStringList captions = {"Country",  "Status",    "IP:Port", "Type", "BotNet",
                                  "POST&GET", "SSL/HTTPS", "Speed",   "Ping", "Result"};
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(h->sectionSize(i), pcf::TProxyCheck::ColumnWidths[i]);
        EXPECT_EQ(h->sectionResizeMode(i), QHeaderView::Fixed);
        EXPECT_EQ(win.w.ProxyList->headerItem()->text(i), captions.at(i));
    }
    // Every column is in view: the list is as wide as its columns.
    EXPECT_GE(win.w.ProxyList->viewport()->width(), h->length());
}

TEST(CheckerWindow, TestSetFollowsTheBoxes) {
    TFakeOwner owner;
    TWindow win(owner);
    const struct {
        bool info, botnet, https, speed;
        TTests tests;
        bool botnetEnabled;
    } cases[] = {
        {true, true, true, true, {ttDeadOrAlive, ttTest1, ttHttps, ttSpeed}, true},
        {true, false, false, false, {ttDeadOrAlive, ttTest1NoBootnet}, true},
        {false, true, true, false, {ttDeadOrAlive, ttHttps}, false},
        {false, false, false, true, {ttDeadOrAlive, ttSpeed}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.tests.Bits));
        win.w.CheckBoxInfo->setChecked(c.info);
        win.w.CheckBoxBotnet->setChecked(c.botnet);
        win.w.CheckBoxHttps->setChecked(c.https);
        win.w.CheckBoxSpeed->setChecked(c.speed);
        EXPECT_EQ(win.w.SelectedTests(), c.tests);
        EXPECT_EQ(win.w.CheckBoxBotnet->isEnabled(), c.botnetEnabled);
    }
}

TEST(CheckerWindow, RemoveDeadWithNoneDeadChangesNothing) {
    TFakeOwner owner;
    AddProxy(*owner.config.ProxyList(), "Germany", "DE", 1)->SetAlive(tsTrue);
    AddProxy(*owner.config.ProxyListUser(), "France", "FR", 2);
    TWindow win(owner);
    win.w.BtnDelDead->click();
    EXPECT_EQ(win.w.ProxyListVIP()->Count(), 1);
    EXPECT_EQ(win.w.ProxyListUser()->Count(), 1);
    EXPECT_EQ(win.w.ProxyList->topLevelItemCount(), 2);
}

TEST(CheckerWindow, ResetForgetsResultsOfTheShownProxiesOnly) {
    TFakeOwner owner;
    for (int port : {1, 2}) {
        TProxtData *p =
            AddProxy(*owner.config.ProxyList(), port == 1 ? "Germany" : "Japan", port == 1 ? "DE" : "JP", port, 1);
        p->SetTested(true);
        p->SetAlive(tsTrue);
    }
    TWindow win(owner);
    win.w.cmbcountry->setCurrentIndex(win.w.cmbcountry->findText("Germany"));
    win.w.BtnResetClick();
    EXPECT_EQ(win.w.ProxyListVIP()->Items(0)->Alive(), tsUnknown);
    EXPECT_EQ(win.w.ProxyListVIP()->Items(1)->Alive(), tsTrue);
    // The configuration keeps its own records until a save.
    EXPECT_EQ(owner.config.ProxyList()->Items(0)->Alive(), tsTrue);
}

TEST(CheckerWindow, RatingsStayWithinZeroToFiveWhenPartlyTestedProxiesFallOutsideTheScale) {
    TFakeOwner owner;
    auto complete = [&](int Port, double Speed, double Ping) {
        TProxtData *p = AddProxy(*owner.config.ProxyList(), "Germany", "DE", Port, Ping);
        for (auto set :
             {&TProxtData::SetAlive, &TProxtData::SetTranparent, &TProxtData::SetAnonymous, &TProxtData::SetElite,
              &TProxtData::SetBotnet, &TProxtData::SetHttpGet, &TProxtData::SetHttpPost, &TProxtData::SetHttpsGet})
            (p->*set)(tsTrue);
        p->SetSpeed(Speed);
        return p;
    };
    complete(1, 1000, 1);
    complete(2, 2000, 2);
    // Alive and measured, but without the information test: not part of the scale.
    for (auto [port, speed] : {std::pair{3, 100000.0}, std::pair{4, 10.0}}) {
        TProxtData *p = AddProxy(*owner.config.ProxyList(), "Germany", "DE", port, 0.5);
        p->SetAlive(tsTrue);
        p->SetSpeed(speed);
    }
    TWindow win(owner);
    ASSERT_EQ(win.w.ProxyList->topLevelItemCount(), 4);
    win.w.BtnSave->click();
    const TProxyCollection &saved = *owner.config.ProxyList();
    for (int i = 0; i < saved.Count(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(saved.Items(i)->Rank(), 0);
        EXPECT_LE(saved.Items(i)->Rank(), 5);
    }
    EXPECT_EQ(saved.Items(2)->Rank(), 5);
    EXPECT_GT(saved.Items(1)->Rank(), saved.Items(0)->Rank());
}

// --- Check runs ----------------------------------------------------------------------------------

TEST(CheckerWindow, RunShowsProgressRatesAndSaveStoresTheListsAndRebuildsTheMenu) {
    TLocalSites local;
    TFakeProxy good(TProxyMode::Forward);
    TFakeProxy other(TProxyMode::Forward);
    TFakeOwner owner;
    AddProxy(*owner.config.ProxyList(), "Germany", "DE", good.Port());
    AddProxy(*owner.config.ProxyList(), "France", "FR", DeadPort());
    AddProxy(*owner.config.ProxyListUser(), "Japan", "JP", other.Port());
    AddProxy(*owner.config.ProxyListUser(), "Japan", "JP", DeadPort());
    TWindow win(owner, &local);
    pcf::TProxyCheck &w = win.w;
    ASSERT_EQ(w.ProxyList->topLevelItemCount(), 4);

    w.BtnStart->click();
    // Running: only Stop works, and every row waits.
    for (QPushButton *b : {w.BtnStart, w.BtnReset, w.BtnDelDead, w.BtnSave, w.BtnCancel})
        EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
    EXPECT_TRUE(w.BtnStop->isEnabled());
    EXPECT_EQ(Column(w, 9), QStringList(4, owner.texts.sPending));

    ASSERT_TRUE(win.WaitIdle());
    EXPECT_TRUE(owner.Warned(owner.texts.sCheckingFinished));
    EXPECT_FALSE(w.BtnStop->isEnabled());
    EXPECT_EQ(Column(w, 9), QStringList(4, owner.texts.sDone));
    EXPECT_EQ(Column(w, 1),
              QStringList({owner.texts.sAlive, owner.texts.sDead, owner.texts.sAlive, owner.texts.sDead}));
    EXPECT_EQ(ImageIndex(w, 0, 1), pcf::TProxyCheck::imgWorks);
    EXPECT_EQ(ImageIndex(w, 1, 1), pcf::TProxyCheck::imgDead);
    // The judge saw no forwarding headers: elite, and POST works.
    EXPECT_EQ(w.ProxyList->topLevelItem(0)->text(3), w.ProxyListVIP()->Items(0)->TypeAsString());
    EXPECT_NE(w.ProxyList->topLevelItem(0)->text(3), "-");
    EXPECT_EQ(w.ProxyList->topLevelItem(0)->text(5), owner.texts.sYes);
    EXPECT_NE(w.ProxyList->topLevelItem(0)->text(7), "-");
    // Working proxies earn points (POST at least), dead ones none.
    EXPECT_GT(w.ProxyListVIP()->Items(0)->Rank(), 0);
    EXPECT_EQ(w.ProxyListVIP()->Items(1)->Rank(), 0);
    // Nothing reached the configuration yet.
    EXPECT_FALSE(owner.config.ProxyList()->Items(0)->Tested());

    w.BtnDelDead->click();
    EXPECT_EQ(Column(w, 2), QStringList({QStringLiteral("127.0.0.1:%1").arg(good.Port()),
                                         QStringLiteral("127.0.0.1:%1").arg(other.Port())}));
    w.cmbPort->setCurrentIndex(w.cmbPort->findText(QString::number(good.Port())));
    w.BtnSave->click();

    EXPECT_EQ(owner.rebuilds, 1);
    EXPECT_EQ(owner.listAtRebuild, 1);
    EXPECT_EQ(owner.userAtRebuild, 1);
    EXPECT_EQ(owner.config.ProxyList()->Items(0)->Alive(), tsTrue);
    EXPECT_GT(owner.config.ProxyList()->Items(0)->Rank(), 0);
    EXPECT_EQ(owner.config.ProxyFilter()->Port(), QString::number(good.Port()));
    EXPECT_FALSE(w.isVisible());
}

TEST(CheckerWindow, CloseIsRefusedDuringARunAndAllowedAfterStop) {
    TLocalSites local;
    TFakeProxy stall(TProxyMode::Stall);
    TFakeOwner owner;
    AddProxy(*owner.config.ProxyList(), "Germany", "DE", stall.Port());
    TWindow win(owner, &local);
    pcf::TProxyCheck &w = win.w;
    w.TimeOutBasic->setValue(60);
    w.BtnStart->click();
    ASSERT_TRUE(SpinUntil([&] { return Column(w, 9) == QStringList({owner.texts.sChecking}); }));

    // The window manager's close and Escape are both refused with the warning.
    EXPECT_FALSE(w.close());
    w.reject();
    EXPECT_TRUE(w.isVisible());
    int refusals = 0;
    for (const auto &m : owner.warnings)
        refusals += m.first == owner.texts.sCheckinNotFinished;
    EXPECT_EQ(refusals, 2);

    w.BtnStop->click();
    ASSERT_TRUE(win.WaitIdle());
    EXPECT_EQ(Column(w, 9), QStringList({owner.texts.sDone}));
    EXPECT_TRUE(w.close());
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(owner.rebuilds, 0);
}

// --- Texts in every language ---------------------------------------------------------------------

// The width a control needs to show its text whole.
int NeededWidth(QWidget *W, int &Have) {
    const QFontMetrics fm(W->font());
    if (auto *l = qobject_cast<QLabel *>(W)) {
        Have = l->contentsRect().width();
        return fm.horizontalAdvance(l->text().remove(QRegularExpression("&(?!&)")));
    }
    if (auto *b = qobject_cast<QAbstractButton *>(W)) {
        Have = b->width();
        return b->sizeHint().width();
    }
    if (auto *g = qobject_cast<QGroupBox *>(W)) {
        // The skin draws the caption in bold, 8 pixels in from the left edge.
        QFont bold = g->font();
        bold.setBold(true);
        Have = g->width();
        return QFontMetrics(bold).horizontalAdvance(g->title()) + 16;
    }
    Have = 0;
    return 0;
}

TEST(CheckerWindow, EveryTextFitsInEveryLanguage) {
    for (const QString &language : kLanguages) {
        SCOPED_TRACE(language.toStdString());
        TFakeOwner owner(language);
        TWindow win(owner);
        win.w.adjustSize();
        QApplication::processEvents();
        EXPECT_TRUE(win.w.windowTitle().endsWith(" - RVN 3.1.3"));
        EXPECT_FALSE(win.w.lblCountry->text().isEmpty());
        for (QWidget *c : win.w.findChildren<QWidget *>()) {
            if (!qobject_cast<QLabel *>(c) && !qobject_cast<QAbstractButton *>(c) && !qobject_cast<QGroupBox *>(c))
                continue;
            int have = 0;
            const int need = NeededWidth(c, have);
            EXPECT_LE(need, have) << c->metaObject()->className() << " \""
                                  << c->property("text").toString().toStdString()
                                  << c->property("title").toString().toStdString() << "\"";
        }
    }
}

#endif // RELAYVANE_TEST_XVFB_SCREEN

// Pictures of the real window (English and Russian) into the build folder; under Xvfb they are
// grabbed from the X server, offscreen from the window's own rendering.
TEST(CheckerWindow, Screenshots) {
    TLocalSites local;
    TFakeProxy good(TProxyMode::Forward);
    for (const QString &language : {QStringLiteral("english"), QStringLiteral("русский")}) {
        TFakeOwner owner(language);
        AddProxy(*owner.config.ProxyList(), "Germany", "DE", good.Port());
        AddProxy(*owner.config.ProxyList(), "United States", "US", DeadPort());
        AddProxy(*owner.config.ProxyListUser(), "Japan", "JP", good.Port());
        AddProxy(*owner.config.ProxyListUser(), "", "NN", DeadPort());
        TWindow win(owner, &local);
        win.w.BtnStart->click();
        ASSERT_TRUE(win.WaitIdle());
        QPixmap shot;
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            // The X server's own pixels once the window is mapped and painted.
            ASSERT_TRUE(SpinUntil([&] { return win.w.windowHandle() && win.w.windowHandle()->isExposed(); }, 10000));
            for (int i = 0; i < 5; ++i)
                QApplication::processEvents();
            win.w.repaint();
            QApplication::processEvents();
            shot = win.w.screen()->grabWindow(win.w.winId());
        } else {
            shot = win.w.grab();
        }
        ASSERT_GE(shot.width(), 900);
        const QString name = language == "english" ? "en" : "ru";
        const QString path = QStringLiteral(RELAYVANE_BUILD_DIR "/screenshots/checker-%1-%2.png")
                                 .arg(name, QGuiApplication::platformName());
        QDir().mkpath(QFileInfo(path).absolutePath());
        ASSERT_TRUE(shot.save(path)) << path.toStdString();
    }
}

} // namespace
