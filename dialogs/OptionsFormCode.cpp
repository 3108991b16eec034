#include "dialogs/OptionsFormCode.h"

#include "config/ProgramConfig.h"
#include "dialogs/DialogStyle.h"
#include "platform/HttpClient.h"
#include "platform/ServiceEndpoints.h"
#include "sourcing/DownloadCountryThread.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

using DialogStyle::Text;

namespace {

// "key=text": the key is what the configuration stores, the text what the list shows. A line
// without "=" has neither, as with the platform's string list.
QString EntryName(const QString &Entry) {
    const int eq = Entry.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : Entry.left(eq);
}
QString EntryValue(const QString &Entry) {
    const int eq = Entry.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : Entry.mid(eq + 1);
}

// The item whose text equals Value; when none does, the first item.
void SelectText(QComboBox *Combo, const QString &Value) {
    const int i = Combo->findText(Value, Qt::MatchExactly | Qt::MatchCaseSensitive);
    Combo->setCurrentIndex(i >= 0 ? i : (Combo->count() > 0 ? 0 : -1));
}

QSpinBox *NewSpin(QWidget *Parent, const char *Name, int Min, int Max) {
    auto *s = new QSpinBox(Parent);
    s->setObjectName(QString::fromLatin1(Name));
    s->setRange(Min, Max);
    // Values change through the arrows (and the arrow keys) only, never by typing.
    if (auto *edit = s->findChild<QLineEdit *>())
        edit->setReadOnly(true);
    s->setMinimumWidth(110);
    return s;
}

QComboBox *NewCombo(QWidget *Parent, const char *Name, const QStringList &Items = {}) {
    auto *c = new QComboBox(Parent);
    c->setObjectName(QString::fromLatin1(Name));
    c->addItems(Items);
    c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    c->setMinimumWidth(190);
    return c;
}

QLabel *NewLabel(QWidget *Parent, const char *Name) {
    auto *l = new QLabel(Parent);
    l->setObjectName(QString::fromLatin1(Name));
    return l;
}

QCheckBox *NewCheck(QWidget *Parent, const char *Name) {
    auto *c = new QCheckBox(Parent);
    c->setObjectName(QString::fromLatin1(Name));
    return c;
}

// A group box whose caption line holds an optional radio button, the bold caption and the
// fold/unfold picture; the rest of the group is Content, hidden while the group is folded.
QGroupBox *NewGroup(QWidget *Parent, const char *Name, QRadioButton *Radio, QLabel *&Caption, QToolButton *&Icon,
                    QWidget *&Content) {
    auto *g = new QGroupBox(Parent);
    g->setObjectName(QString::fromLatin1(Name));
    auto *v = new QVBoxLayout(g);
    v->setContentsMargins(10, 6, 10, 6);
    v->setSpacing(6);
    auto *head = new QHBoxLayout();
    head->setSpacing(6);
    if (Radio) {
        Radio->setParent(g);
        head->addWidget(Radio);
    }
    Caption = new QLabel(g);
    Caption->setProperty("rvnCaption", true);
    head->addWidget(Caption);
    head->addStretch(1);
    Icon = new QToolButton(g);
    Icon->setIconSize(QSize(22, 22));
    Icon->setFixedSize(26, 26);
    Icon->setAutoRaise(true);
    Icon->setFocusPolicy(Qt::StrongFocus);
    head->addWidget(Icon);
    v->addLayout(head);
    Content = new QWidget(g);
    v->addWidget(Content);
    if (Radio)
        Caption->setBuddy(Radio);
    return g;
}

} // namespace

const QStringList &TOptions::LanguageItems() {
    static const QStringList items = {QStringLiteral("english"),     QStringLiteral("русский"),
                                      QStringLiteral("український"), QStringLiteral("française"),
                                      QStringLiteral("español"),     QStringLiteral("deutsch")};
    return items;
}

const QStringList &TOptions::BrowserItems() {
    static const QStringList items = {QStringLiteral("all browsers"),      QStringLiteral("google chrome"),
                                      QStringLiteral("mozilla firefox"),   QStringLiteral("opera browser"),
                                      QStringLiteral("internet explorer"), QStringLiteral("apple safari")};
    return items;
}

TOptions::TOptions(IOptionsOwner &Owner, QWidget *Parent) : QDialog(Parent), FOwner(Owner) {
    setObjectName(QStringLiteral("Options"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    DialogStyle::Apply(this);
    FormCreate();
}

TOptions::~TOptions() {
    // A fetch still running outlives the dialog: it is handed a handler that only frees it.
    if (FCountryFetch) {
        FCountryFetch->setParent(nullptr);
        FCountryFetch->SetOnTerminate([](TDownloadCountryData *Sender) { Sender->deleteLater(); });
        FCountryFetch = nullptr;
    }
}

void TOptions::FormCreate() {
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(10, 10, 10, 10);
    root->setSpacing(8);
    // The window is always exactly as large as its content: it grows and shrinks with the groups.
    root->setSizeConstraint(QLayout::SetFixedSize);

    // The list service and its criteria.
    RatioBtn1 = new QRadioButton(this);
    RatioBtn1->setObjectName(QStringLiteral("RatioBtn1"));
    QWidget *vipContent = nullptr;
    GroupBoxVIP = NewGroup(this, "GroupBoxVIP", RatioBtn1, lblGroupVIP, imgIconVIP, vipContent);
    imgIconVIP->setObjectName(QStringLiteral("imgIconVIP"));
    auto *vip = new QGridLayout(vipContent);
    vip->setContentsMargins(0, 0, 0, 4);
    vip->setHorizontalSpacing(16);
    vip->setVerticalSpacing(2);
    lblCountry = NewLabel(vipContent, "lblCountry");
    cmbcountry = NewCombo(vipContent, "cmbcountry");
    lblPort = NewLabel(vipContent, "lblPort");
    cmbPort = NewCombo(vipContent, "cmbPort");
    lblType = NewLabel(vipContent, "lblType");
    cmbType = NewCombo(vipContent, "cmbType",
                       {QStringLiteral("any"), QStringLiteral("transparent"), QStringLiteral("anonymous"),
                        QStringLiteral("elite"), QStringLiteral("anonymous or elite")});
    lblSSL = NewLabel(vipContent, "lblSSL");
    cmbSSL = NewCombo(vipContent, "cmbSSL", {QStringLiteral("any"), QStringLiteral("yes"), QStringLiteral("no")});
    lblMiniSpeed = NewLabel(vipContent, "lblMiniSpeed");
    spnMiniSpeed = NewSpin(vipContent, "spnMiniSpeed", 0, 100);
    lblMiniUptime = NewLabel(vipContent, "lblMiniUptime");
    spnMiniUptime = NewSpin(vipContent, "spnMiniUptime", 0, 100);
    lblMiniUpTimeHr = NewLabel(vipContent, "lblMiniUpTimeHr");
    spnMiniUptimeHr = NewSpin(vipContent, "spnMiniUptimeHr", 0, 240);
    lblTimeIntaval = NewLabel(vipContent, "lblTimeIntaval");
    spnIntaval = NewSpin(vipContent, "spnIntaval", 0, 360);
    const std::pair<QLabel *, QWidget *> vipCells[] = {{lblCountry, cmbcountry},
                                                       {lblPort, cmbPort},
                                                       {lblType, cmbType},
                                                       {lblSSL, cmbSSL},
                                                       {lblMiniSpeed, spnMiniSpeed},
                                                       {lblMiniUptime, spnMiniUptime},
                                                       {lblMiniUpTimeHr, spnMiniUptimeHr},
                                                       {lblTimeIntaval, spnIntaval}};
    for (int i = 0; i < 8; ++i) {
        // Label above its control, two columns: long translations never squeeze the controls.
        const int row = (i / 2) * 2, col = i % 2;
        vip->addWidget(vipCells[i].first, row, col);
        vip->addWidget(vipCells[i].second, row + 1, col);
        vipCells[i].first->setBuddy(vipCells[i].second);
        if (row > 0)
            vip->setRowMinimumHeight(row, 24);
    }
    vip->setColumnStretch(0, 1);
    vip->setColumnStretch(1, 1);
    root->addWidget(GroupBoxVIP);

    // A custom list address.
    RatioBtn2 = new QRadioButton(this);
    RatioBtn2->setObjectName(QStringLiteral("RatioBtn2"));
    QWidget *otherContent = nullptr;
    GroupBoxOther = NewGroup(this, "GroupBoxOther", RatioBtn2, lblGroupOther, imgIconFree, otherContent);
    imgIconFree->setObjectName(QStringLiteral("imgIconFree"));
    auto *other = new QHBoxLayout(otherContent);
    other->setContentsMargins(0, 0, 0, 4);
    other->setSpacing(8);
    sLabelFX23 = NewLabel(otherContent, "sLabelFX23");
    EditCustomURL = new QLineEdit(otherContent);
    EditCustomURL->setObjectName(QStringLiteral("EditCustomURL"));
    EditCustomURL->setMinimumWidth(300);
    sLabelFX23->setBuddy(EditCustomURL);
    sLabelFX23->setEnabled(false);
    EditCustomURL->setEnabled(false);
    other->addWidget(sLabelFX23);
    other->addWidget(EditCustomURL, 1);
    root->addWidget(GroupBoxOther);

    // General settings.
    QWidget *settingsContent = nullptr;
    GroupBoxSettings = NewGroup(this, "GroupBoxSettings", nullptr, lblGroupSettings, imgIconSettings, settingsContent);
    imgIconSettings->setObjectName(QStringLiteral("imgIconSettings"));
    auto *gen = new QGridLayout(settingsContent);
    gen->setContentsMargins(0, 0, 0, 4);
    gen->setHorizontalSpacing(16);
    gen->setVerticalSpacing(6);
    cbAutoDownload = NewCheck(settingsContent, "cbAutoDownload");
    spnAutoDownload = NewSpin(settingsContent, "spnAutoDownload", 1, 99999999);
    cbAutoSwitch = NewCheck(settingsContent, "cbAutoSwitch");
    spnAutoChange = NewSpin(settingsContent, "spnAutoChange", 1, 99999999);
    RatioGroupSort = NewCheck(settingsContent, "RatioGroupSort");
    CmbSort = NewCombo(settingsContent, "CmbSort");
    cbKeepHistory = NewCheck(settingsContent, "cbKeepHistory");
    spnHours = NewSpin(settingsContent, "spnHours", 1, 720);
    cbRemoveProxy = NewCheck(settingsContent, "cbRemoveProxy");
    cbLocalProxy = NewCheck(settingsContent, "cbLocalProxy");
    eLocalProxyServer = new QLineEdit(settingsContent);
    eLocalProxyServer->setObjectName(QStringLiteral("eLocalProxyServer"));
    eLocalProxyServer->setPlaceholderText(QStringLiteral("user:pass@127.0.0.1:8080"));
    lblLanguage = NewLabel(settingsContent, "lblLanguage");
    cmbLanguage = NewCombo(settingsContent, "cmbLanguage", LanguageItems());
    lblBrowser = NewLabel(settingsContent, "lblBrowser");
    cmbBrowser = NewCombo(settingsContent, "cmbBrowser", BrowserItems());
    for (QWidget *w :
         {static_cast<QWidget *>(spnAutoDownload), static_cast<QWidget *>(spnAutoChange),
          static_cast<QWidget *>(CmbSort), static_cast<QWidget *>(spnHours), static_cast<QWidget *>(eLocalProxyServer)})
        w->setEnabled(false);
    const std::pair<QWidget *, QWidget *> genRows[] = {
        {cbAutoDownload, spnAutoDownload}, {cbAutoSwitch, spnAutoChange}, {RatioGroupSort, CmbSort},
        {cbKeepHistory, spnHours},         {cbRemoveProxy, nullptr},      {cbLocalProxy, eLocalProxyServer},
        {lblLanguage, cmbLanguage},        {lblBrowser, cmbBrowser}};
    for (int r = 0; r < 8; ++r) {
        gen->addWidget(genRows[r].first, r, 0);
        if (genRows[r].second)
            gen->addWidget(genRows[r].second, r, 1);
    }
    lblLanguage->setBuddy(cmbLanguage);
    lblBrowser->setBuddy(cmbBrowser);
    gen->setColumnStretch(1, 1);
    root->addWidget(GroupBoxSettings);

    // The bottom panel.
    sPanel1 = new QWidget(this);
    sPanel1->setObjectName(QStringLiteral("sPanel1"));
    auto *panel = new QHBoxLayout(sPanel1);
    panel->setContentsMargins(0, 2, 0, 0);
    btnClearHistory = new QPushButton(sPanel1);
    btnClearHistory->setObjectName(QStringLiteral("btnClearHistory"));
    btnClearHistory->setAutoDefault(false);
    OKBtn = new QPushButton(sPanel1);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    panel->addWidget(btnClearHistory);
    panel->addStretch(1);
    panel->addWidget(OKBtn);
    root->addWidget(sPanel1);

    FContent = {vipContent, otherContent, settingsContent};

    // Handlers.
    connect(RatioBtn1, &QRadioButton::clicked, this, [this] {
        RatioBtn1->setChecked(true); // a radio button: a second click does not clear it
        RatioBtn1Click();
    });
    connect(RatioBtn2, &QRadioButton::clicked, this, [this] {
        RatioBtn2->setChecked(true);
        RatioBtn2Click();
    });
    // The two buttons lie in different groups; they exclude each other by code, not by Qt.
    RatioBtn1->setAutoExclusive(false);
    RatioBtn2->setAutoExclusive(false);
    RatioBtn1->setChecked(true);
    connect(cbAutoDownload, &QCheckBox::clicked, this, [this] { cbAutoDownloadClick(); });
    connect(cbAutoSwitch, &QCheckBox::clicked, this, [this] { cbAutoSwitchClick(); });
    connect(cbKeepHistory, &QCheckBox::clicked, this, [this] { cbKeepHistoryClick(); });
    connect(cbLocalProxy, &QCheckBox::clicked, this, [this] { cbLocalProxyClick(); });
    connect(RatioGroupSort, &QCheckBox::clicked, this, [this] { RatioGroupSortClick(); });
    connect(btnClearHistory, &QPushButton::clicked, this, [this] { btnClearHistoryClick(); });
    connect(OKBtn, &QPushButton::clicked, this, [this] { ssClick(); });
    connect(imgIconVIP, &QToolButton::clicked, this, [this] { imgIconVIPClick(); });
    connect(imgIconFree, &QToolButton::clicked, this, [this] { imgIconFreeClick(); });
    connect(imgIconSettings, &QToolButton::clicked, this, [this] { imgIconSettingsClick(); });

    // Keyboard order follows the eye: group by group, top to bottom, left to right.
    const QList<QWidget *> order = {
        RatioBtn1,         imgIconVIP,      cmbcountry,      cmbPort,         cmbType,       cmbSSL,
        spnMiniSpeed,      spnMiniUptime,   spnMiniUptimeHr, spnIntaval,      RatioBtn2,     imgIconFree,
        EditCustomURL,     imgIconSettings, cbAutoDownload,  spnAutoDownload, cbAutoSwitch,  spnAutoChange,
        RatioGroupSort,    CmbSort,         cbKeepHistory,   spnHours,        cbRemoveProxy, cbLocalProxy,
        eLocalProxyServer, cmbLanguage,     cmbBrowser,      btnClearHistory, OKBtn};
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    // Texts in the configured language give the groups their design heights; then each group
    // takes its stored state.
    LoadGUIStr(FOwner.ProgramConfig().Language());
    // Heights are measured with the skin's paddings in place, as they will be drawn.
    ensurePolished();
    for (QWidget *w : findChildren<QWidget *>())
        w->ensurePolished();
    for (QGroupBox *g : {GroupBoxVIP, GroupBoxOther, GroupBoxSettings})
        g->layout()->activate();
    fGroupBoxVIPSize = GroupBoxVIP->sizeHint().height();
    fGroupBoxFreeSize = GroupBoxOther->sizeHint().height();
    fGroupBoxSettingsSize = GroupBoxSettings->sizeHint().height();
    const TProgramConfig &cfg = FOwner.ProgramConfig();
    SetGroupOpen(GroupBoxVIP, imgIconVIP, fGroupBoxVIPSize, cfg.GroupBoxVIPState());
    SetGroupOpen(GroupBoxOther, imgIconFree, fGroupBoxFreeSize, cfg.GroupBoxFreeState());
    SetGroupOpen(GroupBoxSettings, imgIconSettings, fGroupBoxSettingsSize, cfg.GroupBoxSettingsState());
}

void TOptions::LoadGUIStr(const QString &Language) {
    using DialogStyle::PlainCaption;
    lblGroupVIP->setText(PlainCaption(Text(Language, "Options_GroupVIP", "Use our premium VIP service")));
    lblGroupSettings->setText(PlainCaption(Text(Language, "Options_GroupGeneral", "General program settings")));
    lblCountry->setText(PlainCaption(Text(Language, "Options_Country", " Proxy Country")));
    lblPort->setText(PlainCaption(Text(Language, "Options_Port", "Proxy Port")));
    lblType->setText(PlainCaption(Text(Language, "Options_Type", "Proxy Type")));
    lblSSL->setText(PlainCaption(Text(Language, "Options_SSL", "Support SSL/HTTPS")));
    lblMiniSpeed->setText(PlainCaption(Text(Language, "Options_MiniSpped", "Min. Proxy Speed (kb/sec)")));
    lblMiniUptime->setText(PlainCaption(Text(Language, "Options_MiniUpTime", "Min. Uptime (%)")));
    lblMiniUpTimeHr->setText(PlainCaption(Text(Language, "Options_MiniUpTimeH", "Min. Uptime ( Hours)")));
    lblTimeIntaval->setText(PlainCaption(Text(Language, "Options_TimeIntaval", "Time Intaval (min)")));
    lblGroupOther->setText(
        PlainCaption(Text(Language, "Options_GroupOther", "Use your own URL (3rd party proxy service)")));
    cbAutoDownload->setText(Text(Language, "Options_AutoDownload", "Automaticlly download"));
    cbAutoSwitch->setText(Text(Language, "Options_AutoSwitch", "Automaticlly change"));
    cbRemoveProxy->setText(Text(Language, "Options_RemoveProxySwitch", "Remove proxy server on switch"));
    RatioGroupSort->setText(Text(Language, "Options_GroupSort", "Sort proxy servers by"));
    const int sortIndex = CmbSort->currentIndex();
    CmbSort->clear();
    CmbSort->addItem(Text(Language, "Options_GroupSort1", "country"));
    CmbSort->addItem(Text(Language, "Options_GroupSort2", "port"));
    CmbSort->addItem(Text(Language, "Options_GroupSort3", "rating"));
    CmbSort->setCurrentIndex(sortIndex < 0 ? 0 : sortIndex);
    cbKeepHistory->setText(Text(Language, "Options_KeepHistory", "Keep proxy history for"));
    cbLocalProxy->setText(Text(Language, "Options_UseLocalProxy", "Use local proxy server"));
    sLabelFX23->setText(PlainCaption(Text(Language, "Options_URL", "URL")));
    lblBrowser->setText(PlainCaption(Text(Language, "Options_Browser", "Please choose your browser")));
    lblLanguage->setText(PlainCaption(Text(Language, "Options_Languag", "Language")));
    btnClearHistory->setText(Text(Language, "Btn_ClearHostory", "Clear History"));
    OKBtn->setText(Text(Language, "OKBtn", "OK"));
    setWindowTitle(WindowTitle(Text(Language, "sTitlePreferences", "Preferences")));
    // Radio buttons without a text of their own still tell a screen reader what they choose.
    RatioBtn1->setAccessibleName(lblGroupVIP->text());
    RatioBtn2->setAccessibleName(lblGroupOther->text());
}

void TOptions::showEvent(QShowEvent *Event) {
    FormShow();
    QDialog::showEvent(Event);
    DialogStyle::CenterOnScreen(this);
}

void TOptions::FormShow() {
    TProgramConfig &cfg = FOwner.ProgramConfig();
    LoadGUIStr(cfg.Language());

    if (!FOwner.Country().isEmpty()) {
        FillCountryPortLists();
    } else {
        cmbcountry->clear();
        cmbPort->clear();
        cmbcountry->setPlaceholderText(FOwner.ms().sLoading);
        cmbPort->setPlaceholderText(FOwner.ms().sLoading);
        cmbcountry->setEnabled(false);
        cmbPort->setEnabled(false);
        StartCountryFetch();
    }

    SelectText(cmbType, cfg.ProxyType());
    SelectText(cmbSSL, cfg.SupportSSL());
    spnMiniSpeed->setValue(cfg.MiniSpeed());
    spnMiniUptime->setValue(cfg.MiniUptime());
    spnMiniUptimeHr->setValue(cfg.MiniUptimeHr());
    spnIntaval->setValue(cfg.TimeInteval());
    RatioBtn1->setChecked(cfg.UseListService());
    RatioBtn2->setChecked(!cfg.UseListService());
    if (cfg.UseListService())
        RatioBtn1Click();
    else
        RatioBtn2Click();
    EditCustomURL->setText(cfg.CustomURL());
    cbAutoDownload->setChecked(cfg.AutoDownloadProxy());
    spnAutoDownload->setValue(cfg.AutoDownloadInterval());
    cbAutoSwitch->setChecked(cfg.AutoChangeProxy());
    spnAutoChange->setValue(cfg.AutoChangeInterval());
    cbRemoveProxy->setChecked(cfg.RemoveProxyOnSwitch());
    CmbSort->setCurrentIndex(static_cast<int>(cfg.SortOption()));
    cbKeepHistory->setChecked(cfg.KeepHistory());
    spnHours->setValue(cfg.KeepHistoryHours());
    cbLocalProxy->setChecked(cfg.UseLocalProxy());
    eLocalProxyServer->setText(cfg.LocalProxyIp());
    SelectText(cmbLanguage, cfg.Language());
    SelectText(cmbBrowser, cfg.Browser());
    RatioGroupSort->setChecked(cfg.Sort());
    // Marks set from code follow the same enabling rules as clicks.
    cbAutoDownloadClick();
    cbAutoSwitchClick();
    cbKeepHistoryClick();
    cbLocalProxyClick();
    RatioGroupSortClick();
    OKBtn->setFocus();
}

void TOptions::FillCountryPortLists() {
    const TProgramConfig &cfg = FOwner.ProgramConfig();
    cmbcountry->clear();
    cmbPort->clear();
    cmbcountry->setPlaceholderText(QString());
    cmbPort->setPlaceholderText(QString());
    for (const QString &e : FOwner.Country())
        cmbcountry->addItem(EntryValue(e));
    for (const QString &e : FOwner.Ports())
        cmbPort->addItem(EntryValue(e));
    SelectByName(cmbcountry, FOwner.Country(), cfg.Country());
    SelectByName(cmbPort, FOwner.Ports(), cfg.Port());
}

void TOptions::SelectByName(QComboBox *Combo, const QStringList &Entries, const QString &Name) {
    // No entry with that key leaves the list without a selection: the user has to pick one.
    int found = -1;
    for (int i = 0; i < Entries.size() && found < 0; ++i)
        if (EntryName(Entries[i]).compare(Name, Qt::CaseInsensitive) == 0)
            found = i;
    Combo->setCurrentIndex(found);
}

void TOptions::StartCountryFetch() {
    // One fetch at a time: showing the dialog again while the first one runs starts no second.
    if (FCountryFetch)
        return;
    FCountryFetch = new TDownloadCountryData(this, FServiceBaseUrl);
    FCountryFetch->SetOnTerminate([this](TDownloadCountryData *Sender) { ListArrival(Sender); });
    FCountryFetch->start();
}

void TOptions::ListArrival(TDownloadCountryData *Sender) {
    if (Sender == FCountryFetch)
        FCountryFetch = nullptr;
    Sender->deleteLater();
    if (!Sender->Error().isEmpty()) {
        // The lists stay disabled and empty; the next showing tries again.
        FOwner.ShowWarningMessage(FOwner.ms().sErrorLoadingData, FaqUrl());
        return;
    }
    FOwner.Country() = Sender->Country();
    FOwner.Ports() = Sender->Port();
    FillCountryPortLists();
    cmbcountry->setEnabled(RatioBtn1->isChecked());
    cmbPort->setEnabled(RatioBtn1->isChecked());
}

void TOptions::CriteriaEnabled(bool Enabled) {
    for (QWidget *w : std::initializer_list<QWidget *>{
             lblCountry, lblPort, lblType, lblSSL, lblMiniSpeed, lblMiniUptime, lblMiniUpTimeHr, lblTimeIntaval,
             spnMiniSpeed, spnMiniUptime, spnMiniUptimeHr, spnIntaval, cmbcountry, cmbPort, cmbType, cmbSSL})
        w->setEnabled(Enabled);
}

void TOptions::RatioBtn1Click() {
    RatioBtn2->setChecked(false);
    sLabelFX23->setEnabled(false);
    EditCustomURL->setEnabled(false);
    CriteriaEnabled(true);
    // While the lists are being fetched they stay disabled.
    const bool lists = cmbcountry->count() > 0;
    cmbcountry->setEnabled(lists);
    cmbPort->setEnabled(lists);
}

void TOptions::RatioBtn2Click() {
    RatioBtn1->setChecked(false);
    sLabelFX23->setEnabled(true);
    EditCustomURL->setEnabled(true);
    CriteriaEnabled(false);
}

void TOptions::cbAutoDownloadClick() {
    spnAutoDownload->setEnabled(cbAutoDownload->isChecked());
}

void TOptions::cbAutoSwitchClick() {
    spnAutoChange->setEnabled(cbAutoSwitch->isChecked());
}

void TOptions::cbKeepHistoryClick() {
    spnHours->setEnabled(cbKeepHistory->isChecked());
}

void TOptions::cbLocalProxyClick() {
    eLocalProxyServer->setEnabled(cbLocalProxy->isChecked());
}

void TOptions::RatioGroupSortClick() {
    CmbSort->setEnabled(RatioGroupSort->isChecked());
}

void TOptions::btnClearHistoryClick() {
    // At once, and not undone by a cancel.
    FOwner.ProgramConfig().BanedProxy()->Clear();
}

void TOptions::SetGroupOpen(QGroupBox *Group, QToolButton *Icon, int OpenHeight, bool Open) {
    const int index = Group == GroupBoxVIP ? 0 : Group == GroupBoxOther ? 1 : 2;
    FContent[index]->setVisible(Open);
    Group->setFixedHeight(Open ? OpenHeight : CollapsedHeight);
    Icon->setIcon(DialogStyle::GroupStateIcon(Open));
    Icon->setToolTip(Open ? QStringLiteral("−") : QStringLiteral("+"));
    Icon->setAccessibleName(Open ? QStringLiteral("collapse") : QStringLiteral("expand"));
    Relayout();
}

void TOptions::Relayout() {
    if (layout()) {
        layout()->invalidate();
        layout()->activate();
    }
}

void TOptions::imgIconVIPClick() {
    TProgramConfig &cfg = FOwner.ProgramConfig();
    cfg.SetGroupBoxVIPState(!cfg.GroupBoxVIPState());
    SetGroupOpen(GroupBoxVIP, imgIconVIP, fGroupBoxVIPSize, cfg.GroupBoxVIPState());
}

void TOptions::imgIconFreeClick() {
    TProgramConfig &cfg = FOwner.ProgramConfig();
    cfg.SetGroupBoxFreeState(!cfg.GroupBoxFreeState());
    SetGroupOpen(GroupBoxOther, imgIconFree, fGroupBoxFreeSize, cfg.GroupBoxFreeState());
}

void TOptions::imgIconSettingsClick() {
    TProgramConfig &cfg = FOwner.ProgramConfig();
    cfg.SetGroupBoxSettingsState(!cfg.GroupBoxSettingsState());
    SetGroupOpen(GroupBoxSettings, imgIconSettings, fGroupBoxSettingsSize, cfg.GroupBoxSettingsState());
}

bool TOptions::ProbeCustomUrl(const QString &Url) const {
    try {
        THttpClient http; // a plain GET, direct, the answer thrown away
        http.SetConnectTimeout(FProbeConnectTimeout);
        http.SetReadTimeout(FProbeReadTimeout);
        http.Get(Url);
        return true;
    } catch (...) {
        return false;
    }
}

void TOptions::ssClick() {
    TProgramConfig &cfg = FOwner.ProgramConfig();
    const TMessageStrings &ms = FOwner.ms();
    if (!RatioBtn1->isChecked()) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        const bool ok = ProbeCustomUrl(EditCustomURL->text().trimmed());
        QGuiApplication::restoreOverrideCursor();
        if (!ok) {
            FOwner.ShowWarningMessage(ms.sInvalidCustomUrl, FaqUrl());
            return;
        }
    } else {
        QStringList missing;
        if (cmbcountry->currentIndex() < 0)
            missing << ms.sSelectCountry;
        if (cmbPort->currentIndex() < 0)
            missing << ms.sSelectPort;
        if (!missing.isEmpty()) {
            FOwner.ShowWarningMessage(missing.join(QLatin1Char('\n')), FaqUrl());
            return;
        }
    }

    // In custom-URL mode a list without a selection keeps the stored key.
    const int c = cmbcountry->currentIndex(), p = cmbPort->currentIndex();
    if (c >= 0 && c < FOwner.Country().size())
        cfg.SetCountry(EntryName(FOwner.Country()[c]));
    if (p >= 0 && p < FOwner.Ports().size())
        cfg.SetPort(EntryName(FOwner.Ports()[p]));
    cfg.SetProxyType(cmbType->currentText());
    cfg.SetSupportSSL(cmbSSL->currentText());
    cfg.SetSupportPostGet(QStringLiteral("any"));
    cfg.SetMiniSpeed(spnMiniSpeed->value());
    cfg.SetMaxPing(15);
    cfg.SetMiniUptime(spnMiniUptime->value());
    cfg.SetMiniUptimeHr(spnMiniUptimeHr->value());
    cfg.SetTimeInteval(spnIntaval->value());
    cfg.SetUseListService(RatioBtn1->isChecked());
    cfg.SetCustomURL(EditCustomURL->text());
    cfg.SetAutoDownloadProxy(cbAutoDownload->isChecked());
    cfg.SetAutoDownloadInterval(spnAutoDownload->value());
    cfg.SetAutoChangeProxy(cbAutoSwitch->isChecked());
    cfg.SetAutoChangeInterval(spnAutoChange->value());
    cfg.SetRemoveProxyOnSwitch(cbRemoveProxy->isChecked());
    cfg.SetSortOption(static_cast<TProxyCollection::TSortType>(qBound(0, CmbSort->currentIndex(), 2)));
    cfg.SetKeepHistory(cbKeepHistory->isChecked());
    cfg.SetKeepHistoryHours(spnHours->value());
    cfg.SetUseLocalProxy(cbLocalProxy->isChecked());
    cfg.SetLocalProxyIp(eLocalProxyServer->text());
    cfg.SetLanguage(cmbLanguage->currentText());
    if (cmbBrowser->currentText() != cfg.Browser()) {
        FOwner.RestoreBrowser(false);
        cfg.SetBrowser(cmbBrowser->currentText());
        FOwner.SetupBrowser(false);
    }
    cfg.SetSort(RatioGroupSort->isChecked());

    FOwner.LoadProxyClick();
    accept();
}
