#include "update/FileDownload.h"

#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "platform/runtime/Decimal.h"
#include "platform/runtime/Exception.h"
#include "platform/runtime/LimitStream.h"
#include "platform/system/System.h"

#include <limits>
#include <vector>

namespace {

// A partial answer that does not continue the part file: the Get is stopped before any of
// its bytes reach the file. Not of the common exception kind, so that nothing on the way
// out of the Get takes it for a failure to report.
struct RangeRefused {};

// Digits only (no sign, no blank), within 64 bits.
std::optional<std::int64_t> Number(std::string_view text)
{
    const auto v = ParseDecimal(text, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
    if (!v)
        return std::nullopt;
    return static_cast<std::int64_t>(*v);
}

bool StrongETag(const std::string& tag) { return tag.size() >= 2 && tag.front() == '"' && tag.back() == '"'; }

} // namespace

std::string ResumeRecordText(const ResumeRecord& r)
{
    return "Address=" + r.Address + "\nETag=" + r.ETag + "\nLastModified=" + r.LastModified +
           "\nSize=" + std::to_string(r.Size) + "\nOffer=" + r.Offer + "\n";
}

std::optional<ResumeRecord> ParseResumeRecord(std::string_view text)
{
    ResumeRecord r;
    bool address = false, size = false;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        const auto eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "Address") {
            r.Address = value;
            address = true;
        } else if (key == "ETag") {
            r.ETag = value;
        } else if (key == "LastModified") {
            r.LastModified = value;
        } else if (key == "Size") {
            if (value == "-1")
                r.Size = -1;
            else if (auto n = Number(value))
                r.Size = *n;
            else
                return std::nullopt;
            size = true;
        } else if (key == "Offer") {
            r.Offer = value;
        }
    }
    if (!address || !size)
        return std::nullopt;
    return r;
}

std::optional<ContentRange> ParseContentRange(std::string_view value)
{
    constexpr std::string_view unit = "bytes ";
    if (value.substr(0, unit.size()) != unit)
        return std::nullopt;
    value.remove_prefix(unit.size());
    const auto dash = value.find('-');
    const auto slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return std::nullopt;
    const auto first = Number(value.substr(0, dash));
    const auto last = Number(value.substr(dash + 1, slash - dash - 1));
    const auto total = Number(value.substr(slash + 1));
    if (!first || !last || !total || *first > *last || *last >= *total)
        return std::nullopt;
    return ContentRange{*first, *last, *total};
}

ResumeAnswer JudgeResumeAnswer(int code, const TIdHeaderList& headers, const ResumeRecord& record, std::int64_t offset)
{
    if (code != 206)
        return ResumeAnswer::FromZero; // a whole body (any other status never reaches here)
    const auto range = ParseContentRange(headers.Values("Content-Range"));
    if (offset <= 0) {
        // The whole file was asked for; a 206 is worth keeping only when it is all of it.
        return range && range->First == 0 && range->Last == range->Total - 1 ? ResumeAnswer::FromZero
                                                                             : ResumeAnswer::Refused;
    }
    if (!range || range->First != offset || range->Last != range->Total - 1 ||
        (record.Size >= 0 && range->Total != record.Size))
        return ResumeAnswer::Refused;
    // A server that ignored If-Range shows a changed file by its validator.
    const std::string etag = headers.Values("ETag");
    if (!record.ETag.empty() && !etag.empty() && etag != record.ETag)
        return ResumeAnswer::Refused;
    const std::string modified = headers.Values("Last-Modified");
    if (record.ETag.empty() && !modified.empty() && modified != record.LastModified)
        return ResumeAnswer::Refused;
    return ResumeAnswer::Append;
}

// What Get writes into: the body's bytes counted from 0 for this Get (the client compares
// positions before and after its reads, whatever the file already held), the decision taken
// before the first of them goes on.
class TFileDownload::Target : public TStream {
public:
    Target(TFileDownload& owner, TIdHTTP& http) : owner_(owner), http_(http) {}
    void Write(const void* data, std::size_t count) override
    {
        if (count == 0)
            return;
        Start();
        owner_.destination_->Write(data, count);
        written_ += static_cast<std::int64_t>(count);
    }
    using TStream::Write;
    std::int64_t Size() const override { return written_; }
    std::int64_t Position() const override { return written_; }
    char* BeginWrite(std::size_t count) override
    {
        Start();
        return owner_.destination_->BeginWrite(count);
    }
    void EndWrite(std::size_t count) override
    {
        owner_.destination_->EndWrite(count);
        written_ += static_cast<std::int64_t>(count);
    }

private:
    void Start()
    {
        if (!owner_.decided_)
            owner_.Decide(http_);
    }
    TFileDownload& owner_;
    TIdHTTP& http_;
    std::int64_t written_ = 0;
};

TFileDownload::TFileDownload(platform::System& sys, std::string file)
    : sys_(sys), path_(std::move(file)), part_(path_ + ".part"), recordPath_(path_ + ".resume")
{
}

TFileDownload::~TFileDownload() = default;

void TFileDownload::Open(const std::string& address, const std::string& offer, bool resume)
{
    file_.reset();
    address_ = address;
    offer_ = offer;
    offset_ = 0;
    kept_ = 0;
    record_ = {};
    std::optional<ResumeRecord> record;
    if (resume && sys_.FileExists(recordPath_)) {
        try {
            record = ParseResumeRecord(sys_.ReadFile(recordPath_));
        } catch (const Exception&) {
            // An unreadable record is no record.
        }
    }
    // Failures name the part file: it is the file the system refused (a folder in its place
    // that is not empty, a folder without room), and the one to look at.
    auto open = [this](platform::System::OpenMode mode) { file_ = sys_.OpenFileStream(part_, mode); };
    const auto partSize = sys_.FileSize(part_);
    complete_ = false;
    verified_ = false;
    if (resume && check_ && partSize == check_->Size() && check_->Matches(sys_, part_)) {
        // The hash decides: the part is the signed file, whatever the record says.
        complete_ = verified_ = true;
        open(platform::System::OpenMode::Append);
        offset_ = kept_ = *partSize;
        destination_ = file_.get();
        return;
    }
    // A part as long as the recorded size is asked for past its end: the same file is then
    // answered 416, a changed one in whole.
    const bool fits = record && partSize && *partSize > 0 && record->Address == address && record->Offer == offer &&
                      (!record->ETag.empty() || !record->LastModified.empty()) &&
                      (record->Size < 0 || *partSize <= record->Size) && (!check_ || *partSize < check_->Size());
    if (fits) {
        record_ = *record;
        open(platform::System::OpenMode::Append);
        offset_ = file_->Size();
    } else {
        sys_.RemoveFile(recordPath_);
        open(platform::System::OpenMode::Create);
    }
    destination_ = file_.get();
}

void TFileDownload::Run(TIdHTTP& http)
{
    if (complete_) {
        Decided(0, offset_);
        return;
    }
    while (!GetOnce(http)) {
        // A refusal starts over from zero, and from zero nothing is refused twice.
        offset_ = 0;
        record_ = {};
        file_->Truncate(0);
        sys_.RemoveFile(recordPath_);
    }
}

bool TFileDownload::GetOnce(TIdHTTP& http)
{
    TIdHTTPRequest& request = http.Request();
    struct ClearRange {
        TIdHTTPRequest& request;
        ~ClearRange()
        {
            request.ContentRangeStart = 0;
            request.ContentRangeEnd = 0;
            request.CustomHeaders.SetValue("If-Range", "");
        }
    };
    decided_ = false;
    kept_ = 0;
    if (offset_ > 0) {
        request.ContentRangeStart = offset_;
        request.ContentRangeEnd = 0;
        request.CustomHeaders.SetValue("If-Range", record_.ETag.empty() ? record_.LastModified : record_.ETag);
    }
    const ClearRange clear{request};
    Target target(*this, http);
    try {
        http.Get(address_, target);
    } catch (const RangeRefused&) {
        if (offset_ == 0)
            throw EIdException("The server sent part of the file where all of it was asked for.");
        return false;
    } catch (const EIdHTTPProtocolException& e) {
        if (offset_ == 0 || e.ReplyErrorCode() != 416)
            throw;
        if (!ConfirmsCompletePart(http))
            return false;
        complete_ = true;
        kept_ = offset_;
        Decided(0, offset_);
        return true;
    } catch (const EStreamLimitExceeded& e) {
        // More than the publisher signed: nothing of it is worth continuing.
        Discard();
        throw EInstallerMismatch(e.Message());
    }
    if (!decided_)
        Decide(http); // an empty body
    return true;
}

bool TFileDownload::ConfirmsCompletePart(TIdHTTP& http) const
{
    // Asked for the bytes past the recorded end, on the condition of the recorded
    // validator: a server that still has that file can only refuse the range.
    if (record_.Size < 0 || offset_ != record_.Size)
        return false;
    const std::string range = http.Response().RawHeaders.Values("Content-Range");
    const std::string expected = "bytes */" + std::to_string(record_.Size);
    return range.empty() || range == expected;
}

void TFileDownload::Decide(TIdHTTP& http)
{
    const auto& response = http.Response();
    const ResumeAnswer answer = JudgeResumeAnswer(response.ResponseCode(), response.RawHeaders, record_, offset_);
    if (answer == ResumeAnswer::Refused)
        throw RangeRefused();
    std::int64_t announced = response.HasContentLength ? response.ContentLength : -1;
    std::int64_t total = announced;
    if (answer == ResumeAnswer::Append) {
        kept_ = offset_;
        total = ParseContentRange(response.RawHeaders.Values("Content-Range"))->Total;
        announced = total - kept_;
    } else {
        kept_ = 0;
        file_->Truncate(0);
        WriteRecord(http, total);
    }
    decided_ = true;
    Decided(announced, total);
}

void TFileDownload::Decided(std::int64_t announced, std::int64_t total)
{
    if (check_ && !complete_)
        destination_ = &check_->Start(sys_, part_, kept_, *file_);
    if (!OnDecided)
        return;
    DownloadStart start{.Kept = kept_, .Announced = announced, .Total = total};
    if (start.Total < 0 && check_)
        start.Total = check_->Size(); // a body without a length: the signed size is the whole
    OnDecided(start);
}

void TFileDownload::WriteRecord(TIdHTTP& http, std::int64_t total)
{
    const auto& headers = http.Response().RawHeaders;
    ResumeRecord r;
    r.Address = address_;
    r.ETag = headers.Values("ETag");
    if (!StrongETag(r.ETag))
        r.ETag.clear(); // a weak tag cannot make a range request conditional
    r.LastModified = headers.Values("Last-Modified");
    r.Size = total;
    r.Offer = offer_;
    record_ = r;
    try {
        if (r.ETag.empty() && r.LastModified.empty())
            sys_.RemoveFile(recordPath_); // nothing to tell a changed file by: not continued
        else
            sys_.WriteFile(recordPath_, ResumeRecordText(r));
    } catch (const Exception&) {
        // Without a record the download still works; it is only not continued later.
    }
}

void TFileDownload::Commit()
{
    if (check_ && !verified_) {
        try {
            check_->Verify();
        } catch (const EInstallerMismatch&) {
            Discard(); // not what was signed: nothing of it is worth continuing
            throw;
        }
        verified_ = true;
    }
    file_->Flush(false);
    file_.reset();
    destination_ = nullptr;
    sys_.RemoveFile(recordPath_);
    if (!sys_.RenameFile(part_, path_)) {
        const int err = sys_.LastError();
        throw EFCreateError("Cannot create file \"" + path_ + "\". " + sys_.ErrorText(err));
    }
}

std::string TFileDownload::KeptForResume()
{
    const auto size = sys_.FileSize(part_);
    if (!size || *size <= 0 || !sys_.FileExists(recordPath_))
        return {};
    return "Kept \"" + part_ + "\" (" + std::to_string(*size) + " bytes) to continue the download later.";
}

void TFileDownload::Discard()
{
    file_.reset();
    destination_ = nullptr;
    sys_.RemoveFile(part_);
    sys_.RemoveFile(recordPath_);
}
