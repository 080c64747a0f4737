#pragma once

#include "platform/file_io.h"
#include "points/input/cloud_point.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Colour offset within a point record for a LAS point format; -1 when it has no colour.
int lasRgbByteOffset(std::uint8_t pointFormat);

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

    // On success the next record is record 0. Every failure closes the reader.
    bool open(const std::string& path, std::string* error);
    // True with a point; false with an empty error at the end of the records; false with a
    // message on a read failure (the reader stays open).
    bool readNext(CloudPoint& out, std::string* error);
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
    std::uint64_t pointCount() const { return pointCount_; }  // records that will be read
    std::uint64_t nextPointIndex() const { return nextPointIndex_; }
    bool hasRGB() const { return hasRGB_; }
    bool hasIntensity() const { return hasIntensity_; }
    bool isOpen() const { return isOpen_; }
    // Raw bytes of the last record read (pointRecordLength() bytes while open).
    const std::vector<std::uint8_t>& record() const { return record_; }
    // File offset of the next record, for progress.
    std::uint64_t readPosition() const { return nextOffset_; }

private:
    bool readAt(std::uint64_t offset, void* target, std::size_t bytes);
    bool fail(std::string* error, const std::string& message);
    bool fillWindow(std::uint64_t recordOffset, bool sequential);

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
    std::uint64_t pointCount_ = 0;
    std::uint64_t nextPointIndex_ = 0;
    bool hasRGB_ = false;
    bool hasIntensity_ = false;
    bool isOpen_ = false;
    std::vector<std::uint8_t> record_;

    // Read-ahead window: file bytes [windowStart_, windowEnd_). nextOffset_ is always the file
    // offset of record nextPointIndex_.
    std::vector<std::uint8_t> window_;
    std::uint64_t windowStart_ = 0;
    std::uint64_t windowEnd_ = 0;
    std::uint64_t nextOffset_ = 0;
    int colourOffset_ = -1;
};
