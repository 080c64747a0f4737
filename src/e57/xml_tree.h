#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace e57 {

enum class XmlNodeType {
    Structure,
    Vector,
    CompressedVector,
    Integer,
    ScaledInteger,
    Float,
    String,
    Blob
};

const char* xmlNodeTypeName(XmlNodeType type);

// One element of the E57 XML tree with its attributes resolved to their defaults.
struct XmlNode {
    XmlNodeType type = XmlNodeType::Structure;
    std::string name;  // element name as written, prefix included
    std::vector<XmlNode>
        children;  // Structure/Vector children; CompressedVector: prototype, codecs

    // Integer and ScaledInteger (raw values and bounds)
    std::int64_t intValue = 0;
    std::int64_t intMinimum = INT64_MIN;
    std::int64_t intMaximum = INT64_MAX;
    double scale = 1.0;
    double offset = 0.0;

    // Float
    bool singlePrecision = false;
    double floatValue = 0.0;
    double floatMinimum = 0.0;
    double floatMaximum = 0.0;

    std::string text;  // String value

    // CompressedVector and Blob
    std::uint64_t fileOffset = 0;
    std::uint64_t recordCount = 0;
    std::uint64_t blobLength = 0;

    bool allowHeterogeneousChildren = false;

    const XmlNode* child(std::string_view childName) const;
    const XmlNode* prototype() const;  // CompressedVector only

    bool isNumeric() const {
        return type == XmlNodeType::Integer || type == XmlNodeType::ScaledInteger ||
               type == XmlNodeType::Float;
    }
    // The value as a double: scaled for ScaledInteger. 0 for other types.
    double numericValue() const;
};

struct XmlDocument {
    XmlNode root;
    std::string defaultNamespace;
    std::vector<std::pair<std::string, std::string>> prefixes;  // prefix, URI

    bool hasPrefix(std::string_view prefix) const;
};

// Largest XML section accepted; real files stay far below it.
constexpr std::uint64_t kMaxXmlBytes = 512ull << 20;
// Deepest element nesting accepted.
constexpr int kMaxXmlDepth = 64;

// Parses the XML section. Throws E57Exception (ErrorXMLParser, ErrorBadXMLFormat,
// ErrorBadPrototype).
XmlDocument parseE57Xml(const char* data, std::size_t size);

}  // namespace e57
