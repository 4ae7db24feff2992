#pragma once
// The one exception base of the system and the runtime's own failure kinds.
// Every failure carries its message text; handlers show it as it stands.

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }
    // The class name shown by tools that report a failure ("EConvertError", ...).
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    std::string message_;
};

#define UPDATER_EXCEPTION_CLASS(Name, Base)                               \
    class Name : public Base {                                            \
    public:                                                               \
        using Base::Base;                                                 \
        const char* ClassName() const noexcept override { return #Name; } \
    }

// A text that does not convert to a number, or a format that does not fit its arguments.
UPDATER_EXCEPTION_CLASS(EConvertError, Exception);
// File streams: "Cannot open file "%s". %s" and "Cannot create file "%s". %s".
UPDATER_EXCEPTION_CLASS(EStreamError, Exception);
UPDATER_EXCEPTION_CLASS(EFOpenError, EStreamError);
UPDATER_EXCEPTION_CLASS(EFCreateError, EStreamError);
// A write to an open file that failed (a full disk, an I/O error):
// "Cannot write file "%s". %s".
UPDATER_EXCEPTION_CLASS(EWriteError, EStreamError);
// Memory that could not be had for a growing buffer.
UPDATER_EXCEPTION_CLASS(EOutOfMemory, Exception);
