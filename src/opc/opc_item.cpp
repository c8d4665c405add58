#include "opc/opc_item.h"

#include "com/unknown.h"
#include "model/archive.h"
#include "model/values.h"
#include "opc/com_environment.h"
#include "opc/opc_group.h"
#include "opcda/group.h"

const CRuntimeClass COPCItem::runtimeClass{"COPCItem", 1, nullptr};

COPCItem::COPCItem(COPCGroup& group) : group_(&group) {
    VariantInit(&value_);
    value_.vt = VT_INT;
    value_.intVal = 0;
    clientHandle_ = group.handles_.Add(this);
}

COPCItem::~COPCItem() {
    group_->handles_.Remove(clientHandle_);
    VariantClear(&value_);
}

void COPCItem::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteDWord(1);
    } else {
        ar.ReadDWord();
    }
}

bool COPCItem::IsNumeric() const {
    return IsNumericType(canonicalType);
}

bool COPCItem::IsBoolean() const {
    return canonicalType == VT_BOOL;
}

void COPCItem::SetValue(const VARIANT& value) {
    HRESULT hr = S_OK;
    if ((value.vt & VT_BYREF) != 0) {
        // The referenced memory is the caller's, so the item keeps the value it refers to.
        hr = VariantChangeType(&value_, &value, 0, static_cast<VARTYPE>(value.vt & ~VT_BYREF));
    } else {
        hr = VariantCopy(&value_, &value);
    }
    if (FAILED(hr)) {
        // A value this platform cannot hold is not shown as if it were the old one.
        VariantClear(&value_);
    }
}

void COPCItem::Write(std::string_view text) {
    const ComPtr<IUnknown> groupObject = group_->GroupObject();
    if (!groupObject) {
        return;
    }
    OPCHANDLE serverHandles[1] = {serverHandle};
    HRESULT* errors = nullptr;
    const auto writeValue = [&](auto&& call) {
        VARIANT value;
        TextToVariant(text, canonicalType, value);
        // Text that does not convert would go out as an empty value the operator never typed.
        if (value.vt != VT_EMPTY || canonicalType == VT_EMPTY) {
            call(value);
        }
        VariantClear(&value);
    };
    switch (group_->accessMode) {
        case COPCGroup::accessStream: {
            ComPtr<IOPCAsyncIO> io;
            if (FAILED(groupObject.As(io)) || !io) {
                return;
            }
            writeValue([&](VARIANT& value) {
                DWORD transactionId = 0;
                io->Write(group_->writeConnection_, 1, serverHandles, &value, &transactionId,
                          &errors);
            });
            break;
        }
        case COPCGroup::accessCallback: {
            ComPtr<IOPCAsyncIO2> io;
            if (FAILED(groupObject.As(io)) || !io) {
                return;
            }
            writeValue([&](VARIANT& value) {
                DWORD cancelId = 0;
                io->Write(1, serverHandles, &value, COPCGroup::kWriteTransactionId, &cancelId,
                          &errors);
            });
            break;
        }
        case COPCGroup::accessCallbackSyncWrite: {
            ComPtr<IOPCSyncIO> io;
            if (FAILED(groupObject.As(io)) || !io) {
                return;
            }
            writeValue([&](VARIANT& value) { io->Write(1, serverHandles, &value, &errors); });
            break;
        }
        default:
            return;
    }
    FreeTaskMemory(errors);
}
