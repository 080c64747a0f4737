#include <charconv>
#include <string_view>
#include <utility>

#include "E57Format.h"
#include "reader_impl.h"

namespace e57 {

namespace {

// A Vector's children are named by their index, every other container's by their own names.
const XmlNode* childNamed(const XmlNode& node, std::string_view name) {
    if (node.type == XmlNodeType::Vector) {
        std::size_t index = 0;
        const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), index);
        if (ec != std::errc{} || end != name.data() + name.size()) return nullptr;
        return index < node.children.size() ? &node.children[index] : nullptr;
    }
    if (node.type == XmlNodeType::Structure) return node.child(name);
    if (node.type == XmlNodeType::CompressedVector)  // its prototype and codecs
        for (const XmlNode& c : node.children)
            if (c.name == name) return &c;
    return nullptr;
}

}  // namespace

StructureNode::StructureNode(std::shared_ptr<const ReaderImpl> file, const XmlNode* node)
    : file_(std::move(file)), node_(node) {}

bool StructureNode::isDefined(const ustring& pathName) const {
    if (!file_->isOpen())
        throw E57Exception(ErrorImageFileNotOpen, "the E57 file is closed", __FILE__, __LINE__,
                           __func__);
    if (pathName.empty())
        throw E57Exception(ErrorBadPathName, "pathName is empty", __FILE__, __LINE__, __func__);
    const XmlNode* node = node_;
    std::size_t at = 0;
    if (pathName[0] == '/') {
        node = &file_->document().root;
        at = 1;
        if (pathName.size() == 1) return true;
    }
    // The whole path is checked for empty elements even past one that is not defined.
    bool defined = true;
    for (;;) {
        const std::size_t slash = pathName.find('/', at);
        const std::size_t end = slash == ustring::npos ? pathName.size() : slash;
        if (end == at)
            throw E57Exception(ErrorBadPathName, "pathName=" + pathName, __FILE__, __LINE__,
                               __func__);
        if (defined) {
            node = childNamed(*node, std::string_view(pathName).substr(at, end - at));
            defined = node != nullptr;
        }
        if (end == pathName.size()) return defined;
        at = end + 1;
    }
}

}  // namespace e57
