#pragma once

#include "fakeboard.h"

#include <QByteArray>
#include <QStringList>
#include <QTest>

#include <dlfcn.h>

// The test's side of a fake board library: the same loaded instance the program binds.
class FakeBoardClient final
{
public:
    explicit FakeBoardClient(const QByteArray &fileName)
        : m_handle(dlopen(fileName.constData(), RTLD_NOW | RTLD_LOCAL))
    {
        if (!m_handle)
            qFatal("Cannot open the fake board library %s: %s", fileName.constData(), dlerror());
    }

    void reset() { function<FakeBoardResetFunction>("FakeBoard_Reset")(); }
    void setLoadStatus(std::int16_t status)
    {
        function<FakeBoardSetStatusFunction>("FakeBoard_SetLoadStatus")(status);
    }
    void setRequestStatus(std::int16_t status)
    {
        function<FakeBoardSetStatusFunction>("FakeBoard_SetRequestStatus")(status);
    }
    void setBoardFound(std::uint8_t board, std::int32_t found)
    {
        function<FakeBoardSetBoardFoundFunction>("FakeBoard_SetBoardFound")(board, found);
    }
    void setReply(std::uint8_t first, std::uint8_t second)
    {
        function<FakeBoardSetReplyFunction>("FakeBoard_SetReply")(first, second);
    }
    QStringList log()
    {
        return QString::fromUtf8(function<FakeBoardLogFunction>("FakeBoard_Log")())
                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    template<typename Signature> Signature *function(const char *symbol)
    {
        void *address = dlsym(m_handle, symbol);
        if (!address)
            qFatal("The fake board library has no %s", symbol);
        return reinterpret_cast<Signature *>(address);
    }

    void *m_handle;
};
