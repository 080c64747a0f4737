// Opens the bytes as a LAS file, refusing and accepting truncation, and reads every record
// three ways: one by one, in runs, and by seeks.

#include <cstddef>
#include <cstdint>
#include <string>

#include "memory_file.h"
#include "points/input/las_reader.h"

namespace {

constexpr std::uint64_t kMaxRecords = 1u << 16;

void readAll(const std::string& path, bool acceptTruncated) {
    LasBinaryPointReader reader;
    std::string error;
    if (!reader.open(path, &error, acceptTruncated)) {
        if (error.empty() || reader.isOpen()) __builtin_trap();
        return;
    }
    if (reader.pointCount() == 0 || (!acceptTruncated && reader.truncated())) __builtin_trap();
    CloudPoint p;
    std::uint64_t n = 0;
    while (n < kMaxRecords && reader.readNext(p, &error)) ++n;
    if (n < kMaxRecords && n != reader.pointCount() && error.empty()) __builtin_trap();

    reader.seekToRecord(0);
    const std::uint8_t* records = nullptr;
    std::size_t count = 0;
    n = 0;
    while (n < kMaxRecords && reader.readRecords(records, count, &error)) {
        if (count == 0) __builtin_trap();
        n += count;
    }
    for (std::uint64_t i = reader.pointCount(); i > 0 && i + 64 > reader.pointCount(); --i) {
        reader.seekToRecord(i - 1);
        reader.readNext(p, &error);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzzfile::MemoryFile file(data, size);
    if (!file.ok()) return 0;
    readAll(file.path(), false);
    readAll(file.path(), true);
    return 0;
}
