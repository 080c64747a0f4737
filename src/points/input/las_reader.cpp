#include "points/input/las_reader.h"

#include "points/input/las_header.h"
#include "points/input/text_utils.h"

#include <cstring>

namespace {

// Sequential reads fetch this many bytes of records at once.
constexpr std::size_t kWindowBytes = std::size_t{1} << 20;

inline std::uint16_t loadU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int32_t loadI32(const std::uint8_t* p) {
    const std::uint32_t v = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
                            (std::uint32_t{p[3]} << 24);
    return static_cast<std::int32_t>(v);
}
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

// 16-bit colour to 0..255: values below 256 are taken as 8-bit already.
inline std::uint16_t colourTo8Bit(std::uint16_t v) { return v < 256 ? v : static_cast<std::uint16_t>(v >> 8); }

// Record copy without a library call for the usual record lengths (20 to 64 bytes).
inline void copyRecord(std::uint8_t* dst, const std::uint8_t* src, std::size_t length) {
    if (length >= 16 && length <= 32) {
        std::memcpy(dst, src, 16);
        std::memcpy(dst + length - 16, src + length - 16, 16);
    } else if (length > 32 && length <= 64) {
        std::memcpy(dst, src, 32);
        std::memcpy(dst + length - 32, src + length - 32, 32);
    } else {
        std::memcpy(dst, src, length);
    }
}

}  // namespace

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
    pointCount_ = 0;
    nextPointIndex_ = 0;
    hasRGB_ = false;
    hasIntensity_ = false;
    isOpen_ = false;
    std::vector<std::uint8_t>().swap(record_);
    std::vector<std::uint8_t>().swap(window_);
    windowStart_ = 0;
    windowEnd_ = 0;
    nextOffset_ = 0;
    colourOffset_ = -1;
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

bool LasBinaryPointReader::open(const std::string& path, std::string* error) {
    close();
    path_ = path;
    if (!file_.openRead(path)) return fail(error, "LasBinaryPointReader: cannot open LAS file.");

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
    pointFormat_ = static_cast<std::uint8_t>(pointFormatByte_ & 63U);

    if (!readAt(las::kLegacyPointCountAt, u32, 4)) return fail(error, "LasBinaryPointReader: failed to read legacy point count.");
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

    std::uint64_t count = legacyCount;
    const bool hasWideCount = versionMajor_ >= 2 || (versionMajor_ == 1 && versionMinor_ >= 4);
    if (hasWideCount && headerSize_ >= las::kHeaderSize14) {
        std::uint8_t u64[8] = {};
        if (readAt(las::kPointCountAt, u64, 8) && loadU64(u64) != 0) count = loadU64(u64);
    }

    if (pointRecordLength_ < 20) return fail(error, "LasBinaryPointReader: invalid point record length.");
    if (offsetToPointData_ == 0 || static_cast<std::int64_t>(offsetToPointData_) >= fileSize_)
        return fail(error, "LasBinaryPointReader: invalid point data offset.");

    const std::uint64_t available =
        (static_cast<std::uint64_t>(fileSize_) - offsetToPointData_) / pointRecordLength_;
    if (count == 0 || count > available) count = available;
    if (count == 0) return fail(error, "LasBinaryPointReader: point count is zero.");
    pointCount_ = count;

    if (pointFormat_ >= 11)
        return fail(error, "LasBinaryPointReader: unsupported LAS point format " +
                               std::to_string(static_cast<int>(pointFormat_)) + ".");

    hasIntensity_ = true;
    colourOffset_ = lasRgbByteOffset(pointFormat_);
    hasRGB_ = colourOffset_ >= 0;
    record_.assign(pointRecordLength_, 0);

    if (!file_.seek(offsetToPointData_))
        return fail(error, "LasBinaryPointReader: failed to seek to point data.");

    // Whole records per window, at least one.
    const std::size_t perWindow = kWindowBytes / pointRecordLength_ > 0 ? kWindowBytes / pointRecordLength_ : 1;
    window_.resize(perWindow * pointRecordLength_);
    windowStart_ = offsetToPointData_;
    windowEnd_ = offsetToPointData_;

    isOpen_ = true;
    nextPointIndex_ = 0;
    nextOffset_ = offsetToPointData_;
    clearError(error);
    return true;
}

bool LasBinaryPointReader::seekToRecord(std::uint64_t index) {
    if (!isOpen_) return false;
    nextPointIndex_ = index;
    // Past the end nothing is read, so the offset only has to stay meaningful for progress.
    nextOffset_ = std::uint64_t{offsetToPointData_} + (index < pointCount_ ? index : pointCount_) * pointRecordLength_;
    return true;
}

// Loads the window so that it starts at recordOffset. A read that continues the previous
// window fetches many records ahead; a jump (a seek) fetches just the one record, so that
// sparse sampling does not read the records it skips.
bool LasBinaryPointReader::fillWindow(std::uint64_t recordOffset, bool sequential) {
    const std::size_t length = pointRecordLength_;
    std::uint64_t records = 1;
    if (sequential) {
        records = window_.size() / length;
        const std::uint64_t left = pointCount_ - nextPointIndex_;
        if (records > left) records = left;
    }
    const std::size_t got = file_.readAt(recordOffset, window_.data(), static_cast<std::size_t>(records) * length);
    windowStart_ = recordOffset;
    windowEnd_ = recordOffset + (got - got % length);
    return got >= length;
}

bool LasBinaryPointReader::readNext(CloudPoint& out, std::string* error) {
    if (!isOpen_) {
        setError(error, "LasBinaryPointReader: reader is not open.");
        return false;
    }
    if (nextPointIndex_ >= pointCount_) {
        clearError(error);
        return false;
    }
    const std::size_t length = pointRecordLength_;
    const std::uint64_t at = nextOffset_;
    if (at < windowStart_ || at + length > windowEnd_) [[unlikely]] {
        if (!fillWindow(at, at == windowEnd_)) {
            setError(error, "LasBinaryPointReader: failed to read point record.");
            return false;
        }
    }
    const std::uint8_t* src = window_.data() + (at - windowStart_);
    copyRecord(record_.data(), src, length);

    out = CloudPoint{};
    out.x = static_cast<double>(loadI32(src)) * scale_[0] + offset_[0];
    out.y = static_cast<double>(loadI32(src + 4)) * scale_[1] + offset_[1];
    out.z = static_cast<double>(loadI32(src + 8)) * scale_[2] + offset_[2];
    if (hasIntensity_) {
        out.hasIntensity = true;
        out.intensity = static_cast<double>(loadU16(src + 12));
    }
    if (colourOffset_ >= 0 && static_cast<std::size_t>(colourOffset_) + 6 <= length) {
        const std::uint8_t* c = src + colourOffset_;
        out.red = colourTo8Bit(loadU16(c));
        out.green = colourTo8Bit(loadU16(c + 2));
        out.blue = colourTo8Bit(loadU16(c + 4));
        out.hasRGB = true;
    }
    ++nextPointIndex_;
    nextOffset_ = at + length;
    clearError(error);
    return true;
}
