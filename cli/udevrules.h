// The udev rules as udev reads them, for doctor: which file names a board's identity, and the
// rule to add for one that none names.
#pragma once

#include <QString>
#include <QStringList>

namespace UdevRules {

// The folders udev reads, the one that wins a file name first.
const QStringList &folders();

// The file that tags a device for its seat's user: a rule must come before it for uaccess.
inline constexpr char seatFile[] = "73-seat-late.rules";
// The packaged rule's name, and the one doctor proposes beside it: a file in /etc of the
// packaged name would replace the packaged one whole.
inline constexpr char packagedFile[] = "70-tx4410.rules";
inline constexpr char localFile[] = "70-tx4410-local.rules";

// Every rules file udev reads from these folders, in its order: by name, each name from the
// first folder that has it.
QStringList effective(const QStringList &folders);

// The first of `files` with a rule line for this identity ("6666", "4400"), or "".
QString fileFor(const QStringList &files, const QString &vendor, const QString &product);

// Whether a rule in this file comes before the seat file, so that its uaccess tag is acted on.
bool beforeSeat(const QString &file);

// The rule line for an identity, as the packaged file has them.
QString ruleLine(const QString &vendor, const QString &product);

} // namespace UdevRules
