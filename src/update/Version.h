#pragma once

#include <QString>

// Orders version strings the way an appcast's sparkle:version means them: numeric parts compare
// as numbers ("1.10" is newer than "1.9"), missing numeric parts count as zero ("1.2" equals
// "1.2.0"), and a word where the other side has a number or nothing marks a pre-release
// ("1.0b1" is older than both "1.0" and "1.0.1"). Words compare without regard to case.
// Returns <0, 0 or >0 as `a` is older than, the same as or newer than `b`.
int compareVersions(const QString& a, const QString& b);
