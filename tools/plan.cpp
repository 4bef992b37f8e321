#include "plan.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "frame/channel_info.h"
#include "hostkit/record_fields.h"
#include "input_error.h"

namespace {

// ---- Record fields by name (hostkit/record_fields.h) ----

const FieldLayout* FindField(const std::string& name) { return FindRecordField(name); }

// ---- Tokens of one line ----

struct Token {
    std::string text;
    int column;
    bool word;            // false for the punctuation = ( ) ,
    bool quoted = false;  // written in double quotes: a name, whatever it holds
};

// Words, the punctuation = ( ) , and "quoted names". A # followed by a digit
// is a channel by its number (#9); any other # begins a comment.
std::vector<Token> Tokenize(const std::string& line, const std::string& file, int number) {
    std::vector<Token> tokens;
    std::size_t k = 0;
    while (k < line.size()) {
        const char c = line[k];
        const bool reference = c == '#' && k + 1 < line.size() && std::isdigit(static_cast<unsigned char>(line[k + 1]));
        if (c == '#' && !reference) break;
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++k;
        } else if (c == '"') {
            const std::size_t close = line.find('"', k + 1);
            if (close == std::string::npos) throw InputError(file, number, static_cast<int>(k) + 1, "name without a closing quote");
            if (close == k + 1) throw InputError(file, number, static_cast<int>(k) + 1, "empty name");
            tokens.push_back({line.substr(k + 1, close - k - 1), static_cast<int>(k) + 1, true, true});
            k = close + 1;
        } else if (std::strchr("=(),", c) != nullptr) {
            tokens.push_back({std::string(1, c), static_cast<int>(k) + 1, false});
            ++k;
        } else {
            const std::size_t begin = k;
            if (reference) ++k;
            while (k < line.size() && !std::isspace(static_cast<unsigned char>(line[k])) &&
                   std::strchr("=(),#\"", line[k]) == nullptr)
                ++k;
            tokens.push_back({line.substr(begin, k - begin), static_cast<int>(begin) + 1, true});
        }
    }
    return tokens;
}

class LineParser {
public:
    LineParser(const std::string& file, int line, std::vector<Token> tokens, int endColumn)
        : file_(file), line_(line), tokens_(std::move(tokens)), endColumn_(endColumn) {}

    [[noreturn]] void Fail(int column, const std::string& message) const {
        throw InputError(file_, line_, column, message);
    }
    [[noreturn]] void Fail(const Token& token, const std::string& message) const { Fail(token.column, message); }

    bool AtEnd() const { return next_ >= tokens_.size(); }
    const Token& Peek() const {
        if (AtEnd()) Fail(endColumn_, "unexpected end of line");
        return tokens_[next_];
    }
    bool PeekIs(const std::string& text, std::size_t ahead = 0) const {
        return next_ + ahead < tokens_.size() && tokens_[next_ + ahead].text == text;
    }
    const Token& Take() {
        const Token& t = Peek();
        ++next_;
        return t;
    }
    const Token& Expect(const std::string& text) {
        const Token& t = Peek();
        if (t.text != text) Fail(t, "expected \"" + text + "\", found \"" + t.text + "\"");
        return Take();
    }
    const Token& Word(const char* what) {
        const Token& t = Peek();
        if (!t.word) Fail(t, std::string("expected ") + what + ", found \"" + t.text + "\"");
        return Take();
    }

    double Number(const Token& t, const char* what) const {
        char* end = nullptr;
        errno = 0;
        const double value = std::strtod(t.text.c_str(), &end);
        if (!t.word || end == t.text.c_str() || *end != '\0' || errno == ERANGE || !std::isfinite(value))
            Fail(t, std::string("malformed number for ") + what + ": \"" + t.text + "\"");
        return value;
    }
    long Integer(const Token& t, const char* what) const {
        const double value = Number(t, what);
        if (value != std::floor(value) || std::fabs(value) > 2147483647.0)
            Fail(t, std::string("expected a whole number for ") + what + ": \"" + t.text + "\"");
        return static_cast<long>(value);
    }
    // value {, value}
    std::vector<const Token*> List() {
        std::vector<const Token*> values{&Word("a value")};
        while (PeekIs(",")) {
            Take();
            values.push_back(&Word("a value"));
        }
        return values;
    }

private:
    std::string file_;
    int line_;
    std::vector<Token> tokens_;
    int endColumn_;
    std::size_t next_ = 0;
};

bool IsPowerOfTwo(long n) { return n >= 2 && (n & (n - 1)) == 0; }

// "cycle", "1cycle", "4cycles": the number of cycles; 0 for any other text.
int Cycles(const std::string& text) {
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
    const std::string unit = text.substr(digits);
    if (unit != "cycle" && unit != "cycles") return 0;
    if (digits == 0) return 1;
    if (digits > 6) return 0;
    return std::atoi(text.substr(0, digits).c_str());
}

// Edits that turn a into b, letter case aside.
std::size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) == std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

FieldSetting ParseFieldValue(LineParser& p, const Token& key, const FieldLayout& layout) {
    FieldSetting setting{key.text, {}};
    for (const Token* t : p.List()) setting.values.push_back(p.Number(*t, key.text.c_str()));
    if (static_cast<int>(setting.values.size()) > layout.slots)
        p.Fail(key, key.text + " holds " + std::to_string(layout.slots) + " value" + (layout.slots > 1 ? "s" : "") +
                        ", given " + std::to_string(setting.values.size()));
    return setting;
}

std::string ArgumentNames(const ExportShape& shape) {
    std::string names;
    for (const ExportArgument& a : shape.arguments)
        if (a.fromPlan) names += (names.empty() ? "" : ", ") + a.name;
    return names.empty() ? "none" : names;
}

class PlanParser {
public:
    PlanParser(const std::string& file, const std::vector<std::string>& recorded) : file_(file), recorded_(recorded) {
        plan_.file = file;
    }

    // The channels the plan defines and their lines, so a use above a definition names it.
    void CollectDefinition(int number, const std::string& text) {
        const std::vector<Token> tokens = Tokenize(text, file_, number);
        if (tokens.size() >= 2 && tokens[0].word && tokens[1].text == "=" && !tokens[1].word)
            laterLines_.emplace(tokens[0].text, number);
    }

    void Line(int number, const std::string& text) {
        LineParser p(file_, number, Tokenize(text, file_, number), static_cast<int>(text.size()) + 1);
        if (p.AtEnd()) return;
        const Token& first = p.Word("a channel name or a keyword");
        const bool keyword = !first.quoted && !p.PeekIs("=");
        if (keyword && first.text == "block") {
            const Token& value = p.Word("the block length");
            const long n = p.Integer(value, "the block length");
            if (n < 1) p.Fail(value, "the block length must be at least 1");
            plan_.block = static_cast<int>(n);
        } else if (keyword && first.text == "rate") {
            const Token& value = p.Word("the sample rate");
            plan_.rate = p.Number(value, "the sample rate");
            if (plan_.rate <= 0.0) p.Fail(value, "the sample rate must be positive");
        } else if (keyword && first.text == "set") {
            Settings(p, number);
        } else {
            Channel(p, first, number);
            return;
        }
        if (!p.AtEnd()) p.Fail(p.Peek(), "unexpected \"" + p.Peek().text + "\"");
    }

    Plan Finish() { return std::move(plan_); }

private:
    // A channel by its quoted or plain name, or by its number in the recording.
    ChannelRef Resolve(const LineParser& p, const Token& t) const {
        if (!t.quoted && t.text.size() > 1 && t.text[0] == '#') {
            char* end = nullptr;
            const long number = std::strtol(t.text.c_str() + 1, &end, 10);
            if (*end != '\0' || number < 1 || number > static_cast<long>(recorded_.size()))
                p.Fail(t, "no channel " + t.text + ": the recording has channels #1 to #" + std::to_string(recorded_.size()));
            return {recorded_[static_cast<std::size_t>(number - 1)], static_cast<int>(number - 1), -1};
        }
        for (std::size_t k = 0; k < plan_.channels.size(); ++k)
            if (plan_.channels[k].name == t.text) return {t.text, -1, static_cast<int>(k)};
        std::vector<std::string> numbers;
        for (std::size_t k = 0; k < recorded_.size(); ++k)
            if (recorded_[k] == t.text) numbers.push_back("#" + std::to_string(k + 1));
        if (numbers.size() == 1) return {t.text, std::atoi(numbers[0].c_str() + 1) - 1, -1};
        if (numbers.size() > 1) {
            std::string list;
            for (const auto& n : numbers) list += (list.empty() ? "" : ", ") + n;
            p.Fail(t, "\"" + t.text + "\" names channels " + list + ": name one by its number");
        }
        if (auto later = laterLines_.find(t.text); later != laterLines_.end())
            p.Fail(t, "channel \"" + t.text + "\" is computed on line " + std::to_string(later->second) +
                          ", below its use: a channel must be computed before a line uses it");
        p.Fail(t, "unknown channel \"" + t.text + "\"" + Closest(t.text));
    }

    // The three existing names nearest to an unknown one, for the message.
    std::string Closest(const std::string& name) const {
        std::vector<std::pair<std::size_t, std::string>> ranked;
        for (std::size_t k = 0; k < recorded_.size(); ++k)
            ranked.emplace_back(Distance(name, recorded_[k]), "\"" + recorded_[k] + "\" (#" + std::to_string(k + 1) + ")");
        for (const PlanChannel& c : plan_.channels) ranked.emplace_back(Distance(name, c.name), "\"" + c.name + "\"");
        std::stable_sort(ranked.begin(), ranked.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::string text;
        for (std::size_t k = 0; k < ranked.size() && k < 3; ++k) text += (k ? ", " : "; closest: ") + ranked[k].second;
        return text;
    }

    bool Defined(const std::string& name) const {
        return std::find(recorded_.begin(), recorded_.end(), name) != recorded_.end() ||
               std::any_of(plan_.channels.begin(), plan_.channels.end(), [&](const PlanChannel& c) { return c.name == name; });
    }

    void Settings(LineParser& p, int number) {
        const Token& channel = p.Word("a channel name");
        RecordSettings settings{Resolve(p, channel), {}, number};
        while (!p.AtEnd()) {
            const Token& key = p.Word("a field name");
            const FieldLayout* layout = FindField(key.text);
            if (layout == nullptr) p.Fail(key, "unknown record field \"" + key.text + "\"");
            p.Expect("=");
            settings.fields.push_back(ParseFieldValue(p, key, *layout));
        }
        plan_.settings.push_back(settings);
    }

    void Channel(LineParser& p, const Token& name, int number) {
        if (Defined(name.text)) p.Fail(name, "channel \"" + name.text + "\" is defined twice");
        PlanChannel c;
        c.name = name.text;
        c.label = name.text;
        c.line = number;
        p.Expect("=");
        const Token& exportName = p.Word("an export name");
        c.shape = FindExport(exportName.text);
        if (c.shape == nullptr) p.Fail(exportName, "unknown export \"" + exportName.text + "\"");
        Arguments(p, c, exportName);
        if (p.PeekIs("from")) {
            p.Take();
            while (!p.AtEnd() && p.Peek().word && !p.PeekIs("=", 1) && (p.Peek().quoted || p.Peek().text != "plot")) {
                const Token& source = p.Take();
                c.sources.push_back(Resolve(p, source));
                // Whole-record channels are computed after the block phase, too late for a block export.
                const int k = c.sources.back().computed;
                if (c.shape->kind == ExportKind::Block && k >= 0 &&
                    plan_.channels[static_cast<std::size_t>(k)].shape->kind == ExportKind::WholeRecord)
                    p.Fail(source, "\"" + source.text + "\" is a whole-record channel, computed after the block phase: "
                                   "the block export " + c.shape->name + " cannot read it");
            }
        }
        CheckSourceCount(p, c, exportName);
        while (!p.AtEnd()) {
            const Token& key = p.Word("a setting");
            if (key.text == "plot") {
                c.plot = true;
                continue;
            }
            p.Expect("=");
            Setting(p, c, key);
        }
        plan_.channels.push_back(std::move(c));
    }

    void Arguments(LineParser& p, PlanChannel& c, const Token& exportName) {
        p.Expect("(");
        std::vector<const Token*> values;
        if (!p.PeekIs(")")) values = p.List();
        const Token& close = p.Expect(")");
        std::vector<const ExportArgument*> wanted;
        for (const ExportArgument& a : c.shape->arguments)
            if (a.fromPlan) wanted.push_back(&a);
        if (values.size() != wanted.size())
            p.Fail(values.size() > wanted.size() ? values[wanted.size()]->column : close.column,
                   "wrong argument count: " + exportName.text + " takes " + std::to_string(wanted.size()) +
                       " (" + ArgumentNames(*c.shape) + "), given " + std::to_string(values.size()));
        for (std::size_t k = 0; k < values.size(); ++k) {
            const ExportArgument& a = *wanted[k];
            const Token& t = *values[k];
            ArgumentValue v;
            v.type = a.type;
            const bool window = a.name == "fftSize" || a.name == "windowSize";
            if (const int cycles = Cycles(t.text); cycles > 0) {
                if (!window) p.Fail(t, "cycles stand for a window length (fftSize, windowSize), not for " + a.name);
                c.cycleArguments.push_back({k, cycles, t.column});
                c.planArguments.push_back(v);
                continue;
            }
            if (a.type == 'i') v.i = static_cast<int32_t>(p.Integer(t, a.name.c_str()));
            else if (a.type == 'f') v.f = static_cast<float>(p.Number(t, a.name.c_str()));
            else v.d = p.Number(t, a.name.c_str());
            // The library ends the process on such a window, or reduces it
            // with a stride that does not fit it; the host refuses it first.
            if (a.name == "fftSize") {
                if (v.i < 4) p.Fail(t, "window length " + t.text + " is below 4");
                if (!IsPowerOfTwo(v.i)) p.Fail(t, "window length " + t.text + " is not a power of two");
            }
            if (a.name == "windowSize" && v.i < 1) p.Fail(t, "window length " + t.text + " is below 1");
            c.planArguments.push_back(v);
        }
    }

    void CheckSourceCount(LineParser& p, PlanChannel& c, const Token& exportName) {
        const int given = static_cast<int>(c.sources.size());
        const int wanted = c.shape->sources;
        // The status exports take the two channels listed just before them.
        if (c.shape->lookup == SourceLookup::BeforeTarget && given == 2) {
            const int n = static_cast<int>(plan_.channels.size());
            if (n < 2 || c.sources[0].computed != n - 2 || c.sources[1].computed != n - 1)
                p.Fail(exportName, exportName.text + " reads the two channels listed just before it: define " +
                                       c.sources[0].name + " and " + c.sources[1].name + " on the two lines above");
        }
        if (wanted >= 0 && given != wanted)
            p.Fail(exportName, exportName.text + " takes " + std::to_string(wanted) + " source" +
                                   (wanted == 1 ? "" : "s") + ", given " + std::to_string(given));
    }

    void Setting(LineParser& p, PlanChannel& c, const Token& key) {
        if (const FieldLayout* layout = FindField(key.text)) {
            c.fields.push_back(ParseFieldValue(p, key, *layout));
            c.fieldsSet.push_back(key.text);
            return;
        }
        for (const ExportArgument& a : c.shape->arguments)
            if (!a.fromPlan && a.name == key.text && a.type != 'b' && a.type != 'p') {
                const Token& value = p.Word("a value");
                c.hostArgumentOverrides[key.text] = p.Number(value, key.text.c_str());
                return;
            }
        if (key.text == "unit") {
            c.unit = p.Word("a unit").text;
        } else if (key.text == "label") {
            c.label = p.Word("a label").text;
        } else if (key.text == "expect") {
            const Token& value = p.Word("the expected value");
            c.expect = p.Number(value, "the expected value");
        } else if (key.text == "tol") {
            const Token& value = p.Word("the tolerance");
            std::string text = value.text;
            c.tolerance.relative = !text.empty() && text.back() == '%';
            if (c.tolerance.relative) text.pop_back();
            const double tol = p.Number({text, value.column, true}, "the tolerance");
            if (tol < 0.0) p.Fail(value, "the tolerance must not be negative");
            c.tolerance.value = c.tolerance.relative ? tol / 100.0 : tol;
        } else if (key.text == "report") {
            const Token& value = p.Word("mean, rms or last");
            if (value.text == "mean") c.statistic = Statistic::Mean;
            else if (value.text == "rms") c.statistic = Statistic::Rms;
            else if (value.text == "last") c.statistic = Statistic::Last;
            else p.Fail(value, "expected mean, rms or last, found \"" + value.text + "\"");
        } else if (key.text == "of") {
            c.summaryOf = Resolve(p, p.Word("a channel name"));
        } else if (key.text == "puParams") {
            for (const Token* t : p.List()) c.puParams.push_back(static_cast<float>(p.Number(*t, "puParams")));
        } else {
            p.Fail(key, "unknown setting \"" + key.text + "\" for " + c.shape->name);
        }
    }

    std::string file_;
    std::vector<std::string> recorded_;
    std::map<std::string, int> laterLines_;
    Plan plan_;
};

}  // namespace

Plan ParsePlan(const std::string& text, const std::string& file, const std::vector<std::string>& recorded) {
    PlanParser parser(file, recorded);
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    for (std::size_t k = 0; k < lines.size(); ++k) parser.CollectDefinition(static_cast<int>(k) + 1, lines[k]);
    for (std::size_t k = 0; k < lines.size(); ++k) parser.Line(static_cast<int>(k) + 1, lines[k]);
    return parser.Finish();
}

std::vector<int> Plan::UsedRecorded() const {
    std::vector<int> used;
    auto Use = [&](const ChannelRef& r) {
        if (r.recorded >= 0) used.push_back(r.recorded);
    };
    for (const PlanChannel& c : channels) {
        for (const ChannelRef& r : c.sources) Use(r);
        if (c.summaryOf) Use(*c.summaryOf);
    }
    for (const RecordSettings& s : settings) Use(s.channel);
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    return used;
}

void ResolveCycles(Plan& plan, double samplesPerCycle, double rate) {
    for (PlanChannel& c : plan.channels) {
        for (const CycleArgument& a : c.cycleArguments) {
            const std::string written = (a.cycles == 1 ? "a cycle" : std::to_string(a.cycles) + " cycles");
            auto Fail = [&](const std::string& message) { throw InputError(plan.file, c.line, a.column, message); };
            if (samplesPerCycle <= 0.0) Fail("cycles need the line frequency: give --line-frequency HZ");
            const double exact = a.cycles * samplesPerCycle;
            std::ostringstream at;
            at << std::setprecision(8) << written << " is " << exact << " samples at " << rate << " S/s";
            if (std::fabs(exact - std::round(exact)) > 1e-6 * exact)
                Fail(at.str() + ", not a whole number (--resample auto makes a cycle a power-of-two number of samples)");
            // The per-sample exports average over windowSize / divisor samples: that is the length in cycles.
            std::string name;
            for (std::size_t k = 0, plan = 0; k < c.shape->arguments.size(); ++k)
                if (c.shape->arguments[k].fromPlan && plan++ == a.argument) name = c.shape->arguments[k].name;
            const long samples = std::lround(exact);
            if (name == "fftSize" && !IsPowerOfTwo(samples))
                Fail(at.str() + ", not a power of two: " + c.shape->name + " needs one (--resample auto makes it one)");
            c.planArguments[a.argument].i = static_cast<int32_t>(
                name == "windowSize" && c.shape->AverageDivisor() > 0 ? samples * c.shape->AverageDivisor() : samples);
        }
    }
}

Plan ReadPlanFile(const std::string& path, const std::vector<std::string>& recorded) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError(path, 0, 0, "cannot open the file");
    std::ostringstream text;
    text << in.rdbuf();
    return ParsePlan(text.str(), path, recorded);
}

bool IsFieldName(const std::string& name) { return FindField(name) != nullptr; }

bool ApplyField(ChannelInfo* record, const FieldSetting& setting) {
    return StoreRecordField(record, setting.field, setting.values.data(), setting.values.size());
}
