#pragma once
// TDownloadCountryData: fetches the list service's country and port choices in the background.

#include <QString>
#include <QStringList>
#include <QThread>
#include <functional>

/// Splits the country/port reply: every ":" becomes "=", the lines up to the first empty line are
/// the countries ("key=text"), the lines after it the ports (empty lines included; a last line
/// break adds no empty line). Raises Exception when the reply has no empty line.
void SplitCountryPortReply(const QString &Reply, QStringList &Country, QStringList &Port);

/// BaseUrl + "/engine/index2.php?countryportlist=".
QString CountryPortListUrl(const QString &BaseUrl);

/// One attempt to fetch the country and port lists. Create it, set OnTerminate, start() it; when
/// the body has ended OnTerminate runs on the thread that created the object (the main thread)
/// and is the only way the results come back. The object does not free itself: the end event
/// may call deleteLater() on it.
class TDownloadCountryData : public QThread {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TDownloadCountryData *Sender)>;

    /// BaseUrl: the list service's base; empty: ServiceBaseUrl().
    explicit TDownloadCountryData(QObject *Parent = nullptr, const QString &BaseUrl = QString());
    ~TDownloadCountryData() override;

    void SetOnTerminate(TNotifyEvent Handler) { FOnTerminate = std::move(Handler); }

    /// Port entries "key=text"; valid only when FError is empty, read them in the end event.
    const QStringList &Port() const { return FPort; }
    /// Country entries "key=text".
    const QStringList &Country() const { return FCountry; }
    /// Empty, or the message of the error that ended the download.
    const QString &Error() const { return FError; }

protected:
    void run() override;

private:
    QStringList FPort;
    QStringList FCountry;
    QString FError;
    QString FBaseUrl;
    TNotifyEvent FOnTerminate;
};
