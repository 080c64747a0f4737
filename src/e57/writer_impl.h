#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "E57SimpleWriter.h"
#include "paged_writer.h"

namespace e57 {

namespace xml {
class Builder;
}

// The state behind e57::Writer. Binary sections are appended as they are written; the XML
// that describes them is kept per committed scan and image and written at close, so a scan or
// image whose write failed is simply never described (its bytes, if any, are dead space).
class WriterImpl {
public:
    WriterImpl(const ustring& filePath, const WriterOptions& options);
    ~WriterImpl();
    WriterImpl(const WriterImpl&) = delete;
    WriterImpl& operator=(const WriterImpl&) = delete;

    bool isOpen() const { return open_; }
    bool close();

    int64_t writeData3D(Data3D& header, const Data3DPointsFloat& buffers);
    int64_t writeData3D(Data3D& header, const Data3DPointsDouble& buffers);

    int64_t writeImage2D(Image2D& header, Image2DType imageType, Image2DProjection projection,
                         int64_t startPos, const void* buffer, int64_t byteCount);

    // Pieces shared by the scan and image writers.
    PagedWriter& out() { return *out_; }
    std::vector<std::uint8_t>& packetBuffer() { return packet_; }
    void requireOpen(const char* operation) const;
    int64_t nextScanIndex() const { return static_cast<int64_t>(scans_.size()); }
    int64_t nextImageIndex() const { return static_cast<int64_t>(images_.size()); }
    void commitScan(std::string xml, bool usesNormals);
    void commitImage(std::string xml, bool usesDistortion);

private:
    template <class COORD>
    int64_t writeData3DImpl(Data3D& header, const Data3DPointsData_t<COORD>& buffers);
    std::string rootXml() const;

    std::string path_;
    std::string guid_;
    std::string coordinateMetadata_;
    std::unique_ptr<PagedWriter> out_;
    std::vector<std::uint8_t> packet_;
    std::vector<std::string> scans_;   // each a data3D child at depth 2
    std::vector<std::string> images_;  // each an images2D child at depth 2
    bool usesNormals_ = false;
    bool usesDistortion_ = false;
    bool open_ = false;
};

// A random upper-case GUID in braces: {XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}.
std::string makeRandomGuid();

// A pose Structure, omitted for the identity.
void writePose(xml::Builder& b, const RigidBodyTransform& pose);

// The text written as e57LibraryVersion.
extern const char* const kWriterLibraryVersion;

}  // namespace e57
