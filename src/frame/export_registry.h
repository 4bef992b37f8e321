// The export registry: every name the library exports, once, with what a host
// and the library need to know of it. The library takes each export's lookup
// rule from here; the host program builds its table of argument lists and
// typed callers from it (the C signature is the one include/ampora.h declares);
// the tests check the header, Ampora.def, the shared library's and the DLL's
// export tables against it, and run every export from it.
//
// AMPORA_EXPORTS(X) calls X(Name, Ordinal, Lookup, Sources, Arguments, Window, Curve, Setting)
// once per export name, in ordinal order (the byte-wise order of the names):
//   Lookup     how its sources are found (SourceLookup below):
//              ByRecordSetting, ById, SummaryById, BeforeTarget, None
//   Sources    the channels a host names for it: SourceIds entries, the two
//              records listed before the target (BeforeTarget), the channel whose
//              samples it averages (None with a list), the records it takes in
//              place of list and target; -1 where it forms its own references
//   Arguments  its arguments after (channels, target) or the records, by name
//   Window     what its fftSize or windowSize argument spans (Window below)
//   Curve      how a block export's curve follows the host's blocks (BlockCurve below);
//              None for the whole-record exports
//   Setting    a target field its results depend on that a host must set (Setting below)
#pragma once

#include <cstddef>
#include <iterator>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "ampora.h"

// What the fftSize or windowSize argument of an export spans.
enum class Window {
    None,           // no window argument
    Transform,      // fftSize: a power of two of at least 4; above 64 also any length (reduced to 64 points)
    HarmonicSum,    // as Transform, at least 32: harmonics 1 to 21 are summed
    FullTransform,  // fftSize: a power of two of at least 4, transformed at full length
    Step,           // fftSize is a step between whole-record values, not a window
    Average2,       // windowSize: the moving average spans windowSize / 2 samples
    Average3,       // windowSize / 3
    Average6,       // windowSize / 6
};

// How a block export's curve follows the host's blocks: the positions a call
// writes, and where the crossing trackers' curves hold their final values.
enum class BlockCurve {
    None,               // a whole-record export: no curve
    Block,              // the block's positions (windowed ones up to their last window)
    // Whole quarter windows from the start: each call ramps from the entry
    // before it and leaves what is past its last whole quarter window.
    QuarterWindows,
    // Reads its sources' results position by position: windowed sources complete
    // a block's last positions only with the next block, so the host calls it
    // over the previous block again.
    FromPreviousBlock,
    // Crossing trackers: positions after the last crossing hold a value until a
    // later crossing gives the period, and hold 0 until the first.
    ThreeSlots,      // each value about two periods late: final up to TrackState[2]
    PeriodByPeriod,  // final up to its last crossing, TrackState[0]
    PulseQueue,      // final up to the crossing one revolution after its oldest queued one
    Cycles,          // the cycle averages: final as written
};

// A target field the results depend on that a host must set (zero computes
// something else or nothing).
enum class Setting { None, CalcKind, UseSource, HarmonicOrder };

// clang-format off
#define AMPORA_EXPORTS(X)                                                                                                          \
    X(Get3PBy1,               1, ByRecordSetting, 2, "start count fftSize buf buf buf buf",       Transform,     Block,             CalcKind)      \
    X(Get3PBy1All,            2, ByRecordSetting, 2, "start count fftSize buf buf buf buf",       HarmonicSum,   Block,             CalcKind)      \
    X(Get3PBy1AllSum,         3, ByRecordSetting, 2, "start length fftSize buf buf buf buf",      HarmonicSum,   None,              CalcKind)      \
    X(Get3PBy1Line,           4, ByRecordSetting, 2, "start count fftSize buf buf buf buf",       Transform,     Block,             CalcKind)      \
    X(Get3PBy1LineAll,        5, ByRecordSetting, 2, "start count fftSize buf buf buf buf",       HarmonicSum,   Block,             CalcKind)      \
    X(Get3PBy1LineAllSum,     6, ByRecordSetting, 2, "start length fftSize buf buf buf buf",      HarmonicSum,   None,              CalcKind)      \
    X(Get3PBy1LineSum,        7, ByRecordSetting, 2, "start length fftSize buf buf buf buf",      Transform,     None,              CalcKind)      \
    X(Get3PBy1Sum,            8, ByRecordSetting, 2, "start length fftSize buf buf buf buf",      Transform,     None,              CalcKind)      \
    X(GetAngleSum,            9, SummaryById,     2, "ignored length fftSize",                    Step,          None,              None)          \
    X(GetAngleTSum,          10, ById,           -1, "",                                          None,          None,              None)          \
    X(GetAngleToLine,        11, ByRecordSetting, 3, "start count pair fftSize buf buf",          Transform,     Block,             None)          \
    X(GetAngleToLineSum,     12, ByRecordSetting, 3, "start length pair fftSize buf buf",         Transform,     None,              None)          \
    X(GetAngleX2Sum,         13, ById,           -1, "",                                          None,          None,              None)          \
    X(GetAngleXSum,          14, ById,           -1, "",                                          None,          None,              None)          \
    X(GetAvgValue,           15, ByRecordSetting, 3, "start count",                               None,          Block,             None)          \
    X(GetAvgValueExt,        16, ByRecordSetting, 3, "start count",                               None,          Block,             None)          \
    X(GetAvgValueExtSum,     17, ByRecordSetting, 3, "",                                          None,          None,              None)          \
    X(GetAvgValueSum,        18, ByRecordSetting, 3, "",                                          None,          None,              None)          \
    X(GetBSCLRPM,            19, ById,            1, "start count samplesPer20ms samplesPerMs totalSamples refreshExtremes", None, PulseQueue, None)  \
    X(GetCalculatMethod1,    20, ByRecordSetting, 1, "start count",                               None,          Block,             None)          \
    X(GetCalculatMethod1Sum, 21, ByRecordSetting, 1, "start count",                               None,          None,              None)          \
    X(GetCalculatMethod2,    22, ByRecordSetting, 2, "start count",                               None,          Block,             None)          \
    X(GetCalculatMethod2Sum, 23, ByRecordSetting, 2, "start count",                               None,          None,              None)          \
    X(GetCalculatMethod3,    24, ByRecordSetting, 1, "start count",                               None,          Block,             None)          \
    X(GetCalculatMethod3Sum, 25, ByRecordSetting, 1, "start count",                               None,          None,              None)          \
    X(GetCosStatus,          26, BeforeTarget,    2, "start count lastPosition",                  None,          FromPreviousBlock, None)          \
    X(GetCosStatusSum,       27, BeforeTarget,    2, "",                                          None,          None,              None)          \
    X(GetEqTJJ,              28, None,            2, "uBase iBase r x phi",                       None,          None,              None)          \
    X(GetEqYJJ,              29, None,            2, "uBase iBase r x phi",                       None,          None,              None)          \
    X(GetFXPart,             30, ByRecordSetting, 3, "start count fftSize",                       Transform,     QuarterWindows,    None)          \
    X(GetFXPartSum,          31, ByRecordSetting, 3, "start count fftSize",                       Transform,     None,              None)          \
    X(GetFrequenceStatus,    32, ById,            1, "start count samplesPer20ms samplesPerMs totalSamples refreshExtremes", None, ThreeSlots, None)  \
    X(GetFrequenceStatus2,   33, ByRecordSetting, 1, "start count samplesPerMs totalSamples singleShot", None,   PeriodByPeriod,    None)          \
    X(GetFrequenceStatusSum, 34, ByRecordSetting, 1, "start count samplesPerMs tailMargin totalSamples", None,   None,              UseSource)     \
    X(GetGJ3Sum,             35, ById,           -1, "ignored count step",                        None,          None,              None)          \
    X(GetGJ4Sum,             36, ById,           -1, "ignored count step",                        None,          None,              None)          \
    X(GetGJ5Sum,             37, ById,           -1, "ignored count samplesPerMs levelSamples",   None,          None,              None)          \
    X(GetGJ6Sum,             38, ById,           -1, "ignored count step",                        None,          None,              None)          \
    X(GetGJSum,              39, ById,           -1, "ignored count samplesPerMs totalSamples",   None,          None,              None)          \
    X(GetHarmonicValue,      40, ByRecordSetting, 1, "start count fftSize buf buf recordEnd resultLength", FullTransform, Block,     HarmonicOrder) \
    X(GetHarmonicValueSum,   41, ByRecordSetting, 1, "start length fftSize buf buf",              FullTransform, None,              HarmonicOrder) \
    X(GetJXtmp,              42, ById,           -1, "",                                          None,          None,              None)          \
    X(GetKmByEq,             43, None,            1, "eq",                                        None,          None,              None)          \
    X(GetLXPart,             44, ByRecordSetting, 3, "start count fftSize",                       Transform,     QuarterWindows,    None)          \
    X(GetLXPartSum,          45, ByRecordSetting, 3, "start count fftSize",                       Transform,     None,              None)          \
    X(GetP,                  46, ByRecordSetting, 2, "start count fftSize buf buf buf buf",       Transform,     Block,             CalcKind)      \
    X(GetPAll,               47, ByRecordSetting, 2, "start count fftSize buf buf buf buf",       HarmonicSum,   Block,             CalcKind)      \
    X(GetPAllSum,            48, ByRecordSetting, 2, "start length fftSize buf buf buf buf",      HarmonicSum,   None,              CalcKind)      \
    X(GetPSum,               49, ByRecordSetting, 2, "start count fftSize buf buf buf buf",       Transform,     None,              CalcKind)      \
    X(GetPSumStatus,         50, BeforeTarget,    2, "start count lastPosition",                  None,          FromPreviousBlock, None)          \
    X(GetPSumStatusSum,      51, BeforeTarget,    2, "",                                          None,          None,              None)          \
    X(GetPWMAngle,           52, ById,            2, "start count",                               None,          Block,             None)          \
    X(GetPowerAvg,           53, ByRecordSetting, 1, "start count fftSize buf buf recordEnd resultLength", Transform, Block,         None)          \
    X(GetPowerAvgExtra,      54, ByRecordSetting, 1, "start count reserved samplesPerMs resetAtEnd", None,       Cycles,            None)          \
    X(GetPowerAvgSelf,       55, None,            1, "start count reserved samplesPerMs totalSamples fillEnd holdMode", None, Cycles,  None)          \
    X(GetPowerAvgSum,        56, ByRecordSetting, 1, "start count fftSize buf buf",               Transform,     None,              None)          \
    X(GetPowerAvgSumExtra,   57, ByRecordSetting, 1, "start count margin samplesPerMs totalSamples", None,       None,              None)          \
    X(GetRPM,                58, ById,            1, "start count samplesPer20ms samplesPerMs totalSamples refreshExtremes", None, ThreeSlots, None)  \
    X(GetRPMSum,             59, ById,            1, "start count samplesPer20ms",                None,          None,              None)          \
    X(GetReduce,             60, ById,            2, "start count",                               None,          Block,             None)          \
    X(GetSubtraction,        61, ById,            2, "start count",                               None,          Block,             None)          \
    X(GetThreeAngleP,        62, ByRecordSetting, 6, "start count fftSize",                       Transform,     Block,             CalcKind)      \
    X(GetThreeAnglePAll,     63, ByRecordSetting, 6, "start count fftSize",                       HarmonicSum,   Block,             CalcKind)      \
    X(GetThreeAnglePAllSum,  64, ByRecordSetting, 6, "start count fftSize",                       HarmonicSum,   None,              CalcKind)      \
    X(GetThreeAnglePEx,      65, ByRecordSetting, 6, "start count windowSize",                    Average3,      Block,             CalcKind)      \
    X(GetThreeAnglePExSum,   66, ByRecordSetting, 6, "start count",                               None,          None,              CalcKind)      \
    X(GetThreeAnglePSum,     67, ByRecordSetting, 6, "start count fftSize",                       Transform,     None,              CalcKind)      \
    X(GetThreeAngleQIEx,     68, ByRecordSetting, 6, "start count windowSize",                    Average2,      Block,             None)          \
    X(GetThreeAngleZX,       69, ByRecordSetting, 6, "start count fftSize",                       Transform,     Block,             CalcKind)      \
    X(GetThreeLineP,         70, ByRecordSetting, 6, "start count fftSize",                       Transform,     Block,             CalcKind)      \
    X(GetThreeLinePAll,      71, ByRecordSetting, 6, "start count fftSize",                       HarmonicSum,   Block,             CalcKind)      \
    X(GetThreeLinePAllSum,   72, ByRecordSetting, 6, "start count fftSize",                       HarmonicSum,   None,              CalcKind)      \
    X(GetThreeLinePEx,       73, ByRecordSetting, 6, "start count windowSize",                    Average6,      Block,             CalcKind)      \
    X(GetThreeLinePExSum,    74, ByRecordSetting, 6, "start count",                               None,          None,              CalcKind)      \
    X(GetThreeLinePSum,      75, ByRecordSetting, 6, "start count fftSize",                       Transform,     None,              CalcKind)      \
    X(GetThreeLineQIEx,      76, ByRecordSetting, 6, "start count windowSize",                    Average2,      Block,             None)          \
    X(GetThreeLineZX,        77, ByRecordSetting, 6, "start count fftSize",                       Transform,     Block,             CalcKind)      \
    X(GetTwoAngleP,          78, ByRecordSetting, 4, "start count fftSize",                       Transform,     Block,             CalcKind)      \
    X(GetTwoAnglePAll,       79, ByRecordSetting, 4, "start count fftSize",                       HarmonicSum,   Block,             CalcKind)      \
    X(GetTwoAnglePAllSum,    80, ByRecordSetting, 4, "start count fftSize",                       HarmonicSum,   None,              CalcKind)      \
    X(GetTwoAnglePEx,        81, ByRecordSetting, 4, "start count windowSize",                    Average3,      Block,             CalcKind)      \
    X(GetTwoAnglePExSum,     82, ByRecordSetting, 4, "start count",                               None,          None,              CalcKind)      \
    X(GetTwoAnglePSum,       83, ByRecordSetting, 4, "start count fftSize",                       Transform,     None,              CalcKind)      \
    X(GetTwoLineQIEx,        84, ByRecordSetting, 4, "start count windowSize",                    Average2,      Block,             None)          \
    X(GetUTSum,              85, ById,           -1, "start count fftSize puParams",              Transform,     None,              None)          \
    X(GetUX2Sum,             86, ById,           -1, "start ignored fftSize puParams",            Transform,     None,              None)          \
    X(GetUXSum,              87, ById,           -1, "ignored ignored ignored puParams",          None,          None,              None)          \
    X(GetZHPart,             88, ByRecordSetting, 3, "start count fftSize",                       Transform,     QuarterWindows,    None)          \
    X(GetZXPartSum,          89, ByRecordSetting, 3, "start count fftSize",                       Transform,     None,              None)

// Names bound to the routine of another: X(Alias, Routine).
#define AMPORA_EXPORT_ALIASES(X) \
    X(GetAvgValueExtSum, GetAvgValueSum) \
    X(GetGJ6Sum, GetGJ4Sum)
// clang-format on

// How an export turns its target's SourceIds into records.
enum class SourceLookup {
    ByRecordSetting,  // by list position when SourceByIndex is nonzero, else by ChannelId
    ById,             // always by ChannelId, SourceByIndex not read
    SummaryById,      // always by ChannelId, with reference SourceIds[k] + 36
    BeforeTarget,     // positions ListIndex - 2, ListIndex - 1; no SourceIds
    None,             // the export takes records, or reads its target's own samples
};

struct ExportEntry {
    std::string_view name;
    int ordinal;
    SourceLookup lookup;
    int sources;
    std::string_view arguments;
    Window window;
    BlockCurve curve;
    Setting setting;
};

inline constexpr ExportEntry kExports[] = {
#define AMPORA_EXPORT_ENTRY(Name, Ordinal, Lookup, Sources, Arguments, Window_, Curve_, Setting_) \
    {#Name, Ordinal, SourceLookup::Lookup, Sources, Arguments, Window::Window_, BlockCurve::Curve_, Setting::Setting_},
    AMPORA_EXPORTS(AMPORA_EXPORT_ENTRY)
#undef AMPORA_EXPORT_ENTRY
};
inline constexpr std::size_t kExportCount = std::size(kExports);

struct ExportAlias {
    std::string_view alias, routine;
};
inline constexpr ExportAlias kExportAliases[] = {
#define AMPORA_EXPORT_ALIAS(Alias, Routine) {#Alias, #Routine},
    AMPORA_EXPORT_ALIASES(AMPORA_EXPORT_ALIAS)
#undef AMPORA_EXPORT_ALIAS
};

// The position of an export name in kExports (its ordinal - 1), or -1.
constexpr int ExportIndex(std::string_view name) {
    for (std::size_t k = 0; k < kExportCount; ++k)
        if (kExports[k].name == name) return static_cast<int>(k);
    return -1;
}

// The entry of an export name, or null.
constexpr const ExportEntry* FindExportEntry(std::string_view name) {
    const int k = ExportIndex(name);
    return k >= 0 ? &kExports[k] : nullptr;
}

// The rule an export resolves its sources by. A name the registry lacks finds
// no source, so a misspelt name shows as an export that never writes.
constexpr SourceLookup LookupFor(std::string_view exportName) {
    const ExportEntry* entry = FindExportEntry(exportName);
    return entry != nullptr ? entry->lookup : SourceLookup::None;
}

// The registry keeps itself in order: ordinals 1, 2, ... in the byte-wise order
// of the names (the order the DLL's name table and its ordinals follow), and an
// alias has its routine's entry but for the name.
constexpr bool OrdinalsFollowTheNames() {
    for (std::size_t k = 0; k < kExportCount; ++k) {
        if (kExports[k].ordinal != static_cast<int>(k) + 1) return false;
        if (k > 0 && !(kExports[k - 1].name < kExports[k].name)) return false;
    }
    return true;
}
constexpr bool AliasesShareTheirRoutine() {
    for (const ExportAlias& a : kExportAliases) {
        const int k = ExportIndex(a.alias), m = ExportIndex(a.routine);
        if (k < 0 || m < 0) return false;
        const ExportEntry &x = kExports[k], &y = kExports[m];
        if (x.lookup != y.lookup || x.sources != y.sources || x.arguments != y.arguments || x.window != y.window ||
            x.curve != y.curve || x.setting != y.setting)
            return false;
    }
    return true;
}
static_assert(OrdinalsFollowTheNames(), "ordinals run from 1 in the byte-wise order of the names");
static_assert(AliasesShareTheirRoutine(), "an alias is its routine under another name");

// What the C signature of an export (decltype(&::Name), as ampora.h declares
// it) says: block or whole-record, and the arguments before its own ones —
// (channels, target), or the one or two records the machine exports take.
template <class Function>
struct ExportSignature;
template <class R, class... A>
struct ExportSignature<R (*)(A...)> {
    using Parameters = std::tuple<A...>;
    static constexpr bool kBlock = std::is_void_v<R>;
    static constexpr bool kTakesList = std::is_same_v<std::tuple_element_t<0, Parameters>, CPtrList*>;
    static constexpr int kRecords =
        kTakesList ? 0 : static_cast<int>((std::is_same_v<A, ChannelInfo*> + ...));
    static constexpr int kLeading = kTakesList ? 2 : kRecords;
    static constexpr int kArguments = static_cast<int>(sizeof...(A)) - kLeading;
};

// The number of names in an argument list.
constexpr int WordCount(std::string_view list) {
    int words = 0;
    for (std::size_t k = 0; k < list.size(); ++k)
        if (list[k] != ' ' && (k == 0 || list[k - 1] == ' ')) ++words;
    return words;
}
