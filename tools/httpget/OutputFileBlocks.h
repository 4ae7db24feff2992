#pragma once
// Memory for one body that is to become FILE (-o FILE). Big blocks are a shared mapping of a
// temporary file created beside FILE: the bytes the download writes into its memory buffer
// are then already the file's pages, and writing FILE after a normal return is a rename
// instead of a second pass over every byte. A failed Get removes the temporary file and
// leaves FILE as it was.
//
// Small bodies use ordinary memory, and so does any body whose FILE is not a plain file (a
// device, a pipe, a symbolic link, a file with other hard links) or whose folder takes no
// temporary file; Commit then writes FILE the ordinary way. Disk space is reserved before
// each growth of the mapping, so a full disk is an error, never a fault on a page.
//
// Lifetime rule: the stream that uses these blocks must be destroyed before them.

#include "platform/runtime/MemoryStream.h"

#include <cstddef>
#include <string>
#include <string_view>

class OutputFileBlocks : public TMemoryBlockAllocator {
public:
    // Blocks from this size on are mapped from the temporary file.
    static constexpr std::size_t MapThreshold = std::size_t{1} << 20;

    explicit OutputFileBlocks(std::string target);
    ~OutputFileBlocks() override;
    OutputFileBlocks(const OutputFileBlocks&) = delete;
    OutputFileBlocks& operator=(const OutputFileBlocks&) = delete;

    void* Allocate(std::size_t size) override;
    void* Resize(void* block, std::size_t oldSize, std::size_t newSize) override;
    void Free(void* block, std::size_t size) override;

    // Makes FILE hold exactly `bytes`, the stream's bytes: the temporary file cut to their
    // size and renamed over FILE when they live in it, otherwise FILE created or truncated
    // and written. Throws EFCreateError or EStreamError with the system's text.
    void Commit(std::string_view bytes);

private:
    bool CreateTemporary();
    // Reserves disk space for `size` bytes of the temporary file; false when the file
    // system cannot (the body then stays in ordinary memory). A full disk throws.
    bool Reserve(std::size_t size);
    void* Map(std::size_t size);
    void DropTemporary();

    std::string target_;
    std::string temp_;
    int fd_ = -1;
    void* mapped_ = nullptr;
    bool eligible_ = false;
    bool committed_ = false;
};

// Creates or truncates the file and writes the bytes. No fsync and no temporary file: the
// file is the user's output, not the updater's installer.
void WriteOutputFile(const std::string& path, std::string_view bytes);
