// The firmware image as the sender's byte source. Each read first shows on a console, when it is
// given one, how much of the image has gone, for whoever runs the program from a console.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "transfer/YModemTx.h"

class InFile : public YModemTx::InStream {
public:
    // file stays the caller's to close and is read on from where it stands; size is its length,
    // measured before the transfer; console, when not null, takes the progress lines.
    InFile(HANDLE file, uint32_t size, FILE* console = nullptr) : file(file), size(size), console(console) {}
    // An image that ends before size bytes have come is a failure, not the end of the source.
    int32_t Read(uint8_t* buffer, int32_t maxBytes) override;

private:
    HANDLE file;
    uint32_t size;
    FILE* console;
    uint32_t position = 0;
};
