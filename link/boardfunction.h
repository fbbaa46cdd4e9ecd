#pragma once

#include "boardlibrary.h"

// One function of a board library, bound at its first call and kept for the run.
template<typename Signature> class BoardFunction final
{
public:
    BoardFunction(BoardLibrary &library, const char *symbol)
        : m_library(library)
        , m_symbol(symbol)
    { }

    template<typename... Arguments> auto operator()(Arguments... arguments)
    {
        if (!m_function)
            m_function = reinterpret_cast<Signature *>(m_library.resolve(m_symbol));
        return m_function(arguments...);
    }

private:
    BoardLibrary &m_library;
    const char *m_symbol;
    Signature *m_function = nullptr;
};
