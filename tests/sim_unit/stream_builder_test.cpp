#include "sim/stream_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "opcda/streams.h"
#include "sim/owned_variant.h"
#include "sim/sim_time.h"

namespace {

template <class T>
T At(const std::vector<BYTE>& block, std::size_t offset) {
    T value;
    EXPECT_LE(offset + sizeof(T), block.size());
    std::memcpy(&value, block.data() + offset, sizeof(T));
    return value;
}

TEST(StreamBuilder, TimedDataBlockLayout) {
    OwnedVariant values[3];
    values[0].Get().vt = VT_R8;
    values[0].Get().dblVal = 2.5;
    values[1].Get().vt = VT_BSTR;
    values[1].Get().bstrVal = SysAllocString(u"Hello");
    values[2].Get().vt = VT_I2;
    values[2].Get().iVal = -7;
    VARIANT raw[3] = {values[0].Get(), values[1].Get(), values[2].Get()};
    const OPCHANDLE handles[3] = {11, 22, 33};
    const WORD qualities[3] = {0xC0, 0x00, 0x40};
    const FILETIME times[3] = {SimFileTime(0), SimFileTime(1000), SimFileTime(2000)};

    std::vector<BYTE> block;
    ASSERT_EQ(BuildDataStream(block, StreamTimestamps::With, 99, 7, S_OK, 3, handles, raw,
                              qualities, times),
              S_OK);

    const auto group = At<OPCGROUPHEADER>(block, 0);
    EXPECT_EQ(group.dwSize, block.size());
    EXPECT_EQ(group.dwItemCount, 3u);
    EXPECT_EQ(group.hClientGroup, 99u);
    EXPECT_EQ(group.dwTransactionID, 7u);
    EXPECT_EQ(group.hrStatus, S_OK);

    for (int i = 0; i < 3; ++i) {
        const auto header = At<OPCITEMHEADER1>(block, 20 + 20 * i);
        EXPECT_EQ(header.hClient, handles[i]);
        EXPECT_EQ(header.wQuality, qualities[i]);
        EXPECT_EQ(header.ftTimeStampItem.dwLowDateTime, times[i].dwLowDateTime);
        EXPECT_EQ(header.dwValueOffset % 8, 0u);
        EXPECT_GE(header.dwValueOffset, 20u + 60u);
        const auto value = At<VARIANT>(block, header.dwValueOffset);
        EXPECT_EQ(value.vt, raw[i].vt);
    }
    const auto first = At<VARIANT>(block, At<OPCITEMHEADER1>(block, 20).dwValueOffset);
    EXPECT_EQ(first.dblVal, 2.5);

    // The string: no pointer, then byte length, characters and a terminating zero.
    const DWORD textAt = At<OPCITEMHEADER1>(block, 40).dwValueOffset;
    EXPECT_EQ(At<VARIANT>(block, textAt).llVal, 0);
    EXPECT_EQ(At<DWORD>(block, textAt + 16), 10u);
    std::u16string text(5, u'\0');
    std::memcpy(text.data(), block.data() + textAt + 20, 10);
    EXPECT_EQ(text, u"Hello");
    EXPECT_EQ(At<OLECHAR>(block, textAt + 30), 0);

    // Only the bytes of a small type are written: the rest of the value field is zero.
    const auto small = At<VARIANT>(block, At<OPCITEMHEADER1>(block, 60).dwValueOffset);
    EXPECT_EQ(small.iVal, -7);
    EXPECT_EQ(small.llVal & ~0xFFFFLL, 0);
}

TEST(StreamBuilder, UntimedBlockAndArrays) {
    OwnedVariant array;
    SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, 0, 2);
    BSTR s0 = SysAllocString(u"ab");
    BSTR s1 = SysAllocString(u"");
    LONG i = 0;
    SafeArrayPutElement(a, &i, s0);
    i = 1;
    SafeArrayPutElement(a, &i, s1);
    SysFreeString(s0);
    SysFreeString(s1);
    array.Get().vt = VT_ARRAY | VT_BSTR;
    array.Get().parray = a;
    VARIANT raw[1] = {array.Get()};
    const OPCHANDLE handles[1] = {5};
    const WORD qualities[1] = {0xC0};

    std::vector<BYTE> block;
    ASSERT_EQ(BuildDataStream(block, StreamTimestamps::Without, 1, 0, S_OK, 1, handles, raw,
                              qualities, nullptr),
              S_OK);
    const auto header = At<OPCITEMHEADER2>(block, 20);
    EXPECT_EQ(header.hClient, 5u);
    const DWORD at = header.dwValueOffset;
    EXPECT_EQ(at, 32u);  // 20 + 12, rounded up to 8
    EXPECT_EQ(At<VARIANT>(block, at).vt, VT_ARRAY | VT_BSTR);
    EXPECT_EQ(At<VARIANT>(block, at).llVal, 0);
    EXPECT_EQ(At<DWORD>(block, at + 16), 2u);              // elements
    EXPECT_EQ(At<DWORD>(block, at + 20), 4u);              // "ab"
    EXPECT_EQ(At<DWORD>(block, at + 20 + 4 + 4 + 2), 0u);  // ""
    EXPECT_EQ(block.size(), at + 20u + (4 + 4 + 2) + (4 + 2));

    // Empty blocks are valid too.
    ASSERT_EQ(BuildDataStream(block, StreamTimestamps::With, 1, 0, S_OK, 0, nullptr, nullptr,
                              nullptr, nullptr),
              S_OK);
    EXPECT_EQ(block.size(), 20u);
}

TEST(StreamBuilder, WriteCompleteBlock) {
    const OPCHANDLE handles[2] = {1, 2};
    const HRESULT errors[2] = {S_OK, E_FAIL};
    std::vector<BYTE> block;
    ASSERT_EQ(BuildWriteCompleteStream(block, 8, 42, S_OK, 2, handles, errors), S_OK);
    ASSERT_EQ(block.size(), 16u + 16u);
    const auto group = At<OPCGROUPHEADERWRITE>(block, 0);
    EXPECT_EQ(group.dwItemCount, 2u);
    EXPECT_EQ(group.hClientGroup, 8u);
    EXPECT_EQ(group.dwTransactionID, 42u);
    EXPECT_EQ(At<OPCITEMHEADERWRITE>(block, 24).hClient, 2u);
    EXPECT_EQ(At<OPCITEMHEADERWRITE>(block, 24).dwError, E_FAIL);
}

}  // namespace
