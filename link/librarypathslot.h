#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <stdexcept>
#include <string_view>

// Where a program keeps the absolute path by which it binds the four-function board library:
// a marker, then the path, then zeros to the end. The build writes the build tree's library
// there; an install finds the marker in the installed copy of the program and writes the
// installed library's path over the old one (tx4410_write_library_path), so that each copy
// binds its own library and an install never reaches back into the build tree.
namespace LibraryPathSlot {

inline constexpr std::string_view marker = "\x01TX4410 four-function library path\x02";
// PATH_MAX: the path and its terminating zero.
inline constexpr std::size_t pathCapacity = 4096;
inline constexpr std::size_t size = marker.size() + pathCapacity;

using Bytes = std::array<char, size>;

// A slot holding `path`; in a constant expression a path that does not fit fails to compile.
constexpr Bytes make(std::string_view path)
{
    if (path.size() >= pathCapacity)
        throw std::length_error("the library path does not fit its slot");
    Bytes slot {};
    const auto pathStart = std::copy(marker.begin(), marker.end(), slot.begin());
    std::copy(path.begin(), path.end(), pathStart);
    return slot;
}

} // namespace LibraryPathSlot
