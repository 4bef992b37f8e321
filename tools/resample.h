// Cycle-synchronous resampling: the windowed exports read bin 1 of a
// power-of-two window as the fundamental, which is right only when the window
// holds whole cycles. A recording whose nominal cycle is not a power-of-two
// number of samples is resampled to 2^k samples per cycle before the library
// sees it, with a band-limited interpolator that has no start-up transient.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// --resample auto|off|N|track
struct ResampleRequest {
    enum class Mode { Auto, Off, PerCycle, Track } mode = Mode::Auto;
    int perCycle = 0;  // N of --resample N
};
ResampleRequest ParseResample(const std::string& text);

// The rate the library sees and how it follows from the recorded one.
struct TimeBase {
    double recordedRate = 0.0;
    double lineFrequency = 0.0;   // nominal, 0 when unknown
    double cycleFrequency = 0.0;  // what a cycle is counted at: nominal, or measured when tracking
    double rate = 0.0;            // the library's
    bool resampled = false;
    std::string reason;           // one sentence for the report
    // Samples of one cycle at the library's rate; 0 without a line frequency.
    double SamplesPerCycle() const { return cycleFrequency > 0.0 ? rate / cycleFrequency : 0.0; }
};

// measured: the recording's frequency (track mode only; 0 when not measured).
TimeBase ChooseTimeBase(double recordedRate, double lineFrequency, const ResampleRequest& request, double measured);

// Measures a channel's fundamental frequency near the nominal one from the
// phase its fundamental advances by, window after window: 0 when the record is
// too short (under three nominal cycles) or holds no fundamental.
class FrequencyMeter {
public:
    FrequencyMeter(double rate, double nominal);
    void Push(const float* x, std::size_t n);
    double Frequency() const;

private:
    struct Window {
        double re = 0.0, im = 0.0, cos = 1.0, sin = 0.0;
        long long start = 0;
    };
    void Close(const Window& w);
    double rate_, nominal_;
    long long length_, hop_, position_ = 0;
    Window open_[2];
    double lastPhase_ = 0.0, unwrap_ = 0.0;
    bool first_ = true;
    double sumW_ = 0, sumT_ = 0, sumP_ = 0, sumTT_ = 0, sumTP_ = 0, peak_ = 0;
    std::vector<double> window_;  // Hann weights
};

// Resamples one channel as its samples stream in: outputs at input positions
// j * inputRate / outputRate, j = 0, 1, …, written into out as soon as the
// inputs they need have arrived. Before the first and after the last sample
// the record is continued by itself shifted by whole cycles, so the filter
// sees the signal's own continuation (no zeros, no start-up transient).
// A digital channel holds each recorded value until the next one.
class Resampler {
public:
    Resampler(double inputRate, double outputRate, double cycleFrequency, std::size_t inputLength, bool digital,
              float* out);
    static std::size_t OutputLength(double inputRate, double outputRate, std::size_t inputLength);
    // Inputs shorter than this cannot be resampled (the continuation needs them).
    static std::size_t ShortestInput(double inputRate, double outputRate, double cycleFrequency);
    void Push(const float* x, std::size_t n);
    void Finish();

private:
    double Interpolate(double position) const;  // at an input position whose taps are buffered
    void Emit(long long lastAvailable);
    void Trim();
    double step_, scale_, shift_;
    long long taps_, inputLength_, received_ = 0, first_ = 0;
    std::size_t outputLength_, next_ = 0;
    bool digital_, started_ = false;
    float* out_;
    std::vector<float> buffer_;  // inputs from position first_ on
};
