#pragma once

class BitDisplay;
class TX4418;

// Composes the command word from what the cells hold now, lit or dim, and sends it: one
// request per call, nothing else changes.
void writeToPart(const BitDisplay &bits, TX4418 &device);
