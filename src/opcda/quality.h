#pragma once
// Item quality: the 16-bit word delivered with every value. Bits 7-6 are the quality, bits 5-2
// the sub-status, bits 1-0 the limit; the high byte belongs to the vendor.

#include "com/types.h"

inline constexpr WORD OPC_QUALITY_MASK = 0xC0;
inline constexpr WORD OPC_STATUS_MASK = 0xFC;
inline constexpr WORD OPC_LIMIT_MASK = 0x03;

inline constexpr WORD OPC_QUALITY_BAD = 0x00;
inline constexpr WORD OPC_QUALITY_UNCERTAIN = 0x40;
inline constexpr WORD OPC_QUALITY_GOOD = 0xC0;

// Sub-status of bad quality.
inline constexpr WORD OPC_QUALITY_CONFIG_ERROR = 0x04;
inline constexpr WORD OPC_QUALITY_NOT_CONNECTED = 0x08;
inline constexpr WORD OPC_QUALITY_DEVICE_FAILURE = 0x0C;
inline constexpr WORD OPC_QUALITY_SENSOR_FAILURE = 0x10;
inline constexpr WORD OPC_QUALITY_LAST_KNOWN = 0x14;
inline constexpr WORD OPC_QUALITY_COMM_FAILURE = 0x18;
inline constexpr WORD OPC_QUALITY_OUT_OF_SERVICE = 0x1C;

// Sub-status of uncertain quality.
inline constexpr WORD OPC_QUALITY_LAST_USABLE = 0x44;
inline constexpr WORD OPC_QUALITY_SENSOR_CAL = 0x50;
inline constexpr WORD OPC_QUALITY_EGU_EXCEEDED = 0x54;
inline constexpr WORD OPC_QUALITY_SUB_NORMAL = 0x58;

// Sub-status of good quality.
inline constexpr WORD OPC_QUALITY_LOCAL_OVERRIDE = 0xD8;

// Limit bits.
inline constexpr WORD OPC_LIMIT_OK = 0x00;
inline constexpr WORD OPC_LIMIT_LOW = 0x01;
inline constexpr WORD OPC_LIMIT_HIGH = 0x02;
inline constexpr WORD OPC_LIMIT_CONST = 0x03;

constexpr WORD OpcQualityOf(WORD quality) {
    return quality & OPC_QUALITY_MASK;
}
constexpr WORD OpcStatusOf(WORD quality) {
    return quality & OPC_STATUS_MASK;
}
constexpr WORD OpcLimitOf(WORD quality) {
    return quality & OPC_LIMIT_MASK;
}
