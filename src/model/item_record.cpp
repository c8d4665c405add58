#include "model/item_record.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "com/oledate.h"
#include "model/archive.h"
#include "model/item_update.h"
#include "model/text_compare.h"
#include "model/values.h"

namespace {

std::unique_ptr<CObject> CreateItem() {
    return std::make_unique<clBaseOPCItem>();
}

// Below this magnitude x * 1000 rounds to an integer that a double holds exactly, so the
// rounded integer divided by 1000.0 is the correctly rounded value of the three-decimal text.
constexpr double kExactLimit = 4503599627370496.0 / 1000.0;  // 2^52 / 1000

// The value of the three-decimal text of x ("%.3f", read back): the exact binary value of
// x * 1000 rounded to an integer with ties to even, divided by 1000. False outside the range
// where that holds (NaN, infinities, huge magnitudes).
bool ThousandthsOf(double x, double& out) {
    if (!(std::fabs(x) < kExactLimit)) {
        return false;
    }
    const double product = x * 1000.0;
    const double error = std::fma(x, 1000.0, -product);  // exact: x * 1000 == product + error
    double rounded = std::rint(product);
    const double offset = product - rounded;  // exact, in [-0.5, 0.5]
    // Only a product that rounded onto a half can hide a non-tie: the error then decides.
    if (std::fabs(offset) == 0.5 && error != 0.0 && std::signbit(error) == std::signbit(offset)) {
        rounded += offset > 0.0 ? 1.0 : -1.0;
    }
    out = rounded / 1000.0;  // rint kept the sign of a zero, as "-0.000" reads back
    return true;
}

// atof of the display text.
double TextNumber(const VARIANT& value) {
    const std::string text = VariantToText(value);
    return std::strtod(text.c_str(), nullptr);
}

}  // namespace

double ReceivedNumber(const VARIANT& value) {
    double x = 0.0;
    switch (value.vt) {
        case VT_I2:
            return value.iVal;
        case VT_I4:
            return value.lVal;
        case VT_I1:
            return static_cast<signed char>(value.cVal);
        case VT_UI1:
            return value.bVal;
        case VT_UI2:
            return value.uiVal;
        case VT_UI4:
            return value.ulVal;
        case VT_R4:
            if (ThousandthsOf(static_cast<double>(value.fltVal), x)) {
                return x;
            }
            break;
        case VT_R8:
            if (ThousandthsOf(value.dblVal, x)) {
                return x;
            }
            break;
        default:
            break;
    }
    return TextNumber(value);
}

const CRuntimeClass clBaseOPCItem::runtimeClass{"clBaseOPCItem", VERSIONABLE_SCHEMA | 0u,
                                                &CreateItem};

namespace {

// The item image's runs of fixed fields between its strings: the version word and the id; the
// scaling, the access rights and the value; the active flag, the two types and the seven date
// and time words of the timestamp.
constexpr std::size_t kItemHead = 4 + 4;
constexpr std::size_t kItemScaling = 4 + 1 + 5 * 8 + 4 + 8;
constexpr std::size_t kItemState = 4 + 2 + 2 + 7 * 4;

}  // namespace

void clBaseOPCItem::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        // What lies outside the record is fetched while its own fields are written.
        __builtin_prefetch(displayName.data());
        __builtin_prefetch(opcItemId.data());
        history.Prefetch();
        {
            CArchive::Packer out = ar.Claim(kItemHead);
            out.DWord(1);
            out.Long(id);
        }
        ar.WriteString(displayName);
        ar.WriteString(opcItemId);
        {
            CArchive::Packer out = ar.Claim(kItemScaling);
            out.Long(scaleType);
            out.Bool(scaleEnabled);
            out.Double(rawMax);
            out.Double(rawMin);
            out.Double(engMax);
            out.Double(engMin);
            out.Double(scaleFactor);
            out.DWord(accessRights);
            out.Double(value);
        }
        ar.WriteString(valueText);
        {
            int year = 0;
            int month = 0;
            int day = 0;
            timestamp.GetDate(year, month, day);
            CArchive::Packer out = ar.Claim(kItemState);
            out.Long(active);
            out.Word(requestedType);
            out.Word(canonicalType);
            out.Long(year);
            out.Long(month);
            out.Long(day);
            out.Long(timestamp.GetHour());
            out.Long(timestamp.GetMinute());
            out.Long(timestamp.GetSecond());
            out.Long(timestamp.GetMillisecond());
        }
        history.Serialize(ar);
        return;
    }
    {
        CArchive::Unpacker in = ar.Take(kItemHead);
        in.DWord();  // version word
        id = in.Long();
    }
    displayName = ar.ReadString();
    opcItemId = ar.ReadString();
    {
        CArchive::Unpacker in = ar.Take(kItemScaling);
        scaleType = in.Long();
        scaleEnabled = in.Bool();
        rawMax = in.Double();
        rawMin = in.Double();
        engMax = in.Double();
        engMin = in.Double();
        scaleFactor = in.Double();
        accessRights = in.DWord();
        value = in.Double();
    }
    valueText = ar.ReadString();
    {
        CArchive::Unpacker in = ar.Take(kItemState);
        active = in.Long();
        requestedType = in.Word();
        canonicalType = in.Word();
        std::array<std::int32_t, 7> fields{};  // year, month, day, hour, minute, second, ms
        for (std::int32_t& field : fields) {
            field = in.Long();
        }
        timestamp.SetDateTime(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], 0);
        timestamp.SetMillisecond(fields[6]);
    }
    history.Serialize(ar);
    lastRecordedValue = 0.0;
    quality = kInitialQuality;
    state = stateLoaded;
}

std::string clBaseOPCItem::GetPropertyText(std::string_view key) const {
    if (EqualsNoCase(key, "name")) {
        return displayName;
    }
    if (EqualsNoCase(key, "path")) {
        return opcItemId;
    }
    if (EqualsNoCase(key, "value")) {
        return IsNumericType(canonicalType) ? DoubleToText(value) : valueText;
    }
    if (EqualsNoCase(key, "timestamp")) {
        return std::string(timestamp.Format().view());
    }
    if (EqualsNoCase(key, "quality")) {
        return std::string(QualityText(quality));
    }
    if (EqualsNoCase(key, "active")) {
        return active != 0 ? "Valid" : "Invalid";
    }
    if (EqualsNoCase(key, "access")) {
        return AccessText(accessRights);
    }
    if (EqualsNoCase(key, "rawmin")) {
        return DoubleToText(rawMin);
    }
    if (EqualsNoCase(key, "rawmax")) {
        return DoubleToText(rawMax);
    }
    if (EqualsNoCase(key, "engmin")) {
        return DoubleToText(engMin);
    }
    if (EqualsNoCase(key, "engmax")) {
        return DoubleToText(engMax);
    }
    if (EqualsNoCase(key, "scale_factor")) {
        return DoubleToText(scaleFactor);
    }
    if (EqualsNoCase(key, "scale_state")) {
        return scaleEnabled ? "Enable" : "Disable";
    }
    if (EqualsNoCase(key, "scale_type")) {
        if (scaleType == scaleTypeLinear) {
            return "linear";
        }
        return scaleType == scaleTypeFactor ? "factor" : "";
    }
    if (EqualsNoCase(key, "type")) {
        return TypeName(canonicalType);
    }
    if (EqualsNoCase(key, "state")) {
        return state == stateValid ? "Valid" : "Invalid";
    }
    return {};
}

double clBaseOPCItem::Scale(double x) const {
    switch (scaleType) {
        case scaleTypeLinear: {
            const double fraction = (x - rawMin) / (rawMax - rawMin);
            return engMin + fraction * (engMax - engMin);
        }
        case scaleTypeFactor:
            return x * scaleFactor;
        default:
            return x;
    }
}

bool clBaseOPCItem::IsScalable() const {
    return IsNumericType(canonicalType);
}

int clBaseOPCItem::WriteCheck() const {
    if ((accessRights & 2u) == 0) {
        return writeReadOnly;
    }
    return IsWritableKind(canonicalType) ? writeAllowed : writeNotNumeric;
}

void clBaseOPCItem::ApplyUpdate(const IItemUpdateSource& live) {
    const FILETIME received = live.GetReceivedTimestamp();
    SYSTEMTIME utc;
    const bool haveTime = FileTimeToSystemTime(&received, &utc) != FALSE;
    quality = live.GetReceivedQuality();
    // A timestamp outside the calendar range keeps the last good one.
    if (haveTime) {
        timestamp.SetDateTime(utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond,
                              0);
        timestamp.SetMillisecond(utc.wMilliseconds);
    }

    const VARIANT& data = live.GetReceivedValue();
    if (live.IsNumeric()) {
        double x = ReceivedNumber(data);
        if (scaleEnabled) {
            x = Scale(x);
        }
        value = x;
        if (value != lastRecordedValue) {  // true for NaN
            lastRecordedValue = value;
            history.AddSample(timestamp, value, quality, true);
        }
    } else if (live.IsBoolean()) {
        valueText = VariantToText(data);
        if (EqualsNoCase(valueText, "On")) {
            value = 1.0;
        } else if (EqualsNoCase(valueText, "Off")) {
            value = 0.0;
        }
        if (value != lastRecordedValue) {
            lastRecordedValue = value;
            history.AddSample(timestamp, value, quality, false);
        }
    } else {
        valueText = VariantToText(data);
    }
}
