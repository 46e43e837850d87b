#pragma once

#include <mutex>

// PocketSphinx's and libsoxr's constructors touch library globals; every creation of a decoder
// or a converter holds this lock.
std::mutex& speechLibraryLock();
