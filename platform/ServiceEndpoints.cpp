#include "platform/ServiceEndpoints.h"

#include <QByteArray>
#include <QtGlobal>

namespace {

QString BaseFromEnv(const char *name, const QString &fallback) {
    QString value = qEnvironmentVariable(name).trimmed();
    while (value.endsWith(u'/'))
        value.chop(1);
    return value.isEmpty() ? fallback : value;
}

} // namespace

QString ServiceEndpoints::DefaultServiceBaseUrl() {
    return QStringLiteral("http://%1:%2").arg(QLatin1String(kDefaultHost)).arg(kDefaultPort);
}

QString ServiceBaseUrl() {
    return BaseFromEnv("RELAYVANE_SERVICE", ServiceEndpoints::DefaultServiceBaseUrl());
}

QString JudgeBaseUrl() {
    return BaseFromEnv("RELAYVANE_JUDGE", ServiceBaseUrl());
}

QString FaqUrl() {
    return ServiceBaseUrl() + QStringLiteral("/faq.php");
}

QString HomeUrl() {
    return ServiceBaseUrl() + QStringLiteral("/");
}
