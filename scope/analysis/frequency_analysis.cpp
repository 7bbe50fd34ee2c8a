#include "scope/analysis/frequency_analysis.h"

#include <fftw3.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <mutex>
#include <numbers>

namespace zelbo::scope::analysis {

namespace {

// How far a fundamental must stand above the median bin (20 dB).
constexpr double kMinToneOverFloor = 10.0;

// FFTW's planner is not thread-safe, its plans' execution is: plans are made
// under one lock, once per length, and kept until the process ends, when
// they and the planner's own tables are given back.
struct PlanCache {
    std::mutex mutex;
    std::map<std::size_t, fftw_plan> plans;
    ~PlanCache()
    {
        for (auto& [n, p] : plans) fftw_destroy_plan(p);
        fftw_cleanup();
    }
};

fftw_plan planFor(std::size_t n)
{
    static PlanCache cache;
    std::lock_guard lock(cache.mutex);
    auto it = cache.plans.find(n);
    if (it != cache.plans.end()) return it->second;
    // FFTW_ESTIMATE does not touch the arrays; the plan is then executed on
    // other arrays of the same (fftw_malloc) alignment.
    double* in = fftw_alloc_real(n);
    fftw_complex* out = fftw_alloc_complex(n / 2 + 1);
    fftw_plan p = fftw_plan_dft_r2c_1d(static_cast<int>(n), in, out, FFTW_ESTIMATE);
    fftw_free(in);
    fftw_free(out);
    cache.plans.emplace(n, p);
    return p;
}

struct WindowShape {
    std::span<const double> terms; // cosine-sum coefficients
    int lobeHalfWidth;
};

WindowShape shapeOf(Window w)
{
    static const double hann[] = {0.5, 0.5};
    // The five-term flat-top window: a tone's peak bin reads within 0.01 dB
    // wherever it falls between bins.
    static const double flatTop[] = {0.21557895, 0.41663158, 0.277263158, 0.083578947, 0.006947368};
    static const double rect[] = {1.0};
    switch (w) {
    case Window::FlatTop: return {flatTop, 5};
    case Window::Rectangular: return {rect, 2};
    case Window::Hann: break;
    }
    return {hann, 2};
}

} // namespace

std::string windowName(Window window)
{
    switch (window) {
    case Window::FlatTop: return "Flat-top";
    case Window::Rectangular: return "Rectangular";
    case Window::Hann: break;
    }
    return "Hann";
}

std::optional<Window> windowFromName(std::string_view name)
{
    std::string s;
    for (char c : name)
        if (c != ' ' && c != '-' && c != '_') s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (s == "hann" || s == "hanning") return Window::Hann;
    if (s == "flattop") return Window::FlatTop;
    if (s == "rectangular" || s == "rect" || s == "none") return Window::Rectangular;
    return std::nullopt;
}

double toDb(double amplitude, double reference)
{
    if (!(amplitude > 0.0) || !(reference > 0.0)) return -400.0;
    return std::max(-400.0, 20.0 * std::log10(amplitude / reference));
}

struct SpectrumAnalyser::Buffers {
    std::size_t n = 0;
    Window window = Window::Hann;
    std::vector<double> coefficients;
    double coherentSum = 0.0; // sum of the window
    double powerSum = 0.0;    // sum of its squares
    double* in = nullptr;
    fftw_complex* out = nullptr;

    ~Buffers() { release(); }
    void release()
    {
        fftw_free(in);
        fftw_free(out);
        in = nullptr;
        out = nullptr;
    }
    void prepare(std::size_t size, Window w)
    {
        if (size != n) {
            release();
            in = fftw_alloc_real(size);
            out = fftw_alloc_complex(size / 2 + 1);
            n = size;
            coefficients.clear();
        }
        if (!coefficients.empty() && w == window) return;
        window = w;
        coefficients.resize(n);
        const WindowShape shape = shapeOf(w);
        coherentSum = powerSum = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            // Periodic (DFT-even) form, so the window's own spectrum has
            // exactly the lobe widths above.
            const double x = 2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
            double v = 0.0, sign = 1.0;
            for (std::size_t k = 0; k < shape.terms.size(); ++k, sign = -sign)
                v += sign * shape.terms[k] * std::cos(static_cast<double>(k) * x);
            coefficients[i] = v;
            coherentSum += v;
            powerSum += v * v;
        }
    }
};

SpectrumAnalyser::SpectrumAnalyser() : buffers_(new Buffers) {}
SpectrumAnalyser::~SpectrumAnalyser() { delete buffers_; }

Spectrum SpectrumAnalyser::compute(std::span<const double> samples, double samplePeriodS, Window window)
{
    Spectrum s;
    compute(samples, samplePeriodS, window, s);
    return s;
}

void SpectrumAnalyser::compute(std::span<const double> samples, double samplePeriodS, Window window, Spectrum& out)
{
    out.window = window;
    out.points = 0;
    out.binHz = 0.0;
    out.amplitude.clear();
    const WindowShape shape = shapeOf(window);
    out.lobeHalfWidth = shape.lobeHalfWidth;
    out.noiseBandwidthBins = 1.0;
    const std::size_t n = samples.size();
    if (n < 8 || !(samplePeriodS > 0.0) || !std::isfinite(samplePeriodS) || n > (std::size_t(1) << 28)) return;

    Buffers& b = *buffers_;
    b.prepare(n, window);
    // The mean is taken out before windowing and put back in bin 0, so that a
    // large offset does not leak into the low bins through the window.
    double mean = 0.0;
    std::size_t finite = 0;
    for (double v : samples)
        if (std::isfinite(v)) {
            mean += v;
            ++finite;
        }
    mean = finite ? mean / static_cast<double>(finite) : 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = std::isfinite(samples[i]) ? samples[i] - mean : 0.0;
        b.in[i] = v * b.coefficients[i];
    }
    fftw_execute_dft_r2c(planFor(n), b.in, b.out);

    out.points = n;
    out.binHz = 1.0 / (static_cast<double>(n) * samplePeriodS);
    out.noiseBandwidthBins = static_cast<double>(n) * b.powerSum / (b.coherentSum * b.coherentSum);
    const std::size_t bins = n / 2 + 1;
    out.amplitude.resize(bins);
    const double scale = 2.0 / b.coherentSum;
    for (std::size_t k = 0; k < bins; ++k)
        out.amplitude[k] = std::hypot(b.out[k][0], b.out[k][1]) * scale;
    // The Nyquist bin of an even length is not doubled.
    if (n % 2 == 0) out.amplitude[bins - 1] /= 2.0;
    out.amplitude[0] = std::abs(mean);
}

std::optional<Spectrum::Tone> Spectrum::toneNear(double hz, int searchBins) const
{
    if (amplitude.empty() || !(binHz > 0.0) || !std::isfinite(hz)) return std::nullopt;
    const long last = static_cast<long>(amplitude.size()) - 1;
    const long centre = std::lround(hz / binHz);
    const long from = std::max(1L + lobeHalfWidth, centre - searchBins);
    const long to = std::min(last - lobeHalfWidth, centre + searchBins);
    if (from > to) return std::nullopt;
    long peak = from;
    for (long k = from; k <= to; ++k)
        if (amplitude[static_cast<std::size_t>(k)] > amplitude[static_cast<std::size_t>(peak)]) peak = k;
    double power = 0.0, moment = 0.0;
    for (long k = peak - lobeHalfWidth; k <= peak + lobeHalfWidth; ++k) {
        const double a = amplitude[static_cast<std::size_t>(k)];
        power += a * a;
        moment += a * a * static_cast<double>(k);
    }
    Tone t;
    t.amplitude = std::sqrt(power / noiseBandwidthBins);
    t.hz = power > 0.0 ? moment / power * binHz : static_cast<double>(peak) * binHz;
    return t;
}

double Harmonics::levelDbc(int h) const
{
    if (h < 1 || static_cast<std::size_t>(h) > amplitude.size() || amplitude.empty()) return -400.0;
    return toDb(amplitude[static_cast<std::size_t>(h - 1)], amplitude[0]);
}

Harmonics analyseHarmonics(const Spectrum& spectrum, double expectedHz, int maxHarmonic)
{
    Harmonics r;
    if (spectrum.amplitude.size() < 8 || !(spectrum.binHz > 0.0)) {
        r.reason = "No spectrum.";
        return r;
    }
    const int w = spectrum.lobeHalfWidth;
    const long last = static_cast<long>(spectrum.amplitude.size()) - 1;
    std::optional<Spectrum::Tone> f;
    if (expectedHz > 0.0 && std::isfinite(expectedHz)) {
        const int search = std::max(w, static_cast<int>(std::lround(0.1 * expectedHz / spectrum.binHz)));
        f = spectrum.toneNear(expectedHz, search);
    } else {
        // The strongest bin clear of the mean's lobe.
        long peak = -1;
        for (long k = 2L * w + 1; k <= last - w; ++k)
            if (peak < 0 || spectrum.amplitude[static_cast<std::size_t>(k)] > spectrum.amplitude[static_cast<std::size_t>(peak)])
                peak = k;
        if (peak > 0) f = spectrum.toneNear(static_cast<double>(peak) * spectrum.binHz, 0);
    }
    // The lobes of the fundamental and the mean, or of neighbouring
    // harmonics, must not overlap, or every level would be wrong.
    if (!f || f->hz < (2.0 * w + 1.0) * spectrum.binHz) {
        r.reason = "Too few cycles in the sweep for the harmonics: choose a longer time base.";
        return r;
    }
    // A "fundamental" lost in the noise floor (no current flowing, a quiet
    // input) would give a THD of noise over noise: no figure rather than a
    // wrong one. The floor is the median bin, which tones hardly move.
    std::vector<double> bins(spectrum.amplitude.begin() + 1, spectrum.amplitude.end());
    std::nth_element(bins.begin(), bins.begin() + static_cast<long>(bins.size() / 2), bins.end());
    const double floor = bins[bins.size() / 2];
    if (!(f->amplitude > 0.0) || f->amplitude < kMinToneOverFloor * floor) {
        r.reason = "No signal at the fundamental.";
        return r;
    }
    r.fundamentalHz = f->hz;
    r.amplitude.push_back(f->amplitude);
    double sum = 0.0;
    const int hMax = std::clamp(maxHarmonic, 1, 1000);
    for (int h = 2; h <= hMax; ++h) {
        const auto t = spectrum.toneNear(h * f->hz, 1);
        if (!t || std::lround(h * f->hz / spectrum.binHz) + w > last) break;
        r.amplitude.push_back(t->amplitude);
        sum += t->amplitude * t->amplitude;
    }
    if (r.amplitude.size() < 2) {
        r.reason = "The second harmonic lies above the Nyquist frequency: choose a faster sampling rate.";
        r.amplitude.clear();
        return r;
    }
    r.thd = std::sqrt(sum) / f->amplitude;
    r.valid = true;
    return r;
}

int stepsPerElectricalCycle(Excitation mode)
{
    switch (mode) {
    case Excitation::FullStep: return 4;
    case Excitation::HalfStepA:
    case Excitation::HalfStepB: return 8;
    case Excitation::QuarterStep: break;
    }
    return 16;
}

double electricalHz(double stepHz, Excitation mode)
{
    return stepHz / stepsPerElectricalCycle(mode);
}

} // namespace zelbo::scope::analysis
