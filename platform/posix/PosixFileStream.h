#pragma once
// The file stream on Linux: a descriptor, the shared buffer written out with pwrite, and space reserved ahead of the
// data with fallocate (keeping the file's size) in steps of ReserveStep. A file system that cannot reserve is written
// without; its full disk then shows on the write itself.

#include "platform/system/BufferedFileStream.h"

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

class PosixFileStream : public TBufferedFileStream {
public:
    static constexpr std::int64_t ReserveStep = std::int64_t{32} << 20;

    // Takes the open descriptor; `size` is the file's current size (where writing goes on).
    PosixFileStream(int fd, std::string path, std::int64_t size);
    ~PosixFileStream() override;

protected:
    void WriteOut(const char* data, std::size_t count) override;
    void CutFile(std::int64_t size) override;
    void SyncFile() override;

private:
    void ReserveUpTo(std::int64_t end);
    [[noreturn]] void Fail(int err);

    int fd_;
    std::int64_t reserved_ = 0; // bytes the file system has set aside (from 0)
    bool canReserve_ = true;
};

} // namespace platform
