#include "plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

#include "numbers.h"

namespace {

constexpr double kTargetSteps = 4.0;        // the widest step still gives three ticks or more
constexpr double kTargetTimeSteps = 8.0;    // the time axis is wider
constexpr double kRelativeFloor = 1e-3;     // the least span of a panel: 0.1 % of its magnitude
constexpr double kStepSlack = 1e-9;         // 2.0000000001 is still a step of 2

// Layout, in pixels.
constexpr int kWidth = 900, kLeft = 84, kRight = 20;
constexpr int kPanelTop = 28, kPanelHeight = 120, kPanelGap = 34;  // the gap holds the next panel's title
constexpr int kPanelPitch = kPanelHeight + kPanelGap;
constexpr int kTimeLabels = 40;  // below the last panel
constexpr int kPlotWidth = kWidth - kLeft - kRight;
const char* const kCurveColour = "#1f5fa8";
const char* const kGridColour = "#e3e3e3";
const char* const kFrameColour = "#999";
const char* const kSpanColour = "#fff1c4";

// The smallest 1, 2 or 5 times a power of ten at or above raw (> 0).
void NiceStep(double raw, double& mantissa, int& exponent) {
    exponent = static_cast<int>(std::floor(std::log10(raw)));
    const double fraction = raw / std::pow(10.0, exponent);
    if (fraction <= 1.0 + kStepSlack) mantissa = 1.0;
    else if (fraction <= 2.0 + kStepSlack) mantissa = 2.0;
    else if (fraction <= 5.0 + kStepSlack) mantissa = 5.0;
    else {
        mantissa = 1.0;
        ++exponent;
    }
}

// k steps of mantissa x 10^exponent, computed so decimal ticks come out as
// the nearest double to their decimal (0.3, not 0.30000000000000004).
double Multiple(long long k, double mantissa, int exponent) {
    const double scaled = static_cast<double>(k) * mantissa;
    return exponent >= 0 ? scaled * std::pow(10.0, exponent) : scaled / std::pow(10.0, -exponent);
}

// Ticks of a 1, 2 or 5 step over [low, high] (low < high), about `steps`
// of them; outToSteps widens the range to whole steps, else it stays as given
// with the ticks inside it.
Axis Stepped(double low, double high, double steps, bool outToSteps) {
    double mantissa;
    int exponent;
    NiceStep((high - low) / steps, mantissa, exponent);
    Axis axis;
    axis.step = Multiple(1, mantissa, exponent);
    // A value a rounding error past a tick is on it: 49.95 / 0.05 gives 998.9999999999999.
    const double first = low / axis.step, last = high / axis.step;
    long long from, to;
    if (outToSteps) {
        from = static_cast<long long>(std::floor(first + kStepSlack));
        // The span holds at least 1.6 steps, so the widened range covers two or more.
        to = std::max(from + 2, static_cast<long long>(std::ceil(last - kStepSlack)));
    } else {
        from = static_cast<long long>(std::ceil(first - kStepSlack));
        to = static_cast<long long>(std::floor(last + kStepSlack));
    }
    for (long long k = from; k <= to; ++k) axis.ticks.push_back(Multiple(k, mantissa, exponent));
    axis.low = outToSteps ? axis.ticks.front() : low;
    axis.high = outToSteps ? axis.ticks.back() : high;
    return axis;
}

std::string Pixels(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

// How the labels of an axis read: one prefix for the panel, decimals down to the step.
struct LabelScale {
    int prefix, lastDigit;
};

LabelScale ScaleOf(const Axis& axis, const std::string& unit) {
    const int lastDigit = static_cast<int>(std::floor(std::log10(axis.step) + kStepSlack));
    const double magnitude = std::max(std::fabs(axis.low), std::fabs(axis.high));
    return {PrefixExponent(magnitude, unit, lastDigit), lastDigit};
}

double TimeX(const Axis& time, double seconds) {
    return kLeft + kPlotWidth * (seconds - time.low) / (time.high - time.low);
}

// A panel's pixels: time across, its value axis up.
struct Frame {
    double top;
    const Axis& time;
    const Axis& value;
    double X(double seconds) const { return TimeX(time, seconds); }
    double Y(double v) const { return top + kPanelHeight * (value.high - v) / (value.high - value.low); }
};

void DrawGrid(std::ostringstream& svg, const Frame& f, const LabelScale& scale) {
    for (double v : f.value.ticks) {
        svg << "<line x1=\"" << kLeft << "\" x2=\"" << kLeft + kPlotWidth << "\" y1=\"" << Pixels(f.Y(v)) << "\" y2=\""
            << Pixels(f.Y(v)) << "\" stroke=\"" << kGridColour << "\"/>\n";
        svg << "<text x=\"" << kLeft - 6 << "\" y=\"" << Pixels(f.Y(v) + 4) << "\" text-anchor=\"end\">"
            << ScaledNumber(v, scale.prefix, scale.lastDigit) << "</text>\n";
    }
    for (double t : f.time.ticks)
        svg << "<line x1=\"" << Pixels(f.X(t)) << "\" x2=\"" << Pixels(f.X(t)) << "\" y1=\"" << f.top << "\" y2=\""
            << f.top + kPanelHeight << "\" stroke=\"" << kGridColour << "\"/>\n";
}

// A point in pixels; y as written (one decimal), so equal texts draw the same.
struct Point {
    double x;
    std::string y;
};

// The points of a polyline or polygon; the inner points of a level run going
// one way are left out (they draw nothing the run's ends do not), which keeps
// a steady curve to a few points.
void WritePoints(std::ostringstream& svg, const std::vector<Point>& points) {
    for (std::size_t k = 0; k < points.size(); ++k) {
        const bool inner = k > 0 && k + 1 < points.size() && points[k - 1].y == points[k].y &&
                           points[k + 1].y == points[k].y &&
                           (points[k].x - points[k - 1].x) * (points[k + 1].x - points[k].x) > 0.0;
        if (!inner) svg << Pixels(points[k].x) << "," << points[k].y << " ";
    }
}

// The curve over [from, to): every point while there are fewer points than
// pixel columns, else the outline of each column's lowest and highest value.
void DrawCurve(std::ostringstream& svg, const Frame& f, const PlotPanel& p, double rate) {
    auto Y = [&](double v) { return Pixels(f.Y(v)); };
    const std::vector<float>& v = *p.values;
    const double x0 = f.X(static_cast<double>(p.from) / rate), x1 = f.X(static_cast<double>(p.to) / rate);
    const auto columns = static_cast<std::size_t>(std::max(1.0, std::ceil(x1 - x0)));
    std::vector<Point> points;
    if (p.to - p.from <= columns) {
        for (std::size_t i = p.from; i < p.to; ++i)
            if (std::isfinite(v[i])) points.push_back({f.X(static_cast<double>(i) / rate), Y(v[i])});
        svg << "<polyline fill=\"none\" stroke=\"" << kCurveColour << "\" stroke-width=\"1.2\" points=\"";
    } else {
        // The highs left to right, then the lows back: one outline around the band.
        const std::vector<ColumnRange> envelope = Envelope(v, p.from, p.to, columns);
        const double width = (x1 - x0) / static_cast<double>(columns);
        std::vector<Point> lower;
        for (std::size_t c = 0; c < columns; ++c) {
            if (std::isnan(envelope[c].low)) continue;  // a column without values is passed over
            const double x = x0 + width * (static_cast<double>(c) + 0.5);
            points.push_back({x, Y(envelope[c].high)});
            lower.push_back({x, Y(envelope[c].low)});
        }
        points.insert(points.end(), lower.rbegin(), lower.rend());
        svg << "<polygon fill=\"" << kCurveColour << "\" stroke=\"" << kCurveColour
            << "\" stroke-width=\"1.2\" stroke-linejoin=\"round\" points=\"";
    }
    WritePoints(svg, points);
    svg << "\"/>\n";
}

}  // namespace

Axis NiceAxis(double low, double high, double minimumSpan) {
    if (!std::isfinite(low) || !std::isfinite(high)) low = high = 0.0;
    if (low > high) std::swap(low, high);
    double need = std::isfinite(minimumSpan) ? std::max(minimumSpan, high - low) : high - low;
    if (need <= 0.0) need = 1.0;
    const double middle = 0.5 * (low + high);
    return Stepped(std::min(low, middle - 0.5 * need), std::max(high, middle + 0.5 * need), kTargetSteps, true);
}

Axis TimeAxis(double seconds) {
    return Stepped(0.0, std::isfinite(seconds) && seconds > 0.0 ? seconds : 1.0, kTargetTimeSteps, false);
}

Axis ValueAxis(const PlotPanel& panel) {
    float low = std::numeric_limits<float>::infinity(), high = -low;
    for (std::size_t i = panel.from; i < panel.to; ++i) {
        const float v = (*panel.values)[i];
        if (!std::isfinite(v)) continue;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    if (low > high) return NiceAxis(0.0, 0.0, 2.0 * panel.tolerance);  // nothing drawn
    const double magnitude = std::max(std::fabs(low), std::fabs(high));
    return NiceAxis(low, high, std::max(2.0 * panel.tolerance, kRelativeFloor * magnitude));
}

std::vector<ColumnRange> Envelope(const std::vector<float>& values, std::size_t from, std::size_t to,
                                  std::size_t columns) {
    const float none = std::numeric_limits<float>::quiet_NaN();
    std::vector<ColumnRange> envelope(columns, {none, none});
    const std::size_t count = to > from ? to - from : 0;
    for (std::size_t c = 0; c < columns; ++c) {
        const std::size_t begin = from + count * c / columns, end = from + count * (c + 1) / columns;
        for (std::size_t i = begin; i < end; ++i) {
            const float v = values[i];
            if (!std::isfinite(v)) continue;
            ColumnRange& r = envelope[c];
            r.low = std::isnan(r.low) ? v : std::min(r.low, v);
            r.high = std::isnan(r.high) ? v : std::max(r.high, v);
        }
    }
    return envelope;
}

std::string EscapeXml(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

std::string PlotSvg(const std::vector<PlotPanel>& panels, double rate, std::size_t length,
                    const std::optional<TimeSpan>& span) {
    const Axis time = TimeAxis(static_cast<double>(length) / rate);
    const int height = kPanelTop + static_cast<int>(panels.size()) * kPanelPitch - kPanelGap + kTimeLabels;
    std::ostringstream svg;
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << kWidth << " " << height
        << "\" font-family=\"sans-serif\" font-size=\"12\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    for (std::size_t k = 0; k < panels.size(); ++k) {
        const PlotPanel& p = panels[k];
        const Axis y = ValueAxis(p);
        const Frame frame{static_cast<double>(kPanelTop + static_cast<int>(k) * kPanelPitch), time, y};
        const LabelScale scale = ScaleOf(y, p.unit);
        const std::string unit = PrefixedUnit(scale.prefix, p.unit);
        svg << "<g>\n<text x=\"" << kLeft << "\" y=\"" << frame.top - 8 << "\" font-weight=\"bold\">"
            << EscapeXml(p.label + (unit.empty() ? "" : " [" + unit + "]")) << "</text>\n";
        if (span) {
            const double from = std::clamp(span->from, time.low, time.high), to = std::clamp(span->to, time.low, time.high);
            svg << "<rect x=\"" << Pixels(frame.X(from)) << "\" y=\"" << frame.top << "\" width=\""
                << Pixels(frame.X(to) - frame.X(from)) << "\" height=\"" << kPanelHeight << "\" fill=\"" << kSpanColour
                << "\"><title>span</title></rect>\n";
        }
        DrawGrid(svg, frame, scale);
        if (p.to > p.from) DrawCurve(svg, frame, p, rate);
        svg << "<rect x=\"" << kLeft << "\" y=\"" << frame.top << "\" width=\"" << kPlotWidth << "\" height=\""
            << kPanelHeight << "\" fill=\"none\" stroke=\"" << kFrameColour << "\"/>\n</g>\n";
    }
    const double axisY = kPanelTop + static_cast<double>(panels.size()) * kPanelPitch - kPanelGap;
    const LabelScale timeScale = ScaleOf(time, "");
    for (double t : time.ticks)
        svg << "<text x=\"" << Pixels(TimeX(time, t)) << "\" y=\"" << axisY + 16 << "\" text-anchor=\"middle\">"
            << ScaledNumber(t, timeScale.prefix, timeScale.lastDigit) << "</text>\n";
    svg << "<text x=\"" << kLeft + kPlotWidth / 2 << "\" y=\"" << axisY + 34 << "\" text-anchor=\"middle\">time [s]";
    if (span) svg << "; the shaded stretch is the span";
    svg << "</text>\n</svg>\n";
    return svg.str();
}
