#include "sim/signals.h"

#include <cmath>
#include <numbers>

namespace {

constexpr const char16_t* kTexts[] = {u"Alpha", u"Beta", u"Gamma", u"Delta"};

double Seconds(std::uint64_t milliseconds) {
    return static_cast<double>(milliseconds) / 1000.0;
}

double Sine(double amplitude, double periodSeconds, std::uint64_t milliseconds) {
    return amplitude * std::sin(2.0 * std::numbers::pi * Seconds(milliseconds) / periodSeconds);
}

VARIANT_BOOL Flag(bool on) {
    return on ? VARIANT_TRUE : VARIANT_FALSE;
}

}  // namespace

VARTYPE SignalType(SignalKind kind) {
    switch (kind) {
        case SignalKind::Static:
        case SignalKind::Shaped:
            return VT_EMPTY;
        case SignalKind::Ramp:
        case SignalKind::Sine:
        case SignalKind::Temperature:
        case SignalKind::Load:
            return VT_R8;
        case SignalKind::Random:
            return VT_I4;
        case SignalKind::Square:
        case SignalKind::Toggle:
            return VT_BOOL;
        case SignalKind::Counter:
            return VT_UI4;
        case SignalKind::Text:
            return VT_BSTR;
        case SignalKind::Pressure:
            return VT_R4;
    }
    return VT_EMPTY;
}

std::int32_t RandomSignalValue(std::uint32_t seed, std::uint64_t milliseconds) {
    // SplitMix64 over the seed and the time: cheap, and every bit of both inputs matters.
    std::uint64_t z = (static_cast<std::uint64_t>(seed) << 32 ^ 0x9E3779B97F4A7C15ULL) +
                      milliseconds * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return static_cast<std::int32_t>(z % 1000);
}

HRESULT EvaluateSignal(SignalKind kind, std::uint64_t milliseconds, std::uint32_t seed,
                       std::uint32_t index, VARIANT* out) {
    const std::uint64_t wholeSeconds = milliseconds / 1000;
    out->vt = SignalType(kind);
    switch (kind) {
        case SignalKind::Static:
        case SignalKind::Shaped:
            return E_UNEXPECTED;
        case SignalKind::Ramp:
            out->dblVal = static_cast<double>(milliseconds % 100000) / 1000.0;
            return S_OK;
        case SignalKind::Sine:
            out->dblVal = Sine(10.0, 10.0, milliseconds);
            return S_OK;
        case SignalKind::Random:
            out->lVal = RandomSignalValue(seed, milliseconds);
            return S_OK;
        case SignalKind::Square:
            out->boolVal = Flag(milliseconds / 5000 % 2 == 1);
            return S_OK;
        case SignalKind::Counter:
            out->ulVal = static_cast<ULONG>(wholeSeconds);
            return S_OK;
        case SignalKind::Toggle:
            out->boolVal = Flag(wholeSeconds % 2 == 1);
            return S_OK;
        case SignalKind::Text:
            out->bstrVal = SysAllocString(kTexts[milliseconds / 2000 % 4]);
            if (out->bstrVal == nullptr) {
                out->vt = VT_EMPTY;
                return E_OUTOFMEMORY;
            }
            return S_OK;
        case SignalKind::Temperature:
            out->dblVal = 20.0 + Sine(5.0, 60.0, milliseconds);
            return S_OK;
        case SignalKind::Pressure:
            out->fltVal = static_cast<float>(1013.25 + Sine(2.5, 30.0, milliseconds));
            return S_OK;
        case SignalKind::Load:
            out->dblVal = Seconds(milliseconds) + static_cast<double>(index);
            return S_OK;
    }
    out->vt = VT_EMPTY;
    return E_UNEXPECTED;
}

HRESULT EvaluateShape(const SignalShape& shape, std::uint64_t milliseconds, std::uint32_t seed,
                      std::uint32_t index, VARIANT* out) {
    const std::uint64_t period = shape.periodMs == 0 ? 1 : shape.periodMs;
    const std::uint64_t periods = milliseconds / period;
    const double phase = static_cast<double>(milliseconds % period) / static_cast<double>(period);
    out->vt = VT_R8;
    switch (shape.kind) {
        case SignalKind::Ramp:
            out->dblVal = shape.low + (shape.high - shape.low) * phase;
            return S_OK;
        case SignalKind::Sine:
            out->dblVal =
                shape.offset + shape.amplitude * std::sin(2.0 * std::numbers::pi *
                                                          static_cast<double>(milliseconds) /
                                                          static_cast<double>(period));
            return S_OK;
        case SignalKind::Random: {
            // Each item draws from a sequence of its own; the draw holds for one period.
            const std::int32_t r = RandomSignalValue(seed ^ (index * 0x9E3779B9u), periods);
            out->dblVal = shape.low + (shape.high - shape.low) * static_cast<double>(r) / 999.0;
            return S_OK;
        }
        case SignalKind::Square:
            out->dblVal = phase < 0.5 ? shape.low : shape.high;
            return S_OK;
        case SignalKind::Counter:
            out->dblVal = shape.low + shape.step * static_cast<double>(periods);
            return S_OK;
        case SignalKind::Toggle:
            out->vt = VT_BOOL;
            out->boolVal = Flag(periods % 2 == 1);
            return S_OK;
        case SignalKind::Text: {
            if (shape.texts.empty()) {
                break;
            }
            const std::u16string& text = shape.texts[periods % shape.texts.size()];
            out->vt = VT_BSTR;
            out->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (out->bstrVal == nullptr) {
                out->vt = VT_EMPTY;
                return E_OUTOFMEMORY;
            }
            return S_OK;
        }
        default:
            break;
    }
    out->vt = VT_EMPTY;
    return E_UNEXPECTED;
}
