// Downloads straight to a file with resume: how an answer to a range request is judged,
// the record beside the part file, and whole runs against the scripted server, where the
// request shows what was asked for and the file what was kept.

#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "platform/posix/OpenSslCrypto.h"
#include "platform/posix/PosixSystem.h"
#include "platform/runtime/Exception.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/ScriptedServer.h"
#include "update/FileDownload.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using testsupport::ScriptedServer;
using Script = ScriptedServer::Script;

namespace {

TIdHeaderList Headers(std::vector<std::string> lines)
{
    TIdHeaderList h;
    for (auto& l : lines)
        h.Add(std::move(l));
    return h;
}

TEST(ContentRange, OnlyAWholeNumberedRangeIsRead)
{
    struct Case {
        const char* text;
        bool ok;
        ContentRange range = {};
    } cases[] = {
        {.text = "bytes 5-9/10", .ok = true, .range = {5, 9, 10}},
        {.text = "bytes 0-0/1", .ok = true, .range = {0, 0, 1}},
        {.text = "bytes 5-9/*", .ok = false},
        {.text = "bytes */10", .ok = false},
        {.text = "bytes 9-5/10", .ok = false},
        {.text = "bytes 5-10/10", .ok = false}, // past the end
        {.text = "bytes -5-9/10", .ok = false},
        {.text = "bytes 5-9/10x", .ok = false},
        {.text = "items 5-9/10", .ok = false},
        {.text = "", .ok = false},
        {.text = "bytes 5-99999999999999999999/1", .ok = false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto r = ParseContentRange(c.text);
        ASSERT_EQ(r.has_value(), c.ok);
        if (c.ok) {
            EXPECT_EQ(r->First, c.range.First);
            EXPECT_EQ(r->Last, c.range.Last);
            EXPECT_EQ(r->Total, c.range.Total);
        }
    }
}

TEST(ResumeAnswer, OnlyAFitting206Appends)
{
    const ResumeRecord etag{.Address = "a", .ETag = "\"v1\"", .Size = 10};
    const ResumeRecord dated{.Address = "a", .LastModified = "Tue, 01 Dec 2026 10:00:00 GMT", .Size = 10};
    const ResumeRecord unsized{.Address = "a", .ETag = "\"v1\"", .Size = -1};
    struct Case {
        const char* name;
        int code;
        std::vector<std::string> headers;
        const ResumeRecord& record;
        std::int64_t offset;
        ResumeAnswer answer;
    } cases[] = {
        {"fits", 206, {"Content-Range: bytes 5-9/10", "ETag: \"v1\""}, etag, 5, ResumeAnswer::Append},
        {"fits without a validator in the answer", 206, {"Content-Range: bytes 5-9/10"}, etag, 5, ResumeAnswer::Append},
        {"a whole body", 200, {"ETag: \"v2\""}, etag, 5, ResumeAnswer::FromZero},
        {"starts elsewhere", 206, {"Content-Range: bytes 4-9/10"}, etag, 5, ResumeAnswer::Refused},
        {"ends short", 206, {"Content-Range: bytes 5-8/10"}, etag, 5, ResumeAnswer::Refused},
        {"another size", 206, {"Content-Range: bytes 5-10/11"}, etag, 5, ResumeAnswer::Refused},
        {"unknown size recorded", 206, {"Content-Range: bytes 5-10/11"}, unsized, 5, ResumeAnswer::Append},
        {"no range", 206, {}, etag, 5, ResumeAnswer::Refused},
        {"range not a number", 206, {"Content-Range: bytes x-9/10"}, etag, 5, ResumeAnswer::Refused},
        {"changed ETag", 206, {"Content-Range: bytes 5-9/10", "ETag: \"v2\""}, etag, 5, ResumeAnswer::Refused},
        {"same date",
         206,
         {"Content-Range: bytes 5-9/10", "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT"},
         dated,
         5,
         ResumeAnswer::Append},
        {"changed date",
         206,
         {"Content-Range: bytes 5-9/10", "Last-Modified: Wed, 02 Dec 2026 10:00:00 GMT"},
         dated,
         5,
         ResumeAnswer::Refused},
        {"nothing asked: whole 206", 206, {"Content-Range: bytes 0-9/10"}, etag, 0, ResumeAnswer::FromZero},
        {"nothing asked: partial 206", 206, {"Content-Range: bytes 3-9/10"}, etag, 0, ResumeAnswer::Refused},
        {"nothing asked: 200", 200, {}, etag, 0, ResumeAnswer::FromZero},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(JudgeResumeAnswer(c.code, Headers(c.headers), c.record, c.offset), c.answer);
    }
}

TEST(ResumeRecordText, RoundTripsByteForByteAndRejectsBrokenRecords)
{
    const ResumeRecord r{.Address = "http://h/a?x=1&y=2",
                         .ETag = "\"quoted = tag\"",
                         .LastModified = "Tue, 01 Dec 2026 10:00:00 GMT",
                         .Size = 1234567890123,
                         .Offer = "ab12"};
    const auto back = ParseResumeRecord(ResumeRecordText(r));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Address, r.Address);
    EXPECT_EQ(back->ETag, r.ETag);
    EXPECT_EQ(back->LastModified, r.LastModified);
    EXPECT_EQ(back->Size, r.Size);
    EXPECT_EQ(back->Offer, r.Offer);
    for (const char* broken :
         {"", "ETag=x\nSize=3\n", "Address=a\n", "Address=a\nSize=three\n", "Address=a\nSize=-2\n"})
        EXPECT_FALSE(ParseResumeRecord(broken)) << broken;
}

// A download of "<folder>/setup.exe" from a scripted server, on the in-memory system.
struct Download : ::testing::Test {
    FakeSystem sys;
    const std::string file = "/home/user/Documents/setup.exe";
    const std::string part = file + ".part";
    const std::string record = file + ".resume";
    std::vector<std::pair<std::int64_t, std::int64_t>> starts; // OnDecided's kept and announced

    std::string Url(const ScriptedServer& s) { return "http://127.0.0.1:" + std::to_string(s.Port()) + "/setup.exe"; }
    void LeavePart(const std::string& bytes, const ResumeRecord& r)
    {
        sys.files[part] = bytes;
        sys.files[record] = ResumeRecordText(r);
    }
    // Runs one download of the URL (resuming) and commits it.
    void Run(const std::string& url, const std::string& offer = "")
    {
        TIdHTTP http(nullptr, sys);
        TFileDownload d(sys, file);
        d.OnDecided = [this](const DownloadStart& s) { starts.emplace_back(s.Kept, s.Announced); };
        d.Open(url, offer, true);
        d.Run(http);
        d.Commit();
        // The range belongs to that download only.
        EXPECT_EQ(http.Request().ContentRangeStart, 0);
        EXPECT_EQ(http.Request().CustomHeaders.Values("If-Range"), "");
    }
};

const std::string kWhole = "0123456789";

std::string Answer(const std::string& status, const std::vector<std::string>& headers, const std::string& body)
{
    std::string r = "HTTP/1.1 " + status + "\r\n";
    for (const auto& h : headers)
        r += h + "\r\n";
    return r + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

bool Has(const std::string& request, const std::string& line)
{
    return request.find(line + "\r\n") != std::string::npos;
}

TEST_F(Download, AFreshDownloadLeavesTheFileAndNoPartOrRecord)
{
    ScriptedServer server({Script().ExpectRequest().Send(Answer("200 OK", {"ETag: \"v1\""}, kWhole)).Close()});
    sys.files[file] = "old installer";
    Run(Url(server));
    EXPECT_EQ(sys.files.at(file), kWhole);
    EXPECT_FALSE(sys.files.count(part));
    EXPECT_FALSE(sys.files.count(record));
    EXPECT_EQ(sys.flushes, 0); // used from what the system holds: nothing forced to the disk
    EXPECT_EQ(starts, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 10}}));
    EXPECT_FALSE(Has(server.Requests().at(0), "Range: bytes=0-"));
}

TEST_F(Download, AnInterruptedDownloadKeepsItsPartAndARecordOfTheAnswer)
{
    std::string body(1000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7);
    const std::string answer = Answer("200 OK", {"ETag: \"v1\"", "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT"}, body);
    const std::size_t head = answer.size() - body.size();
    ScriptedServer server({Script().ExpectRequest().Send(answer.substr(0, head + 400)).Close()});
    {
        TIdHTTP http(nullptr, sys);
        TFileDownload d(sys, file);
        d.Open(Url(server), "hash", true);
        EXPECT_THROW(d.Run(http), EIdConnClosedGracefully);
    }
    // What arrived in whole reads is kept, nothing else.
    const std::string kept = sys.files.at(part);
    EXPECT_LE(kept.size(), 400u);
    EXPECT_EQ(kept, body.substr(0, kept.size()));
    EXPECT_FALSE(sys.files.count(file));
    const auto r = ParseResumeRecord(sys.files.at(record));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Address, Url(server));
    EXPECT_EQ(r->ETag, "\"v1\"");
    EXPECT_EQ(r->LastModified, "Tue, 01 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(r->Size, 1000);
    EXPECT_EQ(r->Offer, "hash");
}

TEST_F(Download, APartIsContinuedOrStartedOverAsTheAnswerSays)
{
    struct Case {
        const char* name;
        ResumeRecord record;              // Address filled in
        std::vector<std::string> answers; // one per connection, in order
        bool asksRange;                   // the first request asks for bytes=4-
        const char* ifRange;
        std::size_t requests;
        std::pair<std::int64_t, std::int64_t> start; // kept, announced of the last Get
    } cases[] = {
        {.name = "206 that fits",
         .record = {.ETag = "\"v1\"", .Size = 10},
         .answers = {Answer("206 Partial Content", {"Content-Range: bytes 4-9/10", "ETag: \"v1\""}, kWhole.substr(4))},
         .asksRange = true,
         .ifRange = "\"v1\"",
         .requests = 1,
         .start = {4, 6}},
        {.name = "date as validator",
         .record = {.LastModified = "Tue, 01 Dec 2026 10:00:00 GMT", .Size = 10},
         .answers = {Answer("206 Partial Content", {"Content-Range: bytes 4-9/10"}, kWhole.substr(4))},
         .asksRange = true,
         .ifRange = "Tue, 01 Dec 2026 10:00:00 GMT",
         .requests = 1,
         .start = {4, 6}},
        {.name = "changed file: 200",
         .record = {.ETag = "\"v1\"", .Size = 10},
         .answers = {Answer("200 OK", {"ETag: \"v2\""}, kWhole)},
         .asksRange = true,
         .ifRange = "\"v1\"",
         .requests = 1,
         .start = {0, 10}},
        {.name = "range that does not fit: again from zero",
         .record = {.ETag = "\"v1\"", .Size = 10},
         .answers = {Answer("206 Partial Content", {"Content-Range: bytes 3-9/10"}, kWhole.substr(3)),
                     Answer("200 OK", {"ETag: \"v1\""}, kWhole)},
         .asksRange = true,
         .ifRange = "\"v1\"",
         .requests = 2,
         .start = {0, 10}},
        {.name = "server ignores If-Range, new tag: again from zero",
         .record = {.ETag = "\"v1\"", .Size = 10},
         .answers = {Answer("206 Partial Content", {"Content-Range: bytes 4-9/10", "ETag: \"v2\""}, kWhole.substr(4)),
                     Answer("200 OK", {"ETag: \"v2\""}, kWhole)},
         .asksRange = true,
         .ifRange = "\"v1\"",
         .requests = 2,
         .start = {0, 10}},
        {.name = "416: again from zero",
         .record = {.ETag = "\"v1\"", .Size = 10},
         .answers = {Answer("416 Range Not Satisfiable", {"Content-Range: bytes */10"}, ""),
                     Answer("200 OK", {"ETag: \"v1\""}, kWhole)},
         .asksRange = true,
         .ifRange = "\"v1\"",
         .requests = 2,
         .start = {0, 10}},
        {.name = "record of another offer",
         .record = {.ETag = "\"v1\"", .Size = 10, .Offer = "other"},
         .answers = {Answer("200 OK", {"ETag: \"v1\""}, kWhole)},
         .asksRange = false,
         .ifRange = "",
         .requests = 1,
         .start = {0, 10}},
        {.name = "record without a validator",
         .record = {.Size = 10},
         .answers = {Answer("200 OK", {}, kWhole)},
         .asksRange = false,
         .ifRange = "",
         .requests = 1,
         .start = {0, 10}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Script> scripts;
        for (const auto& a : c.answers)
            scripts.push_back(Script().ExpectRequest().Send(a).Close());
        ScriptedServer server(scripts);
        ResumeRecord r = c.record;
        r.Address = Url(server);
        LeavePart("0123", r);
        starts.clear();
        Run(Url(server));
        EXPECT_EQ(sys.files.at(file), kWhole);
        EXPECT_FALSE(sys.files.count(part));
        EXPECT_FALSE(sys.files.count(record));
        const auto requests = server.Requests();
        ASSERT_EQ(requests.size(), c.requests);
        EXPECT_EQ(Has(requests[0], "Range: bytes=4-"), c.asksRange) << requests[0];
        EXPECT_EQ(Has(requests[0], std::string("If-Range: ") + c.ifRange), c.asksRange) << requests[0];
        if (c.requests > 1) {
            EXPECT_EQ(requests[1].find("Range:"), std::string::npos) << requests[1];
        }
        ASSERT_FALSE(starts.empty());
        EXPECT_EQ(starts.back(), c.start);
    }
}

TEST_F(Download, AFailureInOnDecidedStopsBeforeAnyByteAndTheFileStaysAbsent)
{
    ScriptedServer server({Script().ExpectRequest().Send(Answer("200 OK", {"ETag: \"v1\""}, kWhole)).Close()});
    TIdHTTP http(nullptr, sys);
    TFileDownload d(sys, file);
    d.OnDecided = [](const DownloadStart&) { throw Exception("no room"); };
    d.Open(Url(server), "", true);
    EXPECT_THROW(d.Run(http), Exception);
    EXPECT_EQ(sys.files.at(part), "");
    EXPECT_FALSE(sys.files.count(file));
    d.Discard();
    EXPECT_FALSE(sys.files.count(part));
    EXPECT_FALSE(sys.files.count(record));
}

TEST_F(Download, AFullDiskIsAnErrorAndNeverAFile)
{
    const std::string big(100000, 'b');
    ScriptedServer server({Script().ExpectRequest().Send(Answer("200 OK", {"ETag: \"v1\""}, big)).Close()});
    sys.diskCapacity = 50000;
    TIdHTTP http(nullptr, sys);
    TFileDownload d(sys, file);
    d.Open(Url(server), "", true);
    EXPECT_THROW(d.Run(http), EWriteError);
    EXPECT_FALSE(sys.files.count(file));
    EXPECT_LE(sys.files.at(part).size(), 50000u);
}

// The publisher's size and hash of kWhole, checked by the download itself.
struct SignedDownload : Download {
    platform::OpenSslCrypto crypto;
    SignedInstaller Signed(const std::string& bytes)
    {
        auto h = crypto.NewSha256();
        h->Update(bytes.data(), bytes.size());
        return {.Size = static_cast<std::int64_t>(bytes.size()), .Sha256 = h->Final()};
    }
    // One signed download of the URL, resuming; what OnDecided was handed.
    DownloadStart RunSigned(const std::string& url, const SignedInstaller& expected)
    {
        TIdHTTP http(nullptr, sys);
        TFileDownload d(sys, file);
        d.Require(std::make_unique<TSignedFileCheck>(expected, crypto, "mismatch"));
        DownloadStart start{.Kept = -1};
        d.OnDecided = [&start](const DownloadStart& s) { start = s; };
        d.Open(url, "sha", true);
        d.Run(http);
        d.Commit();
        return start;
    }
};

TEST_F(SignedDownload, OnlyTheSignedBytesBecomeTheFile)
{
    struct Case {
        const char* name;
        std::string served;   // the body the server sends
        std::string leftPart; // a part left by an earlier run ("" none)
        bool refused;
    } cases[] = {
        {.name = "the signed file", .served = kWhole, .leftPart = "", .refused = false},
        {.name = "one byte too many", .served = kWhole + "!", .leftPart = "", .refused = true},
        {.name = "one byte short", .served = kWhole.substr(0, 9), .leftPart = "", .refused = true},
        {.name = "same size, other bytes", .served = "0123456780", .leftPart = "", .refused = true},
        {.name = "a kept part that is not the signed start",
         .served = "X123456789",
         .leftPart = "X123",
         .refused = true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sys.files.clear();
        const std::string answer = c.leftPart.empty()
                                       ? Answer("200 OK", {"ETag: \"v1\""}, c.served)
                                       : Answer("206 Partial Content", {"Content-Range: bytes 4-9/10", "ETag: \"v1\""},
                                                c.served.substr(c.leftPart.size()));
        ScriptedServer server({Script().ExpectRequest().Send(answer).Close()});
        if (!c.leftPart.empty())
            LeavePart(c.leftPart, {.Address = Url(server), .ETag = "\"v1\"", .Size = 10, .Offer = "sha"});
        bool refused = false;
        try {
            RunSigned(Url(server), Signed(kWhole));
        } catch (const EInstallerMismatch& e) {
            refused = true;
            EXPECT_EQ(e.Message(), "mismatch");
        }
        EXPECT_EQ(refused, c.refused);
        if (!c.refused) {
            EXPECT_EQ(sys.files.at(file), kWhole);
        } else {
            // Nothing of a refused file is kept to be continued.
            EXPECT_FALSE(sys.files.count(file));
            EXPECT_FALSE(sys.files.count(part));
            EXPECT_FALSE(sys.files.count(record));
        }
    }
}

TEST_F(SignedDownload, ACompletePartIsVerifiedAndUsedWithoutARequest)
{
    // A server with nothing to answer: a request would fail the download.
    ScriptedServer server({});
    const std::string url = Url(server);
    LeavePart(kWhole, {.Address = url, .ETag = "\"v1\"", .Size = 10, .Offer = "sha"});
    const DownloadStart start = RunSigned(url, Signed(kWhole));
    EXPECT_EQ(sys.files.at(file), kWhole);
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_EQ(start.Kept, 10);
    EXPECT_EQ(start.Announced, 0);
    EXPECT_EQ(start.Total, 10);

    // A complete part with other bytes is not the signed file: downloaded again whole.
    ScriptedServer again({Script().ExpectRequest().Send(Answer("200 OK", {"ETag: \"v1\""}, kWhole)).Close()});
    LeavePart("9876543210", {.Address = Url(again), .ETag = "\"v1\"", .Size = 10, .Offer = "sha"});
    EXPECT_EQ(RunSigned(Url(again), Signed(kWhole)).Kept, 0);
    EXPECT_EQ(sys.files.at(file), kWhole);
    ASSERT_EQ(again.Requests().size(), 1u);
    EXPECT_FALSE(Has(again.Requests()[0], "Range: bytes=10-"));
}

TEST_F(Download, AnUnsignedCompletePartIsUsedWhenTheServerConfirmsItsValidator)
{
    struct Case {
        const char* name;
        std::string answer;
        std::string installed;
        std::int64_t kept;
    } cases[] = {
        {.name = "same file: 416",
         .answer = Answer("416 Range Not Satisfiable", {"Content-Range: bytes */10"}, ""),
         .installed = kWhole,
         .kept = 10},
        {.name = "changed file: 200 with the new one",
         .answer = Answer("200 OK", {"ETag: \"v2\""}, "abcdefghij"),
         .installed = "abcdefghij",
         .kept = 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Script> scripts{Script().ExpectRequest().Send(c.answer).Close()};
        ScriptedServer server(scripts);
        LeavePart(kWhole, {.Address = Url(server), .ETag = "\"v1\"", .Size = 10, .Offer = "build 2"});
        starts.clear();
        Run(Url(server), "build 2");
        EXPECT_EQ(sys.files.at(file), c.installed);
        ASSERT_EQ(server.Requests().size(), 1u);
        EXPECT_TRUE(Has(server.Requests()[0], "Range: bytes=10-")) << server.Requests()[0];
        EXPECT_TRUE(Has(server.Requests()[0], "If-Range: \"v1\"")) << server.Requests()[0];
        ASSERT_EQ(starts.size(), 1u);
        EXPECT_EQ(starts[0].first, c.kept);
    }
}

} // namespace

// A folder where the part file goes: an empty one is replaced, so later runs are not stuck
// on it; one that holds something is reported under the part file's own name, the file
// the system refused.
TEST(FileDownloadFolder, AFolderInPlaceOfThePartFileIsReplacedOrReportedByItsName)
{
    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/file-download-folder.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    platform::PosixSystem sys;
    const std::string setup = (dir / "setup.exe").string();
    fs::create_directory(setup + ".part");
    {
        TFileDownload download(sys, setup);
        download.Open("http://127.0.0.1:9/setup.exe", "", true);
        EXPECT_TRUE(fs::is_regular_file(setup + ".part"));
        download.Discard();
    }
    fs::create_directories(setup + ".part/inside");
    TFileDownload download(sys, setup);
    try {
        download.Open("http://127.0.0.1:9/setup.exe", "", true);
        ADD_FAILURE() << "opened";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file \"" + setup + ".part\". Directory not empty");
    }
    fs::remove_all(dir);
}

// The line a failed run's log gets about what it kept: only a part file with bytes and its
// record can be continued.
TEST(FileDownloadKept, SaysWhatIsKeptForALaterRun)
{
    FakeSystem sys;
    const std::string setup = "/home/user/Documents/setup.exe";
    TFileDownload download(sys, setup);
    EXPECT_EQ(download.KeptForResume(), "");
    sys.files[setup + ".part"] = "12345";
    EXPECT_EQ(download.KeptForResume(), "") << "without a record nothing can be continued";
    sys.files[setup + ".resume"] = "Address=x\nSize=9\n";
    EXPECT_EQ(download.KeptForResume(), "Kept \"" + setup + ".part\" (5 bytes) to continue the download later.");
    download.Discard();
    EXPECT_EQ(download.KeptForResume(), "");
}
