// zeverive_kdenlive_effect MODULE OUTPUT: writes the Kdenlive effect
// description of a frei0r filter from what the filter itself tells its
// hosts (f0r_get_plugin_info, f0r_get_param_info and, for the defaults,
// f0r_get_param_value of a fresh instance), so the description names every
// parameter the filter has and cannot drift from it.
//
// Kdenlive shows a number as value x factor and hands MLT value / factor. A
// parameter whose explanation ends in "(MIN..MAX[ UNIT] from 0..1, ...)"
// with MIN 0 becomes a slider from 0 to MAX in its own unit, with
// factor MAX; any other number stays a slider over frei0r's 0..1. A
// string whose explanation ends in "(NAME|NAME|... by name, ...)" becomes
// a list of those names.
extern "C" {
#include <frei0r.h>
}

#include <dlfcn.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <sstream>
#include <string>

namespace {

struct Range {
    double minimum;
    double maximum;
    std::string unit;
    std::string rest;  // the explanation without the range, which Kdenlive shows itself
};

std::optional<Range> range_in(const std::string& explanation) {
    const size_t marker = explanation.find(" from 0..1");
    if (marker == std::string::npos) return std::nullopt;
    const size_t open = explanation.rfind('(', marker);
    const size_t close = explanation.find(')', marker);
    if (open == std::string::npos || close == std::string::npos) return std::nullopt;
    // "MIN..MAX" or "MIN..MAX UNIT" between the parenthesis and the marker.
    const std::string range = explanation.substr(open + 1, marker - open - 1);
    const size_t dots = range.find("..");
    if (dots == std::string::npos) return std::nullopt;
    const size_t space = range.find(' ', dots);
    const std::string low = range.substr(0, dots);
    const std::string high = range.substr(dots + 2, space == std::string::npos ? std::string::npos : space - dots - 2);
    char* end = nullptr;
    const double minimum = std::strtod(low.c_str(), &end);
    if (low.empty() || *end) return std::nullopt;
    const double maximum = std::strtod(high.c_str(), &end);
    if (high.empty() || *end) return std::nullopt;
    const size_t before = open > 0 && explanation[open - 1] == ' ' ? open - 1 : open;
    return Range{minimum, maximum, space == std::string::npos ? "" : range.substr(space),
                 explanation.substr(0, before) + explanation.substr(close + 1)};
}

struct Names {
    std::string list;  // NAME;NAME;..., as a Kdenlive list takes them
    std::string rest;  // the explanation without the names
};

std::optional<Names> names_in(const std::string& explanation) {
    const size_t marker = explanation.find(" by name");
    if (marker == std::string::npos) return std::nullopt;
    const size_t open = explanation.rfind('(', marker);
    const size_t close = explanation.find(')', marker);
    if (open == std::string::npos || close == std::string::npos || marker == open + 1) return std::nullopt;
    std::string list = explanation.substr(open + 1, marker - open - 1);
    for (char& c : list) {
        if (c == '|') c = ';';
    }
    const size_t before = open > 0 && explanation[open - 1] == ' ' ? open - 1 : open;
    return Names{list, explanation.substr(0, before) + explanation.substr(close + 1)};
}

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

template <typename Function>
Function symbol(void* module, const char* name) {
    void* address = dlsym(module, name);
    if (!address) throw std::runtime_error(std::string("the module lacks ") + name);
    return reinterpret_cast<Function>(address);
}

std::string describe(void* module) {
    const auto init = symbol<int (*)()>(module, "f0r_init");
    const auto plugin_info = symbol<void (*)(f0r_plugin_info_t*)>(module, "f0r_get_plugin_info");
    const auto param_info = symbol<void (*)(f0r_param_info_t*, int)>(module, "f0r_get_param_info");
    const auto construct = symbol<f0r_instance_t (*)(unsigned, unsigned)>(module, "f0r_construct");
    const auto destruct = symbol<void (*)(f0r_instance_t)>(module, "f0r_destruct");
    const auto get_value = symbol<void (*)(f0r_instance_t, f0r_param_t, int)>(module, "f0r_get_param_value");

    if (!init()) throw std::runtime_error("f0r_init failed");
    f0r_plugin_info_t info{};
    plugin_info(&info);
    const f0r_instance_t instance = construct(64, 64);
    if (!instance) throw std::runtime_error("f0r_construct failed");

    const std::string tag = std::string("frei0r.") + info.name;
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\"?>\n<!DOCTYPE kpartgui>\n"
        << "<effect LC_NUMERIC=\"C\" tag=\"" << escaped(tag) << "\" id=\"" << escaped(tag) << "\">\n"
        << "    <name>" << escaped(info.name) << "</name>\n"
        << "    <description>" << escaped(info.explanation) << "</description>\n"
        << "    <author>" << escaped(info.author) << "</author>\n";
    for (int index = 0; index < info.num_params; ++index) {
        f0r_param_info_t param{};
        param_info(&param, index);
        const std::string name = escaped(param.name);
        double value = 0.0;
        std::string comment = param.explanation;
        xml << "    <parameter ";
        if (param.type == F0R_PARAM_BOOL) {
            get_value(instance, &value, index);
            xml << "type=\"bool\" name=\"" << name << "\" default=\"" << (value >= 0.5 ? 1 : 0) << "\">\n";
        } else if (param.type == F0R_PARAM_DOUBLE) {
            get_value(instance, &value, index);
            const std::optional<Range> range = range_in(param.explanation);
            if (range && range->minimum == 0.0 && range->maximum > 0.0) {
                const bool whole = std::floor(range->maximum) == range->maximum;
                xml << "type=\"constant\" name=\"" << name << "\" default=\"" << number(value * range->maximum)
                    << "\" min=\"0\" max=\"" << number(range->maximum) << "\" factor=\""
                    << number(range->maximum) << "\" decimals=\"" << (whole ? 0 : 2) << "\"";
                if (!range->unit.empty()) xml << " suffix=\"" << escaped(range->unit) << "\"";
                xml << ">\n";
                comment = range->rest;
            } else {
                xml << "type=\"constant\" name=\"" << name << "\" default=\"" << number(value)
                    << "\" min=\"0\" max=\"1\" factor=\"1\" decimals=\"3\">\n";
            }
        } else if (param.type == F0R_PARAM_STRING && names_in(param.explanation)) {
            const Names names = *names_in(param.explanation);
            f0r_param_string chosen = nullptr;
            get_value(instance, &chosen, index);
            xml << "type=\"list\" name=\"" << name << "\" default=\"" << escaped(chosen ? chosen : "")
                << "\" paramlist=\"" << escaped(names.list) << "\">\n";
            comment = names.rest;
        } else {
            throw std::runtime_error(std::string("parameter ") + param.name + " has a type this tool does not describe");
        }
        xml << "        <name>" << name << "</name>\n"
            << "        <comment>" << escaped(comment) << "</comment>\n"
            << "    </parameter>\n";
    }
    xml << "</effect>\n";
    destruct(instance);
    return xml.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: zeverive_kdenlive_effect FREI0R_MODULE OUTPUT.xml\n";
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        std::cerr << "zeverive_kdenlive_effect: " << dlerror() << "\n";
        return 1;
    }
    try {
        const std::string xml = describe(module);
        std::ofstream out(argv[2], std::ios::binary);
        out << xml;
        out.close();
        if (!out) throw std::runtime_error(std::string("cannot write ") + argv[2]);
    } catch (const std::exception& error) {
        std::cerr << "zeverive_kdenlive_effect: " << argv[1] << ": " << error.what() << "\n";
        std::remove(argv[2]);
        return 1;
    }
    return 0;
}
