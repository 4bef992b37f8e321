#include "recording.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <limits>
#include <memory>
#include <sstream>

#include "input_error.h"

namespace {

// Positions handed to a sink at a time: a few megabytes of any data file.
constexpr std::size_t kChunk = std::size_t(1) << 16;

// One comma-separated field with the column it starts at (1-based).
struct Field {
    std::string text;
    int column;
};

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

std::vector<Field> SplitFields(const std::string& line, char separator = ',') {
    std::vector<Field> fields;
    std::size_t begin = 0;
    while (true) {
        const std::size_t end = line.find(separator, begin);
        const std::string raw = line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        const std::size_t lead = raw.find_first_not_of(" \t");
        fields.push_back({Trim(raw), static_cast<int>(begin + (lead == std::string::npos ? 0 : lead)) + 1});
        if (end == std::string::npos) break;
        begin = end + 1;
    }
    return fields;
}

// A text file line by line, line ends of either kind.
class LineReader {
public:
    explicit LineReader(const std::string& path) : in_(path, std::ios::binary) {
        if (!in_) throw InputError(path, 0, 0, "cannot open the file");
    }
    bool Next(std::string& line) {
        if (!std::getline(in_, line)) return false;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ++number_;
        return true;
    }
    int Number() const { return number_; }  // of the last line read, from 1

private:
    std::ifstream in_;
    int number_ = 0;
};

double ParseNumber(const std::string& file, int line, const Field& field, const char* what) {
    const char* text = field.text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (field.text.empty() || end == text || *end != '\0' || errno == ERANGE || !std::isfinite(value))
        throw InputError(file, line, field.column, std::string("malformed number for ") + what + ": \"" +
                                                       field.text + "\"");
    return value;
}

long long ParseInteger(const std::string& file, int line, const Field& field, const char* what) {
    const double value = ParseNumber(file, line, field, what);
    if (value != std::floor(value) || std::fabs(value) > 9007199254740992.0)
        throw InputError(file, line, field.column, std::string("expected a whole number for ") + what + ": \"" +
                                                       field.text + "\"");
    return static_cast<long long>(value);
}

// "12A" or "3D": the count before the letter.
long ParseCount(const std::string& file, int line, const Field& field, char letter) {
    std::string text = field.text;
    if (text.empty() || std::toupper(static_cast<unsigned char>(text.back())) != letter)
        throw InputError(file, line, field.column, std::string("expected a channel count ending in ") + letter);
    text.pop_back();
    return static_cast<long>(ParseInteger(file, line, {text, field.column}, "the channel count"));
}

const Field& FieldAt(const std::string& file, int line, const std::vector<Field>& fields, std::size_t k,
                     const char* what) {
    if (k >= fields.size())
        throw InputError(file, line, static_cast<int>(fields.empty() ? 1 : fields.back().column),
                         std::string("missing field: ") + what);
    return fields[k];
}

std::string ReplaceExtension(const std::string& path, const std::string& extension) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    const std::string stem = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                                 ? path.substr(0, dot) : path;
    return stem + extension;
}

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
    if (s.size() < suffix.size()) return false;
    for (std::size_t k = 0; k < suffix.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + k])) != suffix[k]) return false;
    return true;
}

template <class T>
T ReadLittle(const unsigned char* p) {
    T value;
    std::memcpy(&value, p, sizeof(T));  // the formats are little-endian, as the hosts are
    return value;
}

// Collects the chosen channels' samples of consecutive positions and hands
// them to the sink a chunk at a time.
class ChunkWriter {
public:
    ChunkWriter(std::size_t channels, std::size_t first, const SampleSink& sink)
        : columns_(channels, std::vector<float>(kChunk)), first_(first), sink_(sink) {}
    void Set(std::size_t k, float v) { columns_[k][filled_] = v; }
    void EndRow() {
        if (++filled_ == kChunk) Flush();
    }
    void Flush() {
        if (filled_ == 0) return;
        std::vector<const float*> values;
        for (const auto& c : columns_) values.push_back(c.data());
        sink_(values, first_, filled_);
        first_ += filled_;
        filled_ = 0;
    }

private:
    std::vector<std::vector<float>> columns_;
    std::size_t first_, filled_ = 0;
    const SampleSink& sink_;
};

float Scaled(const RecordedChannel& c, double raw) { return static_cast<float>((c.a * raw + c.b) * c.factor); }

std::size_t BytesPerAnalog(ComtradeData type) { return type == ComtradeData::Binary ? 2 : 4; }

std::size_t AnalogCount(const RecordingFile& f) {
    return static_cast<std::size_t>(std::count_if(f.channels.begin(), f.channels.end(),
                                                  [](const RecordedChannel& c) { return !c.digital; }));
}

std::size_t RecordSize(const RecordingFile& f) {
    const std::size_t analogs = AnalogCount(f), digitals = f.channels.size() - analogs;
    return 8 + BytesPerAnalog(f.type) * analogs + 2 * ((digitals + 15) / 16);
}

// ---- COMTRADE configuration ----

// The configuration line by line, each failure naming its line and column.
class CfgReader {
public:
    explicit CfgReader(const std::string& path) : path_(path), reader_(path) {}
    std::vector<Field> Line(const char* what) {
        std::string text;
        if (!reader_.Next(text)) Fail(1, std::string("missing line: ") + what, 1);
        return SplitFields(text);
    }
    [[noreturn]] void Fail(int column, const std::string& message, int lineOffset = 0) const {
        throw InputError(path_, reader_.Number() + lineOffset, column, message);
    }
    double Number(const Field& f, const char* what) const { return ParseNumber(path_, reader_.Number(), f, what); }
    long long Integer(const Field& f, const char* what) const { return ParseInteger(path_, reader_.Number(), f, what); }
    const Field& At(const std::vector<Field>& f, std::size_t k, const char* what) const {
        return FieldAt(path_, reader_.Number(), f, k, what);
    }
    int LineNumber() const { return reader_.Number(); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    LineReader reader_;
};

// A line's fields joined again as written (the times' "date,time").
std::string JoinedFields(const std::vector<Field>& fields) {
    std::string text;
    for (const Field& f : fields) text += (text.empty() ? "" : ",") + f.text;
    return text;
}

// "n,name,phase,circuit,unit,a,b,skew,min,max,primary,secondary,P|S"; a digital line ends after the circuit.
RecordedChannel ChannelLine(CfgReader& cfg, bool digital) {
    const auto f = cfg.Line(digital ? "digital channel" : "analog channel");
    RecordedChannel d;
    d.name = cfg.At(f, 1, "channel name").text;
    d.phase = f.size() > 2 ? f[2].text : "";
    d.circuit = f.size() > 3 ? f[3].text : "";
    d.digital = digital;
    if (digital) return d;
    d.unit = cfg.At(f, 4, "unit").text;
    d.a = cfg.Number(cfg.At(f, 5, "multiplier a"), "the multiplier a");
    d.b = cfg.Number(cfg.At(f, 6, "offset b"), "the offset b");
    if (f.size() >= 13 && !f[12].text.empty()) {
        const double primary = cfg.Number(f[10], "the primary factor");
        const double secondary = cfg.Number(f[11], "the secondary factor");
        const char ps = static_cast<char>(std::toupper(static_cast<unsigned char>(f[12].text[0])));
        if (ps != 'P' && ps != 'S') cfg.Fail(f[12].column, "expected P or S, not \"" + f[12].text + "\"");
        if (ps == 'S') {
            if (secondary == 0.0) cfg.Fail(f[11].column, "the secondary factor is zero");
            d.factor = primary / secondary;
        }
    }
    return d;
}

void ChannelLines(CfgReader& cfg, RecordingFile& file) {
    const auto counts = cfg.Line("channel counts");
    const long long total = cfg.Integer(cfg.At(counts, 0, "total channel count"), "the total channel count");
    const long analogs = ParseCount(cfg.Path(), cfg.LineNumber(), cfg.At(counts, 1, "analog count"), 'A');
    const long digitals = ParseCount(cfg.Path(), cfg.LineNumber(), cfg.At(counts, 2, "digital count"), 'D');
    if (analogs + digitals != total || analogs < 0 || digitals < 0)
        cfg.Fail(counts[0].column, "the channel counts do not add up: " + std::to_string(total) + " is not " +
                                       std::to_string(analogs) + " + " + std::to_string(digitals));
    for (long k = 0; k < analogs + digitals; ++k) file.channels.push_back(ChannelLine(cfg, k >= analogs));
}

// The rate lines; returns the last sample number the configuration announces.
long long RateLines(CfgReader& cfg, RecordingFile& file) {
    const auto frequency = cfg.Line("line frequency");
    if (!frequency.empty() && !frequency[0].text.empty()) file.lineFrequency = cfg.Number(frequency[0], "the line frequency");
    const long long rates = cfg.Integer(cfg.At(cfg.Line("number of sample rates"), 0, "number of sample rates"),
                                        "the number of sample rates");
    long long samples = 0;
    for (long long k = 0; k < std::max(rates, 1LL); ++k) {
        const auto f = cfg.Line("sample rate and last sample");
        const double rate = cfg.Number(cfg.At(f, 0, "sample rate"), "the sample rate");
        if (k > 0 && rate != file.sampleRate) cfg.Fail(f[0].column, "several sample rates in one recording are not supported");
        file.sampleRate = rate;
        samples = cfg.Integer(cfg.At(f, 1, "last sample number"), "the last sample number");
    }
    // The times are kept as written, for the curves' record.
    file.startTime = JoinedFields(cfg.Line("start time"));
    file.triggerTime = JoinedFields(cfg.Line("trigger time"));
    const auto typeLine = cfg.Line("data file type");
    std::string type = cfg.At(typeLine, 0, "data file type").text;
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::toupper(c); });
    if (type == "ASCII") file.type = ComtradeData::Ascii;
    else if (type == "BINARY") file.type = ComtradeData::Binary;
    else if (type == "BINARY32") file.type = ComtradeData::Binary32;
    else if (type == "FLOAT32") file.type = ComtradeData::Float32;
    else cfg.Fail(typeLine[0].column, "unknown data file type \"" + typeLine[0].text + "\"");
    if (rates < 1 || file.sampleRate <= 0.0) cfg.Fail(1, "the recording states no sample rate");
    return samples;
}

// The positions the data file holds: announced, and checked against its size.
std::size_t DataLength(const RecordingFile& file, long long announced) {
    long long samples = announced;
    if (file.type != ComtradeData::Ascii) {
        std::error_code error;
        const unsigned long long bytes = std::filesystem::file_size(file.dataPath, error);
        if (error) throw InputError(file.dataPath, 0, 0, "cannot open the file");
        const std::size_t recordSize = RecordSize(file);
        if (bytes % recordSize != 0)
            throw InputError(file.dataPath, 0, 0, "the file size " + std::to_string(bytes) + " is not a whole number of " +
                                                      std::to_string(recordSize) + "-byte samples");
        const unsigned long long held = bytes / recordSize;
        if (samples > 0 && held < static_cast<unsigned long long>(samples))
            throw InputError(file.dataPath, 0, 0, "the configuration announces " + std::to_string(samples) +
                                                      " samples, the data file holds " + std::to_string(held));
        samples = samples > 0 ? samples : static_cast<long long>(held);
    } else if (samples <= 0) {
        LineReader data(file.dataPath);
        for (std::string line; data.Next(line);) samples += Trim(line).empty() ? 0 : 1;
    }
    if (static_cast<unsigned long long>(samples) > std::numeric_limits<std::size_t>::max())
        throw InputError(file.path, 0, 0, "the recording's " + std::to_string(samples) + " samples exceed this build's addresses");
    return static_cast<std::size_t>(samples);
}

RecordingFile DescribeComtrade(const std::string& cfgPath) {
    CfgReader cfg(cfgPath);
    RecordingFile file;
    file.path = cfgPath;
    file.kind = RecordingFile::Kind::Comtrade;
    cfg.Line("station and revision year");
    ChannelLines(cfg, file);
    const long long announced = RateLines(cfg, file);
    file.dataPath = ReplaceExtension(cfgPath, ".dat");
    file.length = DataLength(file, announced);
    return file;
}

void StreamComtradeAscii(const RecordingFile& file, const std::vector<std::size_t>& chosen, std::size_t from,
                         std::size_t to, const SampleSink& sink) {
    const std::size_t fields = 2 + file.channels.size(), analogs = AnalogCount(file);
    LineReader reader(file.dataPath);
    ChunkWriter out(chosen.size(), from, sink);
    std::size_t position = 0;
    for (std::string line; position < to && reader.Next(line);) {
        if (Trim(line).empty()) continue;
        if (position++ < from) continue;
        const auto f = SplitFields(line);
        if (f.size() < fields)
            throw InputError(file.dataPath, reader.Number(), f.back().column,
                             "expected " + std::to_string(fields) + " fields, found " + std::to_string(f.size()));
        for (std::size_t k = 0; k < chosen.size(); ++k) {
            const RecordedChannel& c = file.channels[chosen[k]];
            const Field& value = f[2 + chosen[k]];
            if (chosen[k] < analogs) out.Set(k, Scaled(c, ParseNumber(file.dataPath, reader.Number(), value, "an analog value")));
            else out.Set(k, ParseInteger(file.dataPath, reader.Number(), value, "a digital value") != 0 ? 1.0f : 0.0f);
        }
        out.EndRow();
    }
    if (position < to)
        throw InputError(file.dataPath, 0, 0, "the configuration announces " + std::to_string(file.length) +
                                                  " samples, the data file holds " + std::to_string(position));
    out.Flush();
}

// Reads whole chunks of fixed-size samples and takes each chosen channel out
// of them column by column.
void StreamComtradeBinary(const RecordingFile& file, const std::vector<std::size_t>& chosen, std::size_t from,
                          std::size_t to, const SampleSink& sink) {
    std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(file.dataPath.c_str(), "rb"), std::fclose);
    if (!in) throw InputError(file.dataPath, 0, 0, "cannot open the file");
    const std::size_t recordSize = RecordSize(file), analogs = AnalogCount(file);
    const std::size_t width = BytesPerAnalog(file.type);
    if (fseeko(in.get(), static_cast<off_t>(static_cast<unsigned long long>(from) * recordSize), SEEK_SET) != 0)
        throw InputError(file.dataPath, 0, 0, "cannot read the file");
    std::vector<unsigned char> bytes(kChunk * recordSize);
    std::vector<std::vector<float>> columns(chosen.size(), std::vector<float>(kChunk));
    std::vector<const float*> values;
    for (const auto& c : columns) values.push_back(c.data());
    for (std::size_t first = from; first < to;) {
        const std::size_t count = std::min(kChunk, to - first);
        if (std::fread(bytes.data(), recordSize, count, in.get()) != count)
            throw InputError(file.dataPath, 0, 0, "the data file ends before sample " + std::to_string(first + count));
        for (std::size_t k = 0; k < chosen.size(); ++k) {
            const std::size_t channel = chosen[k];
            float* column = columns[k].data();
            if (channel >= analogs) {
                const std::size_t bit = channel - analogs;
                const unsigned char* p = bytes.data() + 8 + width * analogs + 2 * (bit / 16);
                for (std::size_t i = 0; i < count; ++i, p += recordSize)
                    column[i] = static_cast<float>((ReadLittle<uint16_t>(p) >> (bit % 16)) & 1);
                continue;
            }
            const RecordedChannel& c = file.channels[channel];
            const unsigned char* p = bytes.data() + 8 + width * channel;
            switch (file.type) {
                case ComtradeData::Binary:
                    for (std::size_t i = 0; i < count; ++i, p += recordSize) column[i] = Scaled(c, ReadLittle<int16_t>(p));
                    break;
                case ComtradeData::Binary32:
                    for (std::size_t i = 0; i < count; ++i, p += recordSize) column[i] = Scaled(c, ReadLittle<int32_t>(p));
                    break;
                default:
                    for (std::size_t i = 0; i < count; ++i, p += recordSize) column[i] = Scaled(c, ReadLittle<float>(p));
                    break;
            }
        }
        sink(values, first, count);
        first += count;
    }
}

// ---- CSV ----

RecordingFile DescribeCsv(const std::string& path, double rateOverride) {
    RecordingFile file;
    file.path = file.dataPath = path;
    file.kind = RecordingFile::Kind::Csv;
    LineReader reader(path);
    std::string line;
    double statedRate = 0.0;
    // Leading comment lines; "# rate 12800" states the sample rate, "# line-frequency 50" the line frequency.
    while (reader.Next(line) && (Trim(line).empty() || Trim(line)[0] == '#')) {
        std::istringstream words(Trim(line).substr(Trim(line).empty() ? 0 : 1));
        std::string key, value;
        if (!(words >> key >> value)) continue;
        const Field field{value, static_cast<int>(line.find(value)) + 1};
        if (key == "rate") statedRate = ParseNumber(path, reader.Number(), field, "the rate");
        if (key == "line-frequency") file.lineFrequency = ParseNumber(path, reader.Number(), field, "the line frequency");
    }
    if (Trim(line).empty() || Trim(line)[0] == '#')
        throw InputError(path, reader.Number() + 1, 1, "missing header line of channel names");
    const int headerLine = reader.Number();
    const auto header = SplitFields(line, ',');
    for (std::size_t k = 0; k < header.size(); ++k) {
        std::string name = header[k].text, unit;
        if (const auto open = name.find('['); open != std::string::npos) {
            const auto close = name.find(']', open);
            if (close == std::string::npos)
                throw InputError(path, headerLine, header[k].column + static_cast<int>(open), "unit without a closing ]");
            unit = Trim(name.substr(open + 1, close - open - 1));
            name = Trim(name.substr(0, open));
        }
        if (name.empty()) throw InputError(path, headerLine, header[k].column, "empty channel name");
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        if (k == 0 && (lower == "time" || lower == "t")) {
            file.timeColumns = 1;
            continue;
        }
        for (const auto& c : file.channels)
            if (c.name == name) throw InputError(path, headerLine, header[k].column, "channel \"" + name + "\" named twice");
        RecordedChannel c;
        c.name = name;
        c.unit = unit;
        file.channels.push_back(c);
    }
    file.firstDataLine = static_cast<std::size_t>(headerLine);
    std::vector<double> times;
    while (reader.Next(line)) {
        if (Trim(line).empty()) continue;
        ++file.length;
        if (file.timeColumns == 1 && times.size() < 2)
            times.push_back(ParseNumber(path, reader.Number(), SplitFields(line, ',')[0], "the time"));
    }
    file.sampleRate = rateOverride > 0.0 ? rateOverride : statedRate;
    if (file.sampleRate <= 0.0 && times.size() == 2 && times[1] > times[0]) file.sampleRate = 1.0 / (times[1] - times[0]);
    if (file.sampleRate <= 0.0)
        throw InputError(path, headerLine, 1, "no sample rate: add a line \"# rate N\", a time column, or --rate N");
    if (file.length == 0) throw InputError(path, headerLine, 1, "the recording has no samples");
    return file;
}

void StreamCsv(const RecordingFile& file, const std::vector<std::size_t>& chosen, std::size_t from, std::size_t to,
               const SampleSink& sink) {
    LineReader reader(file.path);
    std::string line;
    for (std::size_t k = 0; k < file.firstDataLine; ++k) reader.Next(line);
    const std::size_t fields = file.channels.size() + static_cast<std::size_t>(file.timeColumns);
    ChunkWriter out(chosen.size(), from, sink);
    for (std::size_t position = 0; position < to && reader.Next(line);) {
        if (Trim(line).empty()) continue;
        if (position++ < from) continue;
        const auto f = SplitFields(line, ',');
        if (f.size() != fields)
            throw InputError(file.path, reader.Number(), f.back().column,
                             "expected " + std::to_string(fields) + " values, found " + std::to_string(f.size()));
        for (std::size_t k = 0; k < chosen.size(); ++k)
            out.Set(k, static_cast<float>(ParseNumber(file.path, reader.Number(),
                                                      f[chosen[k] + static_cast<std::size_t>(file.timeColumns)], "a sample")));
        out.EndRow();
    }
    out.Flush();
}

}  // namespace

const RecordedChannel* Recording::Find(const std::string& name) const {
    for (const RecordedChannel& c : channels)
        if (c.name == name) return &c;
    return nullptr;
}

std::vector<std::string> RecordingFile::Names() const {
    std::vector<std::string> names;
    for (const auto& c : channels) names.push_back(c.name);
    return names;
}

RecordingFile OpenRecording(const std::string& path, double rateOverride) {
    const bool cfg = EndsWithNoCase(path, ".cfg"), dat = EndsWithNoCase(path, ".dat");
    if ((cfg || dat) && rateOverride > 0.0)
        throw InputError("command line", 0, 0, "--rate is for CSV files: " + path + " states its own rate in its .cfg");
    if (cfg) return DescribeComtrade(path);
    if (dat) return DescribeComtrade(ReplaceExtension(path, ".cfg"));
    return DescribeCsv(path, rateOverride);
}

RecordingFile DescribeRecording(const Recording& recording) {
    RecordingFile file;
    file.path = "(built-in)";
    file.sampleRate = recording.sampleRate;
    file.lineFrequency = recording.lineFrequency;
    file.startTime = recording.startTime;
    file.triggerTime = recording.triggerTime;
    file.length = recording.Length();
    for (const auto& c : recording.channels) {
        RecordedChannel d = c;
        d.samples.clear();
        file.channels.push_back(d);
    }
    file.memory = &recording;
    return file;
}

void StreamSamples(const RecordingFile& file, const std::vector<std::size_t>& channels, std::size_t from,
                   std::size_t to, const SampleSink& sink) {
    to = std::min(to, file.length);
    if (from >= to) return;
    switch (file.kind) {
        case RecordingFile::Kind::Csv: return StreamCsv(file, channels, from, to, sink);
        case RecordingFile::Kind::Comtrade:
            if (file.type == ComtradeData::Ascii) return StreamComtradeAscii(file, channels, from, to, sink);
            return StreamComtradeBinary(file, channels, from, to, sink);
        case RecordingFile::Kind::Memory:
            for (std::size_t first = from; first < to; first += kChunk) {
                std::vector<const float*> values;
                for (std::size_t k : channels) values.push_back(file.memory->channels[k].samples.data() + first);
                sink(values, first, std::min(kChunk, to - first));
            }
            return;
    }
}

Recording ReadRecording(const std::string& path, double rateOverride) {
    const RecordingFile file = OpenRecording(path, rateOverride);
    Recording recording;
    recording.sampleRate = file.sampleRate;
    recording.lineFrequency = file.lineFrequency;
    recording.startTime = file.startTime;
    recording.triggerTime = file.triggerTime;
    recording.channels = file.channels;
    std::vector<std::size_t> all(file.channels.size());
    for (std::size_t k = 0; k < all.size(); ++k) {
        all[k] = k;
        recording.channels[k].samples.reserve(file.length);
    }
    StreamSamples(file, all, 0, file.length, [&](const std::vector<const float*>& values, std::size_t, std::size_t count) {
        for (std::size_t k = 0; k < values.size(); ++k)
            recording.channels[k].samples.insert(recording.channels[k].samples.end(), values[k], values[k] + count);
    });
    return recording;
}

const char* const kNoStartTime = "01/01/1970,00:00:00.000000";

Recording ReadCsv(const std::string& path, double rateOverride) {
    if (EndsWithNoCase(path, ".cfg") || EndsWithNoCase(path, ".dat")) throw InputError(path, 0, 0, "not a CSV file");
    return ReadRecording(path, rateOverride);
}

std::string FormatChannelList(const RecordingFile& file) {
    std::ostringstream out;
    out << std::setprecision(10) << file.path << ": " << file.channels.size() << " channels, " << file.length
        << " samples at " << file.sampleRate << " S/s ("
        << std::setprecision(6) << static_cast<double>(file.length) / file.sampleRate << " s)";
    if (file.lineFrequency > 0.0)
        out << ", line frequency " << file.lineFrequency << " Hz, " << std::setprecision(8)
            << file.sampleRate / file.lineFrequency << " samples per cycle";
    out << "\n\n";
    std::vector<std::vector<std::string>> rows = {{"#", "name", "unit", "phase", "kind", "scaling"}};
    for (std::size_t k = 0; k < file.channels.size(); ++k) {
        const RecordedChannel& c = file.channels[k];
        std::ostringstream scaling;
        scaling << std::setprecision(9);
        if (c.digital) scaling << "0/1";
        else if (file.kind == RecordingFile::Kind::Comtrade) {
            scaling << c.a << " x raw";
            if (c.b != 0.0) scaling << (c.b < 0.0 ? " - " : " + ") << std::fabs(c.b);
            if (c.factor != 1.0) scaling << ", secondary x " << c.factor;
        } else scaling << "as written";
        const std::string phase = Trim(c.phase + " " + c.circuit);
        rows.push_back({"#" + std::to_string(k + 1), "\"" + c.name + "\"", c.unit.empty() ? "-" : c.unit,
                        phase.empty() ? "-" : phase, c.digital ? "digital" : "analog", scaling.str()});
    }
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t k = 0; k < row.size(); ++k) widths[k] = std::max(widths[k], row[k].size());
    for (const auto& row : rows) {
        for (std::size_t k = 0; k < row.size(); ++k)
            out << (k ? "  " : "") << std::left << std::setw(k + 1 == row.size() ? 0 : static_cast<int>(widths[k])) << row[k];
        out << "\n";
    }
    return out.str();
}

namespace {

// Analog channels first, then the digital ones, as the configuration lists them.
std::vector<std::size_t> ComtradeOrder(const Recording& r) {
    std::vector<std::size_t> order;
    for (int digital = 0; digital < 2; ++digital)
        for (std::size_t k = 0; k < r.channels.size(); ++k)
            if (r.channels[k].digital == (digital == 1)) order.push_back(k);
    return order;
}

std::string ComtradeConfig(const Recording& r, ComtradeData type, int revision, const std::vector<double>& a) {
    static const char* const kTypes[] = {"ASCII", "BINARY", "BINARY32", "FLOAT32"};
    const std::vector<std::size_t> order = ComtradeOrder(r);
    const auto digitals = static_cast<std::size_t>(
        std::count_if(r.channels.begin(), r.channels.end(), [](const RecordedChannel& c) { return c.digital; }));
    std::ostringstream cfg;
    cfg << std::setprecision(9);
    cfg << "Ampora host,ampora-host," << revision << "\r\n";
    cfg << r.channels.size() << "," << r.channels.size() - digitals << "A," << digitals << "D\r\n";
    for (std::size_t n = 0; n < order.size(); ++n) {
        const auto& c = r.channels[order[n]];
        const std::size_t number = c.digital ? n + 1 + digitals - r.channels.size() : n + 1;
        cfg << number << "," << c.name << "," << c.phase << "," << c.circuit << ",";
        if (c.digital) cfg << "0\r\n";
        else cfg << c.unit << "," << a[order[n]] << ",0,0,-2147483647,2147483647,1,1,P\r\n";
    }
    cfg << r.lineFrequency << "\r\n1\r\n" << r.sampleRate << "," << r.Length() << "\r\n";
    cfg << (r.startTime.empty() ? kNoStartTime : r.startTime) << "\r\n"
        << (r.triggerTime.empty() ? kNoStartTime : r.triggerTime) << "\r\n";
    cfg << kTypes[static_cast<int>(type)] << "\r\n1\r\n";
    if (revision >= 2013) cfg << "+0,+0\r\n0,0\r\n";
    return cfg.str();
}

template <class T>
void AppendLittle(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

// One sample of every channel in the data file's form.
void AppendComtradeSample(std::string& data, const Recording& r, const std::vector<std::size_t>& order,
                          ComtradeData type, const std::vector<double>& a, std::size_t n) {
    const auto stamp = static_cast<uint32_t>(std::llround(static_cast<double>(n) * 1e6 / r.sampleRate));
    if (type == ComtradeData::Ascii) data += std::to_string(n + 1) + "," + std::to_string(stamp);
    else {
        AppendLittle<uint32_t>(data, static_cast<uint32_t>(n + 1));
        AppendLittle<uint32_t>(data, stamp);
    }
    uint16_t word = 0;
    int bits = 0;
    for (std::size_t k : order) {
        const double v = r.channels[k].samples[n];
        if (r.channels[k].digital) {
            if (type == ComtradeData::Ascii) data += v != 0.0 ? ",1" : ",0";
            word = static_cast<uint16_t>(word | (v != 0.0 ? 1u << bits : 0u));
            if (++bits == 16 && type != ComtradeData::Ascii) AppendLittle<uint16_t>(data, word);
            if (bits == 16) word = 0, bits = 0;
            continue;
        }
        const long long x = std::llround(v / a[k]);
        switch (type) {
            case ComtradeData::Ascii: data += "," + std::to_string(x); break;
            case ComtradeData::Binary: AppendLittle<int16_t>(data, static_cast<int16_t>(x)); break;
            case ComtradeData::Binary32: AppendLittle<int32_t>(data, static_cast<int32_t>(x)); break;
            case ComtradeData::Float32: AppendLittle<float>(data, static_cast<float>(v)); break;
        }
    }
    if (bits > 0 && type != ComtradeData::Ascii) AppendLittle<uint16_t>(data, word);
    if (type == ComtradeData::Ascii) data += "\r\n";
}

// Writes what produce() writes into a temporary file renamed into place.
void WriteAtomically(const std::string& path, const std::function<void(std::ofstream&)>& produce) {
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        produce(out);
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            throw InputError(path, 0, 0, "cannot write the file");
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw InputError(path, 0, 0, std::string("cannot write the file (") + std::strerror(errno) + ")");
    }
}

}  // namespace

void WriteComtrade(const Recording& r, const std::string& path, ComtradeData type, int revision) {
    // Integer types use the full range of their width; FLOAT32 stores the values.
    const double range = type == ComtradeData::Binary ? 32767.0
                         : type == ComtradeData::Ascii ? 99999.0 : 2147483000.0;
    std::vector<double> a;
    for (const auto& c : r.channels) {
        double peak = 0.0;
        for (float v : c.samples) peak = std::max(peak, std::fabs(static_cast<double>(v)));
        a.push_back(type == ComtradeData::Float32 || peak == 0.0 ? 1.0 : peak / range);
    }
    const std::vector<std::size_t> order = ComtradeOrder(r);
    WriteAtomically(path + ".dat", [&](std::ofstream& out) {
        std::string data;
        for (std::size_t n = 0; n < r.Length(); ++n) {
            AppendComtradeSample(data, r, order, type, a, n);
            if (data.size() >= (std::size_t(1) << 20) || n + 1 == r.Length()) {
                out.write(data.data(), static_cast<std::streamsize>(data.size()));
                data.clear();
            }
        }
    });
    WriteFileAtomically(path + ".cfg", ComtradeConfig(r, type, revision, a));
}

void WriteCsv(const Recording& r, const std::string& path) {
    std::ostringstream out;
    out << std::setprecision(9) << "# rate " << r.sampleRate << "\n";
    if (r.lineFrequency > 0.0) out << "# line-frequency " << r.lineFrequency << "\n";
    out << "time [s]";
    for (const auto& c : r.channels) out << "," << c.name << (c.unit.empty() ? "" : " [" + c.unit + "]");
    out << "\n";
    for (std::size_t n = 0; n < r.Length(); ++n) {
        out << n / r.sampleRate;
        for (const auto& c : r.channels) out << "," << c.samples[n];
        out << "\n";
    }
    WriteFileAtomically(path, out.str());
}

void WriteFileAtomically(const std::string& path, const std::string& text) {
    WriteAtomically(path, [&](std::ofstream& out) { out.write(text.data(), static_cast<std::streamsize>(text.size())); });
}
