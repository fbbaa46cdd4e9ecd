#pragma once

#include <QByteArray>
#include <QString>

#include <stdexcept>

// The board library could not be loaded, or lacks a function the program calls.
class BoardLibraryError final : public std::runtime_error
{
public:
    explicit BoardLibraryError(const QString &message);

    QString message() const { return QString::fromUtf8(what()); }
};

// A board library bound at run time, never linked. It is loaded by the first function resolved
// and stays loaded for the run: functions bound from it must never dangle.
class BoardLibrary final
{
public:
    // An absolute path, used as it stands.
    static BoardLibrary atPath(const QByteArray &path);
    // A bare name such as "BoardPort", found by the system's library search as libBoardPort.so:
    // LD_LIBRARY_PATH first, then the program's own run path, then the system's folders.
    static BoardLibrary byName(const QByteArray &name);

    BoardLibrary(const BoardLibrary &) = delete;
    BoardLibrary &operator=(const BoardLibrary &) = delete;

    // What the loader is given.
    const QByteArray &fileName() const { return m_fileName; }

    // The address of an exported function; throws BoardLibraryError with the loader's reason.
    void *resolve(const char *symbol);

private:
    explicit BoardLibrary(const QByteArray &fileName);
    void *handle();

    QByteArray m_fileName;
    void *m_handle = nullptr;
};
