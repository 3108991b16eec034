#include "dialogs/ProxyChackForm.h"

#include "checker/ProxyRating.h"
#include "config/ProgramConfig.h"
#include "platform/ServiceEndpoints.h"

#include "dialogs/DialogStyle.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace ProxyChackForm {

namespace {

// A test result as the list shows it: "-" while unknown.
QString TriStateText(TTriState Value, const QString &IfTrue, const QString &IfFalse) {
    switch (Value) {
    case tsUnknown:
        return QStringLiteral("-");
    case tsTrue:
        return IfTrue;
    case tsFalse:
        return IfFalse;
    }
    return QStringLiteral("?");
}

constexpr int kProxyRole = Qt::UserRole;     // column 0: the row's record
constexpr int kImageRole = Qt::UserRole + 1; // columns 0 and 1: index into CountryList
constexpr int kInfoColumn = 9;

// Design captions of the list's columns: the fallbacks of their language keys.
const char *const kColumnCaptions[10] = {"Country",    "Active",      "IP",    "Type", "BotNet",
                                         "Get & Post", "SSL (HTTPS)", "Speed", "Ping", "Info"};

// The four design pictures of CountryList. The state pictures come with the skin; while a
// picture is missing the list shows an empty one rather than failing.
const char *const kDesignPictures[4] = {":/proxy-uknown", ":/proxy-works", ":/proxy-dead", ":/unknown"};

QIcon LoadPicture(const QString &Path) {
    QImage img;
    if (!QFile::exists(Path) || !img.load(Path))
        return QIcon();
    return QIcon(QPixmap::fromImage(img));
}

// Rows alternate two greys by their position, so the stripes stay right after rows go away.
class TRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *Painter, const QStyleOptionViewItem &Option, const QModelIndex &Index) const override {
        if (!(Option.state & QStyle::State_Selected))
            Painter->fillRect(Option.rect, Index.row() % 2 == 0 ? QColor(0xD6, 0xD6, 0xD6) : QColor(0xE1, 0xE1, 0xE1));
        QStyleOptionViewItem opt(Option);
        opt.palette.setColor(QPalette::Text, Qt::black);
        QStyledItemDelegate::paint(Painter, opt, Index);
    }
};

QComboBox *DropDown(QWidget *Parent, const QStringList &Items, int Selected = 0) {
    auto *c = new QComboBox(Parent);
    c->addItems(Items);
    c->setCurrentIndex(Selected);
    return c;
}

QSpinBox *Spin(QWidget *Parent, int Min, int Max, int Value) {
    auto *s = new QSpinBox(Parent);
    s->setRange(Min, Max);
    s->setValue(Value);
    return s;
}

} // namespace

TProxyCheck::TProxyCheck(IProxyCheckOwner &Owner, QWidget *Parent, std::optional<TCheckerSites> Sites)
    : QDialog(Parent), FOwner(Owner) {
    FormCreate(std::move(Sites));
}

TProxyCheck::~TProxyCheck() {
    // The scheduler goes first: it waits for workers that a forced stop gave up, and those may
    // still hold records of the two lists below.
    delete KvProxyTest;
    KvProxyTest = nullptr;
}

void TProxyCheck::FormCreate(std::optional<TCheckerSites> Sites) {
    setObjectName(QStringLiteral("ProxyCheck"));
    setWindowFlags((windowFlags() | Qt::MSWindowsFixedSizeDialogHint) & ~Qt::WindowContextHelpButtonHint);

    // 1. The scheduler with its two events, the view filter.
    KvProxyTest = new TKvProxyTest(this);
    KvProxyTest->SetOnProxyTest(
        [this](QObject *Sender, TProxtData *Proxy, TChackAction Action) { OnProxyTest(Sender, Proxy, Action); });
    KvProxyTest->SetOnJobEnd([this](QObject *Sender) { OnJobEnd(Sender); });
    ProxyFilter = new TProxyFilter(this);

    // 2. The flag cache starts with the four design pictures.
    CountryCode = {QStringLiteral("?"), QStringLiteral("Proxy OK"), QStringLiteral("Proxy Dead"), QStringLiteral("NN")};
    for (const char *path : kDesignPictures)
        CountryList.append(LoadPicture(QLatin1String(path)));

    // 3. The test sites.
    RegisterCheckerSites(*KvProxyTest, Sites ? *Sites : DefaultCheckerSites());

    // 4. The two lists the window works on.
    FProxyListVIP = std::make_unique<TProxyCollection>();
    FProxyListUser = std::make_unique<TProxyCollection>();

    // The components.
    ProxyList = new QTreeWidget(this);
    ProxyList->setObjectName(QStringLiteral("ProxyList"));
    ProxyList->setColumnCount(10);
    ProxyList->setRootIsDecorated(false);
    ProxyList->setUniformRowHeights(true);
    ProxyList->setSelectionBehavior(QAbstractItemView::SelectRows);
    ProxyList->setSelectionMode(QAbstractItemView::SingleSelection);
    ProxyList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ProxyList->setIconSize(QSize(20, 20));
    ProxyList->setItemDelegate(new TRowDelegate(ProxyList));
    ProxyList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ProxyList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QHeaderView *header = ProxyList->header();
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    header->setMinimumSectionSize(10);
    int listWidth = 0;
    for (int i = 0; i < 10; ++i) {
        header->setSectionResizeMode(i, QHeaderView::Fixed);
        header->resizeSection(i, ColumnWidths[i]);
        listWidth += ColumnWidths[i];
    }
    for (int i = 4; i < 10; ++i)
        ProxyList->headerItem()->setTextAlignment(i, Qt::AlignCenter);
    // The rows are light grey, so the header stays light on dark whatever the dialogs' skin says.
    ProxyList->setStyleSheet(QStringLiteral(
        "QHeaderView::section { background-color: #3b4048; color: #ffffff; padding: 3px 4px; border: none;"
        " border-right: 1px solid #5a606a; border-bottom: 1px solid #5a606a; }"));
    // At least as wide as its columns; where a language's buttons make the window wider, the list
    // takes the width too rather than leaving a gap beside it.
    ProxyList->setMinimumWidth(listWidth + 2 * ProxyList->frameWidth() +
                               ProxyList->verticalScrollBar()->sizeHint().width());
    ProxyList->setFixedHeight(330);

    BtnStart = new QPushButton(this);
    BtnStop = new QPushButton(this);
    BtnStop->setEnabled(false);
    BtnReset = new QPushButton(this);
    BtnDelDead = new QPushButton(this);
    BtnSave = new QPushButton(this);
    BtnCancel = new QPushButton(this);
    for (QPushButton *b : {BtnStart, BtnStop, BtnReset, BtnDelDead, BtnSave, BtnCancel})
        b->setAutoDefault(false); // Enter in a list or a box must not save and close the window

    gbTests = new QGroupBox(this);
    CheckBoxInfo = new QCheckBox(gbTests);
    CheckBoxBotnet = new QCheckBox(gbTests);
    CheckBoxHttps = new QCheckBox(gbTests);
    CheckBoxSpeed = new QCheckBox(gbTests);
    for (QCheckBox *c : {CheckBoxInfo, CheckBoxBotnet, CheckBoxHttps, CheckBoxSpeed})
        c->setChecked(true);
    auto *testsLayout = new QVBoxLayout(gbTests);
    testsLayout->addWidget(CheckBoxInfo);
    auto *botnetRow = new QHBoxLayout;
    botnetRow->addSpacing(20); // bot-net detection is part of the information test
    botnetRow->addWidget(CheckBoxBotnet);
    testsLayout->addLayout(botnetRow);
    testsLayout->addWidget(CheckBoxHttps);
    testsLayout->addWidget(CheckBoxSpeed);
    testsLayout->addStretch(1);

    sGroupBox2 = new QGroupBox(this);
    lblThreads = new QLabel(sGroupBox2);
    lblTimeOutBasic = new QLabel(sGroupBox2);
    lblTimeOutSpeed = new QLabel(sGroupBox2);
    SpinEdit1 = Spin(sGroupBox2, 1, 100, 5);
    TimeOutBasic = Spin(sGroupBox2, 1, 60, 10);
    TimeOutSpeed = Spin(sGroupBox2, 1, 60, 30);
    auto *settingsLayout = new QGridLayout(sGroupBox2);
    const std::pair<QLabel *, QSpinBox *> settings[] = {
        {lblThreads, SpinEdit1}, {lblTimeOutBasic, TimeOutBasic}, {lblTimeOutSpeed, TimeOutSpeed}};
    for (int i = 0; i < 3; ++i) {
        settings[i].first->setBuddy(settings[i].second);
        settingsLayout->addWidget(settings[i].first, i, 0);
        settingsLayout->addWidget(settings[i].second, i, 1);
    }
    settingsLayout->setRowStretch(3, 1);

    sGroupBox1 = new QGroupBox(this);
    const QStringList anyYesNo = {QStringLiteral("any"), QStringLiteral("yes"), QStringLiteral("no")};
    cmbcountry = DropDown(sGroupBox1, {QStringLiteral("any"), QStringLiteral("Unknown"),
                                       QStringLiteral("USA and Canada"), QStringLiteral("The Western Europe"),
                                       QStringLiteral("The Eastern Europ"), QStringLiteral("The Arab World"),
                                       QStringLiteral("The Western Asia"), QStringLiteral("The Eastern Asia")});
    cmbPort = DropDown(sGroupBox1, {QStringLiteral("any")});
    cmbType = DropDown(sGroupBox1, {QStringLiteral("any"), QStringLiteral("transparent"), QStringLiteral("anonymous"),
                                    QStringLiteral("elite"), QStringLiteral("anonymous or elite")});
    cmbBotNet = DropDown(sGroupBox1, anyYesNo);
    cmbPost = DropDown(sGroupBox1, anyYesNo);
    cmbSSL = DropDown(sGroupBox1, anyYesNo);
    spnMiniSpeed = DropDown(sGroupBox1,
                            {QStringLiteral("0"), QStringLiteral("5"), QStringLiteral("10"), QStringLiteral("20"),
                             QStringLiteral("30"), QStringLiteral("40"), QStringLiteral("50")},
                            0);
    spnMaxPing = DropDown(sGroupBox1,
                          {QStringLiteral("5"), QStringLiteral("10"), QStringLiteral("15"), QStringLiteral("20"),
                           QStringLiteral("25"), QStringLiteral("30")},
                          2);
    lblCountry = new QLabel(sGroupBox1);
    lblPort = new QLabel(sGroupBox1);
    lblType = new QLabel(sGroupBox1);
    lblBotNet = new QLabel(sGroupBox1);
    lblPost = new QLabel(sGroupBox1);
    lblSSL = new QLabel(sGroupBox1);
    lblMiniSpeed = new QLabel(sGroupBox1);
    lblMaxPing = new QLabel(sGroupBox1);
    auto *filterLayout = new QGridLayout(sGroupBox1);
    const std::pair<QLabel *, QComboBox *> filters[] = {
        {lblCountry, cmbcountry}, {lblPort, cmbPort}, {lblType, cmbType},           {lblBotNet, cmbBotNet},
        {lblPost, cmbPost},       {lblSSL, cmbSSL},   {lblMiniSpeed, spnMiniSpeed}, {lblMaxPing, spnMaxPing}};
    for (int i = 0; i < 8; ++i) {
        const auto &[label, list] = filters[i];
        label->setBuddy(list);
        list->setMinimumContentsLength(10);
        list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        // Two columns of four: label above its list.
        filterLayout->addWidget(label, (i % 4) * 2, i / 4);
        filterLayout->addWidget(list, (i % 4) * 2 + 1, i / 4);
        connect(list, &QComboBox::currentIndexChanged, this, [this] { BtnRefreshClick(); });
    }

    auto *groups = new QHBoxLayout;
    groups->addWidget(gbTests);
    groups->addWidget(sGroupBox2);
    groups->addWidget(sGroupBox1, 1);

    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {BtnStart, BtnStop, BtnReset, BtnDelDead})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(BtnSave);
    buttons->addWidget(BtnCancel);

    auto *root = new QVBoxLayout(this);
    root->addWidget(ProxyList);
    root->addLayout(groups);
    root->addLayout(buttons);
    root->setSizeConstraint(QLayout::SetFixedSize);

    // Focus runs from the list through the tests, the settings and the filter to the buttons.
    QWidget *order[] = {ProxyList,    CheckBoxInfo, CheckBoxBotnet, CheckBoxHttps, CheckBoxSpeed, SpinEdit1,
                        TimeOutBasic, TimeOutSpeed, cmbcountry,     cmbType,       cmbPost,       spnMiniSpeed,
                        cmbPort,      cmbBotNet,    cmbSSL,         spnMaxPing,    BtnStart,      BtnStop,
                        BtnReset,     BtnDelDead,   BtnSave,        BtnCancel};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(BtnStart, &QPushButton::clicked, this, [this] { BtnStartClick(); });
    connect(BtnStop, &QPushButton::clicked, this, [this] { BtnStopClick(); });
    connect(BtnReset, &QPushButton::clicked, this, [this] { BtnResetClick(); });
    connect(BtnDelDead, &QPushButton::clicked, this, [this] { BtnDelDeadClick(); });
    connect(BtnSave, &QPushButton::clicked, this, [this] { BtnSaveClick(); });
    connect(BtnCancel, &QPushButton::clicked, this, [this] { BtnCancelClick(); });
    connect(CheckBoxInfo, &QCheckBox::toggled, this, [this] { CheckBoxInfoClick(); });

    DialogStyle::Apply(this);
    // The skin draws group captions inside the box: the contents start below the caption line.
    QFont captionFont = gbTests->font();
    captionFont.setBold(true);
    const int captionSpace = QFontMetrics(captionFont).height() + 10;
    for (QGroupBox *g : {gbTests, sGroupBox2, sGroupBox1}) {
        const QMargins m = g->layout()->contentsMargins();
        g->layout()->setContentsMargins(m.left(), std::max(m.top(), captionSpace), m.right(), m.bottom());
    }

    // 5. The texts.
    LoadGUIStr(FOwner.ProgramConfig().Language());

    // 6. The region groups, index for index with the design items of cmbcountry.
    FCountryCode = {QStringLiteral("Any"),
                    QStringLiteral("NN"),
                    QStringLiteral("US,CA"),
                    QStringLiteral("AD,AT,BE,DK,FI,FR,DE,GI,GR,IS,IT,IE,LI,LU,MT,MC,NO,NL,PT,SM,ES,SE,CH"),
                    QStringLiteral("AL,BY,BA,BG,HR,CZ,EE,HU,LV,LT,MK,PL,RP,RU,RS,SK,SL,UA"),
                    QStringLiteral("DZ,BH,KM,DJ,EG,ER,IQ,JO,KW,LB,LY,MR,MA,OM,QA,SA,SO,SD,SY,TN,AE,YE"),
                    QStringLiteral("AM,AZ,BH,CY,GE,IQ,IL,JO,KW,LB,OM,QA,SA,SY,TR,AE,YE"),
                    QStringLiteral("CN,JP,MO,MN,TW")};
}

void TProxyCheck::LoadGUIStr(const QString &Language) {
    const TLanguageTable &t = TLanguageTable::Builtin();
    auto read = [&](const char *Key, const char *Fallback) {
        return t.ReadString(Language, QLatin1String(Key), QString::fromUtf8(Fallback));
    };
    lblCountry->setText(read("Options_Country", " Proxy Country"));
    lblPort->setText(read("Options_Port", "Proxy Port"));
    lblType->setText(read("Options_Type", "Proxy Type"));
    lblBotNet->setText(read("ProxyIsBotnet", "Proxy is BotNet"));
    lblSSL->setText(read("Options_SSL", "Support SSL/HTTPS"));
    lblPost->setText(read("Options_POST_GET", "Support POST / GET"));
    lblMiniSpeed->setText(read("Options_MiniSpped", "Min. Proxy Speed (kb/sec)"));
    lblMaxPing->setText(read("Options_MaxPing", "Max. Proxy Ping (sec)"));
    lblThreads->setText(read("Tests_Threads", "Threads"));
    lblTimeOutBasic->setText(read("Tests_TimeOutBasic", "Timeout basic tests"));
    lblTimeOutSpeed->setText(read("Tests_TimeOutSpeed", "Timeout speed tests"));
    gbTests->setTitle(read("Tests_Tests", "Tests"));
    CheckBoxSpeed->setText(read("Tests_Speed", "Speed"));
    CheckBoxBotnet->setText(read("Tests_Botnet", "Botnet"));
    CheckBoxInfo->setText(read("Tests_Info", "Info"));
    CheckBoxHttps->setText(read("Tests_SSL", "SSL"));
    BtnCancel->setText(read("Tests_Cancel", "Cancel"));
    BtnSave->setText(read("Tests_Save", "Save"));
    BtnDelDead->setText(read("Tests_DelDead", "Delete Dead"));
    BtnStop->setText(read("Tests_Stop", "Stop"));
    BtnStart->setText(read("Tests_Start", "Start"));
    BtnReset->setText(read("Tests_Reset", "Reset All Data"));
    sGroupBox2->setTitle(read("Tests_Proxysettings", "Proxy checker settings"));
    sGroupBox1->setTitle(read("Tests_Filter", "Filter proxy servers by"));
    for (int i = 0; i < 10; ++i) {
        // The headers take no accelerators: "&&" in the table stands for one "&".
        const QString caption = DialogStyle::PlainCaption(
            t.ReadString(Language, QStringLiteral("Tests_TableCol%1").arg(i), QLatin1String(kColumnCaptions[i])));
        ProxyList->headerItem()->setText(i, caption);
        // A fixed column may be narrower than a long caption: the whole caption is a hover away.
        ProxyList->headerItem()->setToolTip(i, caption);
    }
    setWindowTitle(WindowTitle(read("sTitleChecker", "Proxy checker")));
    // The skin draws group captions in bold, and some languages' captions are wider than a box's
    // contents: each box is at least as wide as its caption.
    QFont captionFont = gbTests->font();
    captionFont.setBold(true);
    for (QGroupBox *g : {gbTests, sGroupBox2, sGroupBox1})
        g->setMinimumWidth(QFontMetrics(captionFont).horizontalAdvance(g->title()) + 24);
}

void TProxyCheck::SetProxyListVIP(const TProxyCollection *Value) {
    FProxyListVIP->Assign(*Value);
}

void TProxyCheck::SetProxyListUser(const TProxyCollection *Value) {
    FProxyListUser->Assign(*Value);
}

void TProxyCheck::showEvent(QShowEvent *Event) {
    QDialog::showEvent(Event);
    // A modal window is shown once; hiding and showing again (minimise) keeps the user's view.
    if (!FShownOnce) {
        FShownOnce = true;
        FormShow();
    }
}

void TProxyCheck::FormShow() {
    ProxyFilter->Assign(FOwner.ProgramConfig().ProxyFilter());
    FillFilterLists();
    FillProxyList();
    BtnRefreshClick();
}

void TProxyCheck::FillFilterLists() {
    // Selecting items here must not run the change handler: it would read the filter back from
    // lists that are only half set and lose the stored port, type and the rest.
    const QSignalBlocker b1(cmbcountry), b2(cmbPort), b3(cmbType), b4(cmbSSL), b5(cmbPost), b6(cmbBotNet),
        b7(spnMiniSpeed), b8(spnMaxPing);
    for (TProxyCollection *list : {FProxyListVIP.get(), FProxyListUser.get()}) {
        for (int i = 0; i < list->Count(); ++i) {
            const TProxtData *p = list->Items(i);
            // A record without a country name has nothing to offer as a choice of its own.
            if (!p->Country().isEmpty() && cmbcountry->findText(p->Country(), Qt::MatchExactly) < 0) {
                cmbcountry->addItem(p->Country());
                FCountryCode.append(p->CountryCode());
            }
            const QString port = QString::number(p->Port());
            if (cmbPort->findText(port, Qt::MatchExactly) < 0)
                cmbPort->addItem(port);
        }
    }
    cmbcountry->setCurrentIndex(std::max<int>(0, FCountryCode.indexOf(ProxyFilter->Country())));
    cmbPort->setCurrentIndex(std::max(0, cmbPort->findText(ProxyFilter->Port(), Qt::MatchExactly)));
    cmbType->setCurrentIndex(std::max(0, cmbType->findText(ProxyFilter->ProxyType(), Qt::MatchExactly)));
    auto ordinal = [](TTriState v) { return int(v) <= 2 ? int(v) : 0; };
    cmbSSL->setCurrentIndex(ordinal(ProxyFilter->HttpsPost()));
    cmbPost->setCurrentIndex(ordinal(ProxyFilter->HttpPost()));
    cmbBotNet->setCurrentIndex(ordinal(ProxyFilter->BotNetProxy()));
    auto selectNumber = [](QComboBox *List, double Value) {
        const int i = List->findText(QString::number(static_cast<long long>(Value)), Qt::MatchExactly);
        if (i >= 0)
            List->setCurrentIndex(i);
    };
    selectNumber(spnMiniSpeed, ProxyFilter->MiniSpeed());
    selectNumber(spnMaxPing, ProxyFilter->MaxPing());
}

void TProxyCheck::ReadFilter() {
    const int c = cmbcountry->currentIndex();
    ProxyFilter->SetCountry(c >= 0 && c < FCountryCode.size() ? FCountryCode.at(c) : QStringLiteral("Any"));
    ProxyFilter->SetPort(cmbPort->currentText());
    ProxyFilter->SetProxyType(cmbType->currentText());
    ProxyFilter->SetHttpsPost(TTriState(std::max(0, cmbSSL->currentIndex())));
    ProxyFilter->SetHttpPost(TTriState(std::max(0, cmbPost->currentIndex())));
    ProxyFilter->SetBotNetProxy(TTriState(std::max(0, cmbBotNet->currentIndex())));
    ProxyFilter->SetMiniSpeed(spnMiniSpeed->currentText().toInt());
    ProxyFilter->SetMaxPing(spnMaxPing->currentText().toInt());
    ProxyFilter->SetActive(true);
}

void TProxyCheck::BtnRefreshClick() {
    ReadFilter();
    FillProxyList();
}

void TProxyCheck::FillProxyList() {
    ProxyList->setUpdatesEnabled(false);
    ProxyList->clear();
    for (TProxyCollection *list : {FProxyListVIP.get(), FProxyListUser.get()}) {
        ProxyFilter->LinkCollection(list);
        for (TMyCollectionItem *i = ProxyFilter->First(); i; i = ProxyFilter->Next())
            AddProxyRow(static_cast<TProxtData *>(i));
    }
    ProxyList->setUpdatesEnabled(true);
}

int TProxyCheck::FlagIndex(const QString &Code) {
    int index = CountryCode.indexOf(Code);
    if (index >= 0)
        return index;
    const QIcon flag = LoadPicture(QStringLiteral(":/FLAG_") + Code);
    if (flag.isNull())
        return imgNoCountry;
    CountryList.append(flag);
    CountryCode.append(Code);
    return CountryCode.size() - 1;
}

QString TProxyCheck::AliveText(TTriState Value) const {
    return TriStateText(Value, FOwner.ms().sAlive, FOwner.ms().sDead);
}

QString TProxyCheck::StateText(TTriState Value) const {
    return TriStateText(Value, FOwner.ms().sYes, FOwner.ms().sNo);
}

void TProxyCheck::ShowRowResults(QTreeWidgetItem *Row, const TProxtData *Proxy) {
    const int state = int(Proxy->Alive()) <= 2 ? int(Proxy->Alive()) : 0;
    Row->setIcon(1, CountryList.value(state));
    Row->setData(1, kImageRole, state);
    Row->setText(1, AliveText(Proxy->Alive()));
    Row->setText(3, Proxy->TypeAsString());
    Row->setText(4, StateText(Proxy->Botnet()));
    Row->setText(5, StateText(Proxy->HttpPost()));
    Row->setText(6, StateText(Proxy->HttpsPost()));
    Row->setText(7, Proxy->SpeedAsString());
    Row->setText(8, Proxy->PingAsString());
}

void TProxyCheck::AddProxyRow(TProxtData *Proxy) {
    auto *row = new QTreeWidgetItem(ProxyList);
    row->setData(0, kProxyRole, QVariant::fromValue(reinterpret_cast<quintptr>(Proxy)));
    row->setText(0, Proxy->Country());
    const int flag = FlagIndex(Proxy->CountryCode());
    row->setIcon(0, CountryList.value(flag));
    row->setData(0, kImageRole, flag);
    row->setText(2, Proxy->AsString());
    ShowRowResults(row, Proxy);
    row->setText(kInfoColumn, QStringLiteral("-"));
    for (int i = 4; i < 10; ++i)
        row->setTextAlignment(i, Qt::AlignCenter);
    // The row's tip is its country name.
    for (int i = 0; i < 10; ++i)
        row->setToolTip(i, Proxy->Country());
}

TProxtData *TProxyCheck::RowProxy(int Row) const {
    const QTreeWidgetItem *item = ProxyList->topLevelItem(Row);
    return item ? reinterpret_cast<TProxtData *>(item->data(0, kProxyRole).value<quintptr>()) : nullptr;
}

QTreeWidgetItem *TProxyCheck::FindRow(const TProxtData *Proxy) const {
    if (!Proxy)
        return nullptr;
    for (int i = 0; i < ProxyList->topLevelItemCount(); ++i)
        if (RowProxy(i) == Proxy)
            return ProxyList->topLevelItem(i);
    return nullptr;
}

void TProxyCheck::CheckBoxInfoClick() {
    CheckBoxBotnet->setEnabled(CheckBoxInfo->isChecked());
}

TTests TProxyCheck::SelectedTests() const {
    TTests tests{ttDeadOrAlive};
    if (CheckBoxInfo->isChecked())
        tests.Bits |= TTests{CheckBoxBotnet->isChecked() ? ttTest1 : ttTest1NoBootnet}.Bits;
    if (CheckBoxSpeed->isChecked())
        tests.Bits |= TTests{ttSpeed}.Bits;
    if (CheckBoxHttps->isChecked())
        tests.Bits |= TTests{ttHttps}.Bits;
    return tests;
}

void TProxyCheck::SetRunning(bool Running) {
    for (QPushButton *b : {BtnDelDead, BtnSave, BtnReset, BtnCancel, BtnStart})
        b->setEnabled(!Running);
    BtnStop->setEnabled(Running);
    // Focus may sit on a button that has just been disabled; keep it on the one the user wants next.
    if (Running)
        BtnStop->setFocus();
    else
        BtnStart->setFocus();
}

void TProxyCheck::BtnStartClick() {
    if (KvProxyTest->IsThreadsActive())
        return;
    SetRunning(true);
    const TTests tests = SelectedTests();
    KvProxyTest->ClearProxyList();
    for (TProxyCollection *list : {FProxyListVIP.get(), FProxyListUser.get()}) {
        ProxyFilter->LinkCollection(list);
        for (TMyCollectionItem *i = ProxyFilter->First(); i; i = ProxyFilter->Next())
            KvProxyTest->AddProxyServer(static_cast<TProxtData *>(i));
    }
    for (int i = 0; i < ProxyList->topLevelItemCount(); ++i)
        ProxyList->topLevelItem(i)->setText(kInfoColumn, FOwner.ms().sPending);
    try {
        KvProxyTest->CheckProxyServer(tests, TimeOutBasic->value() * 1000, TimeOutSpeed->value() * 1000,
                                      quint8(SpinEdit1->value()));
    } catch (const Exception &e) {
        SetRunning(KvProxyTest->IsThreadsActive());
        FOwner.ShowWarningMessage(e.Message(), FaqUrl());
    }
}

void TProxyCheck::BtnStopClick() {
    KvProxyTest->StopTest(true, 5000);
}

void TProxyCheck::OnProxyTest(QObject *Sender, TProxtData *Proxy, TChackAction Action) {
    Q_UNUSED(Sender);
    QTreeWidgetItem *row = FindRow(Proxy);
    if (!row)
        return;
    switch (Action) {
    case caChacking:
        row->setText(kInfoColumn, FOwner.ms().sChecking);
        break;
    case caError:
        row->setText(kInfoColumn, FOwner.ms().sError);
        break;
    case caDone:
        ShowRowResults(row, Proxy);
        row->setText(kInfoColumn, FOwner.ms().sDone);
        break;
    case caPending:
        break;
    }
}

void TProxyCheck::OnJobEnd(QObject *Sender) {
    Q_UNUSED(Sender);
    if (!KvProxyTest->IsThreadsActive())
        FOwner.ShowWarningMessage(FOwner.ms().sCheckingFinished, FaqUrl());
    SetRunning(false);
    for (QPushButton *b : {BtnDelDead, BtnSave, BtnReset, BtnCancel, BtnStart, BtnStop})
        b->update();
    RateRows();
}

void TProxyCheck::RateRows() {
    QList<TProxtData *> records;
    const int rows = ProxyList->topLevelItemCount();
    records.reserve(rows);
    for (int i = 0; i < rows; ++i)
        records.push_back(RowProxy(i));
    RateProxies(records);
}

void TProxyCheck::BtnResetClick() {
    for (TProxyCollection *list : {FProxyListVIP.get(), FProxyListUser.get()}) {
        ProxyFilter->LinkCollection(list);
        for (TMyCollectionItem *i = ProxyFilter->First(); i; i = ProxyFilter->Next())
            static_cast<TProxtData *>(i)->SetTested(false);
    }
    FillProxyList();
}

void TProxyCheck::BtnDelDeadClick() {
    // Deleting records the scheduler may still point at is safe only while no job runs.
    if (KvProxyTest->IsThreadsActive())
        return;
    for (int r = ProxyList->topLevelItemCount() - 1; r >= 0; --r) {
        TProxtData *p = RowProxy(r);
        if (p->Alive() != tsFalse)
            continue;
        const int index = p->Index();
        if (index >= 0 && index < FProxyListVIP->Count() && FProxyListVIP->Items(index) == p)
            FProxyListVIP->Delete(p);
        else if (index >= 0 && index < FProxyListUser->Count() && FProxyListUser->Items(index) == p)
            FProxyListUser->Delete(p);
        delete ProxyList->takeTopLevelItem(r);
    }
    // The records are gone: the scheduler must not keep pointers to them for the next job.
    KvProxyTest->ClearProxyList();
}

void TProxyCheck::BtnSaveClick() {
    if (KvProxyTest->IsThreadsActive())
        return;
    RateRows();
    ReadFilter();
    TProgramConfig &config = FOwner.ProgramConfig();
    config.SetProxyList(FProxyListVIP.get());
    config.SetProxyListUser(FProxyListUser.get());
    config.SetProxyFilter(ProxyFilter);
    FOwner.ReBuildProxyMenu();
    accept();
}

void TProxyCheck::BtnCancelClick() {
    close();
}

bool TProxyCheck::FormCloseQuery() {
    if (!KvProxyTest->IsThreadsActive())
        return true;
    FOwner.ShowWarningMessage(FOwner.ms().sCheckinNotFinished, FaqUrl());
    return false;
}

void TProxyCheck::closeEvent(QCloseEvent *Event) {
    if (FormCloseQuery())
        QDialog::closeEvent(Event);
    else
        Event->ignore();
}

void TProxyCheck::reject() {
    if (FormCloseQuery())
        QDialog::reject();
}

} // namespace ProxyChackForm
