#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <E57SimpleReader.h>
#include <E57SimpleWriter.h>

// A source scan's guid and the guid of the output scan that holds its exported points.
struct ScanGuidPair {
    std::string srcGuid;
    std::string dstGuid;
};

// Builds targetPath from every scan of geometryPath and, per pair, the source's Image2D blocks
// associated with srcGuid, re-associated with dstGuid. On success error (when given) holds the
// "Image transfer summary ..." text; on failure the target is removed and error holds why, with
// the system's reason ("No space left on device") when the target's folder takes no more data.
bool mergePhotosIntoFinalE57(const std::string& inputPath, const std::string& geometryPath,
                             const std::string& targetPath,
                             const std::vector<ScanGuidPair>& scanGuids, std::string* error);

// Copies every scan of the geometry file (positions, colour, intensity) into writer.
bool copyTempGeometryData3D(const std::string& geometryPath, e57::Writer& writer,
                            std::string* error);

// Copies the images of one pair; a single image that fails is skipped and counted. An image
// whose header cannot be read belongs to no pair: with unreadable given (one flag per image,
// shared by the pairs of one merge) it is counted and reported by the first pair only.
bool copyScanImage2D(const e57::Reader& reader, e57::Writer& writer, const std::string& srcGuid,
                     const std::string& dstGuid, std::string* warning, std::uint64_t* matched,
                     std::uint64_t* copied, std::uint64_t* skipped,
                     std::vector<bool>* unreadable = nullptr);
