#include "opcda/errors.h"

std::string_view OpcErrorText(HRESULT code) {
    switch (code) {
        case OPC_E_INVALIDHANDLE:
            return "The handle is not valid.";
        case OPC_E_BADTYPE:
            return "The server cannot convert the data between the requested and the canonical "
                   "data type.";
        case OPC_E_PUBLIC:
            return "The operation is not allowed on a public group.";
        case OPC_E_BADRIGHTS:
            return "The item's access rights do not allow the operation.";
        case OPC_E_UNKNOWNITEMID:
            return "The item is not in the server's address space.";
        case OPC_E_INVALIDITEMID:
            return "The item id does not follow the server's syntax.";
        case OPC_E_INVALIDFILTER:
            return "The filter text is not valid.";
        case OPC_E_UNKNOWNPATH:
            return "The access path is not known to the server.";
        case OPC_E_RANGE:
            return "The value is out of range.";
        case OPC_E_DUPLICATENAME:
            return "The name is already in use.";
        case OPC_S_UNSUPPORTEDRATE:
            return "The server does not support the requested rate and uses the closest rate "
                   "it supports.";
        case OPC_S_CLAMP:
            return "The value was accepted but clamped.";
        case OPC_S_INUSE:
            return "The object is still in use and remains until all references are released.";
        case OPC_E_INVALIDCONFIGFILE:
            return "The server's configuration file has an invalid format.";
        case OPC_E_NOTFOUND:
            return "The requested object was not found.";
        case OPC_E_INVALID_PID:
            return "The property id is not valid for the item.";
        default:
            return {};
    }
}
