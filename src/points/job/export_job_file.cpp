#include "points/job/export_job_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <locale.h>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "points/input/exception_text.h"
#include "points/job/ini_text.h"
#include "points/input/text_utils.h"

namespace {

using IniSection = std::unordered_map<std::string, std::string>;
using IniSections = std::unordered_map<std::string, IniSection>;

// ---- number conversions -------------------------------------------------------------------
// C conversion semantics (leading blanks, optional sign, trailing text ignored) with messages
// of their own: libstdc++'s std::stoi and friends only say "stoi".

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

std::int32_t jobStoi(const std::string& text) {
    ErrnoScope scope;
    const char* begin = text.c_str();
    char* end = nullptr;
    const long long value = std::strtoll(begin, &end, 10);
    if (end == begin) throwInvalid("stoi");
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
double jobStod(const std::string& text) {
    ErrnoScope scope;
    const char* begin = text.c_str();
    char* end = nullptr;
    const locale_t locale = cNumericLocale();
    const double value = locale ? strtod_l(begin, &end, locale) : std::strtod(begin, &end);
    if (end == begin) throwInvalid("stod");
    if (errno == ERANGE && std::isinf(value)) throwOutOfRange("stod");
    return value;
}

bool parseStoll(const std::string& text, std::int64_t& out) {
    ErrnoScope scope;
    const char* begin = text.c_str();
    char* end = nullptr;
    const long long value = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE) return false;
    out = static_cast<std::int64_t>(value);
    return true;
}

bool parseStoull(const std::string& text, std::uint64_t& out) {
    ErrnoScope scope;
    const char* begin = text.c_str();
    char* end = nullptr;
    const unsigned long long value = std::strtoull(begin, &end, 10);
    if (end == begin || errno == ERANGE) return false;
    out = static_cast<std::uint64_t>(value);
    return true;
}

// ---- sections -----------------------------------------------------------------------------

[[noreturn]] void throwMissingKey() { throw std::out_of_range("invalid unordered_map<K, T> key"); }

const IniSection& sectionOrEmpty(const IniSections& sections, const std::string& name) {
    static const IniSection empty;
    const auto it = sections.find(name);
    return it == sections.end() ? empty : it->second;
}

const IniSection& requiredSection(const IniSections& sections, const std::string& name) {
    const auto it = sections.find(name);
    if (it == sections.end()) throwMissingKey();
    return it->second;
}

const std::string& requiredValue(const IniSection& section, const std::string& key) {
    const auto it = section.find(key);
    if (it == section.end()) throwMissingKey();
    return it->second;
}

const std::string* optionalValue(const IniSection& section, const std::string& key) {
    const auto it = section.find(key);
    return it == section.end() ? nullptr : &it->second;
}

std::string numberedName(const char* prefix, std::int32_t index) {
    return prefix + std::to_string(index);
}

// Count is read as signed 32 bits: zero or below gives no entries.
std::int32_t requiredCount(const IniSection& section, const char* key) {
    return jobStoi(requiredValue(section, key));
}

// Room for a list, trusting the count only as far as the section holds entries.
std::size_t reserveFor(std::int32_t count, const IniSection& section) {
    if (count <= 0) return 0;
    return std::min(static_cast<std::size_t>(count), section.size());
}

void readTileList(const IniSection& section, std::vector<TileIndex>& tiles) {
    const std::int32_t count = requiredCount(section, "TileCount");
    for (std::int32_t j = 0; j < count; ++j) {
        TileIndex tile;
        if (parseTileIndexValue(requiredValue(section, numberedName("Tile", j)), tile))
            tiles.push_back(tile);
    }
}

void readJobSection(const IniSection& job, ExportJob& out) {
    out.inputE57Path = requiredValue(job, "InputE57Path");
    out.outputE57Path = requiredValue(job, "OutputE57Path");
    out.coarseTileSize = jobStod(requiredValue(job, "CoarseTileSize"));
    out.inputTotalPoints = jobStoull(requiredValue(job, "InputTotalPoints"));
    out.estimatedPointsToFilter = jobStoull(requiredValue(job, "EstimatedPointsToFilter"));
    out.outputAreaM2 = jobStod(requiredValue(job, "OutputAreaM2"));
    out.exportMode = jobStoi(requiredValue(job, "ExportMode"));

    if (const std::string* format = optionalValue(job, "OutputFormat"))
        out.outputFormat = jobStoi(*format);
    else
        out.outputFormat = outputFormatFromExtension(out.outputE57Path);

    if (const std::string* content = optionalValue(job, "ExportContent")) {
        // The stored content decides; the flag keys are not consulted.
        out.exportContent = jobStoi(*content);
        applyExportContentToFlags(out);
    } else {
        const std::string* photo = optionalValue(job, "EnablePhotoThirdPass");
        const std::string* rgb = optionalValue(job, "ExportRGB");
        out.enablePhotoThirdPass = photo ? jobStoi(*photo) != 0 : false;
        out.exportRGB = rgb ? jobStoi(*rgb) != 0 : true;
        if (out.enablePhotoThirdPass) out.exportRGB = true;
        exportContentFromFlags(out);
    }

    out.hasGlobalZBounds = jobStoi(requiredValue(job, "HasGlobalZBounds")) != 0;
    out.globalMinZ = jobStod(requiredValue(job, "GlobalMinZ"));
    out.globalMaxZ = jobStod(requiredValue(job, "GlobalMaxZ"));
}

void readSelections(const IniSections& sections, ExportJob& out) {
    const IniSection& tiles = sectionOrEmpty(sections, "SelectedCoarseTiles");
    out.selectedCoarseTiles.clear();
    const std::int32_t tileCount = requiredCount(tiles, "Count");
    out.selectedCoarseTiles.reserve(reserveFor(tileCount, tiles));
    for (std::int32_t i = 0; i < tileCount; ++i) {
        TileIndex tile;
        if (parseTileIndexValue(requiredValue(tiles, numberedName("Tile", i)), tile))
            out.selectedCoarseTiles.insert(tile);
    }

    const IniSection& counts = sectionOrEmpty(sections, "SelectedCoarseTileCounts");
    out.selectedCoarseTileCounts.clear();
    const std::int32_t countEntries = requiredCount(counts, "Count");
    out.selectedCoarseTileCounts.reserve(reserveFor(countEntries, counts));
    for (std::int32_t i = 0; i < countEntries; ++i) {
        TileIndex tile;
        std::uint64_t count = 0;
        if (parseTileCountValue(requiredValue(counts, numberedName("Tile", i)), tile, count))
            out.selectedCoarseTileCounts.emplace(tile, count);  // the first entry for a tile wins
    }

    out.savedTileSelections.clear();
    const auto saved = sections.find("SavedTileSelections");
    if (saved != sections.end()) {
        const std::int32_t selectionCount = requiredCount(saved->second, "Count");
        for (std::int32_t i = 0; i < selectionCount; ++i) {
            const IniSection& section =
                requiredSection(sections, numberedName("SavedTileSelection", i));
            SavedTileSelection selection;
            readTileList(section, selection.tiles);
            out.savedTileSelections.push_back(std::move(selection));
        }
    }

    const IniSection& ranges = sectionOrEmpty(sections, "SelectedHeightRanges");
    out.selectedHeightRanges.clear();
    const std::int32_t rangeCount = requiredCount(ranges, "Count");
    for (std::int32_t i = 0; i < rangeCount; ++i) {
        const IniSection& section =
            requiredSection(sections, numberedName("SelectedHeightRange", i));
        SelectedHeightRange range;
        range.zMin = jobStod(requiredValue(section, "ZMin"));
        range.zMax = jobStod(requiredValue(section, "ZMax"));
        readTileList(section, range.tiles);
        out.selectedHeightRanges.push_back(std::move(range));
    }
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

bool loadExportJobFile(const std::filesystem::path& jobPath, ExportJob& out, std::string* error) {
    try {
        std::ifstream in(jobPath);
        if (!in.is_open()) {
            setError(error, "Cannot open export job file: " + jobPath.string());
            return false;
        }
        IniSections sections;
        // The section changes rarely; remember the last one instead of hashing its name per line.
        std::string currentName;
        IniSection* current = nullptr;
        forEachIniEntry(
            in,
            [&](const std::string& section, const std::string& key, const std::string& value) {
                if (!current || section != currentName) {
                    currentName = section;
                    current = &sections[section];
                }
                current->insert_or_assign(key, value);  // a later line replaces an earlier one
            },
            [&](const std::string& section) {
                // A header alone makes its section exist (an empty [SavedTileSelections] still
                // needs Count).
                currentName = section;
                current = &sections[section];
            });
        if (in.bad()) {
            setError(error, "Error while reading export job file: " + jobPath.string());
            return false;
        }
        readJobSection(sectionOrEmpty(sections, "Job"), out);
        readSelections(sections, out);
        return true;
    } catch (const std::exception& e) {
        setError(error, exceptionText(e));
        return false;
    }
}

bool parseTileIndexValue(const std::string& value, TileIndex& out) {
    const auto comma = value.find(',');
    if (value.empty() || comma == std::string::npos) return false;
    TileIndex tile;
    if (!parseStoll(value.substr(0, comma), tile.ix)) return false;
    if (!parseStoll(value.substr(comma + 1), tile.iy)) return false;  // stops at a further ','
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
