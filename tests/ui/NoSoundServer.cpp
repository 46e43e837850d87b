#include "ui/DeviceRefresher.h"

// Every control bar this test program builds (the whole window included) reads an empty device
// list instead of asking a sound server; tests that need devices hand in their own.
namespace {

[[maybe_unused]] const bool kNoSoundServer = [] {
    DeviceRefresher::setDefaultLister([] { return DeviceSnapshot{}; });
    return true;
}();

} // namespace
