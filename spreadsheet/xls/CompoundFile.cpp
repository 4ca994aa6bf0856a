#include "spreadsheet/xls/CompoundFile.h"

#include <gsf/gsf.h>

#include <memory>
#include <mutex>
#include <string>

namespace spreadsheet {

namespace {

struct Unref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T> using GsfPointer = std::unique_ptr<T, Unref>;

// Closes an output that is still open; false when closing it failed.
bool closeOutput(GsfOutput* output)
{
    return gsf_output_is_closed(output) || gsf_output_close(output);
}

std::string errorOf(GsfOutput* output)
{
    const GError* error = gsf_output_error(output);
    return error && error->message ? std::string(": ") + error->message : std::string();
}

} // namespace

Status writeCompoundFile(std::FILE* file, const std::string& name, const char* streamName,
                         const std::function<Status(const StreamSink&)>& produce)
{
    static std::once_flag initialised;
    std::call_once(initialised, gsf_init);

    // The caller keeps the file: it closes it and checks that everything reached the disk.
    GsfPointer<GsfOutput> sink(gsf_output_stdio_new_FILE(name.c_str(), file, TRUE));
    if (!sink)
        return Status::failure("cannot write " + name);
    GsfPointer<GsfOutfile> root(gsf_outfile_msole_new(sink.get()));
    if (!root)
        return Status::failure("cannot write " + name);
    GsfPointer<GsfOutput> stream(gsf_outfile_new_child(root.get(), streamName, FALSE));
    if (!stream)
        return Status::failure("cannot write " + name + errorOf(GSF_OUTPUT(root.get())));

    GsfOutput* const out = stream.get();
    const Status produced = produce([out](const char* data, std::size_t size) {
        return gsf_output_write(out, size, reinterpret_cast<const guint8*>(data)) != FALSE;
    });
    // Closing writes the directory and allocation tables; it runs after a failure too, so that libgsf
    // lets go of the file, whose contents the caller then throws away.
    const bool streamClosed = closeOutput(out);
    const std::string streamError = errorOf(out);
    const bool rootClosed = closeOutput(GSF_OUTPUT(root.get()));
    const std::string rootError = errorOf(GSF_OUTPUT(root.get()));
    const bool sinkClosed = closeOutput(sink.get());
    if (!produced.ok())
        return produced;
    if (!streamClosed)
        return Status::failure("cannot write " + name + streamError);
    if (!rootClosed)
        return Status::failure("cannot write " + name + rootError);
    if (!sinkClosed)
        return Status::failure("cannot write " + name + errorOf(sink.get()));
    return Status::success();
}

} // namespace spreadsheet
