#include "service/ListService.h"

#include "platform/SysUtils.h"

#include <zlib.h>

namespace {

// Values of the program's own forms are short; longer echoes are cut so a reply stays readable.
constexpr int kMaxEchoedValue = 40;

QString SafeText(const QString &Text, int MaxLength = -1) {
    QString out;
    out.reserve(Text.size());
    for (QChar c : Text)
        out += (c == u'|' || c.unicode() < 32 || c.unicode() == 127) ? QChar(u' ') : c;
    if (MaxLength >= 0 && out.size() > MaxLength)
        out = out.left(MaxLength) + QStringLiteral("...");
    return out;
}

std::optional<TListError> ReadInt(const QMap<QString, QString> &Fields, const QString &Name, int &Value) {
    const QString text = Fields.value(Name);
    int32_t v = 0;
    if (!TryStrToInt(text, v))
        return TListError{TListError::ekNotANumber, Name, text};
    Value = v;
    return std::nullopt;
}

std::optional<TListError> ReadYesNo(const QMap<QString, QString> &Fields, const QString &Name, int &Value) {
    const QString text = Fields.value(Name);
    if (text == u"2")
        Value = 1;
    else if (text == u"1")
        Value = 0;
    else if (text.compare(u"any", Qt::CaseInsensitive) == 0)
        Value = -1;
    else
        return TListError{TListError::ekUnknownValue, Name, text};
    return std::nullopt;
}

bool IsAny(const QString &Text) {
    return Text.isEmpty() || Text.compare(u"any", Qt::CaseInsensitive) == 0;
}

int Bit(TAnonymity t) {
    return 1 << static_cast<int>(t);
}

struct TMessageSet {
    const char *Language;
    const char *Missing;   // %1 field
    const char *NotNumber; // %1 field, %2 value
    const char *Unknown;   // %1 field, %2 value
    const char *Malformed;
    const char *TooLarge;
};

const TMessageSet kMessages[] = {
    {"english", "The request lacks the field \"%1\".", "The field \"%1\" must be a whole number, not \"%2\".",
     "The field \"%1\" has a value the service does not know (\"%2\").", "The service could not read the request form.",
     "The request is too large."},
    {"russian", "В запросе нет поля \"%1\".", "Поле \"%1\" должно быть целым числом, а не \"%2\".",
     "Поле \"%1\" содержит неизвестное значение (\"%2\").", "Сервис не смог прочитать форму запроса.",
     "Запрос слишком велик."},
    {"ukrainian", "У запиті немає поля \"%1\".", "Поле \"%1\" має бути цілим числом, а не \"%2\".",
     "Поле \"%1\" містить невідоме значення (\"%2\").", "Сервіс не зміг прочитати форму запиту.", "Запит завеликий."},
    {"french", "La requête ne contient pas le champ \"%1\".", "Le champ \"%1\" doit être un nombre entier, pas \"%2\".",
     "Le champ \"%1\" contient une valeur inconnue (\"%2\").",
     "Le service n'a pas pu lire le formulaire de la requête.", "La requête est trop volumineuse."},
    {"spanish", "A la solicitud le falta el campo \"%1\".", "El campo \"%1\" debe ser un número entero, no \"%2\".",
     "El campo \"%1\" tiene un valor desconocido (\"%2\").", "El servicio no pudo leer el formulario de la solicitud.",
     "La solicitud es demasiado grande."},
    {"german", "In der Anfrage fehlt das Feld \"%1\".", "Das Feld \"%1\" muss eine ganze Zahl sein, nicht \"%2\".",
     "Das Feld \"%1\" hat einen unbekannten Wert (\"%2\").", "Der Dienst konnte das Anfrageformular nicht lesen.",
     "Die Anfrage ist zu groß."},
};

} // namespace

const QStringList &ListFormFields() {
    static const QStringList fields = {
        QStringLiteral("lang"),          QStringLiteral("cc"),      QStringLiteral("ssl"),
        QStringLiteral("speed"),         QStringLiteral("port"),    QStringLiteral("ping"),
        QStringLiteral("type"),          QStringLiteral("post"),    QStringLiteral("uptime"),
        QStringLiteral("uptimeinhours"), QStringLiteral("interval")};
    return fields;
}

std::optional<TListError> ParseListForm(const QMap<QString, QString> &Fields, TListQuery &Query) {
    TListQuery q;
    // The language first, so every later error can already be told in it.
    q.Language = Fields.value(QStringLiteral("lang")).trimmed().toLower();
    Query.Language = q.Language;
    for (const QString &name : ListFormFields()) {
        if (!Fields.contains(name))
            return TListError{TListError::ekMissingField, name, QString()};
    }

    const QString cc = Fields.value(QStringLiteral("cc")).trimmed();
    if (!IsAny(cc)) {
        if (cc.size() != 2 || !cc[0].isLetter() || !cc[1].isLetter() || cc[0].unicode() > 127 || cc[1].unicode() > 127)
            return TListError{TListError::ekUnknownValue, QStringLiteral("cc"), cc};
        q.CountryCode = cc.toUpper();
    }

    if (auto e = ReadYesNo(Fields, QStringLiteral("ssl"), q.Https))
        return e;
    if (auto e = ReadInt(Fields, QStringLiteral("speed"), q.MinSpeed))
        return e;

    const QString port = Fields.value(QStringLiteral("port")).trimmed();
    if (!IsAny(port)) {
        if (auto e = ReadInt(Fields, QStringLiteral("port"), q.Port))
            return e;
        if (q.Port < 1 || q.Port > 65535)
            return TListError{TListError::ekUnknownValue, QStringLiteral("port"), port};
    }

    if (auto e = ReadInt(Fields, QStringLiteral("ping"), q.MaxPing))
        return e;

    const QString type = Fields.value(QStringLiteral("type"));
    if (type == u"23")
        q.TypeMask = Bit(TAnonymity::Anonymous) | Bit(TAnonymity::Elite);
    else if (type == u"3")
        q.TypeMask = Bit(TAnonymity::Elite);
    else if (type == u"1")
        q.TypeMask = Bit(TAnonymity::Transparent);
    else if (type == u"2")
        q.TypeMask = Bit(TAnonymity::Anonymous);
    else if (type.compare(u"any", Qt::CaseInsensitive) == 0)
        q.TypeMask = 0;
    else
        return TListError{TListError::ekUnknownValue, QStringLiteral("type"), type};

    if (auto e = ReadYesNo(Fields, QStringLiteral("post"), q.Post))
        return e;
    if (auto e = ReadInt(Fields, QStringLiteral("uptime"), q.MinUptime))
        return e;
    if (auto e = ReadInt(Fields, QStringLiteral("uptimeinhours"), q.MinUptimeHours))
        return e;
    if (auto e = ReadInt(Fields, QStringLiteral("interval"), q.IntervalMinutes))
        return e;
    Query = q;
    return std::nullopt;
}

const QStringList &ServiceLanguages() {
    static const QStringList names = [] {
        QStringList l;
        for (const TMessageSet &m : kMessages)
            l << QString::fromLatin1(m.Language);
        return l;
    }();
    return names;
}

QString ListErrorMessage(const TListError &Error, const QString &Language) {
    const TMessageSet *set = &kMessages[0];
    for (const TMessageSet &m : kMessages) {
        if (Language.compare(QLatin1String(m.Language), Qt::CaseInsensitive) == 0)
            set = &m;
    }
    const QString field = SafeText(Error.Field, kMaxEchoedValue);
    const QString value = SafeText(Error.Value, kMaxEchoedValue);
    switch (Error.Kind) {
    case TListError::ekMissingField:
        return QString::fromUtf8(set->Missing).arg(field);
    case TListError::ekNotANumber:
        return QString::fromUtf8(set->NotNumber).arg(field, value);
    case TListError::ekUnknownValue:
        return QString::fromUtf8(set->Unknown).arg(field, value);
    case TListError::ekTooLarge:
        return QString::fromUtf8(set->TooLarge);
    case TListError::ekMalformedForm:
        break;
    }
    return QString::fromUtf8(set->Malformed);
}

QByteArray ErrorReplyText(const QString &Message, const QString &Link) {
    return (QStringLiteral("Error|") + SafeText(Message) + u'|' + SafeText(Link) + u'|').toUtf8();
}

QByteArray FormatServiceList(const std::vector<TServiceProxy> &Proxies) {
    QByteArray out;
    out.reserve(static_cast<qsizetype>(Proxies.size()) * 48);
    for (const TServiceProxy &p : Proxies) {
        // Quoted, because blanks separate fields for the reader; a quote inside is doubled.
        QString name = p.CountryName;
        // The program takes any reply that contains "error" for an error reply, so a name with
        // that word would cost the user the whole list: the code stands in for it.
        if (name.contains(QStringLiteral("error"), Qt::CaseInsensitive))
            name = p.CountryCode;
        name.replace(u'"', QStringLiteral("\"\""));
        out += p.Address.toLatin1();
        out += '|';
        out += QByteArray::number(p.Port);
        out += '|';
        out += p.CountryCode.toUtf8();
        out += "|\"";
        out += SafeText(name).toUtf8();
        out += "\"|";
        out += FloatToStr(p.Score).toLatin1();
        out += "\r\n";
    }
    return out;
}

QByteArray FormatCountryPortList(const std::vector<std::pair<QString, QString>> &Countries,
                                 const std::vector<int> &Ports) {
    QByteArray out = "any:Any country\r\n";
    for (const auto &[code, name] : Countries) {
        if (code.isEmpty())
            continue;
        out += (SafeText(code) + u':' + SafeText(name)).toUtf8();
        out += "\r\n";
    }
    out += "\r\nany:Any port\r\n";
    for (int port : Ports) {
        const QByteArray p = QByteArray::number(port);
        out += p + ':' + p + "\r\n";
    }
    return out;
}

QByteArray ZlibCompress(const QByteArray &Data, int Level) {
    uLongf size = compressBound(static_cast<uLong>(Data.size()));
    QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
    const int rc = compress2(reinterpret_cast<Bytef *>(out.data()), &size,
                             reinterpret_cast<const Bytef *>(Data.constData()), static_cast<uLong>(Data.size()), Level);
    if (rc != Z_OK)
        throw Exception(QStringLiteral("zlib compression failed (%1)").arg(rc));
    out.resize(static_cast<qsizetype>(size));
    return out;
}
