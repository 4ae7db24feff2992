// A header block as it arrives from a server, fed to the block reader in pieces, then read
// and rewritten through the header list (continuation lines, names, folding) and taken
// into an answer's values.
//
// Input: the first byte chooses the piece sizes (its low seven bits, see fuzz::PieceSizes)
// and, with its high bit, a longest line of 64 bytes in place of the real limit, so that
// the over-long line is reached with small inputs; the rest is the bytes that follow the
// status line.

#include "FuzzSupport.h"

#include "http/IdException.h"
#include "http/IdHTTPResponse.h"
#include "http/IdHeaderBlockReader.h"
#include "http/IdHeaderList.h"
#include "platform/runtime/Strings.h"
#include "tests/support/FakeSystem.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

struct ReadResult {
    TIdHeaderList list{TIdHeaderList::kMessageFoldLength};
    std::size_t taken = 0;
    bool done = false;
    bool tooLong = false;
};

// Feeds the pieces while the reader takes them, as a connection hands over what it received.
ReadResult Read(std::string_view bytes, std::uint8_t seed, std::size_t maxLine)
{
    ReadResult r;
    TIdHeaderBlockReader reader(r.list, maxLine);
    std::size_t at = 0;
    try {
        for (std::size_t n : fuzz::PieceSizes(bytes.size(), seed)) {
            const std::size_t took = reader.Feed(bytes.substr(at, n));
            FUZZ_CHECK(took <= n);
            r.taken += took;
            if (reader.Done()) {
                FUZZ_CHECK(reader.Feed(bytes.substr(r.taken)) == 0);
                break;
            }
            FUZZ_CHECK(took == n);
            at += n;
        }
    } catch (const EIdReadLnMaxLineLengthExceeded&) {
        r.tooLong = true;
    }
    r.done = reader.Done();
    return r;
}

// The reading rule word for word: the text after the name's ":", then each following line
// that begins with a blank or a tab joined as trimmed-so-far + " " + trimmed line, trimmed.
std::string ReferenceValue(const TIdHeaderList& list, std::size_t i)
{
    const std::string& line = list[i];
    std::string value = line.substr(line.find(':') + 1);
    for (std::size_t k = i + 1; k < list.Count() && (list[k][0] == ' ' || list[k][0] == '\t'); ++k)
        value = Trim(value) + " " + Trim(list[k]);
    return Trim(value);
}

void CheckList(const TIdHeaderList& list, std::size_t maxLine)
{
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const std::string& line = list[i];
        FUZZ_CHECK(!line.empty() && line.size() <= maxLine);
        // Only the one CR before the LF is dropped; a line may still end in another.
        FUZZ_CHECK(line.find('\n') == std::string::npos);
        const std::string name = list.Names(i);
        FUZZ_CHECK(name.size() < line.size() || name.empty());
        if (!name.empty() && name.find(':') == std::string::npos) {
            const int first = list.IndexOfName(name);
            FUZZ_CHECK(first >= 0 && static_cast<std::size_t>(first) <= i);
            const std::string value = list.Values(name);
            FUZZ_CHECK(value == ReferenceValue(list, static_cast<std::size_t>(first)));
            FUZZ_CHECK(!list.Extract(name).empty() && list.Extract(name).front() == value);
        }
        for (int fold : {TIdHeaderList::kDefaultFoldLength, 8, 0}) {
            const auto pieces = TIdHeaderList::FoldLine(line, fold);
            FUZZ_CHECK(!pieces.empty());
            for (std::size_t k = 1; k < pieces.size(); ++k)
                FUZZ_CHECK(!pieces[k].empty() && pieces[k].front() == ' ');
        }
    }
}

std::string Significant(std::string_view text)
{
    std::string kept;
    for (char c : text)
        if (static_cast<unsigned char>(c) > 32 && c != ',')
            kept += c;
    return kept;
}

// Writing a value and reading it back, then removing it, on a copy of the received list.
void CheckRewrite(const TIdHeaderList& received, const std::string& value)
{
    const std::string name = "X-Fuzz-Written";
    for (int fold : {TIdHeaderList::kDefaultFoldLength, TIdHeaderList::kMessageFoldLength}) {
        TIdHeaderList list(fold);
        list.AddStrings(received);
        const int before = list.IndexOfName(name);
        list.SetValue(name, value);
        if (value.empty() || before >= 0)
            continue;
        const int at = list.IndexOfName(name);
        FUZZ_CHECK(at >= 0);
        // Folding and reading back only touch blanks, controls and commas around a break:
        // every other byte comes back, in order.
        FUZZ_CHECK(Significant(list.Values(name)) == Significant(value));
        list.SetValue(name, "");
        FUZZ_CHECK(list.IndexOfName(name) < 0 && list.Count() == received.Count());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t seed = data[0] & 0x7F;
    const std::size_t maxLine = data[0] & 0x80 ? 64 : TIdHeaderBlockReader::kMaxLineLength;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    const ReadResult pieces = Read(bytes, seed, maxLine);
    // However the bytes were cut, the reader reads the same block.
    const ReadResult whole = Read(bytes, 0, maxLine);
    FUZZ_CHECK(pieces.tooLong == whole.tooLong);
    FUZZ_CHECK(pieces.done == whole.done);
    if (!whole.tooLong) {
        FUZZ_CHECK(pieces.list.Lines() == whole.list.Lines());
        FUZZ_CHECK(pieces.taken == whole.taken);
        if (whole.done) {
            const std::string_view head = bytes.substr(0, whole.taken);
            FUZZ_CHECK(head.back() == '\n');
            FUZZ_CHECK(head == "\n" || head == "\r\n" || head.substr(head.size() - 2) == "\n\n" ||
                       (head.size() >= 3 && head.substr(head.size() - 3) == "\n\r\n"));
        } else {
            FUZZ_CHECK(whole.taken == bytes.size());
        }
    }

    CheckList(whole.list, maxLine);
    CheckRewrite(whole.list, whole.list.Empty() ? std::string(bytes.substr(0, 300)) : whole.list[0]);

    FakeSystem system;
    system.biasMinutes = static_cast<int>(seed) * 7 - 840;
    TIdHTTPResponse response;
    response.RawHeaders.AddStrings(whole.list);
    response.ProcessHeaders(system);
    FUZZ_CHECK(response.ContentLength >= -1);
    FUZZ_CHECK(response.HasContentLength == (response.ContentLength >= 0));
    FUZZ_CHECK(response.Location == response.RawHeaders.Values("Location"));
    return 0;
}
