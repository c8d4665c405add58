#include "sim/error_text.h"

#include <string>

#include "com/hresult.h"
#include "com/unicode.h"
#include "opcda/errors.h"

namespace {

constexpr LCID kLocaleNeutral = 0x0000;
constexpr LCID kLocaleUserDefault = 0x0400;
constexpr LCID kLocaleSystemDefault = 0x0800;

std::u16string_view ComText(HRESULT code) {
    switch (code) {
        case S_OK:
            return u"The operation completed successfully.";
        case S_FALSE:
            return u"The operation completed, but not every part of it succeeded.";
        case E_FAIL:
            return u"Unspecified error.";
        case E_INVALIDARG:
            return u"One or more arguments are not valid.";
        case E_OUTOFMEMORY:
            return u"Not enough memory to complete the operation.";
        case E_NOINTERFACE:
            return u"The interface is not supported.";
        case E_NOTIMPL:
            return u"Not implemented.";
        case E_POINTER:
            return u"A pointer is not valid.";
        case E_UNEXPECTED:
            return u"Unexpected failure.";
        case E_ACCESSDENIED:
            return u"Access denied.";
        case CONNECT_E_NOCONNECTION:
            return u"The object has no connection for this interface.";
        case RPC_E_DISCONNECTED:
            return u"The object has disconnected from its clients.";
        case DISP_E_TYPEMISMATCH:
            return u"Type mismatch.";
        case DISP_E_OVERFLOW:
            return u"The value is out of the range of its type.";
        case DISP_E_BADVARTYPE:
            return u"The variant type is not valid.";
        default:
            return {};
    }
}

}  // namespace

std::u16string ErrorText(HRESULT code) {
    const std::string_view opc = OpcErrorText(code);
    if (!opc.empty()) {
        return Utf8ToUtf16(opc);
    }
    return std::u16string(ComText(code));
}

bool IsSupportedLocale(LCID locale) {
    return locale == kEnglishUs || locale == kLocaleNeutral || locale == kLocaleUserDefault ||
           locale == kLocaleSystemDefault;
}
