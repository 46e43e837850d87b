#pragma once

#include <QString>

// The system's words for an errno ("Permission denied", "No space left on device"), for the
// messages that tell a user why a file or folder could not be written.
QString systemReason(int error);
