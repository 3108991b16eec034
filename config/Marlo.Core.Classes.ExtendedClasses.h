#pragma once
// TSaveLoadComponent: the base that gives the configuration its file. The file is the
// zlib stream (level 9, so it starts with 78 DA) of the component stream of ComponentStream.h.
//
// Two choices made on purpose:
//
// - Saving is atomic. The stream goes to a temporary file in the same folder ("config.cfg.tmp-XXXXXX"),
//   is flushed to disk (fsync), and is renamed over the old file; then the folder is synced. A save
//   that fails at any step removes the temporary file, leaves the old file exactly as it was, and
//   raises EFCreateError naming the file and the reason. A symbolic link at the file name is followed:
//   the file it points to is replaced and the link stays. The new file keeps the old file's permission
//   bits; a new file gets 0600, since LocalProxyIp can hold a user name and password. A missing parent
//   folder is created (the per-user location of config.cfg may not exist yet).
//
// - Loading is all or nothing. A reader that keeps the properties read before a fault; a half-read file
//   then leaves a mixture of the file and the defaults in memory that was never a configuration
//   anybody saved. We read into a fresh copy of the object instead and copy it back only when the
//   whole file was read, so a failed load (EReadError, EFOpenError) leaves the object exactly as it
//   was before the call: at start-up, the defaults. A successful load gives what a plain reader
//   gives: the values of the file, and the current values of the properties the file does not hold.
//   LoadConfigOrDefaults (config/ConfigFile.h) is what the program calls at start-up.

#include "config/ComponentStream.h"
#include "platform/SysUtils.h"

#include <QObject>
#include <QString>
#include <memory>

/// A file that cannot be created or written; the old file, if any, is intact.
class EFCreateError : public EInOutError {
public:
    using EInOutError::EInOutError;
};

/// A file that exists but cannot be opened or read.
class EFOpenError : public EInOutError {
public:
    using EInOutError::EInOutError;
};

/// A component that saves its published properties to a file and loads them back.
class TSaveLoadComponent : public QObject {
    Q_OBJECT
public:
    explicit TSaveLoadComponent(QObject *AOwner = nullptr);

    /// Writes the zlib stream of this object to FileName atomically; raises EFCreateError on failure.
    virtual void SaveToFile(const QString &FileName);
    /// Reads FileName into this object; a missing file reads nothing. Raises EReadError (bad content,
    /// message names the file and the fault) or EFOpenError; then nothing has changed.
    virtual void LoadFromFile(const QString &FileName);

    /// The file content SaveToFile writes: ZCompress(WriteComponent(*this), 9).
    QByteArray SaveToBytes() const;
    /// Reads a file content (zlib stream) into this object, all or nothing. Raises EReadError.
    void LoadFromBytes(QByteArrayView FileContent);

protected:
    /// A new object of the same class to read into; by default through the class's Q_INVOKABLE
    /// constructor taking the owner (or none).
    virtual std::unique_ptr<TSaveLoadComponent> NewInstance() const;
};

/// Replaces FileName with Bytes atomically (temporary file in the same folder, fsync, rename, folder
/// fsync). Raises EFCreateError "Cannot create file "NAME". REASON"; the old file is then untouched.
void AtomicWriteFile(const QString &FileName, QByteArrayView Bytes);
