#include "audio/OutputChoice.h"

#include <QHash>

namespace OutputChoice {
namespace {

bool isOwn(const PulseProperties& properties, const SoundServerListing::Self& self) {
    const int32_t pid = SoundServerListing::processID(properties);
    const QString bundle = SoundServerListing::bundleID(properties);
    return (pid >= 0 && pid == self.pid) || (!bundle.isEmpty() && bundle == self.bundleID);
}

const PulseSink* named(const QList<PulseSink>& outputs, const QString& name) {
    for (const PulseSink& output : outputs)
        if (output.name == name)
            return &output;
    return nullptr;
}

} // namespace

std::optional<PulseSink> choose(const Listing& listing, const SoundServerListing::Self& self,
                                const QString& namedLike, const QString& current) {
    if (!namedLike.isEmpty())
        for (const PulseSink& output : listing.outputs)
            if (output.description.contains(namedLike, Qt::CaseInsensitive))
                return output;

    QHash<uint32_t, uint32_t> sinkOfStream;
    for (const PulseSinkInput& stream : listing.streams)
        sinkOfStream.insert(stream.index, stream.sink);
    QHash<uint32_t, int> playing; // per sink index
    for (const AudioProcessInfo& process :
         SoundServerListing::runningAudioProcesses(listing.streams, listing.clients, self))
        if (process.objectID)
            ++playing[sinkOfStream.value(*process.objectID)];
    QHash<uint32_t, bool> recordedByOthers; // per source index
    for (const PulseSourceOutput& recording : listing.recordings)
        if (!isOwn(recording.properties, self))
            recordedByOthers.insert(recording.source, true);

    const PulseSink* fallback = named(listing.outputs, listing.defaultOutput);
    const auto plays = [&](const PulseSink* output) {
        if (!output || playing.value(output->index) == 0)
            return false;
        return output == fallback || !recordedByOthers.value(output->monitorSource);
    };
    const PulseSink* kept = current.isEmpty() ? nullptr : named(listing.outputs, current);
    if (plays(kept))
        return *kept;
    if (plays(fallback))
        return *fallback;
    const PulseSink* busiest = nullptr;
    for (const PulseSink& output : listing.outputs)
        if (plays(&output) &&
            (!busiest || playing.value(output.index) > playing.value(busiest->index)))
            busiest = &output;
    if (busiest)
        return *busiest;
    // Nothing plays anywhere: stay where the capture is, so a call's pause moves nothing.
    if (kept)
        return *kept;
    if (fallback)
        return *fallback;
    if (!listing.outputs.isEmpty())
        return listing.outputs.first();
    return std::nullopt;
}

} // namespace OutputChoice
