// The rules the serial driver model is most likely to get wrong: when each read and write mode
// returns, the write time-out in 64 bits, abort-on-error, settings kept from one open to the next,
// the receive queue's overflow. Every test starts 64 ms before the tick count wraps.
#include <gtest/gtest.h>

#include <functional>

#include "SerialDriverModel.h"

namespace {
constexpr uint32_t kStartMs = 0xFFFFFFC0;

HANDLE Open(SerialDriverModel& line, const wchar_t* name = L"COM7") {
    line.Plug(name);
    return line.CreateFileW((std::wstring(L"\\\\.\\") + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            OPEN_EXISTING, 0);
}
}  // namespace

TEST(SerialDriverModel, ReadsAndWritesReturnWhenTheirTimeOutsSay) {
    // The tracker sends "abc" at 30 ms and "de" at 70 ms; the line takes the PC's bytes from
    // stalledUntilMs on (0: at once; kNever: never).
    const uint32_t kNever = UINT32_MAX;
    const struct {
        bool write, completesAsBytesLeave;
        COMMTIMEOUTS timeouts;
        uint32_t stalledUntilMs;
        DWORD size, count;
        uint32_t returnsAtMs;
    } rows[] = {
        {false, false, {MAXDWORD, 0, 0, 0, 0}, 0, 10, 0, 0},            // at once, with what has come
        {false, false, {MAXDWORD, MAXDWORD, 100, 0, 0}, 0, 10, 1, 30},  // as soon as a byte is in
        {false, false, {MAXDWORD, MAXDWORD, 20, 0, 0}, 0, 10, 0, 20},   // or after the constant
        {false, false, {0, 0, 100, 0, 0}, 0, 10, 5, 100},               // total time-out
        {false, false, {0, 10, 0, 0, 0}, 0, 4, 3, 40},                  // multiplier x bytes asked
        {false, false, {5, 0, 0, 0, 0}, 0, 10, 3, 35},                  // 5 ms after the last byte
        {true, false, {0, 0, 0, 0, 0}, 0, 1000, 1000, 0},               // into the transmit queue
        {true, true, {0, 0, 0, 0, 0}, 0, 1000, 1000, 86},               // once 1000 bytes have left
        {true, true, {0, 0, 0, 0, 50}, 0, 1000, 576, 50},               // those that left in 50 ms
        {true, false, {0, 0, 0, MAXDWORD, 100}, 1000, 1, 1, 1000},      // 49.7 days, not 99 ms
        {true, false, {0, 0, 0, 0, 100}, kNever, 1, 0, 100},            // none taken
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        SerialDriverModel line(kStartMs);
        const HANDLE port = Open(line);
        line.timeouts = row.timeouts;
        line.completesAsBytesLeave = row.completesAsBytesLeave;
        line.stalled = row.stalledUntilMs != 0;
        if (row.stalledUntilMs != kNever)
            line.StallAt(kStartMs + row.stalledUntilMs, false);
        line.Send(kStartMs + 30, "abc");
        line.Send(kStartMs + 70, "de");
        std::string buffer(row.size, 'x');
        DWORD count = 99;
        EXPECT_TRUE(row.write ? line.WriteFile(port, buffer.data(), row.size, &count)
                              : line.ReadFile(port, &buffer[0], row.size, &count));
        EXPECT_EQ(row.count, count);
        EXPECT_EQ(row.returnsAtMs, line.NowMs() - kStartMs);
    }
}

// The settings of an earlier open outlive its handle and the device coming back under another
// name; a second open is refused while the port is open.
TEST(SerialDriverModel, AbortOnErrorKeptFromAnEarlierOpenFailsAllButClearCommError) {
    SerialDriverModel line(kStartMs);
    HANDLE port = Open(line);
    DCB dcb = line.dcb;
    dcb.fAbortOnError = TRUE;
    COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, 100, 0, 0};
    ASSERT_TRUE(line.SetCommState(port, &dcb) && line.SetCommTimeouts(port, &timeouts));
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(line));
    EXPECT_EQ(DWORD{ERROR_ACCESS_DENIED}, line.GetLastError());
    line.CloseHandle(port);
    line.Unplug();
    port = Open(line, L"COM9");
    line.LineError(kStartMs + 10, CE_FRAME);
    char byte;
    DWORD count;
    const std::function<BOOL()> calls[] = {
        [&] { return line.ReadFile(port, &byte, 1, &count); },
        [&] { return line.WriteFile(port, "x", 1, &count); },
        [&] { return line.PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR); },
        [&] { return line.FlushFileBuffers(port); },
        [&] { return line.GetCommState(port, &dcb); },
        [&] { return line.SetCommState(port, &dcb); },
        [&] { return line.GetCommTimeouts(port, &timeouts); },
        [&] { return line.SetCommTimeouts(port, &timeouts); },
    };
    for (const auto& call : calls) {
        SCOPED_TRACE(testing::Message() << "call " << &call - calls);
        EXPECT_FALSE(call());
        EXPECT_EQ(DWORD{ERROR_OPERATION_ABORTED}, line.GetLastError());
    }
    EXPECT_EQ(10u, line.NowMs() - kStartMs);  // the waiting read was cancelled at the error
    DWORD errors = 0;
    EXPECT_TRUE(line.ClearCommError(port, &errors, nullptr));
    EXPECT_EQ(DWORD{CE_FRAME}, errors);
    for (const auto& call : calls)
        EXPECT_TRUE(call());
}

TEST(SerialDriverModel, ABytePastAFullReceiveQueueIsLost) {
    SerialDriverModel line(kStartMs);
    const HANDLE port = Open(line);
    line.Send(kStartMs, std::string(4097, 'x'));
    line.Advance(1000);
    DWORD errors = 0;
    COMSTAT status = {};
    EXPECT_TRUE(line.ClearCommError(port, &errors, &status));
    EXPECT_EQ(DWORD{CE_RXOVER}, errors);
    EXPECT_EQ(4096u, status.cbInQue);
}
