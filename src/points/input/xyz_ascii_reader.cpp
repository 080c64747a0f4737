#include "points/input/xyz_ascii_reader.h"

#include "points/input/text_utils.h"
#include "points/input/xyz_byte_order_mark.h"
#include "points/input/xyz_line_end.h"
#include "points/input/xyz_long_line.h"
#include "points/input/xyz_line_grammar.h"

#include <bit>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::size_t kMinBlockBytes = 16;

// Consumes newlines in [p, e) until `remaining` of them were found. Returns the position just
// past the newline that brought `remaining` to 0, or e when fewer were found (`remaining` is
// reduced by the number found).
const char* consumeNewlines(const char* p, const char* e, std::uint64_t& remaining) {
#if defined(__SSE2__)
    const __m128i nl = _mm_set1_epi8('\n');
    // Whole 1 KiB stretches are counted in bulk: per-lane byte counters (at most 64 per lane)
    // summed by psadbw.
    constexpr std::ptrdiff_t kStretch = 1024;
    while (remaining > 0 && e - p >= kStretch) {
        __m128i lanes = _mm_setzero_si128();
        for (int i = 0; i < kStretch / 16; ++i)
            lanes = _mm_sub_epi8(
                lanes,
                _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)), nl));
        const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
        const auto found = static_cast<std::uint64_t>(_mm_cvtsi128_si32(sums)) +
                           static_cast<std::uint64_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
        if (found >= remaining) break;  // the target lies in this stretch
        remaining -= found;
        p += kStretch;
    }
    while (remaining > 0 && e - p >= 64) {
        const auto m0 = static_cast<std::uint32_t>(_mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), nl)));
        const auto m1 = static_cast<std::uint32_t>(_mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), nl)));
        const auto m2 = static_cast<std::uint32_t>(_mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)), nl)));
        const auto m3 = static_cast<std::uint32_t>(_mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), nl)));
        std::uint64_t mask = std::uint64_t{m0} | (std::uint64_t{m1} << 16) |
                             (std::uint64_t{m2} << 32) | (std::uint64_t{m3} << 48);
        // Drop the newlines before the target one by one; at most `remaining` steps.
        while (mask != 0 && remaining > 1) {
            mask &= mask - 1;
            --remaining;
        }
        if (mask != 0) {
            remaining = 0;
            return p + std::countr_zero(mask) + 1;
        }
        p += 64;
    }
#endif
    while (remaining > 0 && p < e) {
        const void* hit = std::memchr(p, '\n', static_cast<std::size_t>(e - p));
        if (!hit) return e;
        p = static_cast<const char*>(hit) + 1;
        --remaining;
    }
    return remaining > 0 ? e : p;
}

}  // namespace

XyzAsciiPointReader::XyzAsciiPointReader(double coordScaleToMeters, std::size_t blockBytes)
    : coordScaleToMeters_(
          std::isfinite(coordScaleToMeters) && coordScaleToMeters > 0.0 ? coordScaleToMeters : 1.0),
      blockBytes_(blockBytes < kMinBlockBytes ? kMinBlockBytes : blockBytes) {
    static_assert(kBlockPadBefore >= kXyzLinePadBefore && kBlockPadAfter >= kXyzLinePadAfter);
}

XyzAsciiPointReader::~XyzAsciiPointReader() { close(); }

void XyzAsciiPointReader::resetBuffer() {
    pos_ = 0;
    end_ = 0;
    base_ = 0;
    fileEnd_ = false;
    readError_ = false;
    atFileStart_ = true;
    std::string().swap(longLine_);
}

bool XyzAsciiPointReader::open(const std::string& path, std::string* error) {
    close();
    path_ = path;
    summary_ = PointReaderSummary{};
    lineNumber_ = 0;
    badLines_ = 0;
    acceptedPoints_ = 0;
    eof_ = false;
    resetBuffer();

    if (!file_.openRead(path)) {
        setError(error, "Could not open XYZ ASCII file: " + path + " (" +
                            platform::systemErrorText(file_.lastError()) + ")");
        return false;
    }
    // A device or FIFO would be read for ever.
    if (!file_.isRegular()) {
        file_.close();
        setError(error, "XYZ ASCII input is not a regular file: " + path);
        return false;
    }
    // Zero-filled, so the parser's reads around a line never touch unset bytes.
    if (!storage_)
        storage_ = std::make_unique<char[]>(kBlockPadBefore + blockBytes_ + kBlockPadAfter);
    isOpen_ = true;
    clearError(error);
    return true;
}

void XyzAsciiPointReader::close() {
    file_.close();
    isOpen_ = false;
    storage_.reset();
    resetBuffer();
}

std::uint64_t XyzAsciiPointReader::readPosition() const { return isOpen_ ? base_ + pos_ : 0; }

bool XyzAsciiPointReader::refill() {
    if (readError_) return false;
    if (pos_ > 0) {  // keep the unfinished line, drop what was consumed
        std::memmove(block(), block() + pos_, end_ - pos_);
        base_ += pos_;
        end_ -= pos_;
        pos_ = 0;
    }
    const long long n = file_.readSome(block() + end_, blockBytes_ - end_);
    if (n < 0) {
        readError_ = true;
        return false;
    }
    if (n == 0) fileEnd_ = true;
    end_ += static_cast<std::size_t>(n);
    // Decided once the block holds enough bytes to tell, before any line is handed out.
    if (atFileStart_ && (end_ >= kUtf8ByteOrderMarkBytes || fileEnd_)) {
        atFileStart_ = false;
        if (base_ == 0 && pos_ == 0) pos_ = utf8ByteOrderMarkLength(block(), end_);
    }
    return true;
}

XyzAsciiPointReader::LineStatus XyzAsciiPointReader::nextLine(const char*& begin,
                                                              const char*& end) {
    if (readError_) return LineStatus::Error;
    for (;;) {
        const char* const data = block();
        if (const void* hit = std::memchr(data + pos_, '\n', end_ - pos_)) {
            begin = data + pos_;
            end = static_cast<const char*>(hit);
            pos_ = static_cast<std::size_t>(end - data) + 1;
            ++lineNumber_;
            lineInBlock_ = true;
            return LineStatus::Line;
        }
        if (fileEnd_) {
            if (pos_ == end_) return LineStatus::End;
            begin = data + pos_;  // last line without '\n'
            end = data + end_;
            pos_ = end_;
            ++lineNumber_;
            lineInBlock_ = true;
            return LineStatus::Line;
        }
        if (pos_ == 0 && end_ == blockBytes_) return readLongLine(begin, end);
        if (!refill()) return LineStatus::Error;
    }
}

// The unfinished line fills the whole block: gather its tokens elsewhere.
XyzAsciiPointReader::LineStatus XyzAsciiPointReader::readLongLine(const char*& begin,
                                                                  const char*& end) {
    longLine_.clear();
    XyzLongLineCollector collector{longLine_};
    for (;;) {
        const char* const data = block();
        const void* hit = std::memchr(data + pos_, '\n', end_ - pos_);
        const char* stop = hit ? static_cast<const char*>(hit) : data + end_;
        collector.append(data + pos_, stop);
        if (hit) {
            pos_ = static_cast<std::size_t>(stop - data) + 1;
            break;
        }
        pos_ = end_;
        if (fileEnd_) break;
        if (!refill()) return LineStatus::Error;
    }
    ++lineNumber_;
    if (collector.tooManyTokens) longLine_.clear();  // an empty line is rejected by the grammar
    begin = longLine_.data();
    end = begin + longLine_.size();
    lineInBlock_ = false;
    return LineStatus::Line;
}

XyzAsciiPointReader::LineStatus XyzAsciiPointReader::skipLines(std::uint64_t count) {
    if (readError_) return LineStatus::Error;
    bool partial = false;  // bytes of an unfinished line were dropped
    while (count > 0) {
        const char* const data = block();
        const std::uint64_t before = count;
        const char* after = consumeNewlines(data + pos_, data + end_, count);
        lineNumber_ += before - count;
        if (count == 0) {
            pos_ = static_cast<std::size_t>(after - data);
            break;
        }
        // Everything up to end_ was scanned: is an unfinished line left after the last newline?
        if (pos_ < end_) {
            const void* lastNewline = ::memrchr(data + pos_, '\n', end_ - pos_);
            if (lastNewline)
                partial = static_cast<const char*>(lastNewline) + 1 < data + end_;
            else
                partial = true;
        }
        pos_ = end_;
        if (fileEnd_) {
            if (partial) ++lineNumber_;  // last line without '\n'
            return LineStatus::End;
        }
        // Nothing of the unfinished line is needed: drop it all.
        base_ += end_;
        pos_ = 0;
        end_ = 0;
        if (!refill()) return LineStatus::Error;
    }
    return LineStatus::Line;
}

bool XyzAsciiPointReader::parseLine(const char* begin, const char* end, CloudPoint& fields) const {
    if (lineInBlock_) return parseXyzLineInPaddedBuffer(begin, end, fields);
    return parseXyzLine(std::string_view(begin, static_cast<std::size_t>(end - begin)), fields);
}

// `out` holds the parsed, unscaled fields of an accepted line.
inline void XyzAsciiPointReader::acceptPoint(CloudPoint& out) {
    if (coordScaleToMeters_ != 1.0) {
        out.x *= coordScaleToMeters_;
        out.y *= coordScaleToMeters_;
        out.z *= coordScaleToMeters_;
    }
    if (out.hasRGB) summary_.sawRGB = true;
    if (out.hasIntensity) summary_.sawIntensity = true;
    expandBounds(summary_, out.x, out.y, out.z);
    ++acceptedPoints_;
    summary_.acceptedPoints = acceptedPoints_;
}

bool XyzAsciiPointReader::finishRead(LineStatus status, std::string* error) {
    if (status == LineStatus::Error) {
        setError(error, "Error while reading XYZ ASCII file: " + path_);
        return false;
    }
    eof_ = true;
    summary_.acceptedPoints = acceptedPoints_;
    summary_.complete = true;
    summary_.boundsValid = summary_.hasBounds;
    clearError(error);
    return false;
}

bool XyzAsciiPointReader::readNext(CloudPoint& out, std::string* error) {
    if (!isOpen_) {
        setError(error, "XYZ ASCII reader is not open.");
        return false;
    }
    for (;;) {
        const char* b = nullptr;
        const char* e = nullptr;
        // The common case, a whole line in the block, without the general line step.
        const char* const data = block();
        if (const char* hit = findXyzLineEnd(data + pos_, data + end_)) {
            b = data + pos_;
            e = hit;
            pos_ = static_cast<std::size_t>(e - data) + 1;
            ++lineNumber_;
            lineInBlock_ = true;
        } else {
            const LineStatus status = nextLine(b, e);
            if (status != LineStatus::Line) return finishRead(status, error);
        }
        // On rejection the grammar leaves `out` reset, as a rejected line never reaches a caller.
        if (parseLine(b, e, out)) {
            acceptPoint(out);
            clearError(error);
            return true;
        }
        ++badLines_;
    }
}

bool XyzAsciiPointReader::readNextSampled(std::uint64_t lineStep, CloudPoint& out,
                                          std::string* error) {
    if (lineStep <= 1) return readNext(out, error);
    if (!isOpen_) {
        setError(error, "XYZ ASCII reader is not open.");
        return false;
    }
    for (;;) {
        // Skip to the line just before the next multiple of lineStep, unparsed.
        const std::uint64_t toSkip = lineStep - 1 - (lineNumber_ % lineStep);
        LineStatus status = toSkip > 0 ? skipLines(toSkip) : LineStatus::Line;
        const char* b = nullptr;
        const char* e = nullptr;
        if (status == LineStatus::Line) status = nextLine(b, e);
        if (status != LineStatus::Line) return finishRead(status, error);
        if (parseLine(b, e, out)) {
            acceptPoint(out);
            clearError(error);
            return true;
        }
        ++badLines_;
    }
}
