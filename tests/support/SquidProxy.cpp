#include "tests/support/SquidProxy.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {
namespace {

std::string PercentEncode(const std::string& text)
{
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

} // namespace

bool SquidProxy::Installed() { return ::access(kSquid, X_OK) == 0; }

SquidProxy::SquidProxy()
{
    const char* source = std::getenv("UPDATER_SOURCE_DIR");
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"python3", "-u", std::string(source ? source : ".") + "/tests/support/squid_proxy.py",
                                 "--user", kUser, "--password", kPassword});
    // "Proxy on 127.0.0.1 port N log PATH"
    std::istringstream line(process_->ReadLine(kStartTimeoutMs));
    std::string word;
    while (line >> word) {
        if (word == "port")
            line >> port_;
        else if (word == "log")
            line >> log_;
    }
    if (port_ == 0) {
        process_->Stop();
        throw std::runtime_error("squid did not start: " + process_->Stderr());
    }
}

SquidProxy::~SquidProxy() { process_->Stop(); }

std::string SquidProxy::Address(const std::string& user, const std::string& password) const
{
    std::string address = "http://";
    if (!user.empty())
        address += PercentEncode(user) + ":" + PercentEncode(password) + "@";
    return address + "127.0.0.1:" + std::to_string(port_);
}

std::string SquidProxy::AccessLog() const
{
    std::ifstream in(log_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool SquidProxy::WaitForLog(const std::string& text, std::size_t from, int timeoutMs) const
{
    constexpr int kLookEveryMs = 20;
    for (int waited = 0;; waited += kLookEveryMs) {
        const std::string log = AccessLog();
        if (log.size() > from && log.find(text, from) != std::string::npos)
            return true;
        if (waited >= timeoutMs)
            return false;
        ::usleep(kLookEveryMs * 1000);
    }
}

} // namespace testsupport
