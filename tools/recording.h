// A recording as the host acquires it: channels of samples at one rate, read
// from COMTRADE (the .cfg and its .dat) or from CSV, and written back for
// users who want the built-in recording as files of their own.
#pragma once

#include <string>
#include <vector>

struct RecordedChannel {
    std::string name;
    std::string unit;
    std::vector<float> samples;  // scaled to primary values
};

struct Recording {
    double sampleRate = 0.0;  // samples per second
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

// Reads a recording by its file name: a .cfg (with the .dat beside it) or a
// CSV file. rateOverride (> 0) gives the rate of a CSV file without one.
Recording ReadRecording(const std::string& path, double rateOverride = 0.0);
Recording ReadComtrade(const std::string& cfgPath);
Recording ReadCsv(const std::string& path, double rateOverride = 0.0);

// Writes path.cfg and path.dat (path without extension) in the given data type
// and revision year (1999 or 2013).
void WriteComtrade(const Recording& recording, const std::string& path, ComtradeData type, int revision = 2013);
void WriteCsv(const Recording& recording, const std::string& path);

// Writes text to path through a temporary file renamed into place, so a
// failed run leaves no half-written file.
void WriteFileAtomically(const std::string& path, const std::string& text);
