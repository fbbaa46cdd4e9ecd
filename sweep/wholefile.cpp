#include "wholefile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Sweep {

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// To the end: the system's reason when it could not be.
QString writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t wrote
                = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return systemReason(wrote < 0 ? errno : ENOSPC);
        done += wrote;
    }
    return {};
}

bool asItIs(const QFileInfo &info)
{
    return info.exists() && (!info.isFile() || info.isSymLink());
}

} // namespace

QString unwritable(const QString &path)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (file.isDir())
        return QStringLiteral("cannot write %1: it is a folder").arg(path);
    if (asItIs(file))
        return file.isWritable() ? QString()
                                 : QStringLiteral("cannot write %1: permission denied").arg(path);
    if (!folder.isDir())
        return QStringLiteral("cannot write %1: there is no folder %2")
                .arg(path, folder.filePath());
    if (!folder.isWritable() || (file.exists() && !file.isWritable()))
        return QStringLiteral("cannot write %1: permission denied").arg(path);
    return {};
}

QString writeWhole(const QString &path, const QByteArray &bytes)
{
    const bool direct = asItIs(QFileInfo(path));
    const QByteArray name = QFile::encodeName(path);
    QByteArray temporary = name + ".XXXXXX";
    const int fd = direct ? ::open(name.constData(), O_WRONLY | O_CLOEXEC)
                          : ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return systemReason(errno);
    QString error = writeAll(fd, bytes);
    if (::close(fd) != 0 && error.isEmpty())
        error = systemReason(errno);
    if (!direct && error.isEmpty()) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::chmod(temporary.constData(), 0666 & ~mask) != 0
            || ::rename(temporary.constData(), name.constData()) != 0)
            error = systemReason(errno);
    }
    if (!direct && !error.isEmpty())
        ::unlink(temporary.constData());
    return error;
}

PartialFile::PartialFile(const QString &path)
    : m_path(path)
    , m_partial(path + QStringLiteral(".partial"))
    , m_device(asItIs(QFileInfo(path)))
{ }

PartialFile::~PartialFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool PartialFile::begin(const QByteArray &head)
{
    if (m_device)
        return true;
    m_fd = ::open(QFile::encodeName(m_partial).constData(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0)
        return fail(m_partial, systemReason(errno));
    return append(head);
}

bool PartialFile::append(const QByteArray &bytes)
{
    if (m_fd < 0)
        return true;
    const QString error = writeAll(m_fd, bytes);
    return error.isEmpty() || fail(m_partial, error);
}

bool PartialFile::finish(const QByteArray &whole)
{
    if (const QString error = writeWhole(m_path, whole); !error.isEmpty())
        return fail(m_path, error);
    if (m_fd >= 0)
        ::unlink(QFile::encodeName(m_partial).constData());
    return true;
}

bool PartialFile::fail(const QString &file, const QString &reason)
{
    m_failure = QStringLiteral("cannot write %1: %2").arg(file, reason);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    return false;
}

} // namespace Sweep
