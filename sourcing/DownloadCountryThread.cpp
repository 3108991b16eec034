#include "sourcing/DownloadCountryThread.h"

#include "platform/HttpClient.h"
#include "platform/ServiceEndpoints.h"
#include "platform/SysUtils.h"

void SplitCountryPortReply(const QString &Reply, QStringList &Country, QStringList &Port) {
    QString text = Reply;
    text.replace(QLatin1Char(':'), QLatin1Char('='));
    // Lines end with CR LF, LF or CR; a line break at the very end adds no empty line.
    QStringList lines;
    const qsizetype n = text.size();
    qsizetype pos = 0;
    while (pos < n) {
        qsizetype e = pos;
        while (e < n && text[e] != u'\r' && text[e] != u'\n')
            ++e;
        lines << text.mid(pos, e - pos);
        if (e < n && text[e] == u'\r')
            ++e;
        if (e < n && text[e] == u'\n')
            ++e;
        pos = e;
    }
    QStringList countries, ports;
    qsizetype i = 0;
    while (i < lines.size() && !lines[i].isEmpty())
        countries << lines[i++];
    if (i >= lines.size())
        throw Exception(QStringLiteral("The country and port list has no empty line after its countries"));
    ++i;
    while (i < lines.size())
        ports << lines[i++];
    Country = countries;
    Port = ports;
}

QString CountryPortListUrl(const QString &BaseUrl) {
    return BaseUrl + QStringLiteral("/engine/index2.php?countryportlist=");
}

TDownloadCountryData::TDownloadCountryData(QObject *Parent, const QString &BaseUrl)
    : QThread(Parent), FBaseUrl(BaseUrl) {
    // finished is emitted by the worker thread; queued to this object, which lives on the
    // creating thread, the end event runs there after the body is done.
    connect(
        this, &QThread::finished, this,
        [this] {
            if (FOnTerminate)
                FOnTerminate(this);
        },
        Qt::QueuedConnection);
}

TDownloadCountryData::~TDownloadCountryData() {
    wait();
}

void TDownloadCountryData::run() {
    try {
        THttpClient http; // left at its defaults: no redirects, no compressor, no proxy
        const QString base = FBaseUrl.isEmpty() ? ServiceBaseUrl() : FBaseUrl;
        const QString reply = QString::fromUtf8(http.Get(CountryPortListUrl(base)));
        SplitCountryPortReply(reply, FCountry, FPort);
    } catch (const Exception &e) {
        FError = e.Message();
    } catch (const std::exception &e) {
        FError = QString::fromLocal8Bit(e.what());
    }
    if (!FError.isEmpty()) {
        FCountry.clear();
        FPort.clear();
    }
}
