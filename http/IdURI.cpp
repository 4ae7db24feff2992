#include "http/IdURI.h"

#include "http/IdException.h"

#include <optional>

namespace {

// Where the query starts: the first "?", or failing that the first "=" (some servers take
// "page=value" addresses without a "?"); nothing when the text has neither.
std::optional<size_t> QueryStart(std::string_view text)
{
    size_t q = text.find('?');
    if (q == std::string_view::npos)
        q = text.find('=');
    if (q == std::string_view::npos)
        return std::nullopt;
    return q;
}

// Position just after the last "/" before the query (0 when there is none).
size_t DocumentStart(std::string_view text, std::optional<size_t> query)
{
    std::string_view head = query ? text.substr(0, *query) : text;
    size_t s = head.rfind('/');
    return s == std::string_view::npos ? 0 : s + 1;
}

void SplitAtChar(std::string& whole, std::string& after, char c)
{
    size_t at = whole.find(c);
    if (at != std::string::npos) {
        after = whole.substr(at + 1);
        whole.erase(at);
    }
}

} // namespace

void TIdURI::SetURI(std::string_view text)
{
    // The narrow code pages used here have no double-byte characters whose trail byte
    // could be a "\" (UTF-8 multi-byte sequences use bytes from 0x80 up only), so every
    // "\" is a separator written the Windows way.
    std::string uri(text);
    for (char& c : uri)
        if (c == '\\')
            c = '/';

    *this = TIdURI();
    uri_ = uri;

    std::string_view rest = uri;
    size_t scheme = rest.find("://");
    if (scheme != std::string_view::npos) {
        Protocol = std::string(rest.substr(0, scheme));
        rest.remove_prefix(scheme + 3);

        std::string_view authority = rest;
        size_t slash = rest.find('/');
        if (slash == std::string_view::npos) {
            rest = {};
        } else {
            authority = rest.substr(0, slash);
            rest.remove_prefix(slash + 1);
        }

        size_t at = authority.find('@');
        if (at != std::string_view::npos) {
            std::string_view user = authority.substr(0, at);
            authority.remove_prefix(at + 1);
            size_t colon = user.find(':');
            Username = std::string(user.substr(0, colon));
            if (colon != std::string_view::npos && !Username.empty())
                Password = std::string(user.substr(colon + 1));
        }

        size_t colon = authority.find(':');
        Host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos)
            Port = std::string(authority.substr(colon + 1));

        auto q = QueryStart(rest);
        size_t s = DocumentStart(rest, q);
        Path = "/" + std::string(rest.substr(0, s));
        if (q) {
            Document = std::string(rest.substr(s, *q - s));
            Params = std::string(rest.substr(*q));
        } else {
            Document = std::string(rest.substr(s));
        }
        SplitAtChar(Document, Bookmark, '#');
    } else {
        auto q = QueryStart(rest);
        size_t s = DocumentStart(rest, q);
        Path = std::string(rest.substr(0, s));
        if (q) {
            Document = std::string(rest.substr(s, *q - s));
            Params = std::string(rest.substr(*q));
        } else {
            Document = std::string(rest.substr(s));
        }
    }
    if (Bookmark.empty())
        SplitAtChar(Params, Bookmark, '#');
}

std::string TIdURI::GetFullURI(bool withUserPart, bool withBookmark) const
{
    if (Protocol.empty())
        throw EIdURIException("Protocol field is empty");
    if (Host.empty())
        throw EIdURIException("Host field is empty");
    std::string r = Protocol + "://";
    if (withUserPart && !Username.empty()) {
        r += Username;
        if (!Password.empty())
            r += ":" + Password;
        r += "@";
    }
    r += Host;
    if (!Port.empty())
        r += ":" + Port;
    r += Path + Document + Params;
    if (withBookmark && !Bookmark.empty())
        r += "#" + Bookmark;
    return r;
}

std::string TIdURI::ResolvePath(std::string_view current, std::string_view path)
{
    if (!path.empty() && path.front() == '/')
        return std::string(path);

    const bool keepTrail = path.empty() || path.back() == '/';
    std::string w(current);
    if (!w.empty() && w.back() != '/')
        w += '/';
    w += path;

    std::string r;
    auto endsWithSlash = [&r] { return !r.empty() && r.back() == '/'; };
    for (size_t i = 0; i < w.size(); ++i) {
        const char c = w[i];
        if (c == '/') {
            if (i == 0)
                r = "/";
            else if (!endsWithSlash())
                r += '/';
        } else if (c == '.' && endsWithSlash() && i + 1 < w.size() && w[i + 1] == '.') {
            // ".." drops the last directory of what has been built so far.
            r.pop_back();
            while (!r.empty() && r.back() != '/')
                r.pop_back();
            ++i;
        } else {
            r += c;
        }
    }
    if (endsWithSlash() && r != "/" && !keepTrail)
        r.pop_back();
    return r;
}
