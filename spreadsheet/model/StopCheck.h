#pragma once

#include "spreadsheet/model/Status.h"

#include <cstddef>
#include <functional>
#include <utility>

namespace spreadsheet {

/// What a long operation is doing when it tells how far it is.
enum class WorkStage
{
    Reading,   // an import: rows read so far (of a total not known yet)
    Preparing, // a save, measuring what it will write: rows of all
    Writing,   // a save: rows written of all
};

/// Whether the work in hand is to stop, and where it is. The long loops of the imports and of the
/// workbook writers ask once per block of rows, so that a request to stop (the program ending) takes
/// effect within a fraction of a second, even in the middle of a large file; the operation then ends with
/// stoppedStatus() and leaves no file behind. At the same points they tell how far they are, for whoever
/// shows it. The probe comes from whoever can be told to stop (the automation layer asks its thread).
/// Once the probe has said yes the check stays stopped, so a caller can ask again after a loop has ended
/// to learn why it ended. Without a probe it never stops. Used on one thread at a time.
class StopCheck
{
  public:
    using ProgressReport = std::function<void(WorkStage stage, std::size_t done, std::size_t total)>;

    StopCheck() = default;
    explicit StopCheck(std::function<bool()> probe, ProgressReport report = {})
        : probe_(std::move(probe)), report_(std::move(report))
    {
    }

    bool requested() const
    {
        if (!stopped_ && probe_ && probe_())
            stopped_ = true;
        return stopped_;
    }

    /// Tells how far the operation is; `total` is 0 while it is not known.
    void progress(WorkStage stage, std::size_t done, std::size_t total) const
    {
        if (report_)
            report_(stage, done, total);
    }

  private:
    std::function<bool()> probe_;
    ProgressReport report_;
    mutable bool stopped_ = false;
};

/// The outcome of an operation that was stopped before it was complete: nothing was opened or written.
inline Status stoppedStatus()
{
    return Status::failure("stopped before it was complete: the program is ending");
}

} // namespace spreadsheet
