#pragma once
// Socket calls for tests that need failures a real system will not produce on demand:
// every call fails with a chosen number, and lookups are counted.

#include "platform/sockets/Sockets.h"

#include <map>
#include <string>

class FakeSockets : public platform::Sockets {
public:
    int error = platform::WsaENetDown; // the number every failing call reports
    int startupResult = 0;
    int startups = 0;
    int lookups = 0;
    std::map<std::string, std::string> hosts; // name -> dotted address

    int Startup(int) override
    {
        ++startups;
        return startupResult;
    }
    void Cleanup() override {}
    platform::TSocket Socket(int, int) override { return Fail(), platform::InvalidSocket; }
    int Bind(platform::TSocket, const std::string&, int) override { return Fail(); }
    int Connect(platform::TSocket, const std::string&, int) override { return Fail(); }
    std::int64_t Recv(platform::TSocket, void*, std::size_t) override { return Fail(); }
    std::int64_t Send(platform::TSocket, const void*, std::size_t) override { return Fail(); }
    int Shutdown(platform::TSocket, int) override { return Fail(); }
    int Close(platform::TSocket) override { return 0; }
    int GetSockName(platform::TSocket, std::string&, int&) override { return Fail(); }
    int GetPeerName(platform::TSocket, std::string&, int&) override { return Fail(); }
    int SetSockOpt(platform::TSocket, int, int, const void*, int) override { return Fail(); }
    int SelectReadable(std::vector<platform::TSocket>&, int) override { return Fail(); }
    int GetHostByName(const std::string& name, std::string& dotted) override
    {
        ++lookups;
        auto it = hosts.find(name);
        if (it == hosts.end()) {
            last = platform::WsaHostNotFound;
            return platform::SocketError;
        }
        dotted = it->second;
        return 0;
    }
    int LastError() override { return last; }

private:
    int Fail()
    {
        last = error;
        return platform::SocketError;
    }
    int last = 0;
};
