#include "platform/Registry.h"

#include "platform/SysUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

struct TRegistry::TValue {
    QString Name;
    TRegDataType Type = TRegDataType::rdUnknown;
    QString Text;     // rdString
    qint32 Integer{}; // rdInteger
    QByteArray Bytes; // rdBinary
};

// Keys and value names compare without regard to case, as the registry does, but keep the case
// they were written with.
struct TRegistry::TData {
    struct TKey {
        QString Name;
        QList<TValue> Values;
    };
    QMap<QString, TKey> Keys; // lower-case path -> key; the root "" always exists

    TData() { Keys.insert(QString(), TKey()); }
    TKey *Find(const QString &Path) {
        auto it = Keys.find(Path.toLower());
        return it == Keys.end() ? nullptr : &it.value();
    }
    TKey &Create(const QString &Path) {
        // Every ancestor exists with its child, as in the registry.
        const QStringList parts = Path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
        QString sub;
        for (const QString &p : parts) {
            sub = sub.isEmpty() ? p : sub + QLatin1Char('\\') + p;
            auto it = Keys.find(sub.toLower());
            if (it == Keys.end())
                Keys.insert(sub.toLower(), TKey{sub, {}});
        }
        return *Find(Path);
    }
    static int IndexOf(const TKey &Key, const QString &Name) {
        for (int i = 0; i < Key.Values.size(); ++i)
            if (Key.Values[i].Name.compare(Name, Qt::CaseInsensitive) == 0)
                return i;
        return -1;
    }
};

namespace {

QString NormalisePath(const QString &Path) {
    return Path.split(QLatin1Char('\\'), Qt::SkipEmptyParts).join(QLatin1Char('\\'));
}

QByteArray Quote(const QString &Text) {
    QByteArray out = "\"";
    for (char c : Text.toUtf8()) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                out += "\\x" + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    return out + '"';
}

// Reads a quoted text starting at Line[Pos] == '"'; Pos ends after the closing quote.
bool Unquote(const QByteArray &Line, qsizetype &Pos, QString &Text) {
    if (Pos >= Line.size() || Line[Pos] != '"')
        return false;
    QByteArray out;
    for (++Pos; Pos < Line.size(); ++Pos) {
        const char c = Line[Pos];
        if (c == '"') {
            ++Pos;
            Text = QString::fromUtf8(out);
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++Pos >= Line.size())
            return false;
        switch (Line[Pos]) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'x': {
            bool ok = false;
            const int v = Line.mid(Pos + 1, 2).toInt(&ok, 16);
            if (!ok)
                return false;
            out += char(v);
            Pos += 2;
            break;
        }
        default:
            out += Line[Pos];
        }
    }
    return false;
}

QString LockName(const QString &FileName) {
    return FileName + QStringLiteral(".lock");
}

void SyncDirectory(const QString &Dir) {
    const int fd = ::open(QFile::encodeName(Dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QString ErrnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

TRegistry::TRegistry() : TRegistry(DefaultFileName()) {}

TRegistry::TRegistry(const QString &FileName) : FFileName(FileName) {}

QString TRegistry::DefaultFileName() {
    return XdgConfigHome(qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath()) +
           QStringLiteral("/relayvane/registry.ini");
}

TRegistry::TData TRegistry::Load() const {
    TData data;
    // Open first and take "no such file" from the open itself: a separate existence check can
    // answer "missing" while another process renames its new copy into place.
    const int fd = ::open(QFile::encodeName(FFileName).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return data;
        throw ERegistryException(QStringLiteral("Cannot read %1: %2").arg(FFileName, ErrnoText()));
    }
    QFile f;
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw ERegistryException(QStringLiteral("Cannot read %1: %2").arg(FFileName, f.errorString()));
    }
    // Lines that cannot be read are skipped: a hand-edited mistake costs that line, not the store.
    TData::TKey *key = data.Find(QString());
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            key = &data.Create(NormalisePath(QString::fromUtf8(line.mid(1, line.size() - 2))));
            continue;
        }
        qsizetype pos = 0;
        TValue v;
        if (!Unquote(line, pos, v.Name) || pos >= line.size() || line[pos] != '=')
            continue;
        const QByteArray rest = line.mid(pos + 1);
        if (rest.startsWith('"')) {
            qsizetype p = 0;
            if (!Unquote(rest, p, v.Text) || p != rest.size())
                continue;
            v.Type = TRegDataType::rdString;
        } else if (rest.startsWith("dword:")) {
            bool ok = false;
            const uint u = rest.mid(6).toUInt(&ok, 16);
            if (!ok || rest.size() != 14)
                continue;
            v.Type = TRegDataType::rdInteger;
            v.Integer = qint32(u);
        } else if (rest.startsWith("hex:")) {
            const QByteArray hex = rest.mid(4);
            bool ok = true;
            for (const QByteArray &b : hex.split(',')) {
                if (b.isEmpty() && hex.isEmpty())
                    break;
                const int n = b.toInt(&ok, 16);
                if (!ok || b.size() != 2)
                    break;
                v.Bytes += char(n);
            }
            if (!ok)
                continue;
            v.Type = TRegDataType::rdBinary;
        } else {
            continue;
        }
        const int i = TData::IndexOf(*key, v.Name);
        if (i < 0)
            key->Values.append(v);
    }
    return data;
}

void TRegistry::Commit(const TData &Data) const {
    QByteArray text =
        "; Relayvane per-user store: keys in [brackets], values \"name\"=\"text\" | dword:hex | hex:bytes\n";
    for (const auto &key : Data.Keys) {
        if (key.Name.isEmpty() && key.Values.isEmpty())
            continue;
        text += '[' + key.Name.toUtf8() + "]\n";
        for (const TValue &v : key.Values) {
            text += Quote(v.Name) + '=';
            switch (v.Type) {
            case TRegDataType::rdString:
                text += Quote(v.Text);
                break;
            case TRegDataType::rdInteger:
                text += "dword:" + QByteArray::number(quint32(v.Integer), 16).rightJustified(8, '0');
                break;
            default: {
                text += "hex:";
                for (qsizetype i = 0; i < v.Bytes.size(); ++i) {
                    if (i)
                        text += ',';
                    text += QByteArray::number(static_cast<unsigned char>(v.Bytes[i]), 16).rightJustified(2, '0');
                }
            }
            }
            text += '\n';
        }
    }
    // The writers' lock is held, so one fixed temporary name is enough; a writer killed half-way
    // leaves only this file behind, and the next writer truncates it.
    const QString tmp = FFileName + QStringLiteral(".tmp");
    const QByteArray tmpName = QFile::encodeName(tmp);
    const int fd = ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw ERegistryException(QStringLiteral("Cannot write %1: %2").arg(tmp, ErrnoText()));
    const char *p = text.constData();
    qsizetype left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const QString err = ErrnoText();
            ::close(fd);
            ::unlink(tmpName.constData());
            throw ERegistryException(QStringLiteral("Cannot write %1: %2").arg(tmp, err));
        }
        p += n;
        left -= n;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const QString err = ErrnoText();
        ::unlink(tmpName.constData());
        throw ERegistryException(QStringLiteral("Cannot write %1: %2").arg(tmp, err));
    }
    if (::rename(tmpName.constData(), QFile::encodeName(FFileName).constData()) != 0) {
        const QString err = ErrnoText();
        ::unlink(tmpName.constData());
        throw ERegistryException(QStringLiteral("Cannot replace %1: %2").arg(FFileName, err));
    }
    SyncDirectory(QFileInfo(FFileName).absolutePath());
}

template <typename F> void TRegistry::Modify(F &&Change) {
    const QString dir = QFileInfo(FFileName).absolutePath();
    if (!QFileInfo::exists(dir)) {
        if (!QDir().mkpath(dir))
            throw ERegistryException(QStringLiteral("Cannot create the folder %1").arg(dir));
        // Only a folder made here is narrowed to the user; an existing one keeps its permissions.
        ::chmod(QFile::encodeName(dir).constData(), 0700);
    }
    const int lock = ::open(QFile::encodeName(LockName(FFileName)).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0)
        throw ERegistryException(QStringLiteral("Cannot lock %1: %2").arg(FFileName, ErrnoText()));
    // Writers of other processes change the file between our calls: read, change and replace
    // it as one step under the lock so no writer's value is lost.
    while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    struct TUnlock {
        int fd;
        ~TUnlock() { ::close(fd); } // closing releases the lock
    } unlock{lock};
    TData data = Load();
    if (Change(data))
        Commit(data);
}

void TRegistry::RequireKey() const {
    if (FCurrentKey.isNull())
        throw ERegistryException(QStringLiteral("No key is open in %1").arg(FFileName));
}

static QString Resolve(const QString &Current, const QString &Key) {
    // A key starting with "\" is absolute; any other is below the open key.
    if (Key.startsWith(QLatin1Char('\\')) || Current.isEmpty())
        return NormalisePath(Key);
    return NormalisePath(Current + QLatin1Char('\\') + Key);
}

bool TRegistry::OpenKey(const QString &Key, bool CanCreate) {
    const QString path = Resolve(FCurrentKey, Key);
    if (CanCreate) {
        Modify([&](TData &d) {
            if (d.Find(path))
                return false;
            d.Create(path);
            return true;
        });
    } else {
        TData d = Load();
        if (!d.Find(path))
            return false;
    }
    FCurrentKey = path.isNull() ? QStringLiteral("") : path;
    FReadOnly = false;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const QString &Key) {
    const bool ok = OpenKey(Key, false);
    FReadOnly = ok;
    return ok;
}

void TRegistry::CloseKey() {
    FCurrentKey = QString();
    FReadOnly = false;
}

bool TRegistry::KeyExists(const QString &Key) {
    TData d = Load();
    return d.Find(Resolve(FCurrentKey, Key)) != nullptr;
}

bool TRegistry::CreateKey(const QString &Key) {
    const QString path = Resolve(FCurrentKey, Key);
    Modify([&](TData &d) {
        if (d.Find(path))
            return false;
        d.Create(path);
        return true;
    });
    return true;
}

bool TRegistry::DeleteKey(const QString &Key) {
    const QString path = Resolve(FCurrentKey, Key).toLower();
    if (path.isEmpty())
        return false;
    bool found = false;
    Modify([&](TData &d) {
        for (auto it = d.Keys.begin(); it != d.Keys.end();) {
            if (it.key() == path || it.key().startsWith(path + QLatin1Char('\\'))) {
                it = d.Keys.erase(it);
                found = true;
            } else {
                ++it;
            }
        }
        return found;
    });
    return found;
}

bool TRegistry::ValueExists(const QString &Name) {
    if (FCurrentKey.isNull())
        return false;
    TData d = Load();
    const TData::TKey *k = d.Find(FCurrentKey);
    return k && TData::IndexOf(*k, Name) >= 0;
}

bool TRegistry::DeleteValue(const QString &Name) {
    RequireKey();
    if (FReadOnly)
        throw ERegistryException(QStringLiteral("The key %1 is open for reading only").arg(FCurrentKey));
    bool found = false;
    Modify([&](TData &d) {
        TData::TKey *k = d.Find(FCurrentKey);
        const int i = k ? TData::IndexOf(*k, Name) : -1;
        if (i >= 0) {
            k->Values.removeAt(i);
            found = true;
        }
        return found;
    });
    return found;
}

TRegDataType TRegistry::GetDataType(const QString &Name) {
    if (FCurrentKey.isNull())
        return TRegDataType::rdUnknown;
    TData d = Load();
    const TData::TKey *k = d.Find(FCurrentKey);
    const int i = k ? TData::IndexOf(*k, Name) : -1;
    return i < 0 ? TRegDataType::rdUnknown : k->Values[i].Type;
}

int TRegistry::GetDataSize(const QString &Name) {
    if (FCurrentKey.isNull())
        return -1;
    TData d = Load();
    const TData::TKey *k = d.Find(FCurrentKey);
    const int i = k ? TData::IndexOf(*k, Name) : -1;
    if (i < 0)
        return -1;
    const TValue &v = k->Values[i];
    switch (v.Type) {
    case TRegDataType::rdString:
        return int(v.Text.toUtf8().size());
    case TRegDataType::rdInteger:
        return 4;
    default:
        return int(v.Bytes.size());
    }
}

QStringList TRegistry::GetValueNames() {
    QStringList names;
    if (FCurrentKey.isNull())
        return names;
    TData d = Load();
    if (const TData::TKey *k = d.Find(FCurrentKey))
        for (const TValue &v : k->Values)
            names << v.Name;
    return names;
}

QStringList TRegistry::GetKeyNames() {
    QStringList names;
    if (FCurrentKey.isNull())
        return names;
    TData d = Load();
    const QString prefix = FCurrentKey.isEmpty() ? QString() : FCurrentKey.toLower() + QLatin1Char('\\');
    for (const auto &key : d.Keys) {
        const QString lower = key.Name.toLower();
        if (key.Name.isEmpty() || !lower.startsWith(prefix))
            continue;
        const QString rest = key.Name.mid(prefix.size());
        if (!rest.contains(QLatin1Char('\\')))
            names << rest;
    }
    return names;
}

TRegistry::TValue TRegistry::ReadValue(const QString &Name, TRegDataType Wanted) {
    RequireKey();
    TData d = Load();
    const TData::TKey *k = d.Find(FCurrentKey);
    const int i = k ? TData::IndexOf(*k, Name) : -1;
    if (i < 0)
        throw ERegistryException(QStringLiteral("Failed to get data for '%1'").arg(Name));
    if (k->Values[i].Type != Wanted)
        throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(Name));
    return k->Values[i];
}

void TRegistry::WriteValue(const QString &Name, const TValue &Value) {
    RequireKey();
    if (FReadOnly)
        throw ERegistryException(QStringLiteral("The key %1 is open for reading only").arg(FCurrentKey));
    Modify([&](TData &d) {
        // The open key may have been deleted by another process; writing brings it back.
        TData::TKey &k = d.Create(FCurrentKey);
        TValue v = Value;
        v.Name = Name;
        const int i = TData::IndexOf(k, Name);
        if (i >= 0) {
            v.Name = k.Values[i].Name;
            k.Values[i] = v;
        } else {
            k.Values.append(v);
        }
        return true;
    });
}

int TRegistry::ReadInteger(const QString &Name) {
    return ReadValue(Name, TRegDataType::rdInteger).Integer;
}

QString TRegistry::ReadString(const QString &Name) {
    return ReadValue(Name, TRegDataType::rdString).Text;
}

QByteArray TRegistry::ReadBinaryData(const QString &Name) {
    return ReadValue(Name, TRegDataType::rdBinary).Bytes;
}

int TRegistry::ReadBinaryData(const QString &Name, void *Buffer, int BufSize) {
    const QByteArray bytes = ReadBinaryData(Name);
    const int n = int(std::min<qsizetype>(bytes.size(), std::max(BufSize, 0)));
    std::memcpy(Buffer, bytes.constData(), size_t(n));
    return n;
}

double TRegistry::ReadDate(const QString &Name) {
    const QByteArray bytes = ReadBinaryData(Name);
    if (bytes.size() != 8)
        throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(Name));
    const quint64 bits = qFromLittleEndian<quint64>(bytes.constData());
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void TRegistry::WriteInteger(const QString &Name, int Value) {
    TValue v;
    v.Type = TRegDataType::rdInteger;
    v.Integer = Value;
    WriteValue(Name, v);
}

void TRegistry::WriteString(const QString &Name, const QString &Value) {
    TValue v;
    v.Type = TRegDataType::rdString;
    v.Text = Value;
    WriteValue(Name, v);
}

void TRegistry::WriteBinaryData(const QString &Name, const QByteArray &Value) {
    TValue v;
    v.Type = TRegDataType::rdBinary;
    v.Bytes = Value;
    WriteValue(Name, v);
}

void TRegistry::WriteBinaryData(const QString &Name, const void *Buffer, int BufSize) {
    WriteBinaryData(Name, QByteArray(static_cast<const char *>(Buffer), std::max(BufSize, 0)));
}

void TRegistry::WriteDate(const QString &Name, double Value) {
    quint64 bits;
    std::memcpy(&bits, &Value, sizeof bits);
    char bytes[8];
    qToLittleEndian(bits, bytes);
    WriteBinaryData(Name, QByteArray(bytes, 8));
}
