#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Text of the XML section: typed E57 elements, two spaces of indentation per level, numbers in
// the C locale with enough digits to read back exactly.
namespace e57::xml {

// 17 digits after the point in scientific notation, trailing mantissa zeros and an "e+00"
// exponent dropped: 1e+01, 5e-01, 7.07106781186547573e-01.
std::string formatDouble(double value);

// Element text as CDATA; "]]>" inside the value is split over two CDATA sections.
std::string cdata(std::string_view value);

class Builder {
public:
    explicit Builder(int depth = 0) : depth_(depth) {}

    // <name type="Structure"> ... </name>
    void openStructure(std::string_view name);
    // <name type="Vector" allowHeterogeneousChildren="0|1">
    void openVector(std::string_view name, bool heterogeneous);
    // <name type="CompressedVector" fileOffset=".." recordCount="..">
    void openCompressedVector(std::string_view name, std::uint64_t fileOffset,
                              std::uint64_t recordCount);
    void close(std::string_view name);
    // <name type="Vector" allowHeterogeneousChildren="1"/>, the empty codecs list.
    void emptyVector(std::string_view name, bool heterogeneous);

    void string(std::string_view name, std::string_view value);
    void integer(std::string_view name, std::int64_t value,
                 std::optional<std::int64_t> minimum = {},
                 std::optional<std::int64_t> maximum = {});
    void scaledInteger(std::string_view name, std::int64_t rawValue, double scale,
                       std::optional<std::int64_t> minimum = {},
                       std::optional<std::int64_t> maximum = {});
    // A double-precision Float, or single when `single` (bounds are then clamped to the float
    // range).
    void floating(std::string_view name, double value, bool single = false,
                  std::optional<double> minimum = {}, std::optional<double> maximum = {});
    void blob(std::string_view name, std::uint64_t fileOffset, std::uint64_t length);
    // Text already formatted at depth + 1 (children built by another Builder).
    void raw(std::string_view text) { out_ += text; }

    int depth() const { return depth_; }
    const std::string& text() const { return out_; }
    std::string take() { return std::move(out_); }

private:
    void indent();
    void leaf(std::string_view name, std::string_view type, const std::string& attributes,
              const std::string& value);

    std::string out_;
    int depth_;
};

}  // namespace e57::xml
