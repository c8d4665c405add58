#pragma once
// The built-in address space every server under test publishes, and the rules its generated
// values follow as functions of the time they carry.

#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "com/variant.h"
#include "opcda/types.h"

namespace conformance {

inline constexpr DWORD kRead = OPC_READABLE;
inline constexpr DWORD kWrite = OPC_WRITEABLE;
inline constexpr DWORD kReadWrite = OPC_READABLE | OPC_WRITEABLE;

struct ExpectedItem {
    const char* id;
    VARTYPE type;  // canonical
    DWORD rights;  // 0 where the address space does not fix them
};

// Every item outside the load branch.
inline const std::vector<ExpectedItem>& ExpectedItems() {
    static const std::vector<ExpectedItem> items = {
        {"Signals.Ramp", VT_R8, kRead},
        {"Signals.Sine", VT_R8, kRead},
        {"Signals.Random", VT_I4, kRead},
        {"Signals.Square", VT_BOOL, kRead},
        {"Signals.Counter", VT_UI4, kRead},
        {"Signals.Toggle", VT_BOOL, kRead},
        {"Signals.Text", VT_BSTR, kRead},
        {"Static.Int8", VT_I1, kReadWrite},
        {"Static.UInt8", VT_UI1, kReadWrite},
        {"Static.Int16", VT_I2, kReadWrite},
        {"Static.UInt16", VT_UI2, kReadWrite},
        {"Static.Int32", VT_I4, kReadWrite},
        {"Static.UInt32", VT_UI4, kReadWrite},
        {"Static.Float", VT_R4, kReadWrite},
        {"Static.Double", VT_R8, kReadWrite},
        {"Static.Bool", VT_BOOL, kReadWrite},
        {"Static.String", VT_BSTR, kReadWrite},
        {"Static.Currency", VT_CY, kReadWrite},
        {"Static.Date", VT_DATE, kReadWrite},
        {"Static.DoubleArray", VT_ARRAY | VT_R8, kReadWrite},
        {"Static.StringArray", VT_ARRAY | VT_BSTR, kReadWrite},
        {"Access.ReadOnly", VT_R8, kRead},
        {"Access.WriteOnly", VT_R8, kWrite},
        {"Access.ReadWrite", VT_R8, kReadWrite},
        {"Plant.Area1.Line1.Temperature", VT_R8, 0},
        {"Plant.Area1.Line1.Pressure", VT_R4, 0},
        {"Plant.Area1.Line1.Running", VT_BOOL, 0},
        {"Dotted.Branch.Value", VT_I2, 0},
    };
    return items;
}

inline constexpr int kLoadLeaves = 10000;

// "Item00042" for 42.
inline std::string LoadLeafName(int index) {
    char name[16];
    std::snprintf(name, sizeof name, "Item%05d", index);
    return name;
}

// The generated signals at t seconds of server time.
inline double RampAt(double t) {
    return std::fmod(t, 100.0);
}
inline double SineAt(double t) {
    return 10.0 * std::sin(2.0 * std::numbers::pi * t / 10.0);
}
inline double CounterAt(double t) {
    return std::floor(t + 1e-9);
}
inline double LoadAt(double t, int index) {
    return t + index;
}
inline const std::vector<std::string>& TextCycle() {
    static const std::vector<std::string> words = {"Alpha", "Beta", "Gamma", "Delta"};
    return words;
}

}  // namespace conformance
