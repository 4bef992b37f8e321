#include "host_exports.h"

#include <dlfcn.h>

#include <set>
#include <sstream>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "ampora.h"

namespace {

// Argument names the host derives from the recording; the plan gives the others.
bool HostArgument(const std::string& name) {
    static const std::set<std::string> names = {"start",        "count",         "length",       "buf",
                                                 "recordEnd",    "resultLength",  "lastPosition", "samplesPer20ms",
                                                 "samplesPerMs", "totalSamples",  "reserved",     "ignored",
                                                 "puParams"};
    return names.count(name) != 0;
}

// ---- Calling an export with its own C signature ----

template <class T>
T As(const ArgumentValue& v) {
    if constexpr (std::is_same_v<T, int32_t>) return v.i;
    else if constexpr (std::is_same_v<T, double>) return v.d;
    else if constexpr (std::is_same_v<T, float>) return v.f;
    else return static_cast<T>(v.p);
}

// The argument type codes of ExportArgument, pointers to the list and records included.
template <class T>
constexpr char TypeCode() {
    if constexpr (std::is_same_v<T, int32_t>) return 'i';
    else if constexpr (std::is_same_v<T, double>) return 'd';
    else if constexpr (std::is_same_v<T, float>) return 'f';
    else if constexpr (std::is_same_v<T, float*>) return 'b';
    else return 'r';   // the list or a record
}

template <class Function>
struct TypedCall;
template <class R, class... A>
struct TypedCall<R (*)(A...)> {
    static double Call(void* address, const std::vector<ArgumentValue>& v) {
        return Invoke(address, v, std::index_sequence_for<A...>{});
    }
    template <std::size_t... K>
    static double Invoke(void* address, const std::vector<ArgumentValue>& v, std::index_sequence<K...>) {
        auto* function = reinterpret_cast<R (*)(A...)>(address);
        if constexpr (std::is_void_v<R>) {
            function(As<A>(v[K])...);
            return 0.0;
        } else {
            return function(As<A>(v[K])...);
        }
    }
    static std::string Types() { return {TypeCode<A>()...}; }
};

// An export's shape: the registry's entry, its argument names typed by its C signature.
template <class Function>
ExportShape Shape(const ExportEntry& e) {
    using Signature = ExportSignature<Function>;
    const std::string types = TypedCall<Function>::Types().substr(Signature::kLeading);
    std::vector<ExportArgument> arguments;
    std::istringstream words{std::string(e.arguments)};
    std::size_t k = 0;
    for (std::string word; words >> word; ++k) {
        // A float array is a work buffer, or the per-unit parameters of the voltage summaries.
        const char type = types.at(k) == 'b' && word == "puParams" ? 'p' : types.at(k);
        if ((type == 'b') != (word == "buf")) throw std::logic_error(std::string(e.name) + ": argument " + word);
        arguments.push_back({word, type, !HostArgument(word)});
    }
    return {std::string(e.name), Signature::kBlock ? ExportKind::Block : ExportKind::WholeRecord, e.sources,
            e.lookup, Signature::kRecords, std::move(arguments), e.window, e.curve, e.setting,
            TypedCall<Function>::Call};
}

std::vector<ExportShape> BuildTable() {
    return {
#define AMPORA_HOST_SHAPE(Name, Ordinal, ...) Shape<decltype(&::Name)>(kExports[Ordinal - 1]),
        AMPORA_EXPORTS(AMPORA_HOST_SHAPE)
#undef AMPORA_HOST_SHAPE
    };
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
