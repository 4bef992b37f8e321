// ampora-host: plays the host. Loads the library by file name, builds the
// records and the list, runs a recording block by block and then as a whole,
// and reports what the exports computed.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
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
    "  ampora-host [--library PATH] [--out DIR] [--block N] [OUTPUT OPTIONS]\n"
    "      run the built-in generator test and check every value against its construction\n"
    "  ampora-host run RECORDING --plan PLAN [--out DIR] [--block N] [--rate HZ] [--library PATH] [OUTPUT OPTIONS]\n"
    "      RECORDING: a COMTRADE .cfg (with its .dat) or a CSV file\n"
    "  ampora-host write-recording DIR [--format csv|ascii|binary|binary32|float32]\n"
    "      write the built-in recording as files, to try 'run' on\n"
    "output options:\n"
    "  --out DIR writes report.txt, report.html, plot.svg, curves.cfg/.dat and curves.csv\n"
    "  --plot NAME,...    the plot's panels (plan names or labels); default: the curves marked plot\n"
    "  --curves NAME,...  the CSV's columns; --every N keeps every N-th row\n"
    "  --csv              the CSV even for a recording over a million positions\n"
    "  --quiet            print only warnings and errors\n";

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

struct Arguments {
    std::vector<std::string> positional;
    std::string library, out, plan, format = "csv";
    int block = 0;
    double rate = 0.0;
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
        else if (arg == "--block") a.block = static_cast<int>(Number(Value()));
        else if (arg == "--rate") a.rate = Number(Value());
        else if (arg == "--plot") a.output.plot = SplitNames(Value());
        else if (arg == "--curves") a.output.curves = SplitNames(Value());
        else if (arg == "--every") a.output.every = static_cast<int>(Number(Value()));
        else if (arg == "--csv") a.output.csv = true;
        else if (arg == "--quiet") a.quiet = true;
        else if (arg == "--help" || arg == "-h") { std::cout << kUsage; std::exit(0); }
        else if (!arg.empty() && arg[0] == '-') throw InputError("command line", 0, 0, "unknown option " + arg);
        else a.positional.push_back(arg);
    }
    return a;
}

std::vector<std::string> Names(const Recording& r) {
    std::vector<std::string> names;
    for (const auto& c : r.channels) names.push_back(c.name);
    return names;
}

// For --quiet: the values out of tolerance, in one line.
std::string FailedValues(const RunResult& result) {
    std::string names;
    for (const ReportRow& r : result.rows)
        if (r.Failed()) names += " " + r.quantity;
    return "values out of tolerance:" + names;
}

int Run(const Recording& recording, const Plan& plan, const std::string& planFile, const Arguments& a,
        const std::string& title) {
    LoadedLibrary library;
    std::string error;
    const std::string path = a.library.empty() ? DefaultLibrary() : a.library;
    if (!library.Open(path, error)) throw InputError(path, 0, 0, error);
    CheckCurveNames(plan, a.output.plot, "--plot");
    CheckCurveNames(plan, a.output.curves, "--curves");
    RunOptions options;
    options.block = a.block;
    options.progress = isatty(STDERR_FILENO) != 0;
    RunResult result = RunPlan(recording, plan, library, planFile, options);
    const std::string header = title + "\nlibrary: " + library.Path();
    if (!a.out.empty()) {
        result.notes = OutputNotes(result, a.output);
        WriteOutputs(result, a.out, header, a.output);
    }
    if (!a.quiet) std::cout << FormatReport(result, header);
    else if (!result.Passed()) std::cerr << "ampora-host: " << FailedValues(result) << "\n";
    return result.Passed() ? 0 : kExitDeviation;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const Arguments a = Parse(argc, argv);
        if (a.positional.empty()) {
            const Recording recording = GenerateRecording();
            const Plan plan = ParsePlan(kGeneratorPlan, "generator.plan", Names(recording));
            return Run(recording, plan, "generator.plan", a,
                       "Built-in recording: synchronous-generator test, 12.8 kS/s, 2 s, 50 Hz, 3000 rev/min");
        }
        const std::string command = a.positional[0];
        if (command == "run") {
            if (a.positional.size() != 2) throw InputError("command line", 0, 0, "run takes one recording");
            if (a.plan.empty()) throw InputError("command line", 0, 0, "run needs --plan PLAN");
            const Recording recording = ReadRecording(a.positional[1], a.rate);
            Plan plan = ReadPlanFile(a.plan, Names(recording));
            return Run(recording, plan, a.plan, a, "Recording: " + a.positional[1] + "\nplan: " + a.plan);
        }
        if (command == "write-recording") {
            if (a.positional.size() != 2) throw InputError("command line", 0, 0, "write-recording takes one folder");
            const std::string dir = a.positional[1];
            if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) throw InputError(dir, 0, 0, "cannot create the folder");
            const Recording recording = GenerateRecording();
            const std::string stem = dir + "/generator";
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
    } catch (const InputError& e) {
        std::cerr << "ampora-host: " << e.what() << "\n";
        return kExitBadInput;
    }
}
