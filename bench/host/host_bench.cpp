// ampora-host-bench: the host program on a long field-size recording.
//   ampora-host-bench [--minutes M] [--dir DIR]
// Writes the built-in generator recording (12.8 kS/s, 11 channels) for M
// minutes (default 30: 23 M positions, 1.2 GB) as FLOAT32 and BINARY
// COMTRADE; then, in a process of its own so its peak memory is the run's,
// times reading each data file and runs a plan that uses five of the
// channels through the library, and prints its time and peak memory.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "generator.h"
#include "host_run.h"
#include "input_error.h"
#include "plan.h"
#include "recording.h"

namespace {

// Five recorded channels: two-wattmeter power from U12, Ia, U23, Ic, and Ua.
const char* const kPlan = R"(
P   = GetTwoAngleP(cycle) from U12 Ia U23 Ic CalcKind=1 unit=W
Q   = GetTwoAngleP(cycle) from U12 Ia U23 Ic CalcKind=2 unit=var
Ua1 = GetPowerAvg(cycle) from Ua unit=V
F   = GetFrequenceStatus(0) from Ua unit=Hz
PW  = GetTwoAnglePSum(cycle) from U12 Ia U23 Ic CalcKind=1 unit=W
)";

double Since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double PeakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Streams every channel of a data file and discards it: the reading speed alone.
void TimeReading(const std::string& cfg) {
    const RecordingFile file = OpenRecording(cfg);
    std::vector<std::size_t> all(file.channels.size());
    for (std::size_t k = 0; k < all.size(); ++k) all[k] = k;
    double sink = 0.0;
    const auto t0 = std::chrono::steady_clock::now();
    StreamSamples(file, all, 0, file.length, [&](const std::vector<const float*>& values, std::size_t, std::size_t count) {
        sink += values.back()[count - 1];
    });
    const double seconds = Since(t0);
    const double bytes = static_cast<double>(std::filesystem::file_size(file.dataPath));
    std::printf("read %-28s %8.0f MB in %6.2f s: %7.0f MB/s, %6.1f M positions/s (check %g)\n",
                std::filesystem::path(file.dataPath).filename().c_str(), bytes / 1e6, seconds, bytes / 1e6 / seconds,
                static_cast<double>(file.length) / 1e6 / seconds, sink);
}

}  // namespace

// Reads and runs the files written before: the process's peak memory is the run's.
int Measure(const std::string& dir) {
    TimeReading(dir + "/long32.cfg");
    TimeReading(dir + "/long16.cfg");
    const RecordingFile file = OpenRecording(dir + "/long32.cfg");
    LoadedLibrary library;
    std::string error;
    if (!library.Open(AMPORA_SHARED_LIBRARY, error)) throw InputError(AMPORA_SHARED_LIBRARY, 0, 0, error);
    const auto t0 = std::chrono::steady_clock::now();
    const RunResult result = RunPlan(file, ParsePlan(kPlan, "bench.plan", file.Names()), library, {});
    const double seconds = Since(t0);
    std::printf("run: %zu positions, %zu of %zu channels loaded, five computed, in %.1f s (%.1f M positions/s); "
                "peak resident %.0f MiB\n",
                result.recording.positions, result.recording.channelsLoaded, result.recording.channelsInFile, seconds,
                static_cast<double>(result.recording.positions) / 1e6 / seconds, PeakMiB());
    for (const ReportRow& row : result.rows)
        std::printf("  %-4s %-22s %12.4f %s\n", row.name.c_str(), row.exportName.c_str(), row.value, row.unit.c_str());
    return 0;
}

int main(int argc, char** argv) {
    double minutes = 30.0;
    std::string dir = std::filesystem::temp_directory_path() / "ampora-host-bench";
    try {
        for (int k = 1; k + 1 < argc; k += 2) {
            const std::string arg = argv[k];
            if (arg == "--measure") return Measure(argv[k + 1]);
            if (arg == "--minutes") minutes = std::atof(argv[k + 1]);
            else if (arg == "--dir") dir = argv[k + 1];
        }
        std::filesystem::create_directories(dir);
        GeneratorTest test;
        test.seconds = minutes * 60.0;
        const auto t0 = std::chrono::steady_clock::now();
        {
            const Recording recording = GenerateRecording(test);
            WriteComtrade(recording, dir + "/long32", ComtradeData::Float32);
            WriteComtrade(recording, dir + "/long16", ComtradeData::Binary);
        }
        std::printf("wrote %.0f minutes at 12.8 kS/s, 11 channels, in %.1f s\n", minutes, Since(t0));
        std::fflush(stdout);
        const int status = std::system((std::string(argv[0]) + " --measure '" + dir + "'").c_str());
        std::filesystem::remove_all(dir);
        return status == 0 ? 0 : 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ampora-host-bench: %s\n", e.what());
        return 2;
    }
}
