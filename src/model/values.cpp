#include "model/values.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "com/oledate.h"
#include "com/unicode.h"

namespace {

// printf into a string. The stack buffer holds every number these texts print ("%f" of the
// largest double needs 317 characters); longer texts are formatted a second time at their size.
__attribute__((format(printf, 1, 2))) std::string Printf(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0) {
        return {};
    }
    if (static_cast<std::size_t>(length) < sizeof buffer) {
        return std::string(buffer, static_cast<std::size_t>(length));
    }
    std::string text(static_cast<std::size_t>(length), '\0');
    va_start(args, format);
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    return text;
}

__attribute__((format(printf, 2, 3))) void AppendPrintf(std::string& text, const char* format,
                                                        ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof buffer) {
        text.append(buffer, static_cast<std::size_t>(length));
    }
}

// A wide string as "%ls" prints it: up to its first NUL, in the program's 8-bit text. A null
// BSTR is the empty string.
std::string WideText(BSTR text) {
    std::u16string_view wide = BstrView(text);
    const std::size_t nul = wide.find(u'\0');
    if (nul != std::u16string_view::npos) {
        wide = wide.substr(0, nul);
    }
    return Utf16ToUtf8(wide);
}

// The elements of dimension 1 of an array VARIANT, reached in place: Elements() is null when the
// array cannot be read or holds no elements of the expected size.
template <class T>
class ArrayData {
  public:
    explicit ArrayData(SAFEARRAY* array) : array_(array) {
        LONG lower = 0;
        LONG upper = 0;
        if (array_ == nullptr || SafeArrayGetDim(array_) < 1 ||
            SafeArrayGetElemsize(array_) != sizeof(T) ||
            FAILED(SafeArrayGetLBound(array_, 1, &lower)) ||
            FAILED(SafeArrayGetUBound(array_, 1, &upper))) {
            return;
        }
        const std::int64_t count = std::int64_t{upper} - lower + 1;
        if (count <= 0) {
            return;
        }
        // A further dimension of length 0 leaves the array without elements at all.
        std::uint64_t total = 1;
        for (USHORT d = 0; d < array_->cDims; ++d) {
            total *= array_->rgsabound[d].cElements;
        }
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array_, &data)) || data == nullptr) {
            return;
        }
        data_ = static_cast<const T*>(data);
        count_ = static_cast<std::uint64_t>(count) < total ? static_cast<std::size_t>(count)
                                                           : static_cast<std::size_t>(total);
    }
    ~ArrayData() {
        if (data_ != nullptr) {
            SafeArrayUnaccessData(array_);
        }
    }
    ArrayData(const ArrayData&) = delete;
    ArrayData& operator=(const ArrayData&) = delete;

    const T* begin() const { return data_; }
    const T* end() const { return data_ + count_; }

  private:
    SAFEARRAY* array_;
    const T* data_ = nullptr;
    std::size_t count_ = 0;
};

std::string DoubleArrayText(SAFEARRAY* array) {
    std::string text;
    for (const double element : ArrayData<double>(array)) {
        AppendPrintf(text, "%9.3f;", element);
    }
    return text;
}

std::string StringArrayText(SAFEARRAY* array) {
    std::string text;
    for (const BSTR element : ArrayData<BSTR>(array)) {
        text += WideText(element);
        text += ';';
    }
    return text;
}

}  // namespace

std::string VariantToText(const VARIANT& value) {
    switch (value.vt) {
        case VT_I2:
            return Printf("%d ", value.iVal);
        case VT_I4:
            return Printf("%d ", value.lVal);
        case VT_R4:
            return Printf("%5.3f ", static_cast<double>(value.fltVal));
        case VT_R8:
            return Printf("%9.3f ", value.dblVal);
        case VT_CY:
            // The amount, not the scaled integer that carries it.
            return DoubleToText(static_cast<double>(value.cyVal.int64) / 10000.0);
        case VT_DATE:
            return FormatOleDate(value.date, "%Y-%m-%d %H:%M:%S");
        case VT_BSTR:
            return WideText(value.bstrVal) + ' ';
        case VT_BOOL:
            return value.boolVal != 0 ? "On" : "Off";
        case VT_I1:
            return Printf("%d", static_cast<std::int8_t>(value.cVal));
        case VT_UI1:
            return Printf("%d", value.bVal);
        case VT_UI2:
            return Printf("%d", value.uiVal);
        case VT_UI4:
            return Printf("%u", value.ulVal);
        case VT_ARRAY | VT_R8:
            return DoubleArrayText(value.parray);
        case VT_ARRAY | VT_BSTR:
            return StringArrayText(value.parray);
        default:
            return Printf("Unknown type:%d", value.vt);
    }
}

std::string DoubleToText(double x) {
    char text[512];
    const int printed = std::snprintf(text, sizeof text, "%f", x);
    if (printed <= 0 || static_cast<std::size_t>(printed) >= sizeof text) {
        return {};
    }
    if (x == 0.0) {
        return "0";
    }
    // The last character that is not a '0', looking back no further than index 1.
    std::size_t last = static_cast<std::size_t>(printed) - 1;
    while (last >= 1 && text[last] == '0') {
        --last;
    }
    if (last == 0) {
        return std::string(text, static_cast<std::size_t>(printed));
    }
    std::size_t keep = last + 1;
    if (text[last] == '.' || text[last] == ',') {
        --keep;
    }
    return std::string(text, keep);
}

std::string FormatOleDate(DATE date, const char* pattern) {
    UDATE fields{};
    if (FAILED(VarUdateFromDate(date, 0, &fields))) {
        return "Invalid DateTime";
    }
    if (pattern == nullptr) {
        return {};
    }
    std::tm broken{};
    broken.tm_year = fields.st.wYear - 1900;
    broken.tm_mon = fields.st.wMonth - 1;
    broken.tm_mday = fields.st.wDay;
    broken.tm_hour = fields.st.wHour;
    broken.tm_min = fields.st.wMinute;
    broken.tm_sec = fields.st.wSecond;
    broken.tm_wday = fields.st.wDayOfWeek;
    broken.tm_yday = fields.wDayOfYear - 1;
    broken.tm_isdst = 0;
    char text[256];
    const std::size_t length = std::strftime(text, sizeof text, pattern, &broken);
    return std::string(text, length);
}

void TextToVariant(std::string_view text, VARTYPE vartype, VARIANT& out) {
    VARIANT temporary;
    VariantInit(&temporary);
    VariantInit(&out);
    temporary.vt = VT_BSTR;
    temporary.bstrVal = SysAllocStringUtf8(text);
    VariantChangeType(&out, &temporary, VARIANT_NOVALUEPROP, vartype);
    VariantClear(&temporary);
}

std::string TypeName(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY:
            return "Empty";
        case VT_I2:
            return "INT16";
        case VT_I4:
            return "INT32";
        case VT_R4:
            return "Float";
        case VT_R8:
            return "Double";
        case VT_CY:
            return "Currency";
        case VT_DATE:
            return "Date";
        case VT_BSTR:
            return "String";
        case VT_BOOL:
            return "Boolean";
        case VT_I1:
            return "INT8";
        case VT_UI1:
            return "UINT8";
        case VT_UI2:
            return "UINT16";
        case VT_UI4:
            return "UINT32";
        case VT_ARRAY | VT_R8:
            return "Array Double";
        case VT_ARRAY | VT_BSTR:
            return "Array String";
        default:
            return Printf("Type:%d", vt);
    }
}

bool IsNumericType(VARTYPE vt) {
    switch (vt) {
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
            return true;
        default:
            return false;
    }
}

bool IsWritableKind(VARTYPE vt) {
    return vt == VT_BOOL || IsNumericType(vt);
}

std::string_view QualityText(std::uint32_t quality) {
    switch (quality & 0xC0u) {
        case 0x40u:
            return "Uncertain";
        case 0x00u:
            return "Bad";
        default:
            return "Good";
    }
}

std::string AccessText(std::uint32_t accessRights) {
    std::string text;
    if ((accessRights & 1u) != 0) {
        text = "R";
    }
    if ((accessRights & 2u) != 0) {
        text += text.empty() ? "W" : "+W";
    }
    return text;
}
