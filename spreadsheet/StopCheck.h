#pragma once

#include "Status.h"

#include <functional>
#include <utility>

namespace spreadsheet {

/// Whether the work in hand is to stop. The long loops of the imports and of the workbook writers ask
/// once per block of rows, so that a request to stop (the program ending) takes effect within a fraction
/// of a second, even in the middle of a large file; the operation then ends with stoppedStatus() and
/// leaves no file behind. The probe comes from whoever can be told to stop (the automation layer asks its
/// thread). Once the probe has said yes the check stays stopped, so a caller can ask again after a loop
/// has ended to learn why it ended. Without a probe it never stops. Used on one thread at a time.
class StopCheck
{
  public:
    StopCheck() = default;
    explicit StopCheck(std::function<bool()> probe) : probe_(std::move(probe)) {}

    bool requested() const
    {
        if (!stopped_ && probe_ && probe_())
            stopped_ = true;
        return stopped_;
    }

  private:
    std::function<bool()> probe_;
    mutable bool stopped_ = false;
};

/// The outcome of an operation that was stopped before it was complete: nothing was opened or written.
inline Status stoppedStatus()
{
    return Status::failure("stopped before it was complete: the program is ending");
}

} // namespace spreadsheet
