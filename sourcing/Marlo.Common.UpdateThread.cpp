#include "sourcing/Marlo.Common.UpdateThread.h"

#include "platform/HttpClient.h"
#include "platform/Registry.h"
#include "platform/ServiceEndpoints.h"
#include "platform/SysUtils.h"
#include "sourcing/LanguageWord.h"

namespace {
const QString NextVersionCheckDate = QStringLiteral("NextVersionCheckDate");
}

bool UpdateOffered(int Major, int Minor, int Release) {
    return Major > 3 || Minor > 1 || Release > 3;
}

std::optional<TUpdateOffer> ParseUpdateReply(const QByteArray &Body) {
    // Line breaks inside the reply become CR LF, as reading it as lines and joining them gives.
    QByteArray joined;
    for (qsizetype pos = 0, n = Body.size(); pos < n;) {
        qsizetype e = pos;
        while (e < n && Body[e] != '\r' && Body[e] != '\n')
            ++e;
        joined += Body.mid(pos, e - pos);
        joined += "\r\n";
        if (e < n && Body[e] == '\r')
            ++e;
        if (e < n && Body[e] == '\n')
            ++e;
        pos = e;
    }
    const QString text = TrimControl(QString::fromUtf8(joined));
    const QStringList fields = text.split(QLatin1Char('|'));
    if (fields.size() != 5)
        return std::nullopt;
    const int major = StrToInt(fields[0]), minor = StrToInt(fields[1]), release = StrToInt(fields[2]);
    if (!UpdateOffered(major, minor, release))
        return std::nullopt;
    return TUpdateOffer{fields[3], fields[4]};
}

QString UpdateCheckUrl(const QString &BaseUrl, const QString &LanguageWord) {
    return BaseUrl + QStringLiteral("/engine/index2.php?version=&lang=") + LanguageWord;
}

double DateToRegistryDays(const QDate &Date) {
    return double(QDate(1899, 12, 30).daysTo(Date));
}

TCheckUpdateThread::TCheckUpdateThread(const QString &Language, TWarningEvent OnWarning, const QString &BaseUrl)
    : FLanguage(Language), FBaseUrl(BaseUrl), FOnWarning(std::move(OnWarning)) {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    start();
}

void TCheckUpdateThread::run() {
    try {
        THttpClient http;
        http.SetHandleRedirects(true);
        const QString base = FBaseUrl.isEmpty() ? ServiceBaseUrl() : FBaseUrl;
        const std::optional<TUpdateOffer> offer =
            ParseUpdateReply(http.Get(UpdateCheckUrl(base, TranslateLangugae(FLanguage))));
        if (!offer)
            return;
        fMessage = offer->Message;
        fLink = offer->Link;
        // The link was a short single-byte string: at most 255 characters.
        const QString link = fLink.left(255);
        if (FOnWarning)
            QMetaObject::invokeMethod(
                this, [this, link] { FOnWarning(fMessage, link); }, Qt::BlockingQueuedConnection);
    } catch (...) {
        // Nobody is told: the next start-up after the scheduled date asks again.
    }
}

TCheckUpdateThread *StartUpdateCheck(TRegistry &Registry, const QDate &Today, const QString &Language,
                                     TWarningEvent OnWarning, const QString &BaseUrl) {
    try {
        if (!Registry.OpenKey(TRegistry::ProgramKey(), true))
            return nullptr;
        double next = 0;
        if (Registry.ValueExists(NextVersionCheckDate)) {
            try {
                next = Registry.ReadDate(NextVersionCheckDate);
            } catch (const ERegistryException &) {
                next = 0; // a value of another form is replaced by the next check
            }
        }
        const double today = DateToRegistryDays(Today);
        if (!(today > next)) {
            Registry.CloseKey();
            return nullptr;
        }
        // Written before the thread asks: a failed check waits for the schedule like a good one.
        Registry.WriteDate(NextVersionCheckDate, today + 1);
        Registry.CloseKey();
    } catch (const ERegistryException &) {
        return nullptr;
    }
    return new TCheckUpdateThread(Language, std::move(OnWarning), BaseUrl);
}
