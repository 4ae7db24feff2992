#pragma once
// Ordered header lines: "Name: value" lines and the continuation lines that follow them
// (lines that begin with a blank or a tab). Names are matched without regard to case and
// the first matching line wins. Reading a value joins its continuation lines; writing one
// replaces the line in place and folds it when it is longer than the fold length.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TIdHeaderList {
public:
    // The request's and the response's raw lists fold at 1024; every other list at 78.
    static constexpr int kDefaultFoldLength = 78;
    static constexpr int kMessageFoldLength = 1024;

    explicit TIdHeaderList(int foldLength = kDefaultFoldLength) : foldLength_(foldLength) {}

    int FoldLength() const { return foldLength_; }
    void SetFoldLength(int length) { foldLength_ = length; }

    // Raw access to the lines, as received or as written.
    std::size_t Count() const { return lines_.size(); }
    bool Empty() const { return lines_.empty(); }
    const std::string& operator[](std::size_t i) const { return lines_[i]; }
    const std::vector<std::string>& Lines() const { return lines_; }
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    // Appends the other list's lines as text, one line each, without folding.
    void AddStrings(const TIdHeaderList& other);
    void Clear() { lines_.clear(); }

    // The text before the first ":" of line i, not trimmed ("" when it has no ":").
    std::string Names(std::size_t i) const;
    // Index of the first line with that name, or -1. Lines without ":" never match.
    int IndexOfName(std::string_view name) const;

    // The value of the first line with that name, its continuation lines joined with one
    // blank, trimmed; "" when no line has that name.
    std::string Values(std::string_view name) const;
    // An empty value removes the line and its continuation lines; any other value replaces
    // the line in place (continuations dropped) or is appended, folded to the fold length.
    void SetValue(std::string_view name, std::string_view value);
    // The values of every line with that name, in list order.
    std::vector<std::string> Extract(std::string_view name) const;

    // Splits one header line into the lines it is written as: wrapped at the last blank,
    // tab or comma outside double quotes once the text passes foldLength, each piece with its
    // trailing white space removed, and every piece after the first beginning with a blank.
    static std::vector<std::string> FoldLine(std::string_view line, int foldLength);

private:
    std::string ValueAt(std::size_t i) const;
    // Number of continuation lines directly after line i.
    std::size_t ContinuationCount(std::size_t i) const;

    std::vector<std::string> lines_;
    int foldLength_;
};
