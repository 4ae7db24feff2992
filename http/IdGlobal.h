#pragma once
// Values shared by every network component: the special time-outs, the status kinds
// reported through OnStatus and the two directions of work.

// Time-outs are integer milliseconds with two special values.
constexpr int TimeoutDefault = -1;  // take the connection's ReadTimeout (0 there: no limit)
constexpr int TimeoutInfinite = -2; // no limit

enum TIdStatus {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted,
};

enum TWorkMode { wmRead, wmWrite };
