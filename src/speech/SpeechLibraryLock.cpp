#include "speech/SpeechLibraryLock.h"

std::mutex& speechLibraryLock() {
    static std::mutex lock;
    return lock;
}
