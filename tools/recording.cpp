#include "recording.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <limits>
#include <sstream>

#include "input_error.h"

namespace {

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

// A text file as lines, read whole; an unreadable file is an input error.
std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError(path, 0, 0, "cannot open the file");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

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

long ParseInteger(const std::string& file, int line, const Field& field, const char* what) {
    const double value = ParseNumber(file, line, field, what);
    if (value != std::floor(value) || std::fabs(value) > 2147483647.0)
        throw InputError(file, line, field.column, std::string("expected a whole number for ") + what + ": \"" +
                                                       field.text + "\"");
    return static_cast<long>(value);
}

// "12A" or "3D": the count before the letter.
long ParseCount(const std::string& file, int line, const Field& field, char letter) {
    std::string text = field.text;
    if (text.empty() || std::toupper(static_cast<unsigned char>(text.back())) != letter)
        throw InputError(file, line, field.column, std::string("expected a channel count ending in ") + letter);
    text.pop_back();
    return ParseInteger(file, line, {text, field.column}, "the channel count");
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

struct AnalogDefinition {
    std::string name, unit;
    double a = 1.0, b = 0.0, factor = 1.0;  // factor turns secondary into primary values
};

template <class T>
T ReadLittle(const unsigned char* p) {
    T value;
    std::memcpy(&value, p, sizeof(T));  // the formats are little-endian, as the hosts are
    return value;
}

}  // namespace

const RecordedChannel* Recording::Find(const std::string& name) const {
    for (const RecordedChannel& c : channels)
        if (c.name == name) return &c;
    return nullptr;
}

Recording ReadRecording(const std::string& path, double rateOverride) {
    if (EndsWithNoCase(path, ".cfg")) return ReadComtrade(path);
    if (EndsWithNoCase(path, ".dat")) return ReadComtrade(ReplaceExtension(path, ".cfg"));
    return ReadCsv(path, rateOverride);
}

Recording ReadComtrade(const std::string& cfgPath) {
    const std::vector<std::string> lines = ReadLines(cfgPath);
    std::size_t next = 0;
    auto Line = [&](const char* what) -> std::vector<Field> {
        if (next >= lines.size())
            throw InputError(cfgPath, static_cast<int>(next + 1), 1, std::string("missing line: ") + what);
        return SplitFields(lines[next++]);
    };
    auto Number = [&](const Field& f, const char* what) { return ParseNumber(cfgPath, static_cast<int>(next), f, what); };
    auto Integer = [&](const Field& f, const char* what) { return ParseInteger(cfgPath, static_cast<int>(next), f, what); };
    auto At = [&](const std::vector<Field>& f, std::size_t k, const char* what) -> const Field& {
        return FieldAt(cfgPath, static_cast<int>(next), f, k, what);
    };

    const auto station = Line("station and revision year");
    int revision = 1991;
    if (station.size() >= 3 && !station[2].text.empty())
        revision = static_cast<int>(Integer(station[2], "the revision year"));
    const auto counts = Line("channel counts");
    const long total = Integer(At(counts, 0, "total channel count"), "the total channel count");
    const long analogCount = ParseCount(cfgPath, static_cast<int>(next), At(counts, 1, "analog count"), 'A');
    const long digitalCount = ParseCount(cfgPath, static_cast<int>(next), At(counts, 2, "digital count"), 'D');
    if (analogCount + digitalCount != total || analogCount < 0 || digitalCount < 0)
        throw InputError(cfgPath, static_cast<int>(next), counts[0].column,
                         "the channel counts do not add up: " + std::to_string(total) + " is not " +
                             std::to_string(analogCount) + " + " + std::to_string(digitalCount));

    std::vector<AnalogDefinition> analogs;
    for (long k = 0; k < analogCount; ++k) {
        const auto f = Line("analog channel");
        AnalogDefinition d;
        d.name = At(f, 1, "channel name").text;
        d.unit = At(f, 4, "unit").text;
        d.a = Number(At(f, 5, "multiplier a"), "the multiplier a");
        d.b = Number(At(f, 6, "offset b"), "the offset b");
        if (f.size() >= 13 && !f[12].text.empty()) {
            const double primary = Number(f[10], "the primary factor");
            const double secondary = Number(f[11], "the secondary factor");
            const char ps = static_cast<char>(std::toupper(static_cast<unsigned char>(f[12].text[0])));
            if (ps != 'P' && ps != 'S')
                throw InputError(cfgPath, static_cast<int>(next), f[12].column, "expected P or S, not \"" + f[12].text + "\"");
            if (ps == 'S') {
                if (secondary == 0.0)
                    throw InputError(cfgPath, static_cast<int>(next), f[11].column, "the secondary factor is zero");
                d.factor = primary / secondary;
            }
        }
        analogs.push_back(d);
    }
    std::vector<std::string> digitals;
    for (long k = 0; k < digitalCount; ++k) {
        const auto f = Line("digital channel");
        digitals.push_back(At(f, 1, "channel name").text);
    }
    Line("line frequency");
    const auto rates = Line("number of sample rates");
    const long nrates = Integer(At(rates, 0, "number of sample rates"), "the number of sample rates");
    double rate = 0.0;
    long samples = 0;
    for (long k = 0; k < std::max(nrates, 1L); ++k) {
        const auto f = Line("sample rate and last sample");
        const double samp = Number(At(f, 0, "sample rate"), "the sample rate");
        if (k > 0 && samp != rate)
            throw InputError(cfgPath, static_cast<int>(next), f[0].column,
                             "several sample rates in one recording are not supported");
        rate = samp;
        samples = Integer(At(f, 1, "last sample number"), "the last sample number");
    }
    Line("start time");
    const std::string startTime = Trim(lines[next - 1]);  // kept as written, for the curves' record
    Line("trigger time");
    const std::string triggerTime = Trim(lines[next - 1]);
    const auto typeLine = Line("data file type");
    std::string type = At(typeLine, 0, "data file type").text;
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::toupper(c); });
    ComtradeData dataType;
    if (type == "ASCII") dataType = ComtradeData::Ascii;
    else if (type == "BINARY") dataType = ComtradeData::Binary;
    else if (type == "BINARY32") dataType = ComtradeData::Binary32;
    else if (type == "FLOAT32") dataType = ComtradeData::Float32;
    else throw InputError(cfgPath, static_cast<int>(next), typeLine[0].column, "unknown data file type \"" + typeLine[0].text + "\"");
    (void)revision;
    if (nrates < 1 || rate <= 0.0)
        throw InputError(cfgPath, static_cast<int>(next), 1, "the recording states no sample rate");

    Recording recording;
    recording.sampleRate = rate;
    recording.startTime = startTime;
    recording.triggerTime = triggerTime;
    for (const auto& d : analogs) recording.channels.push_back({d.name, d.unit, {}});
    for (const auto& name : digitals) recording.channels.push_back({name, "", {}});
    const std::string datPath = ReplaceExtension(cfgPath, dataType == ComtradeData::Ascii ? ".dat" : ".dat");
    auto Store = [&](std::size_t k, double raw) {
        const AnalogDefinition& d = analogs[k];
        recording.channels[k].samples.push_back(static_cast<float>((d.a * raw + d.b) * d.factor));
    };
    auto StoreDigital = [&](std::size_t k, int bit) {
        recording.channels[analogs.size() + k].samples.push_back(static_cast<float>(bit));
    };

    if (dataType == ComtradeData::Ascii) {
        const std::vector<std::string> data = ReadLines(datPath);
        for (std::size_t n = 0; n < data.size(); ++n) {
            if (Trim(data[n]).empty()) continue;
            const auto f = SplitFields(data[n]);
            const int line = static_cast<int>(n + 1);
            if (f.size() < static_cast<std::size_t>(2 + analogCount + digitalCount))
                throw InputError(datPath, line, f.back().column,
                                 "expected " + std::to_string(2 + analogCount + digitalCount) + " fields, found " +
                                     std::to_string(f.size()));
            for (long k = 0; k < analogCount; ++k)
                Store(k, ParseNumber(datPath, line, f[2 + k], "an analog value"));
            for (long k = 0; k < digitalCount; ++k)
                StoreDigital(k, ParseInteger(datPath, line, f[2 + analogCount + k], "a digital value") != 0);
        }
    } else {
        std::ifstream in(datPath, std::ios::binary);
        if (!in) throw InputError(datPath, 0, 0, "cannot open the file");
        const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t analogWidth = dataType == ComtradeData::Binary ? 2 : 4;
        const std::size_t digitalWords = static_cast<std::size_t>((digitalCount + 15) / 16);
        const std::size_t recordSize = 8 + analogWidth * analogCount + 2 * digitalWords;
        if (bytes.size() % recordSize != 0)
            throw InputError(datPath, 0, 0, "the file size " + std::to_string(bytes.size()) +
                                                " is not a whole number of " + std::to_string(recordSize) + "-byte samples");
        for (std::size_t at = 0; at < bytes.size(); at += recordSize) {
            const unsigned char* p = bytes.data() + at + 8;
            for (long k = 0; k < analogCount; ++k, p += analogWidth) {
                if (dataType == ComtradeData::Binary) Store(k, ReadLittle<int16_t>(p));
                else if (dataType == ComtradeData::Binary32) Store(k, ReadLittle<int32_t>(p));
                else Store(k, ReadLittle<float>(p));
            }
            for (long k = 0; k < digitalCount; ++k)
                StoreDigital(k, (ReadLittle<uint16_t>(p + 2 * (k / 16)) >> (k % 16)) & 1);
        }
    }
    if (!recording.channels.empty() && samples > 0 && recording.Length() < static_cast<std::size_t>(samples))
        throw InputError(datPath, 0, 0, "the configuration announces " + std::to_string(samples) +
                                            " samples, the data file holds " + std::to_string(recording.Length()));
    for (auto& c : recording.channels) c.samples.resize(std::min<std::size_t>(c.samples.size(), samples > 0 ? samples : c.samples.size()));
    return recording;
}

Recording ReadCsv(const std::string& path, double rateOverride) {
    const std::vector<std::string> lines = ReadLines(path);
    Recording recording;
    std::size_t n = 0;
    double statedRate = 0.0;
    // Leading comment lines; "# rate 12800" states the sample rate.
    for (; n < lines.size() && (Trim(lines[n]).empty() || Trim(lines[n])[0] == '#'); ++n) {
        std::istringstream words(Trim(lines[n]).substr(Trim(lines[n]).empty() ? 0 : 1));
        std::string key;
        if (words >> key && key == "rate") {
            std::string value;
            words >> value;
            statedRate = ParseNumber(path, static_cast<int>(n + 1), {value, static_cast<int>(lines[n].find(value)) + 1}, "the rate");
        }
    }
    if (n >= lines.size()) throw InputError(path, static_cast<int>(n + 1), 1, "missing header line of channel names");
    const auto header = SplitFields(lines[n], ',');
    const int headerLine = static_cast<int>(++n);
    int timeColumn = -1;
    std::vector<int> columns;
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
            timeColumn = 0;
            continue;
        }
        for (const auto& c : recording.channels)
            if (c.name == name) throw InputError(path, headerLine, header[k].column, "channel \"" + name + "\" named twice");
        recording.channels.push_back({name, unit, {}});
        columns.push_back(static_cast<int>(k));
    }
    std::vector<double> times;
    for (; n < lines.size(); ++n) {
        if (Trim(lines[n]).empty()) continue;
        const auto f = SplitFields(lines[n], ',');
        const int line = static_cast<int>(n + 1);
        if (f.size() != header.size())
            throw InputError(path, line, f.back().column, "expected " + std::to_string(header.size()) +
                                                              " values, found " + std::to_string(f.size()));
        if (timeColumn == 0) times.push_back(ParseNumber(path, line, f[0], "the time"));
        for (std::size_t k = 0; k < columns.size(); ++k)
            recording.channels[k].samples.push_back(
                static_cast<float>(ParseNumber(path, line, f[columns[k]], "a sample")));
    }
    recording.sampleRate = rateOverride > 0.0 ? rateOverride : statedRate;
    if (recording.sampleRate <= 0.0 && times.size() >= 2 && times[1] > times[0])
        recording.sampleRate = 1.0 / (times[1] - times[0]);
    if (recording.sampleRate <= 0.0)
        throw InputError(path, headerLine, 1, "no sample rate: add a line \"# rate N\", a time column, or --rate N");
    if (recording.Length() == 0) throw InputError(path, headerLine, 1, "the recording has no samples");
    return recording;
}

const char* const kNoStartTime = "01/01/1970,00:00:00.000000";

namespace {

std::string ComtradeConfig(const Recording& r, ComtradeData type, int revision, const std::vector<double>& a) {
    static const char* const kTypes[] = {"ASCII", "BINARY", "BINARY32", "FLOAT32"};
    std::ostringstream cfg;
    cfg << std::setprecision(9);
    cfg << "Ampora host,ampora-host," << revision << "\r\n";
    cfg << r.channels.size() << "," << r.channels.size() << "A,0D\r\n";
    for (std::size_t k = 0; k < r.channels.size(); ++k) {
        const auto& c = r.channels[k];
        cfg << k + 1 << "," << c.name << ",,," << c.unit << "," << a[k] << ",0,0,-2147483647,2147483647,1,1,P\r\n";
    }
    cfg << "50\r\n1\r\n" << r.sampleRate << "," << r.Length() << "\r\n";
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
    std::string data;
    std::ostringstream ascii;
    const double stepMicroseconds = 1e6 / r.sampleRate;
    for (std::size_t n = 0; n < r.Length(); ++n) {
        const auto stamp = static_cast<uint32_t>(std::llround(n * stepMicroseconds));
        if (type == ComtradeData::Ascii) ascii << n + 1 << "," << stamp;
        else {
            AppendLittle<uint32_t>(data, static_cast<uint32_t>(n + 1));
            AppendLittle<uint32_t>(data, stamp);
        }
        for (std::size_t k = 0; k < r.channels.size(); ++k) {
            const double v = r.channels[k].samples[n];
            const long long x = std::llround(v / a[k]);
            switch (type) {
                case ComtradeData::Ascii: ascii << "," << x; break;
                case ComtradeData::Binary: AppendLittle<int16_t>(data, static_cast<int16_t>(x)); break;
                case ComtradeData::Binary32: AppendLittle<int32_t>(data, static_cast<int32_t>(x)); break;
                case ComtradeData::Float32: AppendLittle<float>(data, static_cast<float>(v)); break;
            }
        }
        if (type == ComtradeData::Ascii) ascii << "\r\n";
    }
    if (type == ComtradeData::Ascii) data = ascii.str();
    WriteFileAtomically(path + ".cfg", ComtradeConfig(r, type, revision, a));
    WriteFileAtomically(path + ".dat", data);
}

void WriteCsv(const Recording& r, const std::string& path) {
    std::ostringstream out;
    out << std::setprecision(9) << "# rate " << r.sampleRate << "\ntime [s]";
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
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
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
