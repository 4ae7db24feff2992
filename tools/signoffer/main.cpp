// signoffer: the publisher's signing tool for update offers.
//
//   signoffer keygen PRIVATE.pem
//       makes a P-256 key, writes it to PRIVATE.pem (a new file, readable by its owner
//       only) and prints the public key as "update.ini" takes it in "PublicKey".
//   signoffer pubkey PRIVATE.pem
//       prints the public key of PRIVATE.pem again, as keygen printed it.
//   signoffer sign --key PRIVATE.pem --app NAME --build N --version V --notes TEXT
//                  --url URL (--expires-days D | --expires YYYY-MM-DDTHH:MM:SSZ) INSTALLER
//       prints a complete signed check answer for INSTALLER (its size and SHA-256).
//   signoffer verify --key PUBLIC[,PUBLIC...] [--app NAME] OFFER.ini
//       judges a check answer as the updater would now, for the application NAME (the
//       offer's own AppName when not given): prints "<verdict>: <reason>" and exits 0 when
//       it is accepted, 1 otherwise.
//
// A value that the updater's settings reader would not read back unchanged is refused, so
// what is signed is what the updater verifies. Usage errors print one line and exit 2;
// other failures print "error: MESSAGE" and exit 1.

#include "platform/posix/OpenSslCrypto.h"
#include "platform/runtime/Base64.h"
#include "platform/runtime/DateTime.h"
#include "platform/runtime/Decimal.h"
#include "platform/runtime/Exception.h"
#include "platform/system/ProfileParser.h"
#include "update/Settings.h"
#include "update/SignedOffer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// Offers are meant to be replaced by newer ones; ten years is the longest life taken.
constexpr int kMaxExpiresDays = 3650;

const char* const kUsage =
    "usage: signoffer keygen PRIVATE.pem | signoffer pubkey PRIVATE.pem | signoffer sign --key PRIVATE.pem "
    "--app NAME --build N --version V --notes TEXT --url URL (--expires-days D | --expires YYYY-MM-DDTHH:MM:SSZ) "
    "INSTALLER | signoffer verify --key PUBLIC[,PUBLIC...] [--app NAME] OFFER.ini\n";

int Usage(const std::string& why)
{
    std::fprintf(stderr, "signoffer: %s; %s", why.c_str(), kUsage);
    return kExitUsage;
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Exception("cannot open \"" + path + "\"");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TDateTime NowUtc()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return UnixMsToDateTime(ms);
}

int KeyGen(const std::string& path)
{
    const platform::P256KeyPair pair = platform::GenerateP256Key();
    // A new file only: overwriting a publisher's key would lose every installation's trust.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0)
        throw Exception("cannot create \"" + path + "\" (it must not exist yet)");
    const auto written = ::write(fd, pair.PrivateKeyPem.data(), pair.PrivateKeyPem.size());
    const bool ok = written == static_cast<ssize_t>(pair.PrivateKeyPem.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok) {
        ::unlink(path.c_str());
        throw Exception("cannot write \"" + path + "\"");
    }
    std::printf("%s\n", Base64Encode(pair.PublicKeyDer).c_str());
    return kExitOk;
}

int PubKey(const std::string& path)
{
    std::printf("%s\n", Base64Encode(platform::P256PublicKeyOf(ReadWhole(path))).c_str());
    return kExitOk;
}

using Options = std::map<std::string, std::string>;

// Every option of sign; of the two expiries exactly one is given.
const std::vector<std::string> kSignOptions = {"--key",   "--app", "--build",        "--version",
                                               "--notes", "--url", "--expires-days", "--expires"};
const std::vector<std::string> kRequiredSignOptions = {"--key", "--app", "--build", "--version", "--notes", "--url"};
const std::vector<std::string> kVerifyOptions = {"--key", "--app"};

// Splits a command's arguments into options with their values and the others; the usage
// problem when an option is not one of `known`, has no value or comes twice.
std::optional<std::string> ReadArguments(int argc, char** argv, const std::vector<std::string>& known, Options& opts,
                                         std::vector<std::string>& rest)
{
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0) {
            rest.push_back(arg);
            continue;
        }
        if (std::find(known.begin(), known.end(), arg) == known.end())
            return "unknown option " + arg;
        if (i + 1 >= argc)
            return arg + " needs a value";
        if (!opts.emplace(arg, argv[++i]).second)
            return arg + " given twice";
    }
    return std::nullopt;
}

// The days of --expires-days: 1 to kMaxExpiresDays in digits only, else 0.
int ExpiryDays(const Options& opts)
{
    return static_cast<int>(ParseDecimal(opts.at("--expires-days"), kMaxExpiresDays).value_or(0));
}

// The usage problem of a complete sign command line, if any: every option and one
// installer are there, and every value reads back unchanged.
// The usage problem of the expiry options, if any: one of the two, well formed.
std::optional<std::string> ExpiryProblem(const Options& opts)
{
    const bool days = opts.count("--expires-days") != 0;
    if (days == (opts.count("--expires") != 0))
        return std::string("one of --expires-days and --expires is needed");
    if (!days)
        return ParseUtcTimestamp(opts.at("--expires"))
                   ? std::nullopt
                   : std::optional<std::string>("--expires must be a UTC time YYYY-MM-DDTHH:MM:SSZ");
    if (ExpiryDays(opts) < 1)
        return "--expires-days must be a whole number from 1 to " + std::to_string(kMaxExpiresDays);
    return std::nullopt;
}

std::optional<std::string> SignArgumentsProblem(const Options& opts, const std::vector<std::string>& rest)
{
    for (const auto& o : kRequiredSignOptions)
        if (!opts.count(o))
            return o + " is missing";
    if (rest.size() != 1)
        return "one INSTALLER file is needed";
    // Whole numbers only: a fraction reads differently under each locale's decimal separator.
    const std::string& build = opts.at("--build");
    if (build.empty() || build.find_first_not_of("0123456789") != std::string::npos)
        return "--build must be a whole number";
    if (auto problem = ExpiryProblem(opts))
        return problem;
    for (const char* o : {"--app", "--version", "--notes", "--url"})
        if (auto problem = SignedValueProblem(opts.at(o)))
            return std::string(o) + " " + *problem;
    return std::nullopt;
}

// Signs the offer for the installer with the options' values and prints the answer.
int PrintSignedOffer(const Options& opts, const std::string& installerPath)
{
    const std::string key = ReadWhole(opts.at("--key"));
    const std::string installer = ReadWhole(installerPath);
    platform::OpenSslCrypto crypto;
    auto hash = crypto.NewSha256();
    hash->Update(installer.data(), installer.size());

    const SignedOfferFields fields = {opts.at("--app"),
                                      opts.at("--build"),
                                      opts.at("--version"),
                                      opts.at("--notes"),
                                      opts.at("--url"),
                                      std::to_string(installer.size()),
                                      Sha256Hex(hash->Final()),
                                      opts.count("--expires") ? opts.at("--expires")
                                                              : FormatUtcTimestamp(NowUtc() + ExpiryDays(opts))};
    const std::string message = SignedOfferMessage(FieldsLookup(fields));
    const std::string signature = platform::SignEcdsaP256Sha256(key, message);
    // Checked once more with the public half, so a publisher never ships an offer that its
    // own updaters would refuse.
    if (!crypto.VerifyEcdsaP256Sha256(platform::P256PublicKeyOf(key), message, signature))
        throw Exception("the signature does not verify");
    const std::string answer = SignedOfferAnswer(fields, signature);
    std::fwrite(answer.data(), 1, answer.size(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

int Sign(int argc, char** argv)
{
    Options opts;
    std::vector<std::string> rest;
    if (auto problem = ReadArguments(argc, argv, kSignOptions, opts, rest))
        return Usage(*problem);
    if (auto problem = SignArgumentsProblem(opts, rest))
        return Usage(*problem);
    return PrintSignedOffer(opts, rest[0]);
}

// Judges the answer in the file as the updater does: the same reader of section "web",
// the same verification, at this moment.
int Verify(int argc, char** argv)
{
    Options opts;
    std::vector<std::string> rest;
    if (auto problem = ReadArguments(argc, argv, kVerifyOptions, opts, rest))
        return Usage(*problem);
    if (!opts.count("--key"))
        return Usage("--key is missing");
    if (rest.size() != 1)
        return Usage("one OFFER.ini file is needed");
    const std::string answer = ReadWhole(rest[0]);
    const OfferLookup lookup = [&answer](const std::string& key) {
        return ReadProfileString(answer, kOfferedSection, key, "");
    };
    const std::string app = opts.count("--app") ? opts.at("--app") : lookup("AppName");
    platform::OpenSslCrypto crypto;
    const OfferVerdict verdict = VerifyOffer(crypto, opts.at("--key"), lookup, app, NowUtc());
    std::printf("%s: %s\n", OfferCheckName(verdict.Check), verdict.Reason.c_str());
    if (std::fflush(stdout) != 0)
        return kExitFailed;
    return verdict.Check == OfferCheck::Accepted ? kExitOk : kExitFailed;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage("no command");
    const std::string command = argv[1];
    try {
        if (command == "keygen") {
            if (argc != 3)
                return Usage("keygen takes one PRIVATE.pem");
            return KeyGen(argv[2]);
        }
        if (command == "pubkey") {
            if (argc != 3)
                return Usage("pubkey takes one PRIVATE.pem");
            return PubKey(argv[2]);
        }
        if (command == "sign")
            return Sign(argc, argv);
        if (command == "verify")
            return Verify(argc, argv);
        return Usage("unknown command " + command);
    } catch (const Exception& e) {
        std::fprintf(stderr, "error: %s\n", e.Message().c_str());
        return kExitFailed;
    }
}
