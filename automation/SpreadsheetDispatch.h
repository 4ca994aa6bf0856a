#pragma once

#include "automation/Dispatch.h"

#include <memory>

/// A new instance of the embedded spreadsheet application as the automation server "Excel.Application":
/// its application object, from which workbooks, sheets, columns and cells are reached by member strings.
std::unique_ptr<Dispatch> createSpreadsheetApplication();
