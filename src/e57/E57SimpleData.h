#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>

#include "E57Format.h"
#include "E57SimpleDataExtensions.h"

namespace e57 {

enum Image2DType {
    ImageNone = 0,
    ImageJPEG = 1,
    ImagePNG = 2,
    ImageMaskPNG = 3,
    E57_NO_IMAGE [[deprecated("use ImageNone")]] = ImageNone,
    E57_JPEG_IMAGE [[deprecated("use ImageJPEG")]] = ImageJPEG,
    E57_PNG_IMAGE [[deprecated("use ImagePNG")]] = ImagePNG,
    E57_PNG_IMAGE_MASK [[deprecated("use ImageMaskPNG")]] = ImageMaskPNG,
};

enum Image2DProjection {
    ProjectionNone = 0,
    ProjectionVisual = 1,
    ProjectionPinhole = 2,
    ProjectionSpherical = 3,
    ProjectionCylindrical = 4,
    E57_NO_PROJECTION [[deprecated("use ProjectionNone")]] = ProjectionNone,
    E57_VISUAL [[deprecated("use ProjectionVisual")]] = ProjectionVisual,
    E57_PINHOLE [[deprecated("use ProjectionPinhole")]] = ProjectionPinhole,
    E57_SPHERICAL [[deprecated("use ProjectionSpherical")]] = ProjectionSpherical,
    E57_CYLINDRICAL [[deprecated("use ProjectionCylindrical")]] = ProjectionCylindrical,
};

// Float is a 32-bit float node, Double a 64-bit one.
enum class NumericalNodeType {
    Integer = 0,
    ScaledInteger = 1,
    Float = 2,
    Double = 3,
};

struct E57_DLL Translation {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    bool operator==(const Translation& rhs) const;
    bool operator!=(const Translation& rhs) const;
    static Translation identity();
};

struct E57_DLL Quaternion {
    double w = 1.0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    bool operator==(const Quaternion& rhs) const;
    bool operator!=(const Quaternion& rhs) const;
    static Quaternion identity();
};

struct E57_DLL RigidBodyTransform {
    Quaternion rotation;
    Translation translation;

    bool operator==(const RigidBodyTransform& rhs) const;
    bool operator!=(const RigidBodyTransform& rhs) const;
    static RigidBodyTransform identity();
};

struct E57_DLL CartesianBounds {
    double xMinimum = -DOUBLE_MAX;
    double xMaximum = DOUBLE_MAX;
    double yMinimum = -DOUBLE_MAX;
    double yMaximum = DOUBLE_MAX;
    double zMinimum = -DOUBLE_MAX;
    double zMaximum = DOUBLE_MAX;

    bool operator==(const CartesianBounds& rhs) const;
    bool operator!=(const CartesianBounds& rhs) const;
};

struct E57_DLL SphericalBounds {
    SphericalBounds();

    double rangeMinimum;
    double rangeMaximum;
    double elevationMinimum;
    double elevationMaximum;
    double azimuthStart;
    double azimuthEnd;

    bool operator==(const SphericalBounds& rhs) const;
    bool operator!=(const SphericalBounds& rhs) const;
};

struct E57_DLL IndexBounds {
    int64_t rowMinimum = 0;
    int64_t rowMaximum = 0;
    int64_t columnMinimum = 0;
    int64_t columnMaximum = 0;
    int64_t returnMinimum = 0;
    int64_t returnMaximum = 0;

    bool operator==(const IndexBounds& rhs) const;
    bool operator!=(const IndexBounds& rhs) const;
};

struct E57_DLL IntensityLimits {
    double intensityMinimum = 0.0;
    double intensityMaximum = 0.0;

    bool operator==(const IntensityLimits& rhs) const;
    bool operator!=(const IntensityLimits& rhs) const;
};

struct E57_DLL ColorLimits {
    double colorRedMinimum = 0.0;
    double colorRedMaximum = 0.0;
    double colorGreenMinimum = 0.0;
    double colorGreenMaximum = 0.0;
    double colorBlueMinimum = 0.0;
    double colorBlueMaximum = 0.0;

    bool operator==(const ColorLimits& rhs) const;
    bool operator!=(const ColorLimits& rhs) const;
};

struct E57_DLL DateTime {
    double dateTimeValue = 0.0;
    int32_t isAtomicClockReferenced = 0;

    bool operator==(const DateTime& rhs) const;
    bool operator!=(const DateTime& rhs) const;
};

struct E57_DLL E57Root {
    ustring formatName;
    ustring guid;
    uint32_t versionMajor = 1;
    uint32_t versionMinor = 0;
    ustring e57LibraryVersion;
    DateTime creationDateTime;
    int64_t data3DSize = 0;
    int64_t images2DSize = 0;
    ustring coordinateMetadata;
};

struct E57_DLL LineGroupRecord {
    int64_t idElementValue = 0;
    int64_t startPointIndex = 0;
    int64_t pointCount = 0;
    CartesianBounds cartesianBounds;
    SphericalBounds sphericalBounds;
};

struct E57_DLL GroupingByLine {
    ustring idElementName;
    int64_t groupsSize = 0;
    int64_t pointCountSize = 0;
};

struct E57_DLL PointGroupingSchemes {
    GroupingByLine groupingByLine;
};

struct E57_DLL PointStandardizedFieldsAvailable {
    bool cartesianXField = false;
    bool cartesianYField = false;
    bool cartesianZField = false;
    bool cartesianInvalidStateField = false;

    bool sphericalRangeField = false;
    bool sphericalAzimuthField = false;
    bool sphericalElevationField = false;
    bool sphericalInvalidStateField = false;

    double pointRangeMinimum = DOUBLE_MIN;
    double pointRangeMaximum = DOUBLE_MAX;
    NumericalNodeType pointRangeNodeType = NumericalNodeType::Float;
    double pointRangeScale = 0.0;

    double angleMinimum = DOUBLE_MIN;
    double angleMaximum = DOUBLE_MAX;
    NumericalNodeType angleNodeType = NumericalNodeType::Float;
    double angleScale = 0.0;

    bool rowIndexField = false;
    uint32_t rowIndexMaximum = UINT32_MAX;
    bool columnIndexField = false;
    uint32_t columnIndexMaximum = UINT32_MAX;

    bool returnIndexField = false;
    bool returnCountField = false;
    uint8_t returnMaximum = UINT8_MAX;

    bool timeStampField = false;
    bool isTimeStampInvalidField = false;
    double timeMinimum = DOUBLE_MIN;
    double timeMaximum = DOUBLE_MAX;
    NumericalNodeType timeNodeType = NumericalNodeType::Float;
    double timeScale = 0.0;

    bool intensityField = false;
    bool isIntensityInvalidField = false;
    NumericalNodeType intensityNodeType = NumericalNodeType::Float;
    double intensityScale = 0.0;

    bool colorRedField = false;
    bool colorGreenField = false;
    bool colorBlueField = false;
    bool isColorInvalidField = false;

    bool normalXField = false;
    bool normalYField = false;
    bool normalZField = false;
};

struct E57_DLL Data3D {
    ustring name;
    ustring guid;
    std::vector<ustring> originalGuids;
    ustring description;

    ustring sensorVendor;
    ustring sensorModel;
    ustring sensorSerialNumber;
    ustring sensorHardwareVersion;
    ustring sensorSoftwareVersion;
    ustring sensorFirmwareVersion;

    float temperature = FLOAT_MAX;
    float relativeHumidity = FLOAT_MAX;
    float atmosphericPressure = FLOAT_MAX;

    DateTime acquisitionStart;
    DateTime acquisitionEnd;

    RigidBodyTransform pose;

    IndexBounds indexBounds;
    CartesianBounds cartesianBounds;
    SphericalBounds sphericalBounds;
    IntensityLimits intensityLimits;
    ColorLimits colorLimits;

    PointGroupingSchemes pointGroupingSchemes;
    PointStandardizedFieldsAvailable pointFields;

    size_t pointCount = 0;
};

// Caller-provided arrays for one batch of points. The Data3D constructor allocates them itself;
// that storage is shared between copies, so copying such an object is safe.
template <typename COORDTYPE>
struct Data3DPointsData_t {
    static_assert(std::is_floating_point<COORDTYPE>::value,
                  "COORDTYPE must be a floating-point type");

    Data3DPointsData_t() = default;
    explicit Data3DPointsData_t(e57::Data3D& data3D);
    ~Data3DPointsData_t();

    COORDTYPE* cartesianX = nullptr;
    COORDTYPE* cartesianY = nullptr;
    COORDTYPE* cartesianZ = nullptr;
    int8_t* cartesianInvalidState = nullptr;

    double* intensity = nullptr;
    int8_t* isIntensityInvalid = nullptr;

    uint16_t* colorRed = nullptr;
    uint16_t* colorGreen = nullptr;
    uint16_t* colorBlue = nullptr;
    int8_t* isColorInvalid = nullptr;

    COORDTYPE* sphericalRange = nullptr;
    COORDTYPE* sphericalAzimuth = nullptr;
    COORDTYPE* sphericalElevation = nullptr;
    int8_t* sphericalInvalidState = nullptr;

    int32_t* rowIndex = nullptr;
    int32_t* columnIndex = nullptr;

    int8_t* returnIndex = nullptr;
    int8_t* returnCount = nullptr;

    double* timeStamp = nullptr;
    int8_t* isTimeStampInvalid = nullptr;

    float* normalX = nullptr;
    float* normalY = nullptr;
    float* normalZ = nullptr;

private:
    bool _selfAllocated = false;
    std::shared_ptr<void> storage_;
};

extern template struct Data3DPointsData_t<float>;
extern template struct Data3DPointsData_t<double>;

using Data3DPointsFloat = Data3DPointsData_t<float>;
using Data3DPointsDouble = Data3DPointsData_t<double>;
using Data3DPointsData [[deprecated("use Data3DPointsFloat")]] = Data3DPointsData_t<float>;
using Data3DPointsData_d [[deprecated("use Data3DPointsDouble")]] = Data3DPointsData_t<double>;

struct E57_DLL VisualReferenceRepresentation {
    int64_t jpegImageSize = 0;
    int64_t pngImageSize = 0;
    int64_t imageMaskSize = 0;
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;

    bool operator==(const VisualReferenceRepresentation& rhs) const;
    bool operator!=(const VisualReferenceRepresentation& rhs) const;
};

struct E57_DLL PinholeRepresentation {
    int64_t jpegImageSize = 0;
    int64_t pngImageSize = 0;
    int64_t imageMaskSize = 0;
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;
    double focalLength = 0.0;
    double pixelWidth = 0.0;
    double pixelHeight = 0.0;
    double principalPointX = 0.0;
    double principalPointY = 0.0;

    bool operator==(const PinholeRepresentation& rhs) const;
    bool operator!=(const PinholeRepresentation& rhs) const;
};

struct E57_DLL SphericalRepresentation {
    int64_t jpegImageSize = 0;
    int64_t pngImageSize = 0;
    int64_t imageMaskSize = 0;
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;
    double pixelWidth = 0.0;
    double pixelHeight = 0.0;

    bool operator==(const SphericalRepresentation& rhs) const;
    bool operator!=(const SphericalRepresentation& rhs) const;
};

struct E57_DLL CylindricalRepresentation {
    int64_t jpegImageSize = 0;
    int64_t pngImageSize = 0;
    int64_t imageMaskSize = 0;
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;
    double pixelWidth = 0.0;
    double pixelHeight = 0.0;
    double radius = 0.0;
    double principalPointY = 0.0;

    bool operator==(const CylindricalRepresentation& rhs) const;
    bool operator!=(const CylindricalRepresentation& rhs) const;
};

// Move-only because of the distortion extension.
struct E57_DLL Image2D {
    ustring name;
    ustring guid;
    ustring description;
    DateTime acquisitionDateTime;
    ustring associatedData3DGuid;
    ustring sensorVendor;
    ustring sensorModel;
    ustring sensorSerialNumber;
    RigidBodyTransform pose;

    VisualReferenceRepresentation visualReferenceRepresentation;
    PinholeRepresentation pinholeRepresentation;
    SphericalRepresentation sphericalRepresentation;
    CylindricalRepresentation cylindricalRepresentation;

    std::unique_ptr<Extension::PinholeCameraDistortion> pinholeCameraDistortionExt;
};

}  // namespace e57
