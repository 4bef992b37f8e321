// ampora-host: plays the host. Loads the library by file name, builds the
// records and the list, runs a recording block by block and then as a whole,
// and reports what the exports computed.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "generator.h"
#include "host_run.h"
#include "input_error.h"
#include "outputs.h"
#include "report.h"

namespace {

constexpr int kExitDeviation = 1;
constexpr int kExitBadInput = 2;

const char* const kUsage =
    "usage:\n"
    "  ampora-host [--library PATH] [--out DIR] [--block N] [--jobs N] [OUTPUT OPTIONS]\n"
    "      run the built-in generator test and check every value against its construction\n"
    "  ampora-host run RECORDING --plan PLAN [--out DIR] [--block N] [--jobs N] [--library PATH] [OUTPUT OPTIONS]\n"
    "                [--resample auto|off|N|track] [--line-frequency HZ] [--span FROM:TO] [--rate HZ]\n"
    "      RECORDING: a COMTRADE .cfg (with its .dat) or a CSV file (--rate for a CSV file without one)\n"
    "  ampora-host channels RECORDING\n"
    "      list the recording's channels: number, name, unit, phase, kind, scaling, and its rate\n"
    "  ampora-host write-recording DIR [--format csv|ascii|binary|binary32|float32] [--example generator|feeder]\n"
    "      write a built-in recording as files, to try 'run' on: the generator test, or a feeder\n"
    "      as a field recorder sees it (1000 S/s, 50 Hz, harmonics, unbalance, names with spaces)\n"
    "output options:\n"
    "  --out DIR          writes report.txt, report.html, report.json, plot.svg, curves.cfg/.dat and curves.csv\n"
    "  --plot NAME,...    the plot's panels (plan names or labels); default: the curves marked plot\n"
    "  --curves NAME,...  the CSV's columns; --every N keeps every N-th row\n"
    "  --csv              the CSV even for a recording over a million positions\n"
    "  --quiet            print only warnings and errors\n"
    "--jobs N: the block channels computed side by side on N threads (default: one per core; same results)\n";

// The library beside the program's build folder (tools/ampora-host -> libampora.so).
std::string DefaultLibrary() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) {
        std::string exe(path, static_cast<std::size_t>(length));
        const auto slash = exe.find_last_of('/');
        const std::string candidate = exe.substr(0, slash) + "/../libampora.so";
        if (access(candidate.c_str(), R_OK) == 0) return candidate;
    }
    return "libampora.so";
}

// One thread per core: the block phase's channels run side by side.
int DefaultJobs() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

struct Arguments {
    std::vector<std::string> positional;
    std::string library, out, plan, format = "csv", example = "generator";
    int block = 0;
    int jobs = DefaultJobs();
    double rate = 0.0, lineFrequency = 0.0;
    ResampleRequest resample;
    std::optional<double> spanFrom, spanTo;
    OutputOptions output;
    bool quiet = false;
};

std::vector<std::string> SplitNames(const std::string& list) {
    std::vector<std::string> names;
    std::size_t begin = 0;
    while (begin <= list.size()) {
        const std::size_t end = std::min(list.find(',', begin), list.size());
        if (end > begin) names.push_back(list.substr(begin, end - begin));
        begin = end + 1;
    }
    return names;
}

// "FROM:TO" in seconds, either side may be empty.
void ParseSpan(const std::string& text, Arguments& a) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) throw InputError("command line", 0, 0, "--span takes FROM:TO in seconds, not \"" + text + "\"");
    auto Side = [&](const std::string& side) -> std::optional<double> {
        if (side.empty()) return std::nullopt;
        char* end = nullptr;
        const double v = std::strtod(side.c_str(), &end);
        if (*end != '\0' || !(v >= 0.0) || v > 1e9)
            throw InputError("command line", 0, 0, "--span: malformed time \"" + side + "\"");
        return v;
    };
    a.spanFrom = Side(text.substr(0, colon));
    a.spanTo = Side(text.substr(colon + 1));
}

Arguments Parse(int argc, char** argv) {
    Arguments a;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        auto Value = [&]() -> std::string {
            if (k + 1 >= argc) throw InputError("command line", 0, 0, arg + " needs a value");
            return argv[++k];
        };
        auto Number = [&](const std::string& text) {
            char* end = nullptr;
            const double v = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || v <= 0.0)
                throw InputError("command line", 0, 0, arg + ": malformed number \"" + text + "\"");
            return v;
        };
        if (arg == "--library") a.library = Value();
        else if (arg == "--out") a.out = Value();
        else if (arg == "--plan") a.plan = Value();
        else if (arg == "--format") a.format = Value();
        else if (arg == "--example") a.example = Value();
        else if (arg == "--block") a.block = static_cast<int>(Number(Value()));
        else if (arg == "--jobs") a.jobs = static_cast<int>(std::min(Number(Value()), 256.0));
        else if (arg == "--rate") a.rate = Number(Value());
        else if (arg == "--plot") a.output.plot = SplitNames(Value());
        else if (arg == "--curves") a.output.curves = SplitNames(Value());
        else if (arg == "--every") a.output.every = static_cast<int>(Number(Value()));
        else if (arg == "--csv") a.output.csv = true;
        else if (arg == "--quiet") a.quiet = true;
        else if (arg == "--line-frequency") a.lineFrequency = Number(Value());
        else if (arg == "--resample") a.resample = ParseResample(Value());
        else if (arg == "--span") ParseSpan(Value(), a);
        else if (arg == "--help" || arg == "-h") { std::cout << kUsage; std::exit(0); }
        else if (!arg.empty() && arg[0] == '-') throw InputError("command line", 0, 0, "unknown option " + arg);
        else a.positional.push_back(arg);
    }
    return a;
}

// For --quiet: the values out of tolerance, in one line.
std::string FailedValues(const RunResult& result) {
    std::string names;
    for (const ReportRow& r : result.rows)
        if (r.Failed()) names += " " + r.quantity;
    return "values out of tolerance:" + names;
}

int Run(const RecordingFile& recording, const Plan& plan, const Arguments& a, const std::string& title) {
    LoadedLibrary library;
    std::string error;
    const std::string path = a.library.empty() ? DefaultLibrary() : a.library;
    if (!library.Open(path, error)) throw InputError(path, 0, 0, error);
    CheckCurveNames(plan, a.output.plot, "--plot");
    CheckCurveNames(plan, a.output.curves, "--curves");
    RunOptions options;
    options.block = a.block;
    options.jobs = a.jobs;
    options.progress = isatty(STDERR_FILENO) != 0;
    options.resample = a.resample;
    options.lineFrequency = a.lineFrequency;
    options.spanFrom = a.spanFrom;
    options.spanTo = a.spanTo;
    RunResult result = RunPlan(recording, plan, library, options);
    const std::string header = title + "\nlibrary: " + library.Path();
    if (!a.out.empty()) {
        OutputOptions output = a.output;
        if (result.recording.span)
            output.span = TimeSpan{result.recording.spanFrom - result.recording.loadedFrom,
                                   result.recording.spanTo - result.recording.loadedFrom};
        result.notes = OutputNotes(result, output);
        WriteOutputs(result, a.out, header, output);
    }
    if (!a.quiet) std::cout << FormatReport(result, header);
    else if (!result.Passed()) std::cerr << "ampora-host: " << FailedValues(result) << "\n";
    return result.Passed() ? 0 : kExitDeviation;
}

int Main(int argc, char** argv) {
    const Arguments a = Parse(argc, argv);
    if (a.positional.empty()) {
        const Recording generated = GenerateRecording();
        const RecordingFile recording = DescribeRecording(generated);
        const Plan plan = ParsePlan(kGeneratorPlan, "generator.plan", recording.Names());
        return Run(recording, plan, a, "Built-in recording: synchronous-generator test, 12.8 kS/s, 2 s, 50 Hz, 3000 rev/min");
    }
    const std::string command = a.positional[0];
    if (command == "run") {
        if (a.positional.size() != 2) throw InputError("command line", 0, 0, "run takes one recording");
        if (a.plan.empty()) throw InputError("command line", 0, 0, "run needs --plan PLAN");
        const RecordingFile recording = OpenRecording(a.positional[1], a.rate);
        const Plan plan = ReadPlanFile(a.plan, recording.Names());
        return Run(recording, plan, a, "Recording: " + a.positional[1] + "\nplan: " + a.plan);
    }
    if (command == "channels") {
        if (a.positional.size() != 2) throw InputError("command line", 0, 0, "channels takes one recording");
        std::cout << FormatChannelList(OpenRecording(a.positional[1], a.rate));
        return 0;
    }
    if (command == "write-recording") {
        if (a.positional.size() != 2) throw InputError("command line", 0, 0, "write-recording takes one folder");
        const std::string dir = a.positional[1];
        if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) throw InputError(dir, 0, 0, "cannot create the folder");
        if (a.example != "generator" && a.example != "feeder")
            throw InputError("command line", 0, 0, "unknown example " + a.example + ": generator or feeder");
        const Recording recording = a.example == "feeder" ? GenerateFeeder() : GenerateRecording();
        const std::string stem = dir + "/" + a.example;
        if (a.format == "csv") WriteCsv(recording, stem + ".csv");
        else if (a.format == "ascii") WriteComtrade(recording, stem, ComtradeData::Ascii);
        else if (a.format == "binary") WriteComtrade(recording, stem, ComtradeData::Binary);
        else if (a.format == "binary32") WriteComtrade(recording, stem, ComtradeData::Binary32);
        else if (a.format == "float32") WriteComtrade(recording, stem, ComtradeData::Float32);
        else throw InputError("command line", 0, 0, "unknown format " + a.format);
        if (!a.quiet) std::cout << "wrote " << stem << (a.format == "csv" ? ".csv" : ".cfg and .dat") << "\n";
        return 0;
    }
    throw InputError("command line", 0, 0, "unknown command " + command + "\n" + kUsage);
}

}  // namespace

// Every failure is one line on stderr and exit status 2; no exception leaves main.
int main(int argc, char** argv) {
    try {
        return Main(argc, argv);
    } catch (const InputError& e) {
        std::cerr << "ampora-host: " << e.what() << "\n";
    } catch (const std::bad_alloc&) {
        std::cerr << "ampora-host: out of memory below 4 GiB: run a stretch with --span FROM:TO, or use fewer channels\n";
    } catch (const std::exception& e) {
        std::cerr << "ampora-host: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "ampora-host: stopped by an unknown error\n";
    }
    return kExitBadInput;
}
