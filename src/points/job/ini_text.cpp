#include "points/job/ini_text.h"

#include "points/input/text_utils.h"

void forEachIniEntry(std::istream& in, const IniEntryHandler& handler,
                     const IniSectionHandler& onSection) {
    std::string section;
    std::string line;
    while (std::getline(in, line)) {
        const std::string_view text = trimView(line);
        if (text.empty() || text.front() == ';' || text.front() == '#') continue;
        if (text.front() == '[' && text.back() == ']' && text.size() >= 2) {
            section = trim(text.substr(1, text.size() - 2));
            if (onSection) onSection(section);
            continue;
        }
        const auto eq = text.find('=');
        if (eq == std::string_view::npos) continue;
        handler(section, trim(text.substr(0, eq)), trim(text.substr(eq + 1)));
    }
}
