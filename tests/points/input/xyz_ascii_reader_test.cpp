#include "points/input/xyz_ascii_reader.h"

#include "points/input/xyz_line_grammar.h"
#include "support/other_user.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

bool parses(const std::string& line) {
    CloudPoint p;
    return parseXyzLine(line, p);
}

// What the reader must yield, from a plain split of the whole text.
struct Reference {
    std::vector<CloudPoint> points;
    std::vector<std::uint64_t> endOffsets;  // file offset just past each accepted point's line
    std::uint64_t lines = 0;
    std::uint64_t badLines = 0;
};

Reference referenceParse(const std::string& text, std::uint64_t step) {
    Reference ref;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        const std::size_t stop = nl == std::string::npos ? text.size() : nl;
        const std::size_t next = nl == std::string::npos ? text.size() : nl + 1;
        ++ref.lines;
        if (ref.lines % step == 0) {
            CloudPoint p;
            if (parseXyzLine(std::string_view(text).substr(start, stop - start), p)) {
                ref.points.push_back(p);
                ref.endOffsets.push_back(next);
            } else {
                ++ref.badLines;
            }
        }
        start = next;
    }
    return ref;
}

bool samePoint(const CloudPoint& a, const CloudPoint& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.red == b.red && a.green == b.green &&
           a.blue == b.blue && a.intensity == b.intensity && a.hasRGB == b.hasRGB &&
           a.hasIntensity == b.hasIntensity;
}

// Reads the whole file (sampled when step > 1) and compares every point, offset and count.
void expectMatchesReference(const std::string& path, const std::string& text, std::size_t block,
                            std::uint64_t step) {
    SCOPED_TRACE("block=" + std::to_string(block) + " step=" + std::to_string(step));
    const Reference ref = referenceParse(text, step);
    XyzAsciiPointReader reader(1.0, block);
    std::string error;
    ASSERT_TRUE(reader.open(path, &error)) << error;
    CloudPoint p;
    std::size_t n = 0;
    bool same = true;
    while (step > 1 ? reader.readNextSampled(step, p, &error) : reader.readNext(p, &error)) {
        if (n >= ref.points.size()) {
            same = false;
            break;
        }
        same = same && samePoint(p, ref.points[n]) && reader.readPosition() == ref.endOffsets[n];
        ++n;
    }
    EXPECT_TRUE(same);
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_EQ(n, ref.points.size());
    EXPECT_EQ(reader.lineNumber(), ref.lines);
    EXPECT_EQ(reader.badLines(), ref.badLines);
    EXPECT_EQ(reader.acceptedPoints(), ref.points.size());
    EXPECT_EQ(reader.readPosition(), text.size());
    EXPECT_TRUE(reader.eof());
    const PointReaderSummary s = reader.summary();
    EXPECT_TRUE(s.complete);
    EXPECT_EQ(s.hasBounds, !ref.points.empty());
    EXPECT_EQ(s.boundsValid, s.hasBounds);
}

}  // namespace

struct Parsed {
    const char* line;
    double x, y, z;
    bool rgb, intensity;
    int red, green, blue;
    double value;  // intensity
};

void expectParsed(const Parsed& c) {
    SCOPED_TRACE(std::string("\"") + c.line + "\"");
    CloudPoint p;
    ASSERT_TRUE(parseXyzLine(c.line, p));
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
    EXPECT_EQ(p.z, c.z);
    EXPECT_EQ(p.hasRGB, c.rgb);
    EXPECT_EQ(p.hasIntensity, c.intensity);
    EXPECT_EQ(p.red, c.red);
    EXPECT_EQ(p.green, c.green);
    EXPECT_EQ(p.blue, c.blue);
    EXPECT_EQ(p.intensity, c.value);
}

TEST(XyzLineGrammar, TokenCountsFieldsAndNumbers) {
    const Parsed cases[] = {
        {"1 2 3", 1, 2, 3, false, false, 0, 0, 0, 0},
        {"\t1\t2\t3\r", 1, 2, 3, false, false, 0, 0, 0, 0},
        {"  1  2   3 \t ", 1, 2, 3, false, false, 0, 0, 0, 0},
        {"1 2 3 300 -5 128 7.5", 1, 2, 3, true, true, 255, 0, 128, 7.5},  // colour clamped
        {"1 2 3 0.25", 1, 2, 3, false, true, 0, 0, 0, 0.25},
        {"1 2 3 10 20 30", 1, 2, 3, true, false, 10, 20, 30, 0},
        {"1.5e3 .5 -0.125", 1500, 0.5, -0.125, false, false, 0, 0, 0, 0},
        {"1E-2 5. -7", 0.01, 5, -7, false, false, 0, 0, 0, 0},
        // Values the short-cut path and the general conversion must agree on.
        {"0.1 123456.789012 9007199254740993", 0.1, 123456.789012, 9007199254740992.0, false, false,
         0, 0, 0, 0},
        {"0.30000000000000004441 1234567890123456789 1", 0.30000000000000004, 1234567890123456789.0,
         1, false, false, 0, 0, 0, 0},
        {"0 0 0 -2147483648 2147483647 0255", 0, 0, 0, true, false, 0, 255, 255, 0},
        {"0 0 0 -0 256 65535", 0, 0, 0, true, false, 0, 255, 255, 0},  // clamped, not divided
    };
    for (const Parsed& c : cases) expectParsed(c);
    CloudPoint p;
    ASSERT_TRUE(parseXyzLine("1 2 -0.0", p));
    EXPECT_TRUE(std::signbit(p.z));

    for (const char* line :
         {"", "   ", "\r", "1", "1 2", "1 2 3 4 5", "1 2 3 4 5 6 7 8", "1 2 3 4 5 6 7 8 9",
          // whole tokens in the C locale, finite
          "+1 2 3", "1,5 2 3", "1.5m 2 3", "1 2 nan", "1 2 inf", "1 -inf 3", "1 2 3 inf",
          "1 2 3 nan", "1 2 3 4 5 6 NaN", "0x10 2 3", "1e 2 3", "1 2 1e999", "- 2 3", ". 2 3",
          // colour tokens are whole 32-bit integers
          "1 2 3 10 20 255.0", "1 2 3 +10 20 30", "1 2 3 1e2 20 30", "1 2 3 2147483648 0 0",
          "1 2 3 -2147483649 0 0", "1 2 3 - 0 0", "1 2 3 10 20 30 x"})
        EXPECT_FALSE(parses(line)) << '"' << line << '"';
    // A rejected line leaves nothing behind.
    ASSERT_TRUE(parseXyzLine("1 2 3 10 20 30", p));
    EXPECT_FALSE(parseXyzLine("1 2 3 4 5", p));
    EXPECT_EQ(p.x, 0.0);
    EXPECT_FALSE(p.hasRGB);
}

// Short lines take a separate fast path; it must agree with the general one on everything,
// and must ignore whatever lies around a line in the reader's buffer.
TEST(XyzLineGrammar, ShortLinePathAgreesWithTheGeneralPath) {
    std::mt19937 rng(11);
    const std::vector<std::string> shapes = {"1",
                                             "-1",
                                             "12.5",
                                             "-0.125",
                                             "512345.678",
                                             "5400123.4567",
                                             ".5",
                                             "5.",
                                             "-.5",
                                             "+1",
                                             "1e3",
                                             "1.5E-2",
                                             "1,5",
                                             "inf",
                                             "-inf",
                                             "nan",
                                             "0x1f",
                                             "1.2.3",
                                             "--1",
                                             "-",
                                             ".",
                                             "255",
                                             "-7",
                                             "300",
                                             "2147483648",
                                             "-2147483649",
                                             "0255",
                                             "9007199254740993",
                                             "12345678901234567890",
                                             "0.30000000000000004441",
                                             "1234567890.1234567",
                                             "123456789012345678",
                                             "1\v2",
                                             std::string("1\0", 2),
                                             "\x80",
                                             "1-2",
                                             "00000000000012"};
    auto randomDigits = [&rng](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
        return s;
    };
    const char seps[] = {' ', '\t', '\r'};
    int compared = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string line;
        if (rng() % 4 == 0) line += seps[rng() % 3];
        const int tokens = 1 + static_cast<int>(rng() % 9);
        for (int k = 0; k < tokens; ++k) {
            if (k > 0) line.append(1 + rng() % 2, seps[rng() % 3]);
            switch (rng() % 4) {
                case 0: line += shapes[rng() % shapes.size()]; break;
                case 1:
                    line += (rng() % 3 == 0 ? "-" : "") +
                            randomDigits(1 + static_cast<int>(rng() % 12));
                    break;
                default:
                    line += (rng() % 3 == 0 ? "-" : "") +
                            randomDigits(1 + static_cast<int>(rng() % 10)) + "." +
                            randomDigits(static_cast<int>(rng() % 10));
            }
        }
        if (rng() % 4 == 0) line += seps[rng() % 3];
        if (line.size() > 64) continue;
        ++compared;
        CloudPoint a, b, c;
        const bool okA = parseXyzLine(line, a);
        const bool okB =
            parseXyzLine(line + std::string(80 - line.size(), ' '), b);  // general path
        std::string padded = randomDigits(16) + line + randomDigits(64);
        const bool okC =
            parseXyzLineInPaddedBuffer(padded.data() + 16, padded.data() + 16 + line.size(), c);
        ASSERT_EQ(okA, okB) << '"' << line << '"';
        ASSERT_EQ(okA, okC) << '"' << line << '"';
        ASSERT_TRUE(samePoint(a, b) && samePoint(a, c)) << '"' << line << '"';
        ASSERT_EQ(std::signbit(a.x), std::signbit(b.x)) << line;
    }
    EXPECT_GT(compared, 100000);
}

TEST(XyzReader, OpenReadAndSummary) {
    TempDir dir;
    const auto path = (dir / "a.xyz").string();
    writeFile(path, "x y z\n1 2 3\n1 2 3 4 5\n\n-1 5 2 10 20 30\n");
    XyzAsciiPointReader reader(2.0);
    std::string error = "stale";
    CloudPoint p;
    EXPECT_FALSE(reader.readNext(p, &error));
    EXPECT_EQ(error, "XYZ ASCII reader is not open.");
    EXPECT_FALSE(reader.readNextSampled(250, p, &error));
    EXPECT_EQ(error, "XYZ ASCII reader is not open.");

    ASSERT_TRUE(reader.open(path, &error));
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(reader.formatName(), "XYZ ASCII");
    ASSERT_TRUE(reader.readNext(p, &error));
    EXPECT_EQ(p.x, 2.0);
    EXPECT_EQ(p.z, 6.0);
    EXPECT_EQ(reader.lineNumber(), 2U);
    EXPECT_EQ(reader.badLines(), 1U);
    EXPECT_FALSE(reader.summary().complete);
    ASSERT_TRUE(reader.readNext(p, &error));
    EXPECT_EQ(p.x, -2.0);
    EXPECT_EQ(p.red, 10);
    EXPECT_EQ(reader.badLines(), 3U);  // header, five tokens, empty line
    EXPECT_FALSE(reader.readNext(p, &error));
    EXPECT_TRUE(error.empty());
    const PointReaderSummary s = reader.summary();
    EXPECT_EQ(s.acceptedPoints, 2U);
    EXPECT_TRUE(s.complete && s.hasBounds && s.boundsValid && s.sawRGB);
    EXPECT_FALSE(s.sawIntensity);
    EXPECT_EQ(s.minX, -2.0);
    EXPECT_EQ(s.maxX, 2.0);
    EXPECT_EQ(s.minZ, 4.0);
    EXPECT_EQ(s.maxZ, 6.0);
    EXPECT_EQ(s.maxY, 10.0);
    // Reading again stays at the end.
    EXPECT_FALSE(reader.readNext(p, &error));
    EXPECT_TRUE(error.empty());

    // open resets everything.
    ASSERT_TRUE(reader.open(path, &error));
    EXPECT_EQ(reader.lineNumber(), 0U);
    EXPECT_EQ(reader.summary().acceptedPoints, 0U);
    EXPECT_FALSE(reader.eof());
    reader.close();
    EXPECT_FALSE(reader.isOpen());
    EXPECT_EQ(reader.readPosition(), 0U);

    EXPECT_FALSE(reader.open((dir / "none.xyz").string(), &error));
    EXPECT_EQ(error, "Could not open XYZ ASCII file: " + (dir / "none.xyz").string() +
                         " (No such file or directory)");
    EXPECT_FALSE(reader.isOpen());

    for (double bad : {0.0, -3.0, double(NAN), double(INFINITY)})
        EXPECT_EQ(XyzAsciiPointReader(bad).coordScaleToMeters(), 1.0);
}

TEST(XyzReader, OnlyBadLinesAndEmptyFilesAreEmptyClouds) {
    TempDir dir;
    const auto path = (dir / "b.xyz").string();
    // A byte order mark alone is no line.
    const std::pair<std::string, std::uint64_t> cases[] = {
        {"", 0}, {"a b c\n\n1 2\n1 2 3 4 5", 4}, {"\n\n\n", 3}, {"\xEF\xBB\xBF", 0}};
    for (const auto& [text, lines] : cases) {
        writeFile(path, text);
        XyzAsciiPointReader reader;
        std::string error;
        ASSERT_TRUE(reader.open(path, &error));
        CloudPoint p;
        EXPECT_FALSE(reader.readNext(p, &error));
        EXPECT_TRUE(error.empty());
        const PointReaderSummary s = reader.summary();
        EXPECT_TRUE(s.complete);
        EXPECT_FALSE(s.hasBounds);
        EXPECT_FALSE(s.boundsValid);
        EXPECT_EQ(reader.lineNumber(), lines);
        EXPECT_EQ(reader.badLines(), lines);
    }
}

// Anything but a regular file would be read for ever or fail later: refused at open.
TEST(XyzReader, NonRegularFilesAreRefused) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo.xyz").c_str(), 0600), 0);  // no writer: must not block
    if (!testsupport::makeZeroDevice(dir / "zero-node")) {
        ASSERT_EQ(::mkfifo((dir / "zero-node").c_str(), 0600), 0);
    }
    std::filesystem::create_symlink(dir / "zero-node", dir / "zero.xyz");
    std::filesystem::create_directory(dir / "folder.xyz");
    XyzAsciiPointReader reader;
    for (const char* name : {"fifo.xyz", "zero.xyz", "folder.xyz"}) {
        const std::string path = (dir / name).string();
        std::string error;
        EXPECT_FALSE(reader.open(path, &error));
        EXPECT_EQ(error, "XYZ ASCII input is not a regular file: " + path);
        CloudPoint p;
        EXPECT_FALSE(reader.readNext(p, &error));
    }
}

TEST(XyzReader, AnUnreadableFileSaysWhy) {
    TempDir dir;
    const auto path = (dir / "locked.xyz").string();
    writeFile(path, "1 2 3\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_write);
    std::string why;
    const auto error = testsupport::runWithoutRoot(
        [&] {
            XyzAsciiPointReader reader;
            std::string text;
            reader.open(path, &text);
            return text;
        },
        &why);
    if (!error) GTEST_SKIP() << why;
    EXPECT_EQ(*error, "Could not open XYZ ASCII file: " + path + " (Permission denied)");
}

// Editors on Windows start a file with a UTF-8 byte order mark: no part of the first line.
// Anywhere else it is text, which makes a bad line.
TEST(XyzReader, AByteOrderMarkAtTheStartIsSkipped) {
    TempDir dir;
    const auto path = (dir / "bom.xyz").string();
    writeFile(path,
              "\xEF\xBB\xBF"
              "1 2 3\n\xEF\xBB\xBF"
              "4 5 6\n7 8 9");
    for (std::size_t block : {std::size_t{16}, XyzAsciiPointReader::kDefaultBlockBytes}) {
        XyzAsciiPointReader reader(1.0, block);
        std::string error;
        ASSERT_TRUE(reader.open(path, &error));
        CloudPoint p;
        std::vector<double> xs;
        while (reader.readNext(p, &error)) xs.push_back(p.x);
        EXPECT_TRUE(error.empty());
        EXPECT_EQ(xs, (std::vector<double>{1.0, 7.0})) << block;
        EXPECT_EQ(reader.lineNumber(), 3U);
        EXPECT_EQ(reader.badLines(), 1U);
    }
}

TEST(XyzReader, SampledReadsParseOnlyEveryStepthLine) {
    TempDir dir;
    const auto path = (dir / "s.xyz").string();
    std::string text;
    for (int i = 1; i <= 1000; ++i) text += i == 251 ? "garbage\n" : std::to_string(i) + " 0 0\n";
    writeFile(path, text);
    XyzAsciiPointReader reader(1.0, 64);
    std::string error;
    ASSERT_TRUE(reader.open(path, &error));
    CloudPoint p;
    std::vector<double> xs;
    std::vector<std::uint64_t> lines;
    while (reader.readNextSampled(250, p, &error)) {
        xs.push_back(p.x);
        lines.push_back(reader.lineNumber());
    }
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(xs, (std::vector<double>{250, 500, 750, 1000}));
    EXPECT_EQ(lines, (std::vector<std::uint64_t>{250, 500, 750, 1000}));
    EXPECT_EQ(reader.badLines(), 0U);
    EXPECT_EQ(reader.lineNumber(), 1000U);

    // Step 0 and 1 read every line.
    for (std::uint64_t step : {0U, 1U}) {
        ASSERT_TRUE(reader.open(path, &error));
        std::uint64_t n = 0;
        while (reader.readNextSampled(step, p, &error)) ++n;
        EXPECT_EQ(n, 999U);
        EXPECT_EQ(reader.badLines(), 1U);
    }
}

TEST(XyzReader, BlockBoundariesMatchAPlainSplit) {
    TempDir dir;
    const auto path = (dir / "m.xyz").string();
    std::mt19937 rng(7);
    const std::vector<std::string> fragments = {"1 2 3\n",
                                                "10.5\t-2.25\t3e2\r\n",
                                                "4 5 6 7\n",
                                                "1 2 3 300 -5 128 7.5\n",
                                                "bad line\n",
                                                "\n",
                                                "\r\n",
                                                "1 2 3 4 5\n",
                                                "   7 8 9   \n",
                                                "1 2 3 4 5 6 7 8\n",
                                                "0.001 0.002 0.003 1 2 3\n",
                                                "123456.789 98765.4321 12.5 255 255 255 0.5\n",
                                                "1 2 nan\n"};
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        const std::uint32_t r = rng() % 100;
        if (r < 2) {
            // A line longer than any small block: long separator runs or long tokens.
            text += std::string(rng() % 300, ' ') + "1" + std::string(rng() % 300, '\t') + "2 3" +
                    std::string(rng() % 300, ' ') + "\n";
        } else if (r < 3) {
            text += "1." + std::string(rng() % 500, '0') + " 2 3 4\n";
        } else if (r < 4) {
            text += "1 2 3 4 5 6 7 " + std::string(rng() % 400, 'q') + "\n";
        } else {
            text += fragments[rng() % fragments.size()];
        }
    }
    for (const std::string& variant : {text, text + "5 6 7", text.substr(0, text.size() - 1)}) {
        writeFile(path, variant);
        for (std::size_t block :
             {std::size_t{16}, std::size_t{17}, std::size_t{63}, std::size_t{64}, std::size_t{257},
              std::size_t{4096}, XyzAsciiPointReader::kDefaultBlockBytes})
            for (std::uint64_t step : {1U, 2U, 7U, 250U})
                expectMatchesReference(path, variant, block, step);
    }
}

TEST(XyzReader, VeryLongLines) {
    TempDir dir;
    const auto path = (dir / "l.xyz").string();
    // Huge separator runs are not held; the line is still one accepted point.
    std::string text = "1 2 3" + std::string(3u << 20, ' ') + "\n" + "4 5 6 1 2 3 " +
                       std::string(2u << 20, '\t') + "9\n" + std::string(1u << 20, 'x') + " 1 2\n" +
                       "7 8 9";
    writeFile(path, text);
    for (std::size_t block : {std::size_t{4096}, XyzAsciiPointReader::kDefaultBlockBytes})
        for (std::uint64_t step : {1U, 2U}) expectMatchesReference(path, text, block, step);

    // A line without any line end beyond the block, and a token too long to hold, is bad.
    text = "1.0" + std::string(5u << 20, '0') + " 2 3\n4 5 6\n";
    writeFile(path, text);
    XyzAsciiPointReader reader(1.0, 4096);
    std::string error;
    ASSERT_TRUE(reader.open(path, &error));
    CloudPoint p;
    ASSERT_TRUE(reader.readNext(p, &error));
    EXPECT_EQ(p.x, 4.0);
    EXPECT_EQ(reader.lineNumber(), 2U);
    EXPECT_EQ(reader.badLines(), 1U);
    EXPECT_FALSE(reader.readNext(p, &error));
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(reader.readPosition(), text.size());
}

// 20 significant digits do not fit the short path's 64-bit mantissa even when the integer and
// the fraction part each do; such tokens must come out as the general path gives them. A token
// in the short path's last byte (run under the sanitizers) must not shift bit masks out of range.
TEST(XyzLineGrammar, ShortPathLimits) {
    for (const std::string token : {"1845.0000000000000000", "-9999.9999999999999999"}) {
        const std::string line = token + " " + token + " 1";
        CloudPoint shortPath, general, padded;
        ASSERT_TRUE(parseXyzLine(line, shortPath)) << line;
        ASSERT_TRUE(parseXyzLine(line + std::string(80, ' '), general)) << line;
        const std::string buffer = std::string(16, '7') + line + std::string(64, '7');
        ASSERT_TRUE(parseXyzLineInPaddedBuffer(buffer.data() + 16, buffer.data() + 16 + line.size(),
                                               padded));
        EXPECT_EQ(shortPath.x, std::stod(token)) << line;
        EXPECT_TRUE(samePoint(shortPath, general) && samePoint(shortPath, padded)) << line;
    }
    for (const char* end : {"-", "7", "-7"}) {
        std::string line = "1 2 3 4 5 6 ";
        line += std::string(64 - line.size() - std::strlen(end), ' ') + end;
        EXPECT_EQ(parses(line), std::strcmp(end, "-") != 0) << line;
    }
}
