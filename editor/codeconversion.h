// The arithmetic of the code entry: a hex code or a voltage typed against a reference.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

inline constexpr std::int32_t highestCode = 65535;
inline constexpr double fullScale = 65536; // not highestCode: both directions divide by 2^16

struct HexEntryResult
{
    std::int32_t code; // 0..highestCode
    QString voltageText;
};

// The typed hex code, read leniently and limited to 0..highestCode, and its voltage against the
// reference: a whole number as convertVoltageEntry reads it, otherwise read leniently (an empty
// or junk reference reads 0).
HexEntryResult convertHexEntry(const QString &hexText, const QString &vrefText);

struct VoltageEntryResult
{
    std::int32_t code; // 0..highestCode
    QString hexText;
};

// The code of the typed voltage against the reference: a zero reference gives highestCode, a
// negative voltage 0, and whatever falls outside 0..highestCode (a negative reference included)
// the nearer limit. nullopt when the reference is not a number: nothing should change then.
std::optional<VoltageEntryResult> convertVoltageEntry(const QString &voltageText,
                                                      const QString &vrefText);
