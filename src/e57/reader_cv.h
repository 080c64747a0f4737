#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "E57Format.h"
#include "bitpack_decode.h"
#include "paged_reader.h"
#include "xml_tree.h"

namespace e57 {

// The open file shared by a Reader and its point readers.
struct ReaderFile {
    std::unique_ptr<PagedReader> pages;  // null once the Reader is closed
    bool pointReaderOpen = false;        // only one point read at a time
};

// One prototype leaf, numbered in depth-first document order (= its bytestream number).
struct PrototypeLeaf {
    std::string path;  // "cartesianX", "cartesianBounds/xMinimum", "list/0"
    XmlNodeType type = XmlNodeType::Integer;
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    double scale = 1.0;
    double offset = 0.0;
    bool singlePrecision = false;
    unsigned bits = 0;  // per record; 0 for String (variable)
};

// Lists the leaves of a prototype. Throws ErrorBadPrototype when it has none or too many.
std::vector<PrototypeLeaf> prototypeLeaves(const XmlNode& prototype);

enum class DestKind { Float64, Float32, UInt16, Int8, Int32, String };

// A caller's array for one field: `data` points at `capacity` elements of the kind
// (for String, a std::vector<std::string> that receives the values).
struct PointDest {
    std::string path;
    DestKind kind = DestKind::Float64;
    void* data = nullptr;
};

// Where a compressed vector's packets are, in logical offsets.
struct CvSection {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint64_t firstPacket = 0;
};

// Reads and checks the 32-byte section header of a compressed vector. Throws ErrorBadCVHeader.
CvSection readCvSection(PagedReader& pages, std::uint64_t fileOffset);

class CompressedVectorReaderImpl {
public:
    // Binds each dest to the leaf with its path; every dest must name a leaf of the prototype.
    CompressedVectorReaderImpl(std::shared_ptr<ReaderFile> file, const XmlNode& compressedVector,
                               std::vector<PointDest> dests, std::size_t capacity);
    ~CompressedVectorReaderImpl();
    CompressedVectorReaderImpl(const CompressedVectorReaderImpl&) = delete;
    CompressedVectorReaderImpl& operator=(const CompressedVectorReaderImpl&) = delete;

    unsigned read();
    void close();
    bool isOpen() const { return open_; }
    std::uint64_t recordCount() const { return recordCount_; }

    struct Packet;
    struct Channel;

private:
    std::shared_ptr<const Packet> packetAt(std::uint64_t logical);
    void nextBuffer(Channel& ch);
    void decode(Channel& ch, std::size_t first, std::size_t n);
    template <bool Floats, class Out, class Conv>
    void decodeFixed(Channel& ch, std::size_t n, Out* out, Conv conv);
    template <class Out>
    void decodeNumeric(Channel& ch, std::size_t n, Out* out);
    void decodeStrings(Channel& ch, std::size_t n);
    std::uint64_t straddlingValue(Channel& ch);

    std::shared_ptr<ReaderFile> file_;
    std::vector<PrototypeLeaf> leaves_;
    std::vector<Channel> channels_;
    std::vector<std::shared_ptr<const Packet>> cache_;  // most recent last
    CvSection section_{};
    std::uint64_t recordCount_ = 0;
    std::uint64_t delivered_ = 0;
    std::size_t capacity_ = 0;
    bool open_ = false;
    bool failed_ = false;
};

}  // namespace e57
