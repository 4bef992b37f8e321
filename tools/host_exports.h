// The host's view of the library's export table: every export name with the
// argument list it is called with, looked up by name in a library loaded at
// run time, so what the host exercises is the shipped export table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CPtrList;
struct ChannelInfo;

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

// The positions a block export is called over while the host's blocks go by.
enum class BlockStretch {
    Block,              // the block's own positions
    // Whole quarter windows from where the last call ended; the rest of the
    // block waits for the next one. Each call ramps from the entry before it
    // and leaves what is past its last whole quarter window unwritten, so a
    // block that is not a multiple of the quarter window would leave gaps.
    QuarterWindows,
    // The previous block again, then this one: the export reads its sources'
    // results position by position, and windowed sources complete a block's
    // last positions only with the next block's first window.
    FromPreviousBlock,
};

struct ExportShape {
    std::string name;
    ExportKind kind;
    int sources;                 // number of SourceIds entries; -1 when the export forms its own references
    bool recordArguments;        // called with source records instead of (channels, target)
    bool powerOfTwoAnySize;      // every window length must be a power of two (full-length transform)
    std::vector<ExportArgument> arguments;
    BlockStretch stretch = BlockStretch::Block;
    // The moving average of the per-sample exports spans windowSize / averageDivisor samples (0: none).
    int averageDivisor = 0;
};

// All 89 exports, in ordinal order.
const std::vector<ExportShape>& ExportTable();
const ExportShape* FindExport(const std::string& name);

// The value of one argument as the call passes it.
struct ArgumentValue {
    char type = 'i';
    int32_t i = 0;
    double d = 0.0;
    float f = 0.0f;
    void* p = nullptr;
};

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
// `first` and `second` are the channel list and the target, or the two source
// records of the exports that take records. Block exports give 0.0.
double CallExport(void* address, const ExportShape& shape, void* first, void* second,
                  const std::vector<ArgumentValue>& arguments);
