// httpget: the updater's HTTP client on the command line, for people who run an update
// server and want to see what the updater sees.
//
//   httpget [--events] [--follow] [--antifreeze] [--cafile FILE] [--resume] [--proxy URL|direct]
//           [-o FILE] URL [[-o FILE] URL ...]
//
// The proxy is chosen as the updater chooses it: --proxy in place of "update.ini"'s
// "Proxy", otherwise the system's settings (the environment on Linux, as curl reads it).
//
// https addresses are verified against the system's trust store, plus the certificates of
// the PEM FILE given with --cafile (for a server with a private CA), as the updater does
// with "CAFile" in its "update.ini". Nothing turns the verification off.
//
// One client, configured as the update window configures its own, fetches the URLs in
// order, so connection reuse, relative addresses and cookies carry from one URL to the next.
// A body for FILE (-o before the URL) goes straight to "FILE.part" beside it, through the
// same file stream as the updater's installer, and becomes FILE only after its Get returned
// normally: FILE is untouched after a failure. Other bodies go into a fresh memory buffer
// and, once the Get has returned, to standard output. With --resume, a "FILE.part" left by
// an interrupted run is continued with a range request, and kept after a failure. A failed
// Get prints "error: CLASS: MESSAGE" and ends the run with status 1; a usage error gives
// status 2.

#include "http/IdAntiFreeze.h"
#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "platform/headless/HeadlessApplication.h"
#include "platform/runtime/MemoryStream.h"
#include "platform/sockets/Sockets.h"
#include "tools/httpget/Output.h"
#include "update/FileDownload.h"
#include "update/UpdateClientSettings.h"
#include "update/UpdateProxyResolver.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: httpget [--events] [--follow] [--antifreeze] [--cafile FILE] [--resume] [--proxy URL|direct]\n"
    "               [-o FILE] URL [[-o FILE] URL ...]\n";

struct Target {
    std::string url;
    std::optional<std::string> file;
};

struct Options {
    bool events = false;
    bool follow = false;
    bool antifreeze = false;
    std::string caFile;
    bool resume = false;
    std::string proxy; // empty: the system's settings
    std::vector<Target> targets;
};

// The non-empty value after the option at argv[i], given once; false on a usage error.
bool TakeValue(int argc, char** argv, int& i, std::string& value)
{
    if (i + 1 >= argc || !value.empty() || argv[i + 1][0] == '\0')
        return false;
    value = argv[++i];
    return true;
}

// Reads the command line; nothing on a usage error. An empty URL argument is a URL.
std::optional<Options> ParseArguments(int argc, char** argv)
{
    Options o;
    std::optional<std::string> pendingFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--events")
            o.events = true;
        else if (arg == "--follow")
            o.follow = true;
        else if (arg == "--antifreeze")
            o.antifreeze = true;
        else if (arg == "--cafile" || arg == "--proxy") {
            if (!TakeValue(argc, argv, i, arg == "--cafile" ? o.caFile : o.proxy))
                return std::nullopt;
        } else if (arg == "--resume")
            o.resume = true;
        else if (arg == "-o") {
            if (pendingFile || i + 1 >= argc)
                return std::nullopt;
            pendingFile = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-')
            return std::nullopt;
        else {
            o.targets.push_back({arg, pendingFile});
            pendingFile.reset();
        }
    }
    if (pendingFile || o.targets.empty())
        return std::nullopt;
    return o;
}

const char* WorkModeName(TWorkMode mode) { return mode == wmRead ? "wmRead" : "wmWrite"; }

const char* StatusName(TIdStatus status)
{
    switch (status) {
    case hsResolving:
        return "hsResolving";
    case hsConnecting:
        return "hsConnecting";
    case hsConnected:
        return "hsConnected";
    case hsDisconnecting:
        return "hsDisconnecting";
    case hsDisconnected:
        return "hsDisconnected";
    case hsStatusText:
        return "hsStatusText";
    case ftpTransfer:
        return "ftpTransfer";
    case ftpReady:
        return "ftpReady";
    case ftpAborted:
        return "ftpAborted";
    }
    return "?";
}

// Carriage returns and line feeds written as \r and \n, so the error stays one line.
std::string OneLine(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

void PrintError(const std::string& className, const std::string& message, std::optional<int> code = std::nullopt)
{
    std::string line = "error: " + className + ": " + OneLine(message);
    if (code)
        line += " [code " + std::to_string(*code) + "]";
    line += "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void PrintEvent(const std::string& text)
{
    const std::string line = text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

bool WriteStdout(std::string_view bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t n = std::fwrite(bytes.data() + done, 1, bytes.size() - done, stdout);
        if (n == 0)
            return false;
        done += n;
    }
    return std::fflush(stdout) == 0;
}

using httpget::KindOf;
using httpget::OutputKind;
using httpget::WriteThrough;

// A failed download to FILE leaves nothing beside it, unless it is to be continued.
void Abandon(std::optional<TFileDownload>& download, bool resume)
{
    if (download && !resume)
        download->Discard();
}

int Run(const Options& options)
{
    const std::unique_ptr<httpget::Backend> backend = httpget::MakeBackend();
    platform::System& system = backend->System();
    platform::HeadlessApplication application;
    const platform::Tls* tls = &backend->Tls();

    std::unique_ptr<TIdAntiFreeze> antiFreeze;
    if (options.antifreeze) {
        antiFreeze = std::make_unique<TIdAntiFreeze>(nullptr, application);
        antiFreeze->SetIdleTimeOut(1);
        antiFreeze->SetActive(true);
        // A read wait sleeps on the socket, as the updater's does, instead of waking every
        // millisecond to pump a queue that nothing posts to.
        application.SetSockets(&platform::SystemSockets());
    }

    // Outlives the client, which borrows it.
    UpdateProxyResolver proxy(&backend->Proxy(), options.proxy, "--proxy");
    TIdHTTP http(nullptr, system, "IdHTTP1");
    ConfigureUpdateClient(http);
    ConfigureUpdateClientTls(http, tls, options.caFile);
    http.SetProxyResolver(&proxy);
    http.HandleRedirects = options.follow;
    if (options.events) {
        http.OnWorkBegin = [](TComponent*, TWorkMode mode, std::int64_t max) {
            PrintEvent(std::string("OnWorkBegin ") + WorkModeName(mode) + " " + std::to_string(max));
        };
        http.OnWork = [](TComponent*, TWorkMode mode, std::int64_t count) {
            PrintEvent(std::string("OnWork ") + WorkModeName(mode) + " " + std::to_string(count));
        };
        http.OnWorkEnd = [](TComponent*, TWorkMode mode) {
            PrintEvent(std::string("OnWorkEnd ") + WorkModeName(mode));
        };
        http.OnStatus = [](TComponent*, TIdStatus status, const std::string& text) {
            PrintEvent(std::string("OnStatus ") + StatusName(status) + " " + text);
        };
    }

    for (const auto& target : options.targets) {
        std::optional<TFileDownload> download;
        try {
            const OutputKind kind = target.file ? KindOf(*target.file) : OutputKind{};
            if (target.file && kind.kind != OutputKind::Special) {
                // A link at FILE is replaced, never followed; "FILE.part" is the tool's own.
                download.emplace(system, kind.path);
                download->Open(target.url, "", options.resume);
                download->Run(http);
                // The new file keeps the permission bits of the one it replaces.
                httpget::KeepMode(download->PartPath(), kind);
                // The user's output, not an installer: no wait for the disk.
                download->Commit();
            } else if (target.file) {
                TMemoryStream body;
                http.Get(target.url, body);
                WriteThrough(*target.file, body.Bytes());
            } else {
                TMemoryStream body;
                http.Get(target.url, body);
                if (!WriteStdout(body.Bytes()))
                    throw EStreamError("Cannot write to standard output");
            }
        } catch (const EIdHTTPProtocolException& e) {
            Abandon(download, options.resume);
            PrintError(e.ClassName(), e.Message(), e.ReplyErrorCode());
            return kExitFailed;
        } catch (const Exception& e) {
            Abandon(download, options.resume);
            PrintError(e.ClassName(), e.Message());
            return kExitFailed;
        } catch (const std::bad_alloc&) {
            Abandon(download, options.resume);
            PrintError("EOutOfMemory", "Out of memory");
            return kExitFailed;
        }
    }
    return kExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
    }
    const auto options = ParseArguments(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    try {
        return Run(*options);
    } catch (const Exception& e) {
        // Failures outside a Get (the socket library, the system).
        PrintError(e.ClassName(), e.Message());
        return kExitFailed;
    }
}
