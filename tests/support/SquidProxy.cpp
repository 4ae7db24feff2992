#include "tests/support/SquidProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {
namespace {

// Ports tried before giving up: another program may take the free port before squid binds it.
constexpr int kPortAttempts = 5;
// How long squid may take to listen (it starts its helpers first).
constexpr int kStartTimeoutMs = 30000;

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

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

// Squid refuses to work as root; as root the folder goes to the user it works as.
std::string EffectiveUser(const std::string& dir)
{
    if (::geteuid() != 0)
        return {};
    const char* user = ::getpwnam("proxy") ? "proxy" : "nobody";
    const passwd* pw = ::getpwnam(user);
    if (pw) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
            (void)::chown(entry.path().c_str(), pw->pw_uid, pw->pw_gid);
        (void)::chown(dir.c_str(), pw->pw_uid, pw->pw_gid);
    }
    return user;
}

} // namespace

bool SquidProxy::Installed() { return ::access(kSquid, X_OK) == 0; }

SquidProxy::SquidProxy()
{
    char pattern[] = "/tmp/updater-squid.XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("cannot make a folder for squid");
    dir_ = pattern;
    ChildProcess hash({"openssl", "passwd", "-apr1", kPassword});
    if (hash.Wait(10000) != 0)
        throw std::runtime_error("openssl passwd failed: " + hash.Stderr());
    WriteText(dir_ + "/passwd", std::string(kUser) + ":" + hash.Stdout());
    for (int attempt = 0; attempt < kPortAttempts; ++attempt)
        if (Start())
            return;
    throw std::runtime_error("squid did not start: " + lastWords_);
}

bool SquidProxy::Start()
{
    port_ = FreePort();
    std::ostringstream conf;
    conf << "http_port 127.0.0.1:" << port_ << "\n"
         << "pid_filename " << dir_ << "/squid.pid\n"
         << "cache deny all\n"
         << "access_log stdio:" << dir_ << "/access.log\n"
         << "cache_log " << dir_ << "/cache.log\n"
         << "cache_store_log none\n"
         << "coredump_dir " << dir_ << "\n"
         << "auth_param basic program /usr/lib/squid/basic_ncsa_auth " << dir_ << "/passwd\n"
         << "auth_param basic realm updater-tests\n"
         << "acl authenticated proxy_auth REQUIRED\n"
         // Squid's own configuration allows CONNECT only to port 443; the origins of the
         // tests listen on ports the system chose, and this configuration names no such
         // rule, so a CONNECT to any port of an authenticated user passes.
         << "http_access allow authenticated\n"
         << "http_access deny all\n"
         << "buffered_logs off\n"
         << "shutdown_lifetime 0 seconds\n";
    const std::string conffile = dir_ + "/squid.conf";
    WriteText(conffile, conf.str());
    const std::string user = EffectiveUser(dir_);
    if (!user.empty()) {
        std::ofstream(conffile, std::ios::app) << "cache_effective_user " << user << "\n";
    }
    // Its own service name keeps its shared-memory segments apart from any other squid's.
    const std::string service = "updater" + std::to_string(::getpid()) + "p" + std::to_string(port_);
    // Its log on standard output, where the line that says it listens is waited for.
    process_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "sh", "-c", std::string("exec ") + kSquid + " -N -d 1 -n " + service + " -f " + conffile + " 2>&1"});
    for (;;) {
        const std::string line = process_->ReadLine(kStartTimeoutMs);
        if (line.find("Accepting HTTP Socket connections") != std::string::npos)
            return true;
        if (!line.empty())
            lastWords_ = line;
        if (line.empty() || line.find("FATAL") != std::string::npos) {
            process_->Stop();
            const bool portTaken =
                lastWords_.find("bind") != std::string::npos || lastWords_.find("in use") != std::string::npos;
            process_.reset();
            if (!portTaken)
                throw std::runtime_error("squid did not start: " + lastWords_);
            return false;
        }
    }
}

SquidProxy::~SquidProxy()
{
    if (process_)
        process_->Stop();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string SquidProxy::Address(const std::string& user, const std::string& password) const
{
    std::string address = "http://";
    if (!user.empty())
        address += PercentEncode(user) + ":" + PercentEncode(password) + "@";
    return address + "127.0.0.1:" + std::to_string(port_);
}

std::string SquidProxy::AccessLog() const
{
    std::ifstream in(dir_ + "/access.log", std::ios::binary);
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
