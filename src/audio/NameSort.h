#pragma once

#include "audio/AudioTypes.h"

// Sorts by `name`, ascending, case-insensitively in the user's locale; stable, so equal names
// keep the order in which the sound server listed them.
void sortByName(QList<AudioInputDevice>& devices);
void sortByName(QList<AudioProcessInfo>& processes);
