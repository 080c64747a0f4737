#include "points/job/export_job_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <locale.h>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "points/input/exception_text.h"
#include "points/input/text_utils.h"

namespace {

using IniSection = std::unordered_map<std::string, std::string>;
using IniSections = std::unordered_map<std::string, IniSection>;

// ---- number conversions -------------------------------------------------------------------
// C conversion semantics (leading blanks, optional sign) with messages of their own:
// libstdc++'s std::stoi and friends only say "stoi". Text after the number is ignored only
// where the value is informational; a value that decides what is exported is refused then, so
// "2,5" never runs as 2.

enum class Rest { Ignored, Refused };

// Nothing but blanks from `end` to the end of the text (a NUL byte inside counts as text).
bool onlyBlanksAfter(const std::string& text, const char* end) {
    const char* const stop = text.data() + text.size();
    while (end != stop && (*end == ' ' || *end == '\t')) ++end;
    return end == stop;
}

[[noreturn]] void throwInvalid(const char* name) {
    throw std::invalid_argument(std::string("invalid ") + name + " argument");
}
[[noreturn]] void throwOutOfRange(const char* name) {
    throw std::out_of_range(std::string(name) + " argument out of range");
}

// Keeps errno as the caller had it.
class ErrnoScope {
public:
    ErrnoScope() : saved_(errno) { errno = 0; }
    ~ErrnoScope() { errno = saved_; }
    ErrnoScope(const ErrnoScope&) = delete;
    ErrnoScope& operator=(const ErrnoScope&) = delete;

private:
    int saved_;
};

std::int32_t jobStoi(const std::string& text, Rest rest) {
    ErrnoScope scope;
    const char* begin = text.c_str();
    char* end = nullptr;
    const long long value = std::strtoll(begin, &end, 10);
    if (end == begin || (rest == Rest::Refused && !onlyBlanksAfter(text, end)))
        throwInvalid("stoi");
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) throwOutOfRange("stoi");
    return static_cast<std::int32_t>(value);
}

// A leading '-' wraps as in C ("-1" gives 2^64 - 1).
std::uint64_t jobStoull(const std::string& text) {
    ErrnoScope scope;
    const char* begin = text.c_str();
    char* end = nullptr;
    const unsigned long long value = std::strtoull(begin, &end, 10);
    if (end == begin) throwInvalid("stoull");
    if (errno == ERANGE) throwOutOfRange("stoull");
    return static_cast<std::uint64_t>(value);
}

// The decimal point must not follow the process locale.
locale_t cNumericLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

// Only overflow is out of range: strtod also flags underflow, and refusing subnormals would
// break the promise that every finite value written reads back.
double jobStod(const std::string& text, Rest rest) {
    ErrnoScope scope;
    const char* begin = text.c_str();
    char* end = nullptr;
    const locale_t locale = cNumericLocale();
    const double value = locale ? strtod_l(begin, &end, locale) : std::strtod(begin, &end);
    if (end == begin || (rest == Rest::Refused && !onlyBlanksAfter(text, end)))
        throwInvalid("stod");
    if (errno == ERANGE && std::isinf(value)) throwOutOfRange("stod");
    return value;
}

// The two below read a whole piece of a tile line: blanks may surround the number, nothing else.
bool parseStoll(const std::string& text, std::int64_t& out) {
    ErrnoScope scope;
    const char* begin = text.c_str();
    char* end = nullptr;
    const long long value = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE || !onlyBlanksAfter(text, end)) return false;
    out = static_cast<std::int64_t>(value);
    return true;
}

bool parseStoull(const std::string& text, std::uint64_t& out) {
    ErrnoScope scope;
    const char* begin = text.c_str();
    char* end = nullptr;
    const unsigned long long value = std::strtoull(begin, &end, 10);
    if (end == begin || errno == ERANGE || !onlyBlanksAfter(text, end)) return false;
    out = static_cast<std::uint64_t>(value);
    return true;
}

// ---- sections -----------------------------------------------------------------------------
// Every fault names its place: "Export job file: [Section] Key=value is not ...".

[[noreturn]] void throwJobFault(const std::string& what) {
    throw std::runtime_error("Export job file: " + what);
}

// A value as it appears in a message: long ones (random bytes) cut, and cut at a NUL byte,
// which the status file would carry on.
std::string shownValue(const std::string& value) {
    constexpr std::size_t kShown = 80;
    const std::size_t shown = std::min(value.find('\0'), kShown);
    return value.size() <= shown ? value : value.substr(0, shown) + "...";
}

struct Section {
    const std::string& name;
    const IniSection& entries;

    [[noreturn]] void fault(const std::string& key, const std::string& value,
                            const std::string& what) const {
        throwJobFault("[" + name + "] " + key + "=" + shownValue(value) + " " + what);
    }
    const std::string& required(const std::string& key) const {
        const auto it = entries.find(key);
        if (it == entries.end()) throwJobFault("[" + name + "] " + key + " is missing");
        return it->second;
    }
    const std::string* optional(const std::string& key) const {
        const auto it = entries.find(key);
        return it == entries.end() ? nullptr : &it->second;
    }
    // The value converted by `convert`; its standard exceptions become named faults.
    template <class Convert>
    auto number(const std::string& key, const std::string& value, Convert convert,
                const char* kind) const {
        try {
            return convert(value);
        } catch (const std::invalid_argument&) {
            fault(key, value, std::string("is not ") + kind);
        } catch (const std::out_of_range&) {
            fault(key, value, "is out of range");
        }
    }
    std::int32_t i32(const std::string& key, Rest rest) const {
        return i32(key, required(key), rest);
    }
    std::int32_t i32(const std::string& key, const std::string& value, Rest rest) const {
        return number(
            key, value, [rest](const std::string& text) { return jobStoi(text, rest); },
            "a whole number");
    }
    std::uint64_t u64(const std::string& key) const {
        return number(key, required(key), jobStoull, "a whole number");
    }
    double f64(const std::string& key, Rest rest) const {
        return number(
            key, required(key), [rest](const std::string& text) { return jobStod(text, rest); },
            "a number");
    }
    // One of the choices 0..last of an enumeration.
    std::int32_t choice(const std::string& key, const std::string& value, std::int32_t last) const {
        const std::int32_t n = i32(key, value, Rest::Refused);
        if (n < 0 || n > last) fault(key, value, "is out of range");
        return n;
    }
    // A list's length: 0 or more.
    std::int32_t count(const std::string& key) const {
        const std::int32_t n = i32(key, Rest::Refused);
        if (n < 0) fault(key, required(key), "is not a count");
        return n;
    }
    // Cut at a NUL byte, the path would name another file.
    const std::string& path(const std::string& key) const {
        const std::string& value = required(key);
        if (value.find('\0') != std::string::npos)
            throwJobFault("[" + name + "] " + key + " holds a NUL byte");
        return value;
    }
    // A path that names a file: not empty, not ending in a folder's name ("/data/sub/").
    const std::string& filePath(const std::string& key) const {
        const std::string& value = path(key);
        if (value.empty()) throwJobFault("[" + name + "] " + key + " is empty");
        const std::string last = std::filesystem::path(value).filename().string();
        if (last.empty() || last == "." || last == "..")
            fault(key, value, "names a folder, not a file");
        return value;
    }
    TileIndex tile(std::int32_t index) const {
        const std::string key = "Tile" + std::to_string(index);
        const std::string& value = required(key);
        TileIndex tile;
        if (!parseTileIndexValue(value, tile)) fault(key, value, "is not 'x,y'");
        return tile;
    }
};

Section requiredSection(const IniSections& sections, const std::string& name) {
    const auto it = sections.find(name);
    if (it == sections.end()) throwJobFault("section [" + name + "] is missing");
    return {it->first, it->second};
}

std::string numberedName(const char* prefix, std::int32_t index) {
    return prefix + std::to_string(index);
}

// Room for a list, trusting the count only as far as the section holds entries.
std::size_t reserveFor(std::int32_t count, const Section& section) {
    return std::min(static_cast<std::size_t>(count), section.entries.size());
}

void readTileList(const Section& section, std::vector<TileIndex>& tiles) {
    const std::int32_t count = section.count("TileCount");
    tiles.reserve(reserveFor(count, section));
    for (std::int32_t j = 0; j < count; ++j) tiles.push_back(section.tile(j));
}

// What decides the export must read whole; the counts and bounds for estimates read as C does.
void readJobSection(const Section& job, ExportJob& out) {
    out.inputE57Path = job.path("InputE57Path");
    out.outputE57Path = job.filePath("OutputE57Path");
    out.coarseTileSize = job.f64("CoarseTileSize", Rest::Refused);
    out.inputTotalPoints = job.u64("InputTotalPoints");
    out.estimatedPointsToFilter = job.u64("EstimatedPointsToFilter");
    out.outputAreaM2 = job.f64("OutputAreaM2", Rest::Ignored);
    out.exportMode =
        job.choice("ExportMode", job.required("ExportMode"),
                   static_cast<std::int32_t>(ExportMode::split_by_saved_top_selections));

    if (const std::string* format = job.optional("OutputFormat"))
        out.outputFormat =
            job.choice("OutputFormat", *format, static_cast<std::int32_t>(OutputFormat::LAS));
    else
        out.outputFormat = outputFormatFromExtension(out.outputE57Path);

    if (const std::string* content = job.optional("ExportContent")) {
        // The stored content decides; the flag keys are not consulted.
        out.exportContent = job.choice("ExportContent", *content,
                                       static_cast<std::int32_t>(ExportContent::XyzRgbPhotos));
        applyExportContentToFlags(out);
    } else {
        const std::string* photo = job.optional("EnablePhotoThirdPass");
        const std::string* rgb = job.optional("ExportRGB");
        out.enablePhotoThirdPass =
            photo ? job.i32("EnablePhotoThirdPass", *photo, Rest::Refused) != 0 : false;
        out.exportRGB = rgb ? job.i32("ExportRGB", *rgb, Rest::Refused) != 0 : true;
        if (out.enablePhotoThirdPass) out.exportRGB = true;
        exportContentFromFlags(out);
    }

    out.hasGlobalZBounds = job.i32("HasGlobalZBounds", Rest::Ignored) != 0;
    out.globalMinZ = job.f64("GlobalMinZ", Rest::Ignored);
    out.globalMaxZ = job.f64("GlobalMaxZ", Rest::Ignored);
}

void readSelections(const IniSections& sections, ExportJob& out) {
    const Section tiles = requiredSection(sections, "SelectedCoarseTiles");
    out.selectedCoarseTiles.clear();
    const std::int32_t tileCount = tiles.count("Count");
    out.selectedCoarseTiles.reserve(reserveFor(tileCount, tiles));
    for (std::int32_t i = 0; i < tileCount; ++i) out.selectedCoarseTiles.insert(tiles.tile(i));

    const Section counts = requiredSection(sections, "SelectedCoarseTileCounts");
    out.selectedCoarseTileCounts.clear();
    const std::int32_t countEntries = counts.count("Count");
    out.selectedCoarseTileCounts.reserve(reserveFor(countEntries, counts));
    for (std::int32_t i = 0; i < countEntries; ++i) {
        const std::string key = numberedName("Tile", i);
        const std::string& value = counts.required(key);
        TileIndex tile;
        std::uint64_t count = 0;
        if (!parseTileCountValue(value, tile, count))
            counts.fault(key, value, "is not 'x,y,count'");
        out.selectedCoarseTileCounts.emplace(tile, count);  // the first entry for a tile wins
    }

    out.savedTileSelections.clear();
    if (sections.count("SavedTileSelections") != 0) {
        const Section saved = requiredSection(sections, "SavedTileSelections");
        const std::int32_t selectionCount = saved.count("Count");
        for (std::int32_t i = 0; i < selectionCount; ++i) {
            SavedTileSelection selection;
            readTileList(requiredSection(sections, numberedName("SavedTileSelection", i)),
                         selection.tiles);
            out.savedTileSelections.push_back(std::move(selection));
        }
    }

    const Section ranges = requiredSection(sections, "SelectedHeightRanges");
    out.selectedHeightRanges.clear();
    const std::int32_t rangeCount = ranges.count("Count");
    for (std::int32_t i = 0; i < rangeCount; ++i) {
        const Section section = requiredSection(sections, numberedName("SelectedHeightRange", i));
        SelectedHeightRange range;
        range.zMin = section.f64("ZMin", Rest::Refused);
        range.zMax = section.f64("ZMax", Rest::Refused);
        readTileList(section, range.tiles);
        out.selectedHeightRanges.push_back(std::move(range));
    }
}

// The line rule of forEachIniEntry, after a UTF-8 byte order mark at the start:
// onSection(name) at each header, onEntry(section, key, value, trimmed) at each entry, where
// `trimmed` tells that the trim removed blanks from the value.
template <class OnSection, class OnEntry>
void forEachJobLine(std::istream& in, OnSection onSection, OnEntry onEntry) {
    char mark[3] = {};
    in.read(mark, 3);
    if (in.gcount() != 3 || std::memcmp(mark, "\xEF\xBB\xBF", 3) != 0) {
        in.clear();
        in.seekg(0);
    }
    std::string currentName;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string_view text = trimView(line);
        if (text.empty() || text.front() == ';' || text.front() == '#') continue;
        if (text.front() == '[' && text.back() == ']' && text.size() >= 2) {
            currentName = trim(text.substr(1, text.size() - 2));
            onSection(currentName);
            continue;
        }
        const auto eq = text.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view rawValue = std::string_view(line).substr(line.find('=') + 1);
        std::string value = trim(rawValue);
        const bool trimmed = value.size() != rawValue.size();
        onEntry(currentName, trim(text.substr(0, eq)), std::move(value), trimmed);
    }
}

bool isJobPathKey(const std::string& section, const std::string& key) {
    return section == "Job" && (key == "InputE57Path" || key == "OutputE57Path");
}

// Notes a path whose value carried blanks that the trim removed.
void readJobSections(std::istream& in, IniSections& sections, std::vector<std::string>* notes) {
    // The section changes rarely; remember the last one instead of hashing its name per line.
    IniSection* current = &sections[std::string()];
    forEachJobLine(
        in, [&](const std::string& name) { current = &sections[name]; },  // a header alone
        [&](const std::string& section, std::string key, std::string value, bool trimmed) {
            if (notes && trimmed && isJobPathKey(section, key))
                notes->push_back(key + " trimmed of surrounding blanks; used: '" + value + "'");
            current->insert_or_assign(std::move(key), std::move(value));  // a later line wins
        });
}

// ---- writing ------------------------------------------------------------------------------

// Collects the text and hands it to the stream in large pieces; numbers are formatted
// without the locale.
class JobTextWriter {
public:
    explicit JobTextWriter(std::ofstream& out) : out_(out) { buffer_.reserve(kFlushSize + 256); }

    JobTextWriter& text(std::string_view s) {
        buffer_.append(s);
        return *this;
    }
    JobTextWriter& f64(double value) {
        char digits[64];
        const auto r =
            std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 17);
        buffer_.append(digits, r.ptr);
        return *this;
    }
    template <typename Int>
    JobTextWriter& integer(Int value) {
        char digits[32];
        const auto r = std::to_chars(digits, digits + sizeof digits, value);
        buffer_.append(digits, r.ptr);
        return *this;
    }
    JobTextWriter& flag(bool value) { return text(value ? "1" : "0"); }
    JobTextWriter& tile(const TileIndex& t) { return integer(t.ix).text(",").integer(t.iy); }
    void endLine() {
        buffer_.push_back('\n');
        if (buffer_.size() >= kFlushSize) flush();
    }
    void flush() {
        out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
        buffer_.clear();
    }

private:
    static constexpr std::size_t kFlushSize = 1 << 16;
    std::ofstream& out_;
    std::string buffer_;
};

void writeTileLines(JobTextWriter& w, const std::vector<TileIndex>& tiles) {
    w.text("TileCount=").integer(static_cast<std::uint64_t>(tiles.size())).endLine();
    std::uint64_t j = 0;
    for (const TileIndex& tile : tiles) {
        w.text("Tile").integer(j++).text("=").tile(tile).endLine();
    }
}

void writeJobText(JobTextWriter& w, const ExportJob& job) {
    w.text("[Job]").endLine();
    w.text("InputE57Path=").text(job.inputE57Path).endLine();
    w.text("OutputE57Path=").text(job.outputE57Path).endLine();
    w.text("CoarseTileSize=").f64(job.coarseTileSize).endLine();
    w.text("InputTotalPoints=").integer(job.inputTotalPoints).endLine();
    w.text("EstimatedPointsToFilter=").integer(job.estimatedPointsToFilter).endLine();
    w.text("OutputAreaM2=").f64(job.outputAreaM2).endLine();
    w.text("ExportMode=").integer(job.exportMode).endLine();
    w.text("OutputFormat=").integer(job.outputFormat).endLine();
    w.text("ExportContent=").integer(job.exportContent).endLine();
    w.text("EnablePhotoThirdPass=").flag(job.enablePhotoThirdPass).endLine();
    w.text("ExportRGB=").flag(job.exportRGB).endLine();
    w.text("HasGlobalZBounds=").flag(job.hasGlobalZBounds).endLine();
    w.text("GlobalMinZ=").f64(job.globalMinZ).endLine();
    w.text("GlobalMaxZ=").f64(job.globalMaxZ).endLine();

    w.endLine();
    w.text("[SelectedCoarseTiles]").endLine();
    w.text("Count=").integer(static_cast<std::uint64_t>(job.selectedCoarseTiles.size())).endLine();
    std::uint64_t i = 0;
    for (const TileIndex& tile : job.selectedCoarseTiles) {
        w.text("Tile").integer(i++).text("=").tile(tile).endLine();
    }

    w.endLine();
    w.text("[SelectedCoarseTileCounts]").endLine();
    w.text("Count=")
        .integer(static_cast<std::uint64_t>(job.selectedCoarseTileCounts.size()))
        .endLine();
    i = 0;
    for (const auto& [tile, count] : job.selectedCoarseTileCounts) {
        w.text("Tile").integer(i++).text("=").tile(tile).text(",").integer(count).endLine();
    }

    w.endLine();
    w.text("[SavedTileSelections]").endLine();
    w.text("Count=").integer(static_cast<std::uint64_t>(job.savedTileSelections.size())).endLine();
    i = 0;
    for (const SavedTileSelection& selection : job.savedTileSelections) {
        w.endLine();
        w.text("[SavedTileSelection").integer(i++).text("]").endLine();
        writeTileLines(w, selection.tiles);
    }

    w.endLine();
    w.text("[SelectedHeightRanges]").endLine();
    w.text("Count=").integer(static_cast<std::uint64_t>(job.selectedHeightRanges.size())).endLine();
    i = 0;
    for (const SelectedHeightRange& range : job.selectedHeightRanges) {
        w.endLine();
        w.text("[SelectedHeightRange").integer(i++).text("]").endLine();
        w.text("ZMin=").f64(range.zMin).endLine();
        w.text("ZMax=").f64(range.zMax).endLine();
        writeTileLines(w, range.tiles);
    }
    w.flush();
}

}  // namespace

bool writeExportJobFile(const std::filesystem::path& jobPath, const ExportJob& job,
                        std::string* error) {
    try {
        std::ofstream out(jobPath, std::ios::out | std::ios::trunc);
        if (!out.is_open()) {
            setError(error, "Cannot open export job file for writing: " + jobPath.string());
            return false;
        }
        JobTextWriter writer(out);
        writeJobText(writer, job);
        out.close();
        // A full disk or a failed flush must not pass as a saved job.
        if (out.fail()) {
            setError(error, "Error while writing export job file: " + jobPath.string());
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        setError(error, exceptionText(e));
        return false;
    }
}

bool loadExportJobFile(const std::filesystem::path& jobPath, ExportJob& out, std::string* error,
                       std::vector<std::string>* notes) {
    try {
        std::ifstream in(jobPath);
        if (!in.is_open()) {
            setError(error, "Cannot open export job file: " + jobPath.string());
            return false;
        }
        IniSections sections;
        readJobSections(in, sections, notes);
        if (in.bad()) {
            setError(error, "Error while reading export job file: " + jobPath.string());
            return false;
        }
        readJobSection(requiredSection(sections, "Job"), out);
        readSelections(sections, out);
        return true;
    } catch (const std::exception& e) {
        setError(error, exceptionText(e));
        return false;
    }
}

bool readExportJobPaths(const std::filesystem::path& jobPath, std::string& input,
                        std::string& output) {
    input.clear();
    output.clear();
    try {
        std::ifstream in(jobPath);
        if (!in.is_open()) return false;
        forEachJobLine(
            in, [](const std::string&) {},
            [&](const std::string& section, std::string key, std::string value, bool) {
                if (isJobPathKey(section, key))
                    (key == "InputE57Path" ? input : output) = std::move(value);
            });
        if (in.bad()) return false;
    } catch (const std::exception&) {
        return false;
    }
    // Cut at a NUL byte, a path would name another file; the load refuses it.
    if (input.find('\0') != std::string::npos) input.clear();
    if (output.find('\0') != std::string::npos) output.clear();
    return true;
}

bool parseTileIndexValue(const std::string& value, TileIndex& out) {
    const auto comma = value.find(',');
    if (value.empty() || comma == std::string::npos) return false;
    TileIndex tile;
    if (!parseStoll(value.substr(0, comma), tile.ix)) return false;
    if (!parseStoll(value.substr(comma + 1), tile.iy)) return false;  // "1,2,3" and "1,2.9" too
    out = tile;
    return true;
}

bool parseTileCountValue(const std::string& value, TileIndex& tile, std::uint64_t& count) {
    const auto first = value.find(',');
    if (first == std::string::npos || first + 1 >= value.size()) return false;
    const auto second = value.find(',', first + 1);
    if (second == std::string::npos) return false;
    TileIndex parsed;
    std::uint64_t parsedCount = 0;
    if (!parseStoll(value.substr(0, first), parsed.ix)) return false;
    if (!parseStoll(value.substr(first + 1, second - first - 1), parsed.iy)) return false;
    if (!parseStoull(value.substr(second + 1), parsedCount)) return false;
    tile = parsed;
    count = parsedCount;
    return true;
}

void exportContentFromFlags(ExportJob& job) {
    if (job.enablePhotoThirdPass)
        job.exportContent = static_cast<std::int32_t>(ExportContent::XyzRgbPhotos);
    else if (job.exportRGB)
        job.exportContent = static_cast<std::int32_t>(ExportContent::XyzRgb);
    else
        job.exportContent = static_cast<std::int32_t>(ExportContent::Xyz);
}

void applyExportContentToFlags(ExportJob& job) {
    if (job.exportContent == static_cast<std::int32_t>(ExportContent::XyzRgb) ||
        job.exportContent == static_cast<std::int32_t>(ExportContent::XyzRgbPhotos)) {
        job.exportRGB = true;
        job.enablePhotoThirdPass =
            job.exportContent == static_cast<std::int32_t>(ExportContent::XyzRgbPhotos);
    } else {
        job.exportRGB = false;
        job.enablePhotoThirdPass = false;
    }
}

std::int32_t outputFormatFromExtension(const std::string& path) {
    const std::string ext = lowerExtension(path);
    if (ext == ".xyz" || ext == ".txt" || ext == ".pts")
        return static_cast<std::int32_t>(OutputFormat::XYZ);
    if (ext == ".las") return static_cast<std::int32_t>(OutputFormat::LAS);
    return static_cast<std::int32_t>(OutputFormat::E57);
}
