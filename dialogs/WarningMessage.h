#pragma once
// The warning window: every warning, error and notice the program shows in a window goes through
// this one small modal window. The message itself is a link; a click on it opens the page (most
// often the FAQ) in the user's browser and leaves the window open.

#include <QDialog>
#include <QLabel>
#include <QString>
#include <functional>

class QGroupBox;
class QPushButton;

/// A word-wrapped label that carries a link: a left press opens URL, hovering underlines it.
class TWebLabel : public QLabel {
    Q_OBJECT
public:
    using TOpenUrl = std::function<void(const QString &Url)>;

    explicit TWebLabel(QWidget *Parent = nullptr);

    QString Caption() const { return text(); }
    void SetCaption(const QString &Value);
    QString URL() const { return FURL; }
    void SetURL(const QString &Value);
    void SetOnOpenUrl(TOpenUrl Handler) { FOnOpenUrl = std::move(Handler); }
    bool Hovered() const { return FHovered; }

protected:
    void mousePressEvent(QMouseEvent *Event) override;
    void enterEvent(QEnterEvent *Event) override;
    void leaveEvent(QEvent *Event) override;

private:
    void SetHovered(bool Value);

    QString FURL;
    TOpenUrl FOnOpenUrl;
    bool FHovered = false;
};

/// The modal warning window, created once and reused for every message.
class TWarningMessageForm : public QDialog {
    Q_OBJECT
public:
    /// Language: the section of the language table the title is read from, once for the whole run.
    explicit TWarningMessageForm(const QString &Language, QWidget *Owner = nullptr);

    /// Shows Msg with its link Url and returns when the window closes. While a message is on
    /// screen a new one is dropped at once (false), the way the program wants it.
    bool ShowMessage(const QString &Msg, const QString &Url);

    /// Where the link goes; the default opens it with the desktop's browser.
    void SetOnOpenUrl(TWebLabel::TOpenUrl Handler);

    void OKBtnClick();

    // Components.
    QGroupBox *sGroupBox1;
    QLabel *Image1;
    TWebLabel *wlMessage;
    QPushButton *OKBtn;

    /// The width the message wraps at; shorter texts make a narrower window.
    static constexpr int MessageWrapWidth = 380;

private:
    void FormCreate(const QString &Language);
    void FitToMessage();
};
