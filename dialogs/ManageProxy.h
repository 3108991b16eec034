#pragma once
// The manage-list dialog: the user's own proxy list as plain text, one proxy a line, or the
// contents of a file. Saving runs the text through the same parser as a downloaded list, so every
// proxy gets its country and duplicates are dropped; the opener then copies the parsed list.

#include "catalogue/Marlo.Common.ProxyList.h"

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

class QFileDialog;
class QPlainTextEdit;
class QPushButton;

/// The modal manage-list dialog, created once and reused.
class TLoadProxy : public QDialog {
    Q_OBJECT
public:
    /// Receives the message of a file or list error (the main window's warning window).
    using TWarningEvent = std::function<void(const QString &Msg)>;

    explicit TLoadProxy(QWidget *Owner = nullptr);
    ~TLoadProxy() override;

    /// Where errors go; without a handler they are shown in a message box.
    void SetOnWarning(TWarningEvent Handler) { FOnWarning = std::move(Handler); }
    /// The section of the language table applied at each showing.
    void SetLanguage(const QString &Language) { FLanguage = Language; }

    /// Empties the memo and writes one "ip:port" line per proxy of List, in list order.
    void FillMemo(const TProxyCollection &List);

    // Event handlers (public so the opener and the tests drive the very paths a click takes).
    void OKBtnClick();
    void BtnBrowseClick();
    /// Reads a text file into the memo; false (memo left empty, warning shown) when it cannot.
    bool LoadFile(const QString &FileName);
    void LoadGUIStr(const QString &Language);

    // Components.
    QPlainTextEdit *ProxyListMemo;
    QPushButton *OKBtn;
    QPushButton *BtnBrowse;
    QFileDialog *OpenDialog1;
    /// The parsed proxies of the last successful save; the opener copies them.
    std::unique_ptr<TProxyCollection> ProxyList;

protected:
    void showEvent(QShowEvent *Event) override;

private:
    void FormCreate();
    void FormShow();
    void Warn(const QString &Msg);

    QString FLanguage = QStringLiteral("english");
    TWarningEvent FOnWarning;
};
