#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "com/number_text.h"
#include "com/oledate.h"
#include "com/variant.h"
#include "com/variant_detail.h"

using com_detail::ParsedNumber;

namespace {

// A scalar source value, read once and converted to any target from here.
struct Source {
    enum class Kind { Empty, Signed, Unsigned, Real, Currency, Text };
    Kind kind = Kind::Empty;
    VARTYPE vt = VT_EMPTY;
    std::int64_t i = 0;  // Signed, and Currency (the amount times 10000)
    std::uint64_t u = 0;
    double d = 0.0;
    std::u16string_view text;
};

constexpr double kFirstDate = -657434.0;  // 100-01-01
constexpr double kLastDate = 2958465.0;   // 9999-12-31

// Reads a non-array value of one of the converted types; BYREF is already resolved.
HRESULT ReadSource(const VARIANT& v, Source& s) {
    s.vt = v.vt;
    switch (v.vt) {
        case VT_EMPTY:
            s.kind = Source::Kind::Empty;
            return S_OK;
        case VT_I1:
            s.kind = Source::Kind::Signed;
            s.i = static_cast<signed char>(v.cVal);
            return S_OK;
        case VT_I2:
            s.kind = Source::Kind::Signed;
            s.i = v.iVal;
            return S_OK;
        case VT_BOOL:
            s.kind = Source::Kind::Signed;
            s.i = v.boolVal;
            return S_OK;
        case VT_I4:
            s.kind = Source::Kind::Signed;
            s.i = v.lVal;
            return S_OK;
        case VT_INT:
            s.kind = Source::Kind::Signed;
            s.i = v.intVal;
            return S_OK;
        case VT_I8:
            s.kind = Source::Kind::Signed;
            s.i = v.llVal;
            return S_OK;
        case VT_UI1:
            s.kind = Source::Kind::Unsigned;
            s.u = v.bVal;
            return S_OK;
        case VT_UI2:
            s.kind = Source::Kind::Unsigned;
            s.u = v.uiVal;
            return S_OK;
        case VT_UI4:
            s.kind = Source::Kind::Unsigned;
            s.u = v.ulVal;
            return S_OK;
        case VT_UINT:
            s.kind = Source::Kind::Unsigned;
            s.u = v.uintVal;
            return S_OK;
        case VT_UI8:
            s.kind = Source::Kind::Unsigned;
            s.u = v.ullVal;
            return S_OK;
        case VT_R4:
            s.kind = Source::Kind::Real;
            s.d = v.fltVal;
            return S_OK;
        case VT_R8:
            s.kind = Source::Kind::Real;
            s.d = v.dblVal;
            return S_OK;
        case VT_DATE:
            s.kind = Source::Kind::Real;
            s.d = v.date;
            return S_OK;
        case VT_CY:
            s.kind = Source::Kind::Currency;
            s.i = v.cyVal.int64;
            return S_OK;
        case VT_BSTR:
            s.kind = Source::Kind::Text;
            s.text = BstrView(v.bstrVal);
            return S_OK;
        case VT_DECIMAL:
            return E_NOTIMPL;
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

// Copies the value a VT_BYREF variant points at into a plain variant (shallow: a BSTR or
// array stays owned by its referent).
HRESULT Dereference(const VARIANT& in, VARIANT& out) {
    out = VARIANT{};
    if ((in.vt & VT_BYREF) == 0) {
        out = in;
        return S_OK;
    }
    if (in.byref == nullptr) {
        return DISP_E_TYPEMISMATCH;
    }
    const auto vt = static_cast<VARTYPE>(in.vt & ~VT_BYREF);
    std::size_t size = 0;
    if ((vt & VT_ARRAY) != 0) {
        size = sizeof(SAFEARRAY*);
    } else {
        switch (vt) {
            case VT_I1:
            case VT_UI1:
                size = 1;
                break;
            case VT_I2:
            case VT_UI2:
            case VT_BOOL:
                size = 2;
                break;
            case VT_I4:
            case VT_UI4:
            case VT_INT:
            case VT_UINT:
            case VT_R4:
            case VT_ERROR:
                size = 4;
                break;
            case VT_I8:
            case VT_UI8:
            case VT_R8:
            case VT_DATE:
            case VT_CY:
                size = 8;
                break;
            case VT_BSTR:
                size = sizeof(BSTR);
                break;
            case VT_VARIANT: {
                // A reference to a variant converts as that variant, one level deep.
                const auto& inner = *static_cast<const VARIANT*>(in.byref);
                if ((inner.vt & VT_BYREF) != 0 || inner.vt == VT_VARIANT) {
                    return DISP_E_TYPEMISMATCH;
                }
                out = inner;
                return S_OK;
            }
            default:
                return DISP_E_TYPEMISMATCH;
        }
    }
    out.vt = vt;
    std::memcpy(&out.llVal, in.byref, size);
    return S_OK;
}

template <class T>
HRESULT ToInteger(const Source& s, T& out) {
    using Limits = std::numeric_limits<T>;
    switch (s.kind) {
        case Source::Kind::Empty:
            out = 0;
            return S_OK;
        case Source::Kind::Signed:
            if constexpr (std::is_unsigned_v<T>) {
                // True is all bits set in any width, as the platform has it.
                if (s.vt == VT_BOOL) {
                    out = static_cast<T>(s.i);
                    return S_OK;
                }
                if (s.i < 0 || static_cast<std::uint64_t>(s.i) > Limits::max()) {
                    return DISP_E_OVERFLOW;
                }
            } else {
                if (s.i < Limits::min() || s.i > Limits::max()) {
                    return DISP_E_OVERFLOW;
                }
            }
            out = static_cast<T>(s.i);
            return S_OK;
        case Source::Kind::Unsigned:
            if (s.u > static_cast<std::uint64_t>(Limits::max())) {
                return DISP_E_OVERFLOW;
            }
            out = static_cast<T>(s.u);
            return S_OK;
        case Source::Kind::Real: {
            if (std::isnan(s.d)) {
                return DISP_E_OVERFLOW;
            }
            // Bounds as exact powers of two: [min, max + 1).
            const double upper = std::ldexp(1.0, Limits::digits);
            const double lower = std::is_signed_v<T> ? -upper : 0.0;
            const double rounded = std::isinf(s.d) ? s.d : com_detail::RoundHalfEven(s.d);
            if (!(rounded >= lower && rounded < upper)) {
                return DISP_E_OVERFLOW;
            }
            out = static_cast<T>(rounded);
            return S_OK;
        }
        case Source::Kind::Currency: {
            std::int64_t whole = s.i / 10000;
            const std::int64_t rest = s.i % 10000;
            const std::int64_t half = rest < 0 ? -rest : rest;
            if (half > 5000 || (half == 5000 && whole % 2 != 0)) {
                whole += rest < 0 ? -1 : 1;
            }
            Source integer;
            integer.kind = Source::Kind::Signed;
            integer.i = whole;
            return ToInteger(integer, out);
        }
        case Source::Kind::Text: {
            ParsedNumber number;
            HRESULT hr = com_detail::ParseNumber(s.text, number);
            if (FAILED(hr)) {
                return hr;
            }
            using Bits = std::make_unsigned_t<T>;
            if (number.radix) {
                // Hexadecimal and octal digits give the bit pattern of the target width, so
                // "&HFFFF" is -1 as a 16-bit signed integer.
                if (number.radixValue > std::numeric_limits<Bits>::max()) {
                    return DISP_E_OVERFLOW;
                }
                const auto bits = static_cast<T>(static_cast<Bits>(number.radixValue));
                if (!number.negative) {
                    out = bits;
                    return S_OK;
                }
                if (bits == 0) {
                    out = 0;
                    return S_OK;
                }
                if (std::is_unsigned_v<T> || bits == Limits::min()) {
                    return DISP_E_OVERFLOW;
                }
                out = static_cast<T>(-bits);
                return S_OK;
            }
            std::uint64_t value = 0;
            hr = com_detail::ParsedToScaledInteger(number, 0, value);
            if (FAILED(hr)) {
                return hr;
            }
            if (!number.negative || value == 0) {
                if (value > static_cast<std::uint64_t>(Limits::max())) {
                    return DISP_E_OVERFLOW;
                }
                out = static_cast<T>(value);
                return S_OK;
            }
            if constexpr (std::is_unsigned_v<T>) {
                return DISP_E_OVERFLOW;
            } else {
                // The magnitude of min is max + 1.
                if (value - 1 > static_cast<std::uint64_t>(Limits::max())) {
                    return DISP_E_OVERFLOW;
                }
                out = static_cast<T>(Bits{0} - static_cast<Bits>(value));
                return S_OK;
            }
        }
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT ToDouble(const Source& s, double& out) {
    switch (s.kind) {
        case Source::Kind::Empty:
            out = 0.0;
            return S_OK;
        case Source::Kind::Signed:
            out = static_cast<double>(s.i);
            return S_OK;
        case Source::Kind::Unsigned:
            out = static_cast<double>(s.u);
            return S_OK;
        case Source::Kind::Real:
            out = s.d;
            return S_OK;
        case Source::Kind::Currency:
            out = static_cast<double>(s.i) / 10000.0;
            return S_OK;
        case Source::Kind::Text: {
            ParsedNumber number;
            const HRESULT hr = com_detail::ParseNumber(s.text, number);
            return FAILED(hr) ? hr : com_detail::ParsedToDouble(number, out);
        }
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT ToFloat(const Source& s, float& out) {
    if (s.kind == Source::Kind::Signed) {
        out = static_cast<float>(s.i);
        return S_OK;
    }
    if (s.kind == Source::Kind::Unsigned) {
        out = static_cast<float>(s.u);
        return S_OK;
    }
    double value = 0.0;
    const HRESULT hr = ToDouble(s, value);
    if (FAILED(hr)) {
        return hr;
    }
    if (std::fabs(value) > std::numeric_limits<float>::max()) {
        return DISP_E_OVERFLOW;
    }
    out = static_cast<float>(value);
    return S_OK;
}

HRESULT ToDate(const Source& s, DATE& out) {
    if (s.kind == Source::Kind::Text) {
        // Reading dates from text is not provided by this platform.
        return E_NOTIMPL;
    }
    double value = 0.0;
    const HRESULT hr = ToDouble(s, value);
    if (FAILED(hr)) {
        return hr;
    }
    if (!(value > kFirstDate - 1.0 && value < kLastDate + 1.0)) {
        return DISP_E_OVERFLOW;
    }
    out = value;
    return S_OK;
}

HRESULT ToCurrency(const Source& s, CY& out) {
    constexpr std::int64_t kScale = 10000;
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    switch (s.kind) {
        case Source::Kind::Empty:
            out.int64 = 0;
            return S_OK;
        case Source::Kind::Signed:
            if (s.i > kMax / kScale || s.i < -(kMax / kScale)) {
                return DISP_E_OVERFLOW;
            }
            out.int64 = s.i * kScale;
            return S_OK;
        case Source::Kind::Unsigned:
            if (s.u > static_cast<std::uint64_t>(kMax / kScale)) {
                return DISP_E_OVERFLOW;
            }
            out.int64 = static_cast<std::int64_t>(s.u) * kScale;
            return S_OK;
        case Source::Kind::Real: {
            if (std::isnan(s.d)) {
                return DISP_E_OVERFLOW;
            }
            const double scaled = com_detail::RoundHalfEven(s.d * kScale);
            if (!(scaled >= -0x1p63 && scaled < 0x1p63)) {
                return DISP_E_OVERFLOW;
            }
            out.int64 = static_cast<std::int64_t>(scaled);
            return S_OK;
        }
        case Source::Kind::Currency:
            out.int64 = s.i;
            return S_OK;
        case Source::Kind::Text: {
            ParsedNumber number;
            HRESULT hr = com_detail::ParseNumber(s.text, number);
            if (FAILED(hr)) {
                return hr;
            }
            std::uint64_t magnitude = 0;
            if (number.radix) {
                if (number.radixValue > static_cast<std::uint64_t>(kMax / kScale)) {
                    return DISP_E_OVERFLOW;
                }
                magnitude = number.radixValue * kScale;
            } else {
                hr = com_detail::ParsedToScaledInteger(number, 4, magnitude);
                if (FAILED(hr)) {
                    return hr;
                }
            }
            const std::uint64_t limit =
                static_cast<std::uint64_t>(kMax) + (number.negative ? 1 : 0);
            if (magnitude > limit) {
                return DISP_E_OVERFLOW;
            }
            out.int64 = static_cast<std::int64_t>(number.negative ? 0 - magnitude : magnitude);
            return S_OK;
        }
    }
    return DISP_E_TYPEMISMATCH;
}

bool EqualsIgnoringCase(std::u16string_view text, std::u16string_view lowerWord) {
    if (text.size() != lowerWord.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i] >= u'A' && text[i] <= u'Z' ? text[i] - u'A' + u'a' : text[i];
        if (c != lowerWord[i]) {
            return false;
        }
    }
    return true;
}

std::u16string_view TrimBlanks(std::u16string_view text) {
    const auto blank = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

HRESULT ToBool(const Source& s, VARIANT_BOOL& out) {
    bool value = false;
    switch (s.kind) {
        case Source::Kind::Empty:
            break;
        case Source::Kind::Signed:
        case Source::Kind::Currency:
            value = s.i != 0;
            break;
        case Source::Kind::Unsigned:
            value = s.u != 0;
            break;
        case Source::Kind::Real:
            value = s.d != 0.0;  // NaN is not zero
            break;
        case Source::Kind::Text: {
            const std::u16string_view word = TrimBlanks(s.text);
            if (EqualsIgnoringCase(word, u"true") || word == u"#TRUE#") {
                value = true;
            } else if (EqualsIgnoringCase(word, u"false") || word == u"#FALSE#") {
                value = false;
            } else {
                double number = 0.0;
                const HRESULT hr = ToDouble(s, number);
                if (FAILED(hr)) {
                    return hr;
                }
                value = number != 0.0;
            }
            break;
        }
    }
    out = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT MakeBstr(std::string_view ascii, BSTR& out) {
    OLECHAR wide[com_detail::kNumberTextSize * 2];
    for (std::size_t i = 0; i < ascii.size(); ++i) {
        wide[i] = static_cast<unsigned char>(ascii[i]);
    }
    out = SysAllocStringLen(wide, static_cast<UINT>(ascii.size()));
    return out == nullptr ? E_OUTOFMEMORY : S_OK;
}

// A date as US-English short date and long time ("3/15/2023 2:05:09 PM"); a date without a
// time of day shows the date only, and day zero shows the time only.
HRESULT FormatDate(DATE date, BSTR& out) {
    UDATE fields;
    if (FAILED(VarUdateFromDate(date, 0, &fields))) {
        return E_INVALIDARG;
    }
    const double whole = std::trunc(date);
    const double partial = date - whole;
    const bool timeOnly = whole == 0.0;
    const bool dateOnly = !timeOnly && partial > -1e-12 && partial < 1e-12;
    char text[com_detail::kNumberTextSize * 2];
    char* end = text;
    const auto number = [&end](unsigned value, int width) {
        char digits[8];
        const std::size_t length = com_detail::FormatUnsigned(value, digits);
        for (std::size_t pad = length; pad < static_cast<std::size_t>(width); ++pad) {
            *end++ = '0';
        }
        std::memcpy(end, digits, length);
        end += length;
    };
    if (!timeOnly) {
        number(fields.st.wMonth, 1);
        *end++ = '/';
        number(fields.st.wDay, 1);
        *end++ = '/';
        number(fields.st.wYear, 4);
    }
    if (!dateOnly) {
        if (!timeOnly) {
            *end++ = ' ';
        }
        const unsigned hour = fields.st.wHour % 12 == 0 ? 12 : fields.st.wHour % 12;
        number(hour, 1);
        *end++ = ':';
        number(fields.st.wMinute, 2);
        *end++ = ':';
        number(fields.st.wSecond, 2);
        std::memcpy(end, fields.st.wHour < 12 ? " AM" : " PM", 3);
        end += 3;
    }
    return MakeBstr({text, static_cast<std::size_t>(end - text)}, out);
}

HRESULT ToBstr(const Source& s, USHORT flags, BSTR& out) {
    char text[com_detail::kNumberTextSize];
    std::size_t length = 0;
    switch (s.kind) {
        case Source::Kind::Empty:
            break;
        case Source::Kind::Signed:
            if (s.vt == VT_BOOL && (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) != 0) {
                // Only on request does a boolean read as a word; by default it is the number
                // -1 or 0, as on the platform this code follows, so text written by callers
                // that never asked for words keeps reading back as a number.
                return MakeBstr(s.i == VARIANT_FALSE ? "False" : "True", out);
            }
            length = com_detail::FormatSigned(s.i, text);
            break;
        case Source::Kind::Unsigned:
            length = com_detail::FormatUnsigned(s.u, text);
            break;
        case Source::Kind::Real:
            if (s.vt == VT_DATE) {
                return FormatDate(s.d, out);
            }
            // A float keeps 7 significant digits, a double 15, in the shortest form.
            length = com_detail::FormatReal(s.d, s.vt == VT_R4 ? 7 : 15, text);
            break;
        case Source::Kind::Currency:
            length = com_detail::FormatCurrency(s.i, text);
            break;
        case Source::Kind::Text:
            out = SysAllocStringLen(s.text.data(), static_cast<UINT>(s.text.size()));
            return out == nullptr ? E_OUTOFMEMORY : S_OK;
    }
    return MakeBstr({text, length}, out);
}

// Converts a scalar source into result (empty on entry) of type vt.
HRESULT Coerce(const VARIANT& value, USHORT flags, VARTYPE vt, VARIANT& result) {
    if (vt == VT_EMPTY) {
        return S_OK;
    }
    if (vt == VT_NULL) {
        if (value.vt != VT_EMPTY) {
            return DISP_E_TYPEMISMATCH;
        }
        result.vt = VT_NULL;
        return S_OK;
    }
    Source s;
    HRESULT hr = ReadSource(value, s);
    if (FAILED(hr)) {
        return hr;
    }
    switch (vt) {
        case VT_I1: {
            // CHAR may be unsigned on some targets; VT_I1 is always signed.
            signed char value = 0;
            hr = ToInteger(s, value);
            result.cVal = static_cast<CHAR>(value);
            break;
        }
        case VT_I2:
            hr = ToInteger(s, result.iVal);
            break;
        case VT_I4:
            hr = ToInteger(s, result.lVal);
            break;
        case VT_INT:
            hr = ToInteger(s, result.intVal);
            break;
        case VT_I8:
            hr = ToInteger(s, result.llVal);
            break;
        case VT_UI1:
            hr = ToInteger(s, result.bVal);
            break;
        case VT_UI2:
            hr = ToInteger(s, result.uiVal);
            break;
        case VT_UI4:
            hr = ToInteger(s, result.ulVal);
            break;
        case VT_UINT:
            hr = ToInteger(s, result.uintVal);
            break;
        case VT_UI8:
            hr = ToInteger(s, result.ullVal);
            break;
        case VT_R4:
            hr = ToFloat(s, result.fltVal);
            break;
        case VT_R8:
            hr = ToDouble(s, result.dblVal);
            break;
        case VT_DATE:
            hr = ToDate(s, result.date);
            break;
        case VT_CY:
            hr = ToCurrency(s, result.cyVal);
            break;
        case VT_BOOL:
            hr = ToBool(s, result.boolVal);
            break;
        case VT_BSTR:
            hr = ToBstr(s, flags, result.bstrVal);
            break;
        case VT_DECIMAL:
            return E_NOTIMPL;
        default:
            return DISP_E_TYPEMISMATCH;
    }
    if (SUCCEEDED(hr)) {
        result.vt = vt;
    }
    return hr;
}

}  // namespace

HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT wFlags, VARTYPE vt) {
    if (pvargDest == nullptr || pvarSrc == nullptr) {
        return E_INVALIDARG;
    }
    if (FAILED(com_detail::ValidateVartype(pvarSrc->vt)) ||
        FAILED(com_detail::ValidateVartype(vt))) {
        return DISP_E_BADVARTYPE;
    }
    if ((vt & VT_BYREF) != 0) {
        return DISP_E_TYPEMISMATCH;
    }
    if (pvargDest == pvarSrc && pvarSrc->vt == vt) {
        return S_OK;
    }
    VARIANT value;
    HRESULT hr = Dereference(*pvarSrc, value);
    if (FAILED(hr)) {
        return hr;
    }
    // The result is built aside, so that a failure leaves the destination untouched and the
    // destination may be the source.
    VARIANT result{};
    if (value.vt == vt) {
        hr = VariantCopy(&result, &value);
    } else if (((value.vt | vt) & VT_ARRAY) != 0) {
        hr = DISP_E_TYPEMISMATCH;
    } else {
        hr = Coerce(value, wFlags, vt, result);
    }
    if (FAILED(hr)) {
        return hr;
    }
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *pvargDest = result;
    return S_OK;
}
