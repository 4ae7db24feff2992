#pragma once
// SOCKS settings of a transport handler. No SOCKS server is used: every connection goes
// straight to its server.

enum TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };

struct TIdSocksInfo {
    TSocksVersion Version = svNoSocks;
    int Port = 1080;
};
