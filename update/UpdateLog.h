#pragma once
// "update.log" in the update folder: one line per step of a run, appended by every run,
// each line starting with the UTC time ("YYYY-MM-DDTHH:MM:SSZ "). It is for whoever has to
// find out why an update did not happen: the start, the check address, where the
// connection went, the answer's status, the offer and its verdict, the download, the
// installer and its exit status, failures with their text, and the end.
//
// Bounded: once the file has grown past kMaxUpdateLogSize it is renamed "update.log.1"
// (replacing an older one) before the next line, so at most two files are kept. Every
// line is cleared of the credentials an address may carry ("user:password@") and of line
// breaks. Writing never fails the run: a folder that cannot be written loses the lines,
// nothing else.

#include "platform/system/forward.h"

#include <cstdint>
#include <string>
#include <string_view>

// The size past which the log is set aside as "update.log.1".
inline constexpr std::int64_t kMaxUpdateLogSize = std::int64_t{1} << 20;
// The longest line written; a longer text (an error body, release notes) is cut there.
inline constexpr std::size_t kMaxUpdateLogLine = 4096;
inline constexpr const char* kUpdateLogName = "update.log";

// `text` with the "user[:password]@" of every address in it removed.
std::string WithoutCredentials(std::string_view text);
// A number as the log writes it, whatever the user's locale: "." before a fraction; with
// `decimals` < 0 as short as it reads back (a build number), else with that many decimals.
std::string LogNumber(double value, int decimals = -1);

class TUpdateLog {
public:
    explicit TUpdateLog(platform::System& sys) : sys_(sys) {}

    // Lines go to `path` from now on; an empty path writes nothing.
    void Open(std::string path) { path_ = std::move(path); }
    const std::string& Path() const { return path_; }
    // Appends one line: the UTC time, a blank and `text`, made one line and without
    // credentials. Failures are swallowed.
    void Write(std::string_view text) noexcept;

private:
    void Append(const std::string& line);

    platform::System& sys_;
    std::string path_;
};
