#pragma once

#include <string>

// Console diagnostics run before an XYZ preview build so a user can see how the file parses.
// Both print on standard output only, change no program state, and do nothing for a path
// without the ".xyz" extension.

// The first five points the reader yields and its summary.
void pointIoTestXyzAsciiPointReader(const std::string& inputPath, double coordScaleToMeters);

// The sampled preview accumulation (every 250th line, at most 100,000 points) into maps of its
// own, with the resulting tile and sample figures.
void pointIoTestGenericPreviewProcessor(const std::string& inputPath, double coordScaleToMeters,
                                        double tileSize, int requestedSamplesPerTile);
