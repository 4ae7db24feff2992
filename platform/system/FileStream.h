#pragma once
// A file written from its start or continued at its end, the destination of a download
// that goes straight to disk. Bytes are collected in a bounded buffer of the stream's own
// and written to the file with plain writes, so memory stays the same whatever the size.
// A download writes through BeginWrite/EndWrite: the client receives into the buffer.
//
// Disk space is reserved ahead of the bytes as the file grows, so a full disk shows as an
// EWriteError from the write that needs the space, never as a fault later on. Bytes still
// in the buffer when the stream is freed are written out then (failures ignored), so an
// interrupted download keeps everything it received. Writes go to the end of the file:
// Position() is always Size().

#include "platform/runtime/Stream.h"

#include <cstdint>

class TFileStream : public TStream {
public:
    // Cuts the file to `size` bytes (at most Size()) and writes on from there.
    virtual void Truncate(std::int64_t size) = 0;
    // Writes out the buffer and, when `durable`, makes the file's bytes reach the disk
    // before returning. Throws EWriteError with the system's text.
    virtual void Flush(bool durable = true) = 0;
};
