#include "E57SimpleData.h"

#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

namespace e57 {

bool Translation::operator==(const Translation& r) const {
    return x == r.x && y == r.y && z == r.z;
}
bool Translation::operator!=(const Translation& r) const { return !(*this == r); }
Translation Translation::identity() { return {}; }

bool Quaternion::operator==(const Quaternion& r) const {
    return w == r.w && x == r.x && y == r.y && z == r.z;
}
bool Quaternion::operator!=(const Quaternion& r) const { return !(*this == r); }
Quaternion Quaternion::identity() { return {}; }

bool RigidBodyTransform::operator==(const RigidBodyTransform& r) const {
    return rotation == r.rotation && translation == r.translation;
}
bool RigidBodyTransform::operator!=(const RigidBodyTransform& r) const { return !(*this == r); }
RigidBodyTransform RigidBodyTransform::identity() { return {}; }

bool CartesianBounds::operator==(const CartesianBounds& r) const {
    return xMinimum == r.xMinimum && xMaximum == r.xMaximum && yMinimum == r.yMinimum &&
           yMaximum == r.yMaximum && zMinimum == r.zMinimum && zMaximum == r.zMaximum;
}
bool CartesianBounds::operator!=(const CartesianBounds& r) const { return !(*this == r); }

SphericalBounds::SphericalBounds()
    : rangeMinimum(0.0),
      rangeMaximum(DOUBLE_MAX),
      elevationMinimum(-M_PI / 2.0),
      elevationMaximum(M_PI / 2.0),
      azimuthStart(-M_PI),
      azimuthEnd(M_PI) {}

bool SphericalBounds::operator==(const SphericalBounds& r) const {
    return rangeMinimum == r.rangeMinimum && rangeMaximum == r.rangeMaximum &&
           elevationMinimum == r.elevationMinimum && elevationMaximum == r.elevationMaximum &&
           azimuthStart == r.azimuthStart && azimuthEnd == r.azimuthEnd;
}
bool SphericalBounds::operator!=(const SphericalBounds& r) const { return !(*this == r); }

bool IndexBounds::operator==(const IndexBounds& r) const {
    return rowMinimum == r.rowMinimum && rowMaximum == r.rowMaximum &&
           columnMinimum == r.columnMinimum && columnMaximum == r.columnMaximum &&
           returnMinimum == r.returnMinimum && returnMaximum == r.returnMaximum;
}
bool IndexBounds::operator!=(const IndexBounds& r) const { return !(*this == r); }

bool IntensityLimits::operator==(const IntensityLimits& r) const {
    return intensityMinimum == r.intensityMinimum && intensityMaximum == r.intensityMaximum;
}
bool IntensityLimits::operator!=(const IntensityLimits& r) const { return !(*this == r); }

bool ColorLimits::operator==(const ColorLimits& r) const {
    return colorRedMinimum == r.colorRedMinimum && colorRedMaximum == r.colorRedMaximum &&
           colorGreenMinimum == r.colorGreenMinimum && colorGreenMaximum == r.colorGreenMaximum &&
           colorBlueMinimum == r.colorBlueMinimum && colorBlueMaximum == r.colorBlueMaximum;
}
bool ColorLimits::operator!=(const ColorLimits& r) const { return !(*this == r); }

bool DateTime::operator==(const DateTime& r) const {
    return dateTimeValue == r.dateTimeValue && isAtomicClockReferenced == r.isAtomicClockReferenced;
}
bool DateTime::operator!=(const DateTime& r) const { return !(*this == r); }

namespace {
template <class R>
bool sameImageFields(const R& a, const R& b) {
    return a.jpegImageSize == b.jpegImageSize && a.pngImageSize == b.pngImageSize &&
           a.imageMaskSize == b.imageMaskSize && a.imageWidth == b.imageWidth &&
           a.imageHeight == b.imageHeight;
}

// Owns the arrays the Data3D constructor allocates; shared between copies of the buffer set.
struct OwnedArrays {
    std::vector<std::unique_ptr<unsigned char[]>> blocks;

    template <class T>
    T* make(size_t n) {
        // Left uninitialised, like the arrays the reference allocates; new[] memory is aligned for
        // every element type used here.
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        blocks.emplace_back(new unsigned char[(n == 0 ? 1 : n) * sizeof(T)]);
        return reinterpret_cast<T*>(blocks.back().get());
    }
};
}  // namespace

bool VisualReferenceRepresentation::operator==(const VisualReferenceRepresentation& r) const {
    return sameImageFields(*this, r);
}
bool VisualReferenceRepresentation::operator!=(const VisualReferenceRepresentation& r) const {
    return !(*this == r);
}

bool PinholeRepresentation::operator==(const PinholeRepresentation& r) const {
    return sameImageFields(*this, r) && focalLength == r.focalLength &&
           pixelWidth == r.pixelWidth && pixelHeight == r.pixelHeight &&
           principalPointX == r.principalPointX && principalPointY == r.principalPointY;
}
bool PinholeRepresentation::operator!=(const PinholeRepresentation& r) const {
    return !(*this == r);
}

bool SphericalRepresentation::operator==(const SphericalRepresentation& r) const {
    return sameImageFields(*this, r) && pixelWidth == r.pixelWidth && pixelHeight == r.pixelHeight;
}
bool SphericalRepresentation::operator!=(const SphericalRepresentation& r) const {
    return !(*this == r);
}

bool CylindricalRepresentation::operator==(const CylindricalRepresentation& r) const {
    return sameImageFields(*this, r) && pixelWidth == r.pixelWidth &&
           pixelHeight == r.pixelHeight && radius == r.radius &&
           principalPointY == r.principalPointY;
}
bool CylindricalRepresentation::operator!=(const CylindricalRepresentation& r) const {
    return !(*this == r);
}

template <typename COORDTYPE>
Data3DPointsData_t<COORDTYPE>::Data3DPointsData_t(Data3D& data3D) {
    PointStandardizedFieldsAvailable& f = data3D.pointFields;
    if (f.pointRangeNodeType == NumericalNodeType::Integer)
        throw E57Exception(ErrorInvalidNodeType, "pointRangeNodeType cannot be Integer", __FILE__,
                           __LINE__, __func__);
    if (f.angleNodeType == NumericalNodeType::Integer)
        throw E57Exception(ErrorInvalidNodeType, "angleNodeType cannot be Integer", __FILE__,
                           __LINE__, __func__);

    constexpr bool isFloat = std::is_same<COORDTYPE, float>::value;
    if (isFloat) {
        f.pointRangeMinimum = FLOAT_MIN;
        f.pointRangeMaximum = FLOAT_MAX;
        f.angleMinimum = FLOAT_MIN;
        f.angleMaximum = FLOAT_MAX;
        f.timeMinimum = FLOAT_MIN;
        f.timeMaximum = FLOAT_MAX;
    }
    const NumericalNodeType coordType =
        isFloat ? NumericalNodeType::Float : NumericalNodeType::Double;
    if (f.pointRangeNodeType != NumericalNodeType::ScaledInteger) f.pointRangeNodeType = coordType;
    if (f.angleNodeType != NumericalNodeType::ScaledInteger) f.angleNodeType = coordType;

    auto arrays = std::make_shared<OwnedArrays>();
    const size_t n = data3D.pointCount;
    auto alloc = [&](bool wanted, auto*& field) {
        using T = std::remove_pointer_t<std::remove_reference_t<decltype(field)>>;
        if (wanted) field = arrays->make<T>(n);
    };
    alloc(f.cartesianXField, cartesianX);
    alloc(f.cartesianYField, cartesianY);
    alloc(f.cartesianZField, cartesianZ);
    alloc(f.cartesianInvalidStateField, cartesianInvalidState);
    alloc(f.intensityField, intensity);
    alloc(f.isIntensityInvalidField, isIntensityInvalid);
    alloc(f.colorRedField, colorRed);
    alloc(f.colorGreenField, colorGreen);
    alloc(f.colorBlueField, colorBlue);
    alloc(f.isColorInvalidField, isColorInvalid);
    alloc(f.sphericalRangeField, sphericalRange);
    alloc(f.sphericalAzimuthField, sphericalAzimuth);
    alloc(f.sphericalElevationField, sphericalElevation);
    alloc(f.sphericalInvalidStateField, sphericalInvalidState);
    alloc(f.rowIndexField, rowIndex);
    alloc(f.columnIndexField, columnIndex);
    alloc(f.returnIndexField, returnIndex);
    alloc(f.returnCountField, returnCount);
    alloc(f.timeStampField, timeStamp);
    alloc(f.isTimeStampInvalidField, isTimeStampInvalid);
    alloc(f.normalXField, normalX);
    alloc(f.normalYField, normalY);
    alloc(f.normalZField, normalZ);
    storage_ = std::move(arrays);
    _selfAllocated = true;
}

// The arrays live in storage_, released with the last copy that refers to them.
template <typename COORDTYPE>
Data3DPointsData_t<COORDTYPE>::~Data3DPointsData_t() = default;

template struct Data3DPointsData_t<float>;
template struct Data3DPointsData_t<double>;

}  // namespace e57
