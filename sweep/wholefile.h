// Files written whole or not at all, for every program that writes a sweep's results.
#pragma once

#include <QByteArray>
#include <QString>

namespace Sweep {

// Why `path` cannot be written, in words; empty when it can. What is there and no plain file
// (/dev/stdout) is written as it is; a plain file is made anew beside the old one, which needs a
// folder that takes a new file.
QString unwritable(const QString &path);

// Made anew whole or not at all: written beside the old one and renamed over it. What is there
// and no plain file (/dev/stdout, a pipe, a link) is written as it is. The system's reason when
// it failed.
QString writeWhole(const QString &path, const QByteArray &bytes);

// A CSV as a sweep goes: FILE.partial, rows appended as they are measured, so that whatever ends
// the program they are on disk; at the end the whole file renamed over FILE and FILE.partial
// removed. A device is written once, at the end.
class PartialFile final
{
public:
    explicit PartialFile(const QString &path);
    ~PartialFile();
    PartialFile(const PartialFile &) = delete;
    PartialFile &operator=(const PartialFile &) = delete;

    bool begin(const QByteArray &head);
    bool append(const QByteArray &bytes);
    bool finish(const QByteArray &whole);
    // "cannot write FILE: reason"
    const QString &failure() const { return m_failure; }

private:
    bool fail(const QString &file, const QString &reason);

    QString m_path;
    QString m_partial;
    bool m_device = false;
    int m_fd = -1;
    QString m_failure;
};

} // namespace Sweep
