// The firmware file as the sender's byte source. Each read first shows on a console, when it is
// given one, how much of the file has gone, for whoever runs the program from a console.
#pragma once
#include <cstdint>
#include <cstdio>

#include "transfer/YModemTx.h"

class InFile : public YModemTx::InStream {
public:
    // file stays the caller's to close; size is its length, measured before the transfer;
    // console, when not null, takes the progress lines.
    InFile(FILE* file, uint32_t size, FILE* console = nullptr) : file(file), size(size), console(console) {}
    // A file that ends before size bytes have come is a failure, not the end of the source.
    int32_t Read(uint8_t* buffer, int32_t maxBytes) override;

private:
    FILE* file;
    uint32_t size;
    FILE* console;
    uint32_t position = 0;
};
