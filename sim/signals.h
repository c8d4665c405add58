#pragma once
// The signal generators of the simulated items. Every value is a pure function of the
// simulated time (milliseconds since the simulator started) and, for the random signal, of
// the seed, so that a test can predict what the server reports at any moment.

#include <cstdint>
#include <string>
#include <vector>

#include "com/variant.h"

enum class SignalKind {
    Static,       // not generated: the item holds what was last written to it
    Ramp,         // VT_R8: t seconds, wrapping at 100 ((ms mod 100000) / 1000)
    Sine,         // VT_R8: 10 * sin(2 pi t / 10)
    Random,       // VT_I4: 0..999, drawn from (seed, milliseconds)
    Square,       // VT_BOOL: false for 5 s, then true for 5 s, and so on
    Counter,      // VT_UI4: whole seconds elapsed
    Toggle,       // VT_BOOL: false for 1 s, then true for 1 s, and so on
    Text,         // VT_BSTR: "Alpha", "Beta", "Gamma", "Delta", each for 2 s, cycling
    Temperature,  // VT_R8: 20 + 5 * sin(2 pi t / 60)
    Pressure,     // VT_R4: 1013.25 + 2.5 * sin(2 pi t / 30)
    Load,         // VT_R8: t + index
    Shaped,       // a generator with parameters of its own (SignalShape), kept by the space
};

// The type a generator produces (VT_EMPTY for Static).
VARTYPE SignalType(SignalKind kind);

// Writes the signal's value at the given time into out, which must hold nothing that needs
// freeing. index is the item's number for Load; ignored by the others.
HRESULT EvaluateSignal(SignalKind kind, std::uint64_t milliseconds, std::uint32_t seed,
                       std::uint32_t index, VARIANT* out);

// The random signal's value, for tests that predict it.
std::int32_t RandomSignalValue(std::uint32_t seed, std::uint64_t milliseconds);

// A generator with its parameters, as an address-space file declares it. kind is one of Ramp,
// Sine, Random, Square, Counter, Toggle and Text; periods are in simulated milliseconds (never 0).
//   Ramp     low + (high - low) * (t mod period) / period                       (VT_R8)
//   Sine     offset + amplitude * sin(2 pi t / period)                          (VT_R8)
//   Random   low + (high - low) * r / 999, r a random 0..999 drawn anew each period (VT_R8)
//   Square   low for the first half of each period, high for the second half   (VT_R8)
//   Counter  low + step * whole periods elapsed                                 (VT_R8)
//   Toggle   false for one period, true for the next, and so on                 (VT_BOOL)
//   Text     texts[i] for the i-th period, cycling                              (VT_BSTR)
// The item converts the result to its own data type.
struct SignalShape {
    SignalKind kind = SignalKind::Ramp;
    double low = 0.0;
    double high = 100.0;
    double amplitude = 10.0;
    double offset = 0.0;
    double step = 1.0;
    std::uint64_t periodMs = 10000;
    std::vector<std::u16string> texts;
};

// The shape's value at the given time, as the type named above, into out (which must hold
// nothing that needs freeing). index varies the random draw between items.
HRESULT EvaluateShape(const SignalShape& shape, std::uint64_t milliseconds, std::uint32_t seed,
                      std::uint32_t index, VARIANT* out);
