#pragma once
#include <exception>
#include <functional>

namespace pelvox {

// The application's central exception handler. The event bus and the hidden
// windows hand it every exception a handler raises. The default one writes
// "OnApplicationException=" and the message to the debug output; the shell
// may install its own at start-up.
using ApplicationExceptionHandler = std::function<void(const std::exception&)>;
void SetApplicationExceptionHandler(ApplicationExceptionHandler handler);
void DefaultApplicationExceptionHandler(const std::exception& e);

// Hands the exception currently being handled (inside a catch block) to the
// central handler. Never throws.
void HandleCurrentException() noexcept;

} // namespace pelvox
