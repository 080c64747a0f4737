#include "E57SimpleWriter.h"

#include "writer_impl.h"

namespace e57 {

Writer::Writer(const ustring& filePath, const WriterOptions& options)
    : impl_(std::make_shared<WriterImpl>(filePath, options)) {}

Writer::Writer(const ustring& filePath, const ustring& coordinateMetadata)
    : impl_(std::make_shared<WriterImpl>(filePath, WriterOptions{{}, coordinateMetadata})) {}

bool Writer::IsOpen() const { return impl_->isOpen(); }

bool Writer::Close() { return impl_->close(); }

int64_t Writer::WriteImage2DData(Image2D& image2DHeader, Image2DType imageType,
                                 Image2DProjection imageProjection, int64_t startPos, void* buffer,
                                 int64_t byteCount) {
    return impl_->writeImage2D(image2DHeader, imageType, imageProjection, startPos, buffer,
                               byteCount);
}

int64_t Writer::WriteData3DData(Data3D& data3DHeader, const Data3DPointsFloat& buffers) {
    return impl_->writeData3D(data3DHeader, buffers);
}

int64_t Writer::WriteData3DData(Data3D& data3DHeader, const Data3DPointsDouble& buffers) {
    return impl_->writeData3D(data3DHeader, buffers);
}

}  // namespace e57
