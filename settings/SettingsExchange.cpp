#include "settings/SettingsExchange.h"

#include <cstring>

#include "settings/SettingsRecord.h"
#include "settings/TrackerText.h"
#include "log/SupportLog.h"

uint8_t g_recordCount = 0;

const char OoCommand[] = "GSS,KestrelonKV-718,3,0,OO=20*26!\r\n";
const char L0Query[] = "GSC,KestrelonKV-718,L0*76!\r\n";

namespace {

// The tracker needs a moment between the two commands of the pair.
constexpr uint32_t kBetweenPairMs = 100;
// The tracker keeps talking but no record fits: one was lost, so ask for the dump again.
constexpr uint32_t kResendAfterMs = 10000;
constexpr uint32_t kDumpLimitMs = 120000;
constexpr int kFailedReadsOfAGonePort = 2;
// The tracker stores each setting before it takes the next.
constexpr uint32_t kAfterRestoreCommandMs = 1000;
// A line of the tracker fits 512 bytes with its LF and the end of the text.
constexpr size_t kMaxLineChars = 510;
constexpr size_t kRestoreCommandBytes = 1024;
// Set just before the closing record is counted, so that the bar ends full at 255.
constexpr uint8_t kClosingRecordCount = 254;

void SendPair(CommandPort& port, Clock& clock) {
    // A pair that did not go out shows only as a tracker that does not answer.
    port.Write(OoCommand, static_cast<uint32_t>(std::strlen(OoCommand)));
    clock.SleepMs(kBetweenPairMs);
    port.Write(L0Query, static_cast<uint32_t>(std::strlen(L0Query)));
}

enum class LineEnd {
    kWhole,       // its LF came
    kBroken,      // the line fell silent for the port's read time-out, grew too long (it is
                  // dropped up to its LF), may hold a byte the line garbled or lost, or ran
                  // past the dump's limit
    kReadFailed,  // a read failed
};

// The tracker's lines during the dump, each checked against the line errors the driver
// reports; the pair goes again when no record has come for a while.
class DumpLines {
public:
    DumpLines(CommandPort& port, Clock& clock)
        : port_(port), clock_(clock), startMs_(clock.NowMs()), lastProgressMs_(startMs_) {}

    // Gathers one line, its LF dropped.
    LineEnd Next(std::string& line) {
        line.clear();
        // A line error makes every read fail until the error state is read; one reported now
        // spoils the bytes to come.
        LineErrorReported();
        bool spoiled = false;
        bool tooLong = false;
        char byte = 0;
        uint32_t got = 0;
        for (;;) {
            if (!port_.Read(&byte, 1, &got))
                return LineEnd::kReadFailed;
            if (got != 1)
                return LineEnd::kBroken;
            if (suspectBytes_ > 0) {
                --suspectBytes_;
                spoiled = true;
            }
            if (byte == '\n') {
                spoiled = LineErrorReported() || spoiled;
                return spoiled || tooLong ? LineEnd::kBroken : LineEnd::kWhole;
            }
            if (line.size() < kMaxLineChars)
                line += byte;
            else
                tooLong = true;
            if (HasExceeded(clock_.NowMs(), lastProgressMs_, kResendAfterMs)) {
                ++repeatedQueries;
                SendPair(port_, clock_);
                lastProgressMs_ = clock_.NowMs();
            }
            // A line that never ends must not hold the page past the dump's limit.
            if (PastLimit())
                return LineEnd::kBroken;
        }
    }
    void RecordCame() { lastProgressMs_ = clock_.NowMs(); }
    bool PastLimit() { return HasExceeded(clock_.NowMs(), startMs_, kDumpLimitMs); }
    uint32_t SinceStartMs() { return clock_.NowMs() - startMs_; }

    // For the support log.
    unsigned repeatedQueries = 0;
    unsigned lineErrors = 0;

private:
    // Reads and clears the line's error state. A reported error may have garbled or dropped any
    // byte that came since the state was last read: one of the line being read, one of those
    // that wait, or one lost just before the next to come. Each of them spoils its line.
    bool LineErrorReported() {
        uint32_t waiting = 0;
        bool lineError = false;
        port_.BytesWaiting(&waiting, &lineError);
        if (lineError) {
            ++lineErrors;
            suspectBytes_ = waiting + 1;
        }
        return lineError;
    }

    CommandPort& port_;
    Clock& clock_;
    const uint32_t startMs_;
    uint32_t lastProgressMs_;
    uint32_t suspectBytes_ = 0;  // the next bytes to read that came before a reported line error
};

// Reads and drops whatever the tracker has sent, clearing the line's error state; false when the
// port no longer answers.
bool DropWhatWaits(CommandPort& port) {
    uint32_t waiting = 0;
    if (!port.BytesWaiting(&waiting, nullptr))
        return false;
    char dropped[256];
    for (uint32_t got = 0; waiting > 0; waiting -= got) {
        if (!port.Read(dropped, waiting < sizeof dropped ? waiting : sizeof dropped, &got) || got == 0)
            break;
    }
    return true;
}

}  // namespace

bool ReadSettingsDump(CommandPort& port,
                      Clock& clock,
                      std::vector<std::string>& commands,
                      const std::function<void(uint8_t)>& onAccepted) {
    SendPair(port, clock);
    DumpLines lines(port, clock);
    g_recordCount = 0;
    bool closingRecordCame = false;
    int failedReadsInARow = 0;
    unsigned brokenLines = 0;
    unsigned recordsOutOfPlace = 0;
    std::string line;
    while (port.IsOpen()) {
        const LineEnd end = lines.Next(line);
        // Silence with nothing read is no broken line.
        if (end != LineEnd::kWhole && !line.empty())
            ++brokenLines;
        // A read that fails again right after the line's error state was cleared is a port that
        // has gone (the cable came out): nothing more will come, so the dump ends now.
        failedReadsInARow = end == LineEnd::kReadFailed ? failedReadsInARow + 1 : 0;
        if (failedReadsInARow >= kFailedReadsOfAGonePort) {
            LogLine("settings dump: the port no longer answers");
            port.Close();
        }
        if (end == LineEnd::kWhole && IsSettingsRecord(line.data(), line.size())) {
            switch (PlaceOfRecord(line, g_recordCount)) {
                case RecordPlace::kWrongStart:
                    LogLine("settings dump: the first record is not the dump's first");
                    port.Close();
                    break;
                case RecordPlace::kElsewhere:
                    ++recordsOutOfPlace;
                    break;
                case RecordPlace::kLast:
                    g_recordCount = kClosingRecordCount;
                    closingRecordCame = true;
                    port.Close();
                    [[fallthrough]];
                case RecordPlace::kNext:
                    commands.push_back(RestoreCommandFor(line));
                    ++g_recordCount;
                    onAccepted(g_recordCount);
                    lines.RecordCame();
                    break;
            }
        }
        if (lines.PastLimit())
            port.Close();
    }
    // Counts only: a record's payload is the owner's (phone numbers, passwords, servers).
    LogLine(
        "settings dump: %u records, %s; %u out of place (a record lost before them), %u broken lines, "
        "%u line errors, %u repeated queries, %u ms",
        static_cast<unsigned>(commands.size()), closingRecordCame ? "the last came" : "the last never came",
        recordsOutOfPlace, brokenLines, lines.lineErrors, lines.repeatedQueries, lines.SinceStartMs());
    return closingRecordCame;
}

CommandSent SendRestoreCommand(CommandPort& port, Clock& clock, const std::wstring& command) {
    if (!DropWhatWaits(port))
        return CommandSent::kPortGone;
    // A setting changed on the way, or half a setting, is worse than none.
    std::string text;
    if (!NarrowTrackerText(command, text) || text.size() > kRestoreCommandBytes)
        return CommandSent::kNotSent;
    if (!port.Write(text.data(), static_cast<uint32_t>(text.size()))) {
        uint32_t waiting = 0;
        return port.BytesWaiting(&waiting, nullptr) ? CommandSent::kNotSent : CommandSent::kPortGone;
    }
    clock.SleepMs(kAfterRestoreCommandMs);
    return CommandSent::kSent;
}
