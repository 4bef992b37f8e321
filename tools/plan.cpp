#include "plan.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "frame/channel_info.h"
#include "input_error.h"

namespace {

// ---- Record fields by name ----

struct FieldLayout {
    const char* name;
    std::size_t offset;
    char type;  // 'd' f64, 'u' u32, 'f' f32, 'b' u8
    int slots;  // consecutive slots a list may fill
};

#define AMPORA_FIELD(name, type, slots) {#name, offsetof(ChannelInfo, name), type, slots}
const FieldLayout kFields[] = {
    AMPORA_FIELD(MachineKind, 'd', 1),       AMPORA_FIELD(AngleReactanceYJJ, 'd', 1),
    AMPORA_FIELD(AngleReactanceTJJ, 'd', 1), AMPORA_FIELD(EmfReactanceTJJ, 'd', 1),
    AMPORA_FIELD(EmfReactanceYJJ, 'd', 1),   AMPORA_FIELD(ReactanceAddend, 'd', 1),
    AMPORA_FIELD(VoltageBase, 'd', 1),       AMPORA_FIELD(CurrentBase, 'd', 1),
    AMPORA_FIELD(KmTable, 'd', 20),          AMPORA_FIELD(SaturationOn, 'd', 1),
    AMPORA_FIELD(EmfResistance, 'd', 1),     AMPORA_FIELD(AngleOffset, 'd', 1),
    AMPORA_FIELD(RatedSpeed, 'd', 1),        AMPORA_FIELD(KeyLevel, 'd', 1),
    AMPORA_FIELD(DataKind, 'b', 1),          AMPORA_FIELD(UseSource, 'u', 1),
    AMPORA_FIELD(CalcKind, 'u', 1),          AMPORA_FIELD(ResultMax, 'd', 1),
    AMPORA_FIELD(ResultMin, 'd', 1),         AMPORA_FIELD(SummaryValue, 'd', 1),
    AMPORA_FIELD(SummaryAux, 'd', 3),        AMPORA_FIELD(FullScale, 'd', 1),
    AMPORA_FIELD(RatedValue, 'd', 1),        AMPORA_FIELD(Scale, 'd', 1),
    AMPORA_FIELD(CalcCoefA, 'd', 1),         AMPORA_FIELD(CalcCoefB, 'd', 1),
    AMPORA_FIELD(CalcCoefC, 'd', 1),         AMPORA_FIELD(PulsesPerRev, 'd', 1),
    AMPORA_FIELD(PhaseShift, 'd', 1),        AMPORA_FIELD(HarmonicOrder, 'f', 1),
};
#undef AMPORA_FIELD

const FieldLayout* FindField(const std::string& name) {
    for (const FieldLayout& f : kFields)
        if (name == f.name) return &f;
    return nullptr;
}

// ---- Tokens of one line ----

struct Token {
    std::string text;
    int column;
    bool word;  // false for the punctuation = ( ) ,
};

std::vector<Token> Tokenize(const std::string& line) {
    std::vector<Token> tokens;
    std::size_t k = 0;
    while (k < line.size()) {
        const char c = line[k];
        if (c == '#') break;
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++k;
        } else if (std::strchr("=(),", c) != nullptr) {
            tokens.push_back({std::string(1, c), static_cast<int>(k) + 1, false});
            ++k;
        } else {
            const std::size_t begin = k;
            while (k < line.size() && !std::isspace(static_cast<unsigned char>(line[k])) &&
                   std::strchr("=(),#", line[k]) == nullptr)
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
    PlanParser(const std::string& file, const std::vector<std::string>& recorded) : file_(file) {
        for (const auto& name : recorded) known_.push_back(name);
    }

    void Line(int number, const std::string& text) {
        LineParser p(file_, number, Tokenize(text), static_cast<int>(text.size()) + 1);
        if (p.AtEnd()) return;
        const Token& first = p.Word("a channel name or a keyword");
        if (first.text == "block" && !p.PeekIs("=")) {
            const Token& value = p.Word("the block length");
            const long n = p.Integer(value, "the block length");
            if (n < 1) p.Fail(value, "the block length must be at least 1");
            plan_.block = static_cast<int>(n);
        } else if (first.text == "rate" && !p.PeekIs("=")) {
            const Token& value = p.Word("the sample rate");
            plan_.rate = p.Number(value, "the sample rate");
            if (plan_.rate <= 0.0) p.Fail(value, "the sample rate must be positive");
        } else if (first.text == "set" && !p.PeekIs("=")) {
            Settings(p, number);
        } else {
            Channel(p, first, number);
            return;
        }
        if (!p.AtEnd()) p.Fail(p.Peek(), "unexpected \"" + p.Peek().text + "\"");
    }

    Plan Finish() { return std::move(plan_); }

private:
    bool Known(const std::string& name) const {
        for (const auto& k : known_)
            if (k == name) return true;
        return false;
    }

    void Settings(LineParser& p, int number) {
        const Token& channel = p.Word("a channel name");
        if (!Known(channel.text)) p.Fail(channel, "unknown channel \"" + channel.text + "\"");
        RecordSettings settings{channel.text, {}, number};
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
        if (Known(name.text)) p.Fail(name, "channel \"" + name.text + "\" is defined twice");
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
            while (!p.AtEnd() && p.Peek().word && !p.PeekIs("=", 1) && p.Peek().text != "plot") {
                const Token& source = p.Take();
                if (!Known(source.text)) p.Fail(source, "unknown channel \"" + source.text + "\"");
                c.sources.push_back(source.text);
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
        known_.push_back(c.name);
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
            if (a.type == 'i') v.i = static_cast<int32_t>(p.Integer(t, a.name.c_str()));
            else if (a.type == 'f') v.f = static_cast<float>(p.Number(t, a.name.c_str()));
            else v.d = p.Number(t, a.name.c_str());
            // The library ends the process on such a window; the host refuses it first.
            if (a.name == "fftSize") {
                if (v.i < 4) p.Fail(t, "window length " + t.text + " is below 4");
                if ((v.i <= 64 || c.shape->powerOfTwoAnySize) && !IsPowerOfTwo(v.i))
                    p.Fail(t, "window length " + t.text + " is not a power of two");
            }
            if (a.name == "windowSize" && v.i < 1) p.Fail(t, "window length " + t.text + " is below 1");
            c.planArguments.push_back(v);
        }
    }

    void CheckSourceCount(LineParser& p, PlanChannel& c, const Token& exportName) {
        const int given = static_cast<int>(c.sources.size());
        int wanted = c.shape->sources;
        // The self-averaging export reads its own samples: the one source names the channel they are copied from.
        if (c.shape->name == "GetPowerAvgSelf") wanted = 1;
        // The status exports take the two channels listed just before them.
        if (c.shape->sources == 0 && c.shape->name != "GetPowerAvgSelf") {
            wanted = 2;
            if (given == 2) {
                const auto& chans = plan_.channels;
                const std::size_t n = chans.size();
                if (n < 2 || chans[n - 2].name != c.sources[0] || chans[n - 1].name != c.sources[1])
                    p.Fail(exportName, exportName.text + " reads the two channels listed just before it: define " +
                                           c.sources[0] + " and " + c.sources[1] + " on the two lines above");
            }
        }
        if (wanted >= 0 && given != wanted)
            p.Fail(exportName, exportName.text + " takes " + std::to_string(wanted) + " source" +
                                   (wanted == 1 ? "" : "s") + ", given " + std::to_string(given));
    }

    void Setting(LineParser& p, PlanChannel& c, const Token& key) {
        if (const FieldLayout* layout = FindField(key.text)) {
            c.fields.push_back(ParseFieldValue(p, key, *layout));
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
            const Token& value = p.Word("a channel name");
            if (!Known(value.text)) p.Fail(value, "unknown channel \"" + value.text + "\"");
            c.summaryOf = value.text;
        } else if (key.text == "puParams") {
            for (const Token* t : p.List()) c.puParams.push_back(static_cast<float>(p.Number(*t, "puParams")));
        } else {
            p.Fail(key, "unknown setting \"" + key.text + "\" for " + c.shape->name);
        }
    }

    std::string file_;
    std::vector<std::string> known_;
    Plan plan_;
};

}  // namespace

Plan ParsePlan(const std::string& text, const std::string& file, const std::vector<std::string>& recorded) {
    PlanParser parser(file, recorded);
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        parser.Line(++number, line);
    }
    return parser.Finish();
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
    const FieldLayout* layout = FindField(setting.field);
    if (layout == nullptr) return false;
    auto* base = reinterpret_cast<unsigned char*>(record) + layout->offset;
    for (std::size_t k = 0; k < setting.values.size(); ++k) {
        const double v = setting.values[k];
        switch (layout->type) {
            case 'd': std::memcpy(base + 8 * k, &v, 8); break;
            case 'f': { const float stored = static_cast<float>(v); std::memcpy(base, &stored, 4); break; }
            case 'u': { const auto stored = static_cast<uint32_t>(v); std::memcpy(base, &stored, 4); break; }
            default: *base = static_cast<unsigned char>(v); break;
        }
    }
    return true;
}
