#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "com/guid.h"
#include "opcda/opcda.h"

namespace {

GUID Parse(const char* text) {
    const std::optional<GUID> guid = GuidFromString(text);
    EXPECT_TRUE(guid.has_value()) << text;
    return guid.value_or(GUID_NULL);
}

}  // namespace

// Every identifier against the text under which the standard publishes it, through the
// interface binding that QueryInterface and ComPtr::As use.
TEST(OpcIds, MatchThePublishedTexts) {
    EXPECT_EQ(IidOf<IOPCServer>(), Parse("{39C13A4D-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(IidOf<IOPCServerPublicGroups>(), Parse("{39C13A4E-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(IidOf<IOPCBrowseServerAddressSpace>(),
              Parse("{39C13A4F-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(IidOf<IOPCGroupStateMgt>(), Parse("{39C13A50-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(IidOf<IOPCPublicGroupStateMgt>(), Parse("{39C13A51-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(IidOf<IOPCSyncIO>(), Parse("{39C13A52-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(IidOf<IOPCAsyncIO>(), Parse("{39C13A53-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(IidOf<IOPCItemMgt>(), Parse("{39C13A54-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(IidOf<IEnumOPCItemAttributes>(), Parse("{39C13A55-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(IidOf<IOPCDataCallback>(), Parse("{39C13A70-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(IidOf<IOPCAsyncIO2>(), Parse("{39C13A71-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(IidOf<IOPCItemProperties>(), Parse("{39C13A72-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(IidOf<IOPCCommon>(), Parse("{F31DFDE2-07B6-11D2-B2D8-0060083BA1FB}"));
    EXPECT_EQ(IidOf<IOPCShutdown>(), Parse("{F31DFDE1-07B6-11D2-B2D8-0060083BA1FB}"));

    EXPECT_EQ(CATID_OPCDAServer10, Parse("{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}"));
    EXPECT_EQ(CATID_OPCDAServer20, Parse("{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"));

    // The registry writes them back in the same form.
    EXPECT_EQ(GuidToString(IID_IOPCDataCallback), "{39C13A70-011E-11D0-9675-0020AFD8ADB3}");
}

TEST(OpcErrors, CodesAndTexts) {
    const HRESULT failures[] = {OPC_E_INVALIDHANDLE, OPC_E_BADTYPE,           OPC_E_PUBLIC,
                                OPC_E_BADRIGHTS,     OPC_E_UNKNOWNITEMID,     OPC_E_INVALIDITEMID,
                                OPC_E_INVALIDFILTER, OPC_E_UNKNOWNPATH,       OPC_E_RANGE,
                                OPC_E_DUPLICATENAME, OPC_E_INVALIDCONFIGFILE, OPC_E_NOTFOUND,
                                OPC_E_INVALID_PID};
    for (const HRESULT hr : failures) {
        EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
        EXPECT_FALSE(OpcErrorText(hr).empty()) << std::hex << hr;
    }
    for (const HRESULT hr : {OPC_S_UNSUPPORTEDRATE, OPC_S_CLAMP, OPC_S_INUSE}) {
        EXPECT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
        EXPECT_NE(hr, S_OK);
        EXPECT_FALSE(OpcErrorText(hr).empty()) << std::hex << hr;
    }
    EXPECT_EQ(static_cast<std::uint32_t>(OPC_E_UNKNOWNITEMID), 0xC0040007u);
    EXPECT_EQ(static_cast<std::uint32_t>(OPC_E_INVALID_PID), 0xC0040203u);
    EXPECT_EQ(static_cast<std::uint32_t>(OPC_S_INUSE), 0x0004000Fu);
    // Codes that are not the standard's have no text here.
    EXPECT_TRUE(OpcErrorText(E_FAIL).empty());
    EXPECT_TRUE(OpcErrorText(S_OK).empty());
    EXPECT_TRUE(OpcErrorText(MAKE_HRESULT_VALUE(0xC0040002)).empty());
}
