#pragma once
// A growable in-memory byte stream that a download fills from its start and that can
// be saved to a file. Growth follows the bytes that really arrive; a failed allocation
// raises EOutOfMemory instead of ending the process.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TMemoryStream {
public:
    TMemoryStream() = default;
    void Write(const void* data, std::size_t count);
    void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }
    std::int64_t Size() const { return static_cast<std::int64_t>(data_.size()); }
    std::int64_t Position() const { return position_; }
    void SetPosition(std::int64_t pos) { position_ = pos; }
    void Clear();
    std::string_view Bytes() const { return {data_.data(), data_.size()}; }
    std::string ToString() const { return std::string(Bytes()); }

private:
    std::vector<char> data_;
    std::int64_t position_ = 0;
};
