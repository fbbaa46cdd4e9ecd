// tx4410-cli history: what the records hold, listed, as JSON, or a board's calibrations in force
// exported as a certificate with the picture of their residuals.
#pragma once

#include "historysettings.h"

#include <QTextStream>

#include <functional>

// The exit status.
int historyCommand(const HistorySettings &settings, const QString &database, QTextStream &out,
                   const std::function<void(const QString &)> &complain);
