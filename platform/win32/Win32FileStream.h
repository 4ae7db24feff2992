#pragma once
// The file stream on Windows: a file handle, the shared buffer written out with WriteFile.
// No space is reserved ahead: a full disk shows on the write itself, as an EWriteError with
// the system's text.

#include "platform/system/BufferedFileStream.h"

#include <string>

namespace platform {

class Win32FileStream : public TBufferedFileStream {
public:
    // Takes the open handle, positioned at `size`, the file's current size.
    Win32FileStream(void* handle, std::string path, std::int64_t size);
    ~Win32FileStream() override;

protected:
    void WriteOut(const char* data, std::size_t count) override;
    void CutFile(std::int64_t size) override;
    void SyncFile() override;

private:
    [[noreturn]] void Fail(unsigned long err);

    void* handle_;
};

} // namespace platform
