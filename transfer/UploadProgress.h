// Where the firmware sender reports how far it has got: the upload page's window in the
// program, a recorder in unit tests.
#pragma once
#include <cstdint>

class UploadProgress {
public:
    virtual ~UploadProgress() = default;
    // chunks: 1024-byte chunks of the file handled so far, from 1, the end of the file counting
    // as one more; sizeKiB: the file's size in whole KiB. Returns once the report has been shown.
    virtual void ChunkSent(uint32_t chunks, uint32_t sizeKiB) = 0;
};
