// The tracker's command port as the exchanges with the tracker see it: a byte channel that is
// opened afresh under the port name discovery found last, and closed after every exchange. The
// program's channel is the COM port; unit tests script one.
#pragma once
#include <cstdint>

// The tracker's USB bridge needs a moment after the port opens before it passes a command on.
constexpr uint32_t kBridgeSettleMs = 1000;

class CommandPort {
public:
    virtual ~CommandPort() = default;
    // One attempt to open the port; true when it is open now.
    virtual bool Open() = 0;
    virtual bool IsOpen() const = 0;
    // True only when the whole of data went out.
    virtual bool Write(const void* data, uint32_t size) = 0;
    // Clears the line's error state and tells in *count how many received bytes wait to be
    // read, and in *lineError, when asked, whether the driver reported since the state was last
    // cleared that a received byte was garbled or lost; false, with *count 0 and no error, when
    // the port no longer answers (its device has gone).
    virtual bool BytesWaiting(uint32_t* count, bool* lineError) = 0;
    // One read of at most size bytes; false when the read failed.
    virtual bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) = 0;
    // Closes the port if it is open; afterwards IsOpen() is false.
    virtual void Close() = 0;
};
