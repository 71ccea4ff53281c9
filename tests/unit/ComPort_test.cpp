// The tracker's COM port, and each page's work through it, on the model of the Windows serial
// driver: what a user's PC does where Wine's port is kinder (abort-on-error kept from the last
// use, refused settings, a stalled line, an overflowing queue, Windows' timer, a pulled cable).
#include "link/ComPort.h"

#include <gtest/gtest.h>
#include <io.h>

#include <functional>
#include <string>
#include <vector>

#include "RecordingReport.h"
#include "SerialDriverModel.h"
#include "TempFolder.h"
#include "link/BootLoaderWork.h"
#include "link/RestartWork.h"
#include "link/TrackerCommands.h"
#include "settings/BackupFile.h"
#include "settings/RestoreSettingsWork.h"
#include "transfer/UploadWork.h"

namespace {

constexpr uint32_t kReplyAfterMs = 10;
const wchar_t* const kTimeout = L"Превышено время ожидания! 16; ";

// The tracker: it hears each write in full, and answers as a test has it.
struct Tracker : LinePeer {
    explicit Tracker(SerialDriverModel& line) : line(line) { line.peer = this; }
    void Opened(uint32_t ms) override {
        if (onOpened)
            onOpened(ms);
    }
    void Received(const std::string& bytes, uint32_t ms) override {
        heard.push_back(bytes);
        if (onReceived)
            onReceived(bytes, ms);
    }
    SerialDriverModel& line;
    std::function<void(const std::string&, uint32_t)> onReceived;
    std::function<void(uint32_t)> onOpened;
    std::vector<std::string> heard;
};

// A tracker on COM7, the port opened by that name, on Windows' default timer.
struct Rig {
    explicit Rig(LineProfile profile = LineProfile::kCommands, uint32_t startMs = 1000)
        : line(startMs), port(line, line, name, profile) {
        line.tickMs = 15.625;
        name.Set(L"COM7");
        line.Plug(L"COM7");
    }
    SerialDriverModel line;
    PortNameSlot name;
    ComPort port;
    Tracker tracker{line};
};

}  // namespace

TEST(ComPort, OpensOnlyAPortItCanSetUpAndStartsFromAClearLine) {
    // The port as the last user left it, abort-on-error on and the driver's all-zero time-outs,
    // with which a read waits for ever; a line error as it opens (the boot loader talking at
    // another speed), or a driver that refuses what it is asked.
    enum Left { kClean, kErrorAsItOpens, kTimeoutsRefused, kSettingsRefused, kAFile, kNoName };
    const struct {
        Left left;
        bool opens;
    } kCases[] = {{kClean, true},           {kErrorAsItOpens, true}, {kTimeoutsRefused, false},
                  {kSettingsRefused, true}, {kAFile, false},         {kNoName, false}};
    for (LineProfile profile : {LineProfile::kCommands, LineProfile::kUpload}) {
        for (const auto& c : kCases) {
            SCOPED_TRACE(std::to_string(static_cast<int>(profile)) + " left " + std::to_string(c.left));
            Rig rig(profile);
            rig.line.dcb.fAbortOnError = TRUE;
            rig.line.dcb.fOutxCtsFlow = TRUE;
            if (c.left == kErrorAsItOpens)
                rig.tracker.onOpened = [&rig](uint32_t ms) { rig.line.LineError(ms, CE_FRAME); };
            rig.line.refuseTimeouts = c.left == kTimeoutsRefused;
            rig.line.refuseDcb = c.left == kSettingsRefused;
            if (c.left == kAFile) {
                rig.line.PlugFile(L"\\\\.\\C:\\x");
                rig.name.Set(L"C:\\x");
            }
            if (c.left == kNoName)
                rig.name.Set(L"");
            ASSERT_EQ(c.opens, rig.port.Open());
            EXPECT_EQ(c.opens, rig.line.IsOpen()) << "a port that cannot be used is closed again";
            EXPECT_EQ("", rig.line.fileWrites);
            if (!c.opens)
                continue;
            // A read of a quiet line ends.
            uint8_t buffer[16];
            uint32_t got = 0;
            if (profile == LineProfile::kCommands)
                EXPECT_TRUE(rig.port.Read(buffer, sizeof buffer, &got));
            else
                got = static_cast<uint32_t>(rig.port.Read(buffer, sizeof buffer, 50));
            EXPECT_EQ(0u, got);
            // A line error is told, but not one from before the open.
            bool lineError = true;
            EXPECT_TRUE(rig.port.BytesWaiting(&got, &lineError) && !lineError);
            rig.line.LineError(rig.line.NowMs(), CE_FRAME);
            EXPECT_TRUE(rig.port.BytesWaiting(&got, &lineError) && lineError);
            if (c.left != kSettingsRefused) {
                // The command line aborts on errors and has no flow control; the transfer keeps the
                // driver's flow control and goes on after an error.
                const bool commands = profile == LineProfile::kCommands;
                EXPECT_EQ(commands, rig.line.dcb.fAbortOnError != 0);
                EXPECT_EQ(!commands, rig.line.dcb.fOutxCtsFlow != 0);
                EXPECT_EQ(115200u, rig.line.dcb.BaudRate);
            }
        }
    }
}

TEST(ComPort, WaitsEndWhenTheByteMovesAndNeverBeforeTheirLength) {
    Rig rig(LineProfile::kUpload);
    rig.line.completesAsBytesLeave = true;
    ASSERT_TRUE(rig.port.Open());
    uint8_t byte = 0;
    uint32_t startMs = rig.line.NowMs();
    rig.line.Send(startMs + 37, "C");
    EXPECT_EQ(1, rig.port.Read(&byte, 1, 3000));
    EXPECT_EQ(37u, rig.line.NowMs() - startMs) << "taken when it came, not at a poll";
    startMs = rig.line.NowMs();
    EXPECT_EQ(0, rig.port.Read(&byte, 1, 25));
    EXPECT_EQ(25u, rig.line.NowMs() - startMs);
    // What came with the first byte is taken with it.
    uint8_t bytes[16];
    rig.line.Send(rig.line.NowMs(),
                  "\x06"
                  "C");
    rig.line.SleepMs(1);
    EXPECT_EQ(2, rig.port.Read(bytes, sizeof bytes, 3000));
    // A whole frame in one write, as the line takes it (89.3 ms at 115200 bit/s).
    const std::string frame(1029, 'x');
    startMs = rig.line.NowMs();
    EXPECT_EQ(1029, rig.port.Write(reinterpret_cast<const uint8_t*>(frame.data()), 1029, 1000));
    EXPECT_EQ(89u, rig.line.NowMs() - startMs);
    // A stalled line: the transfer's write and the command's both end on time.
    rig.line.stalled = true;
    startMs = rig.line.NowMs();
    EXPECT_EQ(0, rig.port.Write(reinterpret_cast<const uint8_t*>(frame.data()), 1029, 300));
    EXPECT_EQ(300u, rig.line.NowMs() - startMs);
    Rig command;
    command.line.stalled = true;
    ASSERT_TRUE(command.port.Open());
    startMs = command.line.NowMs();
    EXPECT_FALSE(command.port.Write("2", 1));
    EXPECT_EQ(101u, command.line.NowMs() - startMs) << "1 ms a byte and 100 ms";
}

TEST(PageWork, BootLoaderAndRestartOnTheDriver) {
    // Page 5: the boot loader answers the third request. Page 7: the tracker restarts on "2" and
    // comes back as COM8, or not at all, when the 40 s are counted by the clock, not by the
    // pauses' nominal lengths (each lasts a tick longer on Windows' timer), and a wrap of the
    // clock in the middle does not end them early.
    Rig boot;
    boot.tracker.onReceived = [&boot](const std::string&, uint32_t ms) {
        if (boot.tracker.heard.size() == 3)
            boot.line.Send(ms + kReplyAfterMs, "abort");
    };
    RecordingReport bootReport;
    EXPECT_EQ(1, RunBootLoaderWork(boot.port, boot.line, bootReport));
    EXPECT_EQ(L"succeeded; ", bootReport.log);
    EXPECT_EQ(std::vector<std::string>(3, "1"), boot.tracker.heard);
    EXPECT_FALSE(boot.line.IsOpen());

    for (bool comesBack : {true, false}) {
        SCOPED_TRACE(comesBack ? "comes back" : "stays away");
        Rig reset(LineProfile::kCommands, 0xFFFFF000);
        uint32_t resetMs = 0;
        reset.tracker.onReceived = [&](const std::string& bytes, uint32_t ms) {
            EXPECT_EQ("2", bytes);
            resetMs = ms;
            reset.line.UnplugAt(ms + 50);
            if (comesBack)
                reset.line.PlugAt(ms + 3000, L"COM8");
            reset.name.Set(L"COM8");
        };
        RecordingReport report;
        EXPECT_EQ(comesBack ? 1 : 0, RunRestartWork(
                                         reset.port, reset.line, [] { return true; }, report));
        EXPECT_EQ(comesBack ? L"succeeded; " : kTimeout, report.log);
        const uint32_t waitedMs = reset.line.NowMs() - resetMs;
        if (!comesBack) {
            EXPECT_GT(waitedMs, 40000u);
            EXPECT_LT(waitedMs, 40000u + 1100 + kReopenPauseMs + 16)
                << "the reset's own 1.1 s, then the limit";
        }
        EXPECT_FALSE(reset.line.IsOpen());
    }
}

TEST(PageWork, SettingsWrittenBackOnTheDriver) {
    TempFolder folder;
    const std::wstring backup = folder / L"back.pro";
    ASSERT_TRUE(SaveBackup(backup.c_str(),
                           {L"GSS,KestrelonKV-718,1,0,TZ=+3*QQ!\r\n", L"GSS,KestrelonKV-718,2,1,*QQ!\r\n"}));

    // Page 8: the tracker answers every command with more than the driver's queue holds, still
    // coming as the next command goes out; unless the answers are read, the queue overflows during
    // that write, which abort-on-error cancels. Or the cable comes out after the first command:
    // one box, not one per line.
    const std::string answer = std::string(12000, '#') + "\r\n";
    for (bool pulled : {false, true}) {
        SCOPED_TRACE(pulled ? "cable pulled" : "chatty tracker");
        Rig restore;
        restore.line.completesAsBytesLeave = true;
        restore.tracker.onReceived = [&](const std::string&, uint32_t ms) {
            if (pulled)
                restore.line.UnplugAt(ms + 20);
            else
                restore.line.Send(ms + kReplyAfterMs, answer);
        };
        RecordingReport report;
        EXPECT_EQ(pulled ? 0 : 1, RunRestoreSettingsWork(restore.port, restore.line, report, backup.c_str()));
        EXPECT_EQ(pulled ? L"range 0..1; at 1; Невозможно сохранить данные! 16; "
                         : L"range 0..1; at 1; at 2; succeeded; ",
                  report.log);
        EXPECT_EQ(pulled ? 1u : 2u, restore.tracker.heard.size());
        EXPECT_FALSE(restore.line.IsOpen());
    }
}

namespace {

// The boot loader's YMODEM receiver: it asks with 'C', takes every frame, and asks again after
// block 0 and after the end of file, each answer once the frame is in.
struct Receiver : LinePeer {
    explicit Receiver(SerialDriverModel& line) : line(line) { line.peer = this; }
    void Received(const std::string& bytes, uint32_t ms) override {
        frames.push_back({bytes, ms});
        const bool blockZero = bytes.size() > 3 && bytes[1] == 0;
        const bool again = (blockZero && !sawData) || bytes == "\x04";
        sawData = sawData || !blockZero;
        line.Send(ms + answerMs, again ? "\x06\x43" : "\x06");  // ACK, then 'C' again
    }
    SerialDriverModel& line;
    uint32_t answerMs = 2;
    bool sawData = false;
    std::vector<std::pair<std::string, uint32_t>> frames;  // and when each was in
};

// The image as the upload page hands it down: open for the page alone, with its path and size.
FirmwareImage OpenImage(const std::wstring& path, uint64_t size) {
    return {::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), path.c_str(),
            size};
}

}  // namespace

TEST(PageWork, UploadOnThePacedLineKeepsToTheProtocolsOwnTime) {
    // Each 1 KiB block takes its time on the line, the receiver's answer and 30 ms of quiet, and
    // nothing more: the waits end when the byte arrives.
    Rig rig(LineProfile::kUpload);
    rig.line.completesAsBytesLeave = true;
    Receiver receiver(rig.line);
    rig.line.Send(rig.line.NowMs() + 100, "C");
    TempFolder folder;
    const std::wstring path = folder.Put(L"kv718a.dfu", std::string(8 * 1024, '\x5A'));
    const FirmwareImage image = OpenImage(path, 8 * 1024);
    ::SetFilePointer(image.file, 0, nullptr, FILE_END);  // the upload reads from the first byte
    // Standard output a pipe that nobody reads (a wrapper that captures it): the upload writes
    // nothing there, or a longer one would stop once the pipe is full.
    HANDLE unread, pipe;
    ASSERT_TRUE(::CreatePipe(&unread, &pipe, nullptr, 0));
    (void)std::fflush(stdout);
    const int testOutput = _dup(1);
    ASSERT_EQ(0, _dup2(_open_osfhandle(reinterpret_cast<intptr_t>(pipe), 0), 1));
    RecordingReport report;
    EXPECT_EQ(1, RunUploadWork(rig.port, rig.line, report, image));
    DWORD written = 0;
    (void)std::fflush(stdout);
    ::PeekNamedPipe(unread, nullptr, 0, nullptr, &written, nullptr);
    _dup2(testOutput, 1);
    EXPECT_EQ(0u, written);
    EXPECT_EQ(L"range 1..8; at 0; at 1; at 2; at 3; at 4; at 5; at 6; at 7; at 8; succeeded; ", report.log);
    ASSERT_EQ(11u, receiver.frames.size()) << "block 0, 8 blocks, the end of file, the closing block 0";
    const double boundMs = 1029 * 10 * 1000.0 / 115200 + receiver.answerMs + 30;
    for (size_t i = 2; i <= 8; ++i)
        EXPECT_LE(receiver.frames[i].second - receiver.frames[i - 1].second, boundMs + 1) << "block " << i;
    EXPECT_FALSE(rig.line.IsOpen());
    ::CloseHandle(image.file);
}

TEST(PageWork, EveryUploadFailureGetsItsBoxWithThePortClosedAndTheImageLeftToThePage) {
    // An empty image (a download cut short) is refused before anything goes. The device also
    // goes while a frame goes out, or while its answer is awaited; an image that ends before its
    // size (a read that fails) never gets its end of file.
    enum Fault { kNoPort, kImageEmpty, kNeverAsked, kGoneInAFrame, kGoneBeforeAnAnswer, kImageEndsEarly };
    for (int fault = kNoPort; fault <= kImageEndsEarly; ++fault) {
        SCOPED_TRACE(fault);
        Rig rig(LineProfile::kUpload);
        rig.line.completesAsBytesLeave = true;
        Receiver receiver(rig.line);
        receiver.answerMs = 100;
        if (fault == kGoneInAFrame || fault == kGoneBeforeAnAnswer)
            rig.line.UnplugAt(rig.line.NowMs() + 100 + (fault == kGoneInAFrame ? 30 + 50 : 30 + 89 + 50));
        if (fault != kNeverAsked)
            rig.line.Send(rig.line.NowMs() + 100, "C");
        if (fault == kNoPort)
            rig.line.Unplug();
        TempFolder folder;
        const size_t size = fault == kImageEmpty ? 0 : 1024;
        const auto path = folder.Put(L"kv718a.dfu", std::string(fault == kImageEndsEarly ? 0 : size, 'Z'));
        const FirmwareImage image = OpenImage(path, size);
        RecordingReport report;
        EXPECT_EQ(0, RunUploadWork(rig.port, rig.line, report, image));
        EXPECT_EQ(L"Невозможно сохранить изменения! 16; ", report.log);
        EXPECT_TRUE(fault >= kGoneInAFrame || receiver.frames.empty());
        EXPECT_FALSE(rig.line.IsOpen());
        EXPECT_TRUE(::CloseHandle(image.file) && ::DeleteFileW(path.c_str())) << "closed or left open";
    }
}
