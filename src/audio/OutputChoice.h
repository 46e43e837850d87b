#pragma once

#include "audio/SoundServerListing.h"
#include "audio/pulse/PulseRecords.h"

#include <optional>

// Which output's monitor "what this computer plays" records. The default output is where
// sound usually goes, but a call app may play on a headset that is not the default: the
// output where applications play wins over a silent default. An output whose monitor something
// else records (a virtual microphone made of it, a mixer) is plumbing, not where a person
// listens, and is heard only when it is the default.
namespace OutputChoice {

struct Listing {
    QString defaultOutput; // the server's default sink name
    QList<PulseSink> outputs;
    QList<PulseSinkInput> streams;
    QList<PulseClient> clients;
    QList<PulseSourceOutput> recordings;
};

// `namedLike`: an output whose description contains it is taken whatever plays (a user's
// explicit choice). `current`: the output heard now, kept while applications play on it so a
// notification on another output does not pull the capture away; empty to choose afresh (at
// Start, or when the user changed the default output).
std::optional<PulseSink> choose(const Listing& listing, const SoundServerListing::Self& self,
                                const QString& namedLike = {}, const QString& current = {});

} // namespace OutputChoice
