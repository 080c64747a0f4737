#include "e57_reader_stage.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pdal {

using Dimension::Id;

struct E57ReaderStage::Scan {
    int64_t index = 0;
    std::size_t pointCount = 0;
    e57::PointStandardizedFieldsAvailable f;
    bool spherical = false;  // all three spherical fields: coordinates come from them
    bool posed = false;
    double r[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double t[3] = {0, 0, 0};
    float redFactor = 1.0f, greenFactor = 1.0f, blueFactor = 1.0f, intensityFactor = 1.0f;

    bool deliversSomething() const {
        return f.cartesianXField || f.cartesianYField || f.cartesianZField ||
               f.sphericalRangeField || f.sphericalAzimuthField || f.sphericalElevationField ||
               f.intensityField || f.colorRedField || f.colorGreenField || f.colorBlueField ||
               f.cartesianInvalidStateField || f.sphericalInvalidStateField || f.normalXField ||
               f.normalYField || f.normalZField;
    }
};

// Decode buffers of one read, allocated once per stream.
struct E57ReaderStage::Buffers {
    explicit Buffers(std::size_t n)
        : x(n),
          y(n),
          z(n),
          range(n),
          azimuth(n),
          elevation(n),
          intensity(n),
          red(n),
          green(n),
          blue(n),
          cartesianInvalid(n),
          sphericalInvalid(n),
          nx(n),
          ny(n),
          nz(n) {}

    std::vector<double> x, y, z, range, azimuth, elevation, intensity;
    std::vector<uint16_t> red, green, blue;
    std::vector<int8_t> cartesianInvalid, sphericalInvalid;
    std::vector<float> nx, ny, nz;
};

namespace {

// Points per read(), at most a table capacity: the decoded columns, the rows written from them
// and what the later stages do with the rows then all fit in the core's own cache.
constexpr std::size_t kReadBlock = 4096;

// PDAL's rescale factor: the type's maximum over the width of the limits, the minimum not
// subtracted from values. No limits at all means no rescale.
float rescaleFactor(double typeMax, double minimum, double maximum) {
    if (minimum == 0.0 && maximum == 0.0) return 1.0f;
    return static_cast<float>(typeMax / (maximum - minimum));
}

template <typename T>
void storeColumn(char* rows, std::size_t rowSize, std::size_t offset, const T* src, std::size_t n) {
    char* dst = rows + offset;
    for (std::size_t i = 0; i < n; ++i, dst += rowSize) std::memcpy(dst, &src[i], sizeof(T));
}

// Rescaled into uint16, rounded half away from zero; a value that does not fit stays 0.
// Negative products either round to -1 or less (no fit) or to zero, which the row holds already.
inline void storeRescaled(char* dst, double v) {
    if (!(v >= 0.0 && v < 65535.5)) return;
    auto u = static_cast<uint32_t>(v);
    if (v - static_cast<double>(u) >= 0.5) ++u;
    const auto w = static_cast<uint16_t>(u);
    std::memcpy(dst, &w, sizeof w);
}

template <typename T>
void storeRescaled16(char* rows, std::size_t rowSize, std::size_t offset, const T* src,
                     std::size_t n, float factor) {
    const double f = factor;
    char* dst = rows + offset;
    if constexpr (std::is_integral_v<T>) {
        // Whole factors (1 for 16-bit colour, 257 for 8-bit) need no rounding.
        if (f >= 0.0 && f <= 65535.0 && f == std::floor(f)) {
            const auto k = static_cast<uint32_t>(f);
            for (std::size_t i = 0; i < n; ++i, dst += rowSize) {
                const uint32_t v = static_cast<uint32_t>(src[i]) * k;
                if (v <= 65535u) {
                    const auto w = static_cast<uint16_t>(v);
                    std::memcpy(dst, &w, sizeof w);
                }
            }
            return;
        }
    }
    for (std::size_t i = 0; i < n; ++i, dst += rowSize)
        storeRescaled(dst, static_cast<double>(src[i]) * f);
}

void storeState(char* rows, std::size_t rowSize, std::size_t offset, const int8_t* src,
                std::size_t n) {
    char* dst = rows + offset;
    for (std::size_t i = 0; i < n; ++i, dst += rowSize)
        if (src[i] >= 0) *reinterpret_cast<uint8_t*>(dst) = static_cast<uint8_t>(src[i]);
}

void storeFloatAsDouble(char* rows, std::size_t rowSize, std::size_t offset, const float* src,
                        std::size_t n) {
    char* dst = rows + offset;
    for (std::size_t i = 0; i < n; ++i, dst += rowSize) {
        const double v = src[i];
        std::memcpy(dst, &v, sizeof v);
    }
}

// Spherical coordinates to x, y, z (posed when Posed) written side by side into each row.
template <bool Posed>
void storeSphericalRows(const double (&r)[3][3], const double (&t)[3], const double* rg,
                        const double* az, const double* el, std::size_t n, char* dst,
                        std::size_t rowSize) {
    for (std::size_t i = 0; i < n; ++i, dst += rowSize) {
        const double h = rg[i] * std::cos(el[i]);
        double x = h * std::cos(az[i]);
        double y = h * std::sin(az[i]);
        double z = rg[i] * std::sin(el[i]);
        if constexpr (Posed) {
            const double px = x, py = y, pz = z;
            x = r[0][0] * px + r[0][1] * py + r[0][2] * pz + t[0];
            y = r[1][0] * px + r[1][1] * py + r[1][2] * pz + t[1];
            z = r[2][0] * px + r[2][1] * py + r[2][2] * pz + t[2];
        }
        std::memcpy(dst, &x, 8);
        std::memcpy(dst + 8, &y, 8);
        std::memcpy(dst + 16, &z, 8);
    }
}

}  // namespace

E57ReaderStage::E57ReaderStage() = default;
E57ReaderStage::~E57ReaderStage() = default;

void E57ReaderStage::processOptions(const Options& options) {
    filename_.clear();
    bool seen = false;
    for (const Option& o : options.getOptions()) {
        if (o.getName() != "filename") throwError("Unexpected argument '" + o.getName() + "'.");
        if (seen) throwError("Attempted to set value twice for argument 'filename'.");
        filename_ = o.getValue();
        seen = true;
    }
    if (filename_.empty()) throwError("No filename given.");
}

void E57ReaderStage::initialize() {
    closeScan();
    reader_.reset();
    scans_.clear();
    int64_t count = 0;
    bool hasData3D = false;
    try {
        reader_ = std::make_unique<e57::Reader>(filename_, e57::ReaderOptions{});
        count = reader_->GetData3DCount();
        hasData3D = count > 0 || reader_->GetRawE57Root().isDefined("/data3D");
    } catch (const e57::E57Exception& e) {
        // As PDAL: a stage error that names the cause. The library's what() may tell nothing.
        reader_.reset();
        throwError(e.context().empty() ? e.errorStr() : e.errorStr() + ": " + e.context());
    }
    // A /data3D without scans is a file of no points, as in PDAL.
    if (!hasData3D) throwError("File doesn't contain 3D data");

    scans_.reserve(static_cast<std::size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        e57::Data3D h;
        if (!reader_->ReadData3D(i, h))
            throwError("Unable to read the header of scan " + std::to_string(i) + ".");
        Scan s;
        s.index = i;
        s.pointCount = h.pointCount;
        s.f = h.pointFields;
        s.spherical =
            s.f.sphericalRangeField && s.f.sphericalAzimuthField && s.f.sphericalElevationField;

        const auto& q = h.pose.rotation;
        const auto& tr = h.pose.translation;
        // The usual unit-quaternion matrix, not normalised.
        const double w = q.w, x = q.x, y = q.y, z = q.z;
        const double m[3][3] = {
            {1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
            {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
            {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
        std::memcpy(s.r, m, sizeof m);
        s.t[0] = tr.x;
        s.t[1] = tr.y;
        s.t[2] = tr.z;
        s.posed = !(w == 1 && x == 0 && y == 0 && z == 0 && tr.x == 0 && tr.y == 0 && tr.z == 0);

        const auto& c = h.colorLimits;
        s.redFactor = rescaleFactor(65535.0, c.colorRedMinimum, c.colorRedMaximum);
        s.greenFactor = rescaleFactor(65535.0, c.colorGreenMinimum, c.colorGreenMaximum);
        s.blueFactor = rescaleFactor(65535.0, c.colorBlueMinimum, c.colorBlueMaximum);
        s.intensityFactor = rescaleFactor(65535.0, h.intensityLimits.intensityMinimum,
                                          h.intensityLimits.intensityMaximum);
        scans_.push_back(s);
    }
}

void E57ReaderStage::addDimensions(PointLayoutPtr layout) {
    bool range = false, azimuth = false, elevation = false;
    for (const Scan& s : scans_) {
        const auto& f = s.f;
        if (f.cartesianXField) layout->registerDim(Id::X);
        if (f.cartesianYField) layout->registerDim(Id::Y);
        if (f.cartesianZField) layout->registerDim(Id::Z);
        if (f.sphericalRangeField) layout->registerDim(Id::SphericalRange), range = true;
        if (f.sphericalAzimuthField) layout->registerDim(Id::SphericalAzimuth), azimuth = true;
        if (f.sphericalElevationField)
            layout->registerDim(Id::SphericalElevation), elevation = true;
        if (f.normalXField) layout->registerDim(Id::NormalX);
        if (f.normalYField) layout->registerDim(Id::NormalY);
        if (f.normalZField) layout->registerDim(Id::NormalZ);
        if (f.colorRedField) layout->registerDim(Id::Red);
        if (f.colorGreenField) layout->registerDim(Id::Green);
        if (f.colorBlueField) layout->registerDim(Id::Blue);
        if (f.intensityField) layout->registerDim(Id::Intensity);
        if (f.cartesianInvalidStateField || f.sphericalInvalidStateField)
            layout->registerDim(Id::Omit);
    }
    if (range && azimuth && elevation) {
        layout->registerDim(Id::X);
        layout->registerDim(Id::Y);
        layout->registerDim(Id::Z);
    }
}

void E57ReaderStage::ready(PointTableRef) {
    closeScan();
    buffers_.reset();
    nextScan_ = 0;
}

void E57ReaderStage::done(PointTableRef) {
    closeScan();
    buffers_.reset();
    if (reader_) reader_->Close();
    reader_.reset();
}

void E57ReaderStage::closeScan() {
    decodedCount_ = decodedNext_ = 0;
    if (points_) {
        try {
            points_->close();
        } catch (...) {
            // Only reached while unwinding or finishing; the handle is dropped either way.
        }
        points_.reset();
    }
    current_ = nullptr;
}

bool E57ReaderStage::openNextScan(StreamPointTable& table) {
    if (!reader_) throwError("Stage is not prepared.");
    const auto capacity = std::min(kReadBlock, static_cast<std::size_t>(table.capacity()));
    if (!buffers_) buffers_ = std::make_unique<Buffers>(capacity);
    Buffers& b = *buffers_;
    while (nextScan_ < scans_.size()) {
        const Scan& s = scans_[nextScan_++];
        // A scan with no field delivered adds no point. Empty scans are still opened, so a
        // damaged section header is reported rather than passed over.
        if (!s.deliversSomething()) continue;
        const auto& f = s.f;
        e57::Data3DPointsDouble d;
        if (f.cartesianXField) d.cartesianX = b.x.data();
        if (f.cartesianYField) d.cartesianY = b.y.data();
        if (f.cartesianZField) d.cartesianZ = b.z.data();
        if (f.sphericalRangeField) d.sphericalRange = b.range.data();
        if (f.sphericalAzimuthField) d.sphericalAzimuth = b.azimuth.data();
        if (f.sphericalElevationField) d.sphericalElevation = b.elevation.data();
        if (f.intensityField) d.intensity = b.intensity.data();
        if (f.colorRedField) d.colorRed = b.red.data();
        if (f.colorGreenField) d.colorGreen = b.green.data();
        if (f.colorBlueField) d.colorBlue = b.blue.data();
        if (f.cartesianInvalidStateField) d.cartesianInvalidState = b.cartesianInvalid.data();
        if (f.sphericalInvalidStateField) d.sphericalInvalidState = b.sphericalInvalid.data();
        if (f.normalXField) d.normalX = b.nx.data();
        if (f.normalYField) d.normalY = b.ny.data();
        if (f.normalZField) d.normalZ = b.nz.data();
        try {
            points_.emplace(reader_->SetUpData3DPointsData(s.index, capacity, d));
        } catch (const e57::E57Exception& e) {
            // Old writers leave an empty scan without a binary section; it holds nothing to lose.
            if (s.pointCount == 0 && e.errorCode() == e57::ErrorData3DReadInvalidZeroRecords)
                continue;
            throw;
        }
        current_ = &s;
        return true;
    }
    return false;
}

point_count_t E57ReaderStage::fillChunk(StreamPointTable& table) {
    while (decodedNext_ == decodedCount_) {
        if (!points_ && !openNextScan(table)) return 0;
        decodedCount_ = points_->read();
        decodedNext_ = 0;
        if (decodedCount_ == 0) closeScan();
    }
    const std::size_t n = std::min<std::size_t>(decodedCount_ - decodedNext_,
                                                static_cast<std::size_t>(table.capacity()));
    storeBlock(*current_, table, decodedNext_, n);
    decodedNext_ += n;
    return n;
}

// x, y, z through the x/y/z buffers: from spherical when the scan has it, then the pose.
void E57ReaderStage::storeCoordinates(const Scan& s, const PointLayout& layout, char* rows,
                                      std::size_t rowSize, std::size_t first, std::size_t n,
                                      bool xyzTogether) {
    Buffers& b = *buffers_;
    const auto& f = s.f;
    double* x = b.x.data() + first;
    double* y = b.y.data() + first;
    double* z = b.z.data() + first;
    if (s.spherical) {
        for (std::size_t i = 0; i < n; ++i) {
            const double r = b.range[first + i], az = b.azimuth[first + i],
                         el = b.elevation[first + i];
            const double h = r * std::cos(el);
            x[i] = h * std::cos(az);
            y[i] = h * std::sin(az);
            z[i] = r * std::sin(el);
        }
    } else {
        if (!f.cartesianXField) std::fill(x, x + n, 0.0);
        if (!f.cartesianYField) std::fill(y, y + n, 0.0);
        if (!f.cartesianZField) std::fill(z, z + n, 0.0);
    }
    const bool hasXyz = s.spherical || f.cartesianXField || f.cartesianYField || f.cartesianZField;
    if (hasXyz && s.posed) {
        for (std::size_t i = 0; i < n; ++i) {
            const double px = x[i], py = y[i], pz = z[i];
            x[i] = s.r[0][0] * px + s.r[0][1] * py + s.r[0][2] * pz + s.t[0];
            y[i] = s.r[1][0] * px + s.r[1][1] * py + s.r[1][2] * pz + s.t[1];
            z[i] = s.r[2][0] * px + s.r[2][1] * py + s.r[2][2] * pz + s.t[2];
        }
    }

    if (hasXyz && xyzTogether) {
        // The usual layout: one pass writes the three coordinates side by side.
        char* dst = rows + layout.dimOffset(Id::X);
        std::size_t i = 0;
#if defined(__SSE2__)
        // Two rows from a pair of each column: x and y of a row go in one store.
        for (; i + 2 <= n; i += 2, dst += 2 * rowSize) {
            const __m128d px = _mm_loadu_pd(x + i);
            const __m128d py = _mm_loadu_pd(y + i);
            const __m128d pz = _mm_loadu_pd(z + i);
            _mm_storeu_pd(reinterpret_cast<double*>(dst), _mm_unpacklo_pd(px, py));
            // Eight-byte stores that take any alignment, as the rows have.
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), _mm_castpd_si128(pz));
            _mm_storeu_pd(reinterpret_cast<double*>(dst + rowSize), _mm_unpackhi_pd(px, py));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + rowSize + 16),
                             _mm_castpd_si128(_mm_unpackhi_pd(pz, pz)));
        }
#endif
        // Each value is copied on its own: a staged array read back wider stalls the stores.
        for (; i < n; ++i, dst += rowSize) {
            std::memcpy(dst, &x[i], 8);
            std::memcpy(dst + 8, &y[i], 8);
            std::memcpy(dst + 16, &z[i], 8);
        }
    } else if (hasXyz) {
        if (layout.hasDim(Id::X)) storeColumn(rows, rowSize, layout.dimOffset(Id::X), x, n);
        if (layout.hasDim(Id::Y)) storeColumn(rows, rowSize, layout.dimOffset(Id::Y), y, n);
        if (layout.hasDim(Id::Z)) storeColumn(rows, rowSize, layout.dimOffset(Id::Z), z, n);
    }
}

void E57ReaderStage::storeBlock(const Scan& s, StreamPointTable& table, std::size_t first,
                                std::size_t n) {
    Buffers& b = *buffers_;
    const PointLayout& layout = *table.layout();
    char* rows = table.getPoint(0);
    const std::size_t rowSize = layout.pointSize();
    const auto& f = s.f;

    const bool xyzTogether = layout.hasDim(Id::X) && layout.hasDim(Id::Y) && layout.hasDim(Id::Z) &&
                             layout.dimOffset(Id::Y) == layout.dimOffset(Id::X) + 8 &&
                             layout.dimOffset(Id::Z) == layout.dimOffset(Id::X) + 16;
    if (s.spherical && xyzTogether) {
        // The usual spherical scan: one pass from the angles to the rows, with the same
        // operations as storeCoordinates and so the same values.
        const double* rg = b.range.data() + first;
        const double* az = b.azimuth.data() + first;
        const double* el = b.elevation.data() + first;
        char* dst = rows + layout.dimOffset(Id::X);
        if (s.posed)
            storeSphericalRows<true>(s.r, s.t, rg, az, el, n, dst, rowSize);
        else
            storeSphericalRows<false>(s.r, s.t, rg, az, el, n, dst, rowSize);
    } else {
        storeCoordinates(s, layout, rows, rowSize, first, n, xyzTogether);
    }
    if (f.sphericalRangeField)
        storeColumn(rows, rowSize, layout.dimOffset(Id::SphericalRange), b.range.data() + first, n);
    if (f.sphericalAzimuthField)
        storeColumn(rows, rowSize, layout.dimOffset(Id::SphericalAzimuth), b.azimuth.data() + first,
                    n);
    if (f.sphericalElevationField)
        storeColumn(rows, rowSize, layout.dimOffset(Id::SphericalElevation),
                    b.elevation.data() + first, n);
    const bool rgbTogether = f.colorRedField && f.colorGreenField && f.colorBlueField &&
                             layout.dimOffset(Id::Green) == layout.dimOffset(Id::Red) + 2 &&
                             layout.dimOffset(Id::Blue) == layout.dimOffset(Id::Red) + 4 &&
                             s.redFactor == s.greenFactor && s.redFactor == s.blueFactor &&
                             (s.redFactor == 1.0f || s.redFactor == 257.0f);
    if (rgbTogether) {
        // 16-bit or 8-bit colour with the same limits on every channel: whole factors, no rounding.
        const auto k = static_cast<uint32_t>(s.redFactor);
        const uint16_t* r = b.red.data() + first;
        const uint16_t* g = b.green.data() + first;
        const uint16_t* bl = b.blue.data() + first;
        char* dst = rows + layout.dimOffset(Id::Red);
        // Every channel fits when their bitwise or does: then red and green scale as one
        // 32-bit word, without a carry between them.
        const uint32_t fits = 65535u / k;
        std::size_t i = 0;
#if defined(__SSE2__)
        // Eight points at a time where all fit: their products in 16-bit lanes, red and green
        // interleaved as the rows hold them, each row's six bytes then copied from there.
        const __m128i factor = _mm_set1_epi16(static_cast<short>(k));
        const __m128i most = _mm_set1_epi16(static_cast<short>(fits));
        for (; i + 8 <= n; i += 8) {
            const __m128i vr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i));
            const __m128i vg = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + i));
            const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bl + i));
            const __m128i over = _mm_subs_epu16(_mm_or_si128(_mm_or_si128(vr, vg), vb), most);
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(over, _mm_setzero_si128())) != 0xffff) break;
            const __m128i pr = _mm_mullo_epi16(vr, factor);
            const __m128i pg = _mm_mullo_epi16(vg, factor);
            alignas(16) char redGreen[32];
            alignas(16) char blue[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(redGreen), _mm_unpacklo_epi16(pr, pg));
            _mm_store_si128(reinterpret_cast<__m128i*>(redGreen + 16), _mm_unpackhi_epi16(pr, pg));
            _mm_store_si128(reinterpret_cast<__m128i*>(blue), _mm_mullo_epi16(vb, factor));
            for (int j = 0; j < 8; ++j, dst += rowSize) {
                std::memcpy(dst, redGreen + 4 * j, 4);
                std::memcpy(dst + 4, blue + 2 * j, 2);
            }
        }
#endif
        for (; i < n; ++i, dst += rowSize) {
            if (static_cast<uint32_t>(r[i] | g[i] | bl[i]) <= fits) [[likely]] {
                const uint32_t redGreen = (uint32_t{r[i]} | uint32_t{g[i]} << 16) * k;
                const auto blue = static_cast<uint16_t>(bl[i] * k);
                if constexpr (std::endian::native == std::endian::little) {
                    std::memcpy(dst, &redGreen, 4);  // no staging array, which costs a copy
                } else {
                    const uint16_t rg[2] = {static_cast<uint16_t>(redGreen),
                                            static_cast<uint16_t>(redGreen >> 16)};
                    std::memcpy(dst, rg, 4);
                }
                std::memcpy(dst + 4, &blue, 2);
                continue;
            }
            const uint32_t v[3] = {r[i] * k, g[i] * k, bl[i] * k};
            // A value past 65535 does not fit and stays 0, as in the general path.
            for (int c = 0; c < 3; ++c) {
                const auto w = static_cast<uint16_t>(v[c] <= 65535u ? v[c] : 0u);
                std::memcpy(dst + 2 * c, &w, 2);
            }
        }
    } else {
        if (f.colorRedField)
            storeRescaled16(rows, rowSize, layout.dimOffset(Id::Red), b.red.data() + first, n,
                            s.redFactor);
        if (f.colorGreenField)
            storeRescaled16(rows, rowSize, layout.dimOffset(Id::Green), b.green.data() + first, n,
                            s.greenFactor);
        if (f.colorBlueField)
            storeRescaled16(rows, rowSize, layout.dimOffset(Id::Blue), b.blue.data() + first, n,
                            s.blueFactor);
    }
    if (f.intensityField)
        storeRescaled16(rows, rowSize, layout.dimOffset(Id::Intensity), b.intensity.data() + first,
                        n, s.intensityFactor);
    // The spherical state wins when a scan has both.
    if (f.sphericalInvalidStateField)
        storeState(rows, rowSize, layout.dimOffset(Id::Omit), b.sphericalInvalid.data() + first, n);
    else if (f.cartesianInvalidStateField)
        storeState(rows, rowSize, layout.dimOffset(Id::Omit), b.cartesianInvalid.data() + first, n);
    if (f.normalXField)
        storeFloatAsDouble(rows, rowSize, layout.dimOffset(Id::NormalX), b.nx.data() + first, n);
    if (f.normalYField)
        storeFloatAsDouble(rows, rowSize, layout.dimOffset(Id::NormalY), b.ny.data() + first, n);
    if (f.normalZField)
        storeFloatAsDouble(rows, rowSize, layout.dimOffset(Id::NormalZ), b.nz.data() + first, n);
}

}  // namespace pdal
