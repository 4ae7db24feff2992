#include "tools/httpget/OutputFileBlocks.h"

#include "platform/runtime/Exception.h"
#include "platform/runtime/Format.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string ErrorText(int err) { return std::strerror(err); }

[[noreturn]] void WriteFailed(const std::string& path, int err)
{
    throw EStreamError(Format("Cannot write file \"%s\". %s", {path, ErrorText(err)}));
}

} // namespace

void WriteOutputFile(const std::string& path, std::string_view bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throw EFCreateError(Format("Cannot create file \"%s\". %s", {path, ErrorText(errno)}));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            ::close(fd);
            WriteFailed(path, err);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0)
        WriteFailed(path, errno);
}

OutputFileBlocks::OutputFileBlocks(std::string target) : target_(std::move(target))
{
    // Only a plain file (or none yet) is replaced by a rename: a device or a pipe must be
    // written to, and a symbolic or hard link must keep pointing at the bytes.
    struct stat st;
    if (::lstat(target_.c_str(), &st) != 0)
        eligible_ = errno == ENOENT;
    else
        eligible_ = S_ISREG(st.st_mode) && st.st_nlink == 1;
}

OutputFileBlocks::~OutputFileBlocks() { DropTemporary(); }

void OutputFileBlocks::DropTemporary()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty() && !committed_)
        ::unlink(temp_.c_str());
    temp_.clear();
}

bool OutputFileBlocks::CreateTemporary()
{
    std::vector<char> name(target_.begin(), target_.end());
    const char suffix[] = ".partXXXXXX";
    name.insert(name.end(), suffix, suffix + sizeof suffix); // with its terminating zero
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    fd_ = fd;
    temp_ = name.data();
    return true;
}

bool OutputFileBlocks::Reserve(std::size_t size)
{
    const int rc = ::posix_fallocate(fd_, 0, static_cast<off_t>(size));
    if (rc == 0)
        return true;
    if (rc == ENOSPC || rc == EFBIG)
        WriteFailed(target_, rc);
    return false;
}

void* OutputFileBlocks::Map(std::size_t size)
{
    if (!eligible_ || mapped_ || (fd_ < 0 && !CreateTemporary()))
        return nullptr;
    if (!Reserve(size)) {
        eligible_ = false;
        DropTemporary();
        return nullptr;
    }
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) {
        eligible_ = false;
        DropTemporary();
        return nullptr;
    }
    mapped_ = p;
    return p;
}

void* OutputFileBlocks::Allocate(std::size_t size)
{
    if (size >= MapThreshold)
        if (void* p = Map(size))
            return p;
    return std::malloc(size);
}

void* OutputFileBlocks::Resize(void* block, std::size_t oldSize, std::size_t newSize)
{
    if (block && block == mapped_) {
        if (newSize > oldSize && !Reserve(newSize))
            return nullptr;
        void* p = ::mremap(block, oldSize, newSize, MREMAP_MAYMOVE);
        if (p == MAP_FAILED)
            return nullptr;
        mapped_ = p;
        return p;
    }
    if (newSize >= MapThreshold) {
        // Crossing into the mapping: a copy of less than MapThreshold bytes.
        if (void* p = Map(newSize)) {
            std::memcpy(p, block, oldSize < newSize ? oldSize : newSize);
            std::free(block);
            return p;
        }
    }
    return std::realloc(block, newSize);
}

void OutputFileBlocks::Free(void* block, std::size_t size)
{
    if (block && block == mapped_) {
        ::munmap(block, size);
        mapped_ = nullptr;
        return;
    }
    std::free(block);
}

void OutputFileBlocks::Commit(std::string_view bytes)
{
    if (!mapped_ || bytes.data() != mapped_) {
        WriteOutputFile(target_, bytes);
        return;
    }
    // The new file gets the old one's permissions, or those a created file would get.
    mode_t mode;
    struct stat st;
    if (::stat(target_.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::ftruncate(fd_, static_cast<off_t>(bytes.size())) != 0 || ::fchmod(fd_, mode) != 0)
        WriteFailed(target_, errno);
    if (::rename(temp_.c_str(), target_.c_str()) != 0)
        throw EFCreateError(Format("Cannot create file \"%s\". %s", {target_, ErrorText(errno)}));
    committed_ = true;
}
