#pragma once
// Reads a header block from bytes as they arrive, in pieces of any size: lines end at LF
// (a CR just before it is dropped), every non-empty line is appended to the list as
// received, continuation lines included, and the first empty line ends the block. The
// bytes after that line are left to the caller (they are the body).

#include "http/IdHeaderList.h"

#include <cstddef>
#include <string>
#include <string_view>

class TIdHeaderBlockReader {
public:
    // The longest line accepted, counted without its LF (a CR before the LF counts).
    static constexpr std::size_t kMaxLineLength = 16384;

    // The list is borrowed and must outlive the reader; it is not cleared.
    explicit TIdHeaderBlockReader(TIdHeaderList& target, std::size_t maxLineLength = kMaxLineLength)
        : target_(target), maxLineLength_(maxLineLength)
    {
    }

    // Takes bytes up to and including the line that ends the block and returns how many it
    // took; after the end it takes nothing. Throws EIdReadLnMaxLineLengthExceeded
    // "Max line length exceeded." for an over-long line.
    std::size_t Feed(std::string_view bytes);
    bool Done() const { return done_; }

private:
    TIdHeaderList& target_;
    std::size_t maxLineLength_;
    std::string partial_; // bytes of the line not yet ended
    bool done_ = false;
};
