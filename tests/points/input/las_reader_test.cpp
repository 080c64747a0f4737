#include "points/input/las_reader.h"

#include "points/input/las_test_file.h"
#include "support/other_user.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <sys/stat.h>

using lastest::LasTestHeader;
using lastest::makeLasFile;
using lastest::numberedRecords;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::map<std::string, std::string> readExpected(const std::filesystem::path& path) {
    std::map<std::string, std::string> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

void expectClose(double actual, const std::string& expected, const std::string& what) {
    const double e = std::stod(expected);
    EXPECT_NEAR(actual, e, std::max(1e-12 * std::fabs(e), 1e-9)) << what;
}

std::string openError(const std::string& path) {
    LasBinaryPointReader reader;
    std::string error;
    EXPECT_FALSE(reader.open(path, &error));
    EXPECT_FALSE(reader.isOpen());
    EXPECT_TRUE(reader.path().empty());
    EXPECT_EQ(reader.pointCount(), 0U);
    EXPECT_TRUE(reader.record().empty());
    return error;
}

}  // namespace

TEST(LasReader, SharedFilesMatchTheirExpectedAnswers) {
    REQUIRE_SHARED_TESTDATA();
    const auto dir = testsupport::sharedTestData() / "las";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".las") continue;
        ++files;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        auto expected = readExpected(dir / "expected" / (entry.path().stem().string() + ".txt"));
        ASSERT_FALSE(expected.empty());

        LasBinaryPointReader reader;
        std::string error = "stale";
        const bool opened = reader.open(entry.path().string(), &error);
        if (expected["records"] == "0") {
            EXPECT_FALSE(opened);
            EXPECT_EQ(error, "LasBinaryPointReader: invalid point data offset.");
            continue;
        }
        ASSERT_TRUE(opened) << error;
        EXPECT_TRUE(error.empty());
        EXPECT_EQ(
            std::to_string(reader.versionMajor()) + "." + std::to_string(reader.versionMinor()),
            expected["version"]);
        EXPECT_EQ(std::to_string(reader.headerSize()), expected["headerSize"]);
        EXPECT_EQ(std::to_string(reader.offsetToPointData()), expected["offsetToPointData"]);
        EXPECT_EQ(std::to_string(reader.pointFormat()), expected["pointFormat"]);
        EXPECT_EQ(std::to_string(reader.pointRecordLength()), expected["recordLength"]);
        EXPECT_EQ(std::to_string(reader.pointCount()), expected["records"]);
        EXPECT_EQ(std::to_string(reader.fileSize()), expected["fileSize"]);
        EXPECT_TRUE(reader.hasIntensity());

        const std::string bytes = testsupport::readFile(entry.path());
        double minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY,
               minZ = INFINITY, maxZ = -INFINITY;
        double sum[7] = {};  // x, y, z, intensity, red, green, blue
        CloudPoint p;
        std::uint64_t n = 0;
        bool recordsMatch = true;
        while (reader.readNext(p, &error)) {
            minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
            minZ = std::min(minZ, p.z), maxZ = std::max(maxZ, p.z);
            const double values[7] = {
                p.x, p.y, p.z, p.intensity, double(p.red), double(p.green), double(p.blue)};
            for (int k = 0; k < 7; ++k) sum[k] += values[k];
            EXPECT_EQ(p.hasRGB, reader.hasRGB());
            const std::size_t at = reader.offsetToPointData() + n * reader.pointRecordLength();
            recordsMatch =
                recordsMatch && bytes.compare(at, reader.pointRecordLength(),
                                              reinterpret_cast<const char*>(reader.record().data()),
                                              reader.record().size()) == 0;
            ++n;
        }
        EXPECT_TRUE(error.empty()) << error;
        EXPECT_TRUE(recordsMatch);
        EXPECT_EQ(n, reader.pointCount());
        const std::pair<const char*, double> stats[] = {
            {"x.min", minX},   {"x.max", maxX},          {"x.sum", sum[0]}, {"y.min", minY},
            {"y.max", maxY},   {"y.sum", sum[1]},        {"z.min", minZ},   {"z.max", maxZ},
            {"z.sum", sum[2]}, {"intensity.sum", sum[3]}};
        for (const auto& [key, value] : stats) expectClose(value, expected[key], key);
        EXPECT_EQ(reader.hasRGB(), expected.count("red8.sum") == 1);
        if (reader.hasRGB()) {
            expectClose(sum[4], expected["red8.sum"], "red8.sum");
            expectClose(sum[5], expected["green8.sum"], "green8.sum");
            expectClose(sum[6], expected["blue8.sum"], "blue8.sum");
        } else {
            EXPECT_EQ(sum[4] + sum[5] + sum[6], 0.0);
        }
    }
    EXPECT_EQ(files, 14);
}

TEST(LasReader, CountRules) {
    auto header = [](std::uint8_t minor, std::uint16_t headerSize, std::uint32_t offset,
                     std::uint32_t legacy, std::uint64_t wide) {
        LasTestHeader h;
        h.versionMinor = minor;
        h.headerSize = headerSize;
        h.offsetToPointData = offset;
        h.legacyCount = legacy;
        h.wideCount = wide;
        return h;
    };
    struct Case {
        const char* why;
        LasTestHeader h;
        std::size_t records;
        std::uint64_t count;
    };
    const Case cases[] = {
        {"legacy count 0: the records in the file", header(2, 227, 227, 0, 0), 1000, 1000},
        {"legacy count below the file", header(2, 227, 227, 3, 0), 10, 3},
        // LAS 1.4 with a full header: the 64-bit count wins.
        {"1.4 wide count", header(4, 375, 375, 3, 7), 10, 7},
        {"1.4 zero wide count falls back to the legacy one", header(4, 375, 375, 3, 0), 10, 3},
        {"1.3: legacy, whatever stands at 247", header(3, 235, 300, 3, 8), 10, 3},
        {"1.3 without the waveform field, as early writers made it", header(3, 227, 227, 3, 0), 10,
         3},
    };
    TempDir dir;
    const auto path = (dir / "c.las").string();
    LasBinaryPointReader reader;  // reopened for every case: nothing carries over
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        // A partial record at the end never counts.
        writeFile(path, makeLasFile(c.h, numberedRecords(c.records)) + "tail-bytes");
        std::string error;
        ASSERT_TRUE(reader.open(path, &error)) << error;
        EXPECT_EQ(reader.pointCount(), c.count);
        EXPECT_EQ(reader.versionMinor(), c.h.versionMinor);
    }
}

TEST(LasReader, FormatsAndColour) {
    TempDir dir;
    const auto path = (dir / "f.las").string();
    LasBinaryPointReader reader;
    std::string error;
    CloudPoint p;

    LasTestHeader h;
    h.formatByte = 2;
    h.recordLength = 26;
    h.scale[0] = 0.5;
    h.offset[0] = 100.0;
    std::vector<lastest::LasTestRecord> recs = {{-4, 2, 3, 40000, 65535, 300, 255}};
    writeFile(path, makeLasFile(h, recs, 20));
    ASSERT_TRUE(reader.open(path, &error));
    EXPECT_TRUE(reader.hasRGB());
    ASSERT_TRUE(reader.readNext(p, &error));
    EXPECT_DOUBLE_EQ(p.x, 98.0);
    EXPECT_DOUBLE_EQ(p.y, 0.02);
    EXPECT_DOUBLE_EQ(p.z, 0.03);
    EXPECT_TRUE(p.hasRGB);
    EXPECT_EQ(p.red, 255);
    EXPECT_EQ(p.green, 1);
    EXPECT_EQ(p.blue, 255);
    EXPECT_TRUE(p.hasIntensity);
    EXPECT_EQ(p.intensity, 40000.0);
    EXPECT_FALSE(reader.readNext(p, &error));
    EXPECT_TRUE(error.empty());

    for (std::uint8_t format : {0, 1}) {
        h = LasTestHeader{};
        h.formatByte = format;
        h.recordLength = format == 0 ? 20 : 28;
        writeFile(path, makeLasFile(h, numberedRecords(3)));
        ASSERT_TRUE(reader.open(path, &error));
        EXPECT_FALSE(reader.hasRGB());
        ASSERT_TRUE(reader.readNext(p, &error));
        ASSERT_TRUE(reader.readNext(p, &error));
        EXPECT_FALSE(p.hasRGB);
        EXPECT_TRUE(p.hasIntensity);
        EXPECT_EQ(p.intensity, 1.0);
    }

    EXPECT_EQ(lasRgbByteOffset(2), 20);
    EXPECT_EQ(lasRgbByteOffset(3), 28);
    EXPECT_EQ(lasRgbByteOffset(5), 28);
    for (std::uint8_t f : {7, 8, 10}) EXPECT_EQ(lasRgbByteOffset(f), 30);
    for (std::uint8_t f : {0, 1, 4, 6, 9, 11, 63}) EXPECT_EQ(lasRgbByteOffset(f), -1);
}

TEST(LasReader, OpenChecksInOrder) {
    TempDir dir;
    const auto path = (dir / "o.las").string();
    EXPECT_EQ(openError((dir / "missing.las").string()),
              "LasBinaryPointReader: cannot open LAS file (No such file or directory).");
    writeFile(path, "");
    EXPECT_EQ(openError(path), "LasBinaryPointReader: invalid file size.");
    writeFile(path, "LASX" + std::string(400, '\0'));
    EXPECT_EQ(openError(path), "LasBinaryPointReader: invalid LAS signature.");
    writeFile(path, "LAS");
    EXPECT_EQ(openError(path), "LasBinaryPointReader: invalid LAS signature.");

    LasTestHeader h;
    h.legacyCount = 1;
    const std::string good = makeLasFile(h, numberedRecords(1));
    writeFile(path, good.substr(0, 104));
    EXPECT_EQ(openError(path), "LasBinaryPointReader: failed to read LAS header.");
    writeFile(path, good.substr(0, 108));
    EXPECT_EQ(openError(path), "LasBinaryPointReader: failed to read legacy point count.");
    writeFile(path, good.substr(0, 170));
    EXPECT_EQ(openError(path), "LasBinaryPointReader: failed to read scale/offset values.");

    LasTestHeader bad = h;
    bad.recordLength = 19;  // format 0 would fit, the length check still refuses
    writeFile(path, makeLasFile(bad, numberedRecords(4)));
    EXPECT_EQ(openError(path), "LasBinaryPointReader: invalid point record length.");

    bad = h;
    bad.formatByte = 11;  // the length check comes first, so make it pass
    writeFile(path, makeLasFile(bad, numberedRecords(4)));
    EXPECT_EQ(openError(path), "LasBinaryPointReader: unsupported LAS point format 11.");

    std::string zeroOffset = good;
    lastest::put<std::uint32_t>(zeroOffset, 96, 0);
    writeFile(path, zeroOffset);
    EXPECT_EQ(openError(path), "LasBinaryPointReader: invalid point data offset.");
    writeFile(path, makeLasFile(h, {}));  // offset equals the file size
    EXPECT_EQ(openError(path), "LasBinaryPointReader: invalid point data offset.");
    writeFile(path, makeLasFile(h, {}) + std::string(19, 'x'));  // less than one record
    EXPECT_EQ(openError(path),
              "LasBinaryPointReader: LAS file is truncated: the header says 1 "
              "points, the file holds 0.");
    LasTestHeader noCount = h;
    noCount.legacyCount = 0;
    writeFile(path, makeLasFile(noCount, {}) + std::string(19, 'x'));
    EXPECT_EQ(openError(path), "LasBinaryPointReader: point count is zero.");

    // Silent without an error string; a failed open also closes a reader that was open.
    LasBinaryPointReader reader;
    writeFile(path, good);
    ASSERT_TRUE(reader.open(path, nullptr));
    EXPECT_FALSE(reader.open((dir / "missing.las").string(), nullptr));
    EXPECT_FALSE(reader.isOpen());
    CloudPoint p;
    std::string error;
    EXPECT_FALSE(reader.readNext(p, &error));
    EXPECT_EQ(error, "LasBinaryPointReader: reader is not open.");
    EXPECT_FALSE(reader.seekToRecord(0));
}

TEST(LasReader, SeekingAndSequentialReadsAgree) {
    TempDir dir;
    const auto path = (dir / "s.las").string();
    LasTestHeader h;
    h.formatByte = 2;
    h.recordLength = 26;
    h.offsetToPointData = 331;         // some VLR bytes
    const std::size_t count = 200000;  // several read-ahead windows
    writeFile(path, makeLasFile(h, numberedRecords(count), 20));

    LasBinaryPointReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(path, &error));
    ASSERT_EQ(reader.pointCount(), count);
    CloudPoint p;
    std::size_t n = 0;
    bool ok = true;
    while (reader.readNext(p, &error)) {
        ok = ok && p.x == static_cast<double>(n) * 0.01 && reader.nextPointIndex() == n + 1;
        ++n;
    }
    EXPECT_TRUE(ok);
    EXPECT_EQ(n, count);
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(reader.readPosition(), 331 + count * 26);

    // Sampled every 250th record, as the preview build reads.
    std::size_t sampled = 0;
    ok = true;
    for (std::uint64_t i = 0; i < reader.pointCount(); i += 250) {
        ASSERT_TRUE(reader.seekToRecord(i));
        ASSERT_TRUE(reader.readNext(p, &error)) << error;
        const auto expected = lastest::numberedRecords(i + 1).back();
        ok = ok && p.x == expected.x * 0.01 && p.intensity == expected.intensity &&
             reader.nextPointIndex() == i + 1;
        std::int32_t storedY = 0;
        std::memcpy(&storedY, reader.record().data() + 4, 4);
        ok = ok && storedY == expected.y;
        ++sampled;
    }
    EXPECT_TRUE(ok);
    EXPECT_EQ(sampled, 800U);

    // Backwards, then on sequentially from there; past the end is the end of the data.
    ASSERT_TRUE(reader.seekToRecord(7));
    ASSERT_TRUE(reader.readNext(p, &error));
    EXPECT_DOUBLE_EQ(p.y, 0.14);
    ASSERT_TRUE(reader.readNext(p, &error));
    EXPECT_DOUBLE_EQ(p.y, 0.16);
    ASSERT_TRUE(reader.seekToRecord(count));
    EXPECT_FALSE(reader.readNext(p, &error));
    EXPECT_TRUE(error.empty());
    ASSERT_TRUE(reader.seekToRecord(count - 1));
    EXPECT_TRUE(reader.readNext(p, &error));

    reader.close();
    EXPECT_EQ(reader.scale()[0], 1.0);
    EXPECT_EQ(reader.pointRecordLength(), 0);
    EXPECT_TRUE(reader.record().empty());
}

TEST(LasReader, FileShrinkingAfterOpenIsAReadFailure) {
    TempDir dir;
    const auto path = dir / "t.las";
    LasTestHeader h;
    writeFile(path, makeLasFile(h, numberedRecords(100)));
    LasBinaryPointReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(path.string(), &error));
    std::filesystem::resize_file(path, 227 + 20 * 10 + 5);
    CloudPoint p;
    int n = 0;
    while (reader.readNext(p, &error)) ++n;
    EXPECT_EQ(n, 10);
    EXPECT_EQ(error, "LasBinaryPointReader: failed to read point record.");
    EXPECT_TRUE(reader.isOpen());
    EXPECT_EQ(reader.nextPointIndex(), 10U);
}

// Runs handed out whole cover the records readNext gives, from any index, and mix with it.
TEST(LasReader, RunsOfRecordsAreTheRecordsInOrder) {
    TempDir dir;
    const auto path = (dir / "r.las").string();
    LasTestHeader h;
    h.formatByte = 2;
    h.recordLength = 26;
    h.offsetToPointData = 300;
    h.legacyCount = 100000;  // below the records in the file: the rest is not handed out
    const std::string file = makeLasFile(h, numberedRecords(100007), 20);
    writeFile(path, file);
    const auto recordAt = [&](std::uint64_t i) { return file.substr(300 + i * 26, 26); };

    LasBinaryPointReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(path, &error));
    EXPECT_EQ(std::string(reader.record().begin(), reader.record().end()), std::string(26, '\0'));
    CloudPoint p;
    ASSERT_TRUE(reader.readNext(p, &error));  // a run starts wherever the reader stands
    const std::uint8_t* run = nullptr;
    std::size_t count = 0;
    std::uint64_t next = 1;
    bool ok = true;
    int runs = 0;
    while (reader.readRecords(run, count, &error)) {
        ok = ok && count >= 1 &&
             file.compare(300 + next * 26, count * 26, reinterpret_cast<const char*>(run),
                          count * 26) == 0;
        next += count;
        ok = ok && reader.nextPointIndex() == next && reader.readPosition() == 300 + next * 26 &&
             std::string(reader.record().begin(), reader.record().end()) == recordAt(next - 1);
        ++runs;
        if (runs == 2) {  // readNext goes on where the run ended
            ASSERT_TRUE(reader.readNext(p, &error));
            ok = ok && p.x == static_cast<double>(next) * 0.01;
            ++next;
        }
    }
    EXPECT_TRUE(ok);
    EXPECT_GE(runs, 3);
    EXPECT_EQ(next, 100000U);
    EXPECT_TRUE(error.empty());

    // After a seek a run holds just the record sought; past the end there is none.
    ASSERT_TRUE(reader.seekToRecord(77));
    ASSERT_TRUE(reader.readRecords(run, count, &error));
    EXPECT_EQ(count, 1U);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(run), 26), recordAt(77));
    ASSERT_TRUE(reader.seekToRecord(100000));
    EXPECT_FALSE(reader.readRecords(run, count, &error));
    EXPECT_TRUE(error.empty());
    reader.close();
    EXPECT_FALSE(reader.readRecords(run, count, &error));
    EXPECT_EQ(error, "LasBinaryPointReader: reader is not open.");
}

// The window is refilled in place, even by a read that fails: the last record read survives it.
TEST(LasReader, LastRecordSurvivesAFailedRead) {
    TempDir dir;
    const auto path = dir / "t.las";
    LasTestHeader h;
    const std::string file = makeLasFile(h, numberedRecords(100));
    for (bool runs : {false, true}) {
        SCOPED_TRACE(runs ? "readRecords" : "readNext");
        writeFile(path, file);
        LasBinaryPointReader reader;
        std::string error;
        ASSERT_TRUE(reader.open(path.string(), &error));
        std::filesystem::resize_file(path, 227 + 20 * 70 + 5);
        CloudPoint p;
        const std::uint8_t* run = nullptr;
        std::size_t count = 0;
        const auto read = [&] {
            return runs ? reader.readRecords(run, count, &error) : reader.readNext(p, &error);
        };
        ASSERT_TRUE(reader.seekToRecord(69));
        ASSERT_TRUE(read());   // the window holds record 69 alone
        EXPECT_FALSE(read());  // and gets 5 bytes of record 70 over it
        EXPECT_EQ(error, "LasBinaryPointReader: failed to read point record.");
        EXPECT_EQ(reader.nextPointIndex(), 70U);
        EXPECT_EQ(std::string(reader.record().begin(), reader.record().end()),
                  file.substr(227 + 69 * 20, 20));
    }
}

// Damaged files are refused at open, naming the fault; none is read as if whole.
TEST(LasReader, DamagedFilesAreRefused) {
    TempDir dir;
    LasTestHeader h;
    h.legacyCount = 10;
    const std::string whole = makeLasFile(h, numberedRecords(10));  // 227 + 10 * 20 bytes
    auto with = [](LasTestHeader header, std::size_t records) {
        return makeLasFile(header, numberedRecords(records));
    };
    auto legacy = [&](std::uint32_t count) {
        LasTestHeader c = h;
        c.legacyCount = count;
        return with(c, 10);
    };
    auto wide = [&](std::uint64_t count) {
        LasTestHeader c = h;
        c.versionMinor = 4;
        c.headerSize = 375;
        c.offsetToPointData = 375;
        c.formatByte = 6;
        c.recordLength = 30;
        c.wideCount = count;
        return with(c, 10);
    };
    auto format = [&](std::uint8_t f, std::uint16_t length) {
        LasTestHeader c = h;
        c.formatByte = f;
        c.recordLength = length;
        return with(c, 10);
    };
    auto scaled = [&](int axis, double scale, double offset) {
        LasTestHeader c = h;
        c.scale[axis] = scale;
        c.offset[axis] = offset;
        return with(c, 10);
    };
    auto version = [&](std::uint8_t minor, std::uint16_t headerSize, std::uint32_t offset) {
        LasTestHeader c = h;
        c.versionMinor = minor;
        c.headerSize = headerSize;
        c.offsetToPointData = offset;
        return with(c, 10);
    };
    std::string lyingLength = format(2, 26);
    lastest::put<std::uint16_t>(lyingLength, 105, 65535);
    const auto cut = [](const std::string& promised, const std::string& held) {
        return "LasBinaryPointReader: LAS file is truncated: the header says " + promised +
               " points, the file holds " + held + ".";
    };
    const std::string laz = "LasBinaryPointReader: compressed (LAZ) point data is not supported.";
    const std::pair<std::string, std::string> cases[] = {
        {whole.substr(0, 100), "LasBinaryPointReader: failed to read LAS header."},
        {whole.substr(0, 170), "LasBinaryPointReader: failed to read scale/offset values."},
        {whole.substr(0, 227), "LasBinaryPointReader: invalid point data offset."},
        {whole.substr(0, 227 + 30), cut("10", "1")},
        {whole.substr(0, whole.size() - 1), cut("10", "9")},
        {legacy(20), cut("20", "10")},
        {legacy(11), cut("11", "10")},
        {legacy(0xFFFFFFFFu), cut("4294967295", "10")},
        {wide(30), cut("30", "10")},
        {wide(std::uint64_t{1} << 63), cut("9223372036854775808", "10")},
        {format(2, 20),
         "LasBinaryPointReader: point record length 20 is below the 26 bytes of point format 2."},
        {format(6, 20),
         "LasBinaryPointReader: point record length 20 is below the 30 bytes of point format 6."},
        {format(3, 30),
         "LasBinaryPointReader: point record length 30 is below the 34 bytes of point format 3."},
        // A record length the file does not have leaves too few records.
        {lyingLength, cut("10", "0")},
        {scaled(1, NAN, 0.0), "LasBinaryPointReader: invalid scale factor."},
        {scaled(2, 0.0, 0.0), "LasBinaryPointReader: invalid scale factor."},
        {scaled(0, 0.01, INFINITY), "LasBinaryPointReader: invalid offset."},
        // Compressed records, whole in number: LASzip sets bit 7 and often bit 6.
        {format(0x83, 34), laz},
        {format(0xC3, 34), laz},
        {format(0x46, 30), laz},
        {version(2, 226, 227),
         "LasBinaryPointReader: header size 226 is below the 227 bytes of LAS 1.2."},
        {version(0, 100, 227),
         "LasBinaryPointReader: header size 100 is below the 227 bytes of LAS 1.0."},
        {version(3, 226, 300),
         "LasBinaryPointReader: header size 226 is below the 227 bytes of LAS 1.3."},
        {version(4, 227, 375),
         "LasBinaryPointReader: header size 227 is below the 375 bytes of LAS 1.4."},
        {version(4, 374, 375),
         "LasBinaryPointReader: header size 374 is below the 375 bytes of LAS 1.4."},
        {version(2, 227, 226),
         "LasBinaryPointReader: point data offset 226 lies inside the 227-byte header."},
        {version(4, 375, 300),
         "LasBinaryPointReader: point data offset 300 lies inside the 375-byte header."},
    };
    const auto path = (dir / "d.las").string();
    for (const auto& [bytes, error] : cases) {
        writeFile(path, bytes);
        EXPECT_EQ(openError(path), error);
    }

    // Not regular files: a FIFO without a writer (must not block), a link to a device, a folder.
    ASSERT_EQ(::mkfifo((dir / "fifo.las").c_str(), 0600), 0);
    if (!testsupport::makeZeroDevice(dir / "zero-node")) {
        ASSERT_EQ(::mkfifo((dir / "zero-node").c_str(), 0600), 0);
    }
    std::filesystem::create_symlink(dir / "zero-node", dir / "zero.las");
    std::filesystem::create_directory(dir / "folder.las");
    for (const char* name : {"fifo.las", "zero.las", "folder.las"})
        EXPECT_EQ(openError((dir / name).string()), "LasBinaryPointReader: not a regular file.")
            << name;

    // The preview may read what a truncated file holds, and learns that it is truncated.
    writeFile(path, legacy(20));
    LasBinaryPointReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(path, &error, true)) << error;
    EXPECT_TRUE(reader.truncated());
    EXPECT_EQ(reader.headerPointCount(), 20U);
    EXPECT_EQ(reader.pointCount(), 10U);
    writeFile(path, whole);
    ASSERT_TRUE(reader.open(path, &error, true)) << error;
    EXPECT_FALSE(reader.truncated());
    // It still needs one whole record, and never reads compressed ones, which take fewer bytes
    // than their count promises.
    writeFile(path, makeLasFile(h, {}) + std::string(19, 'x'));
    EXPECT_FALSE(reader.open(path, &error, true));
    EXPECT_EQ(error, cut("10", "0"));
    writeFile(path, format(0x83, 34).substr(0, 227 + 100));
    EXPECT_FALSE(reader.open(path, &error, true));
    EXPECT_EQ(error, laz);
}

// Every point format reads its smallest record and refuses one a byte shorter.
TEST(LasReader, EachPointFormatNeedsItsMinimumRecordLength) {
    TempDir dir;
    const auto path = (dir / "m.las").string();
    const std::uint16_t minimum[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
    for (std::uint8_t f = 0; f < 11; ++f) {
        SCOPED_TRACE(static_cast<int>(f));
        LasTestHeader h;
        h.formatByte = f;
        h.legacyCount = 3;
        h.recordLength = minimum[f];
        writeFile(path, makeLasFile(h, numberedRecords(3)));
        LasBinaryPointReader reader;
        std::string error;
        EXPECT_TRUE(reader.open(path, &error)) << error;
        --h.recordLength;
        writeFile(path, makeLasFile(h, numberedRecords(3)));
        const std::string shortText = "LasBinaryPointReader: point record length " +
                                      std::to_string(h.recordLength) + " is below the " +
                                      std::to_string(minimum[f]) + " bytes of point format " +
                                      std::to_string(f) + ".";
        EXPECT_EQ(openError(path),
                  f == 0 ? "LasBinaryPointReader: invalid point record length." : shortText);
    }
}

TEST(LasReader, AnUnreadableFileSaysWhy) {
    TempDir dir;
    const auto path = (dir / "locked.las").string();
    writeFile(path, makeLasFile(LasTestHeader{}, numberedRecords(3)));
    std::filesystem::permissions(path, std::filesystem::perms::owner_write);
    std::string why;
    const auto error = testsupport::runWithoutRoot(
        [&] {
            LasBinaryPointReader reader;
            std::string text;
            reader.open(path, &text);
            return text;
        },
        &why);
    if (!error) GTEST_SKIP() << why;
    EXPECT_EQ(*error, "LasBinaryPointReader: cannot open LAS file (Permission denied).");
}
