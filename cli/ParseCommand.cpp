// relayvane-cli parse: reads proxy list text with the catalogue's parsers and prints the records.

#include "catalogue/Marlo.Common.ProxyList.h"
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "platform/SysUtils.h"

#include <QFile>
#include <QMetaProperty>
#include <QTextStream>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <zlib.h>

namespace {

const char *const kParseHelp =
    "usage: relayvane-cli parse [--service] [--allow-duplicates] [--active IP:PORT] [--json] [FILE|-]\n"
    "\n"
    "Reads a proxy list (FILE, or standard input for '-' or no FILE) the way the program does and\n"
    "prints one record per line:  IP:PORT<TAB>CountryCode<TAB>Country<TAB>Rank\n"
    "\n"
    "The default is the free format: every address and port pair anywhere in the text\n"
    "(1.2.3.4:8080, 1.2.3.4 8080, user:pass@1.2.3.4:8080, ...), with its country from the\n"
    "built-in database. With --service the text is a list service reply, one proxy per line as\n"
    "address|port|code|country|score (Rank is half the score); a zlib-compressed reply is\n"
    "inflated first. A service error reply prints the service's message and link on stderr.\n"
    "\n"
    "Options:\n"
    "  --service           read the list service's format instead of free text\n"
    "  --allow-duplicates  keep a proxy that appears more than once (by default only the first\n"
    "                      address and port pair is kept)\n"
    "  --active IP:PORT    the active proxy: always the first record; a copy of it in the text\n"
    "                      is dropped as a duplicate. It carries only its address and port.\n"
    "  --json              print a JSON array of objects keyed by the record's stored properties\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status: 0 when the list was read, 1 on any error (the reason is printed on stderr).\n"
    "Environment: RELAYVANE_GEOIP_CSV=DIR reads the country database from DIR/ip.csv and\n"
    "DIR/cc.csv instead of the built-in one (for tests).\n";

// The list service answers with a zlib stream; a plain reply is read as it is. The check is the
// zlib header's own: method 8, window at most 32 KB, no preset dictionary, header checksum.
bool LooksLikeZlib(QByteArrayView Bytes) {
    if (Bytes.size() < 2)
        return false;
    const auto cmf = static_cast<uint8_t>(Bytes[0]);
    const auto flg = static_cast<uint8_t>(Bytes[1]);
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && (flg & 0x20) == 0 && ((cmf << 8) | flg) % 31 == 0;
}

QByteArray Inflate(QByteArrayView Bytes) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        throw Exception(QStringLiteral("cannot start zlib"));
    QByteArray out;
    char chunk[64 * 1024];
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Bytes.constData()));
    z.avail_in = static_cast<uInt>(Bytes.size());
    int rc = Z_OK;
    do {
        z.next_out = reinterpret_cast<Bytef *>(chunk);
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            const QString why =
                QString::fromLatin1(z.msg ? z.msg : (rc == Z_BUF_ERROR ? "truncated data" : "bad data"));
            inflateEnd(&z);
            throw Exception(QStringLiteral("the service reply is damaged zlib data (%1)").arg(why));
        }
        out.append(chunk, static_cast<qsizetype>(sizeof chunk - z.avail_out));
    } while (rc != Z_STREAM_END);
    inflateEnd(&z);
    return out;
}

// Prints a list service error reply on stderr and remembers that there was one.
class TStderrWarningSink : public IWarningSink {
public:
    bool Shown = false;
    void ShowWarningMessage(const QString &Msg, const QString &Url) override {
        Shown = true;
        QString line = QStringLiteral("relayvane-cli: parse: the list service reported an error: ");
        line += Msg.isEmpty() ? QStringLiteral("(no message)") : Msg;
        if (!Url.isEmpty())
            line += QStringLiteral(" (see ") + Url + u')';
        QTextStream(stderr) << line << Qt::endl;
    }
};

void AppendJsonNumber(QByteArray &Out, double V) {
    if (std::isfinite(V))
        Out += FloatToStr(V).toLatin1();
    else
        Out += "null";
}

// One record as an object of its stored published properties, in their published order.
void AppendJsonRecord(QByteArray &Out, const TProxtData &R, const QList<QMetaProperty> &Props) {
    Out += "  {";
    bool first = true;
    for (const QMetaProperty &p : Props) {
        Out += first ? "\"" : ", \"";
        first = false;
        Out += p.name();
        Out += "\": ";
        const QVariant v = p.readOnGadget(&R);
        if (p.isEnumType()) {
            const char *key = p.enumerator().valueToKey(v.toInt());
            AppendJsonString(Out, QString::fromLatin1(key ? key : ""));
            continue;
        }
        switch (v.metaType().id()) {
        case QMetaType::Bool:
            Out += v.toBool() ? "true" : "false";
            break;
        case QMetaType::Int:
            Out += QByteArray::number(v.toInt());
            break;
        case QMetaType::Double:
            AppendJsonNumber(Out, v.toDouble());
            break;
        default:
            AppendJsonString(Out, v.toString());
            break;
        }
    }
    Out += '}';
}

// The output, written into a fixed buffer that goes to stdout whenever it fills: a million records
// make some 40 MB of text, so every per-field allocation shows.
class TOutputBuffer {
public:
    TOutputBuffer() : FBuffer(new char[kSize]) {}
    ~TOutputBuffer() { Flush(); }

    void Put(char C) {
        if (FUsed == kSize)
            Flush();
        FBuffer[FUsed++] = C;
    }
    void Put(const QByteArray &Bytes) { Put(Bytes.constData(), static_cast<size_t>(Bytes.size())); }
    void Put(const char *P, size_t N) {
        if (N > kSize - FUsed) {
            Flush();
            if (N > kSize) {
                std::fwrite(P, 1, N, stdout);
                return;
            }
        }
        std::memcpy(FBuffer.get() + FUsed, P, N);
        FUsed += N;
    }
    // UTF-8 of S; plain ASCII (every address, code and nearly every country name) is copied
    // character by character.
    void Put(const QString &S) {
        const char16_t *p = reinterpret_cast<const char16_t *>(S.utf16());
        const size_t n = static_cast<size_t>(S.size());
        if (n > kSize - FUsed)
            Flush();
        if (n <= kSize - FUsed) {
            char *d = FBuffer.get() + FUsed;
            size_t i = 0;
            for (; i < n && p[i] < 0x80; ++i)
                d[i] = static_cast<char>(p[i]);
            if (i == n) {
                FUsed += n;
                return;
            }
        }
        Put(S.toUtf8());
    }
    void Put(int V) {
        char digits[16];
        const auto r = std::to_chars(digits, digits + sizeof digits, V);
        Put(digits, static_cast<size_t>(r.ptr - digits));
    }
    void Flush() {
        if (FUsed)
            std::fwrite(FBuffer.get(), 1, FUsed, stdout);
        FUsed = 0;
    }

private:
    static constexpr size_t kSize = 1 << 20;
    std::unique_ptr<char[]> FBuffer;
    size_t FUsed = 0;
};

int RunParse(const QStringList &Args) {
    if (CliWantsHelp(Args)) {
        QTextStream(stdout) << kParseHelp;
        return 0;
    }
    bool service = false, allowDuplicates = false, json = false;
    QString active, file;
    bool haveFile = false;
    for (qsizetype i = 0; i < Args.size(); ++i) {
        const QString &a = Args[i];
        if (a == QLatin1String("--service"))
            service = true;
        else if (a == QLatin1String("--allow-duplicates"))
            allowDuplicates = true;
        else if (a == QLatin1String("--json"))
            json = true;
        else if (a == QLatin1String("--active")) {
            if (i + 1 >= Args.size())
                return CliFail(QStringLiteral("parse: --active needs IP:PORT"));
            active = Args[++i];
        } else if (a.startsWith(QLatin1String("--active=")))
            active = a.mid(9);
        else if (a.startsWith(u'-') && a != QLatin1String("-"))
            return CliFail(QStringLiteral("parse: unknown option '%1'; see 'relayvane-cli parse --help'").arg(a));
        else if (haveFile)
            return CliFail(QStringLiteral("parse: more than one input given ('%1' and '%2')").arg(file, a));
        else {
            file = a;
            haveFile = true;
        }
    }

    std::unique_ptr<TProxtData> activeProxy;
    if (!active.isNull()) {
        const qsizetype colon = active.lastIndexOf(u':');
        int32_t port = 0;
        if (colon <= 0 || !TryStrToInt(QStringView(active).mid(colon + 1), port))
            return CliFail(QStringLiteral("parse: --active '%1' is not of the form IP:PORT").arg(active));
        activeProxy = std::make_unique<TProxtData>();
        activeProxy->SetIP(active.left(colon));
        activeProxy->SetPort(port);
    }

    QFile in;
    const bool fromStdin = !haveFile || file == QLatin1String("-");
    if (fromStdin ? !in.open(stdin, QIODevice::ReadOnly) : (in.setFileName(file), !in.open(QIODevice::ReadOnly)))
        return CliFail(QStringLiteral("parse: cannot open '%1': %2")
                           .arg(fromStdin ? QStringLiteral("-") : file, in.errorString()));
    // A regular file is mapped rather than copied (a list of a million lines is some 20 MB).
    QByteArray bytes;
    QByteArrayView text;
    const uchar *mapped = (!fromStdin && in.size() > 0) ? in.map(0, in.size()) : nullptr;
    if (mapped) {
        text = QByteArrayView(reinterpret_cast<const char *>(mapped), in.size());
    } else {
        bytes = in.readAll();
        if (in.error() != QFileDevice::NoError)
            return CliFail(QStringLiteral("parse: cannot read '%1': %2")
                               .arg(fromStdin ? QStringLiteral("-") : file, in.errorString()));
        text = bytes;
    }

    TProxyCollection list;
    list.SetNoDuplicates(!allowDuplicates);
    TStderrWarningSink sink;
    list.SetWarningSink(&sink);
    try {
        if (service) {
            if (LooksLikeZlib(text)) {
                bytes = Inflate(text);
                text = bytes;
            }
            list.ParseTextVIP(text, activeProxy.get());
        } else {
            // No window to keep alive here: the database is read right away on this thread rather
            // than by the idle-priority loader, which a busy machine can starve for a long time.
            auto db = std::make_unique<TCountryDatabase>();
            const QString csvDir = qEnvironmentVariable("RELAYVANE_GEOIP_CSV");
            if (csvDir.isEmpty())
                db->LoadDatabase(QString());
            else
                db->DatabaseFromCSV(csvDir);
            list.SetCountryDatabase(std::move(db));
            list.ParseText(text, activeProxy.get());
        }
    } catch (const Exception &e) {
        return CliFail(QStringLiteral("parse: ") + e.Message());
    }
    if (sink.Shown)
        return 1;

    TOutputBuffer out;
    if (json) {
        const QMetaObject &mo = TProxtData::staticMetaObject;
        QList<QMetaProperty> props;
        for (int i = 0; i < mo.propertyCount(); ++i)
            if (mo.property(i).isStored())
                props.append(mo.property(i));
        out.Put('[');
        QByteArray record;
        for (int i = 0; i < list.Count(); ++i) {
            record = i ? ",\n" : "\n";
            AppendJsonRecord(record, *list.Items(i), props);
            out.Put(record);
        }
        out.Put(QByteArray(list.Count() ? "\n]\n" : "]\n"));
    } else {
        for (int i = 0; i < list.Count(); ++i) {
            const TProxtData &r = *list.Items(i);
            out.Put(r.IP());
            out.Put(':');
            out.Put(r.Port());
            out.Put('\t');
            out.Put(r.CountryCode());
            out.Put('\t');
            out.Put(r.Country());
            out.Put('\t');
            if (r.Rank() == 0)
                out.Put('0');
            else
                out.Put(FloatToStr(r.Rank()).toLatin1());
            out.Put('\n');
        }
    }
    out.Flush();
    std::fflush(stdout);
    return 0;
}

const TCliRegistrar kParseRegistrar{{"parse", "read a proxy list (free text or the list service's format)", RunParse}};

} // namespace
