// The host's view of the library's export table: every export name with the
// argument list it is called with, looked up by name in a library loaded at
// run time, so what the host exercises is the shipped export table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame/export_registry.h"
#include "hostkit/export_caller.h"

// How an export is called and what it gives back.
enum class ExportKind {
    Block,        // writes the target's ResultData block by block
    WholeRecord,  // returns one f64 after the recording
};

// One argument after channels and target. The host fills every argument it
// can derive from the recording (positions, lengths, rates, work buffers);
// the plan gives the others, in the order listed.
struct ExportArgument {
    std::string name;
    char type;   // 'i' i32, 'd' f64, 'f' f32, 'b' float work buffer, 'p' float parameter array
    bool fromPlan;
};

// An export as the host calls it, made from its entry in the export registry
// (frame/export_registry.h) and its declaration in ampora.h.
struct ExportShape {
    std::string name;
    ExportKind kind;
    int sources;                 // channels a plan line names after `from`; -1 where the export forms its own references
    SourceLookup lookup;
    int records;                 // records the export takes in place of (channels, target): 0, 1 or 2
    std::vector<ExportArgument> arguments;
    Window window;
    BlockCurve curve;
    Setting setting;
    ExportCaller caller;

    // Reads its target's own samples: the plan's one source names the channel they are copied from.
    bool ReadsOwnSamples() const { return lookup == SourceLookup::None && records == 0; }
    // A crossing tracker: its curve holds 0 until its first period, and its last value until the next crossing.
    bool Tracker() const {
        return curve == BlockCurve::ThreeSlots || curve == BlockCurve::PeriodByPeriod || curve == BlockCurve::PulseQueue ||
               curve == BlockCurve::Cycles;
    }
    // The moving average of the per-sample exports spans windowSize / AverageDivisor() samples (0: none).
    int AverageDivisor() const {
        return window == Window::Average2 ? 2 : window == Window::Average3 ? 3 : window == Window::Average6 ? 6 : 0;
    }
};

// All 89 exports, in ordinal order.
const std::vector<ExportShape>& ExportTable();
const ExportShape* FindExport(const std::string& name);

// A library loaded by file name; exports resolved by name.
class LoadedLibrary {
public:
    LoadedLibrary() = default;
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    // False with a message when the file cannot be loaded.
    bool Open(const std::string& path, std::string& error);
    // The export's address, or null when the library does not have it.
    void* Resolve(const std::string& name) const;
    const std::string& Path() const { return path_; }

private:
    void* handle_ = nullptr;
    std::string path_;
};

// Calls an export through its address with the argument list of its shape.
// `first` and `second` are the channel list and the target, or the source
// records of the exports that take records (GetKmByEq takes one). Block exports give 0.0.
double CallExport(void* address, const ExportShape& shape, void* first, void* second,
                  const std::vector<ArgumentValue>& arguments);
