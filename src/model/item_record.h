#pragma once
// The item record: an item's configuration, its last known value, quality and timestamp, and
// its history buffer.

#include <cstdint>
#include <string>
#include <string_view>

#include "com/types.h"
#include "com/variant.h"
#include "model/datetime.h"
#include "model/history.h"
#include "model/object.h"

class IItemUpdateSource;

// The number a numeric item takes from a received value: the value read back from its display
// text, so that a VT_R4 or VT_R8 keeps three decimals and text that holds no number gives 0.0.
// Integers and floating-point values inside the exactly computable range are converted without
// building the text; the result is the same to the bit.
double ReceivedNumber(const VARIANT& value);

class clBaseOPCItem : public CObject {
  public:
    enum ScaleType : std::int32_t { scaleTypeLinear = 1, scaleTypeFactor = 2 };
    enum WriteCheckResult : int { writeAllowed = 0, writeReadOnly = 1, writeNotNumeric = 2 };
    enum ItemState : std::int32_t { stateValid = 1, stateLoaded = 2 };
    static constexpr std::uint32_t kInitialQuality = 0x40;

    static const CRuntimeClass runtimeClass;
    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    void Serialize(CArchive& ar) override;

    clBaseOPCItem() = default;
    clBaseOPCItem(const clBaseOPCItem&) = delete;
    clBaseOPCItem& operator=(const clBaseOPCItem&) = delete;

    // Display text of a property ("name", "value", "quality", ...; case ignored), "" for an
    // unknown key.
    std::string GetPropertyText(std::string_view key) const;

    // The engineering value of a raw value by the scale type (linear or factor); any other scale
    // type leaves it unchanged. Does not look at scaleEnabled.
    double Scale(double x) const;
    // True for the numeric canonical types, the ones that take a scaling.
    bool IsScalable() const;
    // writeReadOnly when the item is not writable, writeAllowed when it is writable and of a
    // type the write dialog can write, writeNotNumeric otherwise.
    int WriteCheck() const;
    // Takes the received value, quality and timestamp of the live item: numeric items store the
    // (scaled) number and offer changes to the history, boolean items keep "On"/"Off" and 1/0,
    // anything else keeps its text.
    void ApplyUpdate(const IItemUpdateSource& live);

    clHistoricals history;
    std::int32_t state = 0;  // stateValid while the server holds the item
    std::int32_t scaleType = scaleTypeLinear;
    bool scaleEnabled = false;
    double rawMax = 100.0;
    double rawMin = 0.0;
    double engMax = 100.0;
    double engMin = 0.0;
    double scaleFactor = 1.0;
    std::uint32_t accessRights = 0;  // bit 0 readable, bit 1 writable
    double value = 0.0;              // after scaling
    double lastRecordedValue = 0.0;  // the value last offered to the history
    std::string valueText;           // the value of a non-numeric item
    std::uint32_t quality = kInitialQuality;
    clDateTime timestamp{2000, 1, 1, 0, 0, 0, 0};
    std::int32_t active = 0;
    std::string displayName;
    std::string opcItemId;  // the fully qualified item id on the server
    VARTYPE requestedType = 0;
    VARTYPE canonicalType = 0;
    std::int32_t id = 0;
    std::int32_t gridRow = 0;  // view bookkeeping, not stored
};
