#pragma once
// The update check: at most every second day, ask the update service whether a newer version
// than 3.1.3 exists, and hand its message and link to the warning window.

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QThread>
#include <functional>
#include <optional>

class TRegistry;

/// Shows a warning with a link; called on the main thread.
using TWarningEvent = std::function<void(const QString &Msg, const QString &Url)>;

/// The update service's offer.
struct TUpdateOffer {
    QString Message;
    QString Link;
};

/// Reads the service's reply "major|minor|release|message|link" (UTF-8, trimmed of blanks and
/// control characters). No offer when the reply has not exactly five fields or its version is not
/// newer; raises EConvertError when a number field is not a decimal integer.
std::optional<TUpdateOffer> ParseUpdateReply(const QByteArray &Body);
/// Each number is compared on its own with 3.1.3: major > 3, minor > 1 or release > 3.
bool UpdateOffered(int Major, int Minor, int Release);
/// BaseUrl + "/engine/index2.php?version=&lang=" + the language word.
QString UpdateCheckUrl(const QString &BaseUrl, const QString &LanguageWord);

/// Days since 1899-12-30, the registry's date form.
double DateToRegistryDays(const QDate &Date);

/// The background question to the update service. Starts running when created and deletes itself
/// when done. OnWarning is called at most once, on the thread that created the object, which must
/// run an event loop until the thread ends.
class TCheckUpdateThread final : public QThread {
    Q_OBJECT
public:
    /// Language: the configured interface language (its word is sent); BaseUrl empty: ServiceBaseUrl().
    TCheckUpdateThread(const QString &Language, TWarningEvent OnWarning, const QString &BaseUrl = QString());

    QString fMessage;
    QString fLink;

protected:
    void run() override;

private:
    QString FLanguage;
    QString FBaseUrl;
    TWarningEvent FOnWarning;
};

/// The schedule, run once at start-up: when Today is later than the store's "NextVersionCheckDate"
/// (missing: 1899-12-30), writes Today + 1 day there and starts a TCheckUpdateThread. Returns the
/// started thread (it frees itself) or null. A store that cannot be read or written skips the check.
TCheckUpdateThread *StartUpdateCheck(TRegistry &Registry, const QDate &Today, const QString &Language,
                                     TWarningEvent OnWarning, const QString &BaseUrl = QString());
