#include "audio/CaptureFaults.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

constexpr double t0 = 100.0; // seconds on the steady clock

StreamFault fault(StreamFault::Kind kind, const QString& reason, const QString& device,
                  double after = 0) {
    return {kind, reason, device, t0 + after};
}

} // namespace

TEST(CaptureFaultText, NamesTheStreamAndItsDeviceOrTheLostServer) {
    using Kind = StreamFault::Kind;
    using Stream = CaptureFaults::Stream;
    const struct {
        Stream stream;
        StreamFault fault;
        QString text;
    } rows[] = {
        {Stream::microphone, fault(Kind::streamEnded, u"Entity killed"_s, u"FakeMic"_s),
         u"The sound server ended the microphone recording on FakeMic: Entity killed."_s},
        {Stream::meeting, fault(Kind::streamEnded, u"Entity killed"_s, u"FakeSpeakers"_s),
         u"The sound server ended the meeting recording on FakeSpeakers: Entity killed."_s},
        {Stream::meeting, fault(Kind::streamEnded, u"Entity killed"_s, {}),
         u"The sound server ended the meeting recording: Entity killed."_s},
        {Stream::microphone, fault(Kind::connectionLost, u"Connection terminated"_s, u"FakeMic"_s),
         u"The connection to the sound server was lost (Connection terminated), so nothing more "
         u"is recorded. Once the sound server runs again, press Stop, then Start."_s},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        const CaptureFault described = CaptureFaults::describe(row.stream, row.fault);
        EXPECT_EQ(described.description, row.text);
        EXPECT_EQ(described.at, row.fault.at);
    }
}

// The reports of one run reach the main thread in any order; the banner ends on the one that
// happened first, and changes only when its words would.
TEST(CaptureFaultOrder, TheEarliestFailureIsShownWhateverOrderTheReportsCome) {
    const CaptureFault lost{u"lost"_s, t0 + 0.010};
    const CaptureFault lostToo{u"lost"_s, t0 + 0.012};
    const CaptureFault refused{u"refused"_s, t0 + 0.020};
    const CaptureFault killed{u"killed"_s, t0 + 0.005};
    const struct {
        const char* name;
        std::vector<CaptureFault> reports;
        std::vector<bool> shown;
        QString last;
    } rows[] = {
        {"cause first", {lost, refused}, {true, false}, u"lost"_s},
        {"consequence first", {refused, lost}, {true, true}, u"lost"_s},
        {"same words twice", {lostToo, lost, refused}, {true, false, false}, u"lost"_s},
        {"three out of order", {refused, lost, killed}, {true, true, true}, u"killed"_s},
        {"equal times keep the first",
         {lost, CaptureFault{u"other"_s, lost.at}},
         {true, false},
         u"lost"_s},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CaptureFaults::Earliest earliest;
        std::vector<bool> shown;
        for (const CaptureFault& report : row.reports)
            shown.push_back(earliest.offer(report));
        EXPECT_EQ(shown, row.shown);
        ASSERT_TRUE(earliest.shown());
        EXPECT_EQ(earliest.shown()->description, row.last);
        earliest.reset();
        EXPECT_FALSE(earliest.shown());
        EXPECT_TRUE(earliest.offer(refused)) << "a new run starts afresh";
    }
}
