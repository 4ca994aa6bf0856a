#pragma once

#include <string>
#include <utility>

namespace spreadsheet {

/// Outcome of an operation of the embedded spreadsheet application: success, or failure with a message
/// that says in plain words what went wrong (shown to the user through the automation layer).
class Status
{
public:
    static Status success() { return Status(); }
    static Status failure(std::string message)
    {
        Status status;
        status.failed_ = true;
        status.message_ = std::move(message);
        return status;
    }

    bool ok() const { return !failed_; }
    const std::string& message() const { return message_; }

private:
    bool failed_ = false;
    std::string message_;
};

} // namespace spreadsheet
