// Runs the program's port code on a real COM port, one step at a time, and prints one JSON line
// per step with its time in ms, for the component tests and the port benchmark to hold against
// what the simulated tracker saw on its side of the line.
//
//   command_port_probe PORT STEP...
// PORT is the name discovery would have published. The command exchanges' port:
//   tracker-open        opens it, then closes it again
//   boot-loader         WaitForBootLoader
//   reset               SendResetCommand
// The firmware transfer's port (two port objects; the first is in use at the start):
//   open | read:LENGTH:WAIT_MS (what came, in hex) | write:TEXT:WAIT_MS | close
//   destroy             destroys the object
//   other               the following steps use the other object
//   await               waits for a line on standard input, while the test acts on the tracker
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "link/ComPort.h"
#include "link/TrackerCommands.h"
#include "link/TrackerPortState.h"

namespace {

double NowMs() {
    LARGE_INTEGER frequency, count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::string Field(const char* name, long value) {
    return std::string(", \"") + name + "\": " + std::to_string(value);
}

// The outcome of an exchange, and whether it left the port closed.
std::string Exchange(bool result, const ComPort& port) {
    return Field("result", result) + Field("handle_invalid", !port.IsOpen());
}

std::unique_ptr<ComPort> TrackerPort(LineProfile profile) {
    return std::make_unique<ComPort>(SystemCommApi(), SystemClock(), g_portName, profile);
}

std::string Hex(const std::vector<uint8_t>& data, int32_t length) {
    std::string text(2 * length + 1, '\0');
    for (int32_t i = 0; i < length; ++i)
        std::snprintf(&text[2 * i], 3, "%02x", data[i]);
    return text.substr(0, 2 * length);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: command_port_probe PORT STEP...\n");
        return 2;
    }
    wchar_t portName[kMaxPortNameChars + 1] = {};
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, portName, kMaxPortNameChars + 1);
    g_portName.Set(portName);
    // Two objects, so that a test can see whether closing one disturbs the other.
    std::unique_ptr<ComPort> ports[2] = {TrackerPort(LineProfile::kUpload),
                                         TrackerPort(LineProfile::kUpload)};
    int current = 0;
    ComPort commandPort(SystemCommApi(), SystemClock(), g_portName, LineProfile::kCommands);

    for (int i = 2; i < argc; ++i) {
        const std::string step = argv[i];
        const std::string name = step.substr(0, step.find(':'));
        const std::string rest = name.size() < step.size() ? step.substr(name.size() + 1) : "";
        ComPort* port = ports[current].get();
        std::string fields;
        const double startMs = NowMs();
        if (name == "tracker-open") {
            fields = Field("opened", commandPort.Open());
            commandPort.Close();
        } else if (name == "boot-loader") {
            fields = Exchange(WaitForBootLoader(commandPort, SystemClock()), commandPort);
        } else if (name == "reset") {
            fields = Exchange(SendResetCommand(commandPort, SystemClock(), [] { return true; }), commandPort);
        } else if (name == "open") {
            fields = Field("opened", port->Open());
        } else if (name == "read") {
            const size_t colon = rest.find(':');
            std::vector<uint8_t> buffer(std::strtoul(rest.c_str(), nullptr, 10));
            const int32_t result = port->Read(buffer.data(), static_cast<int32_t>(buffer.size()),
                                              std::strtoul(rest.c_str() + colon + 1, nullptr, 10));
            fields = Field("result", result) + ", \"data\": \"" + Hex(buffer, result > 0 ? result : 0) + "\"";
        } else if (name == "write") {
            const size_t colon = rest.find(':');
            fields = Field("result", port->Write(reinterpret_cast<const uint8_t*>(rest.data()),
                                                 static_cast<int32_t>(colon),
                                                 std::strtoul(rest.c_str() + colon + 1, nullptr, 10)));
        } else if (name == "close") {
            port->Close();
        } else if (name == "destroy") {
            ports[current].reset();
        } else if (name == "other") {
            current = 1 - current;
        } else if (name == "await") {
            char line[16];
            fields = Field("got", std::fgets(line, sizeof line, stdin) != nullptr);
        } else {
            std::fprintf(stderr, "unknown step %s\n", argv[i]);
            return 2;
        }
        std::printf("{\"step\": \"%s\", \"ms\": %.3f%s}\n", name.c_str(), NowMs() - startMs, fields.c_str());
        std::fflush(stdout);
    }
    return 0;
}
