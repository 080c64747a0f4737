// What the writer puts on disk, checked without e57::Reader: pages, header, XML, sections.

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cfloat>
#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

#include "E57SimpleWriter.h"
#include "bitpack_encode.h"
#include "paged_writer.h"
#include "xml_writer.h"
#include "support/e57_columns.h"
#include "writer_test_util.h"

namespace {

using writertest::le16;
using writertest::le64;
using writertest::loadE57;
using writertest::physicalToLogical;

// Reads `bits`-bit records LSB-first from a byte string.
std::uint64_t readBits(const std::string& s, std::uint64_t index, unsigned bits) {
    std::uint64_t v = 0;
    for (unsigned k = 0; k < bits; ++k) {
        const std::uint64_t bit = index * bits + k;
        v |= std::uint64_t((static_cast<unsigned char>(s[bit / 8]) >> (bit % 8)) & 1u) << k;
    }
    return v;
}

TEST(WriterFile, EmptyFileLayoutHeaderAndXml) {
    testsupport::TempDir dir;
    const auto path = dir / "empty.e57";
    e57::WriterOptions options;
    options.guid = "file-guid-1";
    options.coordinateMetadata = "EPSG:31256 & <local> ]]> end";
    e57::Writer writer(path.string(), options);
    EXPECT_TRUE(writer.IsOpen());
    EXPECT_TRUE(writer.Close());
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_FALSE(writer.Close());

    const auto f = loadE57(path);
    ASSERT_GT(f.physical.size(), 0u);
    EXPECT_EQ(f.physical.size() % 1024, 0u);
    EXPECT_EQ(f.badPages, 0u);
    EXPECT_EQ(f.signature, "ASTM-E57");
    EXPECT_EQ(f.major, 1u);
    EXPECT_EQ(f.minor, 0u);
    EXPECT_EQ(f.filePhysicalLength, f.physical.size());
    EXPECT_EQ(f.pageSize, 1024u);
    EXPECT_EQ(f.xmlPhysicalOffset, 48u);
    EXPECT_EQ(f.xmlLogicalLength % 4, 0u);
    ASSERT_FALSE(f.xml.empty());
    EXPECT_EQ(f.xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u);

    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(f.xml.data(), f.xml.size()));
    const pugi::xml_node root = doc.child("e57Root");
    ASSERT_TRUE(root);
    EXPECT_STREQ(root.attribute("type").value(), "Structure");
    EXPECT_STREQ(root.attribute("xmlns").value(), "http://www.astm.org/COMMIT/E57/2010-e57-v1.0");
    EXPECT_STREQ(root.child("formatName").text().get(), "ASTM E57 3D Imaging Data File");
    EXPECT_STREQ(root.child("guid").text().get(), "file-guid-1");
    EXPECT_STREQ(root.child("versionMajor").attribute("type").value(), "Integer");
    EXPECT_EQ(root.child("versionMajor").text().as_int(), 1);
    EXPECT_EQ(root.child("versionMinor").text().as_int(-1), -1);  // empty element = 0
    std::string metadata;  // a "]]>" splits the text over two CDATA sections
    for (pugi::xml_node c = root.child("coordinateMetadata").first_child(); c; c = c.next_sibling())
        metadata += c.value();
    EXPECT_EQ(metadata, "EPSG:31256 & <local> ]]> end");
    EXPECT_TRUE(root.child("e57LibraryVersion"));
    EXPECT_FALSE(root.child("creationDateTime"));
    for (const char* name : {"data3D", "images2D"}) {
        const pugi::xml_node v = root.child(name);
        ASSERT_TRUE(v) << name;
        EXPECT_STREQ(v.attribute("type").value(), "Vector");
        EXPECT_STREQ(v.attribute("allowHeterogeneousChildren").value(), "1");
        EXPECT_FALSE(v.first_child().type() == pugi::node_element);
    }
}

TEST(WriterFile, GeneratedGuidsAreBracedUpperCaseVersion4) {
    testsupport::TempDir dir;
    const auto path = dir / "guid.e57";
    {
        e57::WriterOptions options;
        e57::Writer writer(path.string(), options);
    }  // the destructor closes
    const auto f = loadE57(path);
    EXPECT_EQ(f.badPages, 0u);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(f.xml.data(), f.xml.size()));
    const std::string guid = doc.child("e57Root").child("guid").text().get();
    ASSERT_EQ(guid.size(), 38u);
    EXPECT_EQ(guid.front(), '{');
    EXPECT_EQ(guid.back(), '}');
    EXPECT_EQ(guid[15], '4');
    EXPECT_NE(std::string("89AB").find(guid[20]), std::string::npos);
    for (char c : guid)
        EXPECT_TRUE(std::string("{}-0123456789ABCDEF").find(c) != std::string::npos) << guid;
}

TEST(WriterFile, CannotCreateFileThrowsOpenFailed) {
    e57::WriterOptions options;
    try {
        e57::Writer writer("/nonexistent-dir-e57w/x.e57", options);
        FAIL() << "no exception";
    } catch (const e57::E57Exception& e) {
        EXPECT_EQ(e.errorCode(), e57::ErrorOpenFailed);
        EXPECT_NE(std::string(e.what()).find("/nonexistent-dir-e57w/x.e57"), std::string::npos)
            << e.what();
    }
}

// One scan of double xyz, 8-bit colour and float intensity: the section header, the packets and
// the stream bytes decoded by hand.
TEST(WriterFile, CompressedVectorSectionPacketsAndStreams) {
    testsupport::TempDir dir;
    const auto path = dir / "scan.e57";
    const std::size_t n = 10000;
    testsupport::E57Columns p(n);
    for (std::size_t i = 0; i < n; ++i) {
        p.x[i] = 500000.0 + 0.001 * double(i);
        p.y[i] = -12.25 * double(i);
        p.z[i] = std::sin(double(i));
        p.intensity[i] = double(i % 1000) / 1000.0;
        p.red[i] = std::uint16_t(i % 256);
        p.green[i] = std::uint16_t((i * 7) % 256);
        p.blue[i] = 255;
    }
    std::uint64_t scanIndex = 99;
    {
        e57::WriterOptions options;
        e57::Writer writer(path.string(), options);
        e57::Data3D h;
        h.guid = "scan-guid";
        h.pointCount = n;
        h.colorLimits.colorRedMaximum = h.colorLimits.colorGreenMaximum =
            h.colorLimits.colorBlueMaximum = 255;
        h.intensityLimits.intensityMaximum = 1.0;
        h.pointFields.cartesianXField = h.pointFields.cartesianYField =
            h.pointFields.cartesianZField = true;
        h.pointFields.colorRedField = h.pointFields.colorGreenField = h.pointFields.colorBlueField =
            true;
        h.pointFields.intensityField = true;
        h.pointFields.pointRangeNodeType = e57::NumericalNodeType::Double;
        const e57::Data3DPointsDouble b = p.buffers(true, true);
        scanIndex = static_cast<std::uint64_t>(writer.WriteData3DData(h, b));
        writer.Close();
    }
    EXPECT_EQ(scanIndex, 0u);
    const auto f = loadE57(path);
    EXPECT_EQ(f.physical.size() % 1024, 0u);
    EXPECT_EQ(f.badPages, 0u);
    EXPECT_EQ(f.filePhysicalLength, f.physical.size());

    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(f.xml.data(), f.xml.size()));
    const pugi::xml_node scan = doc.child("e57Root").child("data3D").child("vectorChild");
    ASSERT_TRUE(scan);
    EXPECT_STREQ(scan.child("guid").text().get(), "scan-guid");
    EXPECT_FALSE(scan.child("pose"));             // identity is not written
    EXPECT_FALSE(scan.child("cartesianBounds"));  // defaults are not written
    EXPECT_EQ(scan.child("colorLimits").child("colorRedMaximum").text().as_int(), 255);
    const pugi::xml_node points = scan.child("points");
    ASSERT_STREQ(points.attribute("type").value(), "CompressedVector");
    EXPECT_EQ(points.attribute("recordCount").as_ullong(), n);
    EXPECT_STREQ(points.child("codecs").attribute("allowHeterogeneousChildren").value(), "1");
    const pugi::xml_node proto = points.child("prototype");
    std::vector<std::string> names;
    for (pugi::xml_node c = proto.first_child(); c; c = c.next_sibling()) names.push_back(c.name());
    EXPECT_EQ(names,
              (std::vector<std::string>{"cartesianX", "cartesianY", "cartesianZ", "intensity",
                                        "colorRed", "colorGreen", "colorBlue"}));
    EXPECT_STREQ(proto.child("cartesianX").attribute("type").value(), "Float");
    EXPECT_FALSE(proto.child("cartesianX").attribute("precision"));  // double
    EXPECT_FALSE(proto.child("cartesianX").attribute("minimum"));
    EXPECT_STREQ(proto.child("intensity").attribute("precision").value(), "single");
    EXPECT_STREQ(proto.child("intensity").attribute("maximum").value(), "1");
    EXPECT_STREQ(proto.child("colorRed").attribute("type").value(), "Integer");
    EXPECT_STREQ(proto.child("colorRed").attribute("minimum").value(), "0");
    EXPECT_STREQ(proto.child("colorRed").attribute("maximum").value(), "255");

    const std::uint64_t section = physicalToLogical(points.attribute("fileOffset").as_ullong());
    EXPECT_EQ(section, 48u);
    const std::string& L = f.logical;
    EXPECT_EQ(static_cast<unsigned char>(L[section]), 1u);
    for (int i = 1; i < 8; ++i) EXPECT_EQ(L[section + i], 0);
    const std::uint64_t sectionLength = le64(L, section + 8);
    EXPECT_EQ(sectionLength % 4, 0u);
    const std::uint64_t data = physicalToLogical(le64(L, section + 16));
    const std::uint64_t index = physicalToLogical(le64(L, section + 24));
    EXPECT_EQ(data, section + 32);
    ASSERT_GT(index, data);
    EXPECT_EQ(index + 32, section + sectionLength);

    std::vector<std::string> streams(7);
    std::uint64_t at = data;
    std::size_t packets = 0;
    while (at < index) {
        ASSERT_EQ(static_cast<unsigned char>(L[at]), 1u) << "data packet expected at " << at;
        const std::uint64_t length = le16(L, at + 2) + 1;
        ASSERT_LE(length, 65536u);
        EXPECT_EQ(length % 4, 0u);
        ASSERT_EQ(le16(L, at + 4), 7u);
        std::uint64_t off = at + 6 + 2 * 7;
        for (std::size_t s = 0; s < 7; ++s) {
            const std::uint64_t bytes = le16(L, at + 6 + 2 * s);
            streams[s].append(L, off, bytes);
            off += bytes;
        }
        EXPECT_LE(off, at + length);
        EXPECT_GT(off + 4, at + length);  // at most 3 padding bytes
        at += length;
        ++packets;
    }
    EXPECT_EQ(at, index);
    EXPECT_GE(packets, 5u);  // 31 bytes per record: about 2100 records per packet
    // Index packet: level 0, one entry pointing at the first data packet.
    EXPECT_EQ(L[index], 0);
    EXPECT_EQ(le16(L, index + 2), 31u);
    EXPECT_EQ(le16(L, index + 4), 1u);
    EXPECT_EQ(le64(L, index + 16), 0u);
    EXPECT_EQ(physicalToLogical(le64(L, index + 24)), data);

    ASSERT_EQ(streams[0].size(), 8 * n);
    ASSERT_EQ(streams[3].size(), 4 * n);
    ASSERT_EQ(streams[4].size(), n);
    for (std::size_t i = 0; i < n; i += 997) {
        double vx;
        std::memcpy(&vx, streams[0].data() + 8 * i, 8);
        EXPECT_EQ(vx, p.x[i]);
        float vi;
        std::memcpy(&vi, streams[3].data() + 4 * i, 4);
        EXPECT_EQ(vi, static_cast<float>(p.intensity[i]));
        EXPECT_EQ(static_cast<unsigned char>(streams[4][i]), p.red[i]);
        EXPECT_EQ(static_cast<unsigned char>(streams[5][i]), p.green[i]);
    }
}

TEST(WriterBitpack, OddWidthsPackLsbFirst) {
    for (unsigned bits : {1u, 3u, 8u, 13u, 16u, 31u, 32u, 33u, 57u, 64u}) {
        const std::size_t n = 203;  // not a multiple of 8: the tail byte is partial
        const std::int64_t minimum = bits == 64 ? std::numeric_limits<std::int64_t>::min() : -1000;
        std::vector<std::int64_t> values(n);
        const std::uint64_t span = bits == 64 ? ~0ULL : ((1ULL << bits) - 1);
        std::uint64_t state = 12345;
        for (std::size_t i = 0; i < n; ++i) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            const std::uint64_t u = (i == 0) ? span : (i == 1 ? 0 : (state >> 7) & span);
            values[i] = static_cast<std::int64_t>(static_cast<std::uint64_t>(minimum) + u);
        }
        std::string out(e57::bitpack::packedBytes(n, bits) + 8, '\x55');
        const std::size_t written =
            e57::bitpack::encodeBits(values.data(), n, bits, minimum, e57::bitpack::TruncateToRaw{},
                                     reinterpret_cast<std::uint8_t*>(out.data()));
        ASSERT_EQ(written, e57::bitpack::packedBytes(n, bits)) << bits;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t u = readBits(out, i, bits);
            EXPECT_EQ(static_cast<std::int64_t>(static_cast<std::uint64_t>(minimum) + u), values[i])
                << bits << " " << i;
        }
        // Unused high bits of the last byte are zero; nothing beyond it is touched.
        const std::uint64_t usedBits = n * bits;
        if (usedBits % 8 != 0) {
            EXPECT_EQ(static_cast<unsigned char>(out[written - 1]) >> (usedBits % 8), 0u) << bits;
        }
        EXPECT_EQ(out[written], '\x55');
    }
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    const std::tuple<std::int64_t, std::int64_t, unsigned> ranges[] = {{0, 0, 0},
                                                                       {0, 1, 1},
                                                                       {0, 2, 2},
                                                                       {0, 255, 8},
                                                                       {-500, 500, 10},
                                                                       {-4000, 4095, 13},
                                                                       {0, 4294967295LL, 32},
                                                                       {kMin, kMax, 64}};
    for (const auto& [lo, hi, bits] : ranges)
        EXPECT_EQ(e57::bitpack::bitsForRange(lo, hi), bits) << lo << ".." << hi;
}

TEST(WriterPages, AppendPatchAndFinishKeepEveryChecksum) {
    testsupport::TempDir dir;
    const auto path = dir / "pages.bin";
    std::string expected;
    std::uint64_t length = 0;
    {
        e57::PagedWriter w(path.string());
        // More than the 1 MiB buffer, in odd chunk sizes, so pages are flushed while writing.
        std::uint32_t state = 7;
        while (expected.size() < 2'500'000) {
            std::string chunk(1 + (state % 5000), '\0');
            for (char& c : chunk) {
                state = state * 1103515245u + 12345u;
                c = static_cast<char>(state >> 24);
            }
            w.append(chunk.data(), chunk.size());
            expected += chunk;
        }
        w.appendZeros(3);
        expected.append(3, '\0');
        EXPECT_EQ(w.logicalPosition(), expected.size());
        EXPECT_EQ(w.physicalPosition(), e57::PagedWriter::logicalToPhysical(expected.size()));
        // Patches on disk (page 0), across a page boundary, and in the still-buffered tail.
        const std::string a = "HEADER-PATCH";
        const std::string b = "ACROSS-A-BOUNDARY";
        const std::string c = "TAIL";
        w.patch(0, a.data(), a.size());
        w.patch(1020 * 5 - 6, b.data(), b.size());
        w.patch(expected.size() - 10, c.data(), c.size());
        expected.replace(0, a.size(), a);
        expected.replace(1020 * 5 - 6, b.size(), b);
        expected.replace(expected.size() - 10, c.size(), c);
        length = w.finish();
    }
    const auto f = writertest::loadE57(path);
    EXPECT_EQ(f.physical.size(), length);
    EXPECT_EQ(length, (expected.size() + 1019) / 1020 * 1024);
    EXPECT_EQ(f.badPages, 0u);
    EXPECT_EQ(f.logical.substr(0, expected.size()), expected);
    // The unused tail of the last page is zero.
    EXPECT_EQ(f.logical.find_first_not_of('\0', expected.size()), std::string::npos);
}

TEST(WriterXml, NumbersAndText) {
    using e57::xml::formatDouble;
    EXPECT_EQ(formatDouble(10.0), "1e+01");
    EXPECT_EQ(formatDouble(0.5), "5e-01");
    EXPECT_EQ(formatDouble(1.0), "1");
    EXPECT_EQ(formatDouble(-2.0), "-2");
    EXPECT_EQ(formatDouble(0.7071067811865476), "7.07106781186547573e-01");
    EXPECT_EQ(formatDouble(DBL_MAX), "1.79769313486231571e+308");
    EXPECT_EQ(formatDouble(0.001), "1.00000000000000002e-03");
    for (double v : {0.1, 1.0 / 3.0, 500000.123456789, -1e-300, 6.02214076e23, 5e-324}) {
        EXPECT_EQ(std::strtod(formatDouble(v).c_str(), nullptr), v) << formatDouble(v);
    }
    EXPECT_EQ(e57::xml::cdata("a]]>b"), "<![CDATA[a]]]]><![CDATA[>b]]>");
    e57::xml::Builder b(1);
    b.integer("i", 0, 0, 2);
    b.floating("f", 0.0, true, -FLT_MAX, 2.5);
    b.string("s", "");
    EXPECT_EQ(b.text(),
              "  <i type=\"Integer\" minimum=\"0\" maximum=\"2\"/>\n"
              "  <f type=\"Float\" precision=\"single\" maximum=\"2.5\"/>\n"
              "  <s type=\"String\"/>\n");
}

}  // namespace
