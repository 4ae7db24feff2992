// Addresses through splitting, path resolution, the full address and the preparation of a
// request, as a client meets them: one address after another (a download, then redirects
// or relative addresses), each folded into the current URL and composed into request lines.
//
// Input: addresses separated by line feeds; a line "@P" (P any text) instead resolves P
// against the current path on its own.

#include "FuzzSupport.h"

#include "http/IdException.h"
#include "http/IdHTTPRequest.h"
#include "http/IdProxyConnectionInfo.h"
#include "http/IdURI.h"
#include "tests/support/FakeSystem.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

void CheckSplit(std::string_view address)
{
    const TIdURI uri(address);
    std::string whole(address);
    for (char& c : whole)
        if (c == '\\')
            c = '/';
    FUZZ_CHECK(uri.URI() == whole);
    for (const std::string* field : {&uri.Protocol, &uri.Username, &uri.Password, &uri.Host, &uri.Port, &uri.Path,
                                     &uri.Document, &uri.Params, &uri.Bookmark})
        FUZZ_CHECK(field->find('\\') == std::string::npos && field->size() <= whole.size() + 1);
    FUZZ_CHECK(uri.Host.find_first_of("/:") == std::string::npos);
    FUZZ_CHECK(uri.Port.find('/') == std::string::npos);
    FUZZ_CHECK(uri.Document.find('/') == std::string::npos);
    FUZZ_CHECK(uri.Path.empty() || uri.Path.back() == '/');
    if (whole.find("://") != std::string::npos)
        FUZZ_CHECK(!uri.Path.empty() && uri.Path.front() == '/' && uri.Document.find('#') == std::string::npos);
    else
        FUZZ_CHECK(uri.Protocol.empty() && uri.Host.empty());
    FUZZ_CHECK(uri.Password.empty() || !uri.Username.empty());

    for (bool userPart : {false, true}) {
        for (bool bookmark : {false, true}) {
            try {
                const std::string full = uri.GetFullURI(userPart, bookmark);
                FUZZ_CHECK(!uri.Protocol.empty() && !uri.Host.empty());
                // The composed address names the same protocol, and the path, document and
                // params end up where they were.
                const TIdURI again(full);
                FUZZ_CHECK(again.Protocol == uri.Protocol);
                if (!userPart && !bookmark && uri.Bookmark.empty() && uri.Host.find('@') == std::string::npos &&
                    uri.Port.find('@') == std::string::npos)
                    FUZZ_CHECK(again.Path + again.Document + again.Params == uri.Path + uri.Document + uri.Params);
            } catch (const EIdURIException&) {
                FUZZ_CHECK(uri.Protocol.empty() || uri.Host.empty());
            }
        }
    }
}

void CheckResolve(std::string_view current, std::string_view path)
{
    const std::string r = TIdURI::ResolvePath(current, path);
    if (!path.empty() && path.front() == '/') {
        FUZZ_CHECK(r == path);
        return;
    }
    FUZZ_CHECK(r.size() <= current.size() + path.size() + 1);
    FUZZ_CHECK(r.find("//") == std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    FakeSystem system;
    TIdProxyConnectionInfo proxy;
    TIdURI current;
    current.Port = "80";
    TIdHTTPRequest request;
    int addresses = 0;

    while (!rest.empty() && addresses < 16) {
        const std::size_t lf = rest.find('\n');
        const std::string_view line = rest.substr(0, lf);
        rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
        ++addresses;

        if (!line.empty() && line.front() == '@') {
            CheckResolve(current.Path, line.substr(1));
            continue;
        }
        CheckSplit(line);
        CheckResolve(current.Path, TIdURI(line).Path);

        request.URL = std::string(line);
        request.Method = hmGet;
        try {
            PrepareRequest(current, request, pv1_1);
        } catch (const EIdUnknownProtocol&) {
            continue;
        }
        FUZZ_CHECK(request.URL == current.Path + current.Document + current.Params);
        FUZZ_CHECK(request.ContentLength == -1);
        FUZZ_CHECK(request.Host == (current.Port == "80" ? current.Host : current.Host + ":" + current.Port));
        try {
            const auto lines = BuildRequestLines(request, pv1_1, proxy, std::string(), system);
            FUZZ_CHECK(lines.size() >= 2 && lines.back().empty());
            FUZZ_CHECK(lines.front() == "GET " + request.URL + " HTTP/1.1");
            // Nothing from the address may start a line of its own.
            const std::string bytes = RequestBytes(lines);
            FUZZ_CHECK(bytes.find("\r\n\r\n") == bytes.size() - 4);
            for (const auto& l : lines)
                FUZZ_CHECK(l.find_first_of("\r\n") == std::string::npos);
        } catch (const EIdException& e) {
            const std::string target = request.URL + request.Host;
            FUZZ_CHECK(target.find_first_of("\r\n") != std::string::npos);
        }
    }
    return 0;
}
