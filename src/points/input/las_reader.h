#pragma once

#include "platform/file_io.h"
#include "points/input/cloud_point.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The smallest record of a LAS point format 0 to 10; 0 for any other format.
std::uint16_t lasMinimumRecordLength(std::uint8_t pointFormat);

// "LAS file is truncated: the header says N points, the file holds M."
std::string lasTruncationText(std::uint64_t headerCount, std::uint64_t records);

// The smallest public header of a LAS version: 227 bytes up to 1.3 (early 1.3 writers left out
// the 8-byte waveform field), 375 from 1.4.
std::size_t lasMinimumHeaderSize(std::uint8_t versionMajor, std::uint8_t versionMinor);

// Colour offset within a point record for a LAS point format; -1 when it has no colour.
int lasRgbByteOffset(std::uint8_t pointFormat);

// Little-endian fields of a raw point record.
namespace lasrecord {

inline std::uint16_t loadU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int32_t loadI32(const std::uint8_t* p) {
    const std::uint32_t v = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) |
                            (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
    return static_cast<std::int32_t>(v);
}
// Coordinate `axis` (0 x, 1 y, 2 z) of a record: the stored integer times the scale plus the
// offset. readNext computes its points with this, so code that decides on raw records gets
// the very same doubles.
inline double coordinate(const std::uint8_t* record, std::size_t axis,
                         const std::array<double, 3>& scale, const std::array<double, 3>& offset) {
    return static_cast<double>(loadI32(record + 4 * axis)) * scale[axis] + offset[axis];
}

}  // namespace lasrecord

// LAS reader without a library: validates the public header, then yields records as
// CloudPoint values. Not an IPointReader; open/readNext/close have the same form.
//
// The next record read is always record nextPointIndex(), at
// offsetToPointData() + nextPointIndex() * pointRecordLength(). Sequential reads are served
// from a large buffer; seekToRecord() only moves that index, so seeking is cheap and a
// caller that samples every n-th record reads just those records.
class LasBinaryPointReader {
public:
    LasBinaryPointReader();
    ~LasBinaryPointReader();
    LasBinaryPointReader(const LasBinaryPointReader&) = delete;
    LasBinaryPointReader& operator=(const LasBinaryPointReader&) = delete;

    // On success the next record is record 0. Every failure closes the reader. A file whose
    // header promises more records than it holds is refused unless acceptTruncated, which
    // reads the whole records that are there (truncated() then tells). Compressed (LAZ) records
    // are refused either way.
    bool open(const std::string& path, std::string* error, bool acceptTruncated = false);
    // True with a point; false with an empty error at the end of the records; false with a
    // message on a read failure (the reader stays open).
    bool readNext(CloudPoint& out, std::string* error) {
        // Unsigned: an offset before the window wraps to a value past its end.
        const std::uint64_t inWindow = nextOffset_ - windowStart_;
        if (inWindow < windowEnd_ - windowStart_ && nextPointIndex_ < pointCount_) [[likely]] {
            const std::uint8_t* src = window_.data() + inWindow;
            decode(src, out);
            last_ = src;
            ++nextPointIndex_;
            nextOffset_ += pointRecordLength_;
            if (error) error->clear();
            return true;
        }
        return readNextFromFile(out, error);
    }
    // The next run of whole records straight from the read-ahead window, for callers that
    // decode raw records themselves: true with `count` >= 1 records at `records` (valid until
    // the next call on the reader), the next index moved past them and record() the run's
    // last; otherwise false as readNext would be, with the same errors.
    bool readRecords(const std::uint8_t*& records, std::size_t& count, std::string* error);
    // Closes the file and resets every field to its initial value.
    void close();

    // Makes record `index` the next one read. False only when the reader is not open;
    // an index at or past pointCount() makes the next readNext report the end of the data.
    bool seekToRecord(std::uint64_t index);

    const std::string& path() const { return path_; }
    std::int64_t fileSize() const { return fileSize_; }
    std::uint8_t versionMajor() const { return versionMajor_; }
    std::uint8_t versionMinor() const { return versionMinor_; }
    std::uint16_t headerSize() const { return headerSize_; }
    std::uint32_t offsetToPointData() const { return offsetToPointData_; }
    std::uint8_t pointFormatByte() const { return pointFormatByte_; }  // as stored
    std::uint8_t pointFormat() const { return pointFormat_; }          // stored byte AND 63
    std::uint16_t pointRecordLength() const { return pointRecordLength_; }
    const std::array<double, 3>& scale() const { return scale_; }
    const std::array<double, 3>& offset() const { return offset_; }
    // The header's bounds as stored: max x, min x, max y, min y, max z, min z; all zeros when
    // the file is too short to hold them.
    const std::array<double, 6>& headerBounds() const { return headerBounds_; }
    std::uint64_t pointCount() const { return pointCount_; }  // records that will be read
    std::uint64_t headerPointCount() const { return headerPointCount_; }  // promised
    bool truncated() const { return headerPointCount_ > pointCount_; }
    std::uint64_t nextPointIndex() const { return nextPointIndex_; }
    bool hasRGB() const { return hasRGB_; }
    bool hasIntensity() const { return hasIntensity_; }
    bool isOpen() const { return isOpen_; }
    // Raw bytes of the last record read (pointRecordLength() bytes while open, zeros before
    // the first read); valid until the next read or close.
    std::span<const std::uint8_t> record() const {
        return {last_, last_ ? std::size_t{pointRecordLength_} : std::size_t{0}};
    }
    // File offset of the next record, for progress.
    std::uint64_t readPosition() const { return nextOffset_; }

private:
    bool readAt(std::uint64_t offset, void* target, std::size_t bytes);
    bool fail(std::string* error, const std::string& message);
    bool fillWindow(std::uint64_t recordOffset, bool sequential);
    const std::uint8_t* nextRecordInWindow(std::string* error);
    bool readNextFromFile(CloudPoint& out, std::string* error);
    void decode(const std::uint8_t* src, CloudPoint& out) const {
        out.x = lasrecord::coordinate(src, 0, scale_, offset_);
        out.y = lasrecord::coordinate(src, 1, scale_, offset_);
        out.z = lasrecord::coordinate(src, 2, scale_, offset_);
        out.hasIntensity = hasIntensity_;
        out.intensity = hasIntensity_ ? static_cast<double>(lasrecord::loadU16(src + 12)) : 0.0;
        if (colourAt_ >= 0) {
            const std::uint8_t* c = src + colourAt_;
            out.red = colourTo8Bit(lasrecord::loadU16(c));
            out.green = colourTo8Bit(lasrecord::loadU16(c + 2));
            out.blue = colourTo8Bit(lasrecord::loadU16(c + 4));
            out.hasRGB = true;
        } else {
            out.red = 0;
            out.green = 0;
            out.blue = 0;
            out.hasRGB = false;
        }
    }
    // 16-bit colour to 0..255: values below 256 are taken as 8-bit already.
    static std::uint16_t colourTo8Bit(std::uint16_t v) {
        return v < 256 ? v : static_cast<std::uint16_t>(v >> 8);
    }

    std::string path_;
    platform::File file_;
    std::int64_t fileSize_ = 0;
    std::uint8_t versionMajor_ = 0;
    std::uint8_t versionMinor_ = 0;
    std::uint16_t headerSize_ = 0;
    std::uint32_t offsetToPointData_ = 0;
    std::uint8_t pointFormatByte_ = 0;
    std::uint8_t pointFormat_ = 0;
    std::uint16_t pointRecordLength_ = 0;
    std::array<double, 3> scale_{1.0, 1.0, 1.0};
    std::array<double, 3> offset_{0.0, 0.0, 0.0};
    std::array<double, 6> headerBounds_{};
    std::uint64_t pointCount_ = 0;
    std::uint64_t headerPointCount_ = 0;
    std::uint64_t nextPointIndex_ = 0;
    bool hasRGB_ = false;
    bool hasIntensity_ = false;
    bool isOpen_ = false;
    // The last record read: in the window, or in record_ (zeros after open, or a copy kept
    // when the window is refilled); null while closed.
    const std::uint8_t* last_ = nullptr;
    std::vector<std::uint8_t> record_;

    // Read-ahead window: file bytes [windowStart_, windowEnd_). nextOffset_ is always the file
    // offset of record nextPointIndex_.
    std::vector<std::uint8_t> window_;
    std::uint64_t windowStart_ = 0;
    std::uint64_t windowEnd_ = 0;
    std::uint64_t nextOffset_ = 0;
    int colourAt_ = -1;  // colour offset in the record; -1 without colour or room for it
};
