#include "sim/space_loader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "com/oledate.h"
#include "com/safearray.h"
#include "com/unicode.h"
#include "opcda/types.h"
#include "sim/owned_variant.h"

namespace {

// A failure on the way: the message, where it points.
struct LoadFailure {
    std::string message;
    int line = 0;
    int column = 0;
};

class Loader {
  public:
    explicit Loader(AddressSpace& space) : space_(space) {}

    bool Run(const JsonValue& root) {
        if (!root.IsObject()) {
            return Fail(root, "the file must hold one object, the top branch");
        }
        return LoadBranchBody(root, AddressSpace::kTop, /*top=*/true);
    }

    const LoadFailure& Failure() const { return failure_; }

  private:
    bool Fail(const JsonValue& at, std::string message) {
        failure_ = LoadFailure{std::move(message), at.line, at.column};
        return false;
    }

    bool CheckKeys(const JsonValue& object, std::initializer_list<std::string_view> known,
                   const char* what) {
        for (const auto& [key, value] : object.members) {
            bool found = false;
            for (const std::string_view k : known) {
                found = found || k == key;
            }
            if (!found) {
                return Fail(value, "unknown key \"" + key + "\" in " + what);
            }
        }
        return true;
    }

    bool Want(const JsonValue& value, JsonValue::Kind kind, const std::string& what) {
        if (value.kind != kind) {
            return Fail(value, what + " must be " + JsonKindName(kind) + ", not " +
                                   JsonKindName(value.kind));
        }
        return true;
    }

    bool Name(const JsonValue& object, const char* what, std::string* out) {
        const JsonValue* name = object.Find("name");
        if (name == nullptr) {
            return Fail(object, std::string(what) + " without a \"name\"");
        }
        if (!Want(*name, JsonValue::Kind::String, "\"name\"")) {
            return false;
        }
        if (name->text.empty()) {
            return Fail(*name, "an empty name");
        }
        for (const char c : name->text) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                return Fail(*name, "a name may not hold control characters");
            }
        }
        *out = name->text;
        return true;
    }

    bool WholeNumber(const JsonValue& value, double low, double high, const std::string& what,
                     double* out) {
        if (!Want(value, JsonValue::Kind::Number, what)) {
            return false;
        }
        if (value.number != std::floor(value.number) || value.number < low || value.number > high) {
            return Fail(value, what + " must be a whole number from " + Format(low) + " to " +
                                   Format(high));
        }
        *out = value.number;
        return true;
    }

    static std::string Format(double number) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.17g", number);
        return buffer;
    }

    bool LoadBranchBody(const JsonValue& object, NodeIndex branch, bool top) {
        if (!CheckKeys(object, {"name", "branches", "leaves", "load"}, "a branch")) {
            return false;
        }
        if (top && object.Find("name") != nullptr) {
            return Fail(*object.Find("name"), "the top branch has no name");
        }
        if (const JsonValue* leaves = object.Find("leaves")) {
            if (!Want(*leaves, JsonValue::Kind::Array, "\"leaves\"")) {
                return false;
            }
            for (const JsonValue& leaf : leaves->items) {
                if (!LoadLeaf(leaf, branch)) {
                    return false;
                }
            }
        }
        if (const JsonValue* load = object.Find("load")) {
            double count = 0;
            const double room = static_cast<double>(kMaxLoadedLeaves - space_.LeafCount());
            if (!WholeNumber(*load, 0, room, "\"load\"", &count)) {
                return false;
            }
            if (!space_.AddLoadItems(branch, static_cast<std::uint32_t>(count))) {
                return Fail(*load, "a load item's name is taken in this branch");
            }
        }
        if (const JsonValue* branches = object.Find("branches")) {
            if (!Want(*branches, JsonValue::Kind::Array, "\"branches\"")) {
                return false;
            }
            for (const JsonValue& child : branches->items) {
                if (!Want(child, JsonValue::Kind::Object, "a branch")) {
                    return false;
                }
                std::string name;
                if (!Name(child, "a branch", &name)) {
                    return false;
                }
                const std::optional<NodeIndex> added = space_.AddBranch(branch, name);
                if (!added) {
                    return Fail(
                        child, "the branch \"" + name + "\" is there already (by name or by path)");
                }
                if (!LoadBranchBody(child, *added, false)) {
                    return false;
                }
            }
        }
        return true;
    }

    struct TypeName {
        const char* name;
        VARTYPE vt;
    };
    static constexpr TypeName kTypes[] = {
        {"I1", VT_I1},
        {"I2", VT_I2},
        {"I4", VT_I4},
        {"UI1", VT_UI1},
        {"UI2", VT_UI2},
        {"UI4", VT_UI4},
        {"R4", VT_R4},
        {"R8", VT_R8},
        {"BOOL", VT_BOOL},
        {"BSTR", VT_BSTR},
        {"CY", VT_CY},
        {"DATE", VT_DATE},
        {"R8 array", static_cast<VARTYPE>(VT_ARRAY | VT_R8)},
        {"BSTR array", static_cast<VARTYPE>(VT_ARRAY | VT_BSTR)},
    };

    bool LoadType(const JsonValue& value, VARTYPE* out) {
        if (!Want(value, JsonValue::Kind::String, "\"type\"")) {
            return false;
        }
        for (const TypeName& t : kTypes) {
            if (value.text == t.name) {
                *out = t.vt;
                return true;
            }
        }
        return Fail(value, "unknown type \"" + value.text +
                               "\" (I1, I2, I4, UI1, UI2, UI4, R4, R8, BOOL, BSTR, CY, DATE, "
                               "\"R8 array\", \"BSTR array\")");
    }

    bool LoadAccess(const JsonValue& value, DWORD* out) {
        if (!Want(value, JsonValue::Kind::String, "\"access\"")) {
            return false;
        }
        if (value.text == "read") {
            *out = OPC_READABLE;
        } else if (value.text == "write") {
            *out = OPC_WRITEABLE;
        } else if (value.text == "read-write") {
            *out = OPC_READABLE | OPC_WRITEABLE;
        } else {
            return Fail(value, "unknown access \"" + value.text + "\" (read, write or read-write)");
        }
        return true;
    }

    static bool IsInteger(VARTYPE vt) {
        return vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_UI1 || vt == VT_UI2 ||
               vt == VT_UI4;
    }

    // A number as the type: through the platform's conversion, which refuses what overflows.
    bool NumberAs(const JsonValue& value, VARTYPE vt, VARIANT* out) {
        if (!Want(value, JsonValue::Kind::Number, "the value")) {
            return false;
        }
        if (IsInteger(vt) && value.number != std::floor(value.number)) {
            return Fail(value, "the value must be a whole number for this type");
        }
        if (vt == VT_CY && std::fabs(value.number * 10000.0 - std::round(value.number * 10000.0)) >
                               1e-6 * std::max(1.0, std::fabs(value.number * 10000.0))) {
            return Fail(value, "a currency value has at most four decimals");
        }
        VARIANT number;
        VariantInit(&number);
        number.vt = VT_R8;
        number.dblVal = value.number;
        if (FAILED(ConvertInto(out, number, vt))) {
            return Fail(value, "the value is out of the type's range");
        }
        return true;
    }

    static bool Digits(std::string_view text, std::size_t at, std::size_t count, int* out) {
        if (at + count > text.size()) {
            return false;
        }
        int value = 0;
        for (std::size_t i = at; i < at + count; ++i) {
            if (text[i] < '0' || text[i] > '9') {
                return false;
            }
            value = value * 10 + (text[i] - '0');
        }
        *out = value;
        return true;
    }

    // "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS[.fff]".
    bool DateValue(const JsonValue& value, VARIANT* out) {
        if (!Want(value, JsonValue::Kind::String, "a DATE value")) {
            return false;
        }
        const std::string& t = value.text;
        int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
        bool ok = t.size() >= 10 && Digits(t, 0, 4, &year) && t[4] == '-' &&
                  Digits(t, 5, 2, &month) && t[7] == '-' && Digits(t, 8, 2, &day);
        if (ok && t.size() > 10) {
            ok = t.size() >= 19 && (t[10] == 'T' || t[10] == ' ') && Digits(t, 11, 2, &hour) &&
                 t[13] == ':' && Digits(t, 14, 2, &minute) && t[16] == ':' &&
                 Digits(t, 17, 2, &second);
            if (ok && t.size() > 19) {
                ok = t.size() == 23 && t[19] == '.' && Digits(t, 20, 3, &millis);
            }
        }
        static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        ok = ok && year >= 100 && month >= 1 && month <= 12 && day >= 1 &&
             day <= (month == 2 && !leap ? 28 : kDays[month - 1]) && hour < 24 && minute < 60 &&
             second < 60;
        if (!ok) {
            return Fail(value, "a DATE value is \"YYYY-MM-DD\" or \"YYYY-MM-DDTHH:MM:SS[.fff]\"");
        }
        UDATE u{};
        u.st.wYear = static_cast<WORD>(year);
        u.st.wMonth = static_cast<WORD>(month);
        u.st.wDay = static_cast<WORD>(day);
        u.st.wHour = static_cast<WORD>(hour);
        u.st.wMinute = static_cast<WORD>(minute);
        u.st.wSecond = static_cast<WORD>(second);
        DATE date = 0;
        if (FAILED(VarDateFromUdate(&u, 0, &date))) {
            return Fail(value, "the date is out of range");
        }
        // The fraction counts forward from midnight on either side of 1899-12-30.
        const double fraction = millis / 86400000.0;
        date += date >= 0 ? fraction : -fraction;
        out->vt = VT_DATE;
        out->date = date;
        return true;
    }

    bool ArrayValue(const JsonValue& value, VARTYPE element, VARIANT* out) {
        if (!Want(value, JsonValue::Kind::Array, "an array value")) {
            return false;
        }
        SAFEARRAY* array =
            SafeArrayCreateVector(element, 0, static_cast<ULONG>(value.items.size()));
        if (array == nullptr) {
            return Fail(value, "out of memory");
        }
        out->vt = static_cast<VARTYPE>(VT_ARRAY | element);
        out->parray = array;  // the caller's holder frees it on a failure below
        LONG i = 0;
        for (const JsonValue& item : value.items) {
            if (element == VT_R8) {
                if (!Want(item, JsonValue::Kind::Number, "an element of an R8 array")) {
                    return false;
                }
                double number = item.number;
                SafeArrayPutElement(array, &i, &number);
            } else {
                if (!Want(item, JsonValue::Kind::String, "an element of a BSTR array")) {
                    return false;
                }
                const std::u16string wide = Utf8ToUtf16(item.text);
                BSTR text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
                SafeArrayPutElement(array, &i, text);  // copies the string
                SysFreeString(text);
            }
            ++i;
        }
        return true;
    }

    // The static value of a leaf of type vt; absent: zero, false or empty.
    bool StaticValue(const JsonValue* value, VARTYPE vt, OwnedVariant* out) {
        VARIANT& v = out->Get();
        if (value == nullptr) {
            if ((vt & VT_ARRAY) != 0) {
                v.vt = vt;
                v.parray = SafeArrayCreateVector(static_cast<VARTYPE>(vt & VT_TYPEMASK), 0, 0);
                return v.parray != nullptr;
            }
            v.vt = vt;
            v.llVal = 0;
            if (vt == VT_BSTR) {
                v.bstrVal = SysAllocString(u"");
            }
            return true;
        }
        switch (vt) {
            case VT_BOOL:
                if (!Want(*value, JsonValue::Kind::Bool, "a BOOL value")) {
                    return false;
                }
                v.vt = VT_BOOL;
                v.boolVal = value->boolean ? VARIANT_TRUE : VARIANT_FALSE;
                return true;
            case VT_BSTR: {
                if (!Want(*value, JsonValue::Kind::String, "a BSTR value")) {
                    return false;
                }
                const std::u16string wide = Utf8ToUtf16(value->text);
                v.vt = VT_BSTR;
                v.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
                return true;
            }
            case VT_DATE:
                return DateValue(*value, &v);
            case VT_ARRAY | VT_R8:
            case VT_ARRAY | VT_BSTR:
                return ArrayValue(*value, static_cast<VARTYPE>(vt & VT_TYPEMASK), &v);
            default:
                return NumberAs(*value, vt, &v);
        }
    }

    bool Parameter(const JsonValue& signal, const char* key, double* out) {
        if (const JsonValue* value = signal.Find(key)) {
            if (!Want(*value, JsonValue::Kind::Number, std::string("\"") + key + "\"")) {
                return false;
            }
            *out = value->number;
        }
        return true;
    }

    struct SignalName {
        const char* name;
        SignalKind kind;
        VARTYPE type;  // its default type
    };

    // The signal of a leaf; *isStatic for "static".
    bool LoadSignal(const JsonValue& signal, SignalShape* shape, VARTYPE* defaultType,
                    bool* isStatic) {
        if (!Want(signal, JsonValue::Kind::Object, "\"signal\"")) {
            return false;
        }
        const JsonValue* kind = signal.Find("kind");
        if (kind == nullptr) {
            return Fail(signal, "a signal without a \"kind\"");
        }
        if (!Want(*kind, JsonValue::Kind::String, "\"kind\"")) {
            return false;
        }
        static constexpr SignalName kSignals[] = {
            {"ramp", SignalKind::Ramp, VT_R8},        {"sine", SignalKind::Sine, VT_R8},
            {"random", SignalKind::Random, VT_I4},    {"square", SignalKind::Square, VT_R8},
            {"counter", SignalKind::Counter, VT_UI4}, {"toggle", SignalKind::Toggle, VT_BOOL},
            {"text", SignalKind::Text, VT_BSTR},
        };
        *isStatic = kind->text == "static";
        if (*isStatic) {
            return CheckKeys(signal, {"kind"}, "a static signal");
        }
        const SignalName* found = nullptr;
        for (const SignalName& s : kSignals) {
            if (kind->text == s.name) {
                found = &s;
            }
        }
        if (found == nullptr) {
            return Fail(*kind,
                        "unknown signal \"" + kind->text +
                            "\" (ramp, sine, random, square, counter, toggle, text, static)");
        }
        shape->kind = found->kind;
        *defaultType = found->type;
        double period = 0;
        switch (found->kind) {
            case SignalKind::Ramp:
                shape->low = 0;
                shape->high = 100;
                period = 100000;
                if (!CheckKeys(signal, {"kind", "low", "high", "period"}, "a ramp")) {
                    return false;
                }
                break;
            case SignalKind::Sine:
                period = 10000;
                if (!CheckKeys(signal, {"kind", "amplitude", "offset", "period"}, "a sine")) {
                    return false;
                }
                break;
            case SignalKind::Random:
                shape->low = 0;
                shape->high = 999;
                period = 100;
                if (!CheckKeys(signal, {"kind", "low", "high", "period"}, "a random signal")) {
                    return false;
                }
                break;
            case SignalKind::Square:
                shape->low = 0;
                shape->high = 1;
                period = 10000;
                if (!CheckKeys(signal, {"kind", "low", "high", "period"}, "a square signal")) {
                    return false;
                }
                break;
            case SignalKind::Counter:
                shape->low = 0;
                period = 1000;
                if (!CheckKeys(signal, {"kind", "low", "step", "period"}, "a counter")) {
                    return false;
                }
                break;
            case SignalKind::Toggle:
                period = 1000;
                if (!CheckKeys(signal, {"kind", "period"}, "a toggle")) {
                    return false;
                }
                break;
            default:  // text
                period = 2000;
                shape->texts = {u"Alpha", u"Beta", u"Gamma", u"Delta"};
                if (!CheckKeys(signal, {"kind", "texts", "period"}, "a text signal")) {
                    return false;
                }
                if (const JsonValue* texts = signal.Find("texts")) {
                    if (!Want(*texts, JsonValue::Kind::Array, "\"texts\"")) {
                        return false;
                    }
                    if (texts->items.empty()) {
                        return Fail(*texts, "a text signal needs at least one text");
                    }
                    shape->texts.clear();
                    for (const JsonValue& text : texts->items) {
                        if (!Want(text, JsonValue::Kind::String, "a text")) {
                            return false;
                        }
                        shape->texts.push_back(Utf8ToUtf16(text.text));
                    }
                }
                break;
        }
        if (!Parameter(signal, "low", &shape->low) || !Parameter(signal, "high", &shape->high) ||
            !Parameter(signal, "amplitude", &shape->amplitude) ||
            !Parameter(signal, "offset", &shape->offset) ||
            !Parameter(signal, "step", &shape->step)) {
            return false;
        }
        if (const JsonValue* p = signal.Find("period")) {
            // Up to a year of milliseconds.
            if (!WholeNumber(*p, 1, 31536000000.0, "\"period\"", &period)) {
                return false;
            }
        }
        shape->periodMs = static_cast<std::uint64_t>(period);
        return true;
    }

    bool LoadLeaf(const JsonValue& object, NodeIndex branch) {
        if (!Want(object, JsonValue::Kind::Object, "a leaf")) {
            return false;
        }
        if (!CheckKeys(object, {"name", "itemId", "type", "access", "signal", "value", "range"},
                       "a leaf")) {
            return false;
        }
        if (space_.LeafCount() >= kMaxLoadedLeaves) {
            return Fail(object, "more than " + std::to_string(kMaxLoadedLeaves) + " leaves");
        }
        std::string name;
        if (!Name(object, "a leaf", &name)) {
            return false;
        }
        std::string itemId;
        if (const JsonValue* id = object.Find("itemId")) {
            if (!Want(*id, JsonValue::Kind::String, "\"itemId\"")) {
                return false;
            }
            if (!IsWellFormedItemId(id->text)) {
                return Fail(*id, "\"" + id->text +
                                     "\" is not a well-formed item id (no empty part between "
                                     "dots, no control characters)");
            }
            itemId = id->text;
        }
        SignalShape shape;
        VARTYPE type = VT_R8;
        bool isStatic = true;
        if (const JsonValue* signal = object.Find("signal")) {
            if (!LoadSignal(*signal, &shape, &type, &isStatic)) {
                return false;
            }
        }
        if (const JsonValue* t = object.Find("type")) {
            if (!LoadType(*t, &type)) {
                return false;
            }
        }
        DWORD access = isStatic ? OPC_READABLE | OPC_WRITEABLE : OPC_READABLE;
        if (const JsonValue* a = object.Find("access")) {
            if (!LoadAccess(*a, &access)) {
                return false;
            }
            if (!isStatic && access != OPC_READABLE) {
                return Fail(*a, "a generated leaf can only be read");
            }
        }
        const JsonValue* value = object.Find("value");
        if (value != nullptr && !isStatic) {
            return Fail(*value, "a generated leaf has no \"value\"");
        }
        const JsonValue* range = object.Find("range");
        double low = 0;
        double high = 0;
        if (range != nullptr) {
            if (type != VT_R4 && type != VT_R8) {
                return Fail(*range, "only an R4 or R8 leaf has a range");
            }
            if (!Want(*range, JsonValue::Kind::Array, "\"range\"")) {
                return false;
            }
            if (range->items.size() != 2 || !range->items[0].IsNumber() ||
                !range->items[1].IsNumber() || range->items[0].number >= range->items[1].number) {
                return Fail(*range, "a range is [low, high] with low below high");
            }
            low = range->items[0].number;
            high = range->items[1].number;
        }

        std::optional<NodeIndex> added;
        if (isStatic) {
            OwnedVariant initial;
            if (!StaticValue(value, type, &initial)) {
                return false;
            }
            added = space_.AddStatic(branch, name, initial.Get(), access, itemId);
        } else {
            if ((type & VT_ARRAY) != 0) {
                return Fail(object, "a generated leaf cannot be an array");
            }
            added = space_.AddShaped(branch, name, std::move(shape), type, itemId);
            if (!added && !space_.FindChildLeaf(branch, name) &&
                (itemId.empty() || !space_.FindLeaf(itemId))) {
                return Fail(object, "the signal's values cannot be had as the leaf's type");
            }
        }
        if (!added) {
            return Fail(object, "the leaf \"" + name + "\" or its item id is there already");
        }
        if (range != nullptr) {
            space_.SetRange(*added, low, high);
        }
        return true;
    }

    AddressSpace& space_;
    LoadFailure failure_;
};

std::string Where(int line, int column, const std::string& message) {
    return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message;
}

}  // namespace

bool LoadAddressSpace(std::string_view text, AddressSpace* space, std::string* error) {
    JsonValue root;
    JsonError jsonError;
    if (!ParseJson(text, &root, &jsonError)) {
        *error = jsonError.ToString();
        return false;
    }
    AddressSpace built;
    Loader loader(built);
    if (!loader.Run(root)) {
        const LoadFailure& f = loader.Failure();
        *error = Where(f.line, f.column, f.message);
        return false;
    }
    *space = std::move(built);
    return true;
}

bool LoadAddressSpaceFile(const std::filesystem::path& file, AddressSpace* space,
                          std::string* error) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec) {
        *error = file.string() + ": " + ec.message();
        return false;
    }
    if (size > JsonLimits{}.maxBytes) {
        *error =
            file.string() + ": larger than " + std::to_string(JsonLimits{}.maxBytes) + " bytes";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!in || !in.read(text.data(), static_cast<std::streamsize>(size))) {
        *error = file.string() + ": cannot be read";
        return false;
    }
    if (!LoadAddressSpace(text, space, error)) {
        *error = file.string() + ": " + *error;
        return false;
    }
    return true;
}
