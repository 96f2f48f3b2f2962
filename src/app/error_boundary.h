#pragma once
// Errors must not unwind through Qt's event dispatching, so the wizard's
// handlers catch what they do not handle and pass it to the error reporting.
#include <exception>
#include <functional>

// Shows an error that reached a handler. Installed at start-up (the error
// report dialog); without one a plain message box shows the message.
using TUnhandledErrorHandler = std::function<void(std::exception_ptr)>;
TUnhandledErrorHandler SetUnhandledErrorHandler(TUnhandledErrorHandler handler);
void HandleUnhandledError(std::exception_ptr error);

// Runs body; an error it raises goes to HandleUnhandledError.
template <class Body>
void Guarded(Body&& body) {
    try {
        body();
    } catch (...) {
        HandleUnhandledError(std::current_exception());
    }
}
