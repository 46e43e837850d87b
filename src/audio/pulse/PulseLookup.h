#pragma once

#include <QByteArray>
#include <QString>
#include <pulse/channelmap.h>
#include <pulse/def.h>
#include <pulse/sample.h>

#include <cstdint>
#include <string>

struct pa_context;
struct pa_threaded_mainloop;

// What opening a record stream needs to know first, asked of a connected context with the
// loop's lock held. Each returns 0, or the server's error code (PA_ERR_NOENTITY when the thing
// asked for does not exist).
namespace PulseLookup {

// A source to record with its format: an input device, or the monitor of an output.
struct Recordable {
    std::string source; // the source's name, what the record stream connects to
    QString description;
    pa_sample_spec spec{};
    pa_channel_map map{};
    std::string outputName; // for a monitor: the output it belongs to
};

int defaultOutput(pa_threaded_mainloop* loop, pa_context* context, int timeoutMs,
                  std::string& name);
int device(pa_threaded_mainloop* loop, pa_context* context, int timeoutMs, const QByteArray& name,
           Recordable& found);
int outputNamed(pa_threaded_mainloop* loop, pa_context* context, int timeoutMs,
                const std::string& name, Recordable& found);
// The output the playback stream `streamIndex` plays on.
int outputOfStream(pa_threaded_mainloop* loop, pa_context* context, int timeoutMs,
                   uint32_t streamIndex, Recordable& found);

} // namespace PulseLookup
