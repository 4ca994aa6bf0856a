#pragma once

#include "spreadsheet/model/Status.h"

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace spreadsheet {

/// Takes the bytes of a stream in pieces; false when they could not be written.
using StreamSink = std::function<bool(const char* data, std::size_t size)>;

/// Writes a compound document file (the OLE2 container of .xls workbooks) with one stream, through
/// libgsf, into `file`, an open empty file that the caller closes. `produce` writes the stream's bytes to
/// the sink it is given, in pieces of any size; its failure is passed on. The file is complete only when
/// the result is a success; `name` appears in messages.
Status writeCompoundFile(std::FILE* file, const std::string& name, const char* streamName,
                         const std::function<Status(const StreamSink&)>& produce);

} // namespace spreadsheet
