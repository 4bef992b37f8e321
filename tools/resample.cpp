#include "resample.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "input_error.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kFewestPerCycle = 32;  // the exports that sum harmonics 1 to 21 need 32 points per cycle
// The interpolation kernel: a sinc windowed by a Kaiser window, kHalfWidth
// samples on each side at the lower of the two rates. Its gain is flat within
// 1e-4 up to 0.46 of that rate and the fundamental's within far less.
constexpr int kHalfWidth = 32;
constexpr double kKaiserBeta = 8.0;
constexpr int kPhases = 512;  // kernel table entries per sample, interpolated linearly between them
// Nominal cycles per window of the frequency meter; windows overlap by half.
constexpr double kMeterCycles = 4.0;
// A window whose fundamental is below this share of the largest so far is
// passed over: a dead stretch has no phase to follow.
constexpr double kMeterPresence = 0.1;

bool IsPowerOfTwo(long long n) { return n >= 2 && (n & (n - 1)) == 0; }

int CeilPowerOfTwo(double x) {
    int n = 1;
    while (n < x - 1e-9 * x) n *= 2;
    return n;
}

std::string Text(double v, int precision = 6) {
    std::ostringstream s;
    s.precision(precision);
    s << v;
    return s.str();
}

double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; term > 1e-17 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

// The kernel at x = -kHalfWidth + i / kPhases, i = 0 .. 2·kHalfWidth·kPhases (+1 for the interpolation).
const std::vector<double>& KernelTable() {
    static const std::vector<double> table = [] {
        std::vector<double> t(2 * kHalfWidth * kPhases + 2, 0.0);
        const double norm = BesselI0(kKaiserBeta);
        for (std::size_t i = 0; i + 1 < t.size(); ++i) {
            const double x = -kHalfWidth + static_cast<double>(i) / kPhases;
            const double r = x / kHalfWidth;
            const double sinc = x == 0.0 ? 1.0 : std::sin(kPi * x) / (kPi * x);
            t[i] = r * r >= 1.0 ? 0.0 : sinc * BesselI0(kKaiserBeta * std::sqrt(1.0 - r * r)) / norm;
        }
        return t;
    }();
    return table;
}

}  // namespace

ResampleRequest ParseResample(const std::string& text) {
    ResampleRequest r;
    if (text == "auto") return r;
    if (text == "off") r.mode = ResampleRequest::Mode::Off;
    else if (text == "track") r.mode = ResampleRequest::Mode::Track;
    else {
        char* end = nullptr;
        const long n = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || !IsPowerOfTwo(n) || n < 8 || n > 65536)
            throw InputError("command line", 0, 0,
                             "--resample takes auto, off, track or a power of two from 8 to 65536, not \"" + text + "\"");
        r.mode = ResampleRequest::Mode::PerCycle;
        r.perCycle = static_cast<int>(n);
    }
    return r;
}

TimeBase ChooseTimeBase(double recordedRate, double lineFrequency, const ResampleRequest& request, double measured) {
    using Mode = ResampleRequest::Mode;
    TimeBase t;
    t.recordedRate = t.rate = recordedRate;
    t.lineFrequency = t.cycleFrequency = lineFrequency;
    if (request.mode == Mode::Off) {
        t.reason = "not resampled (--resample off)";
        return t;
    }
    if (lineFrequency <= 0.0) {
        if (request.mode != Mode::Auto)
            throw InputError("command line", 0, 0, "--resample needs the line frequency, which the recording does not state: "
                                                   "give --line-frequency HZ");
        t.reason = "not resampled: the recording states no line frequency (--line-frequency HZ)";
        return t;
    }
    const double recordedPerCycle = recordedRate / lineFrequency;
    const std::string cycle = "a " + Text(lineFrequency) + " Hz cycle is " + Text(recordedPerCycle, 8) + " samples";
    if (request.mode == Mode::Auto && std::fabs(recordedPerCycle - std::round(recordedPerCycle)) < 1e-9 * recordedPerCycle &&
        IsPowerOfTwo(std::llround(recordedPerCycle))) {
        t.reason = "not resampled: " + cycle + ", a power of two";
        return t;
    }
    int perCycle = std::max(kFewestPerCycle, CeilPowerOfTwo(recordedPerCycle));
    if (request.mode == Mode::PerCycle) perCycle = request.perCycle;
    if (request.mode == Mode::Track) {
        if (!(measured > 0.0))
            throw InputError("command line", 0, 0, "--resample track: the recording's frequency cannot be measured "
                                                   "(no steady fundamental over three cycles)");
        t.cycleFrequency = measured;
        perCycle = std::max(kFewestPerCycle, CeilPowerOfTwo(recordedRate / measured));
    }
    t.rate = perCycle * t.cycleFrequency;
    t.resampled = true;
    if (request.mode == Mode::Track)
        t.reason = "resampled to " + std::to_string(perCycle) + " samples per cycle of the measured " +
                   Text(measured, 8) + " Hz (--resample track)";
    else
        t.reason = "resampled to " + std::to_string(perCycle) + " samples per cycle (" + cycle + " as recorded" +
                   (request.mode == Mode::PerCycle ? ", --resample " + std::to_string(perCycle) + ")" : ")");
    return t;
}

// ---- Frequency meter ----

FrequencyMeter::FrequencyMeter(double rate, double nominal) : rate_(rate), nominal_(nominal) {
    hop_ = std::max(4LL, std::llround(kMeterCycles / 2.0 * rate / nominal));
    length_ = 2 * hop_;
    open_[1].start = hop_;
    for (long long i = 0; i < length_; ++i)
        window_.push_back(0.5 - 0.5 * std::cos(2.0 * kPi * (static_cast<double>(i) + 0.5) / static_cast<double>(length_)));
}

void FrequencyMeter::Push(const float* x, std::size_t n) {
    const double omega = 2.0 * kPi * nominal_ / rate_;
    const double turnRe = std::cos(-omega), turnIm = std::sin(-omega);
    for (std::size_t k = 0; k < n; ++k, ++position_) {
        for (Window& w : open_) {
            const long long i = position_ - w.start;
            if (i < 0) continue;
            // The reference phasor runs on from the window's start, taken at its
            // absolute position so the phases of all windows compare.
            if (i == 0) {
                w.cos = std::cos(-omega * static_cast<double>(position_));
                w.sin = std::sin(-omega * static_cast<double>(position_));
            }
            const double v = window_[static_cast<std::size_t>(i)] * x[k];
            w.re += v * w.cos;
            w.im += v * w.sin;
            const double c = w.cos * turnRe - w.sin * turnIm;
            w.sin = w.cos * turnIm + w.sin * turnRe;
            w.cos = c;
            if (i + 1 == length_) {
                Close(w);
                w = Window{0.0, 0.0, 1.0, 0.0, w.start + length_};
            }
        }
    }
}

void FrequencyMeter::Close(const Window& w) {
    const double amplitude = std::hypot(w.re, w.im);
    peak_ = std::max(peak_, amplitude);
    if (!(amplitude > kMeterPresence * peak_) || !(amplitude > 0.0)) return;
    const double phase = std::atan2(w.im, w.re);
    if (first_) unwrap_ = phase;
    else unwrap_ += std::remainder(phase - lastPhase_, 2.0 * kPi);
    first_ = false;
    lastPhase_ = phase;
    const double t = (static_cast<double>(w.start) + 0.5 * static_cast<double>(length_)) / rate_;
    const double weight = amplitude * amplitude;
    sumW_ += weight;
    sumT_ += weight * t;
    sumP_ += weight * unwrap_;
    sumTT_ += weight * t * t;
    sumTP_ += weight * t * unwrap_;
}

double FrequencyMeter::Frequency() const {
    const double spread = sumW_ * sumTT_ - sumT_ * sumT_;
    if (first_ || !(spread > 1e-12 * sumW_ * sumTT_)) return 0.0;
    const double slope = (sumW_ * sumTP_ - sumT_ * sumP_) / spread;  // rad/s away from the nominal
    return nominal_ + slope / (2.0 * kPi);
}

// ---- Resampler ----

std::size_t Resampler::OutputLength(double inputRate, double outputRate, std::size_t inputLength) {
    if (inputLength == 0) return 0;
    return static_cast<std::size_t>(std::floor(static_cast<double>(inputLength - 1) * outputRate / inputRate + 1e-9)) + 1;
}

std::size_t Resampler::ShortestInput(double inputRate, double outputRate, double cycleFrequency) {
    const double scale = std::min(1.0, outputRate / inputRate);
    const auto taps = static_cast<long long>(std::ceil(kHalfWidth / scale));
    const double period = inputRate / cycleFrequency;
    const double shift = std::ceil((2.0 * taps + 2.0) / period) * period;
    return static_cast<std::size_t>(std::ceil(shift)) + 2 * static_cast<std::size_t>(taps) + 2;
}

Resampler::Resampler(double inputRate, double outputRate, double cycleFrequency, std::size_t inputLength, bool digital,
                     float* out)
    : step_(inputRate / outputRate),
      scale_(std::min(1.0, outputRate / inputRate)),
      inputLength_(static_cast<long long>(inputLength)),
      outputLength_(OutputLength(inputRate, outputRate, inputLength)),
      digital_(digital),
      out_(out) {
    // Downsampling widens the kernel so its cut-off follows the output's rate.
    taps_ = digital ? 1 : static_cast<long long>(std::ceil(kHalfWidth / scale_));
    // The continuation before the first sample is the record one whole number
    // of cycles later, far enough in that its own taps are all recorded samples.
    const double period = inputRate / cycleFrequency;
    shift_ = std::ceil((2.0 * static_cast<double>(taps_) + 2.0) / period) * period;
}

double Resampler::Interpolate(double position) const {
    if (digital_) return buffer_[static_cast<std::size_t>(static_cast<long long>(std::floor(position + 1e-9)) - first_)];
    const std::vector<double>& table = KernelTable();
    const auto i0 = static_cast<long long>(std::floor(position));
    double sum = 0.0, weights = 0.0;
    for (long long m = i0 - taps_ + 1; m <= i0 + taps_; ++m) {
        const double x = (position - static_cast<double>(m)) * scale_;
        if (!(x > -kHalfWidth && x < kHalfWidth)) continue;
        const double u = (x + kHalfWidth) * kPhases;
        const auto index = static_cast<std::size_t>(u);
        const double w = table[index] + (u - static_cast<double>(index)) * (table[index + 1] - table[index]);
        sum += w * buffer_[static_cast<std::size_t>(m - first_)];
        weights += w;
    }
    // Dividing by the taps' sum keeps a constant exactly constant at every fractional position.
    return sum / weights;
}

void Resampler::Emit(long long lastAvailable) {
    for (; next_ < outputLength_; ++next_) {
        const double position = static_cast<double>(next_) * step_;
        if (static_cast<long long>(std::floor(position)) + taps_ > lastAvailable) break;
        out_[next_] = static_cast<float>(Interpolate(position));
    }
}

void Resampler::Trim() {
    const long long keepTail = static_cast<long long>(std::ceil(shift_)) + 2 * taps_ + 2;
    const long long needed = std::min(static_cast<long long>(std::floor(static_cast<double>(next_) * step_)) - taps_ + 1,
                                      received_ - keepTail);
    const long long drop = needed - first_;
    if (drop > (1 << 16) && 2 * drop > static_cast<long long>(buffer_.size())) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + drop);
        first_ += drop;
    }
}

void Resampler::Push(const float* x, std::size_t n) {
    buffer_.insert(buffer_.end(), x, x + n);
    received_ += static_cast<long long>(n);
    if (!started_) {
        if (received_ < std::min(inputLength_, static_cast<long long>(std::ceil(shift_)) + 2 * taps_ + 2)) return;
        std::vector<float> before(static_cast<std::size_t>(taps_));
        for (long long k = 1; k <= taps_; ++k)
            before[static_cast<std::size_t>(taps_ - k)] =
                digital_ ? buffer_[0] : static_cast<float>(Interpolate(static_cast<double>(-k) + shift_));
        buffer_.insert(buffer_.begin(), before.begin(), before.end());
        first_ = -taps_;
        started_ = true;
    }
    Emit(received_ - 1);
    Trim();
}

void Resampler::Finish() {
    if (!started_ || received_ != inputLength_) throw std::logic_error("resampler finished before its input");
    std::vector<float> after(static_cast<std::size_t>(taps_));
    for (long long k = 0; k < taps_; ++k)
        after[static_cast<std::size_t>(k)] =
            digital_ ? buffer_.back() : static_cast<float>(Interpolate(static_cast<double>(inputLength_ + k) - shift_));
    buffer_.insert(buffer_.end(), after.begin(), after.end());
    Emit(inputLength_ - 1 + taps_);
}
