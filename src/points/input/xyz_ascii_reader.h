#pragma once

#include "platform/file_io.h"
#include "points/input/cloud_point.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Sequential reader of XYZ ASCII text clouds. Reads the file in large blocks and splits lines
// itself; malformed lines are counted in badLines() and skipped, never reported as errors.
class XyzAsciiPointReader : public IPointReader {
public:
    static constexpr std::size_t kDefaultBlockBytes = std::size_t{1} << 20;

    // A scale that is not finite or is <= 0 becomes 1.0. blockBytes only matters to tests
    // that exercise lines straddling block boundaries (minimum 16).
    explicit XyzAsciiPointReader(double coordScaleToMeters = 1.0,
                                 std::size_t blockBytes = kDefaultBlockBytes);
    ~XyzAsciiPointReader() override;
    XyzAsciiPointReader(const XyzAsciiPointReader&) = delete;
    XyzAsciiPointReader& operator=(const XyzAsciiPointReader&) = delete;

    bool open(const std::string& path, std::string* error) override;
    bool readNext(CloudPoint& out, std::string* error) override;
    void close() override;
    PointReaderSummary summary() const override { return summary_; }
    std::string formatName() const override { return "XYZ ASCII"; }

    // Like readNext, but parses only every lineStep-th physical line (the 250th, 500th, ...
    // for 250); the lines between are skipped unparsed and never counted as bad.
    // A lineStep of 0 counts as 1.
    bool readNextSampled(std::uint64_t lineStep, CloudPoint& out, std::string* error);

    bool isOpen() const { return isOpen_; }
    bool eof() const { return eof_; }
    const std::string& path() const { return path_; }
    double coordScaleToMeters() const { return coordScaleToMeters_; }
    // Physical lines read since open, skipped and bad ones included.
    std::uint64_t lineNumber() const { return lineNumber_; }
    // Lines that were parsed and rejected.
    std::uint64_t badLines() const { return badLines_; }
    std::uint64_t acceptedPoints() const { return acceptedPoints_; }
    // Exact count of file bytes consumed so far (just past the last line read or skipped);
    // the file size once the end was reached. 0 when no file is open.
    std::uint64_t readPosition() const;

private:
    enum class LineStatus { Line, End, Error };

    LineStatus nextLine(const char*& begin, const char*& end);
    LineStatus skipLines(std::uint64_t count);
    LineStatus readLongLine(const char*& begin, const char*& end);
    bool refill();  // false on a read error; sets fileEnd_ when read() reports the end
    bool finishRead(LineStatus status, std::string* error);
    bool parseLine(const char* begin, const char* end, CloudPoint& fields) const;
    void acceptPoint(CloudPoint& out);
    void resetBuffer();

    platform::File file_;
    std::string path_;
    double coordScaleToMeters_ = 1.0;
    bool isOpen_ = false;
    bool eof_ = false;
    std::uint64_t lineNumber_ = 0;
    std::uint64_t badLines_ = 0;
    std::uint64_t acceptedPoints_ = 0;
    PointReaderSummary summary_;

    const char* block() const { return storage_.get() + kBlockPadBefore; }
    char* block() { return storage_.get() + kBlockPadBefore; }
    static constexpr std::size_t kBlockPadBefore = 16;
    static constexpr std::size_t kBlockPadAfter = 64;

    // Block buffer, padded on both sides for the line parser: bytes [pos_, end_) of block() are
    // read but not consumed; block()[0] is file offset base_.
    std::size_t blockBytes_ = kDefaultBlockBytes;
    std::unique_ptr<char[]> storage_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::uint64_t base_ = 0;
    bool fileEnd_ = false;
    bool readError_ = false;
    bool atFileStart_ = true;  // a byte order mark at the file's start is still to be skipped
    bool lineInBlock_ = true;  // the last line handed out lies in the padded block
    std::string longLine_;     // a line longer than the block, separators collapsed
};
