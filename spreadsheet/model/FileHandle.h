#pragma once

#include <cstdio>
#include <memory>

namespace spreadsheet {

struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};

/// A C stdio file that is closed when the handle goes.
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

} // namespace spreadsheet
