#pragma once

#include <mutex>

// PocketSphinx's decoder creation touches library globals; every creation of a decoder holds
// this lock. (The converters are the audio library's, which serialises their creation itself.)
std::mutex& speechLibraryLock();
