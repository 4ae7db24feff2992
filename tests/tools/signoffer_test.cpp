// signoffer run as a process: the command lines it refuses (exit 2, one line naming the
// problem), and a signed answer for a well-formed one.

#include "tests/support/ChildProcess.h"
#include "tests/support/OfferVerdictCases.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

using testsupport::ToolRun;

namespace {

ToolRun Signoffer(const std::vector<std::string>& args) { return testsupport::RunTool("signoffer", args); }

struct TempDir {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("signoffer-test-" + std::to_string(::getpid()));
    TempDir() { std::filesystem::create_directories(path); }
    ~TempDir() { std::filesystem::remove_all(path); }
};

const std::string kUsage =
    "; usage: signoffer keygen PRIVATE.pem | signoffer pubkey PRIVATE.pem | signoffer sign --key PRIVATE.pem "
    "--app NAME --build N --version V --notes TEXT --url URL (--expires-days D | --expires YYYY-MM-DDTHH:MM:SSZ) "
    "INSTALLER | signoffer verify --key PUBLIC[,PUBLIC...] [--app NAME] OFFER.ini\n";

// A complete sign command line with one option's value replaced (or the option dropped
// when the value is null), and extra arguments after it.
std::vector<std::string> SignArgs(const std::string& key, const std::string& option = "", const char* value = "",
                                  const std::vector<std::string>& extra = {"setup.exe"})
{
    const std::vector<std::pair<std::string, std::string>> options = {
        {"--key", key},           {"--app", "App"},   {"--build", "7"},
        {"--version", "1.2"},     {"--notes", "New"}, {"--url", "http://127.0.0.1/setup.exe"},
        {"--expires-days", "30"},
    };
    std::vector<std::string> args{"sign"};
    for (const auto& [name, defaultValue] : options) {
        if (name == option && !value)
            continue;
        args.push_back(name);
        args.push_back(name == option ? value : defaultValue);
    }
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

TEST(Signoffer, RefusesEachMalformedSignCommandLine)
{
    struct Case {
        std::vector<std::string> args;
        const char* problem;
    };
    const std::string days = "--expires-days must be a whole number from 1 to 3650";
    const Case cases[] = {
        {.args = {"sign"}, .problem = "--key is missing"},
        {.args = SignArgs("k.pem", "--url", nullptr), .problem = "--url is missing"},
        {.args = SignArgs("k.pem", "", "", {"--foo", "x", "setup.exe"}), .problem = "unknown option --foo"},
        {.args = SignArgs("k.pem", "", "", {"setup.exe", "--notes"}), .problem = "--notes needs a value"},
        {.args = SignArgs("k.pem", "", "", {"--app", "Other", "setup.exe"}), .problem = "--app given twice"},
        {.args = SignArgs("k.pem", "", "", {}), .problem = "one INSTALLER file is needed"},
        {.args = SignArgs("k.pem", "", "", {"a.exe", "b.exe"}), .problem = "one INSTALLER file is needed"},
        {.args = SignArgs("k.pem", "--build", "1.5"), .problem = "--build must be a whole number"},
        {.args = SignArgs("k.pem", "--build", ""), .problem = "--build must be a whole number"},
        {.args = SignArgs("k.pem", "--expires-days", "0"), .problem = days.c_str()},
        {.args = SignArgs("k.pem", "--expires-days", "3651"), .problem = days.c_str()},
        {.args = SignArgs("k.pem", "--expires-days", "+5"), .problem = days.c_str()},
        {.args = SignArgs("k.pem", "--expires-days", "$10"), .problem = days.c_str()},
        {.args = SignArgs("k.pem", "--expires-days", nullptr),
         .problem = "one of --expires-days and --expires is needed"},
        {.args = SignArgs("k.pem", "", "", {"--expires", "2030-01-01T00:00:00Z", "setup.exe"}),
         .problem = "one of --expires-days and --expires is needed"},
        {.args = SignArgs("k.pem", "--expires-days", nullptr, {"--expires", "2030-01-01 00:00:00", "setup.exe"}),
         .problem = "--expires must be a UTC time YYYY-MM-DDTHH:MM:SSZ"},
        {.args = {"verify", "offer.ini"}, .problem = "--key is missing"},
        {.args = {"verify", "--key", "AAAA"}, .problem = "one OFFER.ini file is needed"},
        {.args = {"verify", "--key", "AAAA", "--build", "1", "offer.ini"}, .problem = "unknown option --build"},
        {.args = {"pubkey"}, .problem = "pubkey takes one PRIVATE.pem"},
        {.args = SignArgs("k.pem", "--app", " App"),
         .problem = "--app begins or ends with a blank or control character"},
        {.args = SignArgs("k.pem", "--notes", "a\nb"), .problem = "--notes contains a line break"},
        {.args = SignArgs("k.pem", "--version", "'1'"),
         .problem = "--version is enclosed in quotes, which the reader removes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem);
        const ToolRun r = Signoffer(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "signoffer: " + std::string(c.problem) + kUsage);
        EXPECT_EQ(r.out, "");
    }
}

TEST(Signoffer, SignsAWellFormedCommandLineWithAFreshKey)
{
    TempDir dir;
    const std::string key = (dir.path / "publisher.pem").string();
    const std::string installer = (dir.path / "setup.exe").string();
    std::ofstream(installer, std::ios::binary) << "installer bytes";

    const ToolRun keygen = Signoffer({"keygen", key});
    ASSERT_EQ(keygen.status, 0) << keygen.err;
    const ToolRun again = Signoffer({"keygen", key});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "error: cannot create \"" + key + "\" (it must not exist yet)\n");

    const ToolRun r = Signoffer(SignArgs(key, "", "", {installer}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("[web]\r\nAppName=App\r\nbuildId=7\r\nversion=1.2\r\nwhatnews=New\r\n"
                          "SetupPath=http://127.0.0.1/setup.exe\r\nSetupSize=15\r\nSetupSha256=",
                          0),
              0u)
        << r.out;
    EXPECT_NE(r.out.find("\r\nSignature="), std::string::npos);
}

TEST(Signoffer, VerifyJudgesEverySharedCaseAsTheUpdaterDoes)
{
    // The same table drives the updater's verdict test (signed_offer_test).
    TempDir dir;
    const testsupport::OfferKeys keys;
    using namespace std::chrono;
    const double nowUtc = UnixMsToDateTime(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
    for (const auto& c : testsupport::OfferVerdictCases()) {
        SCOPED_TRACE(c.name);
        const std::string offer = (dir.path / "offer.ini").string();
        std::ofstream(offer, std::ios::binary) << keys.AnswerFor(c, nowUtc);
        const ToolRun r = Signoffer({"verify", "--key", keys.KeysFor(c), "--app", c.app, offer});
        EXPECT_EQ(r.status, c.want == OfferCheck::Accepted ? 0 : 1) << r.out << r.err;
        EXPECT_EQ(r.out.rfind(std::string(OfferCheckName(c.want)) + ": ", 0), 0u) << r.out;
        EXPECT_NE(r.out.find(c.reason), std::string::npos) << r.out;
    }
}

TEST(Signoffer, PubkeyPrintsWhatKeygenPrintedAndAnAbsoluteExpiryIsSigned)
{
    TempDir dir;
    const std::string key = (dir.path / "publisher.pem").string();
    const std::string installer = (dir.path / "setup.exe").string();
    std::ofstream(installer, std::ios::binary) << "installer bytes";
    const ToolRun keygen = Signoffer({"keygen", key});
    ASSERT_EQ(keygen.status, 0) << keygen.err;
    const ToolRun pub = Signoffer({"pubkey", key});
    EXPECT_EQ(pub.status, 0) << pub.err;
    EXPECT_EQ(pub.out, keygen.out);
    EXPECT_EQ(Signoffer({"pubkey", (dir.path / "missing.pem").string()}).status, 1);

    // A short-lived offer, and one that has already expired: verify tells them apart.
    for (const auto& [expires, status] : {std::pair{"2099-01-01T00:00:00Z", 0}, std::pair{"2001-01-01T00:00:00Z", 1}}) {
        const ToolRun signedOffer =
            Signoffer(SignArgs(key, "--expires-days", nullptr, {"--expires", expires, installer}));
        ASSERT_EQ(signedOffer.status, 0) << signedOffer.err;
        EXPECT_NE(signedOffer.out.find(std::string("\r\nExpires=") + expires + "\r\n"), std::string::npos);
        const std::string offer = (dir.path / "offer.ini").string();
        std::ofstream(offer, std::ios::binary) << signedOffer.out;
        const ToolRun verdict = Signoffer({"verify", "--key", keygen.out.substr(0, keygen.out.size() - 1), offer});
        EXPECT_EQ(verdict.status, status) << verdict.out;
    }
}

} // namespace
