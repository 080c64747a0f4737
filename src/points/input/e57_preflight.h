#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The first 48 bytes of an E57 file, shown as read (nothing is checked).
struct E57FileHeader {
    bool headerRead = false;
    std::string signature;
    std::uint32_t versionMajor = 0;
    std::uint32_t versionMinor = 0;
    std::uint64_t physicalLength = 0;
    std::uint64_t xmlPhysicalOffset = 0;
    std::uint64_t xmlLogicalLength = 0;
    std::uint64_t pageSize = 0;
};

struct E57ScanSummary {
    std::int64_t index = 0;
    std::int64_t points = 0;
    bool cartesianX = false;
    bool cartesianY = false;
    bool cartesianZ = false;
    bool colorRed = false;
    bool colorGreen = false;
    bool colorBlue = false;
    bool intensity = false;
    bool timeStamp = false;
    bool rowIndex = false;
    bool columnIndex = false;
    double translationX = 0.0;
    double translationY = 0.0;
    double translationZ = 0.0;
    std::string guid;
};

struct E57ImageSummary {
    std::int64_t index = 0;
    std::string assocGuid;
    std::int32_t proj = 0;
    std::int32_t imageType = 0;
    std::int32_t maskType = 0;
    std::int32_t visualType = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t size = 0;
    bool hasMask = false;
    bool hasVisualRef = false;
    bool getSizesOk = false;
};

// What the user sees before an E57 file may be loaded.
struct E57PreflightAnalysis {
    bool attempted = false;
    bool ok = false;
    bool partial = false;
    std::string inputPath;
    std::string error;
    std::string firstImage2DError;
    std::int64_t firstFailedImage2DIndex = -1;
    double fileSizeMB = 0.0;
    E57FileHeader header;
    std::string rootGuid;
    std::string xmlPreview;
    std::int64_t data3DScans = 0;
    std::int64_t image2DBlocks = 0;
    std::uint64_t totalPoints = 0;
    std::int64_t cartesianScans = 0;
    std::int64_t nonCartesianScans = 0;
    std::int64_t rgbScans = 0;
    std::int64_t intensityScans = 0;
    std::int64_t timeScans = 0;
    std::int64_t structuredScans = 0;
    std::int64_t getImage2DSizesFailures = 0;
    std::int64_t imagesWithMasks = 0;
    std::int64_t imagesWithVisualRefs = 0;
    std::map<std::int32_t, std::int64_t> imageTypeCounts;
    std::map<std::int32_t, std::int64_t> projectionTypeCounts;
    std::map<std::int32_t, std::int64_t> maskTypeCounts;
    std::map<std::int32_t, std::int64_t> visualTypeCounts;
    std::vector<E57ScanSummary> scans;
    std::vector<E57ImageSummary> images;
};

// Never writes to the file. True when the analysis ran to its end (ok), also when partial.
bool analyzeE57Preflight(const std::string& path, E57PreflightAnalysis& out, std::string* error);
bool readE57BinaryHeader(const std::string& path, E57PreflightAnalysis& out, std::string* error);
std::string printableSignature(const unsigned char* bytes, std::size_t count);
// Coordinate metadata as shown: at most 4,000 characters, then a truncation mark.
std::string cutCoordinateMetadata(const std::string& metadata);
std::string formatPreflightReport(const E57PreflightAnalysis& analysis);
