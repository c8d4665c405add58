#pragma once
// Building OPC DA 1.0 stream blocks byte by byte, as a server lays them out, for the decoder's
// tests and the fuzz corpus.

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "com/types.h"
#include "opcda/types.h"

struct StreamItem {
    OPCHANDLE handle = 0;
    WORD quality = 0xC0;
    FILETIME timestamp{};
    VARTYPE vt = 3;  // VT_I4
    std::uint64_t payload = 0;
    std::u16string text;                  // for VT_BSTR
    std::optional<std::uint32_t> length;  // the byte length written before a string
};

inline StreamItem Scalar(OPCHANDLE handle, VARTYPE vt, std::uint64_t payload, WORD quality = 0xC0,
                         FILETIME timestamp = {}) {
    StreamItem item;
    item.handle = handle;
    item.vt = vt;
    item.payload = payload;
    item.quality = quality;
    item.timestamp = timestamp;
    return item;
}

inline StreamItem Text(OPCHANDLE handle, std::u16string text,
                       std::optional<std::uint32_t> length = std::nullopt, WORD quality = 0xC0,
                       FILETIME timestamp = {}) {
    StreamItem item;
    item.handle = handle;
    item.vt = 8;  // VT_BSTR
    item.text = std::move(text);
    item.length = length;
    item.quality = quality;
    item.timestamp = timestamp;
    return item;
}

inline void PutBytes(std::vector<std::uint8_t>& block, std::size_t at, const void* data,
                     std::size_t size) {
    if (block.size() < at + size) {
        block.resize(at + size);
    }
    std::memcpy(block.data() + at, data, size);
}

template <class T>
void Put(std::vector<std::uint8_t>& block, std::size_t at, T value) {
    PutBytes(block, at, &value, sizeof value);
}

// A data block: group header, item headers (20 bytes with a timestamp, 12 without), then
// each value as 16 bytes, a string value followed by its byte length and characters.
inline std::vector<std::uint8_t> DataBlock(bool timed, const std::vector<StreamItem>& items,
                                           HRESULT status = 0, OPCHANDLE group = 0,
                                           std::optional<DWORD> count = std::nullopt) {
    const std::size_t headerSize = timed ? 20 : 12;
    std::vector<std::uint8_t> block(20 + items.size() * headerSize);
    std::size_t valueAt = block.size();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const StreamItem& item = items[i];
        const std::size_t at = 20 + i * headerSize;
        Put<DWORD>(block, at, item.handle);
        Put<DWORD>(block, at + 4, static_cast<DWORD>(valueAt));
        Put<WORD>(block, at + 8, item.quality);
        Put<WORD>(block, at + 10, 0);
        if (timed) {
            Put<FILETIME>(block, at + 12, item.timestamp);
        }
        Put<VARTYPE>(block, valueAt, item.vt);
        Put<std::uint64_t>(block, valueAt + 8, item.payload);
        valueAt += 16;
        if (item.vt == 8) {
            const auto bytes = static_cast<std::uint32_t>(item.text.size() * 2);
            Put<std::uint32_t>(block, valueAt, item.length.value_or(bytes));
            PutBytes(block, valueAt + 4, item.text.data(), bytes);
            Put<char16_t>(block, valueAt + 4 + bytes, 0);
            valueAt += 4 + bytes + 2;
        }
        block.resize(valueAt);
    }
    Put<DWORD>(block, 0, static_cast<DWORD>(block.size()));
    Put<DWORD>(block, 4, count.value_or(static_cast<DWORD>(items.size())));
    Put<DWORD>(block, 8, group);
    Put<DWORD>(block, 12, 0);
    Put<HRESULT>(block, 16, status);
    return block;
}

inline std::vector<std::uint8_t> WriteCompleteBlock(
    const std::vector<std::pair<OPCHANDLE, HRESULT>>& entries, HRESULT status = 0) {
    std::vector<std::uint8_t> block(16 + entries.size() * 8);
    Put<DWORD>(block, 0, static_cast<DWORD>(entries.size()));
    Put<HRESULT>(block, 12, status);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Put<DWORD>(block, 16 + i * 8, entries[i].first);
        Put<HRESULT>(block, 20 + i * 8, entries[i].second);
    }
    return block;
}
