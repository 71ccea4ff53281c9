// Runs one piece of the program's port code against a real COM port and prints what happened as
// JSON lines, for the component tests to compare with what the simulated tracker saw on its side
// of the line.
//
//   command_port_probe <action> <port name> [arguments]
//     open              OpenTrackerPort, then the settings, time-outs and input queue as the
//                       driver reports them
//     read-silent       one read on a quiet line: how long it waits and what it returns
//     write-byte        one plain write of one byte: what the driver reports
//     wait-boot-loader  WaitForBootLoader
//     send-reset        SendResetCommand
//     reset-wait        the power-on page's whole wait: reset, then the port coming back
//     serial STEP...    the firmware transfer's port (WindowsSerialPort), one JSON line per step:
//                         open                 Open(<port name>)
//                         configure:BAUD       Configure(BAUD)
//                         read:LENGTH:WAIT_MS  Read into a buffer of LENGTH bytes; what came, in hex
//                         write:HEX:WAIT_MS    Write the bytes given in hex
//                         close                Close()
//                         destroy              destroys the port object
//                         other                the following steps use the other of two port objects
//                         mark                 only the line: the next step starts now
//                         await                waits for a line on standard input, so that the test
//                                              can set up the tracker between two steps
//     upload PATH       UploadFirmware with PATH as the chosen firmware file
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/TrackerPortState.h"
#include "link/ModeChangeWaits.h"
#include "link/TrackerCommands.h"
#include "link/Win32CommandPort.h"
#include "link/WindowsVersion.h"
#include "transfer/UploadFirmware.h"
#include "transfer/WindowsSerialPort.h"

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

// Sleep's 10 ms steps must be told apart from a single driver call, which a tick count in whole
// (and under Wine, coarse) milliseconds cannot do.
class Stopwatch {
public:
    Stopwatch() {
        QueryPerformanceFrequency(&frequency_);
        QueryPerformanceCounter(&start_);
    }
    std::string Elapsed() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        char text[48];
        std::snprintf(text, sizeof text, "\"elapsed_ms\": %.3f",
                      static_cast<double>(now.QuadPart - start_.QuadPart) * 1000.0 /
                          static_cast<double>(frequency_.QuadPart));
        return text;
    }

private:
    LARGE_INTEGER frequency_;
    LARGE_INTEGER start_;
};

std::string Number(const char* name, long value) {
    char text[96];
    std::snprintf(text, sizeof text, "\"%s\": %ld", name, value);
    return text;
}

std::string Hex(const uint8_t* data, int32_t length) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (int32_t i = 0; i < length; ++i) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 0x0F];
    }
    return text;
}

std::vector<uint8_t> Bytes(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    return bytes;
}

std::vector<std::string> Split(const std::string& step) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t colon = step.find(':', start);
        parts.push_back(step.substr(start, colon - start));
        if (colon == std::string::npos)
            return parts;
        start = colon + 1;
    }
}

void Report(const std::string& step, const std::string& fields) {
    std::printf("{\"step\": \"%s\"%s%s}\n", step.c_str(), fields.empty() ? "" : ", ", fields.c_str());
    std::fflush(stdout);
}

// Runs the steps in order; false on a step it does not know or on a port object that is gone.
bool RunSerialSteps(const char* portName, int count, char** steps) {
    // Two port objects, so that a test can see whether closing one disturbs the other.
    std::unique_ptr<WindowsSerialPort> ports[2] = {std::make_unique<WindowsSerialPort>(),
                                                   std::make_unique<WindowsSerialPort>()};
    int current = 0;
    for (int i = 0; i < count; ++i) {
        const std::vector<std::string> parts = Split(steps[i]);
        const std::string& name = parts[0];
        const auto argument = [&parts](size_t index) {
            return index < parts.size() ? std::strtoul(parts[index].c_str(), nullptr, 10) : 0UL;
        };
        std::unique_ptr<WindowsSerialPort>& port = ports[current];
        const bool usesPort = name != "mark" && name != "await" && name != "other";
        if (usesPort && !port) {
            std::fprintf(stderr, "step %s on a destroyed port object\n", steps[i]);
            return false;
        }
        if (name == "open") {
            const Stopwatch watch;
            const int32_t result = port->Open(portName);
            const std::string elapsed = watch.Elapsed();
            // What the driver said, to tell apart the failures that share a result code.
            const DWORD error = result == kPortOk ? 0 : GetLastError();
            Report(name, Number("result", result) + ", " + elapsed + ", " + Field("error", error));
        } else if (name == "configure") {
            const Stopwatch watch;
            const int32_t result = port->Configure(argument(1));
            Report(name, Number("result", result) + ", " + watch.Elapsed());
        } else if (name == "read") {
            std::vector<uint8_t> buffer(argument(1) + 1);
            const Stopwatch watch;
            const int32_t result = port->Read(buffer.data(), static_cast<int32_t>(argument(1)),
                                              static_cast<uint32_t>(argument(2)));
            const std::string elapsed = watch.Elapsed();
            Report(name, Number("result", result) + ", " + elapsed + ", \"data\": \"" +
                             Hex(buffer.data(), result > 0 ? result : 0) + "\"");
        } else if (name == "write" && parts.size() == 3) {
            const std::vector<uint8_t> data = Bytes(parts[1]);
            const Stopwatch watch;
            const int32_t result = port->Write(data.data(), static_cast<int32_t>(data.size()),
                                               static_cast<uint32_t>(argument(2)));
            Report(name, Number("result", result) + ", " + watch.Elapsed());
        } else if (name == "close") {
            port->Close();
            Report(name, "");
        } else if (name == "destroy") {
            port.reset();
            Report(name, "");
        } else if (name == "other") {
            current = 1 - current;
            Report(name, Number("object", current));
        } else if (name == "mark") {
            Report(name, "");
        } else if (name == "await") {
            char line[64];
            const bool got = std::fgets(line, sizeof line, stdin) != nullptr;
            Report(name, Flag("got", got));
        } else {
            std::fprintf(stderr, "unknown step %s\n", steps[i]);
            return false;
        }
    }
    return true;
}

std::string Upload(const char* portName, const char* firmwarePath) {
    wchar_t path[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, firmwarePath, -1, path, MAX_PATH);
    const Stopwatch watch;
    const int result = UploadFirmware(nullptr, portName, path);
    std::fflush(stdout);
    return Number("result", result) + ", " + watch.Elapsed();
}

class RecordedReport : public WorkerReport {
public:
    void ProgressRange(uint16_t, uint16_t) override {}
    void ProgressPosition(uint32_t) override {}
    void Succeeded() override { reports += reports.empty() ? "\"succeeded\"" : ", \"succeeded\""; }
    void Failed(const wchar_t*, unsigned) override { reports += reports.empty() ? "\"failed\"" : ", \"failed\""; }
    std::string reports;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: command_port_probe <action> <port name> [arguments]\n");
        return 2;
    }
    wchar_t portName[PortNameSlot::kMaxChars + 1] = {};
    MultiByteToWideChar(CP_ACP, 0, argv[2], -1, portName, PortNameSlot::kMaxChars + 1);
    g_portName.Set(portName);

    const std::string action = argv[1];
    if (action == "serial")
        return RunSerialSteps(argv[2], argc - 3, argv + 3) ? 0 : 2;
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
    } else if (action == "upload" && argc == 4) {
        result = Upload(argv[2], argv[3]);
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
