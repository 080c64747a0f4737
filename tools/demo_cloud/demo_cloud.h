#pragma once

// A synthetic survey site (about 60 m x 60 m: sloping, gently undulating ground, box buildings,
// trees and a little noise) written as XYZ ASCII, LAS or E57. The same seed gives the same
// points, in the same order, in every format and on every machine: the generator has its own PRNG
// and uses only correctly rounded arithmetic (no libm transcendentals), and every coordinate is an
// integer number of millimetres from the site origin before it is written.
//
// Points are drawn in fixed blocks, each from its own seed derived from the run's seed and the
// block number, so blocks can be generated on several threads and the file is still the same
// whatever the thread count. Blocks are written in order as they are done; memory stays a few
// blocks for any point count (E57: two scans of about a million points, see writeDemoE57). The
// posed E57 formats hold the same site as eight scans, each in its own station's frame under a
// pose, with float intensity and a photo per scan; e57spherical stores them as range and angles.

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <future>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include <E57SimpleWriter.h>

#include "export/e57_output_writer.h"
#include "points/input/exception_text.h"
#include "points/input/las_header.h"

namespace democloud {

enum class DemoFormat {
    Xyz3,
    Xyz4,
    Xyz6,
    Xyz7,
    XyzMixed,
    Las12Format0,
    Las12Format2,
    Las14Format6,
    E57Rgb,
    E57Scans,
    E57Spherical
};

struct DemoFormatName {
    std::string_view name;
    DemoFormat format;
};

inline constexpr std::array<DemoFormatName, 11> kDemoFormatNames{{
    {"xyz3", DemoFormat::Xyz3},
    {"xyz4", DemoFormat::Xyz4},
    {"xyz6", DemoFormat::Xyz6},
    {"xyz7", DemoFormat::Xyz7},
    {"xyzmixed", DemoFormat::XyzMixed},
    {"las12-0", DemoFormat::Las12Format0},
    {"las12-2", DemoFormat::Las12Format2},
    {"las14-6", DemoFormat::Las14Format6},
    {"e57rgb", DemoFormat::E57Rgb},
    {"e57scans", DemoFormat::E57Scans},
    {"e57spherical", DemoFormat::E57Spherical},
}};

inline bool parseDemoFormat(std::string_view text, DemoFormat& out) {
    for (const auto& entry : kDemoFormatNames) {
        if (entry.name == text) {
            out = entry.format;
            return true;
        }
    }
    return false;
}

inline bool isLasFormat(DemoFormat format) {
    return format == DemoFormat::Las12Format0 || format == DemoFormat::Las12Format2 ||
           format == DemoFormat::Las14Format6;
}

inline bool isE57Format(DemoFormat format) {
    return format == DemoFormat::E57Rgb || format == DemoFormat::E57Scans ||
           format == DemoFormat::E57Spherical;
}

// Site origin in a projected-looking frame; local coordinates are metres east, north and up of it.
inline constexpr double kOriginX = 500000.0;
inline constexpr double kOriginY = 5400000.0;
inline constexpr double kOriginZ = 100.0;
inline constexpr std::int64_t kOriginXMm = 500000000;
inline constexpr std::int64_t kOriginYMm = 5400000000;
inline constexpr std::int64_t kOriginZMm = 100000;
inline constexpr double kSiteSize = 60.0;

// LAS classification codes the site uses.
inline constexpr std::uint8_t kClassGround = 2;
inline constexpr std::uint8_t kClassVegetation = 5;
inline constexpr std::uint8_t kClassBuilding = 6;
inline constexpr std::uint8_t kClassNoise = 7;

struct DemoPoint {
    std::int32_t x = 0;  // millimetres from the origin
    std::int32_t y = 0;
    std::int32_t z = 0;
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    std::uint16_t intensity = 0;
    std::uint8_t classification = 0;
};

class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }  // [0, 1)
    double range(double lo, double hi) { return lo + (hi - lo) * unit(); }
    int jitter(int amplitude) {  // [-amplitude, amplitude]
        return static_cast<int>(next() % static_cast<std::uint64_t>(2 * amplitude + 1)) - amplitude;
    }

private:
    std::uint64_t state_;
};

struct DemoBuilding {
    double x0, y0, x1, y1, height;
    std::uint8_t roofRed, roofGreen, roofBlue;
};

struct DemoTree {
    double x, y, trunkRadius, trunkHeight, crownRadius;
};

inline constexpr std::array<DemoBuilding, 4> kBuildings{{
    {8.0, 8.0, 22.0, 18.0, 9.0, 172, 52, 42},
    {34.0, 6.0, 46.0, 14.0, 6.0, 150, 40, 36},
    {30.0, 36.0, 52.0, 50.0, 12.0, 186, 64, 48},
    {6.0, 40.0, 14.0, 52.0, 4.5, 128, 46, 40},
}};

inline constexpr std::array<DemoTree, 7> kTrees{{
    {27.0, 24.0, 0.22, 3.5, 3.0},
    {55.0, 25.0, 0.18, 2.8, 2.4},
    {20.0, 30.0, 0.25, 4.0, 3.2},
    {48.0, 56.0, 0.20, 3.2, 2.8},
    {4.0, 28.0, 0.15, 2.5, 1.8},
    {57.0, 4.0, 0.20, 3.0, 2.5},
    {24.0, 57.0, 0.17, 2.6, 2.0},
}};

// A smooth periodic bump of period 1 in [-1, 1], made of two parabolas (sine-like, libm-free).
// Written without branches: its argument is random, so a branch would mispredict half the time.
inline double wave(double t) {
    const double f = t - std::floor(t);
    const bool rising = f < 0.5;
    const double h = rising ? f : f - 0.5;
    return (rising ? 16.0 : -16.0) * h * (0.5 - h);
}

// Ground height above the origin at local (x, y): a slope plus gentle undulation, 3 m to 12 m.
inline double groundHeight(double x, double y) {
    return 4.0 + 0.08 * x + 0.03 * y + 0.6 * wave(x * (1.0 / 23.0) + y * (1.0 / 41.0)) +
           0.35 * wave(y * (1.0 / 17.0) - x * (1.0 / 53.0)) + 0.15 * wave((x + y) * (1.0 / 7.3));
}

inline double roofHeight(const DemoBuilding& b) {
    return groundHeight((b.x0 + b.x1) * 0.5, (b.y0 + b.y1) * 0.5) + b.height;
}

inline std::uint8_t colourByte(int value) {
    return static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

inline std::uint16_t intensityValue(int value) {
    return static_cast<std::uint16_t>(value < 0 ? 0 : (value > 65535 ? 65535 : value));
}

inline std::int32_t toMillimetres(double metres) {
    return static_cast<std::int32_t>(std::floor(metres * 1000.0 + 0.5));
}

// Draws the points of the site one by one.
class DemoSiteGenerator {
public:
    explicit DemoSiteGenerator(std::uint64_t seed) : rng_(seed) {}

    DemoPoint next() {
        const double u = rng_.unit();
        if (u < 0.60) return groundOrRoof();
        if (u < 0.78) return wall();
        if (u < 0.80) return trunk();
        if (u < 0.997) return crown();
        return noise();
    }

private:
    DemoPoint make(double x, double y, double z, int r, int g, int b, int intensity,
                   std::uint8_t cls) {
        DemoPoint p;
        p.x = toMillimetres(x);
        p.y = toMillimetres(y);
        p.z = toMillimetres(z);
        p.red = colourByte(r);
        p.green = colourByte(g);
        p.blue = colourByte(b);
        p.intensity = intensityValue(intensity);
        p.classification = cls;
        return p;
    }

    DemoPoint groundOrRoof() {
        const double x = rng_.range(0.0, kSiteSize);
        const double y = rng_.range(0.0, kSiteSize);
        for (const auto& b : kBuildings) {
            if (x >= b.x0 && x <= b.x1 && y >= b.y0 && y <= b.y1) {
                const double z = roofHeight(b) + rng_.range(-0.004, 0.004);
                return make(x, y, z, b.roofRed + rng_.jitter(12), b.roofGreen + rng_.jitter(8),
                            b.roofBlue + rng_.jitter(8), 26000 + rng_.jitter(3000), kClassBuilding);
            }
        }
        const double z = groundHeight(x, y) + rng_.range(-0.01, 0.01);
        // Patches of grass and bare soil.
        const double t = 0.5 + 0.5 * wave(x * 0.045 + y * 0.031 + 0.3 * wave(y * 0.11));
        const int r = static_cast<int>(122.0 + (82.0 - 122.0) * t);
        const int g = static_cast<int>(96.0 + (124.0 - 96.0) * t);
        const int b = static_cast<int>(64.0 + (54.0 - 64.0) * t);
        return make(x, y, z, r + rng_.jitter(12), g + rng_.jitter(12), b + rng_.jitter(10),
                    18000 + rng_.jitter(4000), kClassGround);
    }

    DemoPoint wall() {
        const auto& b = kBuildings[rng_.next() % kBuildings.size()];
        const double w = b.x1 - b.x0;
        const double d = b.y1 - b.y0;
        const double p = rng_.range(0.0, 2.0 * (w + d));
        double x = 0.0;
        double y = 0.0;
        if (p < w) {
            x = b.x0 + p;
            y = b.y0;
        } else if (p < w + d) {
            x = b.x1;
            y = b.y0 + (p - w);
        } else if (p < 2.0 * w + d) {
            x = b.x1 - (p - w - d);
            y = b.y1;
        } else {
            x = b.x0;
            y = b.y1 - (p - 2.0 * w - d);
        }
        x += rng_.range(-0.003, 0.003);
        y += rng_.range(-0.003, 0.003);
        const double foot = groundHeight(x, y);
        const double roof = roofHeight(b);
        const double z = rng_.range(foot, roof);
        // Windows: a grid of dark panes, 1.2 m wide and high, every 3 m along and up the wall.
        const double along = p / 3.0 - std::floor(p / 3.0);
        const double up = (z - foot) / 3.0 - std::floor((z - foot) / 3.0);
        if (along > 0.3 && along < 0.7 && up > 0.3 && up < 0.7 && z < roof - 0.8) {
            return make(x, y, z, 58 + rng_.jitter(6), 68 + rng_.jitter(6), 84 + rng_.jitter(8),
                        6000 + rng_.jitter(1500), kClassBuilding);
        }
        return make(x, y, z, 198 + rng_.jitter(10), 188 + rng_.jitter(10), 168 + rng_.jitter(10),
                    32000 + rng_.jitter(3000), kClassBuilding);
    }

    // A horizontal unit direction, by rejection (no trigonometry).
    void unitCircle(double& dx, double& dy) {
        for (;;) {
            dx = rng_.range(-1.0, 1.0);
            dy = rng_.range(-1.0, 1.0);
            const double r2 = dx * dx + dy * dy;
            if (r2 > 0.01 && r2 <= 1.0) {
                const double r = std::sqrt(r2);
                dx /= r;
                dy /= r;
                return;
            }
        }
    }

    void unitSphere(double& dx, double& dy, double& dz) {
        for (;;) {
            dx = rng_.range(-1.0, 1.0);
            dy = rng_.range(-1.0, 1.0);
            dz = rng_.range(-1.0, 1.0);
            const double r2 = dx * dx + dy * dy + dz * dz;
            if (r2 > 0.01 && r2 <= 1.0) {
                const double r = std::sqrt(r2);
                dx /= r;
                dy /= r;
                dz /= r;
                return;
            }
        }
    }

    DemoPoint trunk() {
        const auto& t = kTrees[rng_.next() % kTrees.size()];
        double dx = 0.0;
        double dy = 0.0;
        unitCircle(dx, dy);
        const double base = groundHeight(t.x, t.y);
        const double z = base + rng_.range(0.0, t.trunkHeight + 0.5 * t.crownRadius);
        return make(t.x + dx * t.trunkRadius, t.y + dy * t.trunkRadius, z, 92 + rng_.jitter(8),
                    62 + rng_.jitter(6), 38 + rng_.jitter(6), 12000 + rng_.jitter(2500),
                    kClassVegetation);
    }

    DemoPoint crown() {
        const auto& t = kTrees[rng_.next() % kTrees.size()];
        const double top = groundHeight(t.x, t.y) + t.trunkHeight;
        const double big = t.crownRadius;
        const double pick = rng_.unit();
        double cx = t.x;
        double cy = t.y;
        double cz = top + 0.8 * big;
        double radius = big;
        if (pick >= 0.8) {
            cx = t.x - 0.4 * big;
            cy = t.y - 0.45 * big;
            cz = top + 1.1 * big;
            radius = 0.6 * big;
        } else if (pick >= 0.6) {
            cx = t.x + 0.55 * big;
            cy = t.y + 0.2 * big;
            cz = top + 0.5 * big;
            radius = 0.65 * big;
        }
        double dx = 0.0;
        double dy = 0.0;
        double dz = 0.0;
        unitSphere(dx, dy, dz);
        // Leaves fill the outer quarter of each blob, lit from above.
        const double r = radius * rng_.range(0.75, 1.0);
        const int light = static_cast<int>(18.0 * dz);
        return make(cx + dx * r, cy + dy * r, cz + dz * r, 46 + light / 2 + rng_.jitter(10),
                    112 + light + rng_.jitter(22), 40 + rng_.jitter(10), 9000 + rng_.jitter(3000),
                    kClassVegetation);
    }

    DemoPoint noise() {
        const double x = rng_.range(0.0, kSiteSize);
        const double y = rng_.range(0.0, kSiteSize);
        const double z = groundHeight(x, y) + rng_.range(0.3, 18.0);
        const int grey = 100 + static_cast<int>(rng_.next() % 61);
        return make(x, y, z, grey, grey, grey, 1000 + static_cast<int>(rng_.next() % 4001),
                    kClassNoise);
    }

    SplitMix64 rng_;
};

struct DemoCloudStats {
    std::uint64_t points = 0;  // good points written
    std::uint64_t badLines =
        0;                    // deliberately malformed lines (xyzmixed; the header line included)
    std::uint64_t bytes = 0;  // size of the finished file
    std::int32_t minX = 0, maxX = 0, minY = 0, maxY = 0, minZ = 0,
                 maxZ = 0;  // millimetres, 0 while none
};

inline void widenBounds(DemoCloudStats& stats, const DemoPoint& p) {
    if (stats.points == 0) {
        stats.minX = stats.maxX = p.x;
        stats.minY = stats.maxY = p.y;
        stats.minZ = stats.maxZ = p.z;
        return;
    }
    stats.minX = std::min(stats.minX, p.x);
    stats.maxX = std::max(stats.maxX, p.x);
    stats.minY = std::min(stats.minY, p.y);
    stats.maxY = std::max(stats.maxY, p.y);
    stats.minZ = std::min(stats.minZ, p.z);
    stats.maxZ = std::max(stats.maxZ, p.z);
}

inline void mergeStats(DemoCloudStats& into, const DemoCloudStats& part) {
    if (part.points > 0) {
        if (into.points == 0) {
            into.minX = part.minX, into.maxX = part.maxX;
            into.minY = part.minY, into.maxY = part.maxY;
            into.minZ = part.minZ, into.maxZ = part.maxZ;
        } else {
            into.minX = std::min(into.minX, part.minX), into.maxX = std::max(into.maxX, part.maxX);
            into.minY = std::min(into.minY, part.minY), into.maxY = std::max(into.maxY, part.maxY);
            into.minZ = std::min(into.minZ, part.minZ), into.maxZ = std::max(into.maxZ, part.maxZ);
        }
    }
    into.points += part.points;
    into.badLines += part.badLines;
    into.bytes += part.bytes;
}

inline std::uint64_t mixBits(std::uint64_t v) {
    v = (v ^ (v >> 30)) * 0xbf58476d1ce4e5b9ULL;
    v = (v ^ (v >> 27)) * 0x94d049bb133111ebULL;
    return v ^ (v >> 31);
}

inline constexpr std::uint64_t kBlockPoints = 32768;

inline std::uint64_t blockSeed(std::uint64_t seed, std::uint64_t block) {
    return mixBits(mixBits(seed) + block);
}

// Absolute coordinate with exactly three decimals, e.g. 500012.345.
inline char* putMillimetres(char* p, std::int64_t mm) {
    if (mm < 0) {
        *p++ = '-';
        mm = -mm;
    }
    p = std::to_chars(p, p + 24, mm / 1000).ptr;
    const int frac = static_cast<int>(mm % 1000);
    p[0] = '.';
    p[1] = static_cast<char>('0' + frac / 100);
    p[2] = static_cast<char>('0' + frac / 10 % 10);
    p[3] = static_cast<char>('0' + frac % 10);
    return p + 4;
}

inline char* putInt(char* p, unsigned value) { return std::to_chars(p, p + 12, value).ptr; }

// One XYZ line of 3, 4, 6 or 7 tokens.
inline char* putXyzLine(char* p, const DemoPoint& pt, int tokens, char sep, bool crlf) {
    p = putMillimetres(p, kOriginXMm + pt.x);
    *p++ = sep;
    p = putMillimetres(p, kOriginYMm + pt.y);
    *p++ = sep;
    p = putMillimetres(p, kOriginZMm + pt.z);
    if (tokens >= 6) {
        *p++ = sep;
        p = putInt(p, pt.red);
        *p++ = sep;
        p = putInt(p, pt.green);
        *p++ = sep;
        p = putInt(p, pt.blue);
    }
    if (tokens == 4 || tokens == 7) {
        *p++ = sep;
        p = putInt(p, pt.intensity);
    }
    if (crlf) *p++ = '\r';
    *p++ = '\n';
    return p;
}

// Lines no XYZ reader may accept; the mixed file cycles through them.
inline constexpr std::array<std::string_view, 9> kBadLines{{
    "1.5 2.5\n",
    "500010.000 5400010.000 105.000 12 34\n",
    "500010,125 5400010,250 105,500\n",
    "500010.000 5400010.000 nan\n",
    "\n",
    "500010.000 5400010.000 105.000 255.0 128 64\n",
    "500010.000 5400010.000 105.000 +10 20 30\n",
    "1 2 3 4 5 6 7 8\n",
    "# scanner export continues\n",
}};
inline constexpr std::string_view kMixedHeaderLine = "X Y Z Red Green Blue Intensity\n";

// In the mixed file every 1000th physical line is bad (line 1 is the header), so a reader that
// samples every 250th line meets some of them too. That puts a bad line before point 998 and then
// before every 999th point; the result is the kind of bad line to write, or -1 for none.
inline constexpr std::uint64_t kMixedBadLineEvery = 1000;
inline int mixedBadLineBefore(std::uint64_t pointIndex) {
    constexpr std::uint64_t first = kMixedBadLineEvery - 2;
    constexpr std::uint64_t step = kMixedBadLineEvery - 1;
    if (pointIndex < first || (pointIndex - first) % step != 0) return -1;
    return static_cast<int>(((pointIndex - first) / step + 1) % kBadLines.size());
}

// Little-endian stores, independent of the host.
inline void putLe(unsigned char* p, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}
inline void putLeF64(unsigned char* p, double value) {
    putLe(p, std::bit_cast<std::uint64_t>(value), 8);
}

struct LasLayout {
    std::uint8_t versionMinor;
    std::uint16_t headerSize;
    std::uint8_t pointFormat;
    std::uint16_t recordLength;
};

inline LasLayout lasLayout(DemoFormat format) {
    switch (format) {
        case DemoFormat::Las12Format2: return {2, las::kHeaderSize12, 2, 26};
        case DemoFormat::Las14Format6: return {4, las::kHeaderSize14, 6, 30};
        default: return {2, las::kHeaderSize12, 0, 20};
    }
}

inline constexpr double kLasScale = 0.001;

// The public header, byte for byte; no variable-length records follow it.
inline std::array<unsigned char, las::kHeaderSize14> lasHeader(const LasLayout& layout,
                                                               const DemoCloudStats& stats) {
    std::array<unsigned char, las::kHeaderSize14> h{};
    std::memcpy(h.data(), "LASF", 4);
    putLe(&h[6], layout.versionMinor >= 4 ? 0x10 : 0,
          2);  // global encoding: WKT bit, required for format 6
    h[las::kVersionMajorAt] = 1;
    h[las::kVersionMinorAt] = layout.versionMinor;
    std::memcpy(&h[las::kSystemIdentifierAt], "BRINDLEWICK DEMO SITE", 21);
    std::memcpy(&h[las::kGeneratingSoftwareAt], "make_demo_cloud", 15);
    putLe(&h[90], 1, 2);     // creation day of year, fixed so files are reproducible
    putLe(&h[92], 2024, 2);  // creation year
    putLe(&h[las::kHeaderSizeAt], layout.headerSize, 2);
    putLe(&h[las::kOffsetToPointDataAt], layout.headerSize, 4);
    putLe(&h[las::kVlrCountAt], 0, 4);
    h[las::kPointFormatAt] = layout.pointFormat;
    putLe(&h[las::kPointRecordLengthAt], layout.recordLength, 2);
    const bool legacy = layout.versionMinor < 4;
    putLe(&h[las::kLegacyPointCountAt], legacy ? stats.points : 0, 4);
    putLe(&h[las::kLegacyPointsByReturnAt], legacy ? stats.points : 0,
          4);  // every point is a single (first) return
    for (int axis = 0; axis < 3; ++axis) putLeF64(&h[las::kScaleAt + 8 * axis], kLasScale);
    putLeF64(&h[las::kOffsetAt], kOriginX);
    putLeF64(&h[las::kOffsetAt + 8], kOriginY);
    putLeF64(&h[las::kOffsetAt + 16], kOriginZ);
    const auto coord = [&](double origin, std::int32_t mm) {
        return stats.points ? origin + mm * kLasScale : 0.0;
    };
    putLeF64(&h[las::kMaxXAt], coord(kOriginX, stats.maxX));
    putLeF64(&h[las::kMinXAt], coord(kOriginX, stats.minX));
    putLeF64(&h[las::kMaxYAt], coord(kOriginY, stats.maxY));
    putLeF64(&h[las::kMinYAt], coord(kOriginY, stats.minY));
    putLeF64(&h[las::kMaxZAt], coord(kOriginZ, stats.maxZ));
    putLeF64(&h[las::kMinZAt], coord(kOriginZ, stats.minZ));
    if (!legacy) {
        // Waveform data start, first extended VLR and extended VLR count stay zero.
        putLe(&h[las::kPointCountAt], stats.points, 8);
        putLe(&h[las::kPointsByReturnAt], stats.points, 8);
    }
    return h;
}

inline unsigned char* putLasRecord(unsigned char* r, const LasLayout& layout, const DemoPoint& p,
                                   std::uint64_t index) {
    std::memset(r, 0, layout.recordLength);
    putLe(r + 0, static_cast<std::uint32_t>(p.x), 4);
    putLe(r + 4, static_cast<std::uint32_t>(p.y), 4);
    putLe(r + 8, static_cast<std::uint32_t>(p.z), 4);
    putLe(r + 12, p.intensity, 2);
    // Scan angle from the position across the site, as from a scanner over its middle.
    const int angleDeg = (p.x - 30000) / 1500;
    if (layout.pointFormat == 6) {
        r[14] = 0x11;  // return 1 of 1
        r[16] = p.classification;
        putLe(r + 18, static_cast<std::uint16_t>(static_cast<std::int16_t>(angleDeg * 1000 / 6)),
              2);
        putLe(r + 20, 1, 2);                                           // point source
        putLeF64(r + 22, 1000.0 + static_cast<double>(index) * 1e-5);  // GPS time
    } else {
        r[14] = 0x09;  // return 1 of 1
        r[15] = p.classification;
        r[16] = static_cast<unsigned char>(static_cast<std::int8_t>(angleDeg));
        putLe(r + 18, 1, 2);  // point source
        if (layout.pointFormat == 2) {
            putLe(r + 20, p.red * 257u, 2);
            putLe(r + 22, p.green * 257u, 2);
            putLe(r + 24, p.blue * 257u, 2);
        }
    }
    return r + layout.recordLength;
}

inline constexpr std::size_t kMaxBytesPerPoint = 160;  // longest XYZ line plus a bad line before it

// The bytes of one block of points, reused from block to block.
struct DemoBlock {
    std::unique_ptr<char[]> bytes{new char[kBlockPoints * kMaxBytesPerPoint]};
    std::size_t used = 0;
    DemoCloudStats stats;
};

inline void generateBlock(DemoFormat format, std::uint64_t seed, std::uint64_t block,
                          std::uint64_t count, DemoBlock& out) {
    static constexpr int kMixedTokens[4] = {3, 4, 6, 7};
    const LasLayout layout = lasLayout(format);
    const bool las = isLasFormat(format);
    const int tokens = format == DemoFormat::Xyz3   ? 3
                       : format == DemoFormat::Xyz4 ? 4
                       : format == DemoFormat::Xyz6 ? 6
                                                    : 7;
    DemoSiteGenerator site(blockSeed(seed, block));
    DemoCloudStats stats;
    char* p = out.bytes.get();
    const std::uint64_t first = block * kBlockPoints;
    for (std::uint64_t i = first; i < first + count; ++i) {
        const DemoPoint pt = site.next();
        widenBounds(stats, pt);
        ++stats.points;
        if (las) {
            p = reinterpret_cast<char*>(
                putLasRecord(reinterpret_cast<unsigned char*>(p), layout, pt, i));
        } else if (format != DemoFormat::XyzMixed) {
            p = putXyzLine(p, pt, tokens, ' ', false);
        } else {
            const int bad = mixedBadLineBefore(i);
            if (bad >= 0) {
                std::memcpy(p, kBadLines[static_cast<std::size_t>(bad)].data(),
                            kBadLines[static_cast<std::size_t>(bad)].size());
                p += kBadLines[static_cast<std::size_t>(bad)].size();
                ++stats.badLines;
            }
            const std::uint64_t bits = mixBits(i ^ seed);
            const char sep = (bits & 0x1c) == 0 ? '\t' : ' ';  // one line in eight
            const bool crlf = (bits & 0xe0) == 0;              // one line in eight
            p = putXyzLine(p, pt, kMixedTokens[bits & 3], sep, crlf);
        }
    }
    out.used = static_cast<std::size_t>(p - out.bytes.get());
    stats.bytes = out.used;
    out.stats = stats;
}

// Big unbuffered writes; remembers the first failure.
class DemoOutputFile {
public:
    DemoOutputFile() = default;
    ~DemoOutputFile() {
        if (file_) std::fclose(file_);
    }
    DemoOutputFile(const DemoOutputFile&) = delete;
    DemoOutputFile& operator=(const DemoOutputFile&) = delete;

    bool open(const std::string& path) {
        file_ = std::fopen(path.c_str(), "wb");
        if (file_) std::setvbuf(file_, nullptr, _IONBF, 0);
        return file_ != nullptr;
    }
    void write(const void* data, std::size_t size) {
        if (ok_ && size > 0 && std::fwrite(data, 1, size, file_) != size) ok_ = false;
    }
    // Rewrites the first bytes once everything else is out.
    void patchStart(const void* data, std::size_t size) {
        if (!ok_ || std::fseek(file_, 0, SEEK_SET) != 0) ok_ = false;
        write(data, size);
    }
    bool finish() {
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        return ok_ && closed;
    }

private:
    std::FILE* file_ = nullptr;
    bool ok_ = true;
};

inline unsigned defaultDemoThreads() {
    const unsigned hardware = std::thread::hardware_concurrency();
    return std::clamp(hardware, 1u, 4u);
}

// Streams every block of the cloud into `out` (the LAS header patched in at the end) and
// returns what was written.
inline DemoCloudStats writeDemoBlocks(DemoOutputFile& out, DemoFormat format, std::uint64_t count,
                                      std::uint64_t seed, unsigned threads) {
    const LasLayout layout = lasLayout(format);
    const bool las = isLasFormat(format);
    DemoCloudStats stats;
    const std::array<unsigned char, las::kHeaderSize14> placeholder{};
    if (las) {
        out.write(placeholder.data(), layout.headerSize);
        stats.bytes = layout.headerSize;
    } else if (format == DemoFormat::XyzMixed) {
        out.write(kMixedHeaderLine.data(), kMixedHeaderLine.size());
        stats.bytes = kMixedHeaderLine.size();
        stats.badLines = 1;
    }
    // Two sets of blocks: one being generated while the other is written.
    const std::uint64_t blocks = (count + kBlockPoints - 1) / kBlockPoints;
    std::vector<DemoBlock> sets[2];
    sets[0].resize(threads);
    sets[1].resize(threads);
    const auto launch = [&](std::uint64_t firstBlock, std::vector<DemoBlock>& set) {
        std::vector<std::future<void>> jobs;
        for (unsigned k = 0; k < threads && firstBlock + k < blocks; ++k) {
            const std::uint64_t block = firstBlock + k;
            const std::uint64_t n =
                std::min<std::uint64_t>(kBlockPoints, count - block * kBlockPoints);
            jobs.push_back(std::async(std::launch::async, [&, block, n, k] {
                generateBlock(format, seed, block, n, set[k]);
            }));
        }
        return jobs;
    };
    auto pending = launch(0, sets[0]);
    for (std::uint64_t firstBlock = 0, round = 0; firstBlock < blocks;
         firstBlock += threads, ++round) {
        for (auto& job : pending) job.get();
        const std::size_t done = pending.size();
        std::vector<DemoBlock>& ready = sets[round % 2];
        pending = launch(firstBlock + threads, sets[(round + 1) % 2]);
        for (std::size_t k = 0; k < done; ++k) {
            out.write(ready[k].bytes.get(), ready[k].used);
            mergeStats(stats, ready[k].stats);
        }
    }
    if (las) {
        const auto header = lasHeader(layout, stats);
        out.patchStart(header.data(), layout.headerSize);
    }
    return stats;
}

// E57: double x, y, z and 8-bit colour. The writer takes a scan's arrays whole, so the cloud goes
// out as a run of scans of kE57ScanBlocks blocks each (the last one shorter); one scan is filled
// on the generator threads while the one before it is written.
inline constexpr std::uint64_t kE57ScanBlocks = 32;  // 1,048,576 points

// The same decimal as the XYZ text: a correctly rounded division of the exact millimetre count.
inline double millimetresToMetres(std::int64_t mm) { return static_cast<double>(mm) / 1000.0; }

struct DemoE57Scan {
    std::vector<double> x, y, z, intensity;
    std::vector<std::uint16_t> red, green, blue;
    std::uint64_t points = 0;
    DemoCloudStats stats;

    void resize(std::size_t n) {
        x.resize(n), y.resize(n), z.resize(n), intensity.resize(n);
        red.resize(n), green.resize(n), blue.resize(n);
    }
};

// Blocks [firstBlock, firstBlock + blocks) of the cloud into scan, spread over the threads.
inline void fillE57Scan(DemoE57Scan& scan, std::uint64_t seed, std::uint64_t firstBlock,
                        std::uint64_t blocks, std::uint64_t count, unsigned threads) {
    const std::uint64_t firstPoint = firstBlock * kBlockPoints;
    scan.points = std::min<std::uint64_t>(blocks * kBlockPoints, count - firstPoint);
    std::vector<DemoCloudStats> parts(threads);
    const auto work = [&](unsigned k) {
        for (std::uint64_t b = k; b < blocks; b += threads) {
            const std::uint64_t at = b * kBlockPoints;
            if (at >= scan.points) break;
            const std::uint64_t n = std::min<std::uint64_t>(kBlockPoints, scan.points - at);
            DemoSiteGenerator site(blockSeed(seed, firstBlock + b));
            DemoCloudStats& stats = parts[k];
            for (std::uint64_t j = at; j < at + n; ++j) {
                const DemoPoint pt = site.next();
                widenBounds(stats, pt);
                ++stats.points;
                scan.x[j] = millimetresToMetres(kOriginXMm + pt.x);
                scan.y[j] = millimetresToMetres(kOriginYMm + pt.y);
                scan.z[j] = millimetresToMetres(kOriginZMm + pt.z);
                scan.red[j] = pt.red;
                scan.green[j] = pt.green;
                scan.blue[j] = pt.blue;
                scan.intensity[j] = static_cast<double>(pt.intensity) / 65535.0;
            }
        }
    };
    std::vector<std::future<void>> jobs;
    for (unsigned k = 1; k < threads; ++k) jobs.push_back(std::async(std::launch::async, work, k));
    work(0);
    for (auto& job : jobs) job.get();
    scan.stats = DemoCloudStats{};
    for (const auto& part : parts) mergeStats(scan.stats, part);
}

inline std::string demoE57ScanGuid(std::uint64_t seed, std::uint64_t index) {
    return "{demo-site-" + std::to_string(seed) + "-scan-" + std::to_string(index) + "}";
}

// Station of scan `index` in the posed formats: turned about the vertical by 0.7 rad per scan
// and set up at one of eight spots over the site, 1.5 m above the origin's height.
inline e57::RigidBodyTransform demoE57StationPose(std::uint64_t index) {
    const double angle = 0.3 + 0.7 * static_cast<double>(index);
    e57::RigidBodyTransform pose;
    pose.rotation.w = std::cos(angle / 2);
    pose.rotation.z = std::sin(angle / 2);
    pose.translation.x = kOriginX + 10.0 + 5.0 * static_cast<double>(index % 8);
    pose.translation.y = kOriginY + 10.0 + 5.0 * static_cast<double>((index * 3) % 8);
    pose.translation.z = kOriginZ + 1.5;
    return pose;
}

// The site points of the scan into its station's own frame (the inverse of its pose), and for
// the spherical format on into range, azimuth and elevation, in place.
inline void toDemoStationFrame(DemoE57Scan& scan, const e57::RigidBodyTransform& pose,
                               bool spherical) {
    const double angle = 2.0 * std::atan2(pose.rotation.z, pose.rotation.w);
    const double c = std::cos(angle), s = std::sin(angle);
    for (std::size_t i = 0; i < scan.points; ++i) {
        const double dx = scan.x[i] - pose.translation.x;
        const double dy = scan.y[i] - pose.translation.y;
        const double dz = scan.z[i] - pose.translation.z;
        double x = c * dx + s * dy, y = -s * dx + c * dy, z = dz;
        if (spherical) {
            const double range = std::sqrt(x * x + y * y + z * z);
            const double azimuth = std::atan2(y, x);
            const double elevation = range > 0 ? std::asin(z / range) : 0.0;
            x = range, y = azimuth, z = elevation;
        }
        scan.x[i] = x, scan.y[i] = y, scan.z[i] = z;
    }
}

inline void writeE57Scan(e57::Writer& writer, DemoE57Scan& scan, std::uint64_t seed,
                         std::uint64_t index, DemoFormat format = DemoFormat::E57Rgb) {
    e57::Data3D h;
    h.guid = demoE57ScanGuid(seed, index);
    h.name = "demo site part " + std::to_string(index + 1);
    h.pointCount = static_cast<std::size_t>(scan.points);
    auto& f = h.pointFields;
    f.pointRangeNodeType = e57::NumericalNodeType::Double;
    f.colorRedField = f.colorGreenField = f.colorBlueField = true;
    h.colorLimits.colorRedMaximum = h.colorLimits.colorGreenMaximum =
        h.colorLimits.colorBlueMaximum = 255;
    e57::Data3DPointsDouble b;
    b.colorRed = scan.red.data();
    b.colorGreen = scan.green.data();
    b.colorBlue = scan.blue.data();
    if (format != DemoFormat::E57Rgb) {
        const bool spherical = format == DemoFormat::E57Spherical;
        h.pose = demoE57StationPose(index);
        toDemoStationFrame(scan, h.pose, spherical);
        f.intensityField = true;  // a 32-bit float node, as scanners store it
        h.intensityLimits.intensityMaximum = 1.0;
        b.intensity = scan.intensity.data();
        if (spherical) {
            f.sphericalRangeField = f.sphericalAzimuthField = f.sphericalElevationField = true;
            f.angleNodeType = e57::NumericalNodeType::Double;
            b.sphericalRange = scan.x.data();
            b.sphericalAzimuth = scan.y.data();
            b.sphericalElevation = scan.z.data();
            writer.WriteData3DData(h, b);
            return;
        }
        f.cartesianXField = f.cartesianYField = f.cartesianZField = true;
        b.cartesianX = scan.x.data();
        b.cartesianY = scan.y.data();
        b.cartesianZ = scan.z.data();
        const auto [minX, maxX] = std::minmax_element(scan.x.begin(), scan.x.begin() + scan.points);
        const auto [minY, maxY] = std::minmax_element(scan.y.begin(), scan.y.begin() + scan.points);
        const auto [minZ, maxZ] = std::minmax_element(scan.z.begin(), scan.z.begin() + scan.points);
        h.cartesianBounds.xMinimum = *minX, h.cartesianBounds.xMaximum = *maxX;
        h.cartesianBounds.yMinimum = *minY, h.cartesianBounds.yMaximum = *maxY;
        h.cartesianBounds.zMinimum = *minZ, h.cartesianBounds.zMaximum = *maxZ;
        writer.WriteData3DData(h, b);
        return;
    }
    f.cartesianXField = f.cartesianYField = f.cartesianZField = true;
    const DemoCloudStats& s = scan.stats;
    h.cartesianBounds.xMinimum = millimetresToMetres(kOriginXMm + s.minX);
    h.cartesianBounds.xMaximum = millimetresToMetres(kOriginXMm + s.maxX);
    h.cartesianBounds.yMinimum = millimetresToMetres(kOriginYMm + s.minY);
    h.cartesianBounds.yMaximum = millimetresToMetres(kOriginYMm + s.maxY);
    h.cartesianBounds.zMinimum = millimetresToMetres(kOriginZMm + s.minZ);
    h.cartesianBounds.zMaximum = millimetresToMetres(kOriginZMm + s.maxZ);
    b.cartesianX = scan.x.data();
    b.cartesianY = scan.y.data();
    b.cartesianZ = scan.z.data();
    writer.WriteData3DData(h, b);
}

// One small photograph per scan of the posed formats, tied to its scan: a JPEG-framed blob of
// 2 KiB (no decoder reads it; the routes copy blobs as they are).
inline void writeDemoE57Photo(e57::Writer& writer, std::uint64_t seed, std::uint64_t index) {
    std::string blob(2048, '\0');
    SplitMix64 bytes(blockSeed(seed, 1000000 + index));
    for (char& c : blob) c = static_cast<char>(bytes.next() & 0xFF);
    blob[0] = '\xFF', blob[1] = '\xD8', blob[blob.size() - 2] = '\xFF', blob.back() = '\xD9';
    e57::Image2D image;
    image.guid = "{demo-site-" + std::to_string(seed) + "-photo-" + std::to_string(index) + "}";
    image.name = "photo of scan " + std::to_string(index + 1);
    image.associatedData3DGuid = demoE57ScanGuid(seed, index);
    image.pose = demoE57StationPose(index);
    image.visualReferenceRepresentation.jpegImageSize = static_cast<std::int64_t>(blob.size());
    image.visualReferenceRepresentation.imageWidth = 64;
    image.visualReferenceRepresentation.imageHeight = 48;
    writer.WriteImage2DData(image, e57::ImageJPEG, e57::ProjectionVisual, 0, blob.data(),
                            static_cast<std::int64_t>(blob.size()));
}

// The posed formats split the cloud over this many stations.
inline constexpr std::uint64_t kE57Stations = 8;

// Writes the whole cloud to path as scans of scanBlocks blocks (the posed formats: eight scans
// and a photo each); throws on failure (the writer's exceptions included). Two scans are held at
// a time, whatever the point count.
inline DemoCloudStats writeDemoE57(const std::string& path, std::uint64_t count, std::uint64_t seed,
                                   unsigned threads, std::uint64_t scanBlocks = kE57ScanBlocks,
                                   DemoFormat format = DemoFormat::E57Rgb) {
    if (format != DemoFormat::E57Rgb)
        scanBlocks = ((count + kBlockPoints - 1) / kBlockPoints + kE57Stations - 1) / kE57Stations;
    if (scanBlocks == 0) scanBlocks = 1;
    e57::WriterOptions options;
    options.guid = "{demo-site-" + std::to_string(seed) + "}";
    // A failed write leaves the file open; the disposer closes it without the library's
    // destructor ending the process.
    const E57WriterPtr writer = openE57Writer(path, options);
    const std::uint64_t blocks = (count + kBlockPoints - 1) / kBlockPoints;
    const std::uint64_t scans = (blocks + scanBlocks - 1) / scanBlocks;
    DemoE57Scan sets[2];
    const std::size_t capacity =
        static_cast<std::size_t>(std::min(count, scanBlocks * kBlockPoints));
    sets[0].resize(capacity);
    if (scans > 1) sets[1].resize(capacity);
    DemoCloudStats stats;
    fillE57Scan(sets[0], seed, 0, scanBlocks, count, threads);
    for (std::uint64_t s = 0; s < scans; ++s) {
        DemoE57Scan& ready = sets[s % 2];
        std::future<void> next;
        if (s + 1 < scans) {
            DemoE57Scan& other = sets[(s + 1) % 2];
            next = std::async(std::launch::async, [&, s] {
                fillE57Scan(other, seed, (s + 1) * scanBlocks, scanBlocks, count, threads);
            });
        }
        try {
            writeE57Scan(*writer, ready, seed, s, format);
        } catch (...) {
            if (next.valid()) next.wait();  // the filler still uses the other set
            throw;
        }
        mergeStats(stats, ready.stats);
        if (next.valid()) next.get();
    }
    if (format != DemoFormat::E57Rgb)
        for (std::uint64_t s = 0; s < scans; ++s) writeDemoE57Photo(*writer, seed, s);
    if (!writer->Close()) throw std::runtime_error("the E57 writer did not close " + path);
    stats.bytes = std::filesystem::file_size(path);
    return stats;
}

// Writes `count` points of the site to `path` (through a ".partial" file that replaces `path` only
// when complete), generating on `threads` threads (0: a default). Returns false with a message on
// failure; a failed run leaves no file behind.
inline bool writeDemoCloud(const std::string& path, DemoFormat format, std::uint64_t count,
                           std::uint64_t seed, DemoCloudStats* statsOut, std::string* error,
                           unsigned threads = 0) {
    const auto fail = [&](const std::string& message) {
        if (error) *error = message;
        return false;
    };
    if (path.empty()) return fail("no output path given");
    const LasLayout layout = lasLayout(format);
    const bool las = isLasFormat(format);
    if (las && layout.versionMinor < 4 && count > std::numeric_limits<std::uint32_t>::max())
        return fail("LAS 1.2 holds at most 4294967295 points; use las14-6 for more");
    if (threads == 0) threads = defaultDemoThreads();

    const std::string partial = path + ".partial";
    DemoCloudStats stats;
    if (isE57Format(format)) {
        try {
            stats = writeDemoE57(partial, count, seed, threads, kE57ScanBlocks, format);
        } catch (const std::exception& e) {  // cannot create or write it, or no memory or thread
            std::error_code ignored;
            std::filesystem::remove(partial, ignored);
            return fail("cannot write " + partial + ": " + exceptionText(e));
        }
    } else {
        DemoOutputFile out;
        if (!out.open(partial)) return fail("cannot create " + partial);
        try {
            stats = writeDemoBlocks(out, format, count, seed, threads);
        } catch (const std::exception& e) {  // no memory for the blocks, or no thread to fill them
            out.finish();
            std::error_code ignored;
            std::filesystem::remove(partial, ignored);
            return fail(std::string("cannot generate the cloud: ") + exceptionText(e));
        }
        if (!out.finish()) {
            std::error_code ignored;
            std::filesystem::remove(partial, ignored);
            return fail("failed while writing " + partial + " (disk full?)");
        }
    }
    std::error_code ec;
    std::filesystem::rename(partial, path, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        return fail("cannot move " + partial + " to " + path + ": " + ec.message());
    }
    if (statsOut) *statsOut = stats;
    if (error) error->clear();
    return true;
}

}  // namespace democloud
