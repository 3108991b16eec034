#include "dialogs/WarningMessage.h"

#include "config/LanguageTable.h"
#include "dialogs/DialogStyle.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

TWebLabel::TWebLabel(QWidget *Parent) : QLabel(Parent) {
    // The text comes from outside (the list service's and update service's own messages): shown
    // as plain text, so markup in it is never rendered or followed.
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setTextInteractionFlags(Qt::NoTextInteraction);
    FOnOpenUrl = [](const QString &Url) { QDesktopServices::openUrl(QUrl(Url)); };
}

void TWebLabel::SetCaption(const QString &Value) {
    setText(Value);
}

void TWebLabel::SetURL(const QString &Value) {
    FURL = Value;
    setCursor(FURL.isEmpty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
    setToolTip(FURL);
}

void TWebLabel::mousePressEvent(QMouseEvent *Event) {
    if (Event->button() == Qt::LeftButton && !FURL.isEmpty() && FOnOpenUrl) {
        FOnOpenUrl(FURL);
        Event->accept();
        return;
    }
    QLabel::mousePressEvent(Event);
}

void TWebLabel::enterEvent(QEnterEvent *Event) {
    SetHovered(true);
    QLabel::enterEvent(Event);
}

void TWebLabel::leaveEvent(QEvent *Event) {
    SetHovered(false);
    QLabel::leaveEvent(Event);
}

void TWebLabel::SetHovered(bool Value) {
    if (FHovered == Value)
        return;
    FHovered = Value;
    // The hover font: underlined, in the text colour of the message card, so the link shows itself.
    QFont f = font();
    f.setUnderline(Value && !FURL.isEmpty());
    setFont(f);
    setStyleSheet(Value && !FURL.isEmpty() ? QStringLiteral("color: #101418;") : QString());
}

TWarningMessageForm::TWarningMessageForm(const QString &Language, QWidget *Owner) : QDialog(Owner) {
    setObjectName(QStringLiteral("WarningMessageForm"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    DialogStyle::Apply(this);

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(8, 8, 8, 8);
    root->setSpacing(8);
    root->setSizeConstraint(QLayout::SetFixedSize);

    sGroupBox1 = new QGroupBox(this);
    sGroupBox1->setObjectName(QStringLiteral("sGroupBox1"));
    sGroupBox1->setProperty("rvnWarning", true);
    auto *row = new QHBoxLayout(sGroupBox1);
    row->setContentsMargins(12, 12, 14, 12);
    row->setSpacing(12);

    Image1 = new QLabel(sGroupBox1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(48, 40);
    Image1->setPixmap(DialogStyle::WarningIcon().pixmap(48, 40));
    row->addWidget(Image1, 0, Qt::AlignVCenter);

    wlMessage = new TWebLabel(sGroupBox1);
    wlMessage->setObjectName(QStringLiteral("wlMessage"));
    row->addWidget(wlMessage, 1);
    root->addWidget(sGroupBox1);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setFixedSize(161, 33);
    OKBtn->setDefault(true);
    OKBtn->setAutoDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
    root->addWidget(OKBtn, 0, Qt::AlignHCenter);

    FormCreate(Language);
}

void TWarningMessageForm::FormCreate(const QString &Language) {
    // Read once: the window is reused for the whole run and keeps the language of its creation.
    setWindowTitle(WindowTitle(
        TLanguageTable::Builtin().ReadString(Language, QStringLiteral("sTitleWarning"), QStringLiteral("Warning"))));
}

void TWarningMessageForm::SetOnOpenUrl(TWebLabel::TOpenUrl Handler) {
    wlMessage->SetOnOpenUrl(std::move(Handler));
}

void TWarningMessageForm::OKBtnClick() {
    accept();
}

void TWarningMessageForm::FitToMessage() {
    // Short messages make a narrow window; longer ones wrap at a comfortable line length and the
    // window grows downwards to hold every line. The skin's font must be in place before measuring.
    ensurePolished();
    wlMessage->ensurePolished();
    const QFontMetrics fm(wlMessage->font());
    int widest = 0;
    for (const QString &line : wlMessage->text().split(QLatin1Char('\n')))
        widest = qMax(widest, fm.horizontalAdvance(line));
    const int width = qBound(OKBtn->width(), widest + 4, MessageWrapWidth);
    wlMessage->setFixedWidth(width);
    wlMessage->setMinimumHeight(qMax(40, wlMessage->heightForWidth(width)));
    layout()->activate();
    adjustSize();
    DialogStyle::CenterOnScreen(this);
}

bool TWarningMessageForm::ShowMessage(const QString &Msg, const QString &Url) {
    if (isVisible())
        return false;
    wlMessage->SetCaption(Msg);
    wlMessage->SetURL(Url);
    FitToMessage();
    OKBtn->setFocus();
    exec();
    return true;
}
