#pragma once

#include <string>
#include <vector>

namespace spreadsheet {

/// The small parts of an .xlsx package around its worksheets: content types, relationships, the
/// workbook part with the sheet names, and the styles with the cell styles of SheetXml.h. The package
/// always has a shared-string part (SharedStringsXml.h), written after the worksheets.
std::string contentTypesXml(std::size_t sheetCount);
std::string rootRelationshipsXml();
std::string workbookXml(const std::vector<std::string>& sheetNames);
std::string workbookRelationshipsXml(std::size_t sheetCount);
std::string stylesXml();

} // namespace spreadsheet
