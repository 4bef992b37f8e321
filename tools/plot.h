// The curves as an SVG drawing an engineer can read values off: one panel per
// curve, titled with its label and unit, "nice" ticks (steps of 1, 2 or 5
// times a power of ten) with a light grid, a time axis in seconds, only the
// stretch a curve holds computed values over, and a min/max envelope per
// pixel column where a panel has more points than pixels.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

struct Axis {
    double low = 0.0, high = 1.0;  // the drawn range: whole multiples of step
    double step = 1.0;             // 1, 2 or 5 times a power of ten
    std::vector<double> ticks;     // low, low + step, ..., high: three or more
};

// An axis over [low, high], widened to at least minimumSpan around its middle
// (to 1 when both are 0), then out to whole steps; about four to five steps.
Axis NiceAxis(double low, double high, double minimumSpan);

// The time axis of a recording: from 0 to its end exactly, ticks within.
Axis TimeAxis(double seconds);

// One panel: the curve's positions [from, to) are drawn, the rest is not.
struct PlotPanel {
    std::string label, unit;
    const std::vector<float>* values = nullptr;
    std::size_t from = 0, to = 0;
    double tolerance = 0.0;  // the half-width of the plan's tolerance band, 0 when none
};

// The y-axis of a panel: the finite values drawn, over a span no narrower
// than the tolerance band or 0.1 % of their magnitude, so float noise on a
// steady value draws flat at its height instead of filling the panel.
Axis ValueAxis(const PlotPanel& panel);

// The lowest and highest finite value in each of `columns` equal slices of
// [from, to); NaN in both for a slice with none.
struct ColumnRange {
    float low, high;
};
std::vector<ColumnRange> Envelope(const std::vector<float>& values, std::size_t from, std::size_t to,
                                  std::size_t columns);

// A stretch of the recording in seconds, marked on every panel.
struct TimeSpan {
    double from = 0.0, to = 0.0;
};

// The SVG document: the panels in order over a recording of `length`
// positions at `rate` samples per second.
std::string PlotSvg(const std::vector<PlotPanel>& panels, double rate, std::size_t length,
                    const std::optional<TimeSpan>& span);

// Text with &, <, > and " written as entities, for SVG and XHTML.
std::string EscapeXml(const std::string& text);
