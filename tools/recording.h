// A recording as the host acquires it: channels of samples at one rate, read
// from COMTRADE (the .cfg and its .dat) or from CSV, and written back for
// users who want the built-in recording as files of their own.
//
// A file is opened in two steps: its description (channels, rate, length)
// without any sample, then the samples of the channels a plan uses, streamed
// in chunks, so a long recording is never held whole in memory.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct RecordedChannel {
    RecordedChannel() = default;
    RecordedChannel(std::string name, std::string unit, std::vector<float> samples = {})
        : name(std::move(name)), unit(std::move(unit)), samples(std::move(samples)) {}
    std::string name;
    std::string unit;
    std::vector<float> samples;  // scaled to primary values; empty in a description
    std::string phase, circuit;  // the exchange format's phase and circuit fields
    bool digital = false;
    // a·raw + b, times primary/secondary for channels stored as secondary values
    double a = 1.0, b = 0.0, factor = 1.0;
};

struct Recording {
    double sampleRate = 0.0;     // samples per second
    double lineFrequency = 0.0;  // nominal, Hz; 0 when not stated
    std::vector<RecordedChannel> channels;
    // The .cfg's start and trigger times ("dd/mm/yyyy,hh:mm:ss.ssssss"); empty
    // when the source states none, and then written as kNoStartTime.
    std::string startTime, triggerTime;
    std::size_t Length() const { return channels.empty() ? 0 : channels.front().samples.size(); }
    const RecordedChannel* Find(const std::string& name) const;
};

// The time written for a recording that states none: the format's earliest
// date, which no recorder in the field stamps.
extern const char* const kNoStartTime;

// The data-file types of the exchange format.
enum class ComtradeData { Ascii, Binary, Binary32, Float32 };

// A recording's description and where its samples are.
struct RecordingFile {
    std::string path;
    double sampleRate = 0.0;
    double lineFrequency = 0.0;
    std::string startTime, triggerTime;    // as the .cfg states them; empty when it states none
    std::size_t length = 0;                // positions
    std::vector<RecordedChannel> channels;  // without samples
    enum class Kind { Memory, Csv, Comtrade } kind = Kind::Memory;
    ComtradeData type = ComtradeData::Float32;
    std::string dataPath;
    std::size_t firstDataLine = 0;  // CSV: the line of the first row (0-based)
    int timeColumns = 0;            // CSV: 1 when the first column is the time
    const Recording* memory = nullptr;
    std::vector<std::string> Names() const;
};

// Describes a recording by its file name: a .cfg (with the .dat beside it) or
// a CSV file. rateOverride (> 0) gives the rate of a CSV file; a COMTRADE
// configuration states its own and refuses one.
RecordingFile OpenRecording(const std::string& path, double rateOverride = 0.0);
RecordingFile DescribeRecording(const Recording& recording);

// Chunk by chunk, in order: values[k][i] is the sample of channels[k] at
// position first + i of the recording.
using SampleSink = std::function<void(const std::vector<const float*>& values, std::size_t first, std::size_t count)>;
void StreamSamples(const RecordingFile& file, const std::vector<std::size_t>& channels, std::size_t from,
                   std::size_t to, const SampleSink& sink);

// A whole recording in memory (every channel).
Recording ReadRecording(const std::string& path, double rateOverride = 0.0);
Recording ReadCsv(const std::string& path, double rateOverride = 0.0);

// The listing of `ampora-host channels`: number, name, unit, phase, kind, scaling and the rate.
std::string FormatChannelList(const RecordingFile& file);

// Writes path.cfg and path.dat (path without extension) in the given data type
// and revision year (1999 or 2013).
void WriteComtrade(const Recording& recording, const std::string& path, ComtradeData type, int revision = 2013);
void WriteCsv(const Recording& recording, const std::string& path);

// Writes text to path through a temporary file renamed into place, so a
// failed run leaves no half-written file.
void WriteFileAtomically(const std::string& path, const std::string& text);
