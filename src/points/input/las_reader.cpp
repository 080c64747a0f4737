#include "points/input/las_reader.h"

#include "points/input/las_header.h"
#include "points/input/text_utils.h"

#include <cmath>
#include <cstring>

namespace {

// Sequential reads fetch this many bytes of records at once.
constexpr std::size_t kWindowBytes = std::size_t{1} << 20;

using lasrecord::loadI32;
using lasrecord::loadU16;

inline std::uint64_t loadU64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
inline double loadF64(const std::uint8_t* p) {
    const std::uint64_t bits = loadU64(p);
    double v = 0.0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

}  // namespace

std::uint16_t lasMinimumRecordLength(std::uint8_t pointFormat) {
    static constexpr std::uint16_t kLengths[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
    return pointFormat < 11 ? kLengths[pointFormat] : 0;
}

std::string lasTruncationText(std::uint64_t headerCount, std::uint64_t records) {
    return "LAS file is truncated: the header says " + std::to_string(headerCount) +
           " points, the file holds " + std::to_string(records) + ".";
}

std::size_t lasMinimumHeaderSize(std::uint8_t versionMajor, std::uint8_t versionMinor) {
    if (versionMajor > 1 || (versionMajor == 1 && versionMinor >= 4)) return las::kHeaderSize14;
    // Early LAS 1.3 writers left out the waveform field, and common readers take their files.
    return las::kHeaderSize12;
}

int lasRgbByteOffset(std::uint8_t pointFormat) {
    switch (pointFormat) {
        case 2: return 20;
        case 3:
        case 5: return 28;
        case 7:
        case 8:
        case 10: return 30;
        default: return -1;
    }
}

LasBinaryPointReader::LasBinaryPointReader() = default;

LasBinaryPointReader::~LasBinaryPointReader() { close(); }

void LasBinaryPointReader::close() {
    file_.close();
    path_.clear();
    fileSize_ = 0;
    versionMajor_ = 0;
    versionMinor_ = 0;
    headerSize_ = 0;
    offsetToPointData_ = 0;
    pointFormatByte_ = 0;
    pointFormat_ = 0;
    pointRecordLength_ = 0;
    scale_ = {1.0, 1.0, 1.0};
    offset_ = {0.0, 0.0, 0.0};
    headerBounds_ = {};
    pointCount_ = 0;
    headerPointCount_ = 0;
    nextPointIndex_ = 0;
    hasRGB_ = false;
    hasIntensity_ = false;
    isOpen_ = false;
    last_ = nullptr;
    std::vector<std::uint8_t>().swap(record_);
    std::vector<std::uint8_t>().swap(window_);
    windowStart_ = 0;
    windowEnd_ = 0;
    nextOffset_ = 0;
    colourAt_ = -1;
}

bool LasBinaryPointReader::readAt(std::uint64_t offset, void* target, std::size_t bytes) {
    std::memset(target, 0, bytes);
    std::uint8_t raw[8] = {};
    if (bytes > sizeof raw || file_.readAt(offset, raw, bytes) != bytes) return false;
    std::memcpy(target, raw, bytes);
    return true;
}

bool LasBinaryPointReader::fail(std::string* error, const std::string& message) {
    close();
    setError(error, message);
    return false;
}

bool LasBinaryPointReader::open(const std::string& path, std::string* error, bool acceptTruncated) {
    close();
    path_ = path;
    if (!file_.openRead(path))
        return fail(error, "LasBinaryPointReader: cannot open LAS file (" +
                               platform::systemErrorText(file_.lastError()) + ").");
    if (!file_.isRegular()) return fail(error, "LasBinaryPointReader: not a regular file.");

    fileSize_ = static_cast<std::int64_t>(file_.size());
    if (fileSize_ <= 0) return fail(error, "LasBinaryPointReader: invalid file size.");

    char signature[4] = {};
    if (file_.readAt(0, signature, 4) != 4 || std::memcmp(signature, "LASF", 4) != 0)
        return fail(error, "LasBinaryPointReader: invalid LAS signature.");

    // Fields are little-endian; the target machine is too, and readAt zero-fills.
    std::uint8_t u8 = 0;
    std::uint8_t u16[2] = {};
    std::uint8_t u32[4] = {};
    std::uint8_t f64[8] = {};
    bool ok = readAt(las::kVersionMajorAt, &versionMajor_, 1);
    ok = ok && readAt(las::kVersionMinorAt, &versionMinor_, 1);
    ok = ok && readAt(las::kHeaderSizeAt, u16, 2);
    headerSize_ = loadU16(u16);
    ok = ok && readAt(las::kOffsetToPointDataAt, u32, 4);
    offsetToPointData_ = static_cast<std::uint32_t>(loadI32(u32));
    ok = ok && readAt(las::kPointFormatAt, &u8, 1);
    pointFormatByte_ = u8;
    ok = ok && readAt(las::kPointRecordLengthAt, u16, 2);
    pointRecordLength_ = loadU16(u16);
    if (!ok) return fail(error, "LasBinaryPointReader: failed to read LAS header.");
    // LASzip marks compressed records with bit 7 (often bit 6 too); read as plain records they
    // would be garbage points.
    if ((pointFormatByte_ & 0xC0U) != 0)
        return fail(error, "LasBinaryPointReader: compressed (LAZ) point data is not supported.");
    pointFormat_ = static_cast<std::uint8_t>(pointFormatByte_ & 63U);
    const std::size_t minimumHeader = lasMinimumHeaderSize(versionMajor_, versionMinor_);
    if (headerSize_ < minimumHeader)
        return fail(error, "LasBinaryPointReader: header size " + std::to_string(headerSize_) +
                               " is below the " + std::to_string(minimumHeader) + " bytes of LAS " +
                               std::to_string(versionMajor_) + "." + std::to_string(versionMinor_) +
                               ".");

    if (!readAt(las::kLegacyPointCountAt, u32, 4))
        return fail(error, "LasBinaryPointReader: failed to read legacy point count.");
    const std::uint64_t legacyCount = static_cast<std::uint32_t>(loadI32(u32));

    for (int axis = 0; axis < 3; ++axis) {
        if (!readAt(las::kScaleAt + 8 * static_cast<std::uint64_t>(axis), f64, 8))
            return fail(error, "LasBinaryPointReader: failed to read scale/offset values.");
        scale_[static_cast<std::size_t>(axis)] = loadF64(f64);
    }
    for (int axis = 0; axis < 3; ++axis) {
        if (!readAt(las::kOffsetAt + 8 * static_cast<std::uint64_t>(axis), f64, 8))
            return fail(error, "LasBinaryPointReader: failed to read scale/offset values.");
        offset_[static_cast<std::size_t>(axis)] = loadF64(f64);
    }
    // Unchecked: only the preview widens its bounds by them, and zeros stand for unset.
    for (std::size_t i = 0; i < headerBounds_.size(); ++i) {
        if (!readAt(las::kMaxXAt + 8 * i, f64, 8)) {
            headerBounds_ = {};
            break;
        }
        headerBounds_[i] = loadF64(f64);
    }

    std::uint64_t count = legacyCount;
    const bool hasWideCount = versionMajor_ >= 2 || (versionMajor_ == 1 && versionMinor_ >= 4);
    if (hasWideCount && headerSize_ >= las::kHeaderSize14) {
        std::uint8_t u64[8] = {};
        if (readAt(las::kPointCountAt, u64, 8) && loadU64(u64) != 0) count = loadU64(u64);
    }

    if (pointRecordLength_ < 20)
        return fail(error, "LasBinaryPointReader: invalid point record length.");
    if (offsetToPointData_ == 0 || static_cast<std::int64_t>(offsetToPointData_) >= fileSize_)
        return fail(error, "LasBinaryPointReader: invalid point data offset.");
    if (offsetToPointData_ < headerSize_)
        return fail(error, "LasBinaryPointReader: point data offset " +
                               std::to_string(offsetToPointData_) + " lies inside the " +
                               std::to_string(headerSize_) + "-byte header.");
    if (pointFormat_ >= 11)
        return fail(error, "LasBinaryPointReader: unsupported LAS point format " +
                               std::to_string(static_cast<int>(pointFormat_)) + ".");
    // Shorter records would be read as garbage fields.
    const std::uint16_t minimumLength = lasMinimumRecordLength(pointFormat_);
    if (pointRecordLength_ < minimumLength)
        return fail(error, "LasBinaryPointReader: point record length " +
                               std::to_string(pointRecordLength_) + " is below the " +
                               std::to_string(minimumLength) + " bytes of point format " +
                               std::to_string(static_cast<int>(pointFormat_)) + ".");
    for (std::size_t axis = 0; axis < 3; ++axis) {
        if (!std::isfinite(scale_[axis]) || scale_[axis] == 0.0)
            return fail(error, "LasBinaryPointReader: invalid scale factor.");
        if (!std::isfinite(offset_[axis]))
            return fail(error, "LasBinaryPointReader: invalid offset.");
    }

    const std::uint64_t available =
        (static_cast<std::uint64_t>(fileSize_) - offsetToPointData_) / pointRecordLength_;
    // A count of 0 promises nothing: the whole records in the file are read.
    if (count == 0) count = available;
    if (count == 0) return fail(error, "LasBinaryPointReader: point count is zero.");
    if (count > available && (!acceptTruncated || available == 0))
        return fail(error, "LasBinaryPointReader: " + lasTruncationText(count, available));
    headerPointCount_ = count;
    pointCount_ = count < available ? count : available;

    hasIntensity_ = true;
    const int colourOffset = lasRgbByteOffset(pointFormat_);
    hasRGB_ = colourOffset >= 0;
    // A record too short for its format's colour gives points without colour.
    colourAt_ = hasRGB_ && static_cast<std::size_t>(colourOffset) + 6 <= pointRecordLength_
                    ? colourOffset
                    : -1;
    record_.assign(pointRecordLength_, 0);

    if (!file_.seek(offsetToPointData_))
        return fail(error, "LasBinaryPointReader: failed to seek to point data.");

    // Whole records per window, at least one.
    const std::size_t perWindow =
        kWindowBytes / pointRecordLength_ > 0 ? kWindowBytes / pointRecordLength_ : 1;
    window_.resize(perWindow * pointRecordLength_);
    windowStart_ = offsetToPointData_;
    windowEnd_ = offsetToPointData_;

    isOpen_ = true;
    last_ = record_.data();
    nextPointIndex_ = 0;
    nextOffset_ = offsetToPointData_;
    clearError(error);
    return true;
}

bool LasBinaryPointReader::seekToRecord(std::uint64_t index) {
    if (!isOpen_) return false;
    nextPointIndex_ = index;
    // Past the end nothing is read, so the offset only has to stay meaningful for progress.
    nextOffset_ = std::uint64_t{offsetToPointData_} +
                  (index < pointCount_ ? index : pointCount_) * pointRecordLength_;
    return true;
}

// Loads the window so that it starts at recordOffset. A read that continues the previous
// window fetches many records ahead; a jump (a seek) fetches just the one record, so that
// sparse sampling does not read the records it skips.
bool LasBinaryPointReader::fillWindow(std::uint64_t recordOffset, bool sequential) {
    const std::size_t length = pointRecordLength_;
    // The window is about to be overwritten, even by a read that fails.
    if (last_ != record_.data()) {
        std::memcpy(record_.data(), last_, length);
        last_ = record_.data();
    }
    std::uint64_t records = 1;
    if (sequential) {
        records = window_.size() / length;
        const std::uint64_t left = pointCount_ - nextPointIndex_;
        if (records > left) records = left;
    }
    const std::size_t got =
        file_.readAt(recordOffset, window_.data(), static_cast<std::size_t>(records) * length);
    windowStart_ = recordOffset;
    windowEnd_ = recordOffset + (got - got % length);
    return got >= length;
}

// The next record in the window, filled first when needed; null at the end (error cleared) or
// on a failure (error set).
const std::uint8_t* LasBinaryPointReader::nextRecordInWindow(std::string* error) {
    if (!isOpen_) {
        setError(error, "LasBinaryPointReader: reader is not open.");
        return nullptr;
    }
    if (nextPointIndex_ >= pointCount_) {
        clearError(error);
        return nullptr;
    }
    const std::uint64_t at = nextOffset_;
    if (at < windowStart_ || at + pointRecordLength_ > windowEnd_) {
        if (!fillWindow(at, at == windowEnd_)) {
            setError(error, "LasBinaryPointReader: failed to read point record.");
            return nullptr;
        }
    }
    clearError(error);
    return window_.data() + (at - windowStart_);
}

// Everything readNext's inline path leaves: a closed reader, the end, a window to fill.
bool LasBinaryPointReader::readNextFromFile(CloudPoint& out, std::string* error) {
    const std::uint8_t* src = nextRecordInWindow(error);
    if (!src) return false;
    decode(src, out);
    last_ = src;
    ++nextPointIndex_;
    nextOffset_ += pointRecordLength_;
    return true;
}

bool LasBinaryPointReader::readRecords(const std::uint8_t*& records, std::size_t& count,
                                       std::string* error) {
    const std::uint8_t* first = nextRecordInWindow(error);
    if (!first) return false;
    const std::size_t length = pointRecordLength_;
    std::uint64_t n = (windowEnd_ - nextOffset_) / length;
    if (n > pointCount_ - nextPointIndex_) n = pointCount_ - nextPointIndex_;
    records = first;
    count = static_cast<std::size_t>(n);
    last_ = records + (count - 1) * length;
    nextPointIndex_ += n;
    nextOffset_ += n * length;
    return true;
}
