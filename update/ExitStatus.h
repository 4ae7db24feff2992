#pragma once
// The updater's exit statuses. Interactive and hidden runs always end with Success; a
// silent run, which has nobody to tell, reports its outcome through them.

enum class ExitStatus : int {
    Success = 0,          // up to date, nothing done (and every interactive or hidden run)
    Installed = 10,       // the installer was started and has ended
    CheckFailed = 20,     // no server, an HTTP failure, TLS, the proxy, an answer too long
    AnswerRefused = 21,   // the answer was not verified (signature, application, expiry, form)
    InstallerFailed = 22, // the installer download failed, did not match, or could not start
    NoRoom = 23,          // not enough disk space for the installer
    NoPublisherKey = 24,  // a newer build was offered but no publisher key is configured
    AlreadyRunning = 25,  // another run for this application is in progress
};

constexpr int ExitCode(ExitStatus s) { return static_cast<int>(s); }
