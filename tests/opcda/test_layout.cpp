#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "com/variant.h"
#include "opcda/opcda.h"

namespace {

// A block built byte by byte, the way a server on Windows lays it out.
class Block {
  public:
    void U16(std::uint16_t v) {
        for (int i = 0; i < 2; ++i) {
            bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    void U32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    void U64(std::uint64_t v) {
        U32(static_cast<std::uint32_t>(v));
        U32(static_cast<std::uint32_t>(v >> 32));
    }
    std::size_t Size() const { return bytes_.size(); }
    template <class T>
    T Read(std::size_t offset) const {
        T value;
        EXPECT_LE(offset + sizeof(T), bytes_.size());
        std::memcpy(&value, bytes_.data() + offset, sizeof(T));
        return value;
    }

  private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace

// A timed data block with two items (an I4 and a BSTR) read back through the structures.
TEST(OpcStreams, TimedDataBlockReadsThroughTheHeaders) {
    Block b;
    // Group header.
    b.U32(0);  // dwSize, not checked here
    b.U32(2);
    b.U32(0x11);
    b.U32(0x22);
    b.U32(0);
    // Two OPCITEMHEADER1: values start after them, at 20 + 2 * 20 = 60.
    b.U32(0xA1);
    b.U32(60);
    b.U16(OPC_QUALITY_GOOD);
    b.U16(0);
    b.U64(0x01D0000012345678ull);
    b.U32(0xA2);
    b.U32(76);
    b.U16(OPC_QUALITY_UNCERTAIN | OPC_QUALITY_SUB_NORMAL);
    b.U16(0);
    b.U64(0x01D0000087654321ull);
    // 16-byte VARIANT VT_I4 -5.
    b.U16(VT_I4);
    b.U16(0);
    b.U16(0);
    b.U16(0);
    b.U32(static_cast<std::uint32_t>(-5));
    b.U32(0);
    // 16-byte VARIANT VT_BSTR, then length 4 and "Hi".
    b.U16(VT_BSTR);
    b.U16(0);
    b.U16(0);
    b.U16(0);
    b.U64(0xDEADBEEF);
    b.U32(4);
    b.U16(u'H');
    b.U16(u'i');
    b.U16(0);

    const auto group = b.Read<OPCGROUPHEADER>(0);
    EXPECT_EQ(group.dwItemCount, 2u);
    EXPECT_EQ(group.hClientGroup, 0x11u);
    EXPECT_EQ(group.dwTransactionID, 0x22u);
    EXPECT_EQ(group.hrStatus, S_OK);

    const auto first = b.Read<OPCITEMHEADER1>(sizeof(OPCGROUPHEADER));
    const auto second = b.Read<OPCITEMHEADER1>(sizeof(OPCGROUPHEADER) + sizeof(OPCITEMHEADER1));
    EXPECT_EQ(first.hClient, 0xA1u);
    EXPECT_EQ(first.wQuality, OPC_QUALITY_GOOD);
    EXPECT_EQ(first.ftTimeStampItem.dwLowDateTime, 0x12345678u);
    EXPECT_EQ(first.ftTimeStampItem.dwHighDateTime, 0x01D00000u);
    EXPECT_EQ(second.hClient, 0xA2u);
    EXPECT_EQ(OpcQualityOf(second.wQuality), OPC_QUALITY_UNCERTAIN);
    EXPECT_EQ(OpcStatusOf(second.wQuality), OPC_QUALITY_SUB_NORMAL);
    EXPECT_EQ(second.ftTimeStampItem.dwLowDateTime, 0x87654321u);

    // The VARIANT of the stream is this platform's VARIANT, byte for byte, for scalars.
    static_assert(sizeof(VARIANT) == OPC_STREAM_VARIANT_SIZE);
    static_assert(offsetof(VARIANT, lVal) == 8);
    const auto value = b.Read<VARIANT>(first.dwValueOffset);
    EXPECT_EQ(value.vt, VT_I4);
    EXPECT_EQ(value.lVal, -5);

    const auto text = b.Read<VARIANT>(second.dwValueOffset);
    EXPECT_EQ(text.vt, VT_BSTR);
    const auto length = b.Read<std::uint32_t>(second.dwValueOffset + OPC_STREAM_VARIANT_SIZE);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(b.Read<char16_t>(second.dwValueOffset + OPC_STREAM_VARIANT_SIZE + 4), u'H');
}

TEST(OpcStreams, UntimedAndWriteCompleteBlocks) {
    Block data;
    data.U32(0);
    data.U32(1);
    data.U32(0);
    data.U32(0);
    data.U32(0);
    data.U32(0xB1);
    data.U32(32);
    data.U16(OPC_QUALITY_BAD | OPC_QUALITY_COMM_FAILURE);
    data.U16(0);
    EXPECT_EQ(data.Size(), sizeof(OPCGROUPHEADER) + sizeof(OPCITEMHEADER2));
    const auto item = data.Read<OPCITEMHEADER2>(sizeof(OPCGROUPHEADER));
    EXPECT_EQ(item.hClient, 0xB1u);
    EXPECT_EQ(item.dwValueOffset, 32u);
    EXPECT_EQ(OpcQualityOf(item.wQuality), OPC_QUALITY_BAD);

    Block write;
    write.U32(2);
    write.U32(7);
    write.U32(4112);
    write.U32(0);
    write.U32(0xC1);
    write.U32(0);
    write.U32(0xC2);
    write.U32(static_cast<std::uint32_t>(OPC_E_BADRIGHTS));
    const auto header = write.Read<OPCGROUPHEADERWRITE>(0);
    EXPECT_EQ(header.dwItemCount, 2u);
    EXPECT_EQ(header.hClientGroup, 7u);
    EXPECT_EQ(header.dwTransactionID, 4112u);
    const auto second =
        write.Read<OPCITEMHEADERWRITE>(sizeof(OPCGROUPHEADERWRITE) + sizeof(OPCITEMHEADERWRITE));
    EXPECT_EQ(second.hClient, 0xC2u);
    EXPECT_EQ(second.dwError, OPC_E_BADRIGHTS);

    EXPECT_STREQ(OPCSTMFORMATDATA, "OPCSTMFORMATDATA");
    EXPECT_STREQ(OPCSTMFORMATDATATIME, "OPCSTMFORMATDATATIME");
    EXPECT_STREQ(OPCSTMFORMATWRITECOMPLETE, "OPCSTMFORMATWRITECOMPLETE");
}

TEST(OpcConstants, ValuesOfTheStandard) {
    EXPECT_EQ(OPC_BRANCH, 1u);
    EXPECT_EQ(OPC_LEAF, 2u);
    EXPECT_EQ(OPC_FLAT, 3u);
    EXPECT_EQ(OPC_BROWSE_UP, 1u);
    EXPECT_EQ(OPC_BROWSE_DOWN, 2u);
    EXPECT_EQ(OPC_BROWSE_TO, 3u);
    EXPECT_EQ(OPC_NS_HIERARCHIAL, 1u);
    EXPECT_EQ(OPC_NS_FLAT, 2u);
    EXPECT_EQ(OPC_DS_CACHE, 1u);
    EXPECT_EQ(OPC_DS_DEVICE, 2u);
    EXPECT_EQ(OPC_ANALOG, 1u);
    EXPECT_EQ(OPC_ENUMERATED, 2u);
    EXPECT_EQ(OPC_STATUS_RUNNING, 1u);
    EXPECT_EQ(OPC_STATUS_TEST, 5u);
    EXPECT_EQ(OPC_ENUM_PRIVATE_CONNECTIONS, 1u);
    EXPECT_EQ(OPC_ENUM_ALL, 6u);
    EXPECT_EQ(OPC_READABLE | OPC_WRITEABLE, 3u);

    EXPECT_EQ(OPC_QUALITY_GOOD, 0xC0);
    EXPECT_EQ(OPC_QUALITY_UNCERTAIN, 0x40);
    EXPECT_EQ(OPC_QUALITY_BAD, 0);
    // Every sub-status keeps the quality bits of its family and leaves the limit bits free.
    for (const WORD bad :
         {OPC_QUALITY_CONFIG_ERROR, OPC_QUALITY_NOT_CONNECTED, OPC_QUALITY_DEVICE_FAILURE,
          OPC_QUALITY_SENSOR_FAILURE, OPC_QUALITY_LAST_KNOWN, OPC_QUALITY_COMM_FAILURE,
          OPC_QUALITY_OUT_OF_SERVICE}) {
        EXPECT_EQ(OpcQualityOf(bad), OPC_QUALITY_BAD);
        EXPECT_EQ(OpcLimitOf(bad), OPC_LIMIT_OK);
    }
    for (const WORD uncertain : {OPC_QUALITY_LAST_USABLE, OPC_QUALITY_SENSOR_CAL,
                                 OPC_QUALITY_EGU_EXCEEDED, OPC_QUALITY_SUB_NORMAL}) {
        EXPECT_EQ(OpcQualityOf(uncertain), OPC_QUALITY_UNCERTAIN);
    }
    EXPECT_EQ(OpcQualityOf(OPC_QUALITY_LOCAL_OVERRIDE), OPC_QUALITY_GOOD);
    const WORD highLimited = OPC_QUALITY_GOOD | OPC_LIMIT_HIGH | 0x1200;  // vendor byte set
    EXPECT_EQ(OpcQualityOf(highLimited), OPC_QUALITY_GOOD);
    EXPECT_EQ(OpcLimitOf(highLimited), OPC_LIMIT_HIGH);
    EXPECT_EQ(OpcStatusOf(highLimited), OPC_QUALITY_GOOD);
}
