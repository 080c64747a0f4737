#pragma once

#include <cfloat>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "E57Exception.h"

namespace e57 {

using std::int16_t;
using std::int32_t;
using std::int64_t;
using std::int8_t;
using std::uint16_t;
using std::uint32_t;
using std::uint64_t;
using std::uint8_t;

using ustring = std::string;

constexpr float FLOAT_MIN = -FLT_MAX;
constexpr float FLOAT_MAX = FLT_MAX;
constexpr double DOUBLE_MIN = -DBL_MAX;
constexpr double DOUBLE_MAX = DBL_MAX;
constexpr uint8_t UINT8_MIN = 0U;
constexpr uint16_t UINT16_MIN = 0U;
constexpr uint32_t UINT32_MIN = 0U;
constexpr uint64_t UINT64_MIN = 0ULL;

constexpr char VERSION_1_0_URI[] = "http://www.astm.org/COMMIT/E57/2010-e57-v1.0";

enum ChecksumPolicy {
    ChecksumNone = 0,
    ChecksumSparse = 25,
    ChecksumHalf = 50,
    ChecksumAll = 100,
};
using ReadChecksumPolicy = int;

class CompressedVectorReaderImpl;
class ReaderImpl;
struct XmlNode;

// A Structure element of an open file's tree, from Reader::GetRawE57Root(); copies share the
// file. Of the node API only the test for a path is here.
class E57_DLL StructureNode {
public:
    StructureNode() = delete;

    // Whether pathName names an element: absolute ("/data3D/0/pose") or relative to this
    // node. Throws ErrorBadPathName for an empty or malformed path and ErrorImageFileNotOpen
    // once the file is closed.
    bool isDefined(const ustring& pathName) const;

private:
    friend class Reader;
    StructureNode(std::shared_ptr<const ReaderImpl> file, const XmlNode* node);

    std::shared_ptr<const ReaderImpl> file_;
    const XmlNode* node_;
};

// A handle on one open point read; copies share it. The last copy closes it.
class E57_DLL CompressedVectorReader {
public:
    CompressedVectorReader() = delete;
    // Internal: made by Reader::SetUpData3DPointsData.
    explicit CompressedVectorReader(std::shared_ptr<CompressedVectorReaderImpl> impl);

    unsigned read();
    void close();
    bool isOpen();
    void seek(int64_t recordNumber);

private:
    std::shared_ptr<CompressedVectorReaderImpl> impl_;
};

}  // namespace e57
