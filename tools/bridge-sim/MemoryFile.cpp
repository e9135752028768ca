#include "MemoryFile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

namespace tamberlo::bridgesim {

namespace {

constexpr std::string_view HEADER = "tamberlo-bridge-sim memory 1";

std::string hexRow(std::uint16_t row) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%03x", static_cast<unsigned>(row));
    return text;
}

// "0x" and one to four hex digits.
std::optional<std::uint16_t> parseRow(std::string_view word) {
    if (word.size() < 3 || word.size() > 6 || word.substr(0, 2) != "0x")
        return std::nullopt;
    unsigned value = 0;
    const char* end = word.data() + word.size();
    const auto [next, error] = std::from_chars(word.data() + 2, end, value, 16);
    if (error != std::errc{} || next != end)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> result;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(' ', at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(line.find(' ', start), line.size());
        result.push_back(line.substr(start, end - start));
        at = end;
    }
    return result;
}

} // namespace

std::string formatMemoryFile(const ChipModel& chip) {
    std::string text(HEADER);
    text += "\nmodel ";
    text += chip.model().name;
    text += '\n';
    for (const ChipModel::RecordedRun& run : chip.recordedRuns()) {
        text += "rows " + hexRow(run.first) + ' ' + hexRow(run.last);
        text += run.eom ? " eom\n" : "\n";
    }
    return text;
}

bool parseMemoryFile(std::string_view text, const DeviceModel& model,
                     std::vector<ChipModel::RecordedRun>& runs, std::string& error) {
    runs.clear();
    int number = 0;
    bool sawModel = false;
    std::optional<std::uint16_t> previousLast;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            error =
                "line " + std::to_string(number + 1) + ": the file ends in the middle of a line";
            return false;
        }
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        ++number;
        const auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        };
        if (line.find_first_not_of(" abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                   "0123456789-") != std::string_view::npos)
            return fail("unexpected character");

        if (number == 1) {
            if (line != HEADER)
                return fail("not a memory file of tamberlo-bridge-sim");
            continue;
        }
        const std::vector<std::string_view> fields = words(line);
        if (number == 2) {
            if (fields.size() != 2 || fields[0] != "model")
                return fail("the model line is missing");
            if (findDeviceModel(fields[1]) != &model)
                return fail("the memory of an " + std::string(fields[1]) +
                            ", but the simulator runs an " + std::string(model.name));
            sawModel = true;
            continue;
        }
        if (fields.size() < 3 || fields.size() > 4 || fields[0] != "rows" ||
            (fields.size() == 4 && fields[3] != "eom"))
            return fail("expected \"rows FIRST LAST\" or \"rows FIRST LAST eom\"");
        const std::optional<std::uint16_t> first = parseRow(fields[1]);
        const std::optional<std::uint16_t> last = parseRow(fields[2]);
        if (!first || !last)
            return fail("rows are written as 0x and hex digits");
        if (*first > *last || *last > model.lastRow)
            return fail("rows " + hexRow(*first) + " to " + hexRow(*last) + " are not within " +
                        hexRow(0) + " to " + hexRow(model.lastRow));
        if (previousLast && *first <= *previousLast)
            return fail("rows out of order or overlapping");
        previousLast = *last;
        runs.push_back({*first, *last, fields.size() == 4});
    }
    if (!sawModel) {
        error = number == 0 ? "the file is empty" : "the model line is missing";
        return false;
    }
    return true;
}

} // namespace tamberlo::bridgesim
