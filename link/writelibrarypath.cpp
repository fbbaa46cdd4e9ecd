// tx4410_write_library_path <program> <library>
// Run by the install on the installed copy of a program: writes the absolute path by which that
// copy binds the four-function board library into its path slot. The file keeps its size and
// everything else in it stays where it was.
#include "librarypathslot.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

int refuse(const char *program, const std::string &reason)
{
    std::fprintf(stderr, "tx4410_write_library_path: %s: %s\n", program, reason.c_str());
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fputs("usage: tx4410_write_library_path <program> <library>\n", stderr);
        return 2;
    }
    const char *program = argv[1];
    const std::string library = argv[2];
    if (library.empty() || library.front() != '/')
        return refuse(program, "not an absolute path: " + library);
    if (library.size() >= LibraryPathSlot::pathCapacity)
        return refuse(program, "the library path is too long: " + library);

    std::fstream file(program, std::ios::in | std::ios::out | std::ios::binary);
    if (!file)
        return refuse(program, "cannot open it for writing");
    const std::string bytes {std::istreambuf_iterator<char>(file), {}};
    const std::size_t slot = bytes.find(LibraryPathSlot::marker);
    if (slot == std::string::npos
        || bytes.find(LibraryPathSlot::marker, slot + 1) != std::string::npos
        || bytes.size() - slot < LibraryPathSlot::size)
        return refuse(program, "no single four-function library path slot in it");

    std::string path = library;
    path.resize(LibraryPathSlot::pathCapacity, '\0');
    file.clear();
    file.seekp(static_cast<std::streamoff>(slot + LibraryPathSlot::marker.size()));
    if (!file.write(path.data(), static_cast<std::streamsize>(path.size())).flush())
        return refuse(program, "cannot write it");
    return 0;
}
