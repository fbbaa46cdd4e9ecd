#pragma once

#include "requestfailurereporter.h"

#include <QString>

// A board status for a person, in one line: what it means, the detail where there is one, and
// what to do ("... . Fix: ..."), then its number and name.
QString statusReason(int status, const QString &detail = {});

// What the status means and the detail, without its fix: for a report that gives the fix apart.
QString statusFinding(int status, const QString &detail = {});

// "request SelectMuxChannel (0xcc) failed: " and the status's reason.
QString requestFailureReason(const RequestFailure &failure, const QString &detail = {});
