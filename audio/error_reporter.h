#pragma once

#include <string>

namespace morvane {

// Shows a message to the user. The window's version is the modal error box, which runs
// an event loop of its own: completions may be handled nested inside ShowError.
class ErrorReporter {
public:
    virtual void ShowError(const std::string& message) = 0;

protected:
    ~ErrorReporter() = default;
};

} // namespace morvane
