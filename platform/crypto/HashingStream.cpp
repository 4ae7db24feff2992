#include "platform/crypto/HashingStream.h"

THashingStream::THashingStream(TStream& destination, std::unique_ptr<platform::Sha256> hash)
    : destination_(destination), hash_(std::move(hash))
{
}

void THashingStream::Write(const void* data, std::size_t count)
{
    hash_->Update(data, count);
    destination_.Write(data, count);
}

char* THashingStream::BeginWrite(std::size_t count)
{
    room_ = destination_.BeginWrite(count);
    return room_;
}

void THashingStream::EndWrite(std::size_t count)
{
    // Hashed before they are handed on: the room is the destination's, and its EndWrite may
    // reuse it. When the destination refuses them (a limit, a full disk) the download fails
    // as a whole, so the hash is not used.
    if (count > 0)
        hash_->Update(room_, count);
    destination_.EndWrite(count);
}
