#include "writer_impl.h"

#include <cstdio>
#include <cstring>
#include <random>

#include "xml_writer.h"

namespace e57 {

const char* const kWriterLibraryVersion = "Brindlewick-E57Format-3.4-compatible";

namespace {

constexpr char kNormalsUri[] = "http://www.libe57.org/E57_EXT_surface_normals.txt";
constexpr char kDistortionUri[] = "http://www.libe57.org/E57_LEICA_Camera_Distortion.txt";

void putU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
void putU64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

}  // namespace

std::string makeRandomGuid() {
    thread_local std::mt19937_64 engine = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    std::uint64_t hi = engine();
    std::uint64_t lo = engine();
    hi = (hi & ~0xF000ULL) | 0x4000ULL;                  // version 4
    lo = (lo & ~(0xC000ULL << 48)) | (0x8000ULL << 48);  // RFC 4122 variant
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}", unsigned(hi >> 32),
                  unsigned((hi >> 16) & 0xFFFF), unsigned(hi & 0xFFFF), unsigned(lo >> 48),
                  static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFULL));
    return text;
}

WriterImpl::WriterImpl(const ustring& filePath, const WriterOptions& options)
    : path_(filePath),
      guid_(options.guid.empty() ? makeRandomGuid() : options.guid),
      coordinateMetadata_(options.coordinateMetadata),
      out_(std::make_unique<PagedWriter>(filePath)),
      packet_(65536 + 64, 0) {
    // The lengths and the XML offset are filled in at close.
    std::uint8_t header[48] = {};
    std::memcpy(header, "ASTM-E57", 8);
    putU32(header + 8, 1);
    putU32(header + 12, 0);
    putU64(header + 40, PagedWriter::kPage);
    out_->append(header, sizeof header);
    open_ = true;
}

WriterImpl::~WriterImpl() {
    if (open_) {
        try {
            close();
        } catch (...) {
            // A destructor cannot report; Close() is where callers learn of a failure.
        }
    }
}

void WriterImpl::requireOpen(const char* operation) const {
    if (!open_) {
        throw E57Exception(ErrorImageFileNotOpen,
                           std::string(operation) + ": the writer of file=" + path_ + " is closed",
                           __FILE__, __LINE__, operation);
    }
}

void WriterImpl::commitScan(std::string xml, bool usesNormals) {
    scans_.push_back(std::move(xml));
    usesNormals_ = usesNormals_ || usesNormals;
}

void WriterImpl::commitImage(std::string xml, bool usesDistortion) {
    images_.push_back(std::move(xml));
    usesDistortion_ = usesDistortion_ || usesDistortion;
}

std::string WriterImpl::rootXml() const {
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    x += "<e57Root type=\"Structure\"\n         xmlns=\"";
    x += VERSION_1_0_URI;
    x += '"';
    if (usesNormals_) {
        x += "\n         xmlns:nor=\"";
        x += kNormalsUri;
        x += '"';
    }
    if (usesDistortion_) {
        x += "\n         xmlns:dist=\"";
        x += kDistortionUri;
        x += '"';
    }
    x += ">\n";
    xml::Builder b(1);
    b.string("formatName", "ASTM E57 3D Imaging Data File");
    b.string("guid", guid_);
    b.integer("versionMajor", 1);
    b.integer("versionMinor", 0);
    b.string("e57LibraryVersion", kWriterLibraryVersion);
    if (!coordinateMetadata_.empty()) b.string("coordinateMetadata", coordinateMetadata_);
    b.openVector("data3D", true);
    for (const std::string& scan : scans_) b.raw(scan);
    b.close("data3D");
    b.openVector("images2D", true);
    for (const std::string& image : images_) b.raw(image);
    b.close("images2D");
    x += b.text();
    x += "</e57Root>\n";
    return x;
}

bool WriterImpl::close() {
    if (!open_) return false;
    open_ = false;
    try {
        std::string xml = rootXml();
        while (xml.size() % 4 != 0) xml += ' ';
        const std::uint64_t xmlPhysical = out_->physicalPosition();
        out_->append(xml.data(), xml.size());
        const std::uint64_t end = out_->logicalPosition();
        const std::uint64_t pages = (end + PagedWriter::kPayload - 1) / PagedWriter::kPayload;
        std::uint8_t fields[24];
        putU64(fields, pages * PagedWriter::kPage);
        putU64(fields + 8, xmlPhysical);
        putU64(fields + 16, xml.size());
        out_->patch(16, fields, sizeof fields);
        const std::uint64_t length = out_->finish();
        if (length != pages * PagedWriter::kPage) {
            throw E57Exception(ErrorInternal, "file=" + path_ + " ended at an unexpected length",
                               __FILE__, __LINE__, __func__);
        }
    } catch (...) {
        out_->abandon();
        throw;
    }
    scans_.clear();
    images_.clear();
    return true;
}

}  // namespace e57
