#include "spreadsheet/model/SaveSupport.h"

#include "platform/FileAccess.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <system_error>

namespace spreadsheet {

namespace {

std::string cellName(std::size_t row, std::size_t column)
{
    return columnLetters(column) + std::to_string(row + 1);
}

std::string upper(const std::string& s)
{
    std::string out = s;
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

// Cuts UTF-8 text to at most `units` UTF-16 units without splitting a character.
std::string cutToUnits(const std::string& text, std::size_t units)
{
    std::size_t used = 0, i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        const std::size_t cost = length == 4 ? 2 : 1;
        if (used + cost > units)
            break;
        used += cost;
        i += length;
    }
    return text.substr(0, i);
}

} // namespace

std::string columnLetters(std::size_t column)
{
    std::string letters;
    for (std::size_t c = column + 1; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters;
}

std::size_t utf16Length(const char* first, const char* last)
{
    std::size_t units = 0;
    for (const char* p = first; p < last; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if ((c & 0xC0) != 0x80)
            units += c >= 0xF0 ? 2 : 1; // four-byte sequences need a surrogate pair
    }
    return units;
}

Status checkLimits(const Workbook& workbook, const FormatLimits& limits)
{
    for (const Sheet& sheet : workbook.sheets) {
        const CellGrid& cells = sheet.cells;
        if (cells.columnCount() > limits.maxColumns) {
            return Status::failure("sheet \"" + sheet.name + "\" has " + std::to_string(cells.columnCount()) +
                                   " columns; the file format holds at most " +
                                   std::to_string(limits.maxColumns));
        }
        // Byte length bounds the character count, so only a sheet with a long cell needs the exact scan.
        if (cells.longestCellBytes() <= limits.maxCellCharacters)
            continue;
        for (std::size_t row = 0; row < cells.rowCount(); ++row) {
            const std::size_t count = cells.cellCount(row);
            for (std::size_t column = 0; column < count; ++column) {
                const std::string_view text = cells.cell(row, column);
                if (text.size() > limits.maxCellCharacters &&
                    utf16Length(text.data(), text.data() + text.size()) > limits.maxCellCharacters) {
                    return Status::failure("cell " + cellName(row, column) + " of sheet \"" + sheet.name +
                                           "\" holds more than " + std::to_string(limits.maxCellCharacters) +
                                           " characters, the most a cell can hold");
                }
            }
        }
    }
    return Status::success();
}

std::vector<SheetPiece> splitIntoPieces(const Workbook& workbook, std::size_t maxRows)
{
    std::vector<SheetPiece> pieces;
    std::set<std::string> taken;
    for (const Sheet& sheet : workbook.sheets)
        taken.insert(upper(sheet.name));
    for (const Sheet& sheet : workbook.sheets) {
        const std::size_t rows = sheet.cells.rowCount();
        pieces.push_back({&sheet, 0, rows < maxRows ? rows : maxRows, sheet.name});
        int number = 2;
        for (std::size_t first = maxRows; first < rows; first += maxRows) {
            std::string name;
            do {
                const std::string suffix = " (" + std::to_string(number++) + ")";
                name = cutToUnits(sheet.name, 31 - suffix.size()) + suffix;
            } while (!taken.insert(upper(name)).second);
            pieces.push_back({&sheet, first, rows - first < maxRows ? rows - first : maxRows, name});
        }
    }
    if (pieces.empty()) {
        // A file holds at least one sheet: a workbook without any is saved with an empty one.
        static const Sheet emptySheet{"Sheet1", CellGrid(), {}};
        pieces.push_back({&emptySheet, 0, 0, emptySheet.name});
    }
    return pieces;
}

namespace {

constexpr std::size_t kMaxNameBytes = 255; // the longest file name of the common file systems
constexpr std::size_t kRandomDigits = 12;
// A temporary sibling is named "." + the destination's name (cut to fit) + "." + 12 hex digits + "~".
constexpr std::size_t kNameOverhead = 1 + 1 + kRandomDigits + 1;

// The destination's name as the temporary name holds it: cut, between two characters, so that the whole
// temporary name stays within the limit.
std::string temporaryStem(const std::string& base)
{
    if (base.size() + kNameOverhead <= kMaxNameBytes)
        return base;
    std::size_t length = kMaxNameBytes - kNameOverhead;
    while (length > 0 && (static_cast<unsigned char>(base[length]) & 0xC0) == 0x80)
        --length;
    return base.substr(0, length);
}

bool isTemporaryNameOf(const std::string& name, const std::string& stem)
{
    if (name.size() != stem.size() + kNameOverhead || name[0] != '.' || name.compare(1, stem.size(), stem) != 0 ||
        name[1 + stem.size()] != '.' || name.back() != '~')
        return false;
    for (std::size_t i = stem.size() + 2; i < name.size() - 1; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(name[i])))
            return false;
    }
    return true;
}

// Temporary siblings that saves killed half way (a power cut, SIGKILL) left behind. A folder is looked
// through once per run, at its first save, not at every save: a batch may put thousands of workbooks
// into one folder. Each save then removes the leftovers of its own name.
class Leftovers
{
public:
    void removeFor(const std::string& folder, const std::string& stem)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto [place, first] = byFolder_.try_emplace(folder);
        if (first)
            place->second = scan(folder);
        std::vector<std::string>& names = place->second;
        for (auto it = names.begin(); it != names.end();) {
            if (isTemporaryNameOf(*it, stem)) {
                platform::removeFile(folder + *it);
                it = names.erase(it);
            } else {
                ++it;
            }
        }
    }

private:
    static std::vector<std::string> scan(const std::string& folder)
    {
        std::vector<std::string> names;
        std::error_code error;
        const std::filesystem::path path = std::filesystem::u8path(folder.empty() ? "." : folder);
        for (std::filesystem::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
            const std::string name = it->path().filename().u8string();
            if (name.size() > kNameOverhead && name[0] == '.' && name.back() == '~')
                names.push_back(name);
        }
        return names;
    }

    std::mutex mutex_;
    std::map<std::string, std::vector<std::string>> byFolder_;
};

} // namespace

TemporarySibling::TemporarySibling(const std::string& destination) : destination_(destination)
{
    const std::size_t slash = platform::lastPathSeparator(destination);
    const std::string folder = slash == std::string::npos ? std::string() : destination.substr(0, slash + 1);
    const std::string stem = temporaryStem(slash == std::string::npos ? destination : destination.substr(slash + 1));
    static Leftovers leftovers;
    leftovers.removeFor(folder, stem);

    // Exclusive creation ("x") never takes over someone else's file, and leaves the permissions to the
    // user's defaults, as for any new file.
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x%04x~", random(), counter++ & 0xFFFF);
        const std::string candidate = folder + "." + stem + suffix;
        if (std::FILE* file = platform::openFile(candidate, "wbx")) {
            std::fclose(file);
            path_ = candidate;
            return;
        }
        if (errno != EEXIST)
            return;
    }
}

TemporarySibling::~TemporarySibling()
{
    if (!committed_ && !path_.empty())
        platform::removeFile(path_);
}

Status TemporarySibling::openForWriting(FileHandle& file) const
{
    if (path_.empty())
        return Status::failure("cannot create a file in the folder of " + destination_);
    file.reset(platform::openFile(path_, "wb"));
    if (!file)
        return Status::failure("cannot write in the folder of " + destination_);
    std::setvbuf(file.get(), nullptr, _IOFBF, 1 << 20);
    return Status::success();
}

Status TemporarySibling::commit()
{
    if (path_.empty())
        return Status::failure("no temporary file to move into place");
    if (!platform::replaceFile(path_, destination_))
        return Status::failure("cannot replace " + destination_ + ": " + std::strerror(errno));
    committed_ = true;
    return Status::success();
}

} // namespace spreadsheet
