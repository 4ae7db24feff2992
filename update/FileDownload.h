#pragma once
// A download straight into a file, continued after an interruption.
//
// The body goes to "<file>.part" through a file stream; only Commit, after the download
// ended normally and passed the caller's checks, makes it "<file>" (flushed to disk, then
// renamed). A small record beside the part file ("<file>.resume": address, the answer's
// validator, the whole size and the caller's offer identity) lets a later run continue it:
// the request then asks for "Range: bytes=N-" with "If-Range: <validator>", and only a 206
// answer whose "Content-Range" starts at N, ends at the recorded size and carries the same
// validator is appended. A 200 answer is written from the start in the same Get; a 206 that
// does not fit, or a 416, makes one more Get from zero. A part without a record, or whose
// record names another address or offer, starts from zero.
//
// The decision is taken when the first body byte arrives (or when Get returns with an
// empty body), before anything reaches the file; OnStart then tells the caller how many
// bytes were kept and how many more the answer announces, so that it can check the free
// space or feed the kept bytes to a hash first, and may throw to stop the download.

#include "platform/runtime/Stream.h"
#include "platform/system/FileStream.h"
#include "http/forward.h"
#include "platform/system/forward.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct ResumeRecord {
    std::string Address{};
    std::string ETag{};         // a strong entity tag, as received; or empty
    std::string LastModified{}; // the "Last-Modified" text as received; used without an ETag
    std::int64_t Size = -1;     // the whole file; -1 when not known
    std::string Offer{};        // the caller's identity of what is downloaded ("" when none)
};
// "key=value" lines; values are kept byte for byte (quotes of an entity tag included).
std::string ResumeRecordText(const ResumeRecord& record);
// Nothing when the text is not a record (a missing key or a bad size).
std::optional<ResumeRecord> ParseResumeRecord(std::string_view text);

// "bytes FIRST-LAST/TOTAL" with TOTAL a number; nothing for anything else ("*" included).
struct ContentRange {
    std::int64_t First = 0;
    std::int64_t Last = 0;
    std::int64_t Total = 0;
};
std::optional<ContentRange> ParseContentRange(std::string_view value);

enum class ResumeAnswer {
    Append,   // a 206 that continues the part file exactly
    FromZero, // a complete body: written from the start
    Refused,  // a partial body that does not continue the part file
};
// How an answer with status `code` and `headers` to a request for the bytes from `offset`
// on (0: the whole file was asked for) is written, for a part file of `record`.
ResumeAnswer JudgeResumeAnswer(int code, const TIdHeaderList& headers, const ResumeRecord& record, std::int64_t offset);

class TFileDownload {
public:
    // `file` is where the finished download goes; the part file and the record lie beside it.
    TFileDownload(platform::System& sys, std::string file);
    ~TFileDownload();
    TFileDownload(const TFileDownload&) = delete;
    TFileDownload& operator=(const TFileDownload&) = delete;

    const std::string& PartPath() const { return part_; }
    const std::string& RecordPath() const { return recordPath_; }

    // Opens the part file: continued when `resume` is set and the part file's record names
    // this address and offer, else emptied. Throws EFCreateError.
    void Open(const std::string& address, const std::string& offer, bool resume);
    // The part file, for a filter the caller puts in front of it (SetDestination).
    TFileStream& File() { return *file_; }
    // Where the body's bytes go; the part file unless a filter is put in front.
    void SetDestination(TStream& destination) { destination_ = &destination; }

    // Called once per Get, before the first body byte goes to the destination: the bytes
    // kept from the part file (0 when it starts from zero; the file is cut already) and the
    // bytes this answer announces beyond them (-1 when it announces no length).
    std::function<void(std::int64_t kept, std::int64_t announced)> OnStart;

    // Runs the Get: with a Range request when bytes are kept, and once more from zero when
    // the server refuses to continue them (a 206 that does not fit, 416). The client's
    // request carries the range only for the length of the call.
    void Run(TIdHTTP& http);
    // The bytes before the first byte of the answer `http` holds now: the kept bytes when it
    // is a fitting 206, else 0. For progress shown while the answer's body arrives.
    std::int64_t BytesBefore(TIdHTTP& http) const;
    // Bytes that a fitting answer continues after (what is asked for with Range).
    std::int64_t Offset() const { return offset_; }

    // After a normal end and the caller's checks: writes the part file out (to the disk
    // itself when `durable`), closes it and renames it to the file, replacing it; the
    // record is removed. Throws EWriteError, or EFCreateError when the rename fails.
    void Commit(bool durable = true);
    // Closes the part file and removes it and its record (a download not worth continuing).
    void Discard();
    // After a failure, what is left for a later run to continue, as a line for the run's
    // log: "Kept "<part file>" (N bytes) to continue the download later." Empty when
    // nothing is kept (no part file with bytes, or no record to continue it by).
    std::string KeptForResume();

private:
    class Target;
    void Decide(TIdHTTP& http);
    void WriteRecord(TIdHTTP& http, std::int64_t total);

    platform::System& sys_;
    std::string path_, part_, recordPath_;
    std::string address_, offer_;
    ResumeRecord record_;
    std::unique_ptr<TFileStream> file_;
    TStream* destination_ = nullptr;
    std::int64_t offset_ = 0; // bytes asked to be continued after
    std::int64_t kept_ = 0;   // bytes kept by the decision of this Get
    bool decided_ = false;
};
