#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "points/input/cloud_point.h"

class XyzAsciiPointReader;

// Console diagnostics run before an XYZ preview build so a user can see how the file parses.
// Both print on standard output only, change no program state (besides a read they are given
// an XyzSampledReadAhead to keep), and do nothing for a path without the ".xyz" extension.

// The first five points the reader yields and its summary.
void pointIoTestXyzAsciiPointReader(const std::string& inputPath, double coordScaleToMeters);

// The generic processor's sampled read, kept so that the XYZ preview build that follows can
// go on from where it stopped instead of reading the file a second time.
class XyzSampledReadAhead {
public:
    struct Sampled {
        CloudPoint point;
        std::uint64_t lineNumber;    // the reader's lineNumber() after this point
        std::uint64_t readPosition;  // and its readPosition()
    };

    XyzSampledReadAhead();
    ~XyzSampledReadAhead();
    XyzSampledReadAhead(const XyzSampledReadAhead&) = delete;
    XyzSampledReadAhead& operator=(const XyzSampledReadAhead&) = delete;

    // Hands the kept read to the caller when it was made with the same path, scale and line
    // step: the points read so far, in order, and the reader, open just past the last of them.
    // Otherwise false and nothing changes. A read is handed over once.
    bool take(const std::string& path, double coordScaleToMeters, std::uint64_t lineStep,
              std::vector<Sampled>& points, std::unique_ptr<XyzAsciiPointReader>& reader);

    // Used by the generic processor.
    void keep(const std::string& path, double coordScaleToMeters, std::uint64_t lineStep,
              std::vector<Sampled> points, std::unique_ptr<XyzAsciiPointReader> reader);

private:
    std::string path_;
    double scale_ = 0.0;
    std::uint64_t lineStep_ = 0;
    std::vector<Sampled> points_;
    std::unique_ptr<XyzAsciiPointReader> reader_;
};

// The sampled preview accumulation (every 250th line, at most 100,000 points) into maps of its
// own, with the resulting tile and sample figures. With `readAhead`, a read that ended without
// an error is kept there for the build.
void pointIoTestGenericPreviewProcessor(const std::string& inputPath, double coordScaleToMeters,
                                        double tileSize, int requestedSamplesPerTile,
                                        XyzSampledReadAhead* readAhead = nullptr);
