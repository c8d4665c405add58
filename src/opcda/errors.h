#pragma once
// The result codes of the OPC Data Access custom interfaces (facility ITF, codes 0x0001 upward
// and 0x0200 upward for the item properties).

#include <string_view>

#include "com/hresult.h"
#include "com/types.h"

// The handle names no group or item of this server or group.
inline constexpr HRESULT OPC_E_INVALIDHANDLE = MAKE_HRESULT_VALUE(0xC0040001);
// The value cannot be converted to or from the requested or canonical type.
inline constexpr HRESULT OPC_E_BADTYPE = MAKE_HRESULT_VALUE(0xC0040004);
// The operation is not allowed on a public group.
inline constexpr HRESULT OPC_E_PUBLIC = MAKE_HRESULT_VALUE(0xC0040005);
// The item's access rights do not allow the operation.
inline constexpr HRESULT OPC_E_BADRIGHTS = MAKE_HRESULT_VALUE(0xC0040006);
// The item id is not in the server's address space.
inline constexpr HRESULT OPC_E_UNKNOWNITEMID = MAKE_HRESULT_VALUE(0xC0040007);
// The item id does not follow the server's syntax.
inline constexpr HRESULT OPC_E_INVALIDITEMID = MAKE_HRESULT_VALUE(0xC0040008);
// The filter text is not valid.
inline constexpr HRESULT OPC_E_INVALIDFILTER = MAKE_HRESULT_VALUE(0xC0040009);
// The access path is not known to the server.
inline constexpr HRESULT OPC_E_UNKNOWNPATH = MAKE_HRESULT_VALUE(0xC004000A);
// The value is out of range.
inline constexpr HRESULT OPC_E_RANGE = MAKE_HRESULT_VALUE(0xC004000B);
// A group of this name exists already.
inline constexpr HRESULT OPC_E_DUPLICATENAME = MAKE_HRESULT_VALUE(0xC004000C);
// Success: the server uses an update rate other than the one requested.
inline constexpr HRESULT OPC_S_UNSUPPORTEDRATE = MAKE_HRESULT_VALUE(0x0004000D);
// Success: the value was written, clamped to the item's limits.
inline constexpr HRESULT OPC_S_CLAMP = MAKE_HRESULT_VALUE(0x0004000E);
// Success: the object is still referenced and stays until it is released.
inline constexpr HRESULT OPC_S_INUSE = MAKE_HRESULT_VALUE(0x0004000F);
// The server's configuration file is not valid.
inline constexpr HRESULT OPC_E_INVALIDCONFIGFILE = MAKE_HRESULT_VALUE(0xC0040010);
// The object asked for was not found.
inline constexpr HRESULT OPC_E_NOTFOUND = MAKE_HRESULT_VALUE(0xC0040011);
// The property id is not valid for the item.
inline constexpr HRESULT OPC_E_INVALID_PID = MAKE_HRESULT_VALUE(0xC0040203);

// A short English description of an OPC result code, for a server's GetErrorString and for
// diagnostics; empty for a code that is not one of the above.
std::string_view OpcErrorText(HRESULT code);
