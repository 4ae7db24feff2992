#pragma once
// The HTTP client: Get fetches one address into the caller's stream. One call runs
// request cycles until an answer finishes or fails: it prepares the request against the
// current URL, picks the endpoint and reuses a kept-alive connection, sends the request,
// reads the status line and header block, stores the answer's cookies, and then follows a
// redirect, attempts an authorization, delivers the body, or raises
// EIdHTTPProtocolException with the answer's status line and body.
//
// Everything runs on the calling thread. With an active anti-freeze the waits process the
// application's messages, so handlers may run inside Get and may call CloseConnection;
// Get then ends as the phase it was in dictates (see Get).

#include "http/IdAuthentication.h"
#include "http/IdHTTPRequest.h"
#include "http/IdHTTPResponse.h"
#include "http/IdProxyConnectionInfo.h"
#include "http/IdTCPClient.h"
#include "http/IdURI.h"
#include "http/forward.h"
#include "platform/proxy/forward.h"
#include "platform/runtime/forward.h"
#include "platform/system/forward.h"
#include "platform/tls/forward.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

enum TIdHTTPOption { hoInProcessAuth, hoKeepOrigProtocol, hoForceEncodeParams };
using TIdHTTPOptions = std::set<TIdHTTPOption>;

// Called for every redirect answer: dest (changeable), the redirect count, Handled preset
// to whether the client would follow it (HandleRedirects, and the count below
// RedirectMaximum), and the method (changeable).
using TIdHTTPOnRedirectEvent =
    std::function<void(TComponent* Sender, std::string& dest, int NumRedirect, bool& Handled, TIdHTTPMethod& VMethod)>;
// May change the scheme chosen from the challenge list (the scheme word, e.g. "Basic").
using TIdOnSelectAuthorization = std::function<void(TComponent* Sender, std::string& AuthenticationScheme,
                                                    const std::vector<std::string>& AuthInfo)>;
// Supplies credentials to the scheme object; Handled false gives up.
using TIdOnAuthorization = std::function<void(TComponent* Sender, TIdAuthentication* Authentication, bool& Handled)>;

class TIdHTTP : public TIdTCPClient {
public:
    // The limit of followed redirects a new client starts with.
    static constexpr int DefaultRedirectMaximum = 15;
    static constexpr int DefaultAuthRetries = 3;
    // The read time-outs of the two short reads of an answer that is not delivered: the
    // body of a failed answer (for the exception's text) and a redirect's body (discarded).
    static constexpr int ErrorBodyReadTimeout = 2000;
    static constexpr int RedirectBodyReadTimeout = 4000;

    // Bounds on what a server can make the client read; http/README.md says why each is
    // where it is. The longest line (MaxLineLength) is the connection's.
    // The lines of one header block (a chunked body's trailer counts as a block of its
    // own); one more fails with EIdHTTPTooManyHeaderLines.
    static constexpr std::size_t MaxHeaderLines = 1000;
    // The bytes of one header block's lines, their line ends not counted; one more fails
    // with EIdHTTPHeaderBlockTooLarge.
    static constexpr std::size_t MaxHeaderBlockSize = std::size_t{1} << 20;
    // Interim 100 answers skipped before the real one; one more fails with
    // EIdHTTPTooManyInterimAnswers.
    static constexpr int MaxInterimAnswers = 10;
    // Bodies that never reach the caller's stream (the text of a failed answer, redirect
    // and authorization bodies that are thrown away) are read up to this many bytes; the
    // rest is left unread and the connection is closed instead of reused.
    static constexpr std::int64_t MaxUndeliveredBodySize = std::int64_t{1} << 20;

    // The system gives the clock and the local offset for dates and cookies; it is borrowed
    // and must outlive the client.
    TIdHTTP(TComponent* owner, platform::System& system, std::string name = {});
    ~TIdHTTP() override;
    UPDATER_CLASS_NAME(TIdHTTP)

    // Fetches the address into the stream from its current position on. Returns normally
    // when an answer finishes (its body written, the position after the last byte), or
    // raises:
    // - EIdHTTPProtocolException for a status that is not a success, a handled redirect or
    //   a successful authorization (message: the status line; code; error body as text);
    // - EIdException "Undefined situation" for a 2xx answer whose connection closed during
    //   its header block;
    // - EIdIOHandlerPropInvalid for "https" without a TLS provider; EIdUnknownProtocol for another protocol without
    //   a port; EConvertError for a port that is not a number;
    // - EIdConnClosedGracefully when the server closes before a sized body is complete
    //   (a close made on this side, a cancel, ends the body normally instead), or inside a
    //   chunked body; EIdHTTPInvalidChunkSize for a broken chunk-size line;
    // - EIdHTTPTooManyHeaderLines, EIdHTTPHeaderBlockTooLarge, EIdHTTPTooManyInterimAnswers
    //   for an answer head beyond the bounds above;
    // - over https: EIdTLSCertificateRejected, EIdTLSHandshakeFailed and EIdTLSError from
    //   the handshake and the stream; EIdTLSStreamCutShort when the server's close without
    //   a close-notify ends a body (whatever its framing) that this side did not cancel;
    //   EIdTLSDowngrade for a followed redirect from https to http;
    // - through a proxy: EIdProxyConnectError when the proxy cannot be reached, EIdProxyError
    //   for a proxy setting that cannot be followed, EIdHTTPProtocolException naming the
    //   proxy for its 407 and for a CONNECT it refuses (code: the proxy's status);
    // - the connection layer's errors for connect, read, write and time-out failures.
    // The stream keeps what was written into it before a failure; error bodies and
    // redirect bodies never reach it.
    void Get(const std::string& url, TStream& stream);

    TIdHTTPRequest& Request() { return request_; }
    TIdHTTPResponse& Response() { return response_; }
    // The current URL: kept across requests; relative addresses resolve against it.
    TIdURI& URL() { return url_; }
    TIdProxyConnectionInfo& ProxyParams() { return proxyParams_; }
    // Decides the way to each new address (borrowed; it must outlive the client): direct,
    // or which proxy with which credentials. The client asks it when a Get starts and when
    // a redirect leads elsewhere, fills ProxyParams from the answer and follows it; a proxy
    // that fails is an error naming the proxy, never a reason to go direct. Null: the
    // ProxyParams as set (no proxy server: direct).
    void SetProxyResolver(platform::ProxyResolver* resolver) { proxyResolver_ = resolver; }

    // Setting the endpoint also writes the current URL's host or port.
    void SetHost(const std::string& host);
    void SetPort(int port);

    // The TLS provider for "https" addresses (borrowed; it must outlive the client). None:
    // "https" fails with EIdIOHandlerPropInvalid.
    const platform::Tls* Tls() const { return tls_; }
    void SetTls(const platform::Tls* tls) { tls_ = tls; }
    // A PEM file of certificates trusted besides the system's, for servers with a private
    // CA; empty: none. Takes effect at the next TLS connection.
    const std::string& CAFile() const { return caFile_; }
    void SetCAFile(const std::string& file) { caFile_ = file; }
    // Tests only: a followed redirect from https to http is allowed when both hosts are
    // loopback addresses. Off, every such redirect fails with EIdTLSDowngrade.
    bool AllowLoopbackDowngrade = false;

    bool HandleRedirects = false;
    int RedirectMaximum = DefaultRedirectMaximum;
    int AuthRetries = DefaultAuthRetries;
    TIdHTTPOptions HTTPOptions{hoForceEncodeParams};
    TIdHTTPProtocolVersion ProtocolVersion = pv1_1;
    // With AllowCookies and no store, the client creates and owns one when it reads its
    // first answer head.
    bool AllowCookies = true;
    // The store in use, owned or borrowed; null when there is none (yet).
    TIdCookieManager* CookieManager() const { return cookieManager_; }
    // Uses a store from outside, borrowed: the caller keeps it, and it must outlive its use
    // here. A store the client owned is freed first. Null leaves the client without a store
    // (until AllowCookies makes it create its own).
    void SetCookieManager(TIdCookieManager* manager);
    // Hands a store over to the client, which frees it with itself or when another store
    // is set.
    void SetCookieManager(std::unique_ptr<TIdCookieManager> manager);

    // Raised by every request cycle and left where it stands when Get fails, so the next Get
    // counts on from it; 0 after a Get that returned normally.
    int RedirectCount() const { return redirectCount_; }

    TIdHTTPOnRedirectEvent OnRedirect;
    TIdOnSelectAuthorization OnSelectAuthorization;
    TIdOnAuthorization OnAuthorization;
    TIdOnSelectAuthorization OnSelectProxyAuthorization;
    TIdOnAuthorization OnProxyAuthorization;

protected:
    // Every close also resets the proxy's scheme object.
    void DoOnDisconnected() override;
    // A TLS transport for an "https" current URL reached directly, else the plain one.
    std::unique_ptr<TIdIOHandler> NewIOHandler() override;

private:
    enum class Outcome { Follow, Finish, Authorize };

    // Sends the request and reads the answer's head, once more on a fresh connection when
    // a kept one turns out to have been closed by the server before answering.
    void Exchange();
    // Selects the endpoint and opens the connection unless a kept one can carry the
    // request; true when it is a kept one.
    bool ConnectToHost();
    // The request on the open connection, adjusted to the connection's type.
    void SendPreparedRequest();
    // The route a connection serves: the proxy (if any), the scheme, the origin and port.
    std::string RouteKey(int port) const;
    // Points the client at the proxy or the origin, closing a connection of another route.
    void SelectEndpoint(int port, const std::string& route);
    // Before a connection opens: lets go of an owned transport of the wrong kind; raises
    // EIdIOHandlerPropInvalid for a borrowed one that cannot serve the route.
    void SelectTransport(bool secure);
    // Asks the resolver for the current URL's route and fills ProxyParams from it.
    void ResolveRoute();
    // Opens the connection of this cycle: to the origin, or to the proxy (whose failures
    // are reported as the proxy's), then for https the tunnel, wrapped in TLS.
    void OpenRoute(bool secure, int port);
    void OpenProxyConnection();
    // CONNECT host:port through the open proxy connection, with the proxy's 407 road.
    void OpenTunnel(int port);
    void SendRequest(const std::vector<std::string>& lines);
    // The text the hsConnecting status gives for this cycle's connection.
    std::string ConnectingTextFor(int port) const;
    bool ViaProxy() const { return !proxyParams_.ProxyServer.empty(); }
    void ReadAnswerHead();
    void ReadHeaderBlock();
    Outcome ProcessResponse();
    Outcome Redirect();
    Outcome Authorization(bool proxy);
    // One attempt at answering a 401 (proxy: 407): false when the Get must give up.
    bool AuthorizationAttempt(bool proxy);
    // A new scheme object for the first known challenge, as the selection handler leaves
    // the choice; null when there is none.
    std::unique_ptr<TIdAuthentication> ChooseAuthentication(bool proxy, const std::vector<std::string>& challenges);
    // Steps the scheme until it can make the request (true) or fails; the program is asked
    // for credentials at most once.
    bool CompleteAuthentication(bool proxy, std::unique_ptr<TIdAuthentication>& scheme,
                                const TIdOnAuthorization& authorize);
    // Asks the program; when it handled the question, its credentials are kept for the
    // requests that follow.
    bool AskForCredentials(bool proxy, std::unique_ptr<TIdAuthentication>& scheme, const TIdOnAuthorization& authorize);
    [[noreturn]] void RaiseProtocolException();
    // Reads the answer's body into the stream by its framing; marks the answer complete
    // when the connection stands at the start of the next answer. A limit >= 0 reads at
    // most that many bytes and leaves the rest unread (the answer then stays incomplete).
    void ReadBody(TStream& destination, std::int64_t limit = -1);
    // The server's close ended a TLS stream without a close-notify, and no cancel here.
    bool TlsStreamCutShort() const;
    // ReadBody's work by the answer's framing.
    void ReadFramedBody(TStream& destination, std::int64_t limit);
    // False when it stopped at the limit.
    bool ReadChunkedBody(TStream& destination, std::int64_t limit);
    // A short read whose result is thrown away (redirect bodies); failures are ignored.
    void DiscardBody(int readTimeout);
    // The keep-alive rule on the answer the response object holds.
    bool ResponseKeepAlive();

    platform::System& system_;
    platform::ProxyResolver* proxyResolver_ = nullptr;
    // The resolver is asked again: a Get starts, or a redirect is followed.
    bool routePending_ = true;
    // Why a resolved route goes direct ("no_proxy"); empty when nothing was configured.
    std::string directSource_;
    // The route of the open connection: proxy (if any), scheme, origin host and port. A
    // connection carries a request only to the same route.
    std::string connectionRoute_;
    bool tunnelling_ = false; // the answer being read is the proxy's to a CONNECT
    const platform::Tls* tls_ = nullptr;
    std::string caFile_;
    TIdHTTPRequest request_;
    TIdHTTPResponse response_;
    TIdURI url_;
    TIdProxyConnectionInfo proxyParams_;
    TIdCookieManager* cookieManager_ = nullptr;            // in use: owned or borrowed
    std::unique_ptr<TIdCookieManager> ownedCookieManager_; // the one in use when it is owned
    int redirectCount_ = 0;
    int authRetries_ = 0;
    int proxyAuthRetries_ = 0;
    // The connection stands between answers: nothing of the last answer is left unread.
    // A connection in the middle of an answer is never reused.
    bool answerComplete_ = true;
    // Some of the answer to the request last sent has been read (its status line at least).
    bool answerStarted_ = false;
};
