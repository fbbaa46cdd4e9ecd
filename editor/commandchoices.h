// The word "Write to Part" sends for a set of choices, without a window.
#pragma once

#include <cstdint>

// The word the window sends after choosing the command and the address (members of its
// command and address lists, 0..8 each) and putting dataCode into the data cells: the same
// cells, written the same way, composed the same way. An index outside its list writes nothing.
std::int32_t commandWordFor(int commandIndex, int addressIndex, std::int32_t dataCode);
