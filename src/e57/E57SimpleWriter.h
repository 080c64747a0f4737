#pragma once

#include "E57SimpleData.h"

namespace e57 {

struct E57_DLL WriterOptions {
    ustring guid;
    ustring coordinateMetadata;
};

class WriterImpl;

// Writes an E57 file. Copies share one open file; the last copy closes it.
class E57_DLL Writer {
public:
    Writer(const ustring& filePath, const WriterOptions& options);
    [[deprecated("use Writer(filePath, WriterOptions)")]] explicit Writer(
        const ustring& filePath, const ustring& coordinateMetadata = {});

    bool IsOpen() const;
    bool Close();

    // Note the order: type before projection, start before buffer.
    int64_t WriteImage2DData(Image2D& image2DHeader, Image2DType imageType,
                             Image2DProjection imageProjection, int64_t startPos, void* buffer,
                             int64_t byteCount);

    int64_t WriteData3DData(Data3D& data3DHeader, const Data3DPointsFloat& buffers);
    int64_t WriteData3DData(Data3D& data3DHeader, const Data3DPointsDouble& buffers);

private:
    std::shared_ptr<WriterImpl> impl_;
};

}  // namespace e57
