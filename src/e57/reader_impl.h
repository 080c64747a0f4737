#pragma once

#include <memory>
#include <string>

#include "E57SimpleReader.h"
#include "reader_cv.h"
#include "xml_tree.h"

namespace e57 {

// The 48-byte file header.
struct E57BinaryHeader {
    char signature[8] = {};
    std::uint32_t majorVersion = 0;
    std::uint32_t minorVersion = 0;
    std::uint64_t filePhysicalLength = 0;
    std::uint64_t xmlPhysicalOffset = 0;
    std::uint64_t xmlLogicalLength = 0;
    std::uint64_t pageSize = 0;
};

E57BinaryHeader decodeBinaryHeader(const std::uint8_t* bytes48);

class ReaderImpl {
public:
    ReaderImpl(const std::string& path, const ReaderOptions& options);

    bool isOpen() const { return file_ && file_->pages != nullptr; }
    bool close();

    bool getE57Root(E57Root& root) const;

    int64_t image2DCount() const;
    bool readImage2D(int64_t index, Image2D& image) const;
    bool getImage2DSizes(int64_t index, Image2DProjection& projection, Image2DType& type,
                         int64_t& width, int64_t& height, int64_t& size, Image2DType& maskType,
                         Image2DType& visualType) const;
    int64_t readImage2DData(int64_t index, Image2DProjection projection, Image2DType type,
                            void* buffer, int64_t start, int64_t count) const;

    int64_t data3DCount() const;
    bool readData3D(int64_t index, Data3D& header) const;

    template <typename COORDTYPE>
    CompressedVectorReader setUpData3DPointsData(
        int64_t index, size_t capacity, const Data3DPointsData_t<COORDTYPE>& buffers) const;

    const XmlDocument& document() const { return doc_; }
    const E57BinaryHeader& binaryHeader() const { return header_; }

private:
    void requireOpen() const;
    const XmlNode* scanNode(int64_t index) const;   // null when out of range
    const XmlNode* imageNode(int64_t index) const;  // null when out of range
    int64_t blobSize(const XmlNode* blob, const std::string& where) const;

    std::shared_ptr<ReaderFile> file_;
    E57BinaryHeader header_;
    XmlDocument doc_;
    const XmlNode* data3D_ = nullptr;
    const XmlNode* images2D_ = nullptr;
};

}  // namespace e57
