// Runs one piece of the program's command-port code against a real COM port and prints what
// happened as one JSON line, for the component tests to compare with what the simulated tracker
// saw on its side of the line.
//
//   command_port_probe <action> <port name>
//     open              OpenTrackerPort, then the settings, time-outs and input queue as the
//                       driver reports them
//     read-silent       one read on a quiet line: how long it waits and what it returns
//     write-byte        one plain write of one byte: what the driver reports
//     wait-boot-loader  WaitForBootLoader
//     send-reset        SendResetCommand
//     reset-wait        the power-on page's whole wait: reset, then the port coming back
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/SharedState.h"
#include "link/ModeChangeWaits.h"
#include "link/TrackerCommands.h"
#include "link/Win32CommandPort.h"
#include "link/WindowsVersion.h"

namespace {

std::string Field(const char* name, unsigned long value) {
    char text[96];
    std::snprintf(text, sizeof text, "\"%s\": %lu", name, value);
    return text;
}

std::string Flag(const char* name, bool value) {
    return std::string("\"") + name + "\": " + (value ? "true" : "false");
}

std::string Outcome(bool result, DWORD startMs) {
    return Flag("result", result) + ", " + Field("elapsed_ms", GetTickCount() - startMs) + ", " +
           Flag("handle_invalid", g_portHandle == INVALID_HANDLE_VALUE);
}

std::string Open() {
    const DWORD startMs = GetTickCount();
    HANDLE port = OpenTrackerPort();
    if (port == INVALID_HANDLE_VALUE)
        return Flag("opened", false) + ", " + Field("error", GetLastError()) + ", " +
               Field("elapsed_ms", GetTickCount() - startMs);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    COMMTIMEOUTS timeouts = {};
    GetCommTimeouts(port, &timeouts);
    DWORD errors = 0;
    COMSTAT status = {};
    ClearCommError(port, &errors, &status);
    CloseHandle(port);
    return Flag("opened", true) + ", " + Field("baud", dcb.BaudRate) + ", " +
           Field("byte_size", dcb.ByteSize) + ", " + Field("parity", dcb.Parity) + ", " +
           Field("stop_bits", dcb.StopBits) + ", " + Field("binary", dcb.fBinary) + ", " +
           Field("cts_flow", dcb.fOutxCtsFlow) + ", " + Field("dsr_flow", dcb.fOutxDsrFlow) + ", " +
           Field("dtr_control", dcb.fDtrControl) + ", " + Field("rts_control", dcb.fRtsControl) + ", " +
           Field("out_x", dcb.fOutX) + ", " + Field("in_x", dcb.fInX) + ", " +
           Field("null_discard", dcb.fNull) + ", " + Field("abort_on_error", dcb.fAbortOnError) + ", " +
           Field("read_interval", timeouts.ReadIntervalTimeout) + ", " +
           Field("read_multiplier", timeouts.ReadTotalTimeoutMultiplier) + ", " +
           Field("read_constant", timeouts.ReadTotalTimeoutConstant) + ", " +
           Field("write_multiplier", timeouts.WriteTotalTimeoutMultiplier) + ", " +
           Field("write_constant", timeouts.WriteTotalTimeoutConstant) + ", " +
           Field("waiting", status.cbInQue);
}

std::string ReadSilent() {
    Win32CommandPort port;
    if (!port.Open())
        return Flag("opened", false);
    char buffer[16];
    uint32_t got = 0;
    const DWORD startMs = GetTickCount();
    const bool ok = port.Read(buffer, sizeof buffer, &got);
    const DWORD elapsedMs = GetTickCount() - startMs;
    port.Close();
    return Flag("opened", true) + ", " + Flag("read_ok", ok) + ", " + Field("got", got) + ", " +
           Field("elapsed_ms", elapsedMs);
}

std::string WriteOneByte() {
    HANDLE port = OpenTrackerPort();
    if (port == INVALID_HANDLE_VALUE)
        return Flag("opened", false);
    DWORD written = 0;
    const BOOL reported = WriteFile(port, "2", 1, &written, nullptr);
    CloseHandle(port);
    return Flag("opened", true) + ", " + Flag("reported_ok", reported) + ", " + Field("written", written);
}

class RecordedReport : public WorkerReport {
public:
    void Succeeded() override { reports += reports.empty() ? "\"succeeded\"" : ", \"succeeded\""; }
    void Failed() override { reports += reports.empty() ? "\"failed\"" : ", \"failed\""; }
    std::string reports;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: command_port_probe <action> <port name>\n");
        return 2;
    }
    wchar_t portName[PortNameSlot::kMaxChars + 1] = {};
    MultiByteToWideChar(CP_ACP, 0, argv[2], -1, portName, PortNameSlot::kMaxChars + 1);
    g_portName.Set(portName);

    const std::string action = argv[1];
    std::string result;
    const DWORD startMs = GetTickCount();
    Win32CommandPort port;
    if (action == "open") {
        result = Open();
    } else if (action == "read-silent") {
        result = ReadSilent();
    } else if (action == "write-byte") {
        result = WriteOneByte();
    } else if (action == "wait-boot-loader") {
        const bool answered = WaitForBootLoader(port, SystemClock());
        result = Outcome(answered, startMs);
    } else if (action == "send-reset") {
        const bool sent = SendResetCommand(port, SystemClock(), QueryWindowsVersion);
        result = Outcome(sent, startMs);
    } else if (action == "reset-wait") {
        RecordedReport report;
        const int exitCode = RunResetWait(port, SystemClock(), QueryWindowsVersion, report);
        result = Outcome(exitCode == 1, startMs) + ", \"reports\": [" + report.reports + "]";
    } else {
        std::fprintf(stderr, "unknown action %s\n", argv[1]);
        return 2;
    }
    std::printf("{%s}\n", result.c_str());
    std::fflush(stdout);
    return 0;
}
