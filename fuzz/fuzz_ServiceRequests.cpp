// relayvane-service's request handling on arbitrary bytes: the list form, the judge's query and
// headers, the update version, and JSON import with its records served back as a list.
// Input: query text (as in a URL or an url-encoded form), then "\n\n", then "Name: value" header
// lines; the whole input is also tried as JSON import records.

#include "catalogue/Marlo.Common.ProxyList.h"
#include "service/JudgeService.h"
#include "service/ListService.h"
#include "service/ServiceImport.h"
#include "service/UpdateService.h"

#include <QStringList>
#include <cstdlib>
#include "platform/HttpServerLib.h"
#include <string>

namespace {

struct TSink : IWarningSink {
    int Calls = 0;
    void ShowWarningMessage(const QString &, const QString &) override { ++Calls; }
};

void Require(bool Condition) {
    if (!Condition)
        std::abort();
}

QString Q(const std::string &s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const std::string input(reinterpret_cast<const char *>(Data), Size);
    const size_t gap = input.find("\n\n");
    httplib::Params params;
    httplib::detail::parse_query_text(input.substr(0, gap), params);

    // The list form.
    QMap<QString, QString> fields;
    for (const auto &[name, value] : params) {
        if (!fields.contains(Q(name)))
            fields.insert(Q(name), Q(value));
    }
    TListQuery query;
    if (const auto error = ParseListForm(fields, query)) {
        for (const QString &language : ServiceLanguages() + QStringList{query.Language}) {
            const QString message = ListErrorMessage(*error, language);
            Require(!message.contains(u'|') && !message.contains(u'\n') && !message.contains(u'\r'));
            Require(ErrorReplyText(message, Q(input)).startsWith("Error|"));
        }
    } else {
        Require(query.CountryCode.isEmpty() || query.CountryCode.size() == 2);
        Require(query.Port >= 0 && query.Port <= 65535);
    }

    // The judge.
    TJudgeRequest judge;
    judge.PeerAddress = Q(input.substr(0, std::min<size_t>(Size, 40)));
    auto param = [&](const char *name) {
        const auto it = params.find(name);
        return it == params.end() ? std::optional<QString>() : std::optional<QString>(Q(it->second));
    };
    judge.UserIp = param("userip").value_or(QString());
    judge.Proxy = param("proxy");
    judge.Time = param("time").value_or(QString());
    judge.Field1 = param("field1").value_or(QString());
    judge.Field2 = param("field2");
    if (gap != std::string::npos) {
        for (const QString &line : Q(input.substr(gap + 2)).split(u'\n')) {
            const qsizetype colon = line.indexOf(u':');
            if (colon > 0)
                judge.Headers.emplace_back(line.left(colon), line.mid(colon + 1).trimmed());
        }
    }
    if (const auto reply = JudgeTestReply(judge, 1733900000.0)) {
        const QStringList lines = QString::fromUtf8(*reply).split(QStringLiteral("\r\n"));
        Require(lines.size() == 6 && lines[0] == QLatin1String(kJudgeMarker));
        Require(lines[1] == u"t" || lines[1] == u"a" || lines[1] == u"e");
        Require(lines[2].isEmpty() || lines[2] == u"p" || lines[2] == u"b");
        Require(lines[4] == u"y" || lines[4] == u"n");
    }
    Require(JudgeShowIpReply(judge.PeerAddress, 1.5).endsWith("1.500\r\n"));

    // The operator's version text.
    TUpdateInfo info;
    if (ParseVersion(Q(input), info))
        Require(ParseVersion(VersionText(info), info));
    CheckUpdateText(Q(input));

    // JSON records, served back: the program reads every one of them and sees no error reply.
    try {
        const auto proxies = ParseImportJson(QByteArray::fromRawData(input.data(), static_cast<qsizetype>(Size)));
        TProxyCollection collection;
        TSink sink;
        collection.SetWarningSink(&sink);
        collection.ParseTextVIP(FormatServiceList(proxies), nullptr);
        Require(sink.Calls == 0 && collection.Count() == static_cast<int>(proxies.size()));
    } catch (const Exception &) {
    }
    return 0;
}
