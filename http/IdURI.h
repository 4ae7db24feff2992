#pragma once
// A parsed address: protocol, user part, host, port, path, document, params and bookmark,
// split by the client's own rules. Nothing is percent-encoded or decoded: every field
// holds the bytes of the address as given (after "\" has become "/").

#include <string>
#include <string_view>

class TIdURI {
public:
    TIdURI() = default;
    explicit TIdURI(std::string_view uri) { SetURI(uri); }

    // Clears every field and splits the text into them.
    void SetURI(std::string_view uri);
    // The whole address as last given to SetURI (after backslash replacement).
    const std::string& URI() const { return uri_; }

    // protocol://[user[:password]@]host[:port]path document params[#bookmark]; the user part
    // and the bookmark only on request. Throws EIdURIException when protocol or host is empty.
    std::string GetFullURI(bool withUserPart = false, bool withBookmark = false) const;

    // The new path resolved against the current one: an absolute path stands as it is, a
    // relative one is appended to the current path with ".." steps applied.
    static std::string ResolvePath(std::string_view current, std::string_view path);

    std::string Protocol;
    std::string Username;
    std::string Password;
    std::string Host;
    std::string Port;
    std::string Path;     // up to and including the last "/" before the query
    std::string Document; // after that "/"
    std::string Params;   // the query with its "?" (or "=" when there is no "?")
    std::string Bookmark; // after "#", without it

private:
    std::string uri_;
};
