#include "hr_check.h"

#include <cstdio>

#include "opcda/errors.h"

namespace conformance {

namespace {

struct Named {
    HRESULT code;
    const char* name;
};

constexpr Named kNames[] = {
    {S_OK, "S_OK"},
    {S_FALSE, "S_FALSE"},
    {E_FAIL, "E_FAIL"},
    {E_INVALIDARG, "E_INVALIDARG"},
    {E_NOINTERFACE, "E_NOINTERFACE"},
    {E_POINTER, "E_POINTER"},
    {E_NOTIMPL, "E_NOTIMPL"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
    {E_UNEXPECTED, "E_UNEXPECTED"},
    {CONNECT_E_NOCONNECTION, "CONNECT_E_NOCONNECTION"},
    {CONNECT_E_CANNOTCONNECT, "CONNECT_E_CANNOTCONNECT"},
    {CONNECT_E_ADVISELIMIT, "CONNECT_E_ADVISELIMIT"},
    {OLE_E_NOCONNECTION, "OLE_E_NOCONNECTION"},
    {OLE_E_ADVISENOTSUPPORTED, "OLE_E_ADVISENOTSUPPORTED"},
    {DV_E_FORMATETC, "DV_E_FORMATETC"},
    {DV_E_TYMED, "DV_E_TYMED"},
    {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH"},
    {DISP_E_OVERFLOW, "DISP_E_OVERFLOW"},
    {RPC_E_DISCONNECTED, "RPC_E_DISCONNECTED"},
    {OPC_E_INVALIDHANDLE, "OPC_E_INVALIDHANDLE"},
    {OPC_E_BADTYPE, "OPC_E_BADTYPE"},
    {OPC_E_PUBLIC, "OPC_E_PUBLIC"},
    {OPC_E_BADRIGHTS, "OPC_E_BADRIGHTS"},
    {OPC_E_UNKNOWNITEMID, "OPC_E_UNKNOWNITEMID"},
    {OPC_E_INVALIDITEMID, "OPC_E_INVALIDITEMID"},
    {OPC_E_INVALIDFILTER, "OPC_E_INVALIDFILTER"},
    {OPC_E_UNKNOWNPATH, "OPC_E_UNKNOWNPATH"},
    {OPC_E_RANGE, "OPC_E_RANGE"},
    {OPC_E_DUPLICATENAME, "OPC_E_DUPLICATENAME"},
    {OPC_S_UNSUPPORTEDRATE, "OPC_S_UNSUPPORTEDRATE"},
    {OPC_S_CLAMP, "OPC_S_CLAMP"},
    {OPC_S_INUSE, "OPC_S_INUSE"},
    {OPC_E_NOTFOUND, "OPC_E_NOTFOUND"},
};

}  // namespace

std::string HrText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    std::string out = text;
    for (const Named& n : kNames) {
        if (n.code == hr) {
            out += ' ';
            out += n.name;
        }
    }
    return out;
}

std::string HrListText(const std::vector<HRESULT>& codes) {
    std::string out = "{";
    for (std::size_t i = 0; i < codes.size(); ++i) {
        out += (i == 0 ? "" : ", ") + HrText(codes[i]);
    }
    return out + "}";
}

::testing::AssertionResult HrEqual(const char* actualText, const char* expectedText, HRESULT actual,
                                   HRESULT expected) {
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << actualText << " is " << HrText(actual) << ", expected "
                                         << expectedText << " (" << HrText(expected) << ")";
}

::testing::AssertionResult HrListEqual(const char* actualText, const char*,
                                       const std::vector<HRESULT>& actual,
                                       const std::vector<HRESULT>& expected) {
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << actualText << " is " << HrListText(actual) << ", expected " << HrListText(expected);
}

}  // namespace conformance
