#include "points/input/e57_point_stream.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <pdal/Dimension.hpp>
#include <pdal/Options.hpp>
#include <pdal/PointLayout.hpp>
#include <pdal/PointTable.hpp>
#include <pdal/StageFactory.hpp>
#include <pdal/filters/StreamCallbackFilter.hpp>

#include "points/input/e57_direct_read.h"
#include "points/input/e57_input_check.h"

namespace {
constexpr pdal::point_count_t kStreamTableCapacity = 100000;

// A stream table that passes each chunk's coordinates on when the chunk ends, which is when
// the stream clears the table and before the rows are zeroed.
class CoordinateBatchTable : public pdal::FixedPointTable {
public:
    CoordinateBatchTable(pdal::point_count_t capacity, const E57PointBatchFunc& onPoints)
        : pdal::FixedPointTable(capacity),
          onPoints_(onPoints),
          xs_(static_cast<std::size_t>(capacity)),
          ys_(static_cast<std::size_t>(capacity)),
          zs_(static_cast<std::size_t>(capacity)) {}

protected:
    void reset() override {
        const pdal::point_count_t count = std::min(numPoints(), capacity());
        const std::size_t n = count == 0 ? 0 : gatherDoubles(count) ? count : gatherAny(count);
        if (n != 0) onPoints_(xs_.data(), ys_.data(), zs_.data(), n);
        pdal::FixedPointTable::reset();
    }

private:
    // Any layout, through getFieldAs; the number of points kept.
    std::size_t gatherAny(pdal::point_count_t count) {
        std::size_t n = 0;
        pdal::PointRef point(*this, 0);
        for (pdal::PointId i = 0; i < count; ++i) {
            if (skip(i)) continue;
            point.setPointId(i);
            xs_[n] = point.getFieldAs<double>(pdal::Dimension::Id::X);
            ys_[n] = point.getFieldAs<double>(pdal::Dimension::Id::Y);
            zs_[n] = point.getFieldAs<double>(pdal::Dimension::Id::Z);
            ++n;
        }
        return n;
    }

    // The usual chunk: double coordinates in evenly spaced rows and no point skipped, copied
    // straight out of the rows (getFieldAs gives the stored double as it is). False for any
    // other chunk, which is then gathered again.
    bool gatherDoubles(pdal::point_count_t count) {
        using pdal::Dimension::Id;
        const pdal::PointLayout& layout = *this->layout();
        for (Id id : {Id::X, Id::Y, Id::Z})
            if (layout.dimType(id) != pdal::Dimension::Type::Double) return false;
        const std::size_t stride = layout.pointSize();
        const char* rows = getPoint(0);
        if (!rows || getPoint(count - 1) != rows + (count - 1) * stride) return false;
        const char* x = rows + layout.dimOffset(Id::X);
        const char* y = rows + layout.dimOffset(Id::Y);
        const char* z = rows + layout.dimOffset(Id::Z);
        double* xs = xs_.data();
        double* ys = ys_.data();
        double* zs = zs_.data();
        bool skipped = false;
        std::size_t i = 0;
        if (layout.dimOffset(Id::Y) == layout.dimOffset(Id::X) + sizeof(double)) {
            // x and y of a row side by side: two rows take two loads of both and give a pair
            // for each column, stored as one.
            for (; i + 2 <= count; i += 2, x += 2 * stride, z += 2 * stride) {
                const __m128d a = _mm_loadu_pd(reinterpret_cast<const double*>(x));
                const __m128d b = _mm_loadu_pd(reinterpret_cast<const double*>(x + stride));
                // Eight-byte loads that take any alignment, as the rows have.
                const __m128d c = _mm_castsi128_pd(_mm_unpacklo_epi64(
                    _mm_loadl_epi64(reinterpret_cast<const __m128i*>(z)),
                    _mm_loadl_epi64(reinterpret_cast<const __m128i*>(z + stride))));
                _mm_storeu_pd(xs + i, _mm_unpacklo_pd(a, b));
                _mm_storeu_pd(ys + i, _mm_unpackhi_pd(a, b));
                _mm_storeu_pd(zs + i, c);
                skipped |= skip(i) | skip(i + 1);
            }
            y = x + sizeof(double);
        }
        for (; i < count; ++i, x += stride, y += stride, z += stride) {
            double v[3];
            std::memcpy(&v[0], x, sizeof(double));
            std::memcpy(&v[1], y, sizeof(double));
            std::memcpy(&v[2], z, sizeof(double));
            xs[i] = v[0];  // typed stores, so that the skip flags need not be reloaded
            ys[i] = v[1];
            zs[i] = v[2];
            skipped |= skip(i);
        }
        return !skipped;
    }

    const E57PointBatchFunc& onPoints_;
    std::vector<double> xs_, ys_, zs_;
};

// "readers.e57" on the file, owned by the factory; null when the stage cannot be made.
pdal::Stage* makeE57Reader(pdal::StageFactory& factory, const std::string& path) {
    pdal::Stage* reader = factory.createStage("readers.e57");
    if (!reader) return nullptr;
    pdal::Options options;
    options.add("filename", path);
    reader->setOptions(options);
    return reader;
}

// A file that mixes Cartesian and spherical scans, read exactly through libE57Format: each
// point goes to the callback in a table row of x, y, z and, with colour, red, green and blue.
void streamMixedE57File(const std::string& path, bool& hasColour,
                        const std::function<bool(pdal::PointRef&)>& callback) {
    pdal::FixedPointTable table(1);
    using pdal::Dimension::Id;
    using pdal::Dimension::Type;
    bool tableReady = false;
    readE57Directly(path, hasColour, [&](const E57DirectBlock& b) {
        if (!tableReady) {
            const pdal::PointLayoutPtr layout = table.layout();
            for (Id id : {Id::X, Id::Y, Id::Z}) layout->registerDim(id, Type::Double);
            if (b.red)
                for (Id id : {Id::Red, Id::Green, Id::Blue})
                    layout->registerDim(id, Type::Unsigned16);
            table.finalize();
            tableReady = true;
        }
        pdal::PointRef point(table, 0);
        for (std::size_t i = 0; i < b.n; ++i) {
            point.setField(Id::X, b.x[i]);
            point.setField(Id::Y, b.y[i]);
            point.setField(Id::Z, b.z[i]);
            if (b.red) {
                point.setField(Id::Red, b.red[i]);
                point.setField(Id::Green, b.green[i]);
                point.setField(Id::Blue, b.blue[i]);
            }
            callback(point);  // false skips the point, which is the last stage here
        }
    });
}

}  // namespace

bool streamE57File(const std::string& path, bool& hasColour,
                   const std::function<bool(pdal::PointRef&)>& callback) {
    requireRegularE57Input(path);
    // PDAL's stage gives the Cartesian scans of such a file wrong coordinates.
    if (e57MixesCoordinateKinds(path)) {
        streamMixedE57File(path, hasColour, callback);
        return true;
    }
    pdal::StageFactory factory;
    pdal::Stage* reader = makeE57Reader(factory, path);
    if (!reader) return false;

    pdal::FixedPointTable table(kStreamTableCapacity);
    pdal::StreamCallbackFilter filter;
    filter.setInput(*reader);
    filter.setCallback(callback);
    filter.prepare(table);
    const pdal::PointLayoutPtr layout = table.layout();
    hasColour = layout->hasDim(pdal::Dimension::Id::Red) &&
                layout->hasDim(pdal::Dimension::Id::Green) &&
                layout->hasDim(pdal::Dimension::Id::Blue);
    filter.execute(table);
    return true;
}

bool streamE57FileInBatches(const std::string& path, const E57PointBatchFunc& onPoints,
                            std::size_t tableCapacity) {
    requireRegularE57Input(path);
    if (e57MixesCoordinateKinds(path)) {
        bool hasColour = false;
        const std::size_t most = std::max<std::size_t>(tableCapacity, 1);
        readE57Directly(path, hasColour, [&](const E57DirectBlock& b) {
            for (std::size_t i = 0; i < b.n; i += most)
                onPoints(b.x + i, b.y + i, b.z + i, std::min(most, b.n - i));
        });
        return true;
    }
    pdal::StageFactory factory;
    pdal::Stage* reader = makeE57Reader(factory, path);
    if (!reader) return false;

    CoordinateBatchTable table(static_cast<pdal::point_count_t>(tableCapacity), onPoints);
    reader->prepare(table);
    reader->execute(table);
    return true;
}

CloudPoint cloudPointFromStream(pdal::PointRef& ref, bool hasColour, ColourReadErrors onError) {
    CloudPoint p;
    p.x = ref.getFieldAs<double>(pdal::Dimension::Id::X);
    p.y = ref.getFieldAs<double>(pdal::Dimension::Id::Y);
    p.z = ref.getFieldAs<double>(pdal::Dimension::Id::Z);
    if (!hasColour) return p;
    if (onError == ColourReadErrors::EndTheStream) {
        p.red = colourTo8Bits(ref.getFieldAs<unsigned int>(pdal::Dimension::Id::Red));
        p.green = colourTo8Bits(ref.getFieldAs<unsigned int>(pdal::Dimension::Id::Green));
        p.blue = colourTo8Bits(ref.getFieldAs<unsigned int>(pdal::Dimension::Id::Blue));
        p.hasRGB = true;
        return p;
    }
    try {
        const unsigned int r = ref.getFieldAs<unsigned int>(pdal::Dimension::Id::Red);
        const unsigned int g = ref.getFieldAs<unsigned int>(pdal::Dimension::Id::Green);
        const unsigned int b = ref.getFieldAs<unsigned int>(pdal::Dimension::Id::Blue);
        p.red = colourTo8Bits(r);
        p.green = colourTo8Bits(g);
        p.blue = colourTo8Bits(b);
        p.hasRGB = true;
    } catch (...) {
        // the point goes on without colour
    }
    return p;
}
