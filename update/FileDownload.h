#pragma once
// A download straight into a file, continued after an interruption.
//
// The body goes to "<file>.part" through a file stream; only Commit, after the download
// ended normally and passed its checks, makes it "<file>" (renamed). A small record beside the part file
// ("<file>.resume": address, the answer's validator, the whole size and the caller's offer identity) lets a later run
// continue it: the request then asks for "Range: bytes=N-" with "If-Range: <validator>", and only a 206 answer whose
// "Content-Range" starts at N, ends at the recorded size and carries the same validator is appended. A 200 answer is
// written from the start in the same Get; a 206 that does not fit, or a 416, makes one more Get from zero. A part
// without a record, or whose record names another address or offer, starts from zero.
//
// The decision is taken when the first body byte arrives (or when Get returns with an
// empty body), before anything reaches the file; OnDecided then tells the caller, once per
// download, how many bytes were kept and how large the whole file is, so that it can check
// the free space and show the progress of the whole body; it may throw to stop the download.
//
// With the publisher's size and hash (Require), the download checks the file itself: a
// byte past the signed size ends it, the kept bytes and the new ones are hashed as they
// come, and Commit refuses anything but the signed file. A part that is already complete
// is used without a request when its hash is the signed one; unsigned, when the server
// confirms its validator (a range request past the end answered 416 for the same file).

#include "platform/runtime/Stream.h"
#include "platform/system/FileStream.h"
#include "update/SignedFileCheck.h"
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

// What the decision hands the caller.
struct DownloadStart {
    std::int64_t Kept = 0;      // bytes kept from the part file
    std::int64_t Announced = 0; // bytes this answer announces beyond them; -1: no length
    std::int64_t Total = -1;    // the whole file (the signed size when the answer says none); -1: unknown
    // The bytes still to come when known, else -1.
    std::int64_t Needed() const { return Total >= 0 ? Total - Kept : -1; }
};

class TFileDownload {
public:
    // `file` is where the finished download goes; the part file and the record lie beside it.
    TFileDownload(platform::System& sys, std::string file);
    ~TFileDownload();
    TFileDownload(const TFileDownload&) = delete;
    TFileDownload& operator=(const TFileDownload&) = delete;

    const std::string& PartPath() const { return part_; }
    const std::string& RecordPath() const { return recordPath_; }

    // The file must be what the publisher signed; call before Open.
    void Require(std::unique_ptr<TSignedFileCheck> check) { check_ = std::move(check); }

    // Opens the part file: continued when `resume` is set and the part file's record names
    // this address and offer (or, signed, complete with the signed hash), else emptied.
    // Throws EFCreateError.
    void Open(const std::string& address, const std::string& offer, bool resume);

    // Called once, when the answer that is written has been chosen (or the complete part
    // is used), before the first body byte goes to the file.
    std::function<void(const DownloadStart&)> OnDecided;

    // Runs the Get: with a Range request when bytes are kept, and once more from zero when
    // the server refuses to continue them (a 206 that does not fit, 416). The client's
    // request carries the range only for the length of the call. A complete part verified
    // at Open needs no Get. Past the signed size: EInstallerMismatch, the part discarded.
    void Run(TIdHTTP& http);
    // Bytes that a fitting answer continues after (what is asked for with Range).
    std::int64_t Offset() const { return offset_; }
    // The part was complete: nothing new was written.
    bool UsedCompletePart() const { return complete_; }

    // After a normal end: refuses a file that is not the signed one (EInstallerMismatch, the
    // part discarded), then writes the part file out to the system, closes it and renames
    // it to the file, replacing it; the record is removed. Nothing is forced to the disk
    // itself: the file is used (started, verified) from what the system holds, and a file
    // torn by a power cut before it reached the disk is never trusted by a later run (the
    // updater removes "setup.exe" before every download; bench/README.md has the
    // measurements and the reasoning). Throws EWriteError, or EFCreateError when the
    // rename fails.
    void Commit();
    // Closes the part file and removes it and its record (a download not worth continuing).
    void Discard();
    // After a failure, what is left for a later run to continue, as a line for the run's
    // log: "Kept "<part file>" (N bytes) to continue the download later." Empty when
    // nothing is kept (no part file with bytes, or no record to continue it by).
    std::string KeptForResume();

private:
    class Target;
    // One Get; false when the kept bytes were refused and the download starts over.
    bool GetOnce(TIdHTTP& http);
    void Decide(TIdHTTP& http);
    void Decided(std::int64_t announced, std::int64_t total);
    // Whether a 416 answer to the range past the end shows the kept part to be complete.
    bool ConfirmsCompletePart(TIdHTTP& http) const;
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
    bool complete_ = false; // the part file is the whole file already
    std::unique_ptr<TSignedFileCheck> check_;
    bool verified_ = false; // the check has judged the file and found it whole
};
