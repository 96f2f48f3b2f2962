#pragma once
// Errors carry a message text, translated before raising where the program
// translates it. Every error class of the program derives from Exception.
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }
    // The class name shown in error reports.
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    std::string message_;
};

// Declares an error class derived from Base that reports its own class name.
#define ORVALIS_DECLARE_ERROR(Name, Base)                                 \
    class Name : public Base {                                            \
    public:                                                               \
        using Base::Base;                                                 \
        const char* ClassName() const noexcept override { return #Name; } \
    }

// A file system or operating system call failed.
ORVALIS_DECLARE_ERROR(EOSError, Exception);

// A position outside a list: "List index out of bounds (%d)".
ORVALIS_DECLARE_ERROR(EListError, Exception);
