#include "xml_tree.h"

#include <pugixml.hpp>

#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cstdlib>
#include <unordered_set>

#include "E57Exception.h"
#include "reader_error.h"

namespace e57 {

const char* xmlNodeTypeName(XmlNodeType type) {
    switch (type) {
        case XmlNodeType::Structure: return "Structure";
        case XmlNodeType::Vector: return "Vector";
        case XmlNodeType::CompressedVector: return "CompressedVector";
        case XmlNodeType::Integer: return "Integer";
        case XmlNodeType::ScaledInteger: return "ScaledInteger";
        case XmlNodeType::Float: return "Float";
        case XmlNodeType::String: return "String";
        case XmlNodeType::Blob: return "Blob";
    }
    return "?";
}

const XmlNode* XmlNode::child(std::string_view childName) const {
    if (type != XmlNodeType::Structure) return nullptr;
    for (const XmlNode& c : children)
        if (c.name == childName) return &c;
    return nullptr;
}

const XmlNode* XmlNode::prototype() const {
    if (type != XmlNodeType::CompressedVector || children.empty()) return nullptr;
    return &children[0];
}

double XmlNode::numericValue() const {
    switch (type) {
        case XmlNodeType::Integer: return static_cast<double>(intValue);
        case XmlNodeType::ScaledInteger: return static_cast<double>(intValue) * scale + offset;
        case XmlNodeType::Float: return floatValue;
        default: return 0.0;
    }
}

bool XmlDocument::hasPrefix(std::string_view prefix) const {
    for (const auto& p : prefixes)
        if (p.first == prefix) return true;
    return false;
}

namespace {

std::string_view trimmed(std::string_view s) {
    const char* ws = " \t\r\n";
    const auto b = s.find_first_not_of(ws);
    if (b == std::string_view::npos) return {};
    const auto e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

class Builder {
public:
    explicit Builder(XmlDocument& doc) : doc_(doc) {}

    void build(const pugi::xml_node& rootElem) {
        if (std::string_view(rootElem.name()) != "e57Root")
            E57_THROW(ErrorBadXMLFormat,
                      "root element is <" + std::string(rootElem.name()) + ">, expected <e57Root>");
        bool haveDefault = false;
        for (const pugi::xml_attribute& a : rootElem.attributes()) {
            std::string_view an = a.name();
            if (an == "xmlns") {
                haveDefault = true;
                doc_.defaultNamespace = a.value();
            } else if (an.substr(0, 6) == "xmlns:") {
                std::string prefix(an.substr(6));
                if (prefix.empty())
                    E57_THROW(ErrorBadXMLFormat, "empty namespace prefix declared on e57Root");
                if (doc_.hasPrefix(prefix))
                    E57_THROW(ErrorDuplicateNamespacePrefix,
                              "namespace prefix '" + prefix + "' declared twice");
                doc_.prefixes.emplace_back(prefix, a.value());
            }
        }
        if (!haveDefault)
            E57_THROW(ErrorBadXMLFormat, "e57Root declares no default namespace (xmlns)");
        convert(rootElem, doc_.root, "/", 0, false);
        if (doc_.root.type != XmlNodeType::Structure)
            E57_THROW(ErrorBadXMLFormat, "e57Root must be a Structure");
    }

private:
    static std::string leafText(const pugi::xml_node& e) {
        std::string out;
        for (const pugi::xml_node& c : e.children()) {
            if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) out += c.value();
        }
        return out;
    }

    static bool onlyWhitespaceText(const pugi::xml_node& e) {
        for (const pugi::xml_node& c : e.children()) {
            if ((c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) &&
                !trimmed(c.value()).empty())
                return false;
        }
        return true;
    }

    static std::int64_t parseInt(std::string_view s, const std::string& where, const char* what) {
        s = trimmed(s);
        if (s.empty()) return 0;
        if (s.front() == '+') s.remove_prefix(1);
        std::int64_t v = 0;
        auto r = std::from_chars(s.data(), s.data() + s.size(), v);
        if (r.ec != std::errc() || r.ptr != s.data() + s.size())
            E57_THROW(ErrorBadXMLFormat,
                      std::string("bad integer ") + what + " '" + std::string(s) + "' at " + where);
        return v;
    }

    static double parseDouble(std::string_view s, const std::string& where, const char* what) {
        s = trimmed(s);
        if (s.empty()) return 0.0;
        if (s.front() == '+') s.remove_prefix(1);
        double v = 0.0;
        auto r = std::from_chars(s.data(), s.data() + s.size(), v);
        if (r.ec == std::errc::result_out_of_range) {
            // Denormal or overflowing text: fall back to strtod, which rounds to 0 or infinity.
            std::string tmp(s);
            char* end = nullptr;
            v = std::strtod(tmp.c_str(), &end);
            if (end != tmp.c_str() + tmp.size())
                E57_THROW(ErrorBadXMLFormat,
                          std::string("bad number ") + what + " '" + tmp + "' at " + where);
            return v;
        }
        if (r.ec != std::errc() || r.ptr != s.data() + s.size())
            E57_THROW(ErrorBadXMLFormat,
                      std::string("bad number ") + what + " '" + std::string(s) + "' at " + where);
        return v;
    }

    static std::uint64_t parseUint(std::string_view s, const std::string& where, const char* what) {
        s = trimmed(s);
        if (!s.empty() && s.front() == '+') s.remove_prefix(1);
        std::uint64_t v = 0;
        auto r = std::from_chars(s.data(), s.data() + s.size(), v);
        if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size())
            E57_THROW(ErrorBadXMLFormat,
                      std::string("bad ") + what + " '" + std::string(s) + "' at " + where);
        return v;
    }

    void checkName(std::string_view name, const std::string& where) const {
        const auto colon = name.find(':');
        if (colon == std::string_view::npos) return;
        const std::string_view prefix = name.substr(0, colon);
        if (prefix.empty() || colon + 1 >= name.size() ||
            name.find(':', colon + 1) != std::string_view::npos)
            E57_THROW(ErrorBadXMLFormat,
                      "malformed element name '" + std::string(name) + "' at " + where);
        if (!doc_.hasPrefix(prefix))
            E57_THROW(ErrorBadXMLFormat, "element '" + std::string(name) +
                                             "' uses the undeclared namespace prefix '" +
                                             std::string(prefix) + "' at " + where);
    }

    void convert(const pugi::xml_node& e, XmlNode& out, const std::string& path, int depth,
                 bool inPrototype) {
        if (depth > kMaxXmlDepth)
            E57_THROW(ErrorBadXMLFormat, "elements nested too deeply at " + path);
        out.name = e.name();
        checkName(out.name, path);
        const pugi::xml_attribute typeAttr = e.attribute("type");
        if (!typeAttr) E57_THROW(ErrorBadXMLFormat, "element has no type attribute at " + path);
        const std::string_view t = typeAttr.value();

        if (t == "Structure" || t == "Vector") {
            out.type = t == "Structure" ? XmlNodeType::Structure : XmlNodeType::Vector;
            if (out.type == XmlNodeType::Vector) {
                const pugi::xml_attribute h = e.attribute("allowHeterogeneousChildren");
                if (h) {
                    const std::string_view hv = trimmed(h.value());
                    if (hv == "1")
                        out.allowHeterogeneousChildren = true;
                    else if (hv != "0")
                        E57_THROW(ErrorBadXMLFormat, "allowHeterogeneousChildren='" +
                                                         std::string(hv) + "' at " + path);
                }
            }
            convertChildren(e, out, path, depth, inPrototype);
        } else if (t == "CompressedVector") {
            if (inPrototype)
                E57_THROW(ErrorBadPrototype, "CompressedVector inside a prototype at " + path);
            out.type = XmlNodeType::CompressedVector;
            const pugi::xml_attribute fo = e.attribute("fileOffset");
            const pugi::xml_attribute rc = e.attribute("recordCount");
            if (!fo || !rc)
                E57_THROW(ErrorBadXMLFormat,
                          "CompressedVector lacks fileOffset or recordCount at " + path);
            out.fileOffset = parseUint(fo.value(), path, "fileOffset");
            out.recordCount = parseUint(rc.value(), path, "recordCount");
            const pugi::xml_node* proto = nullptr;
            const pugi::xml_node* codecs = nullptr;
            pugi::xml_node protoNode;
            pugi::xml_node codecsNode;
            for (const pugi::xml_node& c : e.children()) {
                if (c.type() != pugi::node_element) continue;
                const std::string_view cn = c.name();
                if (cn == "prototype" && !proto) {
                    protoNode = c;
                    proto = &protoNode;
                } else if (cn == "codecs" && !codecs) {
                    codecsNode = c;
                    codecs = &codecsNode;
                } else {
                    E57_THROW(ErrorBadXMLFormat, "unexpected child <" + std::string(cn) +
                                                     "> of CompressedVector at " + path);
                }
            }
            if (!proto)
                E57_THROW(ErrorBadPrototype, "CompressedVector has no prototype at " + path);
            out.children.resize(codecs ? 2 : 1);
            convert(*proto, out.children[0], path + "/prototype", depth + 1, true);
            if (codecs) {
                convert(*codecs, out.children[1], path + "/codecs", depth + 1, true);
                if (out.children[1].type != XmlNodeType::Vector)
                    E57_THROW(ErrorBadCodecs, "codecs is not a Vector at " + path);
            }
        } else if (t == "Integer" || t == "ScaledInteger") {
            out.type = t == "Integer" ? XmlNodeType::Integer : XmlNodeType::ScaledInteger;
            if (const auto a = e.attribute("minimum"))
                out.intMinimum = parseInt(a.value(), path, "minimum");
            if (const auto a = e.attribute("maximum"))
                out.intMaximum = parseInt(a.value(), path, "maximum");
            if (out.intMinimum > out.intMaximum)
                E57_THROW(ErrorBadXMLFormat, "minimum " + std::to_string(out.intMinimum) +
                                                 " > maximum " + std::to_string(out.intMaximum) +
                                                 " at " + path);
            if (out.type == XmlNodeType::ScaledInteger) {
                if (const auto a = e.attribute("scale"))
                    out.scale = parseDouble(a.value(), path, "scale");
                if (const auto a = e.attribute("offset"))
                    out.offset = parseDouble(a.value(), path, "offset");
            }
            out.intValue = parseInt(leafText(e), path, "value");
        } else if (t == "Float") {
            out.type = XmlNodeType::Float;
            if (const auto a = e.attribute("precision")) {
                const std::string_view p = trimmed(a.value());
                if (p == "single")
                    out.singlePrecision = true;
                else if (p != "double")
                    E57_THROW(ErrorBadXMLFormat,
                              "Float precision '" + std::string(p) + "' at " + path);
            }
            out.floatMinimum = out.singlePrecision ? -double(FLT_MAX) : -DBL_MAX;
            out.floatMaximum = out.singlePrecision ? double(FLT_MAX) : DBL_MAX;
            if (const auto a = e.attribute("minimum"))
                out.floatMinimum = parseDouble(a.value(), path, "minimum");
            if (const auto a = e.attribute("maximum"))
                out.floatMaximum = parseDouble(a.value(), path, "maximum");
            out.floatValue = parseDouble(leafText(e), path, "value");
        } else if (t == "String") {
            out.type = XmlNodeType::String;
            out.text = leafText(e);
        } else if (t == "Blob") {
            if (inPrototype) E57_THROW(ErrorBadPrototype, "Blob inside a prototype at " + path);
            out.type = XmlNodeType::Blob;
            const pugi::xml_attribute fo = e.attribute("fileOffset");
            const pugi::xml_attribute len = e.attribute("length");
            if (!fo || !len)
                E57_THROW(ErrorBadXMLFormat, "Blob lacks fileOffset or length at " + path);
            out.fileOffset = parseUint(fo.value(), path, "fileOffset");
            out.blobLength = parseUint(len.value(), path, "length");
        } else {
            E57_THROW(ErrorBadXMLFormat,
                      "unknown element type '" + std::string(t) + "' at " + path);
        }
        if (out.type == XmlNodeType::Structure || out.type == XmlNodeType::Vector ||
            out.type == XmlNodeType::CompressedVector || out.type == XmlNodeType::Blob) {
            if (!onlyWhitespaceText(e))
                E57_THROW(ErrorBadXMLFormat,
                          std::string(xmlNodeTypeName(out.type)) + " holds text at " + path);
        }
    }

    void convertChildren(const pugi::xml_node& e, XmlNode& out, const std::string& path, int depth,
                         bool inPrototype) {
        std::size_t count = 0;
        for (const pugi::xml_node& c : e.children())
            if (c.type() == pugi::node_element) ++count;
        out.children.resize(count);
        std::unordered_set<std::string_view> seen;
        std::size_t i = 0;
        for (const pugi::xml_node& c : e.children()) {
            if (c.type() != pugi::node_element) continue;
            XmlNode& child = out.children[i];
            const std::string childPath = out.type == XmlNodeType::Vector
                                              ? path + (path == "/" ? "" : "/") + std::to_string(i)
                                              : path + (path == "/" ? "" : "/") + c.name();
            convert(c, child, childPath, depth + 1, inPrototype);
            if (out.type == XmlNodeType::Structure && !seen.insert(child.name).second)
                E57_THROW(ErrorBadXMLFormat, "duplicate child name at " + childPath);
            ++i;
        }
    }

    XmlDocument& doc_;
};

}  // namespace

XmlDocument parseE57Xml(const char* data, std::size_t size) {
    pugi::xml_document px;
    const unsigned options = pugi::parse_default | pugi::parse_ws_pcdata_single;
    const pugi::xml_parse_result r = px.load_buffer(data, size, options, pugi::encoding_utf8);
    if (!r)
        E57_THROW(ErrorXMLParser, std::string("XML section does not parse: ") + r.description() +
                                      " at XML byte " + std::to_string(r.offset));
    pugi::xml_node rootElem;
    for (const pugi::xml_node& c : px.children()) {
        if (c.type() == pugi::node_element) {
            if (rootElem) E57_THROW(ErrorXMLParser, "XML section has more than one root element");
            rootElem = c;
        }
    }
    if (!rootElem) E57_THROW(ErrorXMLParser, "XML section has no root element");
    XmlDocument doc;
    Builder(doc).build(rootElem);
    return doc;
}

}  // namespace e57
