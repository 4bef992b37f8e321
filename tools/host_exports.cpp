#include "host_exports.h"

#include <dlfcn.h>

#include <map>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <type_traits>
#include <utility>

namespace {

// Argument names the host derives from the recording, with their types.
const std::map<std::string, char>& HostArguments() {
    static const std::map<std::string, char> names = {
        {"start", 'i'},        {"count", 'i'},         {"length", 'i'},       {"buf", 'b'},
        {"recordEnd", 'i'},    {"resultLength", 'i'},  {"lastPosition", 'i'}, {"samplesPer20ms", 'i'},
        {"samplesPerMs", 'd'}, {"totalSamples", 'i'},  {"reserved", 'i'},     {"ignored", 'i'},
        {"puParams", 'p'},
    };
    return names;
}

// Argument names the plan gives, with their types.
const std::map<std::string, char>& PlanArguments() {
    static const std::map<std::string, char> names = {
        {"fftSize", 'i'},     {"windowSize", 'i'}, {"pair", 'i'},        {"refreshExtremes", 'i'},
        {"singleShot", 'i'},  {"tailMargin", 'i'}, {"margin", 'i'},      {"resetAtEnd", 'i'},
        {"fillEnd", 'i'},     {"holdMode", 'i'},   {"step", 'i'},        {"levelSamples", 'i'},
        {"uBase", 'd'},       {"iBase", 'd'},      {"r", 'd'},           {"x", 'd'},
        {"phi", 'f'},         {"eq", 'f'},
    };
    return names;
}

std::vector<ExportArgument> Arguments(const std::string& list) {
    std::vector<ExportArgument> arguments;
    std::istringstream words(list);
    for (std::string word; words >> word;) {
        if (auto host = HostArguments().find(word); host != HostArguments().end())
            arguments.push_back({word, host->second, false});
        else
            arguments.push_back({word, PlanArguments().at(word), true});
    }
    return arguments;
}

ExportShape Shape(const char* name, ExportKind kind, int sources, const char* arguments,
                bool recordArguments = false, bool anySize = false) {
    return ExportShape{name, kind, sources, recordArguments, anySize, Arguments(arguments)};
}

constexpr auto B = ExportKind::Block;
constexpr auto W = ExportKind::WholeRecord;

// Argument lists shared by several exports.
const char* const kHarmonicBlock = "start count fftSize buf buf buf buf";
const char* const kHarmonicWhole = "start length fftSize buf buf buf buf";
const char* const kWindowed = "start count fftSize";
const char* const kPerSample = "start count windowSize";
const char* const kPositions = "start count";
const char* const kCrossingTracker = "start count samplesPer20ms samplesPerMs totalSamples refreshExtremes";
const char* const kSummaryOnly = "";

std::vector<ExportShape> BuildTable() {
    std::vector<ExportShape> table = {
        Shape("Get3PBy1", B, 2, kHarmonicBlock),
        Shape("Get3PBy1All", B, 2, kHarmonicBlock),
        Shape("Get3PBy1AllSum", W, 2, kHarmonicWhole),
        Shape("Get3PBy1Line", B, 2, kHarmonicBlock),
        Shape("Get3PBy1LineAll", B, 2, kHarmonicBlock),
        Shape("Get3PBy1LineAllSum", W, 2, kHarmonicWhole),
        Shape("Get3PBy1LineSum", W, 2, kHarmonicWhole),
        Shape("Get3PBy1Sum", W, 2, kHarmonicWhole),
        Shape("GetAngleSum", W, 2, "ignored length fftSize"),
        Shape("GetAngleTSum", W, -1, kSummaryOnly),
        Shape("GetAngleToLine", B, 3, "start count pair fftSize buf buf"),
        Shape("GetAngleToLineSum", W, 3, "start length pair fftSize buf buf"),
        Shape("GetAngleX2Sum", W, -1, kSummaryOnly),
        Shape("GetAngleXSum", W, -1, kSummaryOnly),
        Shape("GetAvgValue", B, 3, kPositions),
        Shape("GetAvgValueExt", B, 3, kPositions),
        Shape("GetAvgValueExtSum", W, 3, kSummaryOnly),
        Shape("GetAvgValueSum", W, 3, kSummaryOnly),
        Shape("GetBSCLRPM", B, 1, kCrossingTracker),
        Shape("GetCalculatMethod1", B, 1, kPositions),
        Shape("GetCalculatMethod1Sum", W, 1, kPositions),
        Shape("GetCalculatMethod2", B, 2, kPositions),
        Shape("GetCalculatMethod2Sum", W, 2, kPositions),
        Shape("GetCalculatMethod3", B, 1, kPositions),
        Shape("GetCalculatMethod3Sum", W, 1, kPositions),
        Shape("GetCosStatus", B, 0, "start count lastPosition"),
        Shape("GetCosStatusSum", W, 0, kSummaryOnly),
        Shape("GetEqTJJ", W, 2, "uBase iBase r x phi", true),
        Shape("GetEqYJJ", W, 2, "uBase iBase r x phi", true),
        Shape("GetFXPart", B, 3, kWindowed),
        Shape("GetFXPartSum", W, 3, kWindowed),
        Shape("GetFrequenceStatus", B, 1, kCrossingTracker),
        Shape("GetFrequenceStatus2", B, 1, "start count samplesPerMs totalSamples singleShot"),
        Shape("GetFrequenceStatusSum", W, 1, "start count samplesPerMs tailMargin totalSamples"),
        Shape("GetGJ3Sum", W, -1, "ignored count step"),
        Shape("GetGJ4Sum", W, -1, "ignored count step"),
        Shape("GetGJ5Sum", W, -1, "ignored count samplesPerMs levelSamples"),
        Shape("GetGJ6Sum", W, -1, "ignored count step"),
        Shape("GetGJSum", W, -1, "ignored count samplesPerMs totalSamples"),
        Shape("GetHarmonicValue", B, 1, "start count fftSize buf buf recordEnd resultLength", false, true),
        Shape("GetHarmonicValueSum", W, 1, "start length fftSize buf buf", false, true),
        Shape("GetJXtmp", W, -1, kSummaryOnly),
        Shape("GetKmByEq", W, 1, "eq", true),
        Shape("GetLXPart", B, 3, kWindowed),
        Shape("GetLXPartSum", W, 3, kWindowed),
        Shape("GetP", B, 2, kHarmonicBlock),
        Shape("GetPAll", B, 2, kHarmonicBlock),
        Shape("GetPAllSum", W, 2, kHarmonicWhole),
        Shape("GetPSum", W, 2, kHarmonicBlock),
        Shape("GetPSumStatus", B, 0, "start count lastPosition"),
        Shape("GetPSumStatusSum", W, 0, kSummaryOnly),
        Shape("GetPWMAngle", B, 2, kPositions),
        Shape("GetPowerAvg", B, 1, "start count fftSize buf buf recordEnd resultLength"),
        Shape("GetPowerAvgExtra", B, 1, "start count reserved samplesPerMs resetAtEnd"),
        Shape("GetPowerAvgSelf", B, 0, "start count reserved samplesPerMs totalSamples fillEnd holdMode"),
        Shape("GetPowerAvgSum", W, 1, "start count fftSize buf buf"),
        Shape("GetPowerAvgSumExtra", W, 1, "start count margin samplesPerMs totalSamples"),
        Shape("GetRPM", B, 1, kCrossingTracker),
        Shape("GetRPMSum", W, 1, "start count samplesPer20ms"),
        Shape("GetReduce", B, 2, kPositions),
        Shape("GetSubtraction", B, 2, kPositions),
        Shape("GetThreeAngleP", B, 6, kWindowed),
        Shape("GetThreeAnglePAll", B, 6, kWindowed),
        Shape("GetThreeAnglePAllSum", W, 6, kWindowed),
        Shape("GetThreeAnglePEx", B, 6, kPerSample),
        Shape("GetThreeAnglePExSum", W, 6, kPositions),
        Shape("GetThreeAnglePSum", W, 6, kWindowed),
        Shape("GetThreeAngleQIEx", B, 6, kPerSample),
        Shape("GetThreeAngleZX", B, 6, kWindowed),
        Shape("GetThreeLineP", B, 6, kWindowed),
        Shape("GetThreeLinePAll", B, 6, kWindowed),
        Shape("GetThreeLinePAllSum", W, 6, kWindowed),
        Shape("GetThreeLinePEx", B, 6, kPerSample),
        Shape("GetThreeLinePExSum", W, 6, kPositions),
        Shape("GetThreeLinePSum", W, 6, kWindowed),
        Shape("GetThreeLineQIEx", B, 6, kPerSample),
        Shape("GetThreeLineZX", B, 6, kWindowed),
        Shape("GetTwoAngleP", B, 4, kWindowed),
        Shape("GetTwoAnglePAll", B, 4, kWindowed),
        Shape("GetTwoAnglePAllSum", W, 4, kWindowed),
        Shape("GetTwoAnglePEx", B, 4, kPerSample),
        Shape("GetTwoAnglePExSum", W, 4, kPositions),
        Shape("GetTwoAnglePSum", W, 4, kWindowed),
        Shape("GetTwoLineQIEx", B, 4, kPerSample),
        Shape("GetUTSum", W, -1, "start count fftSize puParams"),
        Shape("GetUX2Sum", W, -1, "start ignored fftSize puParams"),
        Shape("GetUXSum", W, -1, "ignored ignored ignored puParams"),
        Shape("GetZHPart", B, 3, kWindowed),
        Shape("GetZXPartSum", W, 3, kWindowed),
    };
    for (ExportShape& shape : table) {
        if (shape.name == "GetZHPart" || shape.name == "GetFXPart" || shape.name == "GetLXPart")
            shape.stretch = BlockStretch::QuarterWindows;
        if (shape.name == "GetCosStatus" || shape.name == "GetPSumStatus") shape.stretch = BlockStretch::FromPreviousBlock;
        if (shape.name == "GetThreeLinePEx") shape.averageDivisor = 6;
        if (shape.name == "GetThreeAnglePEx" || shape.name == "GetTwoAnglePEx") shape.averageDivisor = 3;
        if (shape.name.size() > 4 && shape.name.compare(shape.name.size() - 4, 4, "QIEx") == 0) shape.averageDivisor = 2;
    }
    return table;
}

// ---- Calling an export with its own C signature ----

template <class T>
T As(const ArgumentValue& v) {
    if constexpr (std::is_same_v<T, int32_t>) return v.i;
    else if constexpr (std::is_same_v<T, double>) return v.d;
    else if constexpr (std::is_same_v<T, float>) return v.f;
    else return static_cast<T>(v.p);
}

template <class R, class... A, std::size_t... K>
double Invoke(void* address, const std::vector<ArgumentValue>& v, std::index_sequence<K...>) {
    auto* function = reinterpret_cast<R (*)(A...)>(address);
    if constexpr (std::is_void_v<R>) {
        function(As<A>(v[K])...);
        return 0.0;
    } else {
        return function(As<A>(v[K])...);
    }
}

template <class R, class... A>
double Call(void* address, const std::vector<ArgumentValue>& v) {
    return Invoke<R, A...>(address, v, std::index_sequence_for<A...>{});
}

using L = CPtrList*;
using T = ChannelInfo*;
using I = int32_t;
using F = float*;

using Caller = double (*)(void*, const std::vector<ArgumentValue>&);

// Every signature the export table uses: return ('v' or 'd') then the types of
// all arguments, channels and target included ('L', 'T'; 'C' a source record).
const std::map<std::string, Caller>& Callers() {
    static const std::map<std::string, Caller> callers = {
        {"vLTii", Call<void, L, T, I, I>},
        {"dLTii", Call<double, L, T, I, I>},
        {"dLT", Call<double, L, T>},
        {"vLTiii", Call<void, L, T, I, I, I>},
        {"dLTiii", Call<double, L, T, I, I, I>},
        {"vLTiiibbbb", Call<void, L, T, I, I, I, F, F, F, F>},
        {"dLTiiibbbb", Call<double, L, T, I, I, I, F, F, F, F>},
        {"vLTiiibbii", Call<void, L, T, I, I, I, F, F, I, I>},
        {"dLTiiibb", Call<double, L, T, I, I, I, F, F>},
        {"vLTiiiibb", Call<void, L, T, I, I, I, I, F, F>},
        {"dLTiiiibb", Call<double, L, T, I, I, I, I, F, F>},
        {"vLTiiidii", Call<void, L, T, I, I, I, double, I, I>},
        {"vLTiidii", Call<void, L, T, I, I, double, I, I>},
        {"dLTiidii", Call<double, L, T, I, I, double, I, I>},
        {"dLTiiidi", Call<double, L, T, I, I, I, double, I>},
        {"vLTiiidi", Call<void, L, T, I, I, I, double, I>},
        {"vLTiiidiii", Call<void, L, T, I, I, I, double, I, I, I>},
        {"dLTiidi", Call<double, L, T, I, I, double, I>},
        {"dLTiiip", Call<double, L, T, I, I, I, F>},
        {"dCCddddf", Call<double, T, T, double, double, double, double, float>},
        {"dCf", Call<double, T, float>},
    };
    return callers;
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
    std::string signature(1, shape.kind == ExportKind::Block ? 'v' : 'd');
    std::vector<ArgumentValue> all;
    ArgumentValue a;
    a.type = 'p';
    a.p = first;
    all.push_back(a);
    signature += shape.recordArguments ? 'C' : 'L';
    // GetKmByEq takes one record; the EMF exports two.
    if (!shape.recordArguments || shape.sources == 2) {
        a.p = second;
        all.push_back(a);
        signature += shape.recordArguments ? 'C' : 'T';
    }
    for (const ArgumentValue& v : arguments) {
        all.push_back(v);
        signature += v.type == 'p' ? 'p' : v.type;
    }
    const auto caller = Callers().find(signature);
    if (caller == Callers().end()) throw std::logic_error("no caller for the signature " + signature);
    return caller->second(address, all);
}
