#include "spreadsheet/xlsx/SharedStringsXml.h"

#include "spreadsheet/model/SharedStrings.h"
#include "spreadsheet/xlsx/ParallelDeflate.h"
#include "spreadsheet/xlsx/SheetXml.h"

#include <string>

namespace spreadsheet {

namespace {

constexpr std::size_t kFlushSize = 1 << 20;

// Markup around one string, <si><t xml:space="preserve"></t></si>, rounded up.
constexpr std::uint64_t kStringMarkup = 48;

} // namespace

std::uint64_t sharedStringsXmlBound(const SharedStrings& strings)
{
    std::uint64_t bound = 512;
    for (std::size_t i = 0; i < strings.size(); ++i)
        bound += kStringMarkup + kMaxEscapedBytes * strings.at(i).size();
    return bound;
}

void writeSharedStringsXml(const SharedStrings& strings, ParallelDeflate& out)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                      "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"";
    xml += std::to_string(strings.references());
    xml += "\" uniqueCount=\"";
    xml += std::to_string(strings.size());
    xml += "\">";
    for (std::size_t i = 0; i < strings.size(); ++i) {
        xml += "<si>";
        appendTextElement(xml, strings.at(i));
        xml += "</si>";
        if (xml.size() >= kFlushSize)
            out.write(xml);
    }
    xml += "</sst>";
    out.write(xml);
}

} // namespace spreadsheet
