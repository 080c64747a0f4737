// WriteImage2DData: one image block with one representation and its blob sections. The call is
// checked whole before any byte is written; when it writes nothing it adds no image block.

#include <cmath>
#include <cstdio>

#include "writer_impl.h"
#include "xml_writer.h"

namespace e57 {

namespace {

// The representation an image header produces: the first of visual, pinhole, spherical and
// cylindrical that has a JPEG or PNG size.
struct ChosenRepresentation {
    Image2DProjection projection = ProjectionNone;
    const char* element = "";
    int64_t jpegSize = 0;
    int64_t pngSize = 0;
    int64_t maskSize = 0;
    int32_t width = 0;
    int32_t height = 0;
};

template <class R>
bool take(ChosenRepresentation& c, const R& r, Image2DProjection projection, const char* element) {
    if (r.jpegImageSize <= 0 && r.pngImageSize <= 0) return false;
    c.projection = projection;
    c.element = element;
    c.jpegSize = r.jpegImageSize > 0 ? r.jpegImageSize : 0;
    c.pngSize = r.jpegImageSize > 0 ? 0 : r.pngImageSize;
    c.maskSize = r.imageMaskSize > 0 ? r.imageMaskSize : 0;
    c.width = r.imageWidth;
    c.height = r.imageHeight;
    return true;
}

void putU64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

// A blob section: 16-byte header, the data (the caller's bytes at `start`, zeros elsewhere), zero
// padding to a multiple of 4. Returns the physical offset of the section header.
std::uint64_t writeBlob(PagedWriter& out, std::uint64_t length, const std::uint8_t* data,
                        std::uint64_t start, std::uint64_t count) {
    const std::uint64_t padded = (length + 3) / 4 * 4;
    const std::uint64_t physical = out.physicalPosition();
    std::uint8_t header[16] = {};
    putU64(header + 8, 16 + padded);
    out.append(header, sizeof header);
    if (data != nullptr && count > 0) {
        out.appendZeros(start);
        out.append(data, count);
        out.appendZeros(padded - start - count);
    } else {
        out.appendZeros(padded);
    }
    return physical;
}

}  // namespace

int64_t WriterImpl::writeImage2D(Image2D& header, Image2DType imageType,
                                 Image2DProjection projection, int64_t startPos, const void* buffer,
                                 int64_t byteCount) {
    requireOpen("WriteImage2DData");
    const std::string guid = header.guid.empty() ? makeRandomGuid() : header.guid;
    const std::string label = "image " + std::to_string(nextImageIndex()) + " (guid=" + guid +
                              (header.name.empty() ? "" : ", name=" + header.name) + ")";
    auto fail = [&](ErrorCode code, const std::string& text) {
        throw E57Exception(code, "WriteImage2DData " + label + ": " + text, __FILE__, __LINE__,
                           "WriteImage2DData");
    };

    const auto negative = [](const auto& r) {
        return r.jpegImageSize < 0 || r.pngImageSize < 0 || r.imageMaskSize < 0;
    };
    if (negative(header.visualReferenceRepresentation) || negative(header.pinholeRepresentation) ||
        negative(header.sphericalRepresentation) || negative(header.cylindricalRepresentation)) {
        fail(ErrorBadAPIArgument, "an image size is negative");
    }
    ChosenRepresentation rep;
    if (!take(rep, header.visualReferenceRepresentation, ProjectionVisual,
              "visualReferenceRepresentation") &&
        !take(rep, header.pinholeRepresentation, ProjectionPinhole, "pinholeRepresentation") &&
        !take(rep, header.sphericalRepresentation, ProjectionSpherical,
              "sphericalRepresentation") &&
        !take(rep, header.cylindricalRepresentation, ProjectionCylindrical,
              "cylindricalRepresentation")) {
        return 0;  // no representation has an image: nothing to write
    }
    // The blob the caller's bytes go to; none means there is nothing to write.
    int64_t targetSize = 0;
    bool targetIsMask = false;
    if (projection == rep.projection) {
        if (imageType == ImageJPEG && rep.jpegSize > 0) targetSize = rep.jpegSize;
        if (imageType == ImagePNG && rep.pngSize > 0) targetSize = rep.pngSize;
        if (imageType == ImageMaskPNG && rep.maskSize > 0) {
            targetSize = rep.maskSize;
            targetIsMask = true;
        }
    }
    if (targetSize == 0) return 0;
    if (startPos < 0 || byteCount < 0 || startPos > targetSize ||
        byteCount > targetSize - startPos) {
        fail(ErrorBadAPIArgument, "bytes " + std::to_string(startPos) + ".." +
                                      std::to_string(startPos) + "+" + std::to_string(byteCount) +
                                      " do not fit the blob of " + std::to_string(targetSize) +
                                      " bytes");
    }
    if (byteCount > 0 && buffer == nullptr) fail(ErrorBadAPIArgument, "the buffer is null");

    auto finite = [&](double v, const char* what) {
        if (!std::isfinite(v))
            fail(ErrorBadAPIArgument, std::string(what) + " is not a finite number");
    };
    const RigidBodyTransform& pose = header.pose;
    for (double v : {pose.rotation.w, pose.rotation.x, pose.rotation.y, pose.rotation.z,
                     pose.translation.x, pose.translation.y, pose.translation.z})
        finite(v, "pose");
    if (header.acquisitionDateTime.dateTimeValue > 0)
        finite(header.acquisitionDateTime.dateTimeValue, "acquisitionDateTime");
    const PinholeRepresentation& ph = header.pinholeRepresentation;
    const SphericalRepresentation& sp = header.sphericalRepresentation;
    const CylindricalRepresentation& cy = header.cylindricalRepresentation;
    switch (rep.projection) {
        case ProjectionPinhole:
            for (double v : {ph.focalLength, ph.pixelWidth, ph.pixelHeight, ph.principalPointX,
                             ph.principalPointY})
                finite(v, "pinholeRepresentation");
            break;
        case ProjectionSpherical:
            for (double v : {sp.pixelWidth, sp.pixelHeight}) finite(v, "sphericalRepresentation");
            break;
        case ProjectionCylindrical:
            for (double v : {cy.pixelWidth, cy.pixelHeight, cy.radius, cy.principalPointY})
                finite(v, "cylindricalRepresentation");
            break;
        default: break;
    }
    const Extension::PinholeCameraDistortion* dist = header.pinholeCameraDistortionExt.get();
    if (dist != nullptr) {
        for (double v :
             {dist->CV_K1, dist->CV_K2, dist->CV_K3, dist->CV_K4, dist->CV_K5, dist->CV_K6,
              dist->CV_P1, dist->CV_P2, dist->CV_CX, dist->CV_CY, dist->CV_FX, dist->CV_FY})
            finite(v, "pinholeCameraDistortionExt");
    }

    // Checked: write the image blob, then the mask blob.
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    const int64_t imageSize = rep.jpegSize > 0 ? rep.jpegSize : rep.pngSize;
    const std::uint64_t imageOffset =
        writeBlob(*out_, static_cast<std::uint64_t>(imageSize), targetIsMask ? nullptr : bytes,
                  static_cast<std::uint64_t>(startPos), static_cast<std::uint64_t>(byteCount));
    std::uint64_t maskOffset = 0;
    if (rep.maskSize > 0) {
        maskOffset = writeBlob(*out_, static_cast<std::uint64_t>(rep.maskSize),
                               targetIsMask ? bytes : nullptr, static_cast<std::uint64_t>(startPos),
                               static_cast<std::uint64_t>(byteCount));
    }

    xml::Builder b(2);
    b.openStructure("vectorChild");
    b.string("guid", guid);
    if (!header.name.empty()) b.string("name", header.name);
    if (!header.description.empty()) b.string("description", header.description);
    if (!header.sensorVendor.empty()) b.string("sensorVendor", header.sensorVendor);
    if (!header.sensorModel.empty()) b.string("sensorModel", header.sensorModel);
    if (!header.sensorSerialNumber.empty())
        b.string("sensorSerialNumber", header.sensorSerialNumber);
    if (!header.associatedData3DGuid.empty())
        b.string("associatedData3DGuid", header.associatedData3DGuid);
    if (header.acquisitionDateTime.dateTimeValue > 0) {
        b.openStructure("acquisitionDateTime");
        b.floating("dateTimeValue", header.acquisitionDateTime.dateTimeValue);
        b.integer("isAtomicClockReferenced", header.acquisitionDateTime.isAtomicClockReferenced);
        b.close("acquisitionDateTime");
    }
    writePose(b, header.pose);
    b.openStructure(rep.element);
    if (rep.jpegSize > 0)
        b.blob("jpegImage", imageOffset, static_cast<std::uint64_t>(rep.jpegSize));
    else
        b.blob("pngImage", imageOffset, static_cast<std::uint64_t>(rep.pngSize));
    if (rep.maskSize > 0) b.blob("imageMask", maskOffset, static_cast<std::uint64_t>(rep.maskSize));
    b.integer("imageWidth", rep.width);
    b.integer("imageHeight", rep.height);
    switch (rep.projection) {
        case ProjectionPinhole:
            b.floating("focalLength", ph.focalLength);
            b.floating("pixelWidth", ph.pixelWidth);
            b.floating("pixelHeight", ph.pixelHeight);
            b.floating("principalPointX", ph.principalPointX);
            b.floating("principalPointY", ph.principalPointY);
            break;
        case ProjectionSpherical:
            b.floating("pixelWidth", sp.pixelWidth);
            b.floating("pixelHeight", sp.pixelHeight);
            break;
        case ProjectionCylindrical:
            b.floating("pixelWidth", cy.pixelWidth);
            b.floating("pixelHeight", cy.pixelHeight);
            b.floating("radius", cy.radius);
            b.floating("principalPointY", cy.principalPointY);
            break;
        default: break;
    }
    b.close(rep.element);
    if (dist != nullptr) {
        b.openStructure("dist:distortion");
        b.integer("dist:CameraNumber", dist->cameraNumber);
        b.string("dist:Type", dist->type);
        b.floating("dist:CV_K1", dist->CV_K1);
        b.floating("dist:CV_K2", dist->CV_K2);
        b.floating("dist:CV_K3", dist->CV_K3);
        b.floating("dist:CV_K4", dist->CV_K4);
        b.floating("dist:CV_K5", dist->CV_K5);
        b.floating("dist:CV_K6", dist->CV_K6);
        b.floating("dist:CV_P1", dist->CV_P1);
        b.floating("dist:CV_P2", dist->CV_P2);
        b.floating("dist:CV_CX", dist->CV_CX);
        b.floating("dist:CV_CY", dist->CV_CY);
        b.floating("dist:CV_FX", dist->CV_FX);
        b.floating("dist:CV_FY", dist->CV_FY);
        b.integer("dist:CV_HEIGHT", dist->CV_HEIGHT);
        b.integer("dist:CV_WIDTH", dist->CV_WIDTH);
        b.close("dist:distortion");
    }
    b.close("vectorChild");
    commitImage(b.take(), dist != nullptr);
    header.guid = guid;
    return byteCount;
}

}  // namespace e57
