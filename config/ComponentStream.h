#pragma once
// The component stream: our stand-in for the platform's streaming of published properties, the
// self-describing list of named, typed values inside "config.cfg".
//
// Everything here works on bytes in memory and does no I/O, so it can be tested byte for byte and
// fuzzed. The object side is driven by the Qt meta-object alone: a QObject's Q_PROPERTYs in
// declaration order (base classes first, QObject's own objectName left out), Q_ENUM names as
// identifiers, sub-objects (QObject-pointer properties) written with dotted names, and the items of a
// TMyCollection through their gadget's GadgetMetaObject(). A new published property therefore needs
// no serialisation code.

#include "platform/SysUtils.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QStringView>
#include <array>

/// A stream that cannot be read: not zlib, no signature, unknown property, wrong kind of value,
/// unknown tag, or an early end. The message says what was wrong and where (byte offset).
class EReadError : public Exception {
public:
    EReadError(const QString &Msg, qsizetype Offset = -1) : Exception(Msg), FOffset(Offset) {}
    /// Offset in the inflated stream where the fault was found; -1 when it is not about one place.
    qsizetype Offset() const { return FOffset; }

private:
    qsizetype FOffset;
};

/// An object that cannot be written to the stream (a property type the file has no tag for).
class EWriteError : public Exception {
public:
    using Exception::Exception;
};

/// The value tags of the stream (the platform's names).
enum TValueType : quint8 {
    vaNull = 0,        ///< end of a property list, list value, collection item or collection
    vaList = 1,        ///< a string list's lines; each collection item
    vaInt8 = 2,        ///< 1 byte, signed
    vaInt16 = 3,       ///< 2 bytes, signed
    vaInt32 = 4,       ///< 4 bytes, signed
    vaExtended = 5,    ///< 10 bytes, 80-bit extended precision
    vaString = 6,      ///< length byte, then ASCII bytes
    vaIdent = 7,       ///< length byte, then UTF-8 bytes of an enumeration value's name
    vaFalse = 8,       ///< Boolean false
    vaTrue = 9,        ///< Boolean true
    vaLString = 12,    ///< 4-byte length, then ASCII bytes
    vaCollection = 14, ///< items until vaNull
    vaWString = 18,    ///< 4-byte count of UTF-16 code units, then UTF-16LE
    vaUTF8String = 20  ///< 4-byte length, then UTF-8 bytes
};

/// "short string", "wide string", … or "unknown tag" for messages.
QString ValueTypeName(quint8 Tag);

/// The 10 bytes of the 80-bit extended format, little-endian: 64-bit mantissa with explicit leading
/// bit, then 15-bit exponent (bias 16383) and the sign bit.
using TExtendedBytes = std::array<quint8, 10>;
/// Exact: every double (zeros, subnormals, infinities, NaN payloads) has an 80-bit form.
TExtendedBytes DoubleToExtended(double Value);
/// Rounds to nearest, ties to even, as the x87 store does; overflow gives an infinity, tiny values
/// become subnormal or zero. Unnormals (exponent set, leading bit clear) are read by their value.
double ExtendedToDouble(const TExtendedBytes &Bytes);

/// The tag the writer chooses for a text: vaUTF8String, vaLString, vaString or vaWString.
TValueType StringValueType(QStringView Text);

/// Appends values to a byte buffer in the stream's encoding. Writes go through a buffer that grows
/// geometrically; Out gets its final size when the writer is destroyed.
class TStreamWriter {
public:
    explicit TStreamWriter(QByteArray &Out) : FOut(Out), FLen(Out.size()) {}
    ~TStreamWriter() { FOut.truncate(FLen); }
    TStreamWriter(const TStreamWriter &) = delete;
    TStreamWriter &operator=(const TStreamWriter &) = delete;

    void WriteSignature();
    /// Length byte, then the bytes; raises EWriteError above 255 bytes.
    void WriteShortString(QByteArrayView Bytes);
    void WritePropName(QByteArrayView Name) { WriteShortString(Name); }
    void WriteValueType(TValueType Tag) { *Grow(1) = static_cast<char>(Tag); }
    void WriteListBegin() { WriteValueType(vaList); }
    void WriteListEnd() { WriteValueType(vaNull); }
    /// The smallest of vaInt8, vaInt16 and vaInt32 that holds Value.
    void WriteInteger(qint32 Value);
    void WriteBoolean(bool Value) { WriteValueType(Value ? vaTrue : vaFalse); }
    void WriteFloat(double Value);
    /// Tag by StringValueType, then the data.
    void WriteString(QStringView Text);
    void WriteIdent(QByteArrayView Name);

private:
    char *Grow(qsizetype Count) {
        if (Count > FOut.size() - FLen)
            Expand(Count);
        char *p = FData + FLen;
        FLen += Count;
        return p;
    }
    void Expand(qsizetype Count);
    void AppendLE(quint64 Value, int Bytes);
    QByteArray &FOut;
    qsizetype FLen;
    char *FData = nullptr;
};

/// Reads values from stream bytes; every read checks the remaining length first, so absurd lengths
/// raise EReadError instead of allocating.
class TStreamReader {
public:
    explicit TStreamReader(QByteArrayView Bytes) : FBytes(Bytes) {}
    qsizetype Position() const { return FPos; }
    bool AtEnd() const { return FPos >= FBytes.size(); }
    /// Raises EReadError unless the next four bytes are "TPF0".
    void ReadSignature();
    /// The next tag without consuming it; raises EReadError at the end.
    quint8 PeekValueType(const char *What) const {
        if (FPos >= FBytes.size())
            Truncated(What);
        return static_cast<quint8>(FBytes[FPos]);
    }
    quint8 ReadValueType(const char *What) {
        const quint8 t = PeekValueType(What);
        ++FPos;
        return t;
    }
    QByteArrayView ReadShortString(const char *What) {
        const auto len = static_cast<qsizetype>(ReadValueType(What));
        return Take(len, What);
    }
    /// The integer data of Tag (vaInt8, vaInt16 or vaInt32), tag already consumed.
    qint32 ReadIntegerData(quint8 Tag);
    /// The 10 bytes of a vaExtended value, tag already consumed.
    double ReadExtendedData();
    /// The text data of Tag (vaString, vaLString, vaWString or vaUTF8String), tag already consumed.
    QString ReadStringData(quint8 Tag);
    /// A vaIdent's name, tag already consumed.
    QByteArrayView ReadIdentData() { return ReadShortString("an identifier"); }
    [[noreturn]] void Fail(const QString &Msg, qsizetype At) const;

private:
    QByteArrayView Take(qsizetype Count, const char *What) {
        if (Count < 0 || Count > FBytes.size() - FPos)
            Truncated(What);
        const QByteArrayView v(FBytes.data() + FPos, Count);
        FPos += Count;
        return v;
    }
    [[noreturn]] void Truncated(const char *What) const;
    quint64 ReadLE(int Bytes, const char *What);
    QByteArrayView FBytes;
    qsizetype FPos = 0;
};

/// The whole stream of Root: "TPF0", class name, object name, the published properties by the
/// file's rules, end of properties, end of child objects.
QByteArray WriteComponent(const QObject &Root);
/// Reads a whole stream into Root, applying the values in file order. Raises EReadError on the first
/// fault; the properties set before it keep their new values (callers that want all-or-nothing read
/// into a copy, as TSaveLoadComponent::LoadFromFile does).
void ReadComponent(QByteArrayView Stream, QObject &Root);
/// Copies every published value of Source into Dest (same class): what the stream would carry, but
/// complete (empty texts and zero floats too). Sub-objects are copied property by property and the
/// collections with their Assign; the owned objects of Dest are never replaced.
void CopyPublishedProperties(const QObject &Source, QObject &Dest);

/// zlib format (RFC 1950) at Level; level 9 starts with 78 DA. Up to 1 MiB: zlib's one-shot compress2;
/// more: deflated in fixed 1 MiB slices on all cores and joined into one stream (same bytes whatever the
/// number of cores).
QByteArray ZCompress(QByteArrayView Data, int Level = 9);
/// Inflates a whole zlib stream. Raises EReadError when the bytes are not zlib, damaged, end early,
/// or inflate to more than MaxSize bytes (so a tiny hostile file cannot claim unbounded memory).
QByteArray ZDecompress(QByteArrayView Data, qsizetype MaxSize = qsizetype(1) << 30);
