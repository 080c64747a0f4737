#include "reader_impl.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "reader_error.h"

namespace e57 {

namespace {

constexpr char kSignature[8] = {'A', 'S', 'T', 'M', '-', 'E', '5', '7'};

std::string printable(const char* p, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (c >= 32 && c < 127)
            s += static_cast<char>(c);
        else {
            static const char* hex = "0123456789abcdef";
            s += "\\x";
            s += hex[c >> 4];
            s += hex[c & 15];
        }
    }
    return s;
}

// Typed access to optional children, with a clear error when a child has the wrong type.
[[noreturn]] void wrongType(const XmlNode& n, const std::string& where, const char* expected) {
    E57_THROW(ErrorBadNodeDowncast, "element '" + where + "/" + n.name + "' is a " +
                                        xmlNodeTypeName(n.type) + ", expected " + expected);
}

bool getString(const XmlNode& parent, const char* name, std::string& out,
               const std::string& where) {
    const XmlNode* c = parent.child(name);
    if (!c) return false;
    if (c->type != XmlNodeType::String) wrongType(*c, where, "String");
    out = c->text;
    return true;
}

bool getNumber(const XmlNode& parent, const char* name, double& out, const std::string& where) {
    const XmlNode* c = parent.child(name);
    if (!c) return false;
    if (!c->isNumeric()) wrongType(*c, where, "number");
    out = c->numericValue();
    return true;
}

bool getInteger(const XmlNode& parent, const char* name, std::int64_t& out,
                const std::string& where) {
    const XmlNode* c = parent.child(name);
    if (!c) return false;
    if (c->type != XmlNodeType::Integer) wrongType(*c, where, "Integer");
    out = c->intValue;
    return true;
}

const XmlNode* getStructure(const XmlNode& parent, const char* name, const std::string& where) {
    const XmlNode* c = parent.child(name);
    if (c && c->type != XmlNodeType::Structure) wrongType(*c, where, "Structure");
    return c;
}

// Bounds given as Float or ScaledInteger; Integer-typed bounds are ignored, as the reference does.
void getBound(const XmlNode& parent, const char* name, double& out) {
    const XmlNode* c = parent.child(name);
    if (!c) return;
    if (c->type == XmlNodeType::Float || c->type == XmlNodeType::ScaledInteger)
        out = c->numericValue();
}

float toFloat(double v) {
    if (std::isfinite(v) && std::fabs(v) > FLT_MAX) return v > 0 ? FLT_MAX : -FLT_MAX;
    return static_cast<float>(v);
}

int32_t toInt32(std::int64_t v) {
    return static_cast<int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

void readDateTime(const XmlNode* n, DateTime& out, const std::string& where) {
    if (!n) return;
    if (n->type != XmlNodeType::Structure) wrongType(*n, where, "Structure");
    getNumber(*n, "dateTimeValue", out.dateTimeValue, where + "/" + n->name);
    std::int64_t atomic = 0;
    if (getInteger(*n, "isAtomicClockReferenced", atomic, where + "/" + n->name))
        out.isAtomicClockReferenced = toInt32(atomic);
}

void readPose(const XmlNode& parent, RigidBodyTransform& pose, const std::string& where) {
    const XmlNode* p = getStructure(parent, "pose", where);
    if (!p) return;
    const std::string pw = where + "/pose";
    if (const XmlNode* r = getStructure(*p, "rotation", pw)) {
        getNumber(*r, "w", pose.rotation.w, pw + "/rotation");
        getNumber(*r, "x", pose.rotation.x, pw + "/rotation");
        getNumber(*r, "y", pose.rotation.y, pw + "/rotation");
        getNumber(*r, "z", pose.rotation.z, pw + "/rotation");
    }
    if (const XmlNode* t = getStructure(*p, "translation", pw)) {
        getNumber(*t, "x", pose.translation.x, pw + "/translation");
        getNumber(*t, "y", pose.translation.y, pw + "/translation");
        getNumber(*t, "z", pose.translation.z, pw + "/translation");
    }
}

// Node type, bounds and scale of a numeric prototype leaf, as the Simple API reports them.
struct LeafRange {
    bool numeric = false;
    bool isInteger = false;
    NumericalNodeType type = NumericalNodeType::Float;
    double minimum = 0.0;
    double maximum = 0.0;
    double scale = 0.0;
};

LeafRange leafRange(const XmlNode* leaf) {
    LeafRange r;
    if (!leaf) return r;
    switch (leaf->type) {
        case XmlNodeType::ScaledInteger:
            r.numeric = true;
            r.type = NumericalNodeType::ScaledInteger;
            r.minimum = static_cast<double>(leaf->intMinimum) * leaf->scale + leaf->offset;
            r.maximum = static_cast<double>(leaf->intMaximum) * leaf->scale + leaf->offset;
            r.scale = leaf->scale;
            break;
        case XmlNodeType::Float:
            r.numeric = true;
            r.type = leaf->singlePrecision ? NumericalNodeType::Float : NumericalNodeType::Double;
            r.minimum = leaf->floatMinimum;
            r.maximum = leaf->floatMaximum;
            break;
        case XmlNodeType::Integer:
            r.numeric = true;
            r.isInteger = true;
            r.type = NumericalNodeType::Integer;
            r.minimum = static_cast<double>(leaf->intMinimum);
            r.maximum = static_cast<double>(leaf->intMaximum);
            break;
        default: break;
    }
    return r;
}

std::uint16_t throughUint16(const XmlNode* leaf, bool wantMaximum) {
    if (leaf->type == XmlNodeType::Integer || leaf->type == XmlNodeType::ScaledInteger)
        return static_cast<std::uint16_t>(wantMaximum ? leaf->intMaximum : leaf->intMinimum);
    const double v = wantMaximum ? leaf->floatMaximum : leaf->floatMinimum;
    if (!(v >= 0.0)) return 0;
    return v >= 65535.0 ? 65535 : static_cast<std::uint16_t>(v);
}

std::uint32_t clampU32(std::int64_t v) {
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, 0, std::int64_t(UINT32_MAX)));
}

const XmlNode* representation(const XmlNode& image, Image2DProjection p) {
    const char* name = nullptr;
    switch (p) {
        case ProjectionVisual: name = "visualReferenceRepresentation"; break;
        case ProjectionPinhole: name = "pinholeRepresentation"; break;
        case ProjectionSpherical: name = "sphericalRepresentation"; break;
        case ProjectionCylindrical: name = "cylindricalRepresentation"; break;
        default: return nullptr;
    }
    const XmlNode* r = image.child(name);
    return r && r->type == XmlNodeType::Structure ? r : nullptr;
}

const XmlNode* blobOf(const XmlNode& rep, Image2DType t) {
    const char* name = nullptr;
    switch (t) {
        case ImageJPEG: name = "jpegImage"; break;
        case ImagePNG: name = "pngImage"; break;
        case ImageMaskPNG: name = "imageMask"; break;
        default: return nullptr;
    }
    const XmlNode* b = rep.child(name);
    return b && b->type == XmlNodeType::Blob ? b : nullptr;
}

}  // namespace

E57BinaryHeader decodeBinaryHeader(const std::uint8_t* b) {
    E57BinaryHeader h;
    std::memcpy(h.signature, b, 8);
    std::memcpy(&h.majorVersion, b + 8, 4);
    std::memcpy(&h.minorVersion, b + 12, 4);
    h.filePhysicalLength = load64le(b + 16);
    h.xmlPhysicalOffset = load64le(b + 24);
    h.xmlLogicalLength = load64le(b + 32);
    h.pageSize = load64le(b + 40);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    h.majorVersion = __builtin_bswap32(h.majorVersion);
    h.minorVersion = __builtin_bswap32(h.minorVersion);
#endif
    return h;
}

ReaderImpl::ReaderImpl(const std::string& path, const ReaderOptions& options)
    : file_(std::make_shared<ReaderFile>()) {
    file_->pages = std::make_unique<PagedReader>(path, options.checksumPolicy);
    PagedReader& pages = *file_->pages;
    const std::string where = " fileName=" + path;

    std::uint8_t raw[48];
    pages.readLogical(0, raw, sizeof raw);
    header_ = decodeBinaryHeader(raw);
    if (std::memcmp(header_.signature, kSignature, 8) != 0)
        E57_THROW(ErrorBadFileSignature,
                  "fileSignature='" + printable(header_.signature, 8) + "'" + where);
    if (header_.majorVersion > 1 || (header_.majorVersion == 1 && header_.minorVersion > 0))
        E57_THROW(ErrorUnknownFileVersion,
                  "majorVersion=" + std::to_string(header_.majorVersion) +
                      " minorVersion=" + std::to_string(header_.minorVersion) + where);
    if (header_.filePhysicalLength != pages.physicalSize())
        E57_THROW(ErrorBadFileLength,
                  "filePhysicalLength=" + std::to_string(header_.filePhysicalLength) +
                      " fileSize=" + std::to_string(pages.physicalSize()) + where);
    if (header_.majorVersion != 0 && header_.pageSize != kPhysicalPageSize)
        E57_THROW(ErrorBadFileLength,
                  "pageSize=" + std::to_string(header_.pageSize) + " (expected 1024)" + where);
    if (header_.xmlPhysicalOffset >= pages.physicalSize())
        E57_THROW(ErrorBadFileLength,
                  "xmlPhysicalOffset=" + std::to_string(header_.xmlPhysicalOffset) +
                      " is beyond the file size " + std::to_string(pages.physicalSize()) + where);
    const std::uint64_t xmlStart = physicalToLogical(header_.xmlPhysicalOffset);
    if (header_.xmlLogicalLength == 0 || header_.xmlLogicalLength > pages.logicalSize() - xmlStart)
        E57_THROW(ErrorBadFileLength,
                  "xmlLogicalLength=" + std::to_string(header_.xmlLogicalLength) +
                      " at xmlPhysicalOffset=" + std::to_string(header_.xmlPhysicalOffset) +
                      " does not fit in the file" + where);
    if (header_.xmlLogicalLength > kMaxXmlBytes)
        E57_THROW(ErrorBadFileLength,
                  "xmlLogicalLength=" + std::to_string(header_.xmlLogicalLength) +
                      " is larger than the supported " + std::to_string(kMaxXmlBytes) + where);
    std::string xml(static_cast<std::size_t>(header_.xmlLogicalLength), '\0');
    pages.readLogical(xmlStart, xml.data(), xml.size());
    try {
        doc_ = parseE57Xml(xml.data(), xml.size());
    } catch (const E57Exception& e) {
        throw E57Exception(e.errorCode(), e.context() + where, e.sourceFileName(),
                           e.sourceLineNumber(), e.sourceFunctionName());
    }

    data3D_ = doc_.root.child("data3D");
    images2D_ = doc_.root.child("images2D");
    if (data3D_ && data3D_->type != XmlNodeType::Vector)
        E57_THROW(ErrorBadXMLFormat, "/data3D is a " + std::string(xmlNodeTypeName(data3D_->type)) +
                                         ", expected Vector" + where);
    if (images2D_ && images2D_->type != XmlNodeType::Vector)
        E57_THROW(ErrorBadXMLFormat, "/images2D is a " +
                                         std::string(xmlNodeTypeName(images2D_->type)) +
                                         ", expected Vector" + where);
}

bool ReaderImpl::close() {
    if (!isOpen()) return false;
    file_->pages.reset();
    return true;
}

void ReaderImpl::requireOpen() const {
    if (!isOpen()) E57_THROW(ErrorImageFileNotOpen, "the E57 file is closed");
}

bool ReaderImpl::getE57Root(E57Root& root) const {
    if (!isOpen()) return false;
    root = E57Root{};
    const XmlNode& r = doc_.root;
    auto required = [&](const char* name) -> const XmlNode& {
        const XmlNode* c = r.child(name);
        if (!c) E57_THROW(ErrorPathUndefined, std::string("the file has no /") + name);
        return *c;
    };
    const XmlNode& formatName = required("formatName");
    const XmlNode& guid = required("guid");
    const XmlNode& major = required("versionMajor");
    const XmlNode& minor = required("versionMinor");
    if (formatName.type != XmlNodeType::String) wrongType(formatName, "", "String");
    if (guid.type != XmlNodeType::String) wrongType(guid, "", "String");
    if (major.type != XmlNodeType::Integer) wrongType(major, "", "Integer");
    if (minor.type != XmlNodeType::Integer) wrongType(minor, "", "Integer");
    root.formatName = formatName.text;
    root.guid = guid.text;
    root.versionMajor = clampU32(major.intValue);
    root.versionMinor = clampU32(minor.intValue);
    getString(r, "e57LibraryVersion", root.e57LibraryVersion, "");
    getString(r, "coordinateMetadata", root.coordinateMetadata, "");
    readDateTime(r.child("creationDateTime"), root.creationDateTime, "");
    root.data3DSize = data3DCount();
    root.images2DSize = image2DCount();
    return true;
}

int64_t ReaderImpl::data3DCount() const {
    requireOpen();
    return data3D_ ? static_cast<int64_t>(data3D_->children.size()) : 0;
}

int64_t ReaderImpl::image2DCount() const {
    requireOpen();
    return images2D_ ? static_cast<int64_t>(images2D_->children.size()) : 0;
}

const XmlNode* ReaderImpl::scanNode(int64_t index) const {
    if (!data3D_ || index < 0 || index >= static_cast<int64_t>(data3D_->children.size()))
        return nullptr;
    const XmlNode* n = &data3D_->children[static_cast<std::size_t>(index)];
    if (n->type != XmlNodeType::Structure)
        E57_THROW(ErrorBadNodeDowncast, "/data3D/" + std::to_string(index) + " is a " +
                                            xmlNodeTypeName(n->type) + ", expected Structure");
    return n;
}

const XmlNode* ReaderImpl::imageNode(int64_t index) const {
    if (!images2D_ || index < 0 || index >= static_cast<int64_t>(images2D_->children.size()))
        return nullptr;
    const XmlNode* n = &images2D_->children[static_cast<std::size_t>(index)];
    if (n->type != XmlNodeType::Structure)
        E57_THROW(ErrorBadNodeDowncast, "/images2D/" + std::to_string(index) + " is a " +
                                            xmlNodeTypeName(n->type) + ", expected Structure");
    return n;
}

bool ReaderImpl::readData3D(int64_t index, Data3D& h) const {
    if (!isOpen()) return false;
    const XmlNode* scan = scanNode(index);
    if (!scan) return false;
    const std::string where = "/data3D/" + std::to_string(index);
    h = Data3D{};

    if (!getString(*scan, "guid", h.guid, where))
        E57_THROW(ErrorPathUndefined, "scan " + where + " has no guid");
    const XmlNode* points = scan->child("points");
    if (!points) E57_THROW(ErrorPathUndefined, "scan " + where + " has no points");
    if (points->type != XmlNodeType::CompressedVector)
        wrongType(*points, where, "CompressedVector");

    // Callers size buffers by pointCount, so a count the file cannot hold is refused here.
    {
        std::uint64_t bitsPerRecord = 0;
        for (const PrototypeLeaf& l : prototypeLeaves(*points->prototype()))
            bitsPerRecord += l.type == XmlNodeType::String ? 8 : l.bits;
        const std::uint64_t fileBits = file_->pages->logicalSize();
        if (bitsPerRecord > 0 && points->recordCount > fileBits / bitsPerRecord * 8 + 8)
            E57_THROW(ErrorBadCVHeader,
                      "scan " + where + " declares recordCount=" +
                          std::to_string(points->recordCount) + ", more than the file of " +
                          std::to_string(file_->pages->physicalSize()) + " bytes can hold");
        if (points->recordCount > std::numeric_limits<size_t>::max())
            E57_THROW(ErrorBadCVHeader, "scan " + where + " recordCount is too large");
    }
    h.pointCount = static_cast<size_t>(points->recordCount);

    getString(*scan, "name", h.name, where);
    getString(*scan, "description", h.description, where);
    if (const XmlNode* og = scan->child("originalGuids")) {
        if (og->type != XmlNodeType::Vector) wrongType(*og, where, "Vector");
        for (const XmlNode& g : og->children) {
            if (g.type != XmlNodeType::String) wrongType(g, where + "/originalGuids", "String");
            h.originalGuids.push_back(g.text);
        }
    }
    getString(*scan, "sensorVendor", h.sensorVendor, where);
    getString(*scan, "sensorModel", h.sensorModel, where);
    getString(*scan, "sensorSerialNumber", h.sensorSerialNumber, where);
    getString(*scan, "sensorHardwareVersion", h.sensorHardwareVersion, where);
    getString(*scan, "sensorSoftwareVersion", h.sensorSoftwareVersion, where);
    getString(*scan, "sensorFirmwareVersion", h.sensorFirmwareVersion, where);
    double v = 0;
    if (getNumber(*scan, "temperature", v, where)) h.temperature = toFloat(v);
    if (getNumber(*scan, "relativeHumidity", v, where)) h.relativeHumidity = toFloat(v);
    if (getNumber(*scan, "atmosphericPressure", v, where)) h.atmosphericPressure = toFloat(v);

    if (const XmlNode* ib = getStructure(*scan, "indexBounds", where)) {
        const std::string w = where + "/indexBounds";
        if (ib->child("rowMaximum")) {
            getInteger(*ib, "rowMinimum", h.indexBounds.rowMinimum, w);
            getInteger(*ib, "rowMaximum", h.indexBounds.rowMaximum, w);
        }
        if (ib->child("columnMaximum")) {
            getInteger(*ib, "columnMinimum", h.indexBounds.columnMinimum, w);
            getInteger(*ib, "columnMaximum", h.indexBounds.columnMaximum, w);
        }
        if (ib->child("returnMaximum")) {
            getInteger(*ib, "returnMinimum", h.indexBounds.returnMinimum, w);
            getInteger(*ib, "returnMaximum", h.indexBounds.returnMaximum, w);
        }
    }

    if (const XmlNode* pgs = getStructure(*scan, "pointGroupingSchemes", where)) {
        const std::string w = where + "/pointGroupingSchemes";
        if (const XmlNode* gbl = getStructure(*pgs, "groupingByLine", w)) {
            const std::string gw = w + "/groupingByLine";
            getString(*gbl, "idElementName", h.pointGroupingSchemes.groupingByLine.idElementName,
                      gw);
            if (const XmlNode* groups = gbl->child("groups")) {
                if (groups->type != XmlNodeType::CompressedVector)
                    wrongType(*groups, gw, "CompressedVector");
                h.pointGroupingSchemes.groupingByLine.groupsSize =
                    static_cast<int64_t>(std::min<std::uint64_t>(groups->recordCount, INT64_MAX));
                const XmlNode* pc = groups->prototype()->child("pointCount");
                if (pc && pc->type == XmlNodeType::Integer)
                    h.pointGroupingSchemes.groupingByLine.pointCountSize = pc->intMaximum;
            }
        }
    }

    if (const XmlNode* cb = getStructure(*scan, "cartesianBounds", where)) {
        getBound(*cb, "xMinimum", h.cartesianBounds.xMinimum);
        getBound(*cb, "xMaximum", h.cartesianBounds.xMaximum);
        getBound(*cb, "yMinimum", h.cartesianBounds.yMinimum);
        getBound(*cb, "yMaximum", h.cartesianBounds.yMaximum);
        getBound(*cb, "zMinimum", h.cartesianBounds.zMinimum);
        getBound(*cb, "zMaximum", h.cartesianBounds.zMaximum);
    }
    if (const XmlNode* sb = getStructure(*scan, "sphericalBounds", where)) {
        getBound(*sb, "rangeMinimum", h.sphericalBounds.rangeMinimum);
        getBound(*sb, "rangeMaximum", h.sphericalBounds.rangeMaximum);
        getBound(*sb, "elevationMinimum", h.sphericalBounds.elevationMinimum);
        getBound(*sb, "elevationMaximum", h.sphericalBounds.elevationMaximum);
        getBound(*sb, "azimuthStart", h.sphericalBounds.azimuthStart);
        getBound(*sb, "azimuthEnd", h.sphericalBounds.azimuthEnd);
    }

    readPose(*scan, h.pose, where);
    readDateTime(scan->child("acquisitionStart"), h.acquisitionStart, where);
    readDateTime(scan->child("acquisitionEnd"), h.acquisitionEnd, where);

    const XmlNode& proto = *points->prototype();
    auto leaf = [&](const char* name) {
        return proto.type == XmlNodeType::Structure ? proto.child(name) : nullptr;
    };
    PointStandardizedFieldsAvailable& f = h.pointFields;
    f.cartesianXField = leaf("cartesianX") != nullptr;
    f.cartesianYField = leaf("cartesianY") != nullptr;
    f.cartesianZField = leaf("cartesianZ") != nullptr;
    f.cartesianInvalidStateField = leaf("cartesianInvalidState") != nullptr;
    f.sphericalRangeField = leaf("sphericalRange") != nullptr;
    f.sphericalAzimuthField = leaf("sphericalAzimuth") != nullptr;
    f.sphericalElevationField = leaf("sphericalElevation") != nullptr;
    f.sphericalInvalidStateField = leaf("sphericalInvalidState") != nullptr;
    f.rowIndexField = leaf("rowIndex") != nullptr;
    f.columnIndexField = leaf("columnIndex") != nullptr;
    f.returnIndexField = leaf("returnIndex") != nullptr;
    f.returnCountField = leaf("returnCount") != nullptr;
    f.timeStampField = leaf("timeStamp") != nullptr;
    f.isTimeStampInvalidField = leaf("isTimeStampInvalid") != nullptr;
    f.intensityField = leaf("intensity") != nullptr;
    f.isIntensityInvalidField = leaf("isIntensityInvalid") != nullptr;
    f.colorRedField = leaf("colorRed") != nullptr;
    f.colorGreenField = leaf("colorGreen") != nullptr;
    f.colorBlueField = leaf("colorBlue") != nullptr;
    f.isColorInvalidField = leaf("isColorInvalid") != nullptr;
    if (doc_.hasPrefix("nor")) {
        f.normalXField = leaf("nor:normalX") != nullptr;
        f.normalYField = leaf("nor:normalY") != nullptr;
        f.normalZField = leaf("nor:normalZ") != nullptr;
    }

    f.pointRangeMinimum = 0.0;
    f.pointRangeMaximum = 0.0;
    {
        const XmlNode* src = f.cartesianXField ? leaf("cartesianX") : leaf("sphericalRange");
        const LeafRange r = leafRange(src);
        if (r.numeric && !r.isInteger) {
            f.pointRangeMinimum = r.minimum;
            f.pointRangeMaximum = r.maximum;
            f.pointRangeNodeType = r.type;
            if (r.type == NumericalNodeType::ScaledInteger) f.pointRangeScale = r.scale;
        }
    }
    f.angleMinimum = 0.0;
    f.angleMaximum = 0.0;
    {
        const LeafRange r = leafRange(leaf("sphericalAzimuth"));
        if (r.numeric && !r.isInteger) {
            f.angleMinimum = r.minimum;
            f.angleMaximum = r.maximum;
            f.angleNodeType = r.type;
            if (r.type == NumericalNodeType::ScaledInteger) f.angleScale = r.scale;
        }
    }
    f.rowIndexMaximum = 0;
    f.columnIndexMaximum = 0;
    if (const XmlNode* n = leaf("rowIndex"); n && n->type == XmlNodeType::Integer)
        f.rowIndexMaximum = clampU32(n->intMaximum);
    if (const XmlNode* n = leaf("columnIndex"); n && n->type == XmlNodeType::Integer)
        f.columnIndexMaximum = clampU32(n->intMaximum);
    f.returnMaximum = 0;
    if (const XmlNode* n = leaf("returnIndex"); n && n->type == XmlNodeType::Integer)
        f.returnMaximum = static_cast<uint8_t>(std::clamp<std::int64_t>(n->intMaximum, 0, 255));
    f.timeMinimum = 0.0;
    f.timeMaximum = 0.0;
    {
        const LeafRange r = leafRange(leaf("timeStamp"));
        if (r.numeric) {
            f.timeMinimum = r.minimum;
            f.timeMaximum = r.maximum;
            f.timeNodeType = r.type;
            if (r.type == NumericalNodeType::ScaledInteger) f.timeScale = r.scale;
        }
    }

    if (const XmlNode* il = getStructure(*scan, "intensityLimits", where)) {
        getNumber(*il, "intensityMinimum", h.intensityLimits.intensityMinimum,
                  where + "/intensityLimits");
        getNumber(*il, "intensityMaximum", h.intensityLimits.intensityMaximum,
                  where + "/intensityLimits");
    }
    if (f.intensityField) {
        const LeafRange r = leafRange(leaf("intensity"));
        if (r.numeric) {
            f.intensityNodeType = r.type;
            if (r.type == NumericalNodeType::ScaledInteger) f.intensityScale = r.scale;
            const bool isFloat =
                r.type == NumericalNodeType::Float || r.type == NumericalNodeType::Double;
            if (isFloat || h.intensityLimits.intensityMaximum == 0.0) {
                h.intensityLimits.intensityMinimum = r.minimum;
                h.intensityLimits.intensityMaximum = r.maximum;
            }
        }
    }

    if (const XmlNode* cl = getStructure(*scan, "colorLimits", where)) {
        const std::string w = where + "/colorLimits";
        getNumber(*cl, "colorRedMinimum", h.colorLimits.colorRedMinimum, w);
        getNumber(*cl, "colorRedMaximum", h.colorLimits.colorRedMaximum, w);
        getNumber(*cl, "colorGreenMinimum", h.colorLimits.colorGreenMinimum, w);
        getNumber(*cl, "colorGreenMaximum", h.colorLimits.colorGreenMaximum, w);
        getNumber(*cl, "colorBlueMinimum", h.colorLimits.colorBlueMinimum, w);
        getNumber(*cl, "colorBlueMaximum", h.colorLimits.colorBlueMaximum, w);
    }
    auto colourFallback = [&](const char* name, double& mn, double& mx) {
        const XmlNode* n = leaf(name);
        if (mx != 0.0 || !n || !n->isNumeric()) return;
        mn = throughUint16(n, false);
        mx = throughUint16(n, true);
    };
    colourFallback("colorRed", h.colorLimits.colorRedMinimum, h.colorLimits.colorRedMaximum);
    colourFallback("colorGreen", h.colorLimits.colorGreenMinimum, h.colorLimits.colorGreenMaximum);
    colourFallback("colorBlue", h.colorLimits.colorBlueMinimum, h.colorLimits.colorBlueMaximum);
    return true;
}

template <typename COORDTYPE>
CompressedVectorReader ReaderImpl::setUpData3DPointsData(
    int64_t index, size_t capacity, const Data3DPointsData_t<COORDTYPE>& b) const {
    requireOpen();
    const XmlNode* scan = scanNode(index);
    if (!scan)
        E57_THROW(ErrorChildIndexOutOfBounds, "scan index " + std::to_string(index) +
                                                  " is not in [0, " +
                                                  std::to_string(data3DCount()) + ")");
    const std::string where = "/data3D/" + std::to_string(index);
    const XmlNode* points = scan->child("points");
    if (!points) E57_THROW(ErrorPathUndefined, "scan " + where + " has no points");
    if (points->type != XmlNodeType::CompressedVector)
        wrongType(*points, where, "CompressedVector");
    const XmlNode& proto = *points->prototype();

    constexpr DestKind coord =
        std::is_same_v<COORDTYPE, float> ? DestKind::Float32 : DestKind::Float64;
    std::vector<PointDest> dests;
    std::string skipped;
    auto bind = [&](const char* name, DestKind kind, const void* data) {
        if (data == nullptr) return;
        if (proto.type == XmlNodeType::Structure && proto.child(name)) {
            dests.push_back(PointDest{name, kind, const_cast<void*>(data)});
        } else {
            // A buffer for a field this scan lacks is left untouched, as the reference does.
            skipped += skipped.empty() ? name : std::string(", ") + name;
        }
    };
    bind("cartesianX", coord, b.cartesianX);
    bind("cartesianY", coord, b.cartesianY);
    bind("cartesianZ", coord, b.cartesianZ);
    bind("cartesianInvalidState", DestKind::Int8, b.cartesianInvalidState);
    bind("intensity", DestKind::Float64, b.intensity);
    bind("isIntensityInvalid", DestKind::Int8, b.isIntensityInvalid);
    bind("colorRed", DestKind::UInt16, b.colorRed);
    bind("colorGreen", DestKind::UInt16, b.colorGreen);
    bind("colorBlue", DestKind::UInt16, b.colorBlue);
    bind("isColorInvalid", DestKind::Int8, b.isColorInvalid);
    bind("sphericalRange", coord, b.sphericalRange);
    bind("sphericalAzimuth", coord, b.sphericalAzimuth);
    bind("sphericalElevation", coord, b.sphericalElevation);
    bind("sphericalInvalidState", DestKind::Int8, b.sphericalInvalidState);
    bind("rowIndex", DestKind::Int32, b.rowIndex);
    bind("columnIndex", DestKind::Int32, b.columnIndex);
    bind("returnIndex", DestKind::Int8, b.returnIndex);
    bind("returnCount", DestKind::Int8, b.returnCount);
    bind("timeStamp", DestKind::Float64, b.timeStamp);
    bind("isTimeStampInvalid", DestKind::Int8, b.isTimeStampInvalid);
    if (doc_.hasPrefix("nor")) {
        bind("nor:normalX", DestKind::Float32, b.normalX);
        bind("nor:normalY", DestKind::Float32, b.normalY);
        bind("nor:normalZ", DestKind::Float32, b.normalZ);
    } else if (b.normalX || b.normalY || b.normalZ) {
        skipped += skipped.empty() ? "normals" : ", normals";
    }
    if (dests.empty())
        E57_THROW(ErrorBadAPIArgument,
                  "none of the given buffers matches a field of scan " + where +
                      (skipped.empty() ? std::string(" (no buffers given)")
                                       : " (the scan has no " + skipped + ")"));
    if (capacity == 0) E57_THROW(ErrorBadAPIArgument, "buffer capacity is 0");
    try {
        return CompressedVectorReader(std::make_shared<CompressedVectorReaderImpl>(
            file_, *points, std::move(dests), capacity));
    } catch (const E57Exception& e) {
        throw E57Exception(e.errorCode(), e.context() + " (scan " + where + ")", e.sourceFileName(),
                           e.sourceLineNumber(), e.sourceFunctionName());
    }
}

template CompressedVectorReader ReaderImpl::setUpData3DPointsData<float>(
    int64_t, size_t, const Data3DPointsData_t<float>&) const;
template CompressedVectorReader ReaderImpl::setUpData3DPointsData<double>(
    int64_t, size_t, const Data3DPointsData_t<double>&) const;

int64_t ReaderImpl::blobSize(const XmlNode* blob, const std::string& where) const {
    if (!blob) return 0;
    const std::uint64_t start = physicalToLogical(blob->fileOffset);
    const std::uint64_t size = file_->pages->logicalSize();
    if (blob->fileOffset >= file_->pages->physicalSize() || start + 16 > size ||
        blob->blobLength > size - start - 16)
        E57_THROW(ErrorBadXMLFormat,
                  "Blob " + where + "/" + blob->name + " of " + std::to_string(blob->blobLength) +
                      " bytes at fileOffset=" + std::to_string(blob->fileOffset) +
                      " does not fit in the file");
    return static_cast<int64_t>(blob->blobLength);
}

bool ReaderImpl::readImage2D(int64_t index, Image2D& im) const {
    if (!isOpen()) return false;
    const XmlNode* image = imageNode(index);
    if (!image) return false;
    const std::string where = "/images2D/" + std::to_string(index);
    im = Image2D{};
    if (!getString(*image, "guid", im.guid, where))
        E57_THROW(ErrorPathUndefined, "image " + where + " has no guid");
    getString(*image, "name", im.name, where);
    getString(*image, "description", im.description, where);
    getString(*image, "sensorVendor", im.sensorVendor, where);
    getString(*image, "sensorModel", im.sensorModel, where);
    getString(*image, "sensorSerialNumber", im.sensorSerialNumber, where);
    getString(*image, "associatedData3DGuid", im.associatedData3DGuid, where);
    readDateTime(image->child("acquisitionDateTime"), im.acquisitionDateTime, where);
    readPose(*image, im.pose, where);

    auto common = [&](const XmlNode& rep, auto& out) {
        const std::string w = where + "/" + rep.name;
        out.jpegImageSize = blobSize(blobOf(rep, ImageJPEG), w);
        out.pngImageSize = blobSize(blobOf(rep, ImagePNG), w);
        out.imageMaskSize = blobSize(blobOf(rep, ImageMaskPNG), w);
        std::int64_t iv = 0;
        if (getInteger(rep, "imageWidth", iv, w)) out.imageWidth = toInt32(iv);
        if (getInteger(rep, "imageHeight", iv, w)) out.imageHeight = toInt32(iv);
        return w;
    };
    if (const XmlNode* rep = representation(*image, ProjectionVisual))
        common(*rep, im.visualReferenceRepresentation);
    if (const XmlNode* rep = representation(*image, ProjectionPinhole)) {
        PinholeRepresentation& p = im.pinholeRepresentation;
        const std::string w = common(*rep, p);
        getNumber(*rep, "focalLength", p.focalLength, w);
        getNumber(*rep, "pixelWidth", p.pixelWidth, w);
        getNumber(*rep, "pixelHeight", p.pixelHeight, w);
        getNumber(*rep, "principalPointX", p.principalPointX, w);
        getNumber(*rep, "principalPointY", p.principalPointY, w);
    } else if (const XmlNode* rep2 = representation(*image, ProjectionSpherical)) {
        SphericalRepresentation& s = im.sphericalRepresentation;
        const std::string w = common(*rep2, s);
        getNumber(*rep2, "pixelWidth", s.pixelWidth, w);
        getNumber(*rep2, "pixelHeight", s.pixelHeight, w);
    } else if (const XmlNode* rep3 = representation(*image, ProjectionCylindrical)) {
        CylindricalRepresentation& c = im.cylindricalRepresentation;
        const std::string w = common(*rep3, c);
        getNumber(*rep3, "pixelWidth", c.pixelWidth, w);
        getNumber(*rep3, "pixelHeight", c.pixelHeight, w);
        getNumber(*rep3, "radius", c.radius, w);
        getNumber(*rep3, "principalPointY", c.principalPointY, w);
    }

    if (doc_.hasPrefix("dist")) {
        if (const XmlNode* d = getStructure(*image, "dist:distortion", where)) {
            const std::string w = where + "/dist:distortion";
            auto ext = std::make_unique<Extension::PinholeCameraDistortion>();
            getInteger(*d, "dist:CameraNumber", ext->cameraNumber, w);
            getString(*d, "dist:Type", ext->type, w);
            getNumber(*d, "dist:CV_K1", ext->CV_K1, w);
            getNumber(*d, "dist:CV_K2", ext->CV_K2, w);
            getNumber(*d, "dist:CV_K3", ext->CV_K3, w);
            getNumber(*d, "dist:CV_K4", ext->CV_K4, w);
            getNumber(*d, "dist:CV_K5", ext->CV_K5, w);
            getNumber(*d, "dist:CV_K6", ext->CV_K6, w);
            getNumber(*d, "dist:CV_P1", ext->CV_P1, w);
            getNumber(*d, "dist:CV_P2", ext->CV_P2, w);
            getNumber(*d, "dist:CV_CX", ext->CV_CX, w);
            getNumber(*d, "dist:CV_CY", ext->CV_CY, w);
            getNumber(*d, "dist:CV_FX", ext->CV_FX, w);
            getNumber(*d, "dist:CV_FY", ext->CV_FY, w);
            std::int64_t iv = 0;
            if (getInteger(*d, "dist:CV_HEIGHT", iv, w)) ext->CV_HEIGHT = toInt32(iv);
            if (getInteger(*d, "dist:CV_WIDTH", iv, w)) ext->CV_WIDTH = toInt32(iv);
            im.pinholeCameraDistortionExt = std::move(ext);
        }
    }
    return true;
}

bool ReaderImpl::getImage2DSizes(int64_t index, Image2DProjection& projection, Image2DType& type,
                                 int64_t& width, int64_t& height, int64_t& size,
                                 Image2DType& maskType, Image2DType& visualType) const {
    requireOpen();
    const XmlNode* image = imageNode(index);
    if (!image) return false;
    const std::string where = "/images2D/" + std::to_string(index);
    const XmlNode* rep = nullptr;
    Image2DProjection proj = ProjectionNone;
    for (Image2DProjection p :
         {ProjectionVisual, ProjectionPinhole, ProjectionSpherical, ProjectionCylindrical}) {
        rep = representation(*image, p);
        if (rep) {
            proj = p;
            break;
        }
    }
    projection = proj;
    type = ImageNone;
    maskType = ImageNone;
    visualType = ImageNone;
    if (!rep) return false;
    const std::string w = where + "/" + rep->name;
    width = 0;
    height = 0;
    size = 0;
    std::int64_t iv = 0;
    const bool haveWidth = getInteger(*rep, "imageWidth", iv, w);
    if (haveWidth) width = iv;
    const bool haveHeight = getInteger(*rep, "imageHeight", iv, w);
    if (!haveWidth || !haveHeight) return false;
    height = iv;

    const XmlNode* jpeg = blobOf(*rep, ImageJPEG);
    const XmlNode* png = blobOf(*rep, ImagePNG);
    const XmlNode* mask = blobOf(*rep, ImageMaskPNG);
    if (jpeg) {
        type = ImageJPEG;
        size = blobSize(jpeg, w);
    } else if (png) {
        type = ImagePNG;
        size = blobSize(png, w);
    } else if (mask) {
        type = ImageMaskPNG;
        size = blobSize(mask, w);
    }
    if (mask) {
        blobSize(mask, w);
        maskType = ImageMaskPNG;
    }
    if (proj == ProjectionVisual) visualType = type;
    return true;
}

int64_t ReaderImpl::readImage2DData(int64_t index, Image2DProjection projection, Image2DType type,
                                    void* buffer, int64_t start, int64_t count) const {
    requireOpen();
    const XmlNode* image = imageNode(index);
    if (!image) return 0;
    const XmlNode* rep = representation(*image, projection);
    if (!rep) return 0;
    const XmlNode* blob = blobOf(*rep, type);
    if (!blob) return 0;
    const std::string where = "/images2D/" + std::to_string(index) + "/" + rep->name;
    const int64_t size = blobSize(blob, where);
    if (start < 0 || count < 0 || start > size || count > size - start)
        E57_THROW(ErrorBadAPIArgument, "requested bytes [" + std::to_string(start) + ", " +
                                           std::to_string(start) + "+" + std::to_string(count) +
                                           ") of Blob " + where + "/" + blob->name + " of " +
                                           std::to_string(size) + " bytes");
    if (count == 0) return 0;
    if (buffer == nullptr)
        E57_THROW(ErrorBadAPIArgument, "null buffer for Blob " + where + "/" + blob->name);

    PagedReader& pages = *file_->pages;
    const std::uint64_t section = physicalToLogical(blob->fileOffset);
    std::uint8_t h[16];
    pages.readLogical(section, h, sizeof h);
    const std::uint64_t sectionLength = load64le(h + 8);
    if (h[0] != 0 || sectionLength < 16 + blob->blobLength)
        E57_THROW(ErrorReadFailed,
                  "Blob section of " + where + "/" + blob->name +
                      " at fileOffset=" + std::to_string(blob->fileOffset) +
                      " is invalid: sectionId=" + std::to_string(h[0]) +
                      " (expected 0) sectionLogicalLength=" + std::to_string(sectionLength));
    pages.readLogical(section + 16 + static_cast<std::uint64_t>(start), buffer,
                      static_cast<std::size_t>(count));
    return count;
}

}  // namespace e57
