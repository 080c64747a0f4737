// Damaged and hostile files: each failure is an E57Exception with the right code and a message
// saying what is wrong; nothing crashes, hangs or allocates without bound.

#include <gtest/gtest.h>

#include <E57SimpleReader.h>

#include <functional>
#include <string>
#include <vector>

#include "reader_test_builder.h"
#include "support/test_support.h"

using e57test::Bytes;
using e57test::FileBuilder;

namespace {

using e57test::scanXml;

const std::string kXyz =
    "<cartesianX type=\"Float\"/><cartesianY type=\"Float\"/><cartesianZ type=\"Float\"/>";

// Opens the file and reads every scan's points; returns the first E57Exception.
struct Outcome {
    bool failed = false;
    int code = 0;
    std::string what;
};

Outcome openAndRead(const std::string& bytes) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "f.e57", bytes);
    Outcome o;
    try {
        e57::Reader r((dir / "f.e57").string(), e57::ReaderOptions{});
        for (int64_t i = 0; i < r.GetData3DCount(); ++i) {
            e57::Data3D h;
            r.ReadData3D(i, h);
            std::vector<double> x(100), y(100), z(100);
            std::vector<std::uint16_t> red(100);
            e57::Data3DPointsDouble b = e57test::xyzBuffers(x.data(), y.data(), z.data());
            b.colorRed = red.data();
            auto cv = r.SetUpData3DPointsData(i, 100, b);
            while (cv.read() > 0) {
            }
        }
    } catch (const e57::E57Exception& e) {
        o.failed = true;
        o.code = e.errorCode();
        o.what = e.errorStr() + ": " + e.context();
    }
    return o;
}

#define EXPECT_FAILS_WITH(outcome, codeValue, fragment)                  \
    do {                                                                 \
        const Outcome o_ = (outcome);                                    \
        EXPECT_TRUE(o_.failed) << "no failure";                          \
        EXPECT_EQ(o_.code, codeValue) << o_.what;                        \
        EXPECT_NE(o_.what.find(fragment), std::string::npos) << o_.what; \
    } while (0)

std::string goodFile(
    std::uint64_t records = 3, std::function<void(Bytes&)> headerPatch = [](Bytes&) {}) {
    FileBuilder fb;
    fb.headerPatch = std::move(headerPatch);
    const std::vector<double> v = {1, 2, 3};
    const auto off =
        fb.addVector({e57test::packDoubles(v), e57test::packDoubles(v), e57test::packDoubles(v)});
    return fb.finish(scanXml(off, records, kXyz));
}

}  // namespace

TEST(E57ReaderRobustness, FileLevelDamage) {
    EXPECT_FALSE(openAndRead(goodFile()).failed);

    std::string s = goodFile();
    EXPECT_FAILS_WITH(openAndRead(s.substr(0, s.size() - 1)), e57::ErrorBadInputDataSize,
                      "multiple of the 1024");
    EXPECT_FAILS_WITH(openAndRead(""), e57::ErrorBadInputDataSize, "file size 0");

    s[100] ^= 0x40;  // damage after the checksums were made
    EXPECT_FAILS_WITH(openAndRead(s), e57::ErrorBadChecksum, "page=0");

    auto patched = [](std::function<void(Bytes&)> patch) { return goodFile(3, patch); };
    EXPECT_FAILS_WITH(openAndRead(patched([](Bytes& b) { b[0] = 'X'; })),
                      e57::ErrorBadFileSignature, "XSTM-E57");
    EXPECT_FAILS_WITH(openAndRead(patched([](Bytes& b) { b[8] = 2; })),
                      e57::ErrorUnknownFileVersion, "majorVersion=2");
    EXPECT_FAILS_WITH(openAndRead(patched([](Bytes& b) { e57test::putLe(b, 16, 4096, 8); })),
                      e57::ErrorBadFileLength, "filePhysicalLength=4096");
    EXPECT_FAILS_WITH(openAndRead(patched([](Bytes& b) { e57test::putLe(b, 40, 2048, 8); })),
                      e57::ErrorBadFileLength, "pageSize=2048");
    EXPECT_FAILS_WITH(openAndRead(patched([](Bytes& b) { e57test::putLe(b, 24, 1ull << 40, 8); })),
                      e57::ErrorBadFileLength, "xmlPhysicalOffset=");
    EXPECT_FAILS_WITH(openAndRead(patched([](Bytes& b) { e57test::putLe(b, 32, ~0ull, 8); })),
                      e57::ErrorBadFileLength, "xmlLogicalLength=");
    // An XML length cut short leaves the document unfinished.
    EXPECT_FAILS_WITH(openAndRead(patched([](Bytes& b) { e57test::putLe(b, 32, 40, 8); })),
                      e57::ErrorXMLParser, "does not parse");

    testsupport::TempDir dir;
    try {
        e57::Reader r((dir / "missing.e57").string(), e57::ReaderOptions{});
        FAIL();
    } catch (const e57::E57Exception& e) {
        EXPECT_EQ(e.errorCode(), e57::ErrorOpenFailed);
        EXPECT_NE(e.context().find("missing.e57"), std::string::npos);
    }
}

TEST(E57ReaderRobustness, XmlDamage) {
    auto withXml = [](const std::string& body, const std::string& ns = "") {
        FileBuilder fb;
        return fb.finish(body, ns);
    };
    EXPECT_FAILS_WITH(openAndRead(withXml("<data3D type=\"Vector\">")), e57::ErrorXMLParser,
                      "does not parse");
    EXPECT_FAILS_WITH(openAndRead(withXml("<x type=\"Thing\"/>")), e57::ErrorBadXMLFormat,
                      "unknown element type 'Thing'");
    EXPECT_FAILS_WITH(openAndRead(withXml("<x/>")), e57::ErrorBadXMLFormat,
                      "no type attribute at /x");
    EXPECT_FAILS_WITH(openAndRead(withXml("<p:x type=\"String\"/>")), e57::ErrorBadXMLFormat,
                      "undeclared namespace prefix 'p'");
    EXPECT_FAILS_WITH(openAndRead(withXml("<x type=\"Float\" precision=\"half\"/>")),
                      e57::ErrorBadXMLFormat, "precision 'half'");
    EXPECT_FAILS_WITH(openAndRead(withXml("<x type=\"Integer\">12abc</x>")), e57::ErrorBadXMLFormat,
                      "bad integer value '12abc'");
    EXPECT_FAILS_WITH(openAndRead(withXml("<x type=\"Integer\" minimum=\"5\" maximum=\"4\"/>")),
                      e57::ErrorBadXMLFormat, "minimum 5 > maximum 4");
    EXPECT_FAILS_WITH(openAndRead(withXml("<x type=\"String\"/><x type=\"String\"/>")),
                      e57::ErrorBadXMLFormat, "duplicate child");
    EXPECT_FAILS_WITH(openAndRead(withXml("<data3D type=\"Structure\"/>")), e57::ErrorBadXMLFormat,
                      "/data3D is a Structure");
    EXPECT_FAILS_WITH(openAndRead(withXml("<v type=\"Vector\" allowHeterogeneousChildren=\"2\"/>")),
                      e57::ErrorBadXMLFormat, "allowHeterogeneousChildren");
    EXPECT_FAILS_WITH(
        openAndRead(withXml("<c type=\"CompressedVector\" fileOffset=\"48\" recordCount=\"1\"/>")),
        e57::ErrorBadPrototype, "no prototype");
    EXPECT_FAILS_WITH(
        openAndRead(withXml(
            "<c type=\"CompressedVector\" fileOffset=\"48\" recordCount=\"1\"><prototype "
            "type=\"Structure\"><b type=\"Blob\" fileOffset=\"0\" length=\"0\"/></prototype>"
            "</c>")),
        e57::ErrorBadPrototype, "Blob inside a prototype");
    // Deep nesting is refused instead of exhausting the stack.
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<s type=\"Structure\">";
    for (int i = 0; i < 100000; ++i) deep += "</s>";
    EXPECT_FAILS_WITH(openAndRead(withXml(deep)), e57::ErrorBadXMLFormat, "nested too deeply");

    // A root without the default namespace.
    FileBuilder fb;
    std::string file = fb.finish("");
    const auto at = file.find(" xmlns=\"");
    ASSERT_NE(at, std::string::npos);
    file.replace(at, 7, " xmlnz=");  // same length, breaks the checksum of its page
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "n.e57", file);
    e57::ReaderOptions unchecked;
    unchecked.checksumPolicy = e57::ChecksumNone;
    try {
        e57::Reader r((dir / "n.e57").string(), unchecked);
        FAIL();
    } catch (const e57::E57Exception& e) {
        EXPECT_EQ(e.errorCode(), e57::ErrorBadXMLFormat);
        EXPECT_NE(e.context().find("no default namespace"), std::string::npos) << e.context();
    }
}

TEST(E57ReaderRobustness, CompressedVectorDamage) {
    const std::vector<double> v = {1, 2, 3};
    auto build = [&](std::uint64_t records,
                     std::function<void(FileBuilder&, std::uint64_t sectionLogical)> damage,
                     const std::string& proto = kXyz) {
        FileBuilder fb;
        const std::uint64_t start = fb.logicalEnd();
        const auto off = fb.addVector(
            {e57test::packDoubles(v), e57test::packDoubles(v), e57test::packDoubles(v)});
        damage(fb, start);
        return fb.finish(scanXml(off, records, proto));
    };
    auto none = [](FileBuilder&, std::uint64_t) {};

    // More records declared than the streams hold: the read stops with a clear error.
    EXPECT_FAILS_WITH(openAndRead(build(4, none)), e57::ErrorBadCVPacket,
                      "has no data left after 3 of 4 records");
    // Far more than the file could ever hold: refused before anyone allocates for it.
    EXPECT_FAILS_WITH(openAndRead(build(1ull << 60, none)), e57::ErrorBadCVHeader,
                      "recordCount=1152921504606846976");

    // One field of the section header (at 0) or of the first packet (at 32) damaged.
    struct Damage {
        std::uint64_t at;
        std::uint64_t value;
        int width;
        int code;
        const char* fragment;
    };
    const Damage damages[] = {
        {0, 7, 1, e57::ErrorBadCVHeader, "sectionId=7 (expected 1)"},
        {3, 1, 1, e57::ErrorBadCVHeader, "reserved header bytes"},
        {8, 1ull << 50, 8, e57::ErrorBadCVHeader, "sectionLogicalLength="},
        {16, 8, 8, e57::ErrorBadCVHeader, "outside the section"},
        {32, 9, 1, e57::ErrorBadCVPacket, "unknown packet type 9"},
        {34, 0xFFFF, 2, e57::ErrorBadCVPacket, "runs past the section end"},
        {36, 2, 2, e57::ErrorBadCVPacket, "has 2 bytestreams, the prototype has 3"},
        {38, 60000, 2, e57::ErrorBadCVPacket, "overrun the packet"},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.fragment);
        EXPECT_FAILS_WITH(openAndRead(build(3,
                                            [&](FileBuilder& fb, std::uint64_t s) {
                                                e57test::putLe(fb.logical(), s + d.at, d.value,
                                                               d.width);
                                            })),
                          d.code, d.fragment);
    }
    // Section offset beyond the file.
    FileBuilder fb;
    EXPECT_FAILS_WITH(openAndRead(fb.finish(scanXml(1ull << 40, 3, kXyz))), e57::ErrorBadCVHeader,
                      "beyond the file size");
}

TEST(E57ReaderRobustness, ValuesThatDoNotFitTheBufferAreRefused) {
    FileBuilder fb;
    const std::vector<double> v = {1, 2, 3};
    const auto off =
        fb.addVector({e57test::packDoubles(v), e57test::packDoubles(v), e57test::packDoubles(v),
                      e57test::packBits({10, 70000, 5}, 0, 17)});
    const std::string file = fb.finish(
        scanXml(off, 3, kXyz + "<colorRed type=\"Integer\" minimum=\"0\" maximum=\"100000\"/>"));
    EXPECT_FAILS_WITH(openAndRead(file), e57::ErrorValueNotRepresentable, "value 70000");
}

TEST(E57ReaderRobustness, DataPagesAreCheckedWhenRead) {
    FileBuilder fb;
    std::vector<double> v(2000);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = double(i);
    const auto off =
        fb.addVector({e57test::packDoubles(v), e57test::packDoubles(v), e57test::packDoubles(v)});
    std::string file = fb.finish(scanXml(off, v.size(), kXyz));
    file[5 * 1024 + 100] ^= 1;  // a page in the middle of the point data
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "d.e57", file);
    std::vector<double> x(500), y(500), z(500);
    const e57::Data3DPointsDouble b = e57test::xyzBuffers(x.data(), y.data(), z.data());
    e57::Reader r((dir / "d.e57").string(),
                  e57::ReaderOptions{});  // header and XML pages are intact
    auto cv = r.SetUpData3DPointsData(0, 500, b);
    try {
        while (cv.read() > 0) {
        }
        FAIL() << "damaged page not noticed";
    } catch (const e57::E57Exception& e) {
        EXPECT_EQ(e.errorCode(), e57::ErrorBadChecksum);
        EXPECT_NE(e.context().find("page=5"), std::string::npos) << e.context();
    }
    // A failed read is not continued silently.
    EXPECT_THROW(cv.read(), e57::E57Exception);
    cv.close();

    e57::ReaderOptions unchecked;
    unchecked.checksumPolicy = e57::ChecksumNone;
    e57::Reader r2((dir / "d.e57").string(), unchecked);
    auto cv2 = r2.SetUpData3DPointsData(0, 500, b);
    std::size_t total = 0;
    unsigned n = 0;
    while ((n = cv2.read()) > 0) total += n;
    EXPECT_EQ(total, v.size());
}

TEST(E57ReaderRobustness, EmptyVectorWithoutSectionReadsAsEmpty) {
    // Old writers left fileOffset 0 on zero-record scans; there is no section to check.
    FileBuilder fb;
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "z.e57", fb.finish(scanXml(0, 0, kXyz)));
    e57::Reader r((dir / "z.e57").string(), e57::ReaderOptions{});
    e57::Data3D h;
    ASSERT_TRUE(r.ReadData3D(0, h));
    EXPECT_EQ(h.pointCount, 0u);
    std::vector<double> x(10), y(10), z(10);
    auto cv = r.SetUpData3DPointsData(0, 10, e57test::xyzBuffers(x.data(), y.data(), z.data()));
    EXPECT_EQ(cv.read(), 0u);
}
