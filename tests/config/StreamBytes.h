#pragma once
// Builds expected stream bytes by hand, in the file format's own vocabulary.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <initializer_list>

class TBytes {
public:
    TBytes &Raw(const QByteArray &B) {
        FOut += B;
        return *this;
    }
    TBytes &Hex(const char *H) { return Raw(QByteArray::fromHex(H)); }
    TBytes &Byte(int B) {
        FOut += static_cast<char>(B);
        return *this;
    }
    /// Length byte, then the ASCII/UTF-8 bytes (a property or class name, a vaString's data).
    TBytes &Short(const QByteArray &S) {
        Byte(static_cast<int>(S.size()));
        return Raw(S);
    }
    TBytes &Name(const char *S) { return Short(QByteArray(S)); }
    TBytes &Le32(quint32 V) {
        for (int i = 0; i < 4; ++i)
            Byte(static_cast<int>((V >> (8 * i)) & 0xFF));
        return *this;
    }
    TBytes &True() { return Byte(9); }
    TBytes &False() { return Byte(8); }
    TBytes &Int8(int V) { return Byte(2).Byte(V & 0xFF); }
    TBytes &Int16(int V) { return Byte(3).Byte(V & 0xFF).Byte((V >> 8) & 0xFF); }
    TBytes &Int32(qint32 V) { return Byte(4).Le32(static_cast<quint32>(V)); }
    TBytes &Ident(const char *S) { return Byte(7).Short(QByteArray(S)); }
    TBytes &String(const char *Ascii) { return Byte(6).Short(QByteArray(Ascii)); }
    TBytes &Ext(const char *Hex10) { return Byte(5).Hex(Hex10); }
    TBytes &Wide(const QString &S) {
        Byte(18).Le32(static_cast<quint32>(S.size()));
        for (QChar c : S)
            Byte(c.unicode() & 0xFF).Byte(c.unicode() >> 8);
        return *this;
    }
    TBytes &Utf8(const QString &S) {
        const QByteArray u = S.toUtf8();
        return Byte(20).Le32(static_cast<quint32>(u.size())).Raw(u);
    }
    TBytes &End() { return Byte(0); }
    /// "TPF0", class name, empty object name.
    TBytes &Header(const char *Class) { return Raw("TPF0").Name(Class).Byte(0); }
    const QByteArray &Bytes() const { return FOut; }
    operator QByteArray() const { return FOut; }
    operator QByteArrayView() const { return FOut; }

private:
    QByteArray FOut;
};
