#pragma once

#include "spreadsheet/model/Status.h"

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace spreadsheet {

/// Takes the bytes of a stream in pieces; false when they could not be written.
using StreamSink = std::function<bool(const char* data, std::size_t size)>;

/// Writes a compound document file (the OLE2 container of .xls workbooks, version 3) with one stream
/// into `file`, an open empty file that the caller closes. `produce` writes the stream's bytes to the sink
/// it is given, in pieces of any size; they go to the file as they come, and its failure is passed on.
/// A stream shorter than 4,096 bytes is padded with zeros up to that size; one longer than 2 GiB, a write
/// error or a `streamName` the directory cannot hold (1 to 31 ASCII characters) makes the result a
/// failure. The file is complete only when the result is a success; `name` appears in messages.
Status writeCompoundFile(std::FILE* file, const std::string& name, const char* streamName,
                         const std::function<Status(const StreamSink&)>& produce);

} // namespace spreadsheet
