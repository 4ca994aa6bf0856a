#include "spreadsheet/xlsx/XlsxParts.h"

#include "spreadsheet/xlsx/SheetXml.h"

namespace spreadsheet {

namespace {

const char kXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

std::string escapeAttribute(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

} // namespace

std::string contentTypesXml(std::size_t sheetCount)
{
    std::string xml = kXmlDeclaration;
    xml += "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
           "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
           "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
           "<Override PartName=\"/xl/workbook.xml\" "
           "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
           "<Override PartName=\"/xl/styles.xml\" "
           "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
           "<Override PartName=\"/xl/sharedStrings.xml\" "
           "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>";
    for (std::size_t i = 1; i <= sheetCount; ++i) {
        xml += "<Override PartName=\"/xl/worksheets/sheet" + std::to_string(i) +
               ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    }
    xml += "</Types>";
    return xml;
}

std::string rootRelationshipsXml()
{
    return std::string(kXmlDeclaration) +
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" "
           "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
           "Target=\"xl/workbook.xml\"/></Relationships>";
}

std::string workbookXml(const std::vector<std::string>& sheetNames)
{
    std::string xml = kXmlDeclaration;
    xml += "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
           "<workbookPr/><bookViews><workbookView/></bookViews><sheets>";
    for (std::size_t i = 0; i < sheetNames.size(); ++i) {
        const std::string id = std::to_string(i + 1);
        xml += "<sheet name=\"" + escapeAttribute(sheetNames[i]) + "\" sheetId=\"" + id + "\" r:id=\"rId" + id +
               "\"/>";
    }
    xml += "</sheets></workbook>";
    return xml;
}

std::string workbookRelationshipsXml(std::size_t sheetCount)
{
    std::string xml = kXmlDeclaration;
    xml += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (std::size_t i = 1; i <= sheetCount; ++i) {
        xml += "<Relationship Id=\"rId" + std::to_string(i) +
               "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
               "Target=\"worksheets/sheet" + std::to_string(i) + ".xml\"/>";
    }
    xml += "<Relationship Id=\"rId" + std::to_string(sheetCount + 1) +
           "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
           "Target=\"styles.xml\"/>";
    xml += "<Relationship Id=\"rId" + std::to_string(sheetCount + 2) +
           "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" "
           "Target=\"sharedStrings.xml\"/></Relationships>";
    return xml;
}

std::string stylesXml()
{
    // Cell formats in the order of CellStyle: general, text (built-in format 49 "@"), the three date
    // formats, a long whole number (built-in format 1 "0"), a long decimal, and wrapped general and text.
    static_assert(kStyleText == 1 && kStyleDate == 2 && kStyleDateTimeMinutes == 3 && kStyleDateTimeSeconds == 4 &&
                      kStyleWholeNumber == 5 && kStyleLongDecimal == 6 && kStyleWrapped == 7 &&
                      kStyleTextWrapped == 8 && kCellStyleCount == 9,
                  "cellXfs below follow CellStyle");
    return std::string(kXmlDeclaration) +
           "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
           "<numFmts count=\"4\">"
           "<numFmt numFmtId=\"164\" formatCode=\"yyyy\\-mm\\-dd\"/>"
           "<numFmt numFmtId=\"165\" formatCode=\"yyyy\\-mm\\-dd\\ hh:mm\"/>"
           "<numFmt numFmtId=\"166\" formatCode=\"yyyy\\-mm\\-dd\\ hh:mm:ss\"/>"
           "<numFmt numFmtId=\"167\" formatCode=\"0.###############\"/>"
           "</numFmts>"
           "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font></fonts>"
           "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
           "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
           "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
           "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
           "<cellXfs count=\"9\">"
           "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
           "<xf numFmtId=\"49\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
           "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
           "<xf numFmtId=\"165\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
           "<xf numFmtId=\"166\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
           "<xf numFmtId=\"1\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
           "<xf numFmtId=\"167\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
           "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyAlignment=\"1\">"
           "<alignment wrapText=\"1\"/></xf>"
           "<xf numFmtId=\"49\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\" "
           "applyAlignment=\"1\"><alignment wrapText=\"1\"/></xf>"
           "</cellXfs>"
           "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
           "<dxfs count=\"0\"/><tableStyles count=\"0\"/>"
           "</styleSheet>";
}

} // namespace spreadsheet
