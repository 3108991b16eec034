#include "dialogs/ManageProxy.h"

#include "config/LanguageTable.h"
#include "dialogs/DialogStyle.h"

#include <QBuffer>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QStyle>
#include <QVBoxLayout>

using DialogStyle::Text;

namespace {

// A text file as the user means it: a byte-order mark names UTF-8 or UTF-16; without one the text
// is taken as UTF-8 (the Linux desktop's encoding) and, when it is not valid UTF-8, byte for byte
// as Latin-1 so that no line is lost.
QString DecodeTextFile(const QByteArray &Bytes) {
    if (const auto bom = QStringConverter::encodingForData(Bytes)) {
        QStringDecoder decoder(*bom, QStringDecoder::Flag::ConvertInitialBom);
        // encodingForData also guesses UTF-16/32 from zero bytes without a mark; that guess is
        // only trusted with the mark itself present.
        const bool marked =
            Bytes.startsWith("\xEF\xBB\xBF") || Bytes.startsWith("\xFF\xFE") || Bytes.startsWith("\xFE\xFF");
        if (marked) {
            QString s = decoder.decode(Bytes);
            if (s.startsWith(QChar(0xFEFF)))
                s.remove(0, 1);
            return s;
        }
    }
    // Stateless: a sequence cut off at the end of the file is an error too, not held back.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString s = utf8.decode(Bytes);
    if (!utf8.hasError())
        return s;
    return QString::fromLatin1(Bytes);
}

} // namespace

TLoadProxy::TLoadProxy(QWidget *Owner) : QDialog(Owner) {
    setObjectName(QStringLiteral("LoadProxy"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    DialogStyle::Apply(this);
    FormCreate();
}

TLoadProxy::~TLoadProxy() = default;

void TLoadProxy::FormCreate() {
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(10, 10, 10, 10);
    root->setSpacing(8);

    ProxyListMemo = new QPlainTextEdit(this);
    ProxyListMemo->setObjectName(QStringLiteral("ProxyListMemo"));
    ProxyListMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    ProxyListMemo->setTabChangesFocus(true);
    ProxyListMemo->setPlaceholderText(QStringLiteral("10.1.2.3:8080"));
    root->addWidget(ProxyListMemo, 1);

    auto *buttons = new QHBoxLayout();
    buttons->setSpacing(8);
    BtnBrowse = new QPushButton(this);
    BtnBrowse->setObjectName(QStringLiteral("BtnBrowse"));
    BtnBrowse->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    BtnBrowse->setAutoDefault(false);
    OKBtn = new QPushButton(this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    OKBtn->setAutoDefault(false);
    buttons->addWidget(BtnBrowse);
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    root->addLayout(buttons);

    connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
    connect(BtnBrowse, &QPushButton::clicked, this, [this] { BtnBrowseClick(); });
    setTabOrder(ProxyListMemo, BtnBrowse);
    setTabOrder(BtnBrowse, OKBtn);

    // The desktop's own file dialog where there is one; "*" stands for "all files" here, since a
    // Linux file name need not have an extension.
    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setDefaultSuffix(QStringLiteral("csv"));
    OpenDialog1->setNameFilter(QStringLiteral("Any text file (*)"));

    ProxyList = std::make_unique<TProxyCollection>();
    ProxyList->SetNoDuplicates(true);

    // The layout sets the smallest size (the button row in the longest language); the memo keeps
    // room for a few addresses.
    ProxyListMemo->setMinimumSize(320, 200);
    resize(460, 380);
    LoadGUIStr(FLanguage);
}

void TLoadProxy::showEvent(QShowEvent *Event) {
    FormShow();
    QDialog::showEvent(Event);
}

void TLoadProxy::FormShow() {
    LoadGUIStr(FLanguage);
    DialogStyle::CenterOnScreen(this);
    ProxyListMemo->setFocus();
}

void TLoadProxy::LoadGUIStr(const QString &Language) {
    BtnBrowse->setText(Text(Language, "BrowseBtn", "Browse"));
    OKBtn->setText(Text(Language, "SaveBtn", "OK"));
    setWindowTitle(WindowTitle(Text(Language, "sTitleManageProxy", "Manage proxy servers")));
    // Both buttons as wide as the wider caption, so the row looks even in every language.
    const int w = qMax(BtnBrowse->sizeHint().width(), OKBtn->sizeHint().width());
    BtnBrowse->setMinimumWidth(w);
    OKBtn->setMinimumWidth(w);
    if (layout()) {
        layout()->activate();
        resize(qMax(width(), minimumSizeHint().width()), qMax(height(), minimumSizeHint().height()));
    }
}

void TLoadProxy::FillMemo(const TProxyCollection &List) {
    QString text;
    text.reserve(List.Count() * 22);
    for (int i = 0; i < List.Count(); ++i) {
        const TProxtData *p = List.Items(i);
        text += p->IP();
        text += QLatin1Char(':');
        text += QString::number(p->Port());
        text += QLatin1Char('\n');
    }
    if (!text.isEmpty())
        text.chop(1);
    ProxyListMemo->setPlainText(text);
}

void TLoadProxy::OKBtnClick() {
    // The lines joined with CR LF, as UTF-8 with its mark so that the parser reads any non-ASCII
    // text around the addresses as what it is.
    QByteArray bytes("\xEF\xBB\xBF");
    const QStringList lines = ProxyListMemo->toPlainText().split(QLatin1Char('\n'));
    bytes += lines.join(QStringLiteral("\r\n")).toUtf8();
    QBuffer stream(&bytes);
    stream.open(QIODevice::ReadOnly);
    try {
        // The parser replaces the collection only when the whole text was read, so on an error
        // ProxyList keeps its last good content and the dialog stays open.
        ProxyList->ParseStream(stream, nullptr);
    } catch (const Exception &e) {
        Warn(e.Message());
        return;
    } catch (const std::exception &e) {
        Warn(QString::fromLocal8Bit(e.what()));
        return;
    }
    accept();
}

void TLoadProxy::BtnBrowseClick() {
    ProxyList->Clear();
    ProxyListMemo->clear();
    if (OpenDialog1->exec() != QDialog::Accepted)
        return;
    const QStringList files = OpenDialog1->selectedFiles();
    if (!files.isEmpty())
        LoadFile(files.first());
}

bool TLoadProxy::LoadFile(const QString &FileName) {
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly)) {
        ProxyListMemo->clear();
        Warn(QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, file.errorString()));
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        ProxyListMemo->clear();
        Warn(QStringLiteral("Cannot read file \"%1\". %2").arg(FileName, file.errorString()));
        return false;
    }
    QString text = DecodeTextFile(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    ProxyListMemo->setPlainText(text);
    return true;
}

void TLoadProxy::Warn(const QString &Msg) {
    if (FOnWarning)
        FOnWarning(Msg);
    else
        QMessageBox::warning(this, windowTitle(), Msg);
}
