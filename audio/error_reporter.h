#pragma once

#include <string>

namespace morvane {

// Shows a message to the user. It returns at once: the window's boxes run no event loop
// of their own, so no completion is ever handled inside ShowError.
class ErrorReporter {
public:
    virtual void ShowError(const std::string& message) = 0;

protected:
    ~ErrorReporter() = default;
};

} // namespace morvane
