#include "boardlibrary.h"

#include <dlfcn.h>

namespace {

QString loaderReason()
{
    const char *reason = dlerror();
    return reason ? QString::fromLocal8Bit(reason) : QStringLiteral("unknown reason");
}

} // namespace

BoardLibraryError::BoardLibraryError(const QString &message)
    : std::runtime_error(message.toStdString())
{ }

BoardLibrary::BoardLibrary(const QByteArray &fileName)
    : m_fileName(fileName)
{ }

BoardLibrary BoardLibrary::atPath(const QByteArray &path)
{
    return BoardLibrary(path);
}

BoardLibrary BoardLibrary::byName(const QByteArray &name)
{
    return BoardLibrary("lib" + name + ".so");
}

// dlopen is called from here, not through QLibrary, because the loader searches the run path of
// the object that calls it: ours is the program's, Qt's own library has none.
void *BoardLibrary::handle()
{
    if (!m_handle) {
        dlerror();
        m_handle = dlopen(m_fileName.constData(), RTLD_NOW | RTLD_LOCAL);
        if (!m_handle) {
            throw BoardLibraryError(
                    QStringLiteral("Cannot load the board library \"%1\": %2")
                            .arg(QString::fromLocal8Bit(m_fileName), loaderReason()));
        }
    }
    return m_handle;
}

void *BoardLibrary::resolve(const char *symbol)
{
    void *library = handle();
    dlerror();
    void *address = dlsym(library, symbol);
    if (!address) {
        throw BoardLibraryError(
                QStringLiteral("The board library \"%1\" has no function \"%2\": %3")
                        .arg(QString::fromLocal8Bit(m_fileName), QString::fromLatin1(symbol),
                             loaderReason()));
    }
    return address;
}
