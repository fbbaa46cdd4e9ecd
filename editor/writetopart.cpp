#include "writetopart.h"

#include "bitdisplay.h"
#include "commandword.h"
#include "tx4418.h"

void writeToPart(const BitDisplay &bits, TX4418 &device)
{
    const std::array<double, bitCellCount> digits = bits.digits();
    device.SendCommandWord(composeCommandWord(digits));
}
