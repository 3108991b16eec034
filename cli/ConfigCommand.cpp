// relayvane-cli config: shows and changes the configuration file "config.cfg" through the same
// TProgramConfig the program uses, by published property name.

#include "catalogue/Marlo.Common.ProxyList.h"
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "config/ConfigFile.h"
#include "config/ProgramConfig.h"
#include "platform/StringList.h"
#include "platform/SysUtils.h"

#include <QFile>
#include <QMetaProperty>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <memory>

namespace {

const char *const kConfigHelp =
    "usage: relayvane-cli config [--config FILE] [--json] [COMMAND [ARGS]]\n"
    "\n"
    "Shows and changes the configuration file config.cfg, the file the program loads at start-up and\n"
    "saves when it exits. Properties are named as in the file: Enabled, Language, ProxyList, ...; a\n"
    "property of a sub-object by a dotted name such as ProxyFilter.Country.\n"
    "\n"
    "Commands:\n"
    "  show                 every property in saving order, one 'Name = value' line each (the default);\n"
    "                       the lists by their size. With --json the same as dump.\n"
    "  dump                 every property in saving order as JSON: the proxy lists as arrays of\n"
    "                       records, the history (BanedProxy) as an array of lines, the filter as an\n"
    "                       object\n"
    "  get NAME             one property: a value, or for a list one record per line\n"
    "                       (IP:PORT<TAB>CountryCode<TAB>Country<TAB>Rank), or with --json its JSON\n"
    "  set NAME VALUE       changes a value (true/false, an integer, a number with '.', an identifier\n"
    "                       such as stRating or tsTrue, or a text) and saves the file\n"
    "  defaults             writes a fresh default configuration (language from the system locale)\n"
    "  import --user|--downloaded LISTFILE\n"
    "                       replaces the user's list (ProxyListUser) or the downloaded list (ProxyList)\n"
    "                       with the proxies found in a free-format list text (LISTFILE, or - for\n"
    "                       standard input) and saves the file\n"
    "  path                 prints where the configuration file is\n"
    "\n"
    "Options:\n"
    "  --config FILE, --file FILE\n"
    "                       the configuration file; default: $RELAYVANE_CONFIG, else config.cfg next to\n"
    "                       the program when that folder is writable, else\n"
    "                       $XDG_CONFIG_HOME/relayvane/config.cfg (~/.config/relayvane/config.cfg)\n"
    "  --json               JSON output for show and get\n"
    "  -h, --help           show this help\n"
    "\n"
    "A missing file reads as the defaults. A file that cannot be read is reported and never changed.\n"
    "Saving writes a temporary file and renames it over the old one, so a failed save changes nothing.\n"
    "Exit status: 0 on success, 1 on any error (one line on stderr).\n";

int Fail(const QString &Msg) {
    return CliFail(QStringLiteral("config: ") + Msg);
}

// ---- property access by dotted name ----

bool IsObjectProperty(const QMetaProperty &P) {
    return P.metaType().flags() & QMetaType::PointerToQObject;
}

QObject *SubObject(const QObject *Obj, const QMetaProperty &P) {
    const QVariant v = P.read(Obj);
    return v.isValid() ? *static_cast<QObject *const *>(v.constData()) : nullptr;
}

/// The published properties of an object in saving order (QObject's objectName left out).
QList<QMetaProperty> StoredProperties(const QMetaObject *Meta, bool IsQObject) {
    QList<QMetaProperty> out;
    for (int i = IsQObject ? QObject::staticMetaObject.propertyCount() : 0; i < Meta->propertyCount(); ++i) {
        const QMetaProperty p = Meta->property(i);
        if (p.isReadable() && p.isStored() && (p.isWritable() || IsObjectProperty(p)))
            out.append(p);
    }
    return out;
}

struct TResolved {
    QObject *Owner = nullptr;
    QMetaProperty Prop;
};

/// Finds NAME ("Language", "ProxyFilter.Country", "ProxyList.NoDuplicates") among the stored properties.
bool Resolve(QObject *Root, const QString &Name, TResolved &Out) {
    QObject *obj = Root;
    const QStringList parts = Name.split(u'.');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        bool found = false;
        for (const QMetaProperty &p : StoredProperties(obj->metaObject(), true)) {
            if (QLatin1String(p.name()) != parts[i])
                continue;
            found = true;
            if (i + 1 == parts.size()) {
                Out.Owner = obj;
                Out.Prop = p;
                return true;
            }
            obj = IsObjectProperty(p) ? SubObject(obj, p) : nullptr;
            break;
        }
        if (!found || !obj)
            return false;
    }
    return false;
}

int EnumValueOf(const QVariant &V) {
    const QMetaType t = V.metaType();
    const void *d = V.constData();
    switch (t.sizeOf()) {
    case 1:
        return *static_cast<const quint8 *>(d);
    case 2:
        return *static_cast<const quint16 *>(d);
    default:
        return *static_cast<const qint32 *>(d);
    }
}

QVariant EnumVariant(QMetaType T, int Value) {
    QVariant v(T, nullptr);
    switch (T.sizeOf()) {
    case 1:
        *static_cast<quint8 *>(v.data()) = static_cast<quint8>(Value);
        break;
    case 2:
        *static_cast<quint16 *>(v.data()) = static_cast<quint16>(Value);
        break;
    default:
        *static_cast<qint32 *>(v.data()) = Value;
        break;
    }
    return v;
}

// ---- text output ----

QString ScalarText(const QMetaProperty &P, const QVariant &V) {
    if (P.isEnumType()) {
        const char *key = P.enumerator().valueToKey(EnumValueOf(V));
        return key ? QString::fromLatin1(key) : QString::number(EnumValueOf(V));
    }
    switch (V.metaType().id()) {
    case QMetaType::Bool:
        return V.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::Int:
        return QString::number(V.toInt());
    case QMetaType::Double:
    case QMetaType::Float:
        return FloatToStr(V.toDouble());
    default:
        return V.toString();
    }
}

QString ProxyLine(const TProxtData &R) {
    return R.IP() + u':' + QString::number(R.Port()) + u'\t' + R.CountryCode() + u'\t' + R.Country() + u'\t' +
           FloatToStr(R.Rank());
}

void ShowObject(QTextStream &Out, const QObject *Obj, const QString &Prefix) {
    for (const QMetaProperty &p : StoredProperties(Obj->metaObject(), true)) {
        const QString name = Prefix + QLatin1String(p.name());
        if (!IsObjectProperty(p)) {
            Out << name << " = " << ScalarText(p, p.read(Obj)) << '\n';
            continue;
        }
        const QObject *sub = SubObject(Obj, p);
        if (!sub)
            continue;
        if (const auto *lines = qobject_cast<const TStringList *>(sub)) {
            Out << name << " = [" << lines->Count() << (lines->Count() == 1 ? " line]\n" : " lines]\n");
            continue;
        }
        ShowObject(Out, sub, name + u'.');
        if (const auto *coll = qobject_cast<const TMyCollection *>(sub))
            Out << name << " = [" << coll->Count() << (coll->Count() == 1 ? " record]\n" : " records]\n");
    }
}

// ---- JSON output (our own writer: the keys stay in saving order) ----

void JsonScalar(QByteArray &Out, const QMetaProperty &P, const QVariant &V) {
    if (P.isEnumType()) {
        AppendJsonString(Out, ScalarText(P, V));
        return;
    }
    switch (V.metaType().id()) {
    case QMetaType::Bool:
        Out += V.toBool() ? "true" : "false";
        break;
    case QMetaType::Int:
        Out += QByteArray::number(V.toInt());
        break;
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = V.toDouble();
        Out += std::isfinite(d) ? QByteArray::number(d, 'g', QLocale::FloatingPointShortest) : QByteArray("null");
        break;
    }
    case QMetaType::QStringList: {
        Out += '[';
        const QStringList l = V.toStringList();
        for (qsizetype i = 0; i < l.size(); ++i) {
            Out += i ? ", " : "";
            AppendJsonString(Out, l[i]);
        }
        Out += ']';
        break;
    }
    default:
        AppendJsonString(Out, V.toString());
        break;
    }
}

void JsonItem(QByteArray &Out, const TMyCollectionItem &Item) {
    const void *gadget = dynamic_cast<const void *>(&Item);
    Out += '{';
    bool first = true;
    for (const QMetaProperty &p : StoredProperties(Item.GadgetMetaObject(), false)) {
        Out += first ? "\"" : ", \"";
        first = false;
        Out += p.name();
        Out += "\": ";
        JsonScalar(Out, p, p.readOnGadget(gadget));
    }
    Out += '}';
}

void JsonCollection(QByteArray &Out, const TMyCollection &Coll, const QByteArray &Indent) {
    if (Coll.Count() == 0) {
        Out += "[]";
        return;
    }
    Out += "[\n";
    for (int i = 0; i < Coll.Count(); ++i) {
        Out += Indent + "  ";
        JsonItem(Out, *Coll.Item(i));
        Out += i + 1 < Coll.Count() ? ",\n" : "\n";
        if (Out.size() > (1 << 20)) {
            std::fwrite(Out.constData(), 1, static_cast<size_t>(Out.size()), stdout);
            Out.clear();
        }
    }
    Out += Indent + "]";
}

void JsonLines(QByteArray &Out, const TStringList &Lines, const QByteArray &Indent) {
    if (Lines.Count() == 0) {
        Out += "[]";
        return;
    }
    Out += "[\n";
    for (int i = 0; i < Lines.Count(); ++i) {
        Out += Indent + "  ";
        AppendJsonString(Out, Lines[i]);
        Out += i + 1 < Lines.Count() ? ",\n" : "\n";
    }
    Out += Indent + "]";
}

void JsonObject(QByteArray &Out, const QObject &Obj, const QByteArray &Indent);

/// Members of an object: scalars by name; a collection's own properties as "Name.Prop" before the
/// array "Name"; a string list as an array of lines; any other sub-object as a nested object.
void JsonMembers(QByteArray &Out, const QObject &Obj, const QByteArray &Indent, bool &First) {
    for (const QMetaProperty &p : StoredProperties(Obj.metaObject(), true)) {
        auto key = [&](const QByteArray &Name) {
            Out += First ? "\n" : ",\n";
            First = false;
            Out += Indent + "  \"" + Name + "\": ";
        };
        if (!IsObjectProperty(p)) {
            key(p.name());
            JsonScalar(Out, p, p.read(&Obj));
            continue;
        }
        const QObject *sub = SubObject(&Obj, p);
        if (!sub)
            continue;
        if (const auto *coll = qobject_cast<const TMyCollection *>(sub)) {
            for (const QMetaProperty &cp : StoredProperties(sub->metaObject(), true)) {
                if (IsObjectProperty(cp))
                    continue;
                key(QByteArray(p.name()) + '.' + cp.name());
                JsonScalar(Out, cp, cp.read(sub));
            }
            key(p.name());
            JsonCollection(Out, *coll, Indent + "  ");
        } else if (const auto *lines = qobject_cast<const TStringList *>(sub)) {
            key(p.name());
            JsonLines(Out, *lines, Indent + "  ");
        } else {
            key(p.name());
            JsonObject(Out, *sub, Indent + "  ");
        }
    }
}

void JsonObject(QByteArray &Out, const QObject &Obj, const QByteArray &Indent) {
    Out += '{';
    bool first = true;
    JsonMembers(Out, Obj, Indent, first);
    Out += first ? "}" : "\n" + Indent + "}";
}

void WriteOut(const QByteArray &Bytes) {
    std::fwrite(Bytes.constData(), 1, static_cast<size_t>(Bytes.size()), stdout);
    std::fflush(stdout);
}

// ---- value parsing for set ----

bool ParseValue(const QMetaProperty &P, const QString &Text, QVariant &Out, QString &Why) {
    if (P.isEnumType()) {
        bool ok = false;
        const int v = P.enumerator().keyToValue(Text.toLatin1().constData(), &ok);
        if (!ok || Text.isEmpty()) {
            QStringList keys;
            for (int i = 0; i < P.enumerator().keyCount(); ++i)
                keys << QString::fromLatin1(P.enumerator().key(i));
            Why = QStringLiteral("one of %1").arg(keys.join(QStringLiteral(", ")));
            return false;
        }
        Out = EnumVariant(P.metaType(), v);
        return true;
    }
    switch (P.metaType().id()) {
    case QMetaType::Bool:
        if (Text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || Text == QLatin1String("1"))
            Out = true;
        else if (Text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 || Text == QLatin1String("0"))
            Out = false;
        else {
            Why = QStringLiteral("true or false");
            return false;
        }
        return true;
    case QMetaType::Int: {
        int32_t v = 0;
        if (!TryStrToInt(Text, v)) {
            Why = QStringLiteral("a 32-bit integer");
            return false;
        }
        Out = static_cast<int>(v);
        return true;
    }
    case QMetaType::Double:
    case QMetaType::Float: {
        double v = 0;
        if (!TryStrToFloat(Text, v)) {
            Why = QStringLiteral("a number with '.' as decimal separator");
            return false;
        }
        Out = v;
        return true;
    }
    case QMetaType::QString:
        Out = Text;
        return true;
    default:
        Why = QStringLiteral("a value of a kind this command cannot set");
        return false;
    }
}

// ---- the command ----

struct TOptions {
    QString File;
    bool Json = false;
    bool User = false;
    bool Downloaded = false;
    QStringList Positional;
};

/// Loads the file into Config; a missing file leaves the defaults. Raises for an unreadable file.
void Load(TProgramConfig &Config, const QString &File) {
    Config.LoadFromFile(File);
}

int RunConfigCommand(const QStringList &Args) {
    if (CliWantsHelp(Args)) {
        QTextStream(stdout) << kConfigHelp;
        return 0;
    }
    TOptions o;
    for (qsizetype i = 0; i < Args.size(); ++i) {
        const QString &a = Args[i];
        if (a == QLatin1String("--config") || a == QLatin1String("--file")) {
            if (i + 1 >= Args.size())
                return Fail(QStringLiteral("%1 needs a file name").arg(a));
            o.File = Args[++i];
        } else if (a.startsWith(QLatin1String("--config=")) || a.startsWith(QLatin1String("--file="))) {
            o.File = a.mid(a.indexOf(u'=') + 1);
        } else if (a == QLatin1String("--json")) {
            o.Json = true;
        } else if (a == QLatin1String("--user")) {
            o.User = true;
        } else if (a == QLatin1String("--downloaded")) {
            o.Downloaded = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            return Fail(QStringLiteral("unknown option '%1'; see 'relayvane-cli config --help'").arg(a));
        } else {
            o.Positional << a;
        }
    }
    const QString file = ConfigFilePath(o.File);
    const QString command = o.Positional.isEmpty() ? QStringLiteral("show") : o.Positional.takeFirst();
    auto wantArgs = [&](qsizetype N, const char *Usage) {
        if (o.Positional.size() == N)
            return true;
        Fail(QStringLiteral("usage: relayvane-cli config %1").arg(QLatin1String(Usage)));
        return false;
    };

    if (command == QLatin1String("path")) {
        if (!wantArgs(0, "path"))
            return 1;
        QTextStream(stdout) << file << Qt::endl;
        return 0;
    }
    if (command == QLatin1String("defaults")) {
        if (!wantArgs(0, "defaults [--config FILE]"))
            return 1;
        TProgramConfig config;
        config.SaveToFile(file);
        return 0;
    }
    if (command == QLatin1String("show") || command == QLatin1String("dump")) {
        if (!wantArgs(0, "show|dump [--config FILE] [--json]"))
            return 1;
        TProgramConfig config;
        Load(config, file);
        if (o.Json || command == QLatin1String("dump")) {
            QByteArray out;
            JsonObject(out, config, QByteArray());
            out += '\n';
            WriteOut(out);
        } else {
            QString text;
            QTextStream s(&text);
            ShowObject(s, &config, QString());
            s.flush();
            WriteOut(text.toUtf8());
        }
        return 0;
    }
    if (command == QLatin1String("get")) {
        if (!wantArgs(1, "get NAME [--config FILE] [--json]"))
            return 1;
        TProgramConfig config;
        Load(config, file);
        TResolved r;
        if (!Resolve(&config, o.Positional[0], r))
            return Fail(QStringLiteral("unknown property '%1'").arg(o.Positional[0]));
        QByteArray out;
        if (!IsObjectProperty(r.Prop)) {
            if (o.Json)
                JsonScalar(out, r.Prop, r.Prop.read(r.Owner));
            else
                out = ScalarText(r.Prop, r.Prop.read(r.Owner)).toUtf8();
            out += '\n';
        } else {
            QObject *sub = SubObject(r.Owner, r.Prop);
            if (!sub)
                return Fail(QStringLiteral("property '%1' holds no object").arg(o.Positional[0]));
            const auto *coll = qobject_cast<TProxyCollection *>(sub);
            const auto *lines = qobject_cast<TStringList *>(sub);
            if (o.Json) {
                if (coll)
                    JsonCollection(out, *coll, QByteArray());
                else if (lines)
                    JsonLines(out, *lines, QByteArray());
                else
                    JsonObject(out, *sub, QByteArray());
                out += '\n';
            } else if (coll) {
                for (int i = 0; i < coll->Count(); ++i)
                    out += ProxyLine(*coll->Items(i)).toUtf8() + '\n';
            } else if (lines) {
                for (int i = 0; i < lines->Count(); ++i)
                    out += (*lines)[i].toUtf8() + '\n';
            } else {
                QString text;
                QTextStream s(&text);
                ShowObject(s, sub, QString());
                s.flush();
                out = text.toUtf8();
            }
        }
        WriteOut(out);
        return 0;
    }
    if (command == QLatin1String("set")) {
        if (!wantArgs(2, "set NAME VALUE [--config FILE]"))
            return 1;
        TProgramConfig config;
        Load(config, file);
        const QString &name = o.Positional[0];
        TResolved r;
        if (!Resolve(&config, name, r))
            return Fail(QStringLiteral("unknown property '%1'").arg(name));
        if (IsObjectProperty(r.Prop))
            return Fail(QStringLiteral("'%1' is not a single value; set its properties by their dotted names%2")
                            .arg(name, qobject_cast<TProxyCollection *>(SubObject(r.Owner, r.Prop))
                                           ? QStringLiteral(" or use 'config import'")
                                           : QString()));
        QVariant v;
        QString why;
        if (!ParseValue(r.Prop, o.Positional[1], v, why))
            return Fail(QStringLiteral("'%1' is not a valid value for %2 (wants %3)").arg(o.Positional[1], name, why));
        if (!r.Prop.write(r.Owner, v))
            return Fail(QStringLiteral("property '%1' cannot be set").arg(name));
        config.SaveToFile(file);
        return 0;
    }
    if (command == QLatin1String("import")) {
        if (!wantArgs(1, "import --user|--downloaded LISTFILE [--config FILE]"))
            return 1;
        if (o.User == o.Downloaded)
            return Fail(QStringLiteral("import needs exactly one of --user and --downloaded"));
        const QString list = o.Positional[0];
        QFile in;
        const bool fromStdin = list == QLatin1String("-");
        if (fromStdin ? !in.open(stdin, QIODevice::ReadOnly) : (in.setFileName(list), !in.open(QIODevice::ReadOnly)))
            return Fail(QStringLiteral("cannot open '%1': %2").arg(list, in.errorString()));
        const QByteArray bytes = in.readAll();
        TProgramConfig config;
        Load(config, file);
        TProxyCollection *target = o.User ? config.ProxyListUser() : config.ProxyList();
        const QString csvDir = qEnvironmentVariable("RELAYVANE_GEOIP_CSV");
        if (!csvDir.isEmpty()) {
            auto db = std::make_unique<TCountryDatabase>();
            db->DatabaseFromCSV(csvDir);
            target->SetCountryDatabase(std::move(db));
        }
        target->ParseText(bytes, nullptr);
        config.SaveToFile(file);
        QTextStream(stdout) << "imported " << target->Count()
                            << (target->Count() == 1 ? " proxy into " : " proxies into ")
                            << (o.User ? "ProxyListUser" : "ProxyList") << Qt::endl;
        return 0;
    }
    return Fail(QStringLiteral("unknown command '%1'; see 'relayvane-cli config --help'").arg(command));
}

int RunConfig(const QStringList &Args) {
    try {
        return RunConfigCommand(Args);
    } catch (const Exception &e) {
        return Fail(e.Message());
    }
}

const TCliRegistrar kConfigRegistrar{{"config", "show and change the configuration file config.cfg", RunConfig}};

} // namespace
