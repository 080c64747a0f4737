#include "xml_writer.h"

#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <limits>

namespace e57::xml {

std::string formatDouble(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17e", value);
    std::string s(text);
    const std::size_t e = s.find('e');
    if (e == std::string::npos) return s;  // not a finite number; callers never pass one
    std::string mantissa = s.substr(0, e);
    const std::string exponent = s.substr(e + 1);
    if (mantissa.find('.') != std::string::npos) {
        while (!mantissa.empty() && mantissa.back() == '0') mantissa.pop_back();
        if (!mantissa.empty() && mantissa.back() == '.') mantissa.pop_back();
    }
    if (exponent == "+00" || exponent == "+000") return mantissa;
    return mantissa + "e" + exponent;
}

std::string cdata(std::string_view value) {
    std::string out = "<![CDATA[";
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = value.find("]]>", from);
        if (at == std::string_view::npos) break;
        out.append(value.substr(from, at + 2 - from));
        out += "]]><![CDATA[";
        from = at + 2;
    }
    out.append(value.substr(from));
    out += "]]>";
    return out;
}

void Builder::indent() { out_.append(static_cast<std::size_t>(2 * depth_), ' '); }

void Builder::openStructure(std::string_view name) {
    indent();
    out_ += '<';
    out_ += name;
    out_ += " type=\"Structure\">\n";
    ++depth_;
}

void Builder::openVector(std::string_view name, bool heterogeneous) {
    indent();
    out_ += '<';
    out_ += name;
    out_ += heterogeneous ? " type=\"Vector\" allowHeterogeneousChildren=\"1\">\n"
                          : " type=\"Vector\" allowHeterogeneousChildren=\"0\">\n";
    ++depth_;
}

void Builder::openCompressedVector(std::string_view name, std::uint64_t fileOffset,
                                   std::uint64_t recordCount) {
    indent();
    out_ += '<';
    out_ += name;
    out_ += " type=\"CompressedVector\" fileOffset=\"" + std::to_string(fileOffset) +
            "\" recordCount=\"" + std::to_string(recordCount) + "\">\n";
    ++depth_;
}

void Builder::close(std::string_view name) {
    --depth_;
    indent();
    out_ += "</";
    out_ += name;
    out_ += ">\n";
}

void Builder::emptyVector(std::string_view name, bool heterogeneous) {
    leaf(name, "Vector",
         heterogeneous ? " allowHeterogeneousChildren=\"1\"" : " allowHeterogeneousChildren=\"0\"",
         {});
}

void Builder::leaf(std::string_view name, std::string_view type, const std::string& attributes,
                   const std::string& value) {
    indent();
    out_ += '<';
    out_ += name;
    out_ += " type=\"";
    out_ += type;
    out_ += '"';
    out_ += attributes;
    if (value.empty()) {
        out_ += "/>\n";
        return;
    }
    out_ += '>';
    out_ += value;
    out_ += "</";
    out_ += name;
    out_ += ">\n";
}

void Builder::string(std::string_view name, std::string_view value) {
    leaf(name, "String", {}, value.empty() ? std::string() : cdata(value));
}

namespace {

std::string integerBounds(std::optional<std::int64_t> minimum,
                          std::optional<std::int64_t> maximum) {
    std::string a;
    if (minimum && *minimum != std::numeric_limits<std::int64_t>::min())
        a += " minimum=\"" + std::to_string(*minimum) + "\"";
    if (maximum && *maximum != std::numeric_limits<std::int64_t>::max())
        a += " maximum=\"" + std::to_string(*maximum) + "\"";
    return a;
}

}  // namespace

void Builder::integer(std::string_view name, std::int64_t value,
                      std::optional<std::int64_t> minimum, std::optional<std::int64_t> maximum) {
    leaf(name, "Integer", integerBounds(minimum, maximum),
         value == 0 ? std::string() : std::to_string(value));
}

void Builder::scaledInteger(std::string_view name, std::int64_t rawValue, double scale,
                            std::optional<std::int64_t> minimum,
                            std::optional<std::int64_t> maximum) {
    std::string a = integerBounds(minimum, maximum);
    if (scale != 1.0) a += " scale=\"" + formatDouble(scale) + "\"";
    leaf(name, "ScaledInteger", a, rawValue == 0 ? std::string() : std::to_string(rawValue));
}

void Builder::floating(std::string_view name, double value, bool single,
                       std::optional<double> minimum, std::optional<double> maximum) {
    std::string a;
    const double limit = single ? static_cast<double>(FLT_MAX) : DBL_MAX;
    if (single) a += " precision=\"single\"";
    if (minimum) {
        const double m = std::clamp(*minimum, -limit, limit);
        if (m != -limit) a += " minimum=\"" + formatDouble(m) + "\"";
    }
    if (maximum) {
        const double m = std::clamp(*maximum, -limit, limit);
        if (m != limit) a += " maximum=\"" + formatDouble(m) + "\"";
    }
    leaf(name, "Float", a, value == 0.0 ? std::string() : formatDouble(value));
}

void Builder::blob(std::string_view name, std::uint64_t fileOffset, std::uint64_t length) {
    leaf(name, "Blob",
         " fileOffset=\"" + std::to_string(fileOffset) + "\" length=\"" + std::to_string(length) +
             "\"",
         {});
}

}  // namespace e57::xml
