#include "reader_cv.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "reader_error.h"

namespace e57 {

namespace {

constexpr std::size_t kPacketCacheSize = 32;
constexpr std::size_t kMaxBytestreams = (65536 - 6) / 2;
constexpr std::size_t kPacketSlack = 16;  // readable zero bytes after every packet for wide loads
constexpr std::size_t kRecordsPerSlice = 4096;

std::uint16_t u16At(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint64_t u64At(const std::uint8_t* p) { return load64le(p); }

void collectLeaves(const XmlNode& n, const std::string& path, std::vector<PrototypeLeaf>& out) {
    switch (n.type) {
        case XmlNodeType::Structure:
        case XmlNodeType::Vector: {
            for (std::size_t i = 0; i < n.children.size(); ++i) {
                const XmlNode& c = n.children[i];
                const std::string name = n.type == XmlNodeType::Vector ? std::to_string(i) : c.name;
                collectLeaves(c, path.empty() ? name : path + "/" + name, out);
                if (out.size() > kMaxBytestreams)
                    E57_THROW(ErrorBadPrototype, "prototype has more than " +
                                                     std::to_string(kMaxBytestreams) +
                                                     " fields, more than a data packet can carry");
            }
            return;
        }
        case XmlNodeType::Integer:
        case XmlNodeType::ScaledInteger:
        case XmlNodeType::Float:
        case XmlNodeType::String: {
            PrototypeLeaf leaf;
            leaf.path = path;
            leaf.type = n.type;
            leaf.minimum = n.intMinimum;
            leaf.maximum = n.intMaximum;
            leaf.scale = n.scale;
            leaf.offset = n.offset;
            leaf.singlePrecision = n.singlePrecision;
            if (n.type == XmlNodeType::Float)
                leaf.bits = n.singlePrecision ? 32 : 64;
            else if (n.type != XmlNodeType::String)
                leaf.bits = bitWidthFor(n.intMinimum, n.intMaximum);
            out.push_back(std::move(leaf));
            return;
        }
        default:
            E57_THROW(ErrorBadPrototype, std::string(xmlNodeTypeName(n.type)) + " field '" + path +
                                             "' in a prototype");
    }
}

template <class Out>
constexpr double lowestOf() {
    return static_cast<double>(std::numeric_limits<Out>::lowest());
}
template <class Out>
constexpr double highestOf() {
    return static_cast<double>(std::numeric_limits<Out>::max());
}

[[noreturn]] void notRepresentable(const std::string& path, double v, const char* typeName) {
    E57_THROW(ErrorValueNotRepresentable, "value " + std::to_string(v) + " of field '" + path +
                                              "' does not fit the " + typeName + " buffer");
}

template <class Out>
const char* outName() {
    if constexpr (std::is_same_v<Out, double>)
        return "double";
    else if constexpr (std::is_same_v<Out, float>)
        return "float";
    else if constexpr (std::is_same_v<Out, std::uint16_t>)
        return "uint16";
    else if constexpr (std::is_same_v<Out, std::int8_t>)
        return "int8";
    else
        return "int32";
}

}  // namespace

std::vector<PrototypeLeaf> prototypeLeaves(const XmlNode& prototype) {
    std::vector<PrototypeLeaf> out;
    collectLeaves(prototype, std::string(), out);
    return out;
}

CvSection readCvSection(PagedReader& pages, std::uint64_t fileOffset) {
    const std::string where = " fileOffset=" + std::to_string(fileOffset);
    if (fileOffset >= pages.physicalSize())
        E57_THROW(ErrorBadCVHeader, "section offset beyond the file size " +
                                        std::to_string(pages.physicalSize()) + where);
    CvSection s;
    s.start = physicalToLogical(fileOffset);
    if (s.start + 32 > pages.logicalSize())
        E57_THROW(ErrorBadCVHeader, "section header leaves the file" + where);
    std::uint8_t h[32];
    pages.readLogical(s.start, h, sizeof h);
    if (h[0] != 1)
        E57_THROW(ErrorBadCVHeader, "sectionId=" + std::to_string(h[0]) + " (expected 1)" + where);
    for (int i = 1; i < 8; ++i)
        if (h[i] != 0) E57_THROW(ErrorBadCVHeader, "reserved header bytes are not zero" + where);
    const std::uint64_t length = u64At(h + 8);
    const std::uint64_t dataPhysical = u64At(h + 16);
    const std::uint64_t indexPhysical = u64At(h + 24);
    if (length < 32 || length % 4 != 0 || length > pages.logicalSize() - s.start)
        E57_THROW(ErrorBadCVHeader,
                  "sectionLogicalLength=" + std::to_string(length) + " is invalid" + where);
    if (dataPhysical >= pages.physicalSize() || indexPhysical >= pages.physicalSize())
        E57_THROW(ErrorBadCVHeader, "dataPhysicalOffset=" + std::to_string(dataPhysical) +
                                        " or indexPhysicalOffset=" + std::to_string(indexPhysical) +
                                        " beyond the file size" + where);
    s.end = s.start + length;
    s.firstPacket = physicalToLogical(dataPhysical);
    if (s.firstPacket < s.start + 32 || s.firstPacket > s.end)
        E57_THROW(ErrorBadCVHeader, "dataPhysicalOffset=" + std::to_string(dataPhysical) +
                                        " lies outside the section" + where);
    return s;
}

struct CompressedVectorReaderImpl::Packet {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint8_t type = 0;
    std::unique_ptr<std::uint8_t[]> storage;
    const std::uint8_t* bytes = nullptr;
    std::vector<std::uint32_t> bufferStart;
    std::vector<std::uint16_t> bufferLength;
};

struct CompressedVectorReaderImpl::Channel {
    std::size_t leaf = 0;
    DestKind kind = DestKind::Float64;
    void* data = nullptr;
    unsigned bits = 0;
    bool checked = false;  // values may not fit the destination type
    std::shared_ptr<const Packet> packet;
    const std::uint8_t* buf = nullptr;
    std::uint64_t bufBits = 0;
    std::uint64_t bitPos = 0;
    std::uint64_t nextPacket = 0;
    std::uint64_t decoded = 0;  // records of this field decoded so far
    std::uint64_t decodedBefore = 0;
    StringStreamDecoder strings;
};

CompressedVectorReaderImpl::CompressedVectorReaderImpl(std::shared_ptr<ReaderFile> file,
                                                       const XmlNode& cv,
                                                       std::vector<PointDest> dests,
                                                       std::size_t capacity)
    : file_(std::move(file)), recordCount_(cv.recordCount), capacity_(capacity) {
    if (!file_ || !file_->pages) E57_THROW(ErrorImageFileNotOpen, "the E57 file is closed");
    if (cv.type != XmlNodeType::CompressedVector || cv.prototype() == nullptr)
        E57_THROW(ErrorBadPrototype,
                  "node '" + cv.name + "' is not a CompressedVector with a prototype");
    if (capacity_ == 0 || capacity_ > UINT_MAX)
        E57_THROW(ErrorBadAPIArgument,
                  "buffer capacity " + std::to_string(capacity_) + " is out of range");
    if (file_->pointReaderOpen)
        E57_THROW(ErrorTooManyReaders,
                  "another point reader of this file is still open; close it first");
    leaves_ = prototypeLeaves(*cv.prototype());

    for (const PointDest& d : dests) {
        if (d.data == nullptr)
            E57_THROW(ErrorBadAPIArgument, "null buffer for field '" + d.path + "'");
        const auto it = std::find_if(leaves_.begin(), leaves_.end(),
                                     [&](const PrototypeLeaf& l) { return l.path == d.path; });
        if (it == leaves_.end())
            E57_THROW(ErrorPathUndefined, "the points have no field '" + d.path + "'");
        const std::size_t leaf = static_cast<std::size_t>(it - leaves_.begin());
        for (const Channel& c : channels_)
            if (c.leaf == leaf)
                E57_THROW(ErrorBufferDuplicatePathName, "two buffers for field '" + d.path + "'");
        const bool isString = it->type == XmlNodeType::String;
        if (isString && d.kind != DestKind::String)
            E57_THROW(ErrorExpectingNumeric,
                      "field '" + d.path + "' holds strings, the buffer is numeric");
        if (!isString && d.kind == DestKind::String)
            E57_THROW(ErrorExpectingUString,
                      "field '" + d.path + "' is numeric, the buffer holds strings");
        Channel ch;
        ch.leaf = leaf;
        ch.kind = d.kind;
        ch.data = d.data;
        ch.bits = it->bits;
        // Integer fields whose declared bounds fit the destination need no per-value check.
        double lo = 0, hi = 0;
        switch (d.kind) {
            case DestKind::UInt16:
                lo = 0;
                hi = 65535;
                break;
            case DestKind::Int8:
                lo = -128;
                hi = 127;
                break;
            case DestKind::Int32:
                lo = INT32_MIN;
                hi = INT32_MAX;
                break;
            case DestKind::Float32:
                lo = -FLT_MAX;
                hi = FLT_MAX;
                break;
            default:
                lo = -DBL_MAX;
                hi = DBL_MAX;
                break;
        }
        if (it->type == XmlNodeType::Integer)
            ch.checked =
                !(static_cast<double>(it->minimum) >= lo && static_cast<double>(it->maximum) <= hi);
        else if (it->type == XmlNodeType::Float && it->singlePrecision)
            ch.checked = d.kind != DestKind::Float64 && d.kind != DestKind::Float32;
        else
            ch.checked = d.kind != DestKind::Float64;
        channels_.push_back(std::move(ch));
    }

    if (recordCount_ != 0 || cv.fileOffset != 0) {
        section_ = readCvSection(*file_->pages, cv.fileOffset);
        std::uint64_t bitsPerRecord = 0;
        for (const PrototypeLeaf& l : leaves_)
            bitsPerRecord += l.type == XmlNodeType::String ? 8 : l.bits;
        if (bitsPerRecord > 0) {
            const std::uint64_t room = section_.end - section_.firstPacket;
            if (recordCount_ > room / bitsPerRecord * 8 + 8)
                E57_THROW(ErrorBadCVHeader,
                          "recordCount=" + std::to_string(recordCount_) +
                              " cannot fit in a section of " +
                              std::to_string(section_.end - section_.start) +
                              " bytes fileOffset=" + std::to_string(cv.fileOffset));
        }
    }
    for (Channel& ch : channels_) ch.nextPacket = section_.firstPacket;
    file_->pointReaderOpen = true;
    open_ = true;
}

CompressedVectorReaderImpl::~CompressedVectorReaderImpl() { close(); }

void CompressedVectorReaderImpl::close() {
    if (!open_) return;
    open_ = false;
    if (file_) file_->pointReaderOpen = false;
    cache_.clear();
    for (Channel& ch : channels_) {
        ch.packet.reset();
        ch.buf = nullptr;
    }
}

std::shared_ptr<const CompressedVectorReaderImpl::Packet> CompressedVectorReaderImpl::packetAt(
    std::uint64_t logical) {
    for (const auto& p : cache_)
        if (p->offset == logical) return p;
    PagedReader& pages = *file_->pages;
    const std::string where = " at logical offset " + std::to_string(logical);
    if (logical + 4 > section_.end)
        E57_THROW(ErrorBadCVPacket, "packet header runs past the section end" + where);
    std::uint8_t prefix[4];
    pages.readLogical(logical, prefix, 4);
    auto p = std::make_shared<Packet>();
    p->offset = logical;
    p->type = prefix[0];
    p->length = static_cast<std::uint64_t>(u16At(prefix + 2)) + 1;
    if (p->length % 4 != 0)
        E57_THROW(ErrorBadCVPacket,
                  "packet length " + std::to_string(p->length) + " is not a multiple of 4" + where);
    if (logical + p->length > section_.end)
        E57_THROW(ErrorBadCVPacket, "packet of " + std::to_string(p->length) +
                                        " bytes runs past the section end" + where);
    if (p->type == 0) {
        if (p->length < 16)
            E57_THROW(ErrorBadCVPacket, "index packet shorter than its header" + where);
    } else if (p->type == 1) {
        if (p->length < 6)
            E57_THROW(ErrorBadCVPacket, "data packet shorter than its header" + where);
        const std::size_t len = static_cast<std::size_t>(p->length);
        p->storage.reset(new std::uint8_t[len + kPacketSlack]);  // no zero fill: it is overwritten
        std::memset(p->storage.get() + len, 0, kPacketSlack);
        pages.readLogical(logical, p->storage.get(), len);
        p->bytes = p->storage.get();
        const std::size_t count = u16At(p->bytes + 4);
        if (count != 0) {
            if (count != leaves_.size())
                E57_THROW(ErrorBadCVPacket, "data packet has " + std::to_string(count) +
                                                " bytestreams, the prototype has " +
                                                std::to_string(leaves_.size()) + " fields" + where);
            std::size_t pos = 6 + 2 * count;
            if (pos > p->length)
                E57_THROW(ErrorBadCVPacket, "bytestream length table overruns the packet" + where);
            p->bufferStart.resize(count);
            p->bufferLength.resize(count);
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint16_t len = u16At(p->bytes + 6 + 2 * i);
                p->bufferStart[i] = static_cast<std::uint32_t>(pos);
                p->bufferLength[i] = len;
                pos += len;
            }
            if (pos > p->length)
                E57_THROW(ErrorBadCVPacket, "bytestream buffers overrun the packet" + where);
        }
    } else if (p->type != 2) {
        E57_THROW(ErrorBadCVPacket, "unknown packet type " + std::to_string(p->type) + where);
    }
    cache_.push_back(p);
    if (cache_.size() > kPacketCacheSize) cache_.erase(cache_.begin());
    return p;
}

void CompressedVectorReaderImpl::nextBuffer(Channel& ch) {
    for (;;) {
        if (ch.nextPacket >= section_.end)
            E57_THROW(ErrorBadCVPacket, "field '" + leaves_[ch.leaf].path + "' (bytestream " +
                                            std::to_string(ch.leaf) + ") has no data left after " +
                                            std::to_string(ch.decoded) + " of " +
                                            std::to_string(recordCount_) + " records");
        std::shared_ptr<const Packet> p = packetAt(ch.nextPacket);
        ch.nextPacket = p->offset + p->length;
        if (p->type != 1 || p->bufferLength.empty()) continue;
        const std::uint16_t len = p->bufferLength[ch.leaf];
        if (len == 0) continue;
        ch.buf = p->bytes + p->bufferStart[ch.leaf];
        ch.bufBits = std::uint64_t(len) * 8;
        ch.bitPos = 0;
        ch.packet = std::move(p);
        return;
    }
}

std::uint64_t CompressedVectorReaderImpl::straddlingValue(Channel& ch) {
    std::uint64_t v = 0;
    unsigned have = 0;
    while (have < ch.bits) {
        if (ch.bitPos >= ch.bufBits) nextBuffer(ch);
        const std::uint64_t avail = ch.bufBits - ch.bitPos;
        const unsigned take = static_cast<unsigned>(std::min<std::uint64_t>(avail, ch.bits - have));
        v |= loadBitsExact(ch.buf, ch.bitPos, take) << have;
        have += take;
        ch.bitPos += take;
    }
    return v;
}

// Conv takes the raw bits of one record (integers) or the float value (floats).
template <bool Floats, class Out, class Conv>
void CompressedVectorReaderImpl::decodeFixed(Channel& ch, std::size_t n, Out* out, Conv conv) {
    const PrototypeLeaf& leaf = leaves_[ch.leaf];
    const unsigned b = ch.bits;
    auto fromBits = [&](std::uint64_t bitsValue) -> Out {
        if constexpr (!Floats) {
            return conv(bitsValue);
        } else if (leaf.singlePrecision) {
            return conv(
                static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(bitsValue))));
        } else {
            return conv(std::bit_cast<double>(bitsValue));
        }
    };
    if (b == 0) {
        for (std::size_t i = 0; i < n; ++i) out[i] = fromBits(0);
        ch.decoded += n;
        return;
    }
    std::size_t done = 0;
    while (done < n) {
        if (ch.bitPos >= ch.bufBits) nextBuffer(ch);
        const std::uint64_t whole = (ch.bufBits - ch.bitPos) / b;
        if (whole == 0) {
            out[done++] = fromBits(straddlingValue(ch));
            ++ch.decoded;
            continue;
        }
        const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(whole, n - done));
        if constexpr (!Floats) {
            unpackBits(ch.buf, ch.bitPos, b, k, out + done, conv);
        } else {
            const std::uint8_t* p = ch.buf + (ch.bitPos >> 3);
            if (leaf.singlePrecision)
                unpackFloats<float>(p, k, out + done,
                                    [&](float v) { return conv(static_cast<double>(v)); });
            else
                unpackFloats<double>(p, k, out + done, conv);
        }
        ch.bitPos += std::uint64_t(k) * b;
        done += k;
        ch.decoded += k;
    }
}

template <class Out>
void CompressedVectorReaderImpl::decodeNumeric(Channel& ch, std::size_t n, Out* out) {
    const PrototypeLeaf& leaf = leaves_[ch.leaf];
    const std::uint64_t minU = static_cast<std::uint64_t>(leaf.minimum);
    constexpr bool outIsFloating = std::is_floating_point_v<Out>;
    const std::string& path = leaf.path;

    // Values outside the destination's range are refused rather than wrapped.
    auto fromDouble = [&](double v) -> Out {
        if constexpr (outIsFloating) {
            if constexpr (std::is_same_v<Out, float>) {
                if (std::fabs(v) > FLT_MAX && std::isfinite(v))
                    E57_THROW(ErrorReal64TooLarge, "value " + std::to_string(v) + " of field '" +
                                                       path +
                                                       "' is too large for the float buffer");
            }
            return static_cast<Out>(v);
        } else {
            if (!(v >= lowestOf<Out>() && v <= highestOf<Out>()))
                notRepresentable(path, v, outName<Out>());
            return static_cast<Out>(v);
        }
    };

    switch (leaf.type) {
        case XmlNodeType::Integer:
            if (!ch.checked) {
                decodeFixed<false>(ch, n, out, [minU](std::uint64_t u) -> Out {
                    return static_cast<Out>(static_cast<std::int64_t>(minU + u));
                });
            } else {
                decodeFixed<false>(ch, n, out, [&](std::uint64_t u) -> Out {
                    const std::int64_t raw = static_cast<std::int64_t>(minU + u);
                    if constexpr (!outIsFloating) {
                        if (raw < static_cast<std::int64_t>(std::numeric_limits<Out>::lowest()) ||
                            raw > static_cast<std::int64_t>(std::numeric_limits<Out>::max()))
                            notRepresentable(path, static_cast<double>(raw), outName<Out>());
                    }
                    return static_cast<Out>(raw);
                });
            }
            return;
        case XmlNodeType::ScaledInteger: {
            const double scale = leaf.scale;
            const double offset = leaf.offset;
            if (!ch.checked) {
                decodeFixed<false>(ch, n, out, [=](std::uint64_t u) -> Out {
                    return static_cast<Out>(
                        static_cast<double>(static_cast<std::int64_t>(minU + u)) * scale + offset);
                });
            } else {
                decodeFixed<false>(ch, n, out, [&](std::uint64_t u) -> Out {
                    return fromDouble(
                        static_cast<double>(static_cast<std::int64_t>(minU + u)) * scale + offset);
                });
            }
            return;
        }
        case XmlNodeType::Float:
            if constexpr (std::is_same_v<Out, double>) {
                if (!leaf.singlePrecision) {  // copied as they are
                    decodeFixed<true>(ch, n, out, SameFloat{});
                    return;
                }
            }
            if (!ch.checked)
                decodeFixed<true>(ch, n, out, [](double v) -> Out { return static_cast<Out>(v); });
            else
                decodeFixed<true>(ch, n, out, [&](double v) -> Out { return fromDouble(v); });
            return;
        default: E57_THROW(ErrorInternal, "string field '" + path + "' bound to a numeric buffer");
    }
}

// Appends strings until the caller's vector holds `n` (it was cleared when the read began).
void CompressedVectorReaderImpl::decodeStrings(Channel& ch, std::size_t n) {
    auto& out = *static_cast<std::vector<std::string>*>(ch.data);
    while (out.size() < n) {
        ch.decoded = ch.decodedBefore + out.size();
        if (ch.bitPos >= ch.bufBits) nextBuffer(ch);
        const std::size_t byte = static_cast<std::size_t>(ch.bitPos >> 3);
        const std::size_t avail = static_cast<std::size_t>(ch.bufBits >> 3) - byte;
        std::size_t used = 0;
        try {
            used = ch.strings.feed(ch.buf + byte, avail, n - out.size(), out);
        } catch (const std::length_error& e) {
            E57_THROW(ErrorBadCVPacket, std::string(e.what()) + " '" + leaves_[ch.leaf].path + "'");
        }
        ch.bitPos += std::uint64_t(used) * 8;
    }
}

void CompressedVectorReaderImpl::decode(Channel& ch, std::size_t first, std::size_t n) {
    switch (ch.kind) {
        case DestKind::Float64: decodeNumeric(ch, n, static_cast<double*>(ch.data) + first); break;
        case DestKind::Float32: decodeNumeric(ch, n, static_cast<float*>(ch.data) + first); break;
        case DestKind::UInt16:
            decodeNumeric(ch, n, static_cast<std::uint16_t*>(ch.data) + first);
            break;
        case DestKind::Int8:
            decodeNumeric(ch, n, static_cast<std::int8_t*>(ch.data) + first);
            break;
        case DestKind::Int32:
            decodeNumeric(ch, n, static_cast<std::int32_t*>(ch.data) + first);
            break;
        case DestKind::String:
            decodeStrings(ch, first + n);
            ch.decoded = ch.decodedBefore + first + n;
            break;
    }
}

unsigned CompressedVectorReaderImpl::read() {
    if (!open_) E57_THROW(ErrorReaderNotOpen, "the point reader is closed");
    if (!file_->pages)
        E57_THROW(ErrorImageFileNotOpen, "the E57 file was closed while its point reader was open");
    if (failed_)
        E57_THROW(ErrorBadCVPacket,
                  "an earlier read of these points failed; the data cannot be continued");
    const std::uint64_t n64 = std::min<std::uint64_t>(capacity_, recordCount_ - delivered_);
    if (n64 == 0) return 0;
    const std::size_t n = static_cast<std::size_t>(n64);
    try {
        for (Channel& ch : channels_) {
            if (ch.kind != DestKind::String) continue;
            static_cast<std::vector<std::string>*>(ch.data)->clear();
            ch.decodedBefore = ch.decoded;
        }
        // All fields advance together a slice at a time, so each packet is fetched once and is
        // still in cache when the next field reads its buffer.
        for (std::size_t first = 0; first < n; first += kRecordsPerSlice) {
            const std::size_t k = std::min(kRecordsPerSlice, n - first);
            for (Channel& ch : channels_) decode(ch, first, k);
        }
    } catch (...) {
        failed_ = true;
        throw;
    }
    delivered_ += n;
    return static_cast<unsigned>(n);
}

CompressedVectorReader::CompressedVectorReader(std::shared_ptr<CompressedVectorReaderImpl> impl)
    : impl_(std::move(impl)) {}

unsigned CompressedVectorReader::read() {
    if (!impl_) E57_THROW(ErrorReaderNotOpen, "the point reader is closed");
    return impl_->read();
}

void CompressedVectorReader::close() {
    if (impl_) impl_->close();
}

bool CompressedVectorReader::isOpen() { return impl_ && impl_->isOpen(); }

void CompressedVectorReader::seek(int64_t /*recordNumber*/) {
    E57_THROW(ErrorNotImplemented, "CompressedVectorReader::seek is not implemented");
}

}  // namespace e57
