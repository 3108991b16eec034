#include "config/ComponentStream.h"

#include "catalogue/Marlo.Common.MyCollection.h"

#include <QHash>
#include <QMetaProperty>
#include <QMetaType>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>
#include <zlib.h>

// ---------------------------------------------------------------------------------------------
// Tags and texts

QString ValueTypeName(quint8 Tag) {
    switch (Tag) {
    case vaNull:
        return QStringLiteral("end of list");
    case vaList:
        return QStringLiteral("list begin");
    case vaInt8:
        return QStringLiteral("8-bit integer");
    case vaInt16:
        return QStringLiteral("16-bit integer");
    case vaInt32:
        return QStringLiteral("32-bit integer");
    case vaExtended:
        return QStringLiteral("extended float");
    case vaString:
        return QStringLiteral("short string");
    case vaIdent:
        return QStringLiteral("identifier");
    case vaFalse:
        return QStringLiteral("false");
    case vaTrue:
        return QStringLiteral("true");
    case vaLString:
        return QStringLiteral("long string");
    case vaCollection:
        return QStringLiteral("collection");
    case vaWString:
        return QStringLiteral("wide string");
    case vaUTF8String:
        return QStringLiteral("UTF-8 string");
    default:
        return QStringLiteral("unknown tag");
    }
}

static QString TagText(quint8 Tag) {
    return QStringLiteral("tag %1 (%2)").arg(Tag).arg(ValueTypeName(Tag));
}

// ---------------------------------------------------------------------------------------------
// 80-bit extended precision

TExtendedBytes DoubleToExtended(double Value) {
    const auto bits = std::bit_cast<quint64>(Value);
    const quint16 sign = static_cast<quint16>((bits >> 63) << 15);
    const int exp = static_cast<int>((bits >> 52) & 0x7FF);
    const quint64 frac = bits & ((quint64(1) << 52) - 1);
    quint64 mant = 0;
    int exp80 = 0;
    if (exp == 0x7FF) { // infinity or NaN: the payload moves up with the fraction, quiet bit included
        exp80 = 0x7FFF;
        mant = (quint64(1) << 63) | (frac << 11);
    } else if (exp == 0) {
        if (frac != 0) { // subnormal double: a normal number in the wider exponent range
            const int shift = std::countl_zero(frac);
            mant = frac << shift;
            exp80 = 63 - 1074 - shift + 16383;
        }
    } else {
        exp80 = exp - 1023 + 16383;
        mant = (quint64(1) << 63) | (frac << 11);
    }
    TExtendedBytes out{};
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<quint8>(mant >> (8 * i));
    const quint16 se = sign | static_cast<quint16>(exp80);
    out[8] = static_cast<quint8>(se);
    out[9] = static_cast<quint8>(se >> 8);
    return out;
}

double ExtendedToDouble(const TExtendedBytes &Bytes) {
    quint64 mant = 0;
    for (int i = 0; i < 8; ++i)
        mant |= quint64(Bytes[i]) << (8 * i);
    const quint16 se = static_cast<quint16>(Bytes[8] | (Bytes[9] << 8));
    const quint64 sign = quint64(se >> 15) << 63;
    const int exp = se & 0x7FFF;
    if (exp == 0x7FFF) {
        const quint64 frac = mant & ~(quint64(1) << 63);
        if (frac == 0)
            return std::bit_cast<double>(sign | (quint64(0x7FF) << 52));
        // NaN: keep the top payload bits, always quiet (as the x87 store does).
        return std::bit_cast<double>(sign | (quint64(0x7FF) << 52) | (quint64(1) << 51) | (frac >> 11));
    }
    if (mant == 0)
        return std::bit_cast<double>(sign);
    // value = mant * 2^e2, with a biased exponent of 0 meaning the same scale as 1 (denormals).
    int e2 = (exp == 0 ? 1 : exp) - 16383 - 63;
    const int lz = std::countl_zero(mant);
    mant <<= lz;
    e2 -= lz;
    const int top = e2 + 63; // exponent of the leading bit
    if (top > 1023)
        return std::bit_cast<double>(sign | (quint64(0x7FF) << 52));
    if (top >= -1022) {
        quint64 keep = mant >> 11;
        const quint64 rest = mant & 0x7FF;
        int biased = top + 1023;
        if (rest > 0x400 || (rest == 0x400 && (keep & 1)))
            ++keep;
        if (keep == (quint64(1) << 53)) {
            keep >>= 1;
            ++biased;
            if (biased >= 0x7FF)
                return std::bit_cast<double>(sign | (quint64(0x7FF) << 52));
        }
        return std::bit_cast<double>(sign | (quint64(biased) << 52) | (keep & ((quint64(1) << 52) - 1)));
    }
    // Subnormal result: count in units of 2^-1074.
    const int shift = -(e2 + 1074); // > 11 here
    if (shift >= 128)
        return std::bit_cast<double>(sign);
    const unsigned __int128 wide = static_cast<unsigned __int128>(mant);
    const unsigned __int128 keep128 = wide >> shift;
    const unsigned __int128 rest = wide & ((static_cast<unsigned __int128>(1) << shift) - 1);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    quint64 keep = static_cast<quint64>(keep128);
    if (rest > half || (rest == half && (keep & 1)))
        ++keep; // reaching 2^52 is exactly the smallest normal number: the carry sets the exponent
    return std::bit_cast<double>(sign | keep);
}

TValueType StringValueType(QStringView Text) {
    const qsizetype units = Text.size();
    // UTF-8 length without building it: 1 byte per ASCII unit, 2 below U+0800, a surrogate pair 4
    // (2 per unit), a lone surrogate 3 (written as U+FFFD), anything else 3.
    qsizetype bytes = 0;
    bool ascii = true;
    for (qsizetype i = 0; i < units; ++i) {
        const char16_t c = Text[i].unicode();
        if (c < 0x80) {
            bytes += 1;
        } else {
            ascii = false;
            if (c < 0x800)
                bytes += 2;
            else if (QChar::isHighSurrogate(c) && i + 1 < units && QChar::isLowSurrogate(Text[i + 1].unicode())) {
                bytes += 4;
                ++i;
            } else
                bytes += 3;
        }
    }
    if (bytes < 2 * units) {
        if (!ascii)
            return vaUTF8String;
        return bytes > 255 ? vaLString : vaString;
    }
    return vaWString;
}
// ---------------------------------------------------------------------------------------------
// Writer

void TStreamWriter::Expand(qsizetype Count) {
    const qsizetype want = std::max<qsizetype>({FLen + Count, FOut.size() * 2, 256});
    FOut.resize(want);
    FData = FOut.data();
}

void TStreamWriter::AppendLE(quint64 Value, int Bytes) {
    char *d = Grow(Bytes);
    for (int i = 0; i < Bytes; ++i)
        d[i] = static_cast<char>(Value >> (8 * i));
}

void TStreamWriter::WriteSignature() {
    std::memcpy(Grow(4), "TPF0", 4);
}

void TStreamWriter::WriteShortString(QByteArrayView Bytes) {
    if (Bytes.size() > 255)
        throw EWriteError(QStringLiteral("the name '%1' is longer than 255 bytes")
                              .arg(QString::fromUtf8(Bytes.data(), Bytes.size())));
    char *d = Grow(1 + Bytes.size());
    d[0] = static_cast<char>(Bytes.size());
    std::memcpy(d + 1, Bytes.data(), static_cast<size_t>(Bytes.size()));
}

void TStreamWriter::WriteInteger(qint32 Value) {
    if (Value >= -128 && Value <= 127) {
        WriteValueType(vaInt8);
        AppendLE(static_cast<quint8>(Value), 1);
    } else if (Value >= -32768 && Value <= 32767) {
        WriteValueType(vaInt16);
        AppendLE(static_cast<quint16>(Value), 2);
    } else {
        WriteValueType(vaInt32);
        AppendLE(static_cast<quint32>(Value), 4);
    }
}

void TStreamWriter::WriteFloat(double Value) {
    char *d = Grow(11);
    d[0] = static_cast<char>(vaExtended);
    const TExtendedBytes e = DoubleToExtended(Value);
    std::memcpy(d + 1, e.data(), 10);
}

void TStreamWriter::WriteString(QStringView Text) {
    const TValueType tag = StringValueType(Text);
    WriteValueType(tag);
    switch (tag) {
    case vaString: {
        char *d = Grow(1 + Text.size());
        *d++ = static_cast<char>(Text.size());
        for (QChar c : Text)
            *d++ = static_cast<char>(c.unicode());
        break;
    }
    case vaLString:
    case vaUTF8String: {
        const QByteArray u = Text.toUtf8();
        AppendLE(static_cast<quint32>(u.size()), 4);
        std::memcpy(Grow(u.size()), u.constData(), static_cast<size_t>(u.size()));
        break;
    }
    default: { // vaWString
        AppendLE(static_cast<quint32>(Text.size()), 4);
        char *d = Grow(2 * Text.size());
        for (QChar c : Text) {
            *d++ = static_cast<char>(c.unicode() & 0xFF);
            *d++ = static_cast<char>(c.unicode() >> 8);
        }
        break;
    }
    }
}

void TStreamWriter::WriteIdent(QByteArrayView Name) {
    WriteValueType(vaIdent);
    WriteShortString(Name);
}

// ---------------------------------------------------------------------------------------------
// Reader

void TStreamReader::Fail(const QString &Msg, qsizetype At) const {
    throw EReadError(QStringLiteral("%1 (at byte %2 of the stream)").arg(Msg).arg(At), At);
}

void TStreamReader::Truncated(const char *What) const {
    Fail(QStringLiteral("the stream ends too early (truncated) while reading %1").arg(QLatin1String(What)), FPos);
}

quint64 TStreamReader::ReadLE(int Bytes, const char *What) {
    const QByteArrayView v = Take(Bytes, What);
    quint64 r = 0;
    for (int i = 0; i < Bytes; ++i)
        r |= quint64(static_cast<quint8>(v[i])) << (8 * i);
    return r;
}

void TStreamReader::ReadSignature() {
    if (FBytes.size() - FPos < 4 || FBytes.sliced(FPos, 4) != QByteArrayView("TPF0"))
        Fail(QStringLiteral("no signature \"TPF0\" at the start"), FPos);
    FPos += 4;
}

qint32 TStreamReader::ReadIntegerData(quint8 Tag) {
    switch (Tag) {
    case vaInt8:
        return static_cast<qint8>(ReadLE(1, "an 8-bit integer"));
    case vaInt16:
        return static_cast<qint16>(ReadLE(2, "a 16-bit integer"));
    case vaInt32:
        return static_cast<qint32>(ReadLE(4, "a 32-bit integer"));
    default:
        Fail(QStringLiteral("%1 is not an integer").arg(TagText(Tag)), FPos - 1);
    }
}

double TStreamReader::ReadExtendedData() {
    const QByteArrayView v = Take(10, "an extended float");
    TExtendedBytes e;
    std::memcpy(e.data(), v.data(), 10);
    return ExtendedToDouble(e);
}

QString TStreamReader::ReadStringData(quint8 Tag) {
    switch (Tag) {
    case vaString: {
        const QByteArrayView v = ReadShortString("a short string");
        return QString::fromUtf8(v);
    }
    case vaLString:
    case vaUTF8String: {
        const auto len = static_cast<qsizetype>(ReadLE(4, "a string length"));
        return QString::fromUtf8(Take(len, "a string"));
    }
    case vaWString: {
        const auto count = static_cast<qsizetype>(ReadLE(4, "a wide string length"));
        // Checked before the string is made: fewer bytes left than the count claims is an early end.
        const QByteArrayView v = Take(count > (FBytes.size() - FPos) / 2 ? -1 : 2 * count, "a wide string");
        QString s(count, Qt::Uninitialized);
        char16_t *d = reinterpret_cast<char16_t *>(s.data());
        for (qsizetype i = 0; i < count; ++i)
            d[i] = static_cast<char16_t>(static_cast<quint8>(v[2 * i]) | (static_cast<quint8>(v[2 * i + 1]) << 8));
        return s;
    }
    default:
        Fail(QStringLiteral("%1 is not a text").arg(TagText(Tag)), FPos - 1);
    }
}

// ---------------------------------------------------------------------------------------------
// Meta-object side

namespace {

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "enumeration values are passed in the low bytes of a quint64");

enum class TKind { Unsupported, Boolean, Integer, Enum, Float, String, StringList, Object };

/// One published property with what the stream needs to know about it, looked up once per class.
struct TPropInfo {
    QByteArray Name;
    QMetaProperty Prop;
    TKind Kind = TKind::Unsupported;
    bool Stored = false;   // written to the stream (readable, STORED true; writable unless an object)
    bool Writable = false; // may be set from the stream
    bool IsFloat = false;  // a float rather than a double property
    // Enumerations: the names and values, and the storage of the enumeration type.
    std::vector<std::pair<QByteArray, int>> Keys;
    QByteArray EnumName;
    int EnumSize = 4;
    bool EnumUnsigned = false;
    // Gadget properties are read and written through the class's static meta-call with typed values,
    // the call QMetaProperty::readOnGadget/writeOnGadget make after wrapping the value in a QVariant.
    QMetaObject::Data::StaticMetacallFunction Call = nullptr;
    int Relative = -1;

    const char *KeyOf(qint64 Value) const {
        for (const auto &k : Keys)
            if (k.second == Value)
                return k.first.constData();
        return nullptr;
    }
    bool ValueOf(QByteArrayView Key, int &Value) const {
        for (const auto &k : Keys)
            if (k.first.size() == Key.size() && std::memcmp(k.first.constData(), Key.data(), Key.size()) == 0) {
                Value = k.second;
                return true;
            }
        return false;
    }
};

TKind KindOf(const QMetaProperty &p) {
    if (p.isEnumType())
        return p.isFlagType() ? TKind::Unsupported : TKind::Enum;
    const QMetaType t = p.metaType();
    switch (t.id()) {
    case QMetaType::Bool:
        return TKind::Boolean;
    case QMetaType::Int:
        return TKind::Integer;
    case QMetaType::Double:
    case QMetaType::Float:
        return TKind::Float;
    case QMetaType::QString:
        return TKind::String;
    case QMetaType::QStringList:
        return TKind::StringList;
    default:
        break;
    }
    if (t.flags() & QMetaType::PointerToQObject)
        return TKind::Object;
    return TKind::Unsupported;
}

/// The published properties of one class, in declaration order, with a name lookup that first tries
/// the property after the last one found (files list them in that order).
struct TClassInfo {
    std::vector<TPropInfo> Props;
    QHash<QByteArray, int> ByName;

    TClassInfo(const QMetaObject *Meta, bool IsQObject) {
        const int first = IsQObject ? QObject::staticMetaObject.propertyCount() : 0;
        for (int i = first; i < Meta->propertyCount(); ++i) {
            TPropInfo info;
            info.Prop = Meta->property(i);
            info.Name = QByteArray(info.Prop.name());
            info.Kind = KindOf(info.Prop);
            info.Writable = info.Prop.isWritable();
            info.Stored =
                info.Prop.isReadable() && info.Prop.isStored() && (info.Writable || info.Kind == TKind::Object);
            info.IsFloat = info.Prop.metaType().id() == QMetaType::Float;
            if (info.Kind == TKind::Enum) {
                const QMetaEnum e = info.Prop.enumerator();
                for (int k = 0; k < e.keyCount(); ++k)
                    info.Keys.emplace_back(QByteArray(e.key(k)), e.value(k));
                info.EnumName = QByteArray(e.name());
                info.EnumSize = static_cast<int>(info.Prop.metaType().sizeOf());
                info.EnumUnsigned = info.Prop.metaType().flags() & QMetaType::IsUnsignedEnumeration;
                if (info.EnumSize != 1 && info.EnumSize != 2 && info.EnumSize != 4 && info.EnumSize != 8)
                    info.Kind = TKind::Unsupported;
            }
            if (!IsQObject && info.Kind != TKind::Object) {
                const QMetaObject *owner = info.Prop.enclosingMetaObject();
                info.Call = owner ? owner->d.static_metacall : nullptr;
                info.Relative = info.Prop.relativePropertyIndex();
            }
            ByName.insert(info.Name, static_cast<int>(Props.size()));
            Props.push_back(std::move(info));
        }
    }

    static bool Same(const QByteArray &A, QByteArrayView B) {
        return A.size() == B.size() && std::memcmp(A.constData(), B.data(), static_cast<size_t>(B.size())) == 0;
    }

    const TPropInfo *Find(QByteArrayView Name, int &Hint) const {
        const int next = Hint + 1;
        if (next >= 0 && next < static_cast<int>(Props.size()) && Same(Props[next].Name, Name)) {
            Hint = next;
            return &Props[next];
        }
        const auto it = ByName.constFind(QByteArray::fromRawData(Name.data(), Name.size()));
        if (it == ByName.cend())
            return nullptr;
        Hint = *it;
        return &Props[*it];
    }
};

class TClassCache {
public:
    const TClassInfo &Get(const QMetaObject *Meta, bool IsQObject) {
        if (Meta == FLastMeta)
            return *FLast;
        auto it = FInfos.find(Meta);
        if (it == FInfos.end())
            it = FInfos.emplace(Meta, std::make_unique<TClassInfo>(Meta, IsQObject)).first;
        FLastMeta = Meta;
        FLast = it->second.get();
        return *FLast;
    }

private:
    std::unordered_map<const QMetaObject *, std::unique_ptr<TClassInfo>> FInfos;
    const QMetaObject *FLastMeta = nullptr;
    const TClassInfo *FLast = nullptr;
};

QObject *ObjectFromVariant(const QVariant &V) {
    if (!V.isValid() || !(V.metaType().flags() & QMetaType::PointerToQObject))
        return nullptr;
    return *static_cast<QObject *const *>(V.constData());
}

qint64 EnumFromStorage(const TPropInfo &P, quint64 Raw) {
    switch (P.EnumSize) {
    case 1:
        return P.EnumUnsigned ? qint64(quint8(Raw)) : qint64(qint8(Raw));
    case 2:
        return P.EnumUnsigned ? qint64(quint16(Raw)) : qint64(qint16(Raw));
    case 4:
        return P.EnumUnsigned ? qint64(quint32(Raw)) : qint64(qint32(Raw));
    default:
        return qint64(Raw);
    }
}

QString NameText(QByteArrayView Name) {
    return QString::fromUtf8(Name.data(), Name.size());
}

/// A property value in typed form: what the stream reads and writes, on objects and gadgets alike.
struct TValue {
    bool B = false;
    int I = 0;
    double D = 0;
    QString S;
    QStringList L;
    quint64 E = 0; // enumeration value in the low bytes
};

/// Where a property of P's kind lives in V (a float property goes through F); null for other kinds.
void *ValueSlot(const TPropInfo &P, TValue &V, float &F) {
    switch (P.Kind) {
    case TKind::Boolean:
        return &V.B;
    case TKind::Integer:
        return &V.I;
    case TKind::Float:
        return P.IsFloat ? static_cast<void *>(&F) : &V.D;
    case TKind::String:
        return &V.S;
    case TKind::StringList:
        return &V.L;
    case TKind::Enum:
        return &V.E;
    default:
        return nullptr;
    }
}

/// Reads a value property of an object (IsGadget false) or of a gadget.
void ReadProp(const TPropInfo &P, const void *Target, bool IsGadget, TValue &V) {
    if (IsGadget && P.Call) {
        float f = 0;
        V.E = 0;
        if (void *data = ValueSlot(P, V, f)) {
            int status = -1;
            void *argv[] = {data, nullptr, &status};
            P.Call(reinterpret_cast<QObject *>(const_cast<void *>(Target)), QMetaObject::ReadProperty, P.Relative,
                   argv);
            if (P.IsFloat)
                V.D = f;
            return;
        }
    }
    const QVariant v = IsGadget ? P.Prop.readOnGadget(Target) : P.Prop.read(static_cast<const QObject *>(Target));
    const void *d = v.constData();
    switch (P.Kind) {
    case TKind::Boolean:
        V.B = *static_cast<const bool *>(d);
        break;
    case TKind::Integer:
        V.I = *static_cast<const int *>(d);
        break;
    case TKind::Float:
        V.D = P.IsFloat ? *static_cast<const float *>(d) : *static_cast<const double *>(d);
        break;
    case TKind::String:
        V.S = *static_cast<const QString *>(d);
        break;
    case TKind::StringList:
        V.L = *static_cast<const QStringList *>(d);
        break;
    case TKind::Enum:
        V.E = 0;
        std::memcpy(&V.E, d, static_cast<size_t>(P.EnumSize));
        break;
    default:
        break;
    }
}

/// Sets a value property; false when the property refused it.
bool WriteProp(const TPropInfo &P, void *Target, bool IsGadget, TValue &V) {
    float f = static_cast<float>(V.D);
    void *data = ValueSlot(P, V, f);
    if (!data)
        return false;
    if (IsGadget && P.Call) {
        int status = -1;
        int flags = 0;
        void *argv[] = {data, nullptr, &status, &flags}; // moc's gadget code reads only argv[0]
        P.Call(reinterpret_cast<QObject *>(Target), QMetaObject::WriteProperty, P.Relative, argv);
        return true;
    }
    const QVariant v(P.Prop.metaType(), data);
    return IsGadget ? P.Prop.writeOnGadget(Target, v) : P.Prop.write(static_cast<QObject *>(Target), v);
}

// ---- writing ----

class TComponentWriter {
public:
    explicit TComponentWriter(QByteArray &Out) : W(Out) {}

    void WriteObject(const QObject &Obj, const QByteArray &Prefix) {
        const TClassInfo &info = Cache.Get(Obj.metaObject(), true);
        for (const TPropInfo &p : info.Props) {
            if (!p.Stored)
                continue;
            if (p.Kind == TKind::Object) {
                const QObject *sub = ObjectFromVariant(p.Prop.read(&Obj));
                if (!sub)
                    continue;
                const QByteArray name = Prefix + p.Name;
                WriteObject(*sub, name + '.');
                if (const auto *coll = qobject_cast<const TMyCollection *>(sub)) {
                    W.WritePropName(name);
                    WriteCollection(*coll);
                }
                continue;
            }
            ReadProp(p, &Obj, false, Value);
            WriteValue(Prefix.isEmpty() ? p.Name : Prefix + p.Name, p);
        }
    }

    void WriteCollection(const TMyCollection &Coll) {
        W.WriteValueType(vaCollection);
        for (int i = 0; i < Coll.Count(); ++i) {
            const TMyCollectionItem *item = Coll.Item(i);
            const void *gadget = dynamic_cast<const void *>(item);
            const TClassInfo &info = Cache.Get(item->GadgetMetaObject(), false);
            W.WriteListBegin();
            for (const TPropInfo &p : info.Props) {
                if (!p.Stored)
                    continue;
                if (p.Kind == TKind::Object)
                    throw EWriteError(QStringLiteral("the item property '%1' is an object").arg(NameText(p.Name)));
                ReadProp(p, gadget, true, Value);
                WriteValue(p.Name, p);
            }
            W.WriteListEnd();
        }
        W.WriteListEnd();
    }

    /// Writes the record of Value by the file's rules (Booleans, integers and enumerations always,
    /// texts and lists when not empty, floats when not zero).
    void WriteValue(const QByteArray &Name, const TPropInfo &P) {
        switch (P.Kind) {
        case TKind::Boolean:
            W.WritePropName(Name);
            W.WriteBoolean(Value.B);
            return;
        case TKind::Integer:
            W.WritePropName(Name);
            W.WriteInteger(Value.I);
            return;
        case TKind::Enum: {
            const qint64 v = EnumFromStorage(P, Value.E);
            const char *key = P.KeyOf(v);
            if (!key)
                throw EWriteError(QStringLiteral("property '%1' holds %2, which is no value of %3")
                                      .arg(NameText(Name))
                                      .arg(v)
                                      .arg(QLatin1String(P.EnumName)));
            W.WritePropName(Name);
            W.WriteIdent(QByteArrayView(key));
            return;
        }
        case TKind::Float:
            if (Value.D == 0)
                return;
            W.WritePropName(Name);
            W.WriteFloat(Value.D);
            return;
        case TKind::String:
            if (Value.S.isEmpty())
                return;
            W.WritePropName(Name);
            W.WriteString(Value.S);
            return;
        case TKind::StringList:
            if (Value.L.isEmpty())
                return;
            W.WritePropName(Name);
            W.WriteListBegin();
            for (const QString &s : std::as_const(Value.L))
                W.WriteString(s);
            W.WriteListEnd();
            return;
        default:
            throw EWriteError(QStringLiteral("property '%1' has the type %2, which the configuration file cannot hold")
                                  .arg(NameText(Name))
                                  .arg(QLatin1String(P.Prop.typeName())));
        }
    }

    TStreamWriter W;
    TClassCache Cache;
    TValue Value;
};

// ---- reading ----

class TComponentReader {
public:
    explicit TComponentReader(QByteArrayView Bytes) : R(Bytes) {}

    void ReadRoot(QObject &Root) {
        R.ReadSignature();
        R.ReadShortString("the class name");
        R.ReadShortString("the object name");
        ReadProperties(Root);
        const qsizetype at = R.Position();
        const quint8 t = R.ReadValueType("the end of the child objects");
        if (t != vaNull)
            R.Fail(QStringLiteral("child objects are not supported (found %1 after the properties)").arg(TagText(t)),
                   at);
    }

    void ReadProperties(QObject &Root) {
        int rootHint = -1;
        for (;;) {
            const qsizetype at = R.Position();
            const QByteArrayView name = R.ReadShortString("a property name");
            if (name.isEmpty())
                return;
            QObject *target = &Root;
            QByteArrayView rest = name;
            const TPropInfo *p = nullptr;
            int hint = -1;
            int *hintRef = &rootHint;
            for (;;) {
                const qsizetype dot = rest.indexOf('.');
                const QByteArrayView part = dot < 0 ? rest : rest.first(dot);
                p = Cache.Get(target->metaObject(), true).Find(part, *hintRef);
                if (!p)
                    R.Fail(QStringLiteral("unknown property '%1'").arg(NameText(name)), at);
                if (dot < 0)
                    break;
                // A dotted name first resolves the sub-object, then sets its property.
                QObject *sub = p->Kind == TKind::Object ? ObjectFromVariant(p->Prop.read(target)) : nullptr;
                if (!sub)
                    R.Fail(
                        QStringLiteral("unknown property '%1' ('%2' is no object)").arg(NameText(name), NameText(part)),
                        at);
                target = sub;
                rest = rest.sliced(dot + 1);
                hint = -1;
                hintRef = &hint;
            }
            if (p->Kind == TKind::Object) {
                auto *coll = qobject_cast<TMyCollection *>(ObjectFromVariant(p->Prop.read(target)));
                const qsizetype vat = R.Position();
                const quint8 tag = R.ReadValueType("a value");
                if (!coll)
                    R.Fail(QStringLiteral("'%1' is an object: the file must name its properties ('%1.Name'), "
                                          "but holds %2 for it")
                               .arg(NameText(name), TagText(tag)),
                           vat);
                if (tag != vaCollection)
                    WrongKind(name, "a collection (tag 14)", tag, vat);
                ReadCollection(*coll, name);
                continue;
            }
            ReadValue(*p, name);
            if (!p->Writable || !WriteProp(*p, target, false, Value))
                R.Fail(QStringLiteral("property '%1' cannot be set").arg(NameText(name)), at);
        }
    }

    void ReadCollection(TMyCollection &Coll, QByteArrayView Name) {
        bool cleared = false;
        for (;;) {
            qsizetype at = R.Position();
            quint8 tag = R.ReadValueType("a collection item");
            if (tag == vaNull)
                return;
            if (tag == vaInt8 || tag == vaInt16 || tag == vaInt32) { // an item index: skipped
                R.ReadIntegerData(tag);
                at = R.Position();
                tag = R.ReadValueType("a collection item");
            }
            if (tag != vaList)
                R.Fail(QStringLiteral("collection '%1' holds %2 where an item (tag 1) belongs")
                           .arg(NameText(Name), TagText(tag)),
                       at);
            // A collection value with at least one item replaces the records; an empty one leaves them.
            if (!cleared) {
                Coll.Clear();
                cleared = true;
            }
            TMyCollectionItem *item = Coll.AddItem();
            void *gadget = dynamic_cast<void *>(item);
            const TClassInfo &info = Cache.Get(item->GadgetMetaObject(), false);
            int hint = -1;
            for (;;) {
                const qsizetype pat = R.Position();
                const QByteArrayView pname = R.ReadShortString("an item property name");
                if (pname.isEmpty())
                    break;
                const TPropInfo *p = info.Find(pname, hint);
                if (!p || p->Kind == TKind::Object)
                    R.Fail(
                        QStringLiteral("unknown property '%1' in an item of '%2'").arg(NameText(pname), NameText(Name)),
                        pat);
                ReadValue(*p, pname);
                if (!p->Writable || !WriteProp(*p, gadget, true, Value))
                    R.Fail(QStringLiteral("property '%1' of an item of '%2' cannot be set")
                               .arg(NameText(pname), NameText(Name)),
                           pat);
            }
        }
    }

    [[noreturn]] void WrongKind(QByteArrayView Name, const char *Wanted, quint8 Tag, qsizetype At) {
        R.Fail(QStringLiteral("property '%1' wants %2, but the file holds %3")
                   .arg(NameText(Name), QLatin1String(Wanted), TagText(Tag)),
               At);
    }

    /// Reads the value of property P into Value, accepting every tag of its kind.
    void ReadValue(const TPropInfo &P, QByteArrayView Name) {
        const qsizetype at = R.Position();
        const quint8 tag = R.ReadValueType("a value");
        switch (P.Kind) {
        case TKind::Boolean:
            if (tag != vaFalse && tag != vaTrue)
                WrongKind(Name, "a Boolean (tag 8 or 9)", tag, at);
            Value.B = tag == vaTrue;
            return;
        case TKind::Integer:
            if (tag != vaInt8 && tag != vaInt16 && tag != vaInt32)
                WrongKind(Name, "an integer (tag 2, 3 or 4)", tag, at);
            Value.I = R.ReadIntegerData(tag);
            return;
        case TKind::Float:
            if (tag == vaExtended)
                Value.D = R.ReadExtendedData();
            else if (tag == vaInt8 || tag == vaInt16 || tag == vaInt32)
                Value.D = R.ReadIntegerData(tag);
            else
                WrongKind(Name, "a number (tag 5, 2, 3 or 4)", tag, at);
            return;
        case TKind::String:
            if (tag != vaString && tag != vaLString && tag != vaWString && tag != vaUTF8String)
                WrongKind(Name, "a text (tag 6, 12, 18 or 20)", tag, at);
            Value.S = R.ReadStringData(tag);
            return;
        case TKind::Enum: {
            if (tag != vaIdent)
                WrongKind(Name, "an identifier (tag 7)", tag, at);
            const QByteArrayView ident = R.ReadIdentData();
            int v = 0;
            if (!P.ValueOf(ident, v))
                R.Fail(QStringLiteral("'%1' is not a value of %2 (property '%3')")
                           .arg(NameText(ident), QLatin1String(P.EnumName), NameText(Name)),
                       at + 1);
            Value.E = static_cast<quint64>(static_cast<qint64>(v));
            return;
        }
        case TKind::StringList: {
            if (tag != vaList)
                WrongKind(Name, "a list of texts (tag 1)", tag, at);
            Value.L.clear();
            for (;;) {
                const qsizetype lat = R.Position();
                const quint8 t = R.ReadValueType("a line of a list");
                if (t == vaNull)
                    break;
                if (t != vaString && t != vaLString && t != vaWString && t != vaUTF8String)
                    WrongKind(Name, "a text (tag 6, 12, 18 or 20) as a line", t, lat);
                Value.L.append(R.ReadStringData(t));
            }
            return;
        }
        default:
            R.Fail(QStringLiteral("property '%1' has a type the configuration file cannot hold").arg(NameText(Name)),
                   at);
        }
    }

    TStreamReader R;
    TClassCache Cache;
    TValue Value;
};

void CopyObject(const QObject &Source, QObject &Dest, TClassCache &Cache) {
    if (Source.metaObject() != Dest.metaObject())
        throw EAssignError(
            QStringLiteral("Cannot assign a %1 to a %2")
                .arg(QLatin1String(Source.metaObject()->className()), QLatin1String(Dest.metaObject()->className())));
    const TClassInfo &info = Cache.Get(Source.metaObject(), true);
    for (const TPropInfo &p : info.Props) {
        if (!p.Stored)
            continue;
        if (p.Kind == TKind::Object) {
            const QObject *s = ObjectFromVariant(p.Prop.read(&Source));
            QObject *d = ObjectFromVariant(p.Prop.read(&Dest));
            if (!s || !d || s == d)
                continue;
            CopyObject(*s, *d, Cache);
            if (const auto *sc = qobject_cast<const TMyCollection *>(s))
                static_cast<TMyCollection *>(d)->Assign(*sc);
            continue;
        }
        p.Prop.write(&Dest, p.Prop.read(&Source));
    }
}

} // namespace

QByteArray WriteComponent(const QObject &Root) {
    QByteArray out;
    {
        TComponentWriter w(out); // gives `out` its final size when it goes
        w.W.WriteSignature();
        w.W.WriteShortString(QByteArrayView(Root.metaObject()->className()));
        w.W.WriteShortString(Root.objectName().toUtf8());
        w.WriteObject(Root, QByteArray());
        w.W.WriteListEnd(); // end of properties
        w.W.WriteListEnd(); // end of child objects
    }
    return out;
}

void ReadComponent(QByteArrayView Stream, QObject &Root) {
    TComponentReader r(Stream);
    r.ReadRoot(Root);
}

void CopyPublishedProperties(const QObject &Source, QObject &Dest) {
    TClassCache cache;
    CopyObject(Source, Dest, cache);
}

// ---------------------------------------------------------------------------------------------
// zlib

namespace {

/// One slice of a parallel deflate: raw deflate of Data[Begin, End) primed with the 32 KB before it,
/// ending on a byte boundary (sync flush) or, for the last slice, with the final block.
QByteArray DeflateSlice(QByteArrayView Data, qsizetype Begin, qsizetype End, int Level, bool Last) {
    z_stream s{};
    if (deflateInit2(&s, Level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw EWriteError(QStringLiteral("zlib cannot start compressing"));
    struct TEnd {
        z_stream *S;
        ~TEnd() { deflateEnd(S); }
    } end{&s};
    if (Begin > 0) {
        const qsizetype dict = std::min<qsizetype>(Begin, 32768);
        deflateSetDictionary(&s, reinterpret_cast<const Bytef *>(Data.data() + Begin - dict), static_cast<uInt>(dict));
    }
    QByteArray out(static_cast<qsizetype>(deflateBound(&s, static_cast<uLong>(End - Begin))) + 16, Qt::Uninitialized);
    s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Data.data() + Begin));
    s.avail_in = static_cast<uInt>(End - Begin);
    qsizetype used = 0;
    for (;;) {
        if (used == out.size())
            out.resize(out.size() * 2);
        s.next_out = reinterpret_cast<Bytef *>(out.data() + used);
        s.avail_out = static_cast<uInt>(out.size() - used);
        const int rc = deflate(&s, Last ? Z_FINISH : Z_SYNC_FLUSH);
        used = out.size() - s.avail_out;
        if (rc == Z_STREAM_END || (!Last && rc == Z_OK && s.avail_in == 0 && s.avail_out > 0))
            break;
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            throw EWriteError(QStringLiteral("zlib compression failed (%1)").arg(rc));
    }
    out.truncate(used);
    return out;
}

} // namespace

QByteArray ZCompress(QByteArrayView Data, int Level) {
    // Up to one slice: zlib's own one-shot compression. Larger data is deflated in slices of 1 MiB on
    // all cores, each slice primed with the 32 KB before it, and joined into one zlib stream (the way
    // pigz does it): the same format and level, about the same size, and the same bytes whatever the
    // number of threads, since the slices are fixed.
    constexpr qsizetype kSlice = qsizetype(1) << 20;
    if (Data.size() <= kSlice) {
        uLongf len = compressBound(static_cast<uLong>(Data.size()));
        QByteArray out(static_cast<qsizetype>(len), Qt::Uninitialized);
        const int rc = compress2(reinterpret_cast<Bytef *>(out.data()), &len,
                                 reinterpret_cast<const Bytef *>(Data.data()), static_cast<uLong>(Data.size()), Level);
        if (rc != Z_OK)
            throw EWriteError(QStringLiteral("zlib compression failed (%1)").arg(QLatin1String(zError(rc))));
        out.truncate(static_cast<qsizetype>(len));
        return out;
    }
    const int slices = static_cast<int>((Data.size() + kSlice - 1) / kSlice);
    std::vector<QByteArray> parts(static_cast<size_t>(slices));
    std::vector<uLong> sums(static_cast<size_t>(slices));
    std::atomic<int> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    auto work = [&] {
        for (int i = next++; i < slices; i = next++) {
            const qsizetype begin = i * kSlice;
            const qsizetype end = std::min<qsizetype>(begin + kSlice, Data.size());
            try {
                parts[static_cast<size_t>(i)] = DeflateSlice(Data, begin, end, Level, i + 1 == slices);
                sums[static_cast<size_t>(i)] =
                    adler32(1, reinterpret_cast<const Bytef *>(Data.data() + begin), static_cast<uInt>(end - begin));
            } catch (...) {
                std::lock_guard<std::mutex> g(failureLock);
                failure = std::current_exception();
                next = slices;
            }
        }
    };
    const int threads = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, std::min(slices, 8));
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t)
        helpers.emplace_back(work);
    work();
    for (auto &h : helpers)
        h.join();
    if (failure)
        std::rethrow_exception(failure);

    // The zlib header as zlib writes it: deflate with a 32 KB window, the level's FLEVEL, no dictionary.
    const int flevel = Level < 0 ? 2 : Level < 2 ? 0 : Level < 6 ? 1 : Level == 6 ? 2 : 3;
    const int cmf = 0x78;
    int flg = flevel << 6;
    flg += 31 - (cmf * 256 + flg) % 31;
    qsizetype total = 6;
    for (const QByteArray &p : parts)
        total += p.size();
    QByteArray out;
    out.reserve(total);
    out.append(static_cast<char>(cmf));
    out.append(static_cast<char>(flg));
    uLong sum = sums[0];
    for (int i = 0; i < slices; ++i) {
        out.append(parts[static_cast<size_t>(i)]);
        if (i > 0) {
            const qsizetype len = std::min<qsizetype>(kSlice, Data.size() - i * kSlice);
            sum = adler32_combine(sum, sums[static_cast<size_t>(i)], static_cast<z_off_t>(len));
        }
    }
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(static_cast<char>((sum >> shift) & 0xFF));
    return out;
}

QByteArray ZDecompress(QByteArrayView Data, qsizetype MaxSize) {
    if (Data.isEmpty())
        throw EReadError(QStringLiteral("not a zlib stream (the file is empty)"), 0);
    z_stream s{};
    if (inflateInit(&s) != Z_OK)
        throw EReadError(QStringLiteral("zlib cannot start inflating"));
    struct TEnd {
        z_stream *S;
        ~TEnd() { inflateEnd(S); }
    } end{&s};

    // One byte more than allowed, so content of exactly MaxSize bytes still ends inside the buffer.
    const qsizetype limit = MaxSize + 1;
    QByteArray out;
    qsizetype cap = std::min<qsizetype>(limit, std::max<qsizetype>(64 * 1024, Data.size() * 8));
    out.resize(cap);
    qsizetype inPos = 0;
    qsizetype outPos = 0;
    for (;;) {
        const qsizetype inChunk = std::min<qsizetype>(Data.size() - inPos, 1 << 30);
        s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Data.data() + inPos));
        s.avail_in = static_cast<uInt>(inChunk);
        const qsizetype outChunk = std::min<qsizetype>(cap - outPos, 1 << 30);
        s.next_out = reinterpret_cast<Bytef *>(out.data() + outPos);
        s.avail_out = static_cast<uInt>(outChunk);
        const int rc = inflate(&s, Z_NO_FLUSH);
        inPos += inChunk - s.avail_in;
        outPos += outChunk - s.avail_out;
        if (rc == Z_STREAM_END)
            break;
        if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR) {
            const QString why = QLatin1String(s.msg ? s.msg : "bad data");
            if (s.total_out == 0 && s.total_in <= 2)
                throw EReadError(QStringLiteral("not a zlib stream (%1)").arg(why), 0);
            throw EReadError(QStringLiteral("the compressed data is damaged (%1)").arg(why));
        }
        if (rc == Z_MEM_ERROR)
            throw EReadError(QStringLiteral("not enough memory to inflate the file"));
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            throw EReadError(QStringLiteral("zlib error %1").arg(rc));
        if (outPos == cap) {
            if (cap >= limit)
                throw EReadError(QStringLiteral("the inflated content is larger than %1 bytes").arg(MaxSize));
            cap = cap > limit / 2 ? limit : cap * 2;
            out.resize(cap);
        } else if (inPos == Data.size()) {
            throw EReadError(QStringLiteral("the compressed data ends too early (truncated)"));
        }
    }
    out.truncate(outPos);
    return out;
}
