#include "http/IdHTTP.h"

#include "http/IdCookieManager.h"
#include "http/IdException.h"
#include "http/IdHTTPBodyFraming.h"
#include "http/IdHTTPStatus.h"
#include "http/IdStack.h"
#include "http/IdTLSIOHandlerSocket.h"
#include "platform/sockets/SocketErrors.h"
#include "platform/runtime/Convert.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/MemoryStream.h"
#include "platform/proxy/ProxyResolver.h"
#include "platform/runtime/Strings.h"

#include <algorithm>
#include <limits>

namespace {

// Restores the connection's read time-out on every path out of a short read.
class ReadTimeoutScope {
public:
    ReadTimeoutScope(TIdTCPConnection& connection, int ms) : connection_(connection), saved_(connection.ReadTimeout())
    {
        connection_.SetReadTimeout(ms);
    }
    ~ReadTimeoutScope() { connection_.SetReadTimeout(saved_); }
    ReadTimeoutScope(const ReadTimeoutScope&) = delete;
    ReadTimeoutScope& operator=(const ReadTimeoutScope&) = delete;

private:
    TIdTCPConnection& connection_;
    int saved_;
};

// The highest port number; a larger one would silently become another port on the wire.
constexpr int kMaxPort = 65535;

// Counts one more line of a header block (or trailer) against the block bounds. Without
// them a server that never sends the empty line would fill memory one line at a time, or,
// sending fast enough that no wait ever finds the socket empty, keep the client from
// pumping messages for as long as it likes.
void CountHeaderLine(std::size_t& lines, std::size_t& bytes, std::size_t length)
{
    if (++lines > TIdHTTP::MaxHeaderLines)
        throw EIdHTTPTooManyHeaderLines();
    bytes += length;
    if (bytes > TIdHTTP::MaxHeaderBlockSize)
        throw EIdHTTPHeaderBlockTooLarge();
}

// A failure that says the connection is gone: the server's close, or a reset or abort.
bool ShowsConnectionLost(const EIdException& e)
{
    if (dynamic_cast<const EIdConnClosedGracefully*>(&e) || dynamic_cast<const EIdNotConnected*>(&e))
        return true;
    const auto* socketError = dynamic_cast<const EIdSocketError*>(&e);
    if (!socketError)
        return false;
    const int number = socketError->LastError();
    return number == platform::WsaEConnAborted || number == platform::WsaEConnReset || number == platform::WsaEShutdown;
}

bool IsSecure(const TIdURI& url) { return SameText(url.Protocol, "https"); }

int DefaultPort(const TIdURI& url) { return IsSecure(url) ? 443 : 80; }

// The address without user part and bookmark, and without the port when it is the
// scheme's own: the request target through a proxy, and what the resolver is asked about.
std::string AbsoluteAddress(const TIdURI& url)
{
    TIdURI target = url;
    if (TryStrToInt(target.Port).value_or(-1) == DefaultPort(url))
        target.Port.clear();
    return target.GetFullURI(false, false);
}

// A host that names this machine's loopback interface.
bool IsLoopbackHost(const std::string& host)
{
    if (SameText(host, "localhost") || host == "::1" || host == "[::1]")
        return true;
    return TIdStack::IsDottedQuad(host) && TIdStack::DottedToAddress(host)[0] == 127;
}

} // namespace

TIdHTTP::TIdHTTP(TComponent* owner, platform::System& system, std::string name)
    : TIdTCPClient(owner, std::move(name)), system_(system)
{
    SetPort(80);
}

TIdHTTP::~TIdHTTP() = default;

void TIdHTTP::SetHost(const std::string& host)
{
    TIdTCPClient::SetHost(host);
    url_.Host = host;
}

void TIdHTTP::SetPort(int port)
{
    TIdTCPClient::SetPort(port);
    url_.Port = std::to_string(port);
}

void TIdHTTP::SetCookieManager(TIdCookieManager* manager)
{
    if (manager == cookieManager_)
        return;
    cookieManager_ = manager;
    ownedCookieManager_.reset();
}

void TIdHTTP::SetCookieManager(std::unique_ptr<TIdCookieManager> manager)
{
    ownedCookieManager_ = std::move(manager);
    cookieManager_ = ownedCookieManager_.get();
}

std::unique_ptr<TIdIOHandler> TIdHTTP::NewIOHandler()
{
    // Through a proxy the connection opens in plain: OpenRoute puts TLS over the tunnel.
    if (IsSecure(url_) && tls_ && !ViaProxy())
        return std::make_unique<TIdTLSIOHandlerSocket>(nullptr, *tls_, caFile_);
    return TIdTCPClient::NewIOHandler();
}

void TIdHTTP::DoOnDisconnected()
{
    TIdTCPClient::DoOnDisconnected();
    if (proxyParams_.Authentication)
        proxyParams_.Authentication->Reset();
}

// --- The request cycle ------------------------------------------------------------------

void TIdHTTP::Get(const std::string& url, TStream& stream)
{
    authRetries_ = 0;
    proxyAuthRetries_ = 0;
    routePending_ = true;
    request_.URL = url;
    request_.Method = hmGet;
    request_.Source = nullptr;
    response_.ContentStream = &stream;

    // Whatever ends the call, a connection that must not carry the next request is closed:
    // one the keep-alive rule refuses, and one left in the middle of an answer (a failure
    // while reading it), whose unread bytes would otherwise be taken for the next answer.
    auto closeUnlessReusable = [this] {
        if (!answerComplete_ || !ResponseKeepAlive())
            CloseConnection();
    };
    try {
        bool redirected = false;
        for (;;) {
            ++redirectCount_;
            const bool wasSecure = IsSecure(url_);
            const std::string fromHost = url_.Host;
            PrepareRequest(url_, request_, ProtocolVersion);
            // Following a redirect out of TLS would send the request, and take the answer,
            // where anyone on the path can read and change them.
            if (redirected && wasSecure && !IsSecure(url_) &&
                !(AllowLoopbackDowngrade && IsLoopbackHost(fromHost) && IsLoopbackHost(url_.Host)))
                throw EIdTLSDowngrade(Format("Refused to follow a redirect from https://%s to %s://%s: it leaves TLS.",
                                             {fromHost, url_.Protocol, url_.Host}));
            Exchange();
            const Outcome outcome = ProcessResponse();
            if (outcome == Outcome::Finish)
                break;
            redirected = outcome == Outcome::Follow;
            if (outcome == Outcome::Follow) {
                // Redirect bodies never reach the stream, so it still stands where it did.
                authRetries_ = 0;
                proxyAuthRetries_ = 0;
                routePending_ = true; // another address may take another way
            } else {                  // Authorize: the same address again, with the scheme now attached
                --redirectCount_;
                request_.URL = url;
            }
        }
    } catch (...) {
        try {
            closeUnlessReusable();
        } catch (...) {
            // The failure of the request is the one to report.
        }
        response_.ContentStream = nullptr;
        throw;
    }
    response_.ContentStream = nullptr;
    closeUnlessReusable();
    redirectCount_ = 0;
}

void TIdHTTP::Exchange()
{
    const bool kept = ConnectToHost();
    try {
        SendPreparedRequest();
        ReadAnswerHead();
    } catch (const EIdException& e) {
        // A server may close a kept connection just as the request goes out (its idle
        // time-out crossing the request): the send fails, or the read finds the close or a
        // reset before any byte of the answer. Nothing was answered, so the request goes
        // once more on a fresh connection. A fresh connection that fails so is the
        // server's answer, and an answer begun may have been acted on: neither is retried.
        // A close on this side (a cancel) is the caller's decision, not the server's race.
        if (!kept || answerStarted_ || ClosedLocally() || !InputQueue().Empty() || !ShowsConnectionLost(e))
            throw;
        answerComplete_ = false; // the kept connection is closed before the next one opens
        ConnectToHost();
        SendPreparedRequest();
        ReadAnswerHead();
    }
}

bool TIdHTTP::ConnectToHost()
{
    // Endpoint: a different host or port closes the open connection first.
    const int port = StrToInt(url_.Port);
    if (port < 0 || port > kMaxPort)
        throw EConvertError(Format("'%s' is not a valid port number", {url_.Port}));
    if (routePending_) {
        ResolveRoute();
        routePending_ = false;
    }
    const bool secure = IsSecure(url_);
    if (secure && !tls_)
        throw EIdIOHandlerPropInvalid();
    const std::string route = RouteKey(port);
    SelectEndpoint(port, route);
    request_.UseProxy = ViaProxy() ? (secure ? ctSSLProxy : ctProxy) : ctNormal;

    // The previous answer decides whether its connection may carry this request.
    if (!answerComplete_ || !ResponseKeepAlive())
        CloseConnection();
    // A server that closed the kept-alive connection meanwhile is noticed here, so that
    // the request goes out on a fresh one.
    ProbePeerClosed(false);
    const bool kept = IsOpen();
    if (!kept) {
        SetConnectingText(ConnectingTextFor(port));
        OpenRoute(secure, port);
        connectionRoute_ = route;
    }
    answerComplete_ = true;
    return kept;
}

void TIdHTTP::SendPreparedRequest()
{
    answerStarted_ = false;
    ApplyConnectionType(request_, ProtocolVersion);
    // Plain http through a proxy names the whole address; the bytes inside a tunnel are the
    // origin's, as on a direct connection.
    if (request_.UseProxy == ctProxy && request_.URL != "*")
        request_.URL = AbsoluteAddress(url_);
    const std::string cookie = cookieManager_ ? cookieManager_->GenerateCookieList(url_, false) : std::string();
    // The proxy's credentials go to the proxy only: never to an origin, directly or through
    // a tunnel.
    TIdProxyConnectionInfo noProxy;
    SendRequest(BuildRequestLines(request_, ProtocolVersion, request_.UseProxy == ctProxy ? proxyParams_ : noProxy,
                                  cookie, system_));
}

std::string TIdHTTP::RouteKey(int port) const
{
    std::string key;
    if (ViaProxy())
        key = proxyParams_.ProxyServer + ":" + std::to_string(proxyParams_.ProxyPort) + ">";
    return LowerCase(key + url_.Protocol + "://" + url_.Host + ":" + std::to_string(port));
}

void TIdHTTP::SelectEndpoint(int port, const std::string& route)
{
    // A connection to a proxy carries requests only for the origin it was opened for, so
    // that a download never rides on a connection (or tunnel) made for another server.
    if (IsOpen() && route != connectionRoute_)
        CloseConnection();
    if (ViaProxy()) {
        // The connection goes to the proxy; the current URL keeps the origin.
        TIdTCPClient::SetHost(proxyParams_.ProxyServer);
        TIdTCPClient::SetPort(proxyParams_.ProxyPort);
        url_.Port = std::to_string(port);
    } else if (!SameText(Host(), url_.Host) || Port() != port) {
        if (IsOpen())
            CloseConnection();
        // Through the client's own setters, which write the endpoint back into the current
        // URL: the port as a number, so that "08080" is "8080" in the next request's Host
        // line when that request's address gives no port of its own.
        SetHost(url_.Host);
        SetPort(port);
    }
}

void TIdHTTP::SelectTransport(bool secure)
{
    // A connection opens with TLS only straight to an https origin; through a proxy it
    // opens in plain, and OpenRoute puts TLS over the tunnel once the proxy has made it.
    TIdIOHandler* const handler = IOHandler();
    const bool isTls = dynamic_cast<TIdTLSIOHandlerSocket*>(handler) != nullptr;
    if (handler && !OwnsIOHandler()) {
        // A borrowed transport is used as it is: https needs a TLS one, and a tunnel, whose
        // TLS wraps the connection, one that the client owns.
        if (secure && (!isTls || ViaProxy()))
            throw EIdIOHandlerPropInvalid();
    } else if (handler && isTls != (secure && !ViaProxy())) {
        SetIOHandler(nullptr); // OpenConnection makes the right one
    }
}

void TIdHTTP::SendRequest(const std::vector<std::string>& lines)
{
    BeginWriteBatch(-1);
    try {
        for (const auto& line : lines)
            SendLine(line);
    } catch (...) {
        try {
            EndWriteBatch();
        } catch (...) {
        }
        throw;
    }
    EndWriteBatch();
}

void TIdHTTP::ResolveRoute()
{
    if (!proxyResolver_)
        return; // ProxyParams as the caller set them
    const platform::ProxyRoute route = proxyResolver_->RouteFor(AbsoluteAddress(url_));
    if (!route.Problem.empty())
        throw EIdProxyError(route.Problem);
    proxyParams_.ProxyServer = route.Host;
    proxyParams_.ProxyPort = route.Port;
    proxyParams_.ProxyUsername = route.Username;
    proxyParams_.ProxyPassword = route.Password;
    proxyParams_.BasicAuthentication = !route.Username.empty();
    proxyParams_.Authentication.reset();
    proxyParams_.Source = route.Direct() ? std::string() : route.Source;
    directSource_ = route.Direct() ? route.Source : std::string();
}

std::string TIdHTTP::ConnectingTextFor(int port) const
{
    if (ViaProxy())
        return proxyParams_.Describe();
    if (directSource_.empty())
        return {}; // the remote address, as always
    return url_.Host + ":" + std::to_string(port) + " (direct, from " + directSource_ + ")";
}

void TIdHTTP::OpenRoute(bool secure, int port)
{
    SelectTransport(secure);
    if (!ViaProxy()) {
        OpenConnection(ReadTimeout());
        return;
    }
    OpenProxyConnection();
    if (!secure)
        return;
    OpenTunnel(port);
    // The origin's TLS over the open tunnel, verified exactly as on a direct connection.
    auto tunnel = std::make_unique<TIdTLSIOHandlerSocket>(nullptr, *tls_, caFile_, TakeIOHandler());
    tunnel->OnStatus = OnStatus;
    TIdTLSIOHandlerSocket& handler = *tunnel;
    SetIOHandler(std::move(tunnel));
    handler.StartTls(url_.Host, ReadTimeout());
}

void TIdHTTP::OpenProxyConnection()
{
    try {
        OpenConnection(ReadTimeout());
    } catch (const EIdConnectException& e) {
        throw EIdProxyConnectError("Cannot connect to " + proxyParams_.Describe() + ": " + e.Message());
    } catch (const EIdConnectTimeout& e) {
        throw EIdProxyConnectError("Cannot connect to " + proxyParams_.Describe() + ": " + e.Message());
    } catch (const EIdSocketError& e) {
        throw EIdProxyConnectError("Cannot connect to " + proxyParams_.Describe() + ": " + e.Message());
    }
}

void TIdHTTP::OpenTunnel(int port)
{
    const std::string authority = url_.Host + ":" + std::to_string(port);
    struct Tunnelling {
        bool& flag;
        ~Tunnelling() { flag = false; }
    } tunnelling{tunnelling_ = true};
    for (;;) {
        TIdHTTPRequest connect;
        connect.Method = hmConnect;
        connect.URL = authority;
        connect.Host = authority;
        connect.ContentType.clear();
        connect.Accept.clear();
        connect.Pragma = "no-cache";
        connect.UserAgent = request_.UserAgent;
        SendRequest(BuildRequestLines(connect, ProtocolVersion, proxyParams_, std::string(), system_));
        answerComplete_ = false;
        response_.ResponseText = ReceiveLine();
        ReadHeaderBlock();
        response_.ProcessHeaders(system_);
        const int code = response_.ResponseCode();
        if (code / 100 == 2)
            break;
        if (code != kStatusProxyAuthRequired || !AuthorizationAttempt(true)) {
            if (proxyParams_.Authentication)
                proxyParams_.Authentication->Reset();
            RaiseProtocolException();
        }
        // New credentials: again on this connection when the refusal left it usable.
        DiscardBody(ReadTimeout());
        if (!answerComplete_ || !ResponseKeepAlive()) {
            CloseConnection();
            OpenProxyConnection();
        }
    }
    answerComplete_ = true;
    // The TLS client speaks first, so nothing may follow the proxy's answer yet: bytes here
    // would be taken for the origin's.
    if (!InputQueue().Empty())
        throw EIdProxyError("The " + proxyParams_.Describe() + " sent data after its answer to CONNECT " + authority +
                            ".");
}

void TIdHTTP::ReadAnswerHead()
{
    for (int interim = 0;; ++interim) {
        answerComplete_ = false;
        response_.ResponseText = ReceiveLine();
        answerStarted_ = true;
        ReadHeaderBlock();
        response_.ProcessHeaders(system_);
        if (!cookieManager_ && AllowCookies) {
            SetCookieManager(std::make_unique<TIdCookieManager>(nullptr, system_));
            cookieManager_->NotifyCreated();
        }
        if (cookieManager_)
            cookieManager_->AddServerCookies(response_.RawHeaders, url_.Host);
        if (response_.ResponseCode() != kStatusContinue)
            break;
        // A server that answers "continue" for ever would hold the Get without end.
        if (interim == MaxInterimAnswers)
            throw EIdHTTPTooManyInterimAnswers();
        answerComplete_ = true; // an interim answer has no body
    }
}

void TIdHTTP::ReadHeaderBlock()
{
    response_.RawHeaders.Clear();
    std::size_t lines = 0;
    std::size_t bytes = 0;
    try {
        for (;;) {
            std::string line = ReceiveLine();
            // An empty line ends the block; so does a line cut short by the server's close.
            if (line.empty())
                break;
            CountHeaderLine(lines, bytes, line.size());
            response_.RawHeaders.Add(std::move(line));
        }
    } catch (const EIdConnClosedGracefully&) {
        // The server closed in the middle of the block: the lines read so far stand.
        CloseConnection();
    }
}

TIdHTTP::Outcome TIdHTTP::ProcessResponse()
{
    const int code = response_.ResponseCode();
    switch (ClassifyStatus(code, !response_.Location.empty())) {
    case TIdHTTPStatusAction::Redirect:
        return Redirect();
    case TIdHTTPStatusAction::Success:
        if (!IsOpen())
            throw EIdException("Undefined situation");
        ReadBody(*response_.ContentStream);
        return Outcome::Finish;
    case TIdHTTPStatusAction::Authorize:
        return Authorization(false);
    case TIdHTTPStatusAction::ProxyAuthorize:
        return Authorization(true);
    case TIdHTTPStatusAction::Continue: // skipped while reading the head; never decided
    case TIdHTTPStatusAction::Fail:
        break;
    }
    RaiseProtocolException();
}

TIdHTTP::Outcome TIdHTTP::Redirect()
{
    std::string dest = response_.Location;
    TIdHTTPMethod method = request_.Method;
    // Preset to whether the client would follow. Once the count has reached the maximum it
    // would not: a redirect loop then fails with the protocol exception of its last answer,
    // rather than returning normally with nothing in the stream, which a caller would take
    // for a complete, empty download. A handler may still claim the answer.
    bool handled = HandleRedirects && redirectCount_ < RedirectMaximum;
    if (OnRedirect)
        OnRedirect(this, dest, redirectCount_, handled, method);
    const TIdRedirectDecision decision = DecideRedirect(HandleRedirects, redirectCount_, RedirectMaximum, handled);
    if (decision == TIdRedirectDecision::Fail)
        RaiseProtocolException();
    if (decision == TIdRedirectDecision::Follow) {
        request_.URL = dest;
        request_.Method = method;
    } else {
        response_.Location = dest;
    }
    if (IsOpen())
        DiscardBody(RedirectBodyReadTimeout);
    return decision == TIdRedirectDecision::Follow ? Outcome::Follow : Outcome::Finish;
}

TIdHTTP::Outcome TIdHTTP::Authorization(bool proxy)
{
    if (!AuthorizationAttempt(proxy)) {
        auto& scheme = proxy ? proxyParams_.Authentication : request_.Authentication;
        if (scheme)
            scheme->Reset();
        RaiseProtocolException();
    }
    if (!IsOpen())
        return Outcome::Follow; // the same request target again, on a new connection
    if (HTTPOptions.count(hoInProcessAuth)) {
        DiscardBody(ReadTimeout());
        return Outcome::Authorize;
    }
    ReadBody(*response_.ContentStream);
    return Outcome::Finish;
}

bool TIdHTTP::AuthorizationAttempt(bool proxy)
{
    int& attempts = proxy ? proxyAuthRetries_ : authRetries_;
    if (attempts >= AuthRetries)
        return false;
    ++attempts;

    auto& scheme = proxy ? proxyParams_.Authentication : request_.Authentication;
    const auto& challenges = proxy ? response_.ProxyAuthenticate : response_.WWWAuthenticate;
    if (proxy) {
        proxyParams_.ProxyPassword.clear();
        if (scheme)
            scheme->Reset();
    }
    if (!scheme)
        scheme = ChooseAuthentication(proxy, challenges);
    if (!scheme)
        return false;

    const auto& authorize = proxy ? OnProxyAuthorization : OnAuthorization;
    if (!authorize)
        return false;
    scheme->Username = proxy ? proxyParams_.ProxyUsername : request_.Username;
    scheme->Password = proxy ? proxyParams_.ProxyPassword : request_.Password;
    scheme->AuthParams = challenges;
    return CompleteAuthentication(proxy, scheme, authorize);
}

std::unique_ptr<TIdAuthentication> TIdHTTP::ChooseAuthentication(bool proxy, const std::vector<std::string>& challenges)
{
    // The first challenge whose scheme is known here, which the program may then change.
    std::string chosen;
    for (const auto& challenge : challenges) {
        const std::string word = challenge.substr(0, challenge.find(' '));
        if (CreateAuthentication(word)) {
            chosen = word;
            break;
        }
    }
    if (chosen.empty())
        return nullptr;
    const auto& select = proxy ? OnSelectProxyAuthorization : OnSelectAuthorization;
    if (select)
        select(this, chosen, challenges);
    return CreateAuthentication(chosen);
}

bool TIdHTTP::CompleteAuthentication(bool proxy, std::unique_ptr<TIdAuthentication>& scheme,
                                     const TIdOnAuthorization& authorize)
{
    // The program is asked at most once per attempt: a handler that says "handled" without
    // giving the scheme what it needs would otherwise be asked for ever.
    bool asked = false;
    for (;;) {
        switch (scheme->Next()) {
        case wnDoRequest:
            return true;
        case wnFail:
            return false;
        case wnAskTheProgram:
            if (asked || !AskForCredentials(proxy, scheme, authorize))
                return false;
            asked = true;
            break;
        }
    }
}

bool TIdHTTP::AskForCredentials(bool proxy, std::unique_ptr<TIdAuthentication>& scheme,
                                const TIdOnAuthorization& authorize)
{
    bool handled = false;
    authorize(this, scheme.get(), handled);
    if (!handled)
        return false;
    if (proxy) {
        proxyParams_.BasicAuthentication = true;
        proxyParams_.ProxyUsername = scheme->Username;
        proxyParams_.ProxyPassword = scheme->Password;
    } else {
        request_.BasicAuthentication = true;
        request_.Username = scheme->Username;
        request_.Password = scheme->Password;
    }
    return true;
}

void TIdHTTP::RaiseProtocolException()
{
    TMemoryStream body;
    // A connection that closed during the header block has no body left to give.
    if (IsOpen()) {
        ReadTimeoutScope scope(*this, ErrorBodyReadTimeout);
        try {
            ReadBody(body, MaxUndeliveredBodySize);
        } catch (const EIdConnClosedGracefully&) {
            // The body is only the failure's text: a server that cuts it short or breaks its
            // chunking does not turn the status into another failure. What arrived stands;
            // the connection, left mid-answer, is not reused.
        } catch (const EIdHTTPInvalidChunkSize&) {
        }
    }
    // An answer of the proxy itself says so: its 407, and any refusal of a CONNECT.
    const int code = response_.ResponseCode();
    const bool fromProxy = ViaProxy() && (code == kStatusProxyAuthRequired || tunnelling_);
    std::string text = response_.ResponseText;
    if (fromProxy)
        text = "The " + proxyParams_.Describe() + " answered: " + text;
    throw EIdHTTPProtocolException(text, code, body.ToString());
}

// --- Bodies -------------------------------------------------------------------------------

void TIdHTTP::ReadBody(TStream& destination, std::int64_t limit)
{
    try {
        ReadFramedBody(destination, limit);
    } catch (const EIdConnClosedGracefully&) {
        if (TlsStreamCutShort())
            throw EIdTLSStreamCutShort();
        throw;
    }
}

bool TIdHTTP::TlsStreamCutShort() const
{
    // Over TLS the server's close alone does not prove a body complete: without its
    // close-notify the stream may have been cut by someone on the path. A cancel on this
    // side still ends the body quietly.
    const TIdIOHandler* handler = IOHandler();
    return !ClosedLocally() && handler && handler->StreamCutShort();
}

void TIdHTTP::ReadFramedBody(TStream& destination, std::int64_t limit)
{
    switch (DecideBodyFraming(response_.ResponseCode(), response_.ContentLength, response_.TransferEncoding)) {
    case TIdBodyFraming::None:
        break;
    case TIdBodyFraming::Sized: {
        const std::int64_t length = response_.ContentLength;
        const std::int64_t wanted = limit >= 0 ? std::min(length, limit) : length;
        // Counted from the start rather than as start + length: a length near the 64-bit
        // maximum must not overflow.
        const std::int64_t start = destination.Position();
        try {
            ReceiveToStream(destination, wanted, false);
        } catch (const EIdConnClosedGracefully&) {
            // A cancel on this side ends the body where it stands; a server that closes
            // before the announced length has sent a truncated body, which is a failure.
            if (!ClosedLocally())
                throw;
            return;
        }
        if (destination.Position() - start < wanted) {
            // The read ended early without an error: a close on this side (a cancel from a
            // work handler) did it, or the server's close was noticed between blocks.
            if (!ClosedLocally())
                throw EIdConnClosedGracefully();
            return;
        }
        if (wanted < length)
            return; // stopped at the limit: the rest stays unread
        break;
    }
    case TIdBodyFraming::Chunked:
        if (!ReadChunkedBody(destination, limit))
            return;
        break;
    case TIdBodyFraming::UntilClose:
        // The connection is closed now, or left at the limit with the rest unread; either
        // way nothing more is read from it.
        ReceiveToStream(destination, limit >= 0 ? limit : -1, true);
        // Here the close is the only end of the body, so it has to be a close-notify.
        if (TlsStreamCutShort())
            throw EIdTLSStreamCutShort();
        return;
    }
    answerComplete_ = true;
}

bool TIdHTTP::ReadChunkedBody(TStream& destination, std::int64_t limit)
{
    ReportStatus(hsStatusText, "Chunk Started");
    // A size line that the server's close cut short comes back empty; the next read then
    // raises the close.
    auto readLine = [this] {
        std::string line = ReceiveLine();
        if (line.empty() && LineTimedOut())
            line = ReceiveLine();
        return line;
    };
    std::int64_t taken = 0;
    for (;;) {
        const std::string line = readLine();
        const auto size = ParseChunkSize(line);
        if (!size)
            throw EIdHTTPInvalidChunkSize(Format("Invalid chunk size \"%s\".", {line}));
        if (*size == 0)
            break;
        if (limit >= 0 && *size > limit - taken) {
            if (limit > taken)
                ReceiveToStream(destination, limit - taken, false);
            return false;
        }
        ReceiveToStream(destination, *size, false);
        taken += *size;
        readLine(); // the line end after the chunk's data
    }
    // The trailer: header lines up to an empty line, within the bounds of a header block.
    // All of it is read, so that a kept-alive connection stands at the next answer. Every
    // byte of the body is in by now, so a server that closes instead of ending the trailer
    // costs the connection, not the download.
    std::size_t lines = 0;
    std::size_t bytes = 0;
    try {
        for (std::string line; !(line = readLine()).empty();)
            CountHeaderLine(lines, bytes, line.size());
    } catch (const EIdConnClosedGracefully&) {
        if (IsOpen())
            throw;
    }
    return true;
}

void TIdHTTP::DiscardBody(int readTimeout)
{
    TMemoryStream sink;
    try {
        ReadTimeoutScope scope(*this, readTimeout);
        ReadBody(sink, MaxUndeliveredBodySize);
    } catch (...) {
        // The body is thrown away anyway; the connection, left in an unknown place, is not
        // reused (answerComplete_ stays false).
    }
}

bool TIdHTTP::ResponseKeepAlive()
{
    response_.UpdateResponseVersion();
    CheckPeerClosed(false, false);
    if (!IsOpen())
        return false;
    return KeepAliveByHeaders(ProtocolVersion == pv1_1, response_.Connection, response_.ProxyConnection);
}
