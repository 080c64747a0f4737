#include "E57SimpleReader.h"

#include "reader_impl.h"

namespace e57 {

Reader::Reader(const ustring& filePath, const ReaderOptions& options)
    : impl_(std::make_shared<ReaderImpl>(filePath, options)) {}

Reader::Reader(const ustring& filePath)
    : impl_(std::make_shared<ReaderImpl>(filePath, ReaderOptions{})) {}

bool Reader::IsOpen() const { return impl_->isOpen(); }
bool Reader::Close() { return impl_->close(); }
bool Reader::GetE57Root(E57Root& fileHeader) const { return impl_->getE57Root(fileHeader); }
int64_t Reader::GetImage2DCount() const { return impl_->image2DCount(); }
StructureNode Reader::GetRawE57Root() const {
    return StructureNode(impl_, &impl_->document().root);
}
bool Reader::ReadImage2D(int64_t imageIndex, Image2D& image2DHeader) const {
    return impl_->readImage2D(imageIndex, image2DHeader);
}

bool Reader::GetImage2DSizes(int64_t imageIndex, Image2DProjection& imageProjection,
                             Image2DType& imageType, int64_t& imageWidth, int64_t& imageHeight,
                             int64_t& imageSize, Image2DType& imageMaskType,
                             Image2DType& imageVisualType) const {
    return impl_->getImage2DSizes(imageIndex, imageProjection, imageType, imageWidth, imageHeight,
                                  imageSize, imageMaskType, imageVisualType);
}

int64_t Reader::ReadImage2DData(int64_t imageIndex, Image2DProjection imageProjection,
                                Image2DType imageType, void* buffer, int64_t start,
                                int64_t count) const {
    return impl_->readImage2DData(imageIndex, imageProjection, imageType, buffer, start, count);
}

int64_t Reader::GetData3DCount() const { return impl_->data3DCount(); }
bool Reader::ReadData3D(int64_t dataIndex, Data3D& data3DHeader) const {
    return impl_->readData3D(dataIndex, data3DHeader);
}

CompressedVectorReader Reader::SetUpData3DPointsData(int64_t dataIndex, size_t pointCount,
                                                     const Data3DPointsFloat& buffers) const {
    return impl_->setUpData3DPointsData(dataIndex, pointCount, buffers);
}

CompressedVectorReader Reader::SetUpData3DPointsData(int64_t dataIndex, size_t pointCount,
                                                     const Data3DPointsDouble& buffers) const {
    return impl_->setUpData3DPointsData(dataIndex, pointCount, buffers);
}

}  // namespace e57
