// Memory for a body that is to become FILE, on Windows: ordinary memory from the C library;
// Commit writes FILE after a normal return. A failed Get leaves FILE as it was.

#include "tools/httpget/OutputFileBlocks.h"

#include "platform/runtime/Exception.h"
#include "platform/runtime/Format.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void WriteOutputFile(const std::string& path, std::string_view bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        throw EFCreateError(Format("Cannot create file \"%s\". %s", {path, std::string(std::strerror(errno))}));
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int err = errno;
    if (std::fclose(f) != 0 || !written)
        throw EStreamError(Format("Cannot write file \"%s\". %s", {path, std::string(std::strerror(err))}));
}

OutputFileBlocks::OutputFileBlocks(std::string target) : target_(std::move(target)) {}

OutputFileBlocks::~OutputFileBlocks() = default;

void* OutputFileBlocks::Allocate(std::size_t size)
{
    return std::malloc(size);
}

void* OutputFileBlocks::Resize(void* block, std::size_t, std::size_t newSize)
{
    return std::realloc(block, newSize);
}

void OutputFileBlocks::Free(void* block, std::size_t)
{
    std::free(block);
}

void OutputFileBlocks::Commit(std::string_view bytes)
{
    WriteOutputFile(target_, bytes);
    committed_ = true;
}
