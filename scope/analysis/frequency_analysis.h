#pragma once
// The spectrum of one trace and the distortion of a periodic signal in it.
//
// A window (Hann, flat-top or rectangular) is applied and FFTW computes the
// real-input transform; plans are made once per length and shared by every
// analyser in the process. Each bin holds the peak amplitude a sine centred
// on it would have, in the trace's own unit, so a 1 A sine reads 1 A (0 dB
// re 1 A) whatever the window.
//
// Levels of single tones (the fundamental and its harmonics) are taken as
// the power summed over the window's main lobe, divided by its noise
// bandwidth: exact for a tone wherever it falls between two bins, which a
// bin's peak is not (up to 1.4 dB low with a Hann window).

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "scope/measure/measurements.h"

namespace zelbo::scope::analysis {

enum class Window : int { Hann = 0, FlatTop = 1, Rectangular = 2 };

// "Hann", "Flat-top", "Rectangular"; windowFromName also takes lower case
// and "flattop", "rect".
std::string windowName(Window window);
std::optional<Window> windowFromName(std::string_view name);

struct Spectrum {
    Window window = Window::Hann;
    std::size_t points = 0;    // samples transformed
    double binHz = 0.0;        // spacing of the bins
    // Peak amplitude per bin, 0 .. points / 2; bin 0 is the mean.
    std::vector<double> amplitude;
    // Noise bandwidth of the window in bins, and the half-width of its main
    // lobe in bins (what a tone spreads over).
    double noiseBandwidthBins = 1.0;
    int lobeHalfWidth = 1;

    double frequencyOf(std::size_t bin) const { return static_cast<double>(bin) * binHz; }
    // The level of a tone near `hz`: the main lobe's power around the largest
    // bin within `searchBins` of it, with the lobe's centre of power as its
    // frequency. Nothing when the lobe would reach past either end.
    struct Tone {
        double hz = 0.0;
        double amplitude = 0.0;
    };
    std::optional<Tone> toneNear(double hz, int searchBins) const;
};

// 20 log10(amplitude / reference); -400 dB for nothing at all.
double toDb(double amplitude, double reference = 1.0);

// Reusable: holds the windowed input and the transform's output, so that
// after the first call of a length a spectrum allocates only its result.
// One analyser per thread; several may run at once.
class SpectrumAnalyser {
public:
    SpectrumAnalyser();
    ~SpectrumAnalyser();
    SpectrumAnalyser(const SpectrumAnalyser&) = delete;
    SpectrumAnalyser& operator=(const SpectrumAnalyser&) = delete;

    // `samples` taken every `samplePeriodS` seconds. Non-finite samples count
    // as 0. Fewer than 8 samples, or a period that is not positive, give an
    // empty spectrum (no bins).
    Spectrum compute(std::span<const double> samples, double samplePeriodS, Window window);
    // The same into `out`, reusing its storage.
    void compute(std::span<const double> samples, double samplePeriodS, Window window, Spectrum& out);

private:
    struct Buffers;
    Buffers* buffers_;
};

// Distortion of a periodic signal: the fundamental, the level of each
// harmonic and the total harmonic distortion
// THD = sqrt(A2^2 + ... + AH^2) / A1, over the harmonics whose lobes lie
// wholly below the Nyquist frequency, at most `maxHarmonic`.
struct Harmonics {
    bool valid = false;
    std::string reason;           // why not, for the user, when !valid
    double fundamentalHz = 0.0;
    std::vector<double> amplitude; // [0] the fundamental, [h - 1] harmonic h
    double thd = 0.0;             // ratio
    double thdDb() const { return toDb(thd); }
    double thdPercent() const { return thd * 100.0; }
    // Harmonic h (2..) relative to the fundamental, dBc; -400 for none.
    double levelDbc(int h) const;
    int harmonicsCounted() const { return amplitude.empty() ? 0 : static_cast<int>(amplitude.size()) - 1; }
};

inline constexpr int kDefaultMaxHarmonic = 40;

// `expectedHz` > 0: the fundamental is the strongest tone within 10 % (and at
// least a lobe) of it; 0: the strongest tone above the mean's lobe.
Harmonics analyseHarmonics(const Spectrum& spectrum, double expectedHz = 0.0, int maxHarmonic = kDefaultMaxHarmonic);

// Clock edges per electrical cycle of the coil currents: 4 in full step, 8
// in either half step, 16 in quarter step.
int stepsPerElectricalCycle(Excitation mode);
// The coil currents' fundamental for a step clock of `stepHz`.
double electricalHz(double stepHz, Excitation mode);

} // namespace zelbo::scope::analysis
