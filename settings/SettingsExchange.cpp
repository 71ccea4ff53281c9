#include "settings/SettingsExchange.h"

#include <cstring>

#include "settings/SettingsRecord.h"
#include "settings/TrackerText.h"

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
    kBroken,      // the line fell silent for the port's read time-out, or grew too long (its
                  // LF, if it comes, is dropped with it)
    kReadFailed,  // a read failed
};

// Gathers one line, its LF dropped.
LineEnd ReadLine(CommandPort& port, Clock& clock, uint32_t& lastProgressMs, std::string& line) {
    line.clear();
    // A line error makes every read fail until the error state is read.
    uint32_t waiting = 0;
    port.BytesWaiting(&waiting);
    char byte = 0;
    uint32_t got = 0;
    for (;;) {
        if (!port.Read(&byte, 1, &got))
            return LineEnd::kReadFailed;
        if (got != 1 || line.size() > kMaxLineChars)
            return LineEnd::kBroken;
        if (byte == '\n')
            return LineEnd::kWhole;
        line += byte;
        if (HasExceeded(clock.NowMs(), lastProgressMs, kResendAfterMs)) {
            SendPair(port, clock);
            lastProgressMs = clock.NowMs();
        }
    }
}

// Reads and drops whatever the tracker has sent, clearing the line's error state; false when the
// port no longer answers.
bool DropWhatWaits(CommandPort& port) {
    uint32_t waiting = 0;
    if (!port.BytesWaiting(&waiting))
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
                      std::vector<std::wstring>& commands,
                      const std::function<void(uint8_t)>& onAccepted) {
    SendPair(port, clock);
    const uint32_t startMs = clock.NowMs();
    uint32_t lastProgressMs = startMs;
    g_recordCount = 0;
    bool closingRecordCame = false;
    int failedReadsInARow = 0;
    std::string line;
    while (port.IsOpen()) {
        const LineEnd end = ReadLine(port, clock, lastProgressMs, line);
        // A read that fails again right after the line's error state was cleared is a port that
        // has gone (the cable came out): nothing more will come, so the dump ends now.
        failedReadsInARow = end == LineEnd::kReadFailed ? failedReadsInARow + 1 : 0;
        if (failedReadsInARow >= kFailedReadsOfAGonePort)
            port.Close();
        if (end == LineEnd::kWhole && IsSettingsRecord(line.data(), line.size())) {
            const std::wstring record = WidenTrackerText(line + '\n');
            switch (PlaceOfRecord(record, g_recordCount)) {
                case RecordPlace::kWrongStart:
                    port.Close();
                    break;
                case RecordPlace::kElsewhere:
                    break;
                case RecordPlace::kLast:
                    g_recordCount = kClosingRecordCount;
                    closingRecordCame = true;
                    port.Close();
                    [[fallthrough]];
                case RecordPlace::kNext:
                    commands.push_back(RestoreCommandFor(record));
                    ++g_recordCount;
                    onAccepted(g_recordCount);
                    lastProgressMs = clock.NowMs();
                    break;
            }
        }
        if (HasExceeded(clock.NowMs(), startMs, kDumpLimitMs))
            port.Close();
    }
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
        return port.BytesWaiting(&waiting) ? CommandSent::kNotSent : CommandSent::kPortGone;
    }
    clock.SleepMs(kAfterRestoreCommandMs);
    return CommandSent::kSent;
}
