#pragma once

#include <string>

#include "points/preview/preview_build_session.h"
#include "points/tiles/tile_index.h"

// The background preview build: one thread per run reads the input once into the program's
// tile maps and publishes copies into PreviewBuildState for the GUI while it reads.

// Stores the mode and starts the build thread (runStartupBuild) on the state. Any later call
// of the same run is refused: false, a warning line, nothing started.
bool startBuildThread(PreviewBuildSession& state, int previewMode);

// The thread body: checks the paths, creates the output folder, runs buildPreviewFromInput
// and reports ready or failed. Never lets an exception out.
void runStartupBuild(PreviewBuildSession& state);

class XyzSampledReadAhead;

// Reads the input into the build's maps; true when at least one tile was found. Throws on
// failures that are not reader errors. An XYZ build goes on with the self-tests' read when it
// is given one that matches.
bool buildPreviewFromInput(PreviewBuildSession& state, XyzSampledReadAhead* xyzReadAhead = nullptr);

// Replaces the live maps of the build state by copies of the given maps and counts one more
// generation. The copies are made into `spare` before the mutex is taken, so the lock is held
// only for a swap; the previous live maps come back in `spare` and their storage is reused by
// the next publication. One publisher at a time per spare.
// The samples' origin is published with them when given.
void publishPreviewMaps(PreviewBuildState& buildState, const TileCountMap& tileCounts,
                        const TileSampleMap& tileSamples, PreviewMapBuffers& spare,
                        const SampleOrigin* origin = nullptr);
void publishPreviewMaps(PreviewBuildState& buildState, const TileCountMap& tileCounts,
                        const TileSampleMap& tileSamples);

// Makes dst equal to src, reusing dst's nodes and sample buffers where the tiles stay: a
// build's publications mostly refine the same tiles, so a copy allocates little.
void copyTileMaps(TileCountMap& dstCounts, TileSampleMap& dstSamples, const TileCountMap& counts,
                  const TileSampleMap& samples);

// Publishes the build's own maps.
void publishPreviewSnapshot(PreviewBuildSession& state);

// True when PDAL can create the named stage; any exception gives false.
bool isPdalStageAvailable(const std::string& stageName);
