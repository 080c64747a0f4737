#pragma once

#include "E57SimpleData.h"

namespace e57 {

struct E57_DLL ReaderOptions {
    ReadChecksumPolicy checksumPolicy = ChecksumAll;
};

class ReaderImpl;

// Reads an E57 file. Copies share one open file.
class E57_DLL Reader {
public:
    Reader(const ustring& filePath, const ReaderOptions& options);
    [[deprecated("use Reader(filePath, ReaderOptions)")]] explicit Reader(const ustring& filePath);

    bool IsOpen() const;
    bool Close();

    bool GetE57Root(E57Root& fileHeader) const;

    int64_t GetImage2DCount() const;
    bool ReadImage2D(int64_t imageIndex, Image2D& image2DHeader) const;
    bool GetImage2DSizes(int64_t imageIndex, Image2DProjection& imageProjection,
                         Image2DType& imageType, int64_t& imageWidth, int64_t& imageHeight,
                         int64_t& imageSize, Image2DType& imageMaskType,
                         Image2DType& imageVisualType) const;
    int64_t ReadImage2DData(int64_t imageIndex, Image2DProjection imageProjection,
                            Image2DType imageType, void* buffer, int64_t start,
                            int64_t count) const;

    // The root of the file's element tree.
    StructureNode GetRawE57Root() const;

    int64_t GetData3DCount() const;
    bool ReadData3D(int64_t dataIndex, Data3D& data3DHeader) const;

    CompressedVectorReader SetUpData3DPointsData(int64_t dataIndex, size_t pointCount,
                                                 const Data3DPointsFloat& buffers) const;
    CompressedVectorReader SetUpData3DPointsData(int64_t dataIndex, size_t pointCount,
                                                 const Data3DPointsDouble& buffers) const;

private:
    std::shared_ptr<ReaderImpl> impl_;
};

}  // namespace e57
