#pragma once

// One fuzz input: open the bytes as an E57 file and read everything in it. Shared by the
// libFuzzer target and the corpus replay test.

#include <E57SimpleReader.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace e57fuzz {

// Records decoded per scan at most, so that a legal but enormous zero-bit vector stays quick.
constexpr std::uint64_t kMaxRecordsPerScan = 1u << 20;
constexpr std::int64_t kMaxBlobBytes = 16 << 20;

template <typename C>
inline void readPoints(const e57::Reader& r, std::int64_t scan, const e57::Data3D& h,
                       std::size_t capacity) {
    std::vector<C> x(capacity), y(capacity), z(capacity), range(capacity), az(capacity),
        el(capacity);
    std::vector<double> intensity(capacity), time(capacity);
    std::vector<std::uint16_t> red(capacity), green(capacity), blue(capacity);
    std::vector<std::int8_t> flags[7];
    for (auto& f : flags) f.resize(capacity);
    std::vector<std::int32_t> row(capacity), col(capacity);
    std::vector<float> nx(capacity), ny(capacity), nz(capacity);
    e57::Data3DPointsData_t<C> b;
    const auto& f = h.pointFields;
    // Some buffers are given even for absent fields: the reader must skip them safely.
    b.cartesianX = x.data();
    b.cartesianY = y.data();
    b.cartesianZ = z.data();
    if (f.sphericalRangeField) b.sphericalRange = range.data();
    b.sphericalAzimuth = az.data();
    b.sphericalElevation = el.data();
    b.intensity = intensity.data();
    b.timeStamp = time.data();
    b.colorRed = red.data();
    b.colorGreen = green.data();
    b.colorBlue = blue.data();
    b.cartesianInvalidState = flags[0].data();
    b.sphericalInvalidState = flags[1].data();
    b.isIntensityInvalid = flags[2].data();
    b.isColorInvalid = flags[3].data();
    b.isTimeStampInvalid = flags[4].data();
    b.returnIndex = flags[5].data();
    b.returnCount = flags[6].data();
    b.rowIndex = row.data();
    b.columnIndex = col.data();
    b.normalX = nx.data();
    b.normalY = ny.data();
    b.normalZ = nz.data();
    try {
        e57::CompressedVectorReader cv = r.SetUpData3DPointsData(scan, capacity, b);
        std::uint64_t total = 0;
        unsigned n = 0;
        while (total < kMaxRecordsPerScan && (n = cv.read()) > 0) {
            if (n > capacity) __builtin_trap();
            total += n;
        }
        cv.close();
    } catch (const e57::E57Exception&) {
    }
}

inline void readEverything(const std::string& path, int checksumPolicy) {
    e57::ReaderOptions options;
    options.checksumPolicy = checksumPolicy;
    e57::Reader r(path, options);
    e57::E57Root root;
    try {
        r.GetE57Root(root);
    } catch (const e57::E57Exception&) {
    }
    const std::int64_t scans = r.GetData3DCount();
    for (std::int64_t i = 0; i < scans && i < 64; ++i) {
        e57::Data3D h;
        try {
            if (!r.ReadData3D(i, h)) continue;
        } catch (const e57::E57Exception&) {
            continue;
        }
        const std::size_t capacity =
            1 + static_cast<std::size_t>(std::min<std::uint64_t>(h.pointCount, 700));
        if (i % 2 == 0)
            readPoints<double>(r, i, h, capacity);
        else
            readPoints<float>(r, i, h, capacity);
    }
    const std::int64_t images = r.GetImage2DCount();
    for (std::int64_t i = 0; i < images && i < 64; ++i) {
        try {
            e57::Image2D im;
            r.ReadImage2D(i, im);
            e57::Image2DProjection proj{};
            e57::Image2DType type{}, mask{}, visual{};
            std::int64_t w = 0, h = 0, size = 0;
            if (!r.GetImage2DSizes(i, proj, type, w, h, size, mask, visual)) continue;
            if (size > 0 && size <= kMaxBlobBytes) {
                std::vector<unsigned char> blob(static_cast<std::size_t>(size));
                if (r.ReadImage2DData(i, proj, type, blob.data(), 0, size) != size)
                    __builtin_trap();
            }
            if (mask == e57::ImageMaskPNG) {
                unsigned char byte = 0;
                r.ReadImage2DData(i, proj, e57::ImageMaskPNG, &byte, 0, 1);
            }
        } catch (const e57::E57Exception&) {
        }
    }
    r.Close();
}

// Runs one input; never throws E57Exception.
inline void runInput(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("e57-fuzz-input", MFD_CLOEXEC);
    if (fd < 0) return;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    // Without checksums, so that mutations reach the parsers; then with them, as users open files.
    for (int policy : {e57::ChecksumNone, e57::ChecksumAll}) {
        try {
            readEverything(path, policy);
        } catch (const e57::E57Exception&) {
        }
    }
    ::close(fd);
}

}  // namespace e57fuzz
