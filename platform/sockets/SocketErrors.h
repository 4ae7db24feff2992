#pragma once
// Socket error numbers as Windows Sockets 2 defines them. Every backend reports its
// native failures under these numbers, so that error texts and the lists of tolerated
// errors read the same on every platform. Names are spelled so that they cannot clash
// with the errno or winsock macros of any system header.

namespace platform {

enum WsaError : int {
    WsaNoError = 0,
    WsaEIntr = 10004,
    WsaEBadF = 10009,
    WsaEAcces = 10013,
    WsaEFault = 10014,
    WsaEInval = 10022,
    WsaEMFile = 10024,
    WsaEWouldBlock = 10035,
    WsaEInProgress = 10036,
    WsaEAlready = 10037,
    WsaENotSock = 10038,
    WsaEDestAddrReq = 10039,
    WsaEMsgSize = 10040,
    WsaEProtoType = 10041,
    WsaENoProtoOpt = 10042,
    WsaEProtoNoSupport = 10043,
    WsaESocktNoSupport = 10044,
    WsaEOpNotSupp = 10045,
    WsaEPfNoSupport = 10046,
    WsaEAfNoSupport = 10047,
    WsaEAddrInUse = 10048,
    WsaEAddrNotAvail = 10049,
    WsaENetDown = 10050,
    WsaENetUnreach = 10051,
    WsaENetReset = 10052,
    WsaEConnAborted = 10053,
    WsaEConnReset = 10054,
    WsaENoBufs = 10055,
    WsaEIsConn = 10056,
    WsaENotConn = 10057,
    WsaEShutdown = 10058,
    WsaETooManyRefs = 10059,
    WsaETimedOut = 10060,
    WsaEConnRefused = 10061,
    WsaELoop = 10062,
    WsaENameTooLong = 10063,
    WsaEHostDown = 10064,
    WsaEHostUnreach = 10065,
    WsaENotEmpty = 10066,
    WsaNotInitialised = 10093,
    WsaHostNotFound = 11001,
    WsaTryAgain = 11002,
    WsaNoRecovery = 11003,
    WsaNoData = 11004,
};

} // namespace platform
