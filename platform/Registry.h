#pragma once
// The per-user key/value store that stands in for the Windows registry of the current user:
// keys such as "\Software\RVN\" holding typed values (32-bit integers, strings, byte arrays).
// Everything lives in one text file, $XDG_CONFIG_HOME/relayvane/registry.ini. Every change is
// written to a temporary file, flushed to disk and renamed over the old file under a lock shared
// by all processes of the user, so a crash or a kill in the middle never loses or damages values.

#include "platform/SysUtils.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

/// A store operation that cannot be done: a value of another type, a missing value, a file error.
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

/// The type a value was written with.
enum class TRegDataType { rdUnknown, rdString, rdInteger, rdBinary };

/// Typed values under keys of the current user's store. Each call reads the file afresh and each
/// change is committed before the call returns, so several objects and processes see one state.
class TRegistry {
public:
    /// The user's store file.
    TRegistry();
    /// A store kept in another file (tests, portable runs).
    explicit TRegistry(const QString &FileName);

    /// $XDG_CONFIG_HOME/relayvane/registry.ini (~/.config when XDG_CONFIG_HOME is unset).
    static QString DefaultFileName();
    /// The program's own key, "\\Software\\RVN\\".
    static QString ProgramKey() { return QStringLiteral("\\Software\\RVN\\"); }
    QString FileName() const { return FFileName; }

    /// Makes Key the current key ("\Software\RVN\", leading and trailing "\" do not matter).
    /// Without CanCreate a missing key gives false; with it the key is created.
    bool OpenKey(const QString &Key, bool CanCreate);
    bool OpenKeyReadOnly(const QString &Key);
    void CloseKey();
    QString CurrentPath() const { return FCurrentKey; }

    bool KeyExists(const QString &Key);
    /// Removes the key with its values and subkeys; false when it did not exist.
    bool DeleteKey(const QString &Key);
    bool CreateKey(const QString &Key);

    bool ValueExists(const QString &Name);
    bool DeleteValue(const QString &Name);
    TRegDataType GetDataType(const QString &Name);
    /// Size of the value in bytes (a string counts its UTF-8 bytes); -1 when it does not exist.
    int GetDataSize(const QString &Name);
    QStringList GetValueNames();
    QStringList GetKeyNames();

    /// Readers raise ERegistryException when the value is missing or of another type.
    int ReadInteger(const QString &Name);
    QString ReadString(const QString &Name);
    QByteArray ReadBinaryData(const QString &Name);
    /// Copies at most BufSize bytes into Buffer; returns the number copied.
    int ReadBinaryData(const QString &Name, void *Buffer, int BufSize);
    /// A date kept as 8 bytes: a little-endian double counting days since 1899-12-30.
    double ReadDate(const QString &Name);

    void WriteInteger(const QString &Name, int Value);
    void WriteString(const QString &Name, const QString &Value);
    void WriteBinaryData(const QString &Name, const QByteArray &Value);
    void WriteBinaryData(const QString &Name, const void *Buffer, int BufSize);
    void WriteDate(const QString &Name, double Value);

private:
    struct TValue;
    struct TData;
    TData Load() const;
    /// Loads under the writers' lock, lets Change edit, and commits when it returns true.
    template <typename F> void Modify(F &&Change);
    void Commit(const TData &Data) const;
    void RequireKey() const;
    TValue ReadValue(const QString &Name, TRegDataType Wanted);
    void WriteValue(const QString &Name, const TValue &Value);

    QString FFileName;
    QString FCurrentKey; ///< normalised path of the open key, empty when none is open
    bool FReadOnly = false;
};
