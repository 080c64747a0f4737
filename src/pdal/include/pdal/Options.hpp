#pragma once

#include <map>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "pdal/pdal_types.hpp"

namespace pdal {

// One named option; the value is kept as text.
class Option {
public:
    Option() = default;
    Option(const std::string& name, const std::string& value) : name_(name), value_(value) {}
    Option(const std::string& name, const char* value) : name_(name), value_(value) {}
    Option(const std::string& name, bool value) : name_(name), value_(value ? "true" : "false") {}
    template <typename T>
    Option(const std::string& name, const T& value) : name_(name), value_(toText(value)) {}

    const std::string& getName() const { return name_; }
    const std::string& getValue() const { return value_; }

private:
    template <typename T>
    static std::string toText(const T& value) {
        std::ostringstream out;
        if constexpr (std::is_floating_point_v<T>) out.precision(15);
        out << value;
        return out.str();
    }

    std::string name_;
    std::string value_;
};

// A set of options; adding a name again adds another value.
class Options {
public:
    Options() = default;
    explicit Options(const Option& option) { add(option); }

    void add(const Option& option) { options_.emplace(option.getName(), option); }
    void add(const Options& other) {
        for (const auto& entry : other.options_) options_.insert(entry);
    }
    template <typename T>
    void add(const std::string& name, T value) {
        add(Option(name, value));
    }
    void add(const std::string& name, const std::string& value) { add(Option(name, value)); }
    void add(const std::string& name, const bool& value) { add(Option(name, value)); }

    // Every option of that name (all options for an empty name), in insertion order per name.
    std::vector<Option> getOptions(const std::string& name = "") const;
    // Distinct option names, sorted.
    StringList getKeys() const;

private:
    std::multimap<std::string, Option> options_;
};

}  // namespace pdal
