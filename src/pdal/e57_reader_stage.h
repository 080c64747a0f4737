#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "E57SimpleReader.h"
#include "pdal/Streamable.hpp"

namespace pdal {

// "readers.e57": every scan of an E57 file in file order, in world coordinates.
// Points are decoded in bulk, a few thousand at a time (at most a table capacity), and each
// read's points are stored straight into the rows of one chunk.
class E57ReaderStage : public Streamable {
public:
    E57ReaderStage();
    ~E57ReaderStage() override;

    std::string getName() const override { return "readers.e57"; }

protected:
    void processOptions(const Options& options) override;
    void initialize() override;
    void addDimensions(PointLayoutPtr layout) override;
    void ready(PointTableRef table) override;
    void done(PointTableRef table) override;
    point_count_t fillChunk(StreamPointTable& table) override;

private:
    struct Scan;
    struct Buffers;

    bool openNextScan(StreamPointTable& table);
    void closeScan();
    // Stores buffered points first..first+n-1 into table rows 0..n-1.
    void storeBlock(const Scan& scan, StreamPointTable& table, std::size_t first, std::size_t n);
    void storeCoordinates(const Scan& scan, const PointLayout& layout, char* rows,
                          std::size_t rowSize, std::size_t first, std::size_t n, bool xyzTogether);

    std::string filename_;
    std::unique_ptr<e57::Reader> reader_;
    std::vector<Scan> scans_;
    std::unique_ptr<Buffers> buffers_;
    std::optional<e57::CompressedVectorReader> points_;
    std::size_t nextScan_ = 0;
    const Scan* current_ = nullptr;
    std::size_t decodedCount_ = 0;  // points of the last read() in the buffers
    std::size_t decodedNext_ = 0;   // the first of them not yet handed on
};

}  // namespace pdal
