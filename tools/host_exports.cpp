#include "host_exports.h"

#include <dlfcn.h>

#include <set>
#include <sstream>
#include <stdexcept>

namespace {

// Argument names the host derives from the recording; the plan gives the others.
bool HostArgument(const std::string& name) {
    static const std::set<std::string> names = {"start",        "count",         "length",       "buf",
                                                 "recordEnd",    "resultLength",  "lastPosition", "samplesPer20ms",
                                                 "samplesPerMs", "totalSamples",  "reserved",     "ignored",
                                                 "puParams"};
    return names.count(name) != 0;
}

// An export's shape: the registry's entry, its argument names typed by its C signature.
ExportShape Shape(const ExportEntry& e) {
    const ExportCalling& calling = CallingOf(e);
    const std::size_t leading = LeadingParameters(calling.types);
    const std::string types = std::string(calling.types).substr(leading);
    std::vector<ExportArgument> arguments;
    std::istringstream words{std::string(e.arguments)};
    std::size_t k = 0;
    for (std::string word; words >> word; ++k) {
        // A float array is a work buffer, or the per-unit parameters of the voltage summaries.
        const char type = types.at(k) == 'b' && word == "puParams" ? 'p' : types.at(k);
        if ((type == 'b') != (word == "buf")) throw std::logic_error(std::string(e.name) + ": argument " + word);
        arguments.push_back({word, type, !HostArgument(word)});
    }
    const int records = calling.types[0] == 'C' ? static_cast<int>(leading) : 0;
    return {std::string(e.name), e.curve != BlockCurve::None ? ExportKind::Block : ExportKind::WholeRecord,
            e.sources, e.lookup, records, std::move(arguments), e.window, e.curve, e.setting, calling.call};
}

std::vector<ExportShape> BuildTable() {
    std::vector<ExportShape> table;
    for (const ExportEntry& e : kExports) table.push_back(Shape(e));
    return table;
}

}  // namespace

const std::vector<ExportShape>& ExportTable() {
    static const std::vector<ExportShape> table = BuildTable();
    return table;
}

const ExportShape* FindExport(const std::string& name) {
    for (const ExportShape& shape : ExportTable())
        if (shape.name == name) return &shape;
    return nullptr;
}

LoadedLibrary::~LoadedLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

bool LoadedLibrary::Open(const std::string& path, std::string& error) {
    // A bare file name would be searched on the loader's path; the host names a file.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = dlerror();
        error = std::string("cannot load the library") + (reason != nullptr ? std::string(" (") + reason + ")" : "");
        return false;
    }
    path_ = path;
    return true;
}

void* LoadedLibrary::Resolve(const std::string& name) const {
    return handle_ == nullptr ? nullptr : dlsym(handle_, name.c_str());
}

double CallExport(void* address, const ExportShape& shape, void* first, void* second,
                  const std::vector<ArgumentValue>& arguments) {
    std::vector<ArgumentValue> all(1);
    all[0].p = first;
    if (shape.records != 1) all.push_back(all[0]), all[1].p = second;
    all.insert(all.end(), arguments.begin(), arguments.end());
    if (all.size() != shape.arguments.size() + (shape.records == 1 ? 1 : 2))
        throw std::logic_error(shape.name + " is called with " + std::to_string(all.size()) + " arguments");
    return shape.caller(address, all);
}
