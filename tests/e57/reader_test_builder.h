#pragma once

// Builds small E57 files byte by byte for reader tests: page checksums, sections, packets and
// the XML are laid out here independently of the library's writer.

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "E57SimpleData.h"
#include "support/e57_page_checksum.h"

namespace e57test {

using Bytes = std::vector<std::uint8_t>;

inline void putLe(Bytes& b, std::size_t at, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void appendLe(Bytes& b, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// LSB-first bit packing of (value - minimum) in `bits` bits.
inline Bytes packBits(const std::vector<std::int64_t>& values, std::int64_t minimum,
                      unsigned bits) {
    Bytes out((values.size() * bits + 7) / 8, 0);
    std::uint64_t pos = 0;
    for (std::int64_t v : values) {
        const std::uint64_t u = static_cast<std::uint64_t>(v) - static_cast<std::uint64_t>(minimum);
        for (unsigned k = 0; k < bits; ++k, ++pos)
            if ((u >> k) & 1u) out[pos / 8] |= static_cast<std::uint8_t>(1u << (pos % 8));
    }
    return out;
}

inline Bytes packDoubles(const std::vector<double>& values) {
    Bytes out(values.size() * 8);
    for (std::size_t i = 0; i < values.size(); ++i) std::memcpy(out.data() + 8 * i, &values[i], 8);
    return out;
}

inline Bytes packFloats(const std::vector<float>& values) {
    Bytes out(values.size() * 4);
    for (std::size_t i = 0; i < values.size(); ++i) std::memcpy(out.data() + 4 * i, &values[i], 4);
    return out;
}

inline Bytes packStrings(const std::vector<std::string>& values) {
    Bytes out;
    for (const std::string& s : values) {
        if (s.size() <= 127)
            out.push_back(static_cast<std::uint8_t>(s.size() << 1));
        else
            appendLe(out, (static_cast<std::uint64_t>(s.size()) << 1) | 1u, 8);
        out.insert(out.end(), s.begin(), s.end());
    }
    return out;
}

inline e57::Data3DPointsDouble xyzBuffers(double* x, double* y, double* z) {
    e57::Data3DPointsDouble b;
    b.cartesianX = x;
    b.cartesianY = y;
    b.cartesianZ = z;
    return b;
}

// One scan with the given prototype; `extra` goes into the scan's structure before its points.
inline std::string scanXml(std::uint64_t fileOffset, std::uint64_t records,
                           const std::string& prototype, const std::string& extra = "") {
    return "<data3D type=\"Vector\" allowHeterogeneousChildren=\"1\"><vectorChild "
           "type=\"Structure\">"
           "<guid type=\"String\">scan-0</guid>" +
           extra + "<points type=\"CompressedVector\" fileOffset=\"" + std::to_string(fileOffset) +
           "\" recordCount=\"" + std::to_string(records) + "\"><prototype type=\"Structure\">" +
           prototype +
           "</prototype><codecs type=\"Vector\" "
           "allowHeterogeneousChildren=\"1\"/></points></vectorChild></data3D>";
}

inline std::uint64_t toPhysical(std::uint64_t logical) {
    return logical / 1020 * 1024 + logical % 1020;
}

// Packet plan: cuts[p][s] = bytes of stream s in data packet p; the remainder of each stream
// goes into a last packet. Extra packets: 'i' index, 'e' empty before the data packet of the
// same number in `extras`.
struct PacketPlan {
    std::vector<std::vector<std::size_t>> cuts;
    std::string extrasBefore;  // per data packet: '-' none, 'i' index, 'e' empty
    bool indexAtEnd = false;
};

class FileBuilder {
public:
    FileBuilder() : logical_(48, 0) {}

    std::uint64_t logicalEnd() const { return logical_.size(); }

    // Zero bytes so that the next section starts at the given logical offset (4-aligned).
    void padTo(std::uint64_t logical) {
        while (logical_.size() < logical) logical_.push_back(0);
    }

    // A Blob section; returns its physical offset.
    std::uint64_t addBlob(const Bytes& data) {
        const std::uint64_t start = logical_.size();
        const std::uint64_t length = (16 + data.size() + 3) / 4 * 4;
        logical_.push_back(0);
        for (int i = 0; i < 7; ++i) logical_.push_back(0);
        appendLe(logical_, length, 8);
        logical_.insert(logical_.end(), data.begin(), data.end());
        padTo(start + length);
        return toPhysical(start);
    }

    using Plan = PacketPlan;

    // A CompressedVector section; returns its physical offset.
    std::uint64_t addVector(const std::vector<Bytes>& streams, const Plan& plan = {}) {
        const std::uint64_t start = logical_.size();
        for (int i = 0; i < 32; ++i) logical_.push_back(0);
        const std::uint64_t firstPacket = logical_.size();
        std::vector<std::size_t> pos(streams.size(), 0);
        const std::size_t planned = plan.cuts.size();
        auto anyLeft = [&] {
            for (std::size_t s = 0; s < streams.size(); ++s)
                if (pos[s] < streams[s].size()) return true;
            return false;
        };
        // After the planned packets the rest goes out in packets that stay under 64 KiB.
        const std::size_t share = streams.empty() ? 0 : 60000 / streams.size();
        for (std::size_t p = 0; p < planned || p == planned || anyLeft(); ++p) {
            if (p < plan.extrasBefore.size() && plan.extrasBefore[p] == 'i')
                addIndexPacket(firstPacket);
            if (p < plan.extrasBefore.size() && plan.extrasBefore[p] == 'e') addEmptyPacket(12);
            std::vector<std::size_t> lens(streams.size());
            for (std::size_t s = 0; s < streams.size(); ++s) {
                const std::size_t left = streams[s].size() - pos[s];
                lens[s] = std::min(left, p < planned ? plan.cuts[p][s] : share);
            }
            addDataPacket(streams, pos, lens);
            for (std::size_t s = 0; s < streams.size(); ++s) pos[s] += lens[s];
        }
        std::uint64_t index = 0;
        if (plan.indexAtEnd) {
            index = toPhysical(logical_.size());
            addIndexPacket(firstPacket);
        }
        const std::uint64_t length = logical_.size() - start;
        logical_[start] = 1;
        putLe(logical_, start + 8, length, 8);
        putLe(logical_, start + 16, toPhysical(firstPacket), 8);
        putLe(logical_, start + 24, index, 8);
        return toPhysical(start);
    }

    void addDataPacket(const std::vector<Bytes>& streams, const std::vector<std::size_t>& from,
                       const std::vector<std::size_t>& lens) {
        const std::uint64_t start = logical_.size();
        std::size_t body = 6 + 2 * streams.size();
        for (std::size_t l : lens) body += l;
        const std::size_t total = (body + 3) / 4 * 4;
        logical_.push_back(1);
        logical_.push_back(0);
        appendLe(logical_, total - 1, 2);
        appendLe(logical_, streams.size(), 2);
        for (std::size_t l : lens) appendLe(logical_, l, 2);
        for (std::size_t s = 0; s < streams.size(); ++s)
            logical_.insert(logical_.end(), streams[s].begin() + static_cast<long>(from[s]),
                            streams[s].begin() + static_cast<long>(from[s] + lens[s]));
        padTo(start + total);
    }

    void addIndexPacket(std::uint64_t firstDataLogical) {
        logical_.push_back(0);
        logical_.push_back(0);
        appendLe(logical_, 31, 2);
        appendLe(logical_, 1, 2);
        for (int i = 0; i < 10; ++i) logical_.push_back(0);
        appendLe(logical_, 0, 8);
        appendLe(logical_, toPhysical(firstDataLogical), 8);
    }

    void addEmptyPacket(std::size_t length) {
        logical_.push_back(2);
        logical_.push_back(0);
        appendLe(logical_, length - 1, 2);
        for (std::size_t i = 4; i < length; ++i) logical_.push_back(0);
    }

    // Raw access for corrupting tests.
    Bytes& logical() { return logical_; }

    // Finishes the file: XML (root children after the four required ones), header, pages, CRCs.
    std::string finish(const std::string& rootBody, const std::string& extraNamespaces = "") {
        std::string xml =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<e57Root type=\"Structure\" xmlns=\"http://www.astm.org/COMMIT/E57/2010-e57-v1.0\"" +
            extraNamespaces +
            ">\n"
            "<formatName type=\"String\"><![CDATA[ASTM E57 3D Imaging Data File]]></formatName>\n"
            "<guid type=\"String\">test-file</guid>\n"
            "<versionMajor type=\"Integer\">1</versionMajor>\n"
            "<versionMinor type=\"Integer\"/>\n" +
            rootBody + "</e57Root>\n";
        while (xml.size() % 4 != 0) xml += ' ';
        Bytes all = logical_;
        const std::uint64_t xmlStart = all.size();
        all.insert(all.end(), xml.begin(), xml.end());
        const std::uint64_t pages = (all.size() + 1019) / 1020;
        all.resize(pages * 1020, 0);
        std::memcpy(all.data(), "ASTM-E57", 8);
        putLe(all, 8, 1, 4);
        putLe(all, 12, 0, 4);
        putLe(all, 16, pages * 1024, 8);
        putLe(all, 24, toPhysical(xmlStart), 8);
        putLe(all, 32, xml.size(), 8);
        putLe(all, 40, 1024, 8);
        headerPatch(all);
        std::string file(pages * 1024, '\0');
        for (std::uint64_t p = 0; p < pages; ++p) {
            auto* page = reinterpret_cast<std::uint8_t*>(&file[p * 1024]);
            std::memcpy(page, all.data() + p * 1020, 1020);
            testsupport::sealE57Page(page);
        }
        return file;
    }

    // Lets a test damage header fields before the checksums are computed.
    std::function<void(Bytes&)> headerPatch = [](Bytes&) {};

private:
    Bytes logical_;
};

}  // namespace e57test
