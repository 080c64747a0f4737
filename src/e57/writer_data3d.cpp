// WriteData3DData: plan the prototype from the header and the buffers, check every value, then
// write the compressed vector(s) and only then describe the scan in the XML. Nothing of a scan
// is committed until all of it is on its way to the file.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "bitpack_encode.h"
#include "writer_impl.h"
#include "xml_writer.h"

namespace e57 {

namespace {

enum class Coding { Single, Double, Integer, Scaled };
enum class Source { Coord, F64, F32, U16, I32, I8 };

struct FieldPlan {
    const char* name = "";
    Coding coding = Coding::Double;
    Source source = Source::Coord;
    const void* data = nullptr;
    std::int64_t minimum = 0;  // raw bounds of Integer and Scaled fields
    std::int64_t maximum = 0;
    double scale = 1.0;
    std::optional<double> floatMinimum;  // advisory bounds of Float fields
    std::optional<double> floatMaximum;
    unsigned bits = 0;
    const char* boundsSource = "";  // which header setting the bounds came from, for messages
};

// How a group of coordinate fields (or the time field) is coded.
struct GroupCoding {
    Coding coding = Coding::Double;
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    double scale = 1.0;
    std::optional<double> floatMinimum;
    std::optional<double> floatMaximum;
};

constexpr double kTwo63 = 9223372036854775808.0;

std::string num(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

void putU64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

template <class COORD>
class ScanWriter {
public:
    ScanWriter(WriterImpl& impl, Data3D& header, const Data3DPointsData_t<COORD>& buffers)
        : impl_(impl), h_(header), b_(buffers), n_(header.pointCount) {}

    int64_t run(Data3D& callerHeader) {
        const int64_t index = impl_.nextScanIndex();
        if (h_.guid.empty()) h_.guid = makeRandomGuid();
        label_ = "scan " + std::to_string(index) + " (guid=" + h_.guid +
                 (h_.name.empty() ? "" : ", name=" + h_.name) + ")";

        checkHeaderNumbers();
        planFields();
        for (const FieldPlan& f : fields_) validateValues(f);
        const bool grouping = planGrouping();

        // Everything is checked: from here on only an I/O error can stop the scan, and then it is
        // left undescribed.
        const std::uint64_t pointsOffset = writeVector(fields_, n_);
        const std::uint64_t groupsOffset = grouping ? writeVector({}, 0) : 0;
        std::string xml = describe(pointsOffset, grouping, groupsOffset);
        impl_.commitScan(std::move(xml), usesNormals_);
        callerHeader = h_;
        return index;
    }

private:
    [[noreturn]] void fail(ErrorCode code, const std::string& text) const {
        throw E57Exception(code, "WriteData3DData " + label_ + ": " + text, __FILE__, __LINE__,
                           "WriteData3DData");
    }

    void requireFinite(double v, const char* what) const {
        if (!std::isfinite(v))
            fail(ErrorInvalidData3DValue,
                 std::string(what) + " is not a finite number (" + num(v) + ")");
    }
    void requireNotNaN(double v, const char* what) const {
        if (std::isnan(v)) fail(ErrorInvalidData3DValue, std::string(what) + " is NaN");
    }

    // Bound of an Integer field given as a double: truncated, clamped to the 64-bit range.
    std::int64_t integerBound(double v, const char* what) const {
        requireNotNaN(v, what);
        const double t = std::trunc(v);
        if (t <= -kTwo63) return std::numeric_limits<std::int64_t>::min();
        if (t >= kTwo63) return std::numeric_limits<std::int64_t>::max();
        return static_cast<std::int64_t>(t);
    }

    // Raw bound of a ScaledInteger field: round(v / scale).
    std::int64_t scaledBound(double v, double scale, const char* what) const {
        requireFinite(v, what);
        const double r = std::floor(v / scale + 0.5);
        if (!(r >= -kTwo63 && r < kTwo63)) {
            fail(ErrorValueOutOfBounds, std::string(what) + " " + num(v) + " with scale " +
                                            num(scale) + " does not fit a 64-bit scaled integer");
        }
        return static_cast<std::int64_t>(r);
    }

    void checkHeaderNumbers() const {
        const auto& t = h_;
        if (t.temperature != FLOAT_MAX) requireFinite(t.temperature, "temperature");
        if (t.relativeHumidity != FLOAT_MAX) requireFinite(t.relativeHumidity, "relativeHumidity");
        if (t.atmosphericPressure != FLOAT_MAX)
            requireFinite(t.atmosphericPressure, "atmosphericPressure");
        if (writesCartesianBounds()) {
            const CartesianBounds& c = t.cartesianBounds;
            for (double v :
                 {c.xMinimum, c.xMaximum, c.yMinimum, c.yMaximum, c.zMinimum, c.zMaximum})
                requireFinite(v, "cartesianBounds");
        }
        if (writesSphericalBounds()) {
            const SphericalBounds& s = t.sphericalBounds;
            for (double v : {s.rangeMinimum, s.rangeMaximum, s.elevationMinimum, s.elevationMaximum,
                             s.azimuthStart, s.azimuthEnd})
                requireFinite(v, "sphericalBounds");
        }
        if (t.pose != RigidBodyTransform::identity()) {
            const RigidBodyTransform& p = t.pose;
            for (double v : {p.rotation.w, p.rotation.x, p.rotation.y, p.rotation.z,
                             p.translation.x, p.translation.y, p.translation.z})
                requireFinite(v, "pose");
        }
        if (t.acquisitionStart.dateTimeValue > 0)
            requireFinite(t.acquisitionStart.dateTimeValue, "acquisitionStart");
        if (t.acquisitionEnd.dateTimeValue > 0)
            requireFinite(t.acquisitionEnd.dateTimeValue, "acquisitionEnd");
        if (writesIntensityLimits()) {
            requireFinite(t.intensityLimits.intensityMinimum, "intensityLimits.intensityMinimum");
            requireFinite(t.intensityLimits.intensityMaximum, "intensityLimits.intensityMaximum");
        }
        if (writesColorLimits()) {
            const ColorLimits& c = t.colorLimits;
            for (double v : {c.colorRedMinimum, c.colorRedMaximum, c.colorGreenMinimum,
                             c.colorGreenMaximum, c.colorBlueMinimum, c.colorBlueMaximum})
                requireFinite(v, "colorLimits");
        }
    }

    bool writesCartesianBounds() const {
        return h_.cartesianBounds.xMinimum != -DOUBLE_MAX ||
               h_.cartesianBounds.xMaximum != DOUBLE_MAX;
    }
    bool writesSphericalBounds() const {
        return h_.sphericalBounds.rangeMinimum != 0.0 ||
               h_.sphericalBounds.rangeMaximum != DOUBLE_MAX;
    }
    bool writesIntensityLimits() const {
        return h_.intensityLimits.intensityMinimum != 0.0 ||
               h_.intensityLimits.intensityMaximum != 0.0;
    }
    bool writesColorLimits() const {
        return h_.colorLimits.colorRedMinimum != 0.0 || h_.colorLimits.colorRedMaximum != 0.0;
    }

    // A missing buffer is reported only once the whole prototype is planned, as the library
    // builds the prototype (and its range errors) before it binds any buffer.
    template <class P>
    const P* need(const P* p, const char* field) {
        if (p == nullptr && n_ > 0 && missingBuffer_ == nullptr) missingBuffer_ = field;
        return p;
    }

    static bool isUnsetRange(double lo, double hi) {
        return (lo == std::numeric_limits<COORD>::lowest() &&
                hi == std::numeric_limits<COORD>::max()) ||
               (lo == -DOUBLE_MAX && hi == DOUBLE_MAX);
    }

    // Coding of the coordinate fields sharing one set of range settings. `members` are the
    // enabled fields' buffers, used when scaled-integer bounds are taken from the data.
    GroupCoding coordinateCoding(NumericalNodeType type, double& lo, double& hi, double scale,
                                 const std::vector<const COORD*>& members, const char* typeName,
                                 const char* settingName) {
        GroupCoding g;
        switch (type) {
            case NumericalNodeType::Integer:
                fail(ErrorInvalidNodeType,
                     std::string(typeName) + " Integer is not allowed for coordinates");
            case NumericalNodeType::ScaledInteger: {
                if (!(scale != 0.0 && std::isfinite(scale))) {
                    fail(ErrorInvalidData3DValue,
                         std::string(settingName) +
                             "Scale must be a finite non-zero number for ScaledInteger, not " +
                             num(scale));
                }
                if (isUnsetRange(lo, hi)) dataRange(members, lo, hi);
                g.coding = Coding::Scaled;
                g.scale = scale;
                g.minimum = scaledBound(lo, scale, settingName);
                g.maximum = scaledBound(hi, scale, settingName);
                break;
            }
            case NumericalNodeType::Float:
            case NumericalNodeType::Double:
                // Float is a 32-bit node whatever the buffer type: doubles are rounded to float,
                // as the library does.
                g.coding = type == NumericalNodeType::Float ? Coding::Single : Coding::Double;
                requireNotNaN(lo, settingName);
                requireNotNaN(hi, settingName);
                if (lo > hi)
                    fail(ErrorValueOutOfBounds, std::string(settingName) + " minimum " + num(lo) +
                                                    " > maximum " + num(hi));
                g.floatMinimum = lo;
                g.floatMaximum = hi;
                break;
        }
        return g;
    }

    void dataRange(const std::vector<const COORD*>& members, double& lo, double& hi) const {
        double mn = std::numeric_limits<double>::infinity();
        double mx = -mn;
        for (const COORD* p : members) {
            if (p == nullptr) continue;
            for (std::size_t i = 0; i < n_; ++i) {
                const double v = static_cast<double>(p[i]);
                if (std::isfinite(v)) {
                    mn = v < mn ? v : mn;
                    mx = v > mx ? v : mx;
                }
            }
        }
        if (mn > mx) mn = mx = 0.0;  // no finite value to take bounds from
        lo = mn;
        hi = mx;
    }

    void add(const char* name, const GroupCoding& g, Source source, const void* data,
             const char* boundsSource) {
        FieldPlan f;
        f.name = name;
        f.coding = g.coding;
        f.source = source;
        f.data = data;
        f.minimum = g.minimum;
        f.maximum = g.maximum;
        f.scale = g.scale;
        f.floatMinimum = g.floatMinimum;
        f.floatMaximum = g.floatMaximum;
        f.boundsSource = boundsSource;
        requireHoldsZero(f);
        fields_.push_back(f);
    }

    // Every prototype node is built holding the value 0, so its range must contain 0.
    void requireHoldsZero(const FieldPlan& f) const {
        if (f.coding == Coding::Single || f.coding == Coding::Double) {
            const double lo = f.floatMinimum.value_or(0.0);
            const double hi = f.floatMaximum.value_or(0.0);
            if (lo <= 0.0 && hi >= 0.0) return;
            fail(ErrorValueOutOfBounds, std::string("field ") + f.name + ": the range " + num(lo) +
                                            ".." + num(hi) + " from " + f.boundsSource +
                                            " does not contain 0");
        }
        if (f.minimum <= 0 && f.maximum >= 0) return;
        fail(ErrorValueOutOfBounds, std::string("field ") + f.name + ": the range " +
                                        boundsText(f) + " from " + f.boundsSource +
                                        " does not contain 0");
    }

    void addInteger(const char* name, Source source, const void* data, std::int64_t lo,
                    std::int64_t hi, const char* boundsSource) {
        GroupCoding g;
        g.coding = Coding::Integer;
        g.minimum = lo;
        g.maximum = hi;
        add(name, g, source, data, boundsSource);
    }

    void planFields() {
        PointStandardizedFieldsAvailable& pf = h_.pointFields;
        const bool anyField =
            pf.cartesianXField || pf.cartesianYField || pf.cartesianZField ||
            pf.sphericalRangeField || pf.sphericalAzimuthField || pf.sphericalElevationField ||
            pf.intensityField || pf.colorRedField || pf.colorGreenField || pf.colorBlueField ||
            pf.returnIndexField || pf.returnCountField || pf.rowIndexField || pf.columnIndexField ||
            pf.timeStampField || pf.cartesianInvalidStateField || pf.sphericalInvalidStateField ||
            pf.isIntensityInvalidField || pf.isColorInvalidField || pf.isTimeStampInvalidField ||
            pf.normalXField || pf.normalYField || pf.normalZField;
        if (!anyField) fail(ErrorBadAPIArgument, "no point field is enabled in pointFields");

        const COORD* x = pf.cartesianXField ? need(b_.cartesianX, "cartesianX") : nullptr;
        const COORD* y = pf.cartesianYField ? need(b_.cartesianY, "cartesianY") : nullptr;
        const COORD* z = pf.cartesianZField ? need(b_.cartesianZ, "cartesianZ") : nullptr;
        const COORD* range =
            pf.sphericalRangeField ? need(b_.sphericalRange, "sphericalRange") : nullptr;
        const COORD* az =
            pf.sphericalAzimuthField ? need(b_.sphericalAzimuth, "sphericalAzimuth") : nullptr;
        const COORD* el = pf.sphericalElevationField
                              ? need(b_.sphericalElevation, "sphericalElevation")
                              : nullptr;

        if (pf.cartesianXField || pf.cartesianYField || pf.cartesianZField ||
            pf.sphericalRangeField) {
            const GroupCoding g = coordinateCoding(
                pf.pointRangeNodeType, pf.pointRangeMinimum, pf.pointRangeMaximum,
                pf.pointRangeScale, {x, y, z, range}, "pointRangeNodeType", "pointRange");
            if (pf.cartesianXField) add("cartesianX", g, Source::Coord, x, "pointRange");
            if (pf.cartesianYField) add("cartesianY", g, Source::Coord, y, "pointRange");
            if (pf.cartesianZField) add("cartesianZ", g, Source::Coord, z, "pointRange");
            if (pf.sphericalRangeField)
                add("sphericalRange", g, Source::Coord, range, "pointRange");
        }
        if (pf.sphericalAzimuthField || pf.sphericalElevationField) {
            const GroupCoding g =
                coordinateCoding(pf.angleNodeType, pf.angleMinimum, pf.angleMaximum, pf.angleScale,
                                 {az, el}, "angleNodeType", "angle");
            if (pf.sphericalAzimuthField) add("sphericalAzimuth", g, Source::Coord, az, "angle");
            if (pf.sphericalElevationField)
                add("sphericalElevation", g, Source::Coord, el, "angle");
        }
        if (pf.intensityField) planIntensity(need(b_.intensity, "intensity"));

        const ColorLimits& c = h_.colorLimits;
        if (pf.colorRedField)
            addInteger("colorRed", Source::U16, need(b_.colorRed, "colorRed"),
                       integerBound(c.colorRedMinimum, "colorLimits"),
                       integerBound(c.colorRedMaximum, "colorLimits"), "colorLimits");
        if (pf.colorGreenField)
            addInteger("colorGreen", Source::U16, need(b_.colorGreen, "colorGreen"),
                       integerBound(c.colorGreenMinimum, "colorLimits"),
                       integerBound(c.colorGreenMaximum, "colorLimits"), "colorLimits");
        if (pf.colorBlueField)
            addInteger("colorBlue", Source::U16, need(b_.colorBlue, "colorBlue"),
                       integerBound(c.colorBlueMinimum, "colorLimits"),
                       integerBound(c.colorBlueMaximum, "colorLimits"), "colorLimits");
        if (pf.returnIndexField)
            addInteger("returnIndex", Source::I8, need(b_.returnIndex, "returnIndex"), 0,
                       pf.returnMaximum, "returnMaximum");
        if (pf.returnCountField)
            addInteger("returnCount", Source::I8, need(b_.returnCount, "returnCount"), 0,
                       pf.returnMaximum, "returnMaximum");
        if (pf.rowIndexField)
            addInteger("rowIndex", Source::I32, need(b_.rowIndex, "rowIndex"), 0,
                       pf.rowIndexMaximum, "rowIndexMaximum");
        if (pf.columnIndexField)
            addInteger("columnIndex", Source::I32, need(b_.columnIndex, "columnIndex"), 0,
                       pf.columnIndexMaximum, "columnIndexMaximum");
        if (pf.timeStampField) planTime(need(b_.timeStamp, "timeStamp"));
        if (pf.cartesianInvalidStateField)
            addInteger("cartesianInvalidState", Source::I8,
                       need(b_.cartesianInvalidState, "cartesianInvalidState"), 0, 2,
                       "the range 0..2");
        if (pf.sphericalInvalidStateField)
            addInteger("sphericalInvalidState", Source::I8,
                       need(b_.sphericalInvalidState, "sphericalInvalidState"), 0, 2,
                       "the range 0..2");
        if (pf.isIntensityInvalidField)
            addInteger("isIntensityInvalid", Source::I8,
                       need(b_.isIntensityInvalid, "isIntensityInvalid"), 0, 1, "the range 0..1");
        if (pf.isColorInvalidField)
            addInteger("isColorInvalid", Source::I8, need(b_.isColorInvalid, "isColorInvalid"), 0,
                       1, "the range 0..1");
        if (pf.isTimeStampInvalidField)
            addInteger("isTimeStampInvalid", Source::I8,
                       need(b_.isTimeStampInvalid, "isTimeStampInvalid"), 0, 1, "the range 0..1");
        GroupCoding normal;
        normal.coding = Coding::Single;
        normal.floatMinimum = -1.0;
        normal.floatMaximum = 1.0;
        if (pf.normalXField)
            add("nor:normalX", normal, Source::F32, need(b_.normalX, "normalX"), "");
        if (pf.normalYField)
            add("nor:normalY", normal, Source::F32, need(b_.normalY, "normalY"), "");
        if (pf.normalZField)
            add("nor:normalZ", normal, Source::F32, need(b_.normalZ, "normalZ"), "");
        usesNormals_ = pf.normalXField || pf.normalYField || pf.normalZField;
        if (missingBuffer_ != nullptr) {
            fail(ErrorNoBufferForElement, std::string("field ") + missingBuffer_ +
                                              " is enabled in pointFields but its buffer is null");
        }

        for (FieldPlan& f : fields_) {
            switch (f.coding) {
                case Coding::Single: f.bits = 32; break;
                case Coding::Double: f.bits = 64; break;
                case Coding::Integer:
                case Coding::Scaled: f.bits = bitpack::bitsForRange(f.minimum, f.maximum); break;
            }
        }
    }

    void planIntensity(const double* data) {
        const PointStandardizedFieldsAvailable& pf = h_.pointFields;
        const IntensityLimits& lim = h_.intensityLimits;
        GroupCoding g;
        switch (pf.intensityNodeType) {
            case NumericalNodeType::Integer:
                addInteger("intensity", Source::F64, data,
                           integerBound(lim.intensityMinimum, "intensityLimits"),
                           integerBound(lim.intensityMaximum, "intensityLimits"),
                           "intensityLimits");
                return;
            case NumericalNodeType::ScaledInteger:
                if (!(pf.intensityScale != 0.0 && std::isfinite(pf.intensityScale))) {
                    fail(ErrorInvalidData3DValue,
                         "intensityScale must be a finite non-zero number for ScaledInteger, not " +
                             num(pf.intensityScale));
                }
                g.coding = Coding::Scaled;
                g.scale = pf.intensityScale;
                g.minimum = scaledBound(lim.intensityMinimum, g.scale, "intensityLimits");
                g.maximum = scaledBound(lim.intensityMaximum, g.scale, "intensityLimits");
                break;
            case NumericalNodeType::Float:
            case NumericalNodeType::Double:
                g.coding = pf.intensityNodeType == NumericalNodeType::Float ? Coding::Single
                                                                            : Coding::Double;
                requireNotNaN(lim.intensityMinimum, "intensityLimits");
                requireNotNaN(lim.intensityMaximum, "intensityLimits");
                if (lim.intensityMinimum > lim.intensityMaximum) {
                    fail(ErrorValueOutOfBounds, "intensityLimits minimum " +
                                                    num(lim.intensityMinimum) + " > maximum " +
                                                    num(lim.intensityMaximum));
                }
                g.floatMinimum = lim.intensityMinimum;
                g.floatMaximum = lim.intensityMaximum;
                break;
        }
        add("intensity", g, Source::F64, data, "intensityLimits");
    }

    void planTime(const double* data) {
        PointStandardizedFieldsAvailable& pf = h_.pointFields;
        GroupCoding g;
        switch (pf.timeNodeType) {
            case NumericalNodeType::Integer:
                addInteger("timeStamp", Source::F64, data,
                           integerBound(pf.timeMinimum, "timeMinimum"),
                           integerBound(pf.timeMaximum, "timeMaximum"), "timeMinimum/timeMaximum");
                return;
            case NumericalNodeType::ScaledInteger: {
                if (!(pf.timeScale != 0.0 && std::isfinite(pf.timeScale))) {
                    fail(ErrorInvalidData3DValue,
                         "timeScale must be a finite non-zero number for ScaledInteger, not " +
                             num(pf.timeScale));
                }
                if (isUnsetRange(pf.timeMinimum, pf.timeMaximum)) {
                    double mn = std::numeric_limits<double>::infinity();
                    double mx = -mn;
                    for (std::size_t i = 0; i < n_; ++i) {
                        if (std::isfinite(data[i])) {
                            mn = data[i] < mn ? data[i] : mn;
                            mx = data[i] > mx ? data[i] : mx;
                        }
                    }
                    if (mn > mx) mn = mx = 0.0;
                    pf.timeMinimum = mn;
                    pf.timeMaximum = mx;
                }
                g.coding = Coding::Scaled;
                g.scale = pf.timeScale;
                g.minimum = scaledBound(pf.timeMinimum, g.scale, "timeMinimum");
                g.maximum = scaledBound(pf.timeMaximum, g.scale, "timeMaximum");
                break;
            }
            case NumericalNodeType::Float:
            case NumericalNodeType::Double:
                // No bounds: the library ignores the time range for float nodes. Float rounds
                // the stamps to single precision.
                g.coding =
                    pf.timeNodeType == NumericalNodeType::Float ? Coding::Single : Coding::Double;
                break;
        }
        add("timeStamp", g, Source::F64, data, "timeMinimum/timeMaximum");
    }

    bool planGrouping() const {
        const GroupingByLine& g = h_.pointGroupingSchemes.groupingByLine;
        if (g.idElementName.empty()) return false;
        if (g.groupsSize < 1 || n_ < 1 || g.pointCountSize < 0) {
            fail(ErrorValueOutOfBounds,
                 "groupingByLine needs groupsSize >= 1, pointCount >= 1 and pointCountSize >= 0 "
                 "(groupsSize=" +
                     std::to_string(g.groupsSize) + " pointCount=" + std::to_string(n_) +
                     " pointCountSize=" + std::to_string(g.pointCountSize) + ")");
        }
        return true;
    }

    // ---- value checks -------------------------------------------------------------------

    // Raw value of a floating value for an Integer/Scaled field, or nothing when it has none.
    static std::optional<std::int64_t> rawOf(const FieldPlan& f, double v) {
        const double r = f.coding == Coding::Scaled ? std::floor(v / f.scale + 0.5) : std::trunc(v);
        if (!(r >= -kTwo63 && r < kTwo63)) return std::nullopt;
        return static_cast<std::int64_t>(r);
    }

    std::string boundsText(const FieldPlan& f) const {
        if (f.coding == Coding::Scaled) {
            return "[" + num(static_cast<double>(f.minimum) * f.scale) + ", " +
                   num(static_cast<double>(f.maximum) * f.scale) + "] (raw " +
                   std::to_string(f.minimum) + ".." + std::to_string(f.maximum) + ", scale " +
                   num(f.scale) + ")";
        }
        return "[" + std::to_string(f.minimum) + ", " + std::to_string(f.maximum) + "]";
    }

    [[noreturn]] void failValue(const FieldPlan& f, const std::string& value,
                                std::size_t index) const {
        fail(ErrorValueOutOfBounds, std::string("field ") + f.name + ": value " + value +
                                        " at point " + std::to_string(index) +
                                        " is outside the declared range " + boundsText(f) +
                                        " from " + f.boundsSource);
    }

    template <class S>
    void validateFloating(const FieldPlan& f, const S* p) const {
        // Four independent lanes: one chain of min/max would wait on each comparison.
        constexpr double inf = std::numeric_limits<double>::infinity();
        double lo[4] = {inf, inf, inf, inf};
        double hi[4] = {-inf, -inf, -inf, -inf};
        bool nan = false;
        std::size_t i = 0;
        for (; i + 4 <= n_; i += 4) {
            for (std::size_t j = 0; j < 4; ++j) {
                const double v = static_cast<double>(p[i + j]);
                nan |= (v != v);
                lo[j] = v < lo[j] ? v : lo[j];
                hi[j] = v > hi[j] ? v : hi[j];
            }
        }
        for (; i < n_; ++i) {
            const double v = static_cast<double>(p[i]);
            nan |= (v != v);
            lo[0] = v < lo[0] ? v : lo[0];
            hi[0] = v > hi[0] ? v : hi[0];
        }
        double mn = lo[0];
        double mx = hi[0];
        for (std::size_t j = 1; j < 4; ++j) {
            mn = lo[j] < mn ? lo[j] : mn;
            mx = hi[j] > mx ? hi[j] : mx;
        }
        if (!nan) {
            // The conversions are monotonic, so the extremes decide for all values.
            const auto a = rawOf(f, mn);
            const auto b = rawOf(f, mx);
            if (a && b && *a >= f.minimum && *a <= f.maximum && *b >= f.minimum && *b <= f.maximum)
                return;
        }
        for (std::size_t i = 0; i < n_; ++i) {
            const double v = static_cast<double>(p[i]);
            const auto r = rawOf(f, v);
            if (!r || *r < f.minimum || *r > f.maximum) failValue(f, num(v), i);
        }
    }

    template <class S>
    void validateIntegral(const FieldPlan& f, const S* p) const {
        std::int64_t mn = std::numeric_limits<std::int64_t>::max();
        std::int64_t mx = std::numeric_limits<std::int64_t>::min();
        for (std::size_t i = 0; i < n_; ++i) {
            const std::int64_t v = p[i];
            mn = v < mn ? v : mn;
            mx = v > mx ? v : mx;
        }
        if (mn >= f.minimum && mx <= f.maximum) return;
        for (std::size_t i = 0; i < n_; ++i) {
            const std::int64_t v = p[i];
            if (v < f.minimum || v > f.maximum) failValue(f, std::to_string(v), i);
        }
    }

    void validateValues(const FieldPlan& f) const {
        if (n_ == 0 || f.coding == Coding::Single || f.coding == Coding::Double)
            return;  // floats are not range-checked
        switch (f.source) {
            case Source::Coord: validateFloating(f, static_cast<const COORD*>(f.data)); break;
            case Source::F64: validateFloating(f, static_cast<const double*>(f.data)); break;
            case Source::F32: validateFloating(f, static_cast<const float*>(f.data)); break;
            case Source::U16: validateIntegral(f, static_cast<const std::uint16_t*>(f.data)); break;
            case Source::I32: validateIntegral(f, static_cast<const std::int32_t*>(f.data)); break;
            case Source::I8: validateIntegral(f, static_cast<const std::int8_t*>(f.data)); break;
        }
    }

    // ---- encoding -----------------------------------------------------------------------

    template <class S>
    static std::size_t encodeTyped(const FieldPlan& f, const S* src, std::size_t count,
                                   std::uint8_t* out) {
        switch (f.coding) {
            case Coding::Single: return bitpack::encodeSingle(src, count, out);
            case Coding::Double: return bitpack::encodeDouble(src, count, out);
            case Coding::Integer:
                if (f.bits == 0) return 0;
                return bitpack::encodeBits(src, count, f.bits, f.minimum, bitpack::TruncateToRaw{},
                                           out);
            case Coding::Scaled:
                if (f.bits == 0) return 0;
                return bitpack::encodeBits(src, count, f.bits, f.minimum,
                                           bitpack::ScaleToRaw{f.scale}, out);
        }
        return 0;
    }

    static std::size_t encodeField(const FieldPlan& f, std::size_t first, std::size_t count,
                                   std::uint8_t* out) {
        switch (f.source) {
            case Source::Coord:
                return encodeTyped(f, static_cast<const COORD*>(f.data) + first, count, out);
            case Source::F64:
                return encodeTyped(f, static_cast<const double*>(f.data) + first, count, out);
            case Source::F32:
                return encodeTyped(f, static_cast<const float*>(f.data) + first, count, out);
            case Source::U16:
                return encodeTyped(f, static_cast<const std::uint16_t*>(f.data) + first, count,
                                   out);
            case Source::I32:
                return encodeTyped(f, static_cast<const std::int32_t*>(f.data) + first, count, out);
            case Source::I8:
                return encodeTyped(f, static_cast<const std::int8_t*>(f.data) + first, count, out);
        }
        return 0;
    }

    // Writes one compressed-vector section (header, data packets, one index packet) and returns
    // the physical offset of its header. Every packet holds the same record range of every
    // field, a multiple of 8 records except the last, so each packet decodes on its own.
    std::uint64_t writeVector(const std::vector<FieldPlan>& fields, std::size_t records) {
        PagedWriter& out = impl_.out();
        std::vector<std::uint8_t>& packet = impl_.packetBuffer();
        const std::uint64_t start = out.logicalPosition();
        const std::uint64_t startPhysical = out.physicalPosition();
        out.appendZeros(32);
        const std::uint64_t dataPhysical = out.physicalPosition();
        if (records == 0) {
            const std::uint8_t empty[8] = {1, 0, 7, 0, 0, 0, 0, 0};
            out.append(empty, sizeof empty);
        } else {
            const std::size_t streams = fields.size();
            const std::size_t headerBytes = 6 + 2 * streams;
            std::uint64_t bitsPerRecord = 0;
            for (const FieldPlan& f : fields) bitsPerRecord += f.bits;
            std::size_t perPacket = records;
            if (bitsPerRecord > 0) {
                perPacket =
                    static_cast<std::size_t>((65536 - 3 - headerBytes) * 8 / bitsPerRecord) / 8 * 8;
            }
            for (std::size_t first = 0; first < records; first += perPacket) {
                const std::size_t count = std::min(perPacket, records - first);
                std::uint8_t* p = packet.data();
                std::size_t at = headerBytes;
                for (std::size_t i = 0; i < streams; ++i) {
                    const std::size_t bytes = encodeField(fields[i], first, count, p + at);
                    p[6 + 2 * i] = std::uint8_t(bytes);
                    p[7 + 2 * i] = std::uint8_t(bytes >> 8);
                    at += bytes;
                }
                while (at % 4 != 0) p[at++] = 0;
                p[0] = 1;
                p[1] = 0;
                p[2] = std::uint8_t(at - 1);
                p[3] = std::uint8_t((at - 1) >> 8);
                p[4] = std::uint8_t(streams);
                p[5] = std::uint8_t(streams >> 8);
                out.append(p, at);
            }
        }
        const std::uint64_t indexPhysical = out.physicalPosition();
        std::uint8_t index[32] = {0, 0, 31, 0, 1, 0, 0};
        putU64(index + 16, 0);
        putU64(index + 24, dataPhysical);
        out.append(index, sizeof index);
        std::uint8_t header[32] = {1};
        putU64(header + 8, out.logicalPosition() - start);
        putU64(header + 16, dataPhysical);
        putU64(header + 24, indexPhysical);
        out.patch(start, header, sizeof header);
        return startPhysical;
    }

    // ---- XML ----------------------------------------------------------------------------

    static void prototypeLeaf(xml::Builder& b, const FieldPlan& f) {
        switch (f.coding) {
            case Coding::Single:
            case Coding::Double:
                // Every range holds 0 (checked when planned), so the prototype values are 0.
                b.floating(f.name, 0.0, f.coding == Coding::Single, f.floatMinimum, f.floatMaximum);
                break;
            case Coding::Integer: b.integer(f.name, 0, f.minimum, f.maximum); break;
            case Coding::Scaled: b.scaledInteger(f.name, 0, f.scale, f.minimum, f.maximum); break;
        }
    }

    static void dateTime(xml::Builder& b, const char* name, const DateTime& t) {
        b.openStructure(name);
        b.floating("dateTimeValue", t.dateTimeValue);
        b.integer("isAtomicClockReferenced", t.isAtomicClockReferenced);
        b.close(name);
    }

    void intensityLimit(xml::Builder& b, const char* name, double v) const {
        const PointStandardizedFieldsAvailable& pf = h_.pointFields;
        switch (pf.intensityNodeType) {
            case NumericalNodeType::Integer: b.integer(name, integerBound(v, name)); break;
            case NumericalNodeType::ScaledInteger:
                if (pf.intensityScale != 0.0 && std::isfinite(pf.intensityScale))
                    b.scaledInteger(name, scaledBound(v, pf.intensityScale, name),
                                    pf.intensityScale);
                else
                    b.floating(name, v);
                break;
            case NumericalNodeType::Float: b.floating(name, v, true); break;
            case NumericalNodeType::Double: b.floating(name, v); break;
        }
    }

    std::string describe(std::uint64_t pointsOffset, bool grouping,
                         std::uint64_t groupsOffset) const {
        const Data3D& h = h_;
        xml::Builder b(2);
        b.openStructure("vectorChild");
        b.string("guid", h.guid);
        if (!h.name.empty()) b.string("name", h.name);
        if (!h.description.empty()) b.string("description", h.description);
        if (!h.originalGuids.empty()) {
            b.openVector("originalGuids", false);
            for (const std::string& g : h.originalGuids) b.string("vectorChild", g);
            b.close("originalGuids");
        }
        const std::pair<const char*, const std::string*> sensors[] = {
            {"sensorVendor", &h.sensorVendor},
            {"sensorModel", &h.sensorModel},
            {"sensorSerialNumber", &h.sensorSerialNumber},
            {"sensorHardwareVersion", &h.sensorHardwareVersion},
            {"sensorSoftwareVersion", &h.sensorSoftwareVersion},
            {"sensorFirmwareVersion", &h.sensorFirmwareVersion},
        };
        for (const auto& [name, value] : sensors)
            if (!value->empty()) b.string(name, *value);
        if (h.temperature != FLOAT_MAX) b.floating("temperature", h.temperature);
        if (h.relativeHumidity != FLOAT_MAX) b.floating("relativeHumidity", h.relativeHumidity);
        if (h.atmosphericPressure != FLOAT_MAX)
            b.floating("atmosphericPressure", h.atmosphericPressure);

        const IndexBounds& ib = h.indexBounds;
        if (ib != IndexBounds{}) {
            b.openStructure("indexBounds");
            if (ib.rowMinimum != 0 || ib.rowMaximum != 0) {
                b.integer("rowMinimum", ib.rowMinimum);
                b.integer("rowMaximum", ib.rowMaximum);
            }
            if (ib.columnMinimum != 0 || ib.columnMaximum != 0) {
                b.integer("columnMinimum", ib.columnMinimum);
                b.integer("columnMaximum", ib.columnMaximum);
            }
            if (ib.returnMinimum != 0 || ib.returnMaximum != 0) {
                b.integer("returnMinimum", ib.returnMinimum);
                b.integer("returnMaximum", ib.returnMaximum);
            }
            b.close("indexBounds");
        }
        if (writesIntensityLimits()) {
            b.openStructure("intensityLimits");
            intensityLimit(b, "intensityMinimum", h.intensityLimits.intensityMinimum);
            intensityLimit(b, "intensityMaximum", h.intensityLimits.intensityMaximum);
            b.close("intensityLimits");
        }
        if (writesColorLimits()) {
            const ColorLimits& c = h.colorLimits;
            b.openStructure("colorLimits");
            b.integer("colorRedMaximum", integerBound(c.colorRedMaximum, "colorLimits"));
            b.integer("colorRedMinimum", integerBound(c.colorRedMinimum, "colorLimits"));
            b.integer("colorGreenMaximum", integerBound(c.colorGreenMaximum, "colorLimits"));
            b.integer("colorGreenMinimum", integerBound(c.colorGreenMinimum, "colorLimits"));
            b.integer("colorBlueMaximum", integerBound(c.colorBlueMaximum, "colorLimits"));
            b.integer("colorBlueMinimum", integerBound(c.colorBlueMinimum, "colorLimits"));
            b.close("colorLimits");
        }
        if (writesCartesianBounds()) {
            const CartesianBounds& c = h.cartesianBounds;
            b.openStructure("cartesianBounds");
            b.floating("xMinimum", c.xMinimum);
            b.floating("xMaximum", c.xMaximum);
            b.floating("yMinimum", c.yMinimum);
            b.floating("yMaximum", c.yMaximum);
            b.floating("zMinimum", c.zMinimum);
            b.floating("zMaximum", c.zMaximum);
            b.close("cartesianBounds");
        }
        if (writesSphericalBounds()) {
            const SphericalBounds& s = h.sphericalBounds;
            b.openStructure("sphericalBounds");
            b.floating("rangeMinimum", s.rangeMinimum);
            b.floating("rangeMaximum", s.rangeMaximum);
            b.floating("elevationMinimum", s.elevationMinimum);
            b.floating("elevationMaximum", s.elevationMaximum);
            b.floating("azimuthStart", s.azimuthStart);
            b.floating("azimuthEnd", s.azimuthEnd);
            b.close("sphericalBounds");
        }
        writePose(b, h.pose);
        if (h.acquisitionStart.dateTimeValue > 0)
            dateTime(b, "acquisitionStart", h.acquisitionStart);
        if (h.acquisitionEnd.dateTimeValue > 0) dateTime(b, "acquisitionEnd", h.acquisitionEnd);
        if (grouping) {
            const GroupingByLine& g = h.pointGroupingSchemes.groupingByLine;
            b.openStructure("pointGroupingSchemes");
            b.openStructure("groupingByLine");
            b.string("idElementName", g.idElementName == "rowIndex" ? "rowIndex" : "columnIndex");
            b.openCompressedVector("groups", groupsOffset, 0);
            b.openStructure("prototype");
            b.integer("startPointIndex", 0, 0, static_cast<std::int64_t>(n_) - 1);
            b.integer("idElementValue", 0, 0, g.groupsSize - 1);
            b.integer("pointCount", 0, 0, g.pointCountSize);
            b.close("prototype");
            b.emptyVector("codecs", true);
            b.close("groups");
            b.close("groupingByLine");
            b.close("pointGroupingSchemes");
        }
        b.openCompressedVector("points", pointsOffset, n_);
        b.openStructure("prototype");
        for (const FieldPlan& f : fields_) prototypeLeaf(b, f);
        b.close("prototype");
        b.emptyVector("codecs", true);
        b.close("points");
        b.close("vectorChild");
        return b.take();
    }

    WriterImpl& impl_;
    Data3D h_;  // working copy: gets the generated guid and the bounds taken from the data
    const Data3DPointsData_t<COORD>& b_;
    std::size_t n_;
    std::string label_;
    std::vector<FieldPlan> fields_;
    bool usesNormals_ = false;
    const char* missingBuffer_ = nullptr;
};

}  // namespace

void writePose(xml::Builder& b, const RigidBodyTransform& pose) {
    if (pose == RigidBodyTransform::identity()) return;
    b.openStructure("pose");
    b.openStructure("rotation");
    b.floating("w", pose.rotation.w);
    b.floating("x", pose.rotation.x);
    b.floating("y", pose.rotation.y);
    b.floating("z", pose.rotation.z);
    b.close("rotation");
    b.openStructure("translation");
    b.floating("x", pose.translation.x);
    b.floating("y", pose.translation.y);
    b.floating("z", pose.translation.z);
    b.close("translation");
    b.close("pose");
}

template <class COORD>
int64_t WriterImpl::writeData3DImpl(Data3D& header, const Data3DPointsData_t<COORD>& buffers) {
    requireOpen("WriteData3DData");
    ScanWriter<COORD> scan(*this, header, buffers);
    return scan.run(header);
}

int64_t WriterImpl::writeData3D(Data3D& header, const Data3DPointsFloat& buffers) {
    return writeData3DImpl(header, buffers);
}

int64_t WriterImpl::writeData3D(Data3D& header, const Data3DPointsDouble& buffers) {
    return writeData3DImpl(header, buffers);
}

}  // namespace e57
