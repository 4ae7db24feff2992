#pragma once
// A TLS provider for tests that frames "records" trivially and encrypts nothing, so that
// the TLS handler's own logic (waits, partial records, close-notify, failures) runs over the
// in-memory transport without a real TLS library. A record is a type byte, two bytes of
// length (big-endian) and the payload:
//
//   'H' hello: the client's first record (payload: the host); the server's answer ends
//       the handshake (or fails it with the provider's Verdict)
//   'D' application data   'T' a message of the protocol (no data)
//   'C' close-notify       'A' alert: the payload is the library's words for the failure
//
// Script a server with FakeTls::Record: Send(FakeTls::Record('H') + FakeTls::Record('D', "...")).

#include "platform/tls/Tls.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace testsupport {

class FakeTls : public platform::Tls {
public:
    static std::string Record(char type, const std::string& payload = {})
    {
        const std::size_t n = std::min<std::size_t>(payload.size(), 0xFFFF);
        return std::string{type, static_cast<char>(n >> 8), static_cast<char>(n & 0xFF)} + payload.substr(0, n);
    }

    // The failure every handshake ends with once the server has answered (a rejected
    // certificate, say); none: the handshake succeeds.
    std::optional<platform::TlsFailure> Verdict;
    // The failure every session has before it starts (a CA file that cannot be loaded).
    std::optional<platform::TlsFailure> SetupFailure;

    std::unique_ptr<platform::TlsSession> NewClientSession(const platform::TlsClientOptions& options) const override
    {
        return std::make_unique<Session>(*this, options.Host);
    }

private:
    class Session : public platform::TlsSession {
    public:
        Session(const FakeTls& tls, std::string host) : tls_(tls), host_(std::move(host))
        {
            if (tls_.SetupFailure)
                failure_ = *tls_.SetupFailure;
        }
        void PutReceived(const void* data, std::size_t count) override
        {
            in_.append(static_cast<const char*>(data), count);
        }
        std::string TakeToSend() override { return std::exchange(out_, std::string()); }

        platform::TlsStatus Handshake() override
        {
            using platform::TlsStatus;
            if (failure_.Kind != platform::TlsFailureKind::None)
                return TlsStatus::Failed;
            if (!helloSent_) {
                helloSent_ = true;
                out_ += Record('H', host_);
                return TlsStatus::WantRead;
            }
            char type = 0;
            std::string payload;
            if (!NextRecord(type, payload))
                return TlsStatus::WantRead;
            if (type == 'H' && !tls_.Verdict)
                return TlsStatus::Done;
            if (type == 'H')
                return Fail(*tls_.Verdict);
            return Fail({.Kind = platform::TlsFailureKind::Handshake, .Detail = type == 'A' ? payload : "unexpected"});
        }

        platform::TlsStatus Available() override
        {
            using platform::TlsStatus;
            while (failure_.Kind == platform::TlsFailureKind::None && plain_.size() == plainAt_ && !closed_) {
                char type = 0;
                std::string payload;
                if (!NextRecord(type, payload))
                    return TlsStatus::WantRead;
                if (type == 'A')
                    return Fail({.Kind = platform::TlsFailureKind::Stream, .Detail = payload});
                closed_ = type == 'C';
                if (type == 'D') {
                    plain_ = std::move(payload);
                    plainAt_ = 0;
                }
            }
            if (failure_.Kind != platform::TlsFailureKind::None)
                return TlsStatus::Failed;
            return plainAt_ < plain_.size() ? TlsStatus::Done : TlsStatus::Closed;
        }

        platform::TlsStatus Read(void* buffer, std::size_t length, std::size_t& got) override
        {
            got = 0;
            const platform::TlsStatus status = Available();
            if (status != platform::TlsStatus::Done)
                return status;
            got = std::min(length, plain_.size() - plainAt_);
            std::memcpy(buffer, plain_.data() + plainAt_, got);
            plainAt_ += got;
            return status;
        }

        platform::TlsStatus Write(const void* data, std::size_t count) override
        {
            if (failure_.Kind != platform::TlsFailureKind::None)
                return platform::TlsStatus::Failed;
            out_ += Record('D', std::string(static_cast<const char*>(data), count));
            return platform::TlsStatus::Done;
        }
        void CloseNotify() override { out_ += Record('C'); }
        const platform::TlsFailure& Failure() const override { return failure_; }
        std::string Protocol() const override { return "FAKE"; }

    private:
        bool NextRecord(char& type, std::string& payload)
        {
            if (in_.size() < 3)
                return false;
            const std::size_t n = (static_cast<std::size_t>(static_cast<unsigned char>(in_[1])) << 8) |
                                  static_cast<unsigned char>(in_[2]);
            if (in_.size() < 3 + n)
                return false;
            type = in_[0];
            payload = in_.substr(3, n);
            in_.erase(0, 3 + n);
            return true;
        }
        platform::TlsStatus Fail(platform::TlsFailure failure)
        {
            if (failure_.Kind == platform::TlsFailureKind::None)
                failure_ = std::move(failure);
            return platform::TlsStatus::Failed;
        }

        const FakeTls& tls_;
        std::string host_;
        std::string in_;
        std::string out_;
        std::string plain_;
        std::size_t plainAt_ = 0;
        bool helloSent_ = false;
        bool closed_ = false;
        platform::TlsFailure failure_;
    };
};

} // namespace testsupport
