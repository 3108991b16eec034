#include "config/Marlo.Core.Classes.ExtendedClasses.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TSaveLoadComponent::TSaveLoadComponent(QObject *AOwner) : QObject(AOwner) {}

QByteArray TSaveLoadComponent::SaveToBytes() const {
    return ZCompress(WriteComponent(*this), 9);
}

void TSaveLoadComponent::SaveToFile(const QString &FileName) {
    QByteArray bytes;
    try {
        bytes = SaveToBytes();
    } catch (const Exception &e) {
        throw EFCreateError(QStringLiteral("Cannot create file \"%1\". %2").arg(FileName, e.Message()));
    }
    AtomicWriteFile(FileName, bytes);
}

std::unique_ptr<TSaveLoadComponent> TSaveLoadComponent::NewInstance() const {
    std::unique_ptr<QObject> o(metaObject()->newInstance(Q_ARG(QObject *, nullptr)));
    if (!o)
        o.reset(metaObject()->newInstance());
    auto *c = qobject_cast<TSaveLoadComponent *>(o.get());
    if (!c)
        throw Exception(QStringLiteral("%1 has no Q_INVOKABLE constructor to load into")
                            .arg(QLatin1String(metaObject()->className())));
    o.release();
    return std::unique_ptr<TSaveLoadComponent>(c);
}

void TSaveLoadComponent::LoadFromBytes(QByteArrayView FileContent) {
    const QByteArray stream = ZDecompress(FileContent);
    // Read into a copy of this object and take it over only when the whole stream was read.
    std::unique_ptr<TSaveLoadComponent> fresh = NewInstance();
    CopyPublishedProperties(*this, *fresh);
    ReadComponent(stream, *fresh);
    CopyPublishedProperties(*fresh, *this);
}

void TSaveLoadComponent::LoadFromFile(const QString &FileName) {
    QFile f(FileName);
    if (!f.exists())
        return; // missing file: the defaults stay
    if (!f.open(QIODevice::ReadOnly))
        throw EFOpenError(QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, f.errorString()));
    const QByteArray content = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw EFOpenError(QStringLiteral("Cannot read file \"%1\". %2").arg(FileName, f.errorString()));
    f.close();
    try {
        LoadFromBytes(content);
    } catch (const EReadError &e) {
        throw EReadError(QStringLiteral("Cannot read the configuration file \"%1\": %2").arg(FileName, e.Message()),
                         e.Offset());
    }
}

// ---------------------------------------------------------------------------------------------

namespace {

[[noreturn]] void CreateFailed(const QString &FileName, const QString &Why) {
    throw EFCreateError(QStringLiteral("Cannot create file \"%1\". %2").arg(FileName, Why));
}

QString ErrnoText(int Err) {
    return QString::fromLocal8Bit(std::strerror(Err));
}

} // namespace

void AtomicWriteFile(const QString &FileName, QByteArrayView Bytes) {
    // Follow a symbolic link so the link survives and its target is replaced.
    QString target = FileName;
    const QFileInfo info(FileName);
    if (info.isSymLink()) {
        target = info.symLinkTarget();
    }
    const QFileInfo targetInfo(target);
    if (targetInfo.isDir())
        CreateFailed(FileName, QStringLiteral("It is a folder."));
    const QString dir = targetInfo.absolutePath();
    if (!QFileInfo(dir).isDir() && !QDir().mkpath(dir))
        CreateFailed(FileName, QStringLiteral("The folder \"%1\" cannot be created.").arg(dir));

    mode_t mode = 0600;
    struct stat st {};
    const QByteArray targetPath = QFile::encodeName(targetInfo.absoluteFilePath());
    if (::stat(targetPath.constData(), &st) == 0)
        mode = st.st_mode & 07777;

    QByteArray tmpl = targetPath + ".tmp-XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0)
        CreateFailed(FileName, ErrnoText(errno));
    auto fail = [&](int Err) {
        ::close(fd);
        ::unlink(tmpl.constData());
        CreateFailed(FileName, ErrnoText(Err));
    };
    if (::fchmod(fd, mode) != 0)
        fail(errno);
    const char *p = Bytes.data();
    qsizetype left = Bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(std::min<qsizetype>(left, 1 << 30)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        p += n;
        left -= n;
    }
    if (::fsync(fd) != 0)
        fail(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpl.constData());
        CreateFailed(FileName, ErrnoText(err));
    }
    if (::rename(tmpl.constData(), targetPath.constData()) != 0) {
        const int err = errno;
        ::unlink(tmpl.constData());
        CreateFailed(FileName, ErrnoText(err));
    }
    // Make the rename itself durable; a failure here no longer endangers either file.
    const int dfd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}
