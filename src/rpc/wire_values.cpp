#include "rpc/wire_values.h"

#include <cstring>
#include <limits>
#include <utility>

#include "com/bstr.h"
#include "com/malloc.h"
#include "com/safearray.h"

namespace tgv::rpc {
namespace {

// Arrays of VARIANTs may hold arrays again; deeper nesting than this is refused both ways.
constexpr int kMaxNesting = 16;

// Copies a list of plain numbers into or out of the data of a SAFEARRAY.
template <class T, class List>
void FillList(List list, const void* data, std::size_t count) {
    const T* elements = static_cast<const T*>(data);
    for (std::size_t i = 0; i < count; ++i) {
        list.set(static_cast<unsigned>(i), elements[i]);
    }
}
template <class T, class List>
void ReadList(List list, void* data) {
    T* elements = static_cast<T*>(data);
    for (unsigned i = 0; i < list.size(); ++i) {
        elements[i] = list[i];
    }
}

void PutBstr(BSTR text, wire::Variant::Builder out) {
    if (text == nullptr) {
        // The member is chosen, its pointer left null: a null BSTR, not an empty one.
        out.initBstr(0);
        out.disownBstr();
        return;
    }
    const UINT length = SysStringLen(text);
    auto list = out.initBstr(length);
    for (UINT i = 0; i < length; ++i) {
        list.set(i, static_cast<std::uint16_t>(text[i]));
    }
}

// A BSTR from its code units, embedded zeros included; null for an unset field.
HRESULT TakeBstr(bool present, WideList::Reader chars, BSTR* out) {
    *out = nullptr;
    if (!present) {
        return S_OK;
    }
    std::u16string text(chars.size(), u'\0');
    for (unsigned i = 0; i < chars.size(); ++i) {
        text[i] = static_cast<char16_t>(chars[i]);
    }
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT EncodeValue(const VARIANT& value, wire::Variant::Builder out, int depth);

HRESULT EncodeArray(const VARIANT& value, wire::SafeArray::Builder out, int depth) {
    SAFEARRAY* const psa = value.parray;
    const VARTYPE vt = static_cast<VARTYPE>(value.vt & VT_TYPEMASK);
    if (psa == nullptr || psa->cDims == 0) {
        return DISP_E_BADVARTYPE;
    }
    out.setElementType(vt);
    auto bounds = out.initBounds(psa->cDims);
    std::uint64_t count = 1;
    for (USHORT d = 0; d < psa->cDims; ++d) {
        // The descriptor keeps the rightmost dimension first; the message the leftmost.
        const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - 1 - d];
        bounds[d].setCount(b.cElements);
        bounds[d].setLowerBound(b.lLbound);
        count *= b.cElements;
    }
    if (count > std::numeric_limits<unsigned>::max() / 2) {
        return DISP_E_BADVARTYPE;
    }
    const auto n = static_cast<unsigned>(count);
    const void* data = psa->pvData;
    if (n > 0 && data == nullptr) {
        return DISP_E_BADVARTYPE;
    }
    auto e = out.getElements();
    switch (vt) {
        case VT_I1:
            FillList<std::int8_t>(e.initI1(n), data, n);
            break;
        case VT_UI1:
            FillList<std::uint8_t>(e.initUi1(n), data, n);
            break;
        case VT_I2:
            FillList<std::int16_t>(e.initI2(n), data, n);
            break;
        case VT_UI2:
            FillList<std::uint16_t>(e.initUi2(n), data, n);
            break;
        case VT_I4:
        case VT_INT:
            FillList<std::int32_t>(e.initI4(n), data, n);
            break;
        case VT_UI4:
        case VT_UINT:
            FillList<std::uint32_t>(e.initUi4(n), data, n);
            break;
        case VT_I8:
            FillList<std::int64_t>(e.initI8(n), data, n);
            break;
        case VT_UI8:
            FillList<std::uint64_t>(e.initUi8(n), data, n);
            break;
        case VT_R4:
            FillList<float>(e.initR4(n), data, n);
            break;
        case VT_R8:
            FillList<double>(e.initR8(n), data, n);
            break;
        case VT_BOOL:
            FillList<std::int16_t>(e.initBool(n), data, n);
            break;
        case VT_CY: {
            auto list = e.initCy(n);
            const CY* cy = static_cast<const CY*>(data);
            for (unsigned i = 0; i < n; ++i) {
                list.set(i, cy[i].int64);
            }
            break;
        }
        case VT_DATE:
            FillList<double>(e.initDate(n), data, n);
            break;
        case VT_ERROR:
            FillList<std::int32_t>(e.initError(n), data, n);
            break;
        case VT_BSTR: {
            auto list = e.initBstr(n);
            const BSTR* texts = static_cast<const BSTR*>(data);
            for (unsigned i = 0; i < n; ++i) {
                if (texts[i] != nullptr) {
                    const UINT length = SysStringLen(texts[i]);
                    auto chars = list[i].initText(length);
                    for (UINT c = 0; c < length; ++c) {
                        chars.set(c, static_cast<std::uint16_t>(texts[i][c]));
                    }
                }
            }
            break;
        }
        case VT_VARIANT: {
            auto list = e.initVariant(n);
            const VARIANT* values = static_cast<const VARIANT*>(data);
            for (unsigned i = 0; i < n; ++i) {
                const HRESULT hr = EncodeValue(values[i], list[i], depth + 1);
                if (FAILED(hr)) {
                    return hr;
                }
            }
            break;
        }
        default:
            return DISP_E_BADVARTYPE;
    }
    return S_OK;
}

HRESULT EncodeValue(const VARIANT& value, wire::Variant::Builder out, int depth) {
    if (depth > kMaxNesting) {
        return DISP_E_BADVARTYPE;
    }
    if ((value.vt & VT_BYREF) != 0) {
        return DISP_E_BADVARTYPE;
    }
    if ((value.vt & VT_ARRAY) != 0) {
        if ((value.vt & ~(VT_ARRAY | VT_TYPEMASK)) != 0) {
            return DISP_E_BADVARTYPE;
        }
        return EncodeArray(value, out.initArray(), depth);
    }
    switch (value.vt) {
        case VT_EMPTY:
            out.setEmpty();
            break;
        case VT_NULL:
            out.setNull();
            break;
        case VT_I1:
            out.setI1(static_cast<std::int8_t>(value.cVal));
            break;
        case VT_UI1:
            out.setUi1(value.bVal);
            break;
        case VT_I2:
            out.setI2(value.iVal);
            break;
        case VT_UI2:
            out.setUi2(value.uiVal);
            break;
        case VT_I4:
            out.setI4(value.lVal);
            break;
        case VT_UI4:
            out.setUi4(value.ulVal);
            break;
        case VT_I8:
            out.setI8(value.llVal);
            break;
        case VT_UI8:
            out.setUi8(value.ullVal);
            break;
        case VT_INT:
            out.setInt(value.intVal);
            break;
        case VT_UINT:
            out.setUint(value.uintVal);
            break;
        case VT_R4:
            out.setR4(value.fltVal);
            break;
        case VT_R8:
            out.setR8(value.dblVal);
            break;
        case VT_BOOL:
            out.setBool(value.boolVal);
            break;
        case VT_BSTR:
            PutBstr(value.bstrVal, out);
            break;
        case VT_CY:
            out.setCy(value.cyVal.int64);
            break;
        case VT_DATE:
            out.setDate(value.date);
            break;
        case VT_ERROR:
            out.setError(value.scode);
            break;
        default:
            return DISP_E_BADVARTYPE;
    }
    return S_OK;
}

HRESULT DecodeValue(wire::Variant::Reader in, VARIANT* out, int depth);

bool KnownElementType(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_I8:
        case VT_UI8:
        case VT_R4:
        case VT_R8:
        case VT_BOOL:
        case VT_BSTR:
        case VT_CY:
        case VT_DATE:
        case VT_ERROR:
        case VT_VARIANT:
            return true;
        default:
            return false;
    }
}

// The list of a SAFEARRAY message that must hold the elements of type vt, and its size.
struct ElementList {
    bool matches = false;
    unsigned size = 0;
};

ElementList ListFor(VARTYPE vt, wire::SafeArray::Elements::Reader e) {
    using W = wire::SafeArray::Elements;
    auto is = [&](W::Which which, unsigned size) { return ElementList{e.which() == which, size}; };
    switch (vt) {
        case VT_I1:
            return is(W::I1, e.isI1() ? e.getI1().size() : 0);
        case VT_UI1:
            return is(W::UI1, e.isUi1() ? e.getUi1().size() : 0);
        case VT_I2:
            return is(W::I2, e.isI2() ? e.getI2().size() : 0);
        case VT_UI2:
            return is(W::UI2, e.isUi2() ? e.getUi2().size() : 0);
        case VT_I4:
        case VT_INT:
            return is(W::I4, e.isI4() ? e.getI4().size() : 0);
        case VT_UI4:
        case VT_UINT:
            return is(W::UI4, e.isUi4() ? e.getUi4().size() : 0);
        case VT_I8:
            return is(W::I8, e.isI8() ? e.getI8().size() : 0);
        case VT_UI8:
            return is(W::UI8, e.isUi8() ? e.getUi8().size() : 0);
        case VT_R4:
            return is(W::R4, e.isR4() ? e.getR4().size() : 0);
        case VT_R8:
            return is(W::R8, e.isR8() ? e.getR8().size() : 0);
        case VT_BOOL:
            return is(W::BOOL, e.isBool() ? e.getBool().size() : 0);
        case VT_BSTR:
            return is(W::BSTR, e.isBstr() ? e.getBstr().size() : 0);
        case VT_CY:
            return is(W::CY, e.isCy() ? e.getCy().size() : 0);
        case VT_DATE:
            return is(W::DATE, e.isDate() ? e.getDate().size() : 0);
        case VT_ERROR:
            return is(W::ERROR, e.isError() ? e.getError().size() : 0);
        case VT_VARIANT:
            return is(W::VARIANT, e.isVariant() ? e.getVariant().size() : 0);
        default:
            return {};
    }
}

HRESULT FillArray(VARTYPE vt, wire::SafeArray::Elements::Reader e, void* data, int depth) {
    switch (vt) {
        case VT_I1:
            ReadList<std::int8_t>(e.getI1(), data);
            break;
        case VT_UI1:
            ReadList<std::uint8_t>(e.getUi1(), data);
            break;
        case VT_I2:
            ReadList<std::int16_t>(e.getI2(), data);
            break;
        case VT_UI2:
            ReadList<std::uint16_t>(e.getUi2(), data);
            break;
        case VT_I4:
        case VT_INT:
            ReadList<std::int32_t>(e.getI4(), data);
            break;
        case VT_UI4:
        case VT_UINT:
            ReadList<std::uint32_t>(e.getUi4(), data);
            break;
        case VT_I8:
            ReadList<std::int64_t>(e.getI8(), data);
            break;
        case VT_UI8:
            ReadList<std::uint64_t>(e.getUi8(), data);
            break;
        case VT_R4:
            ReadList<float>(e.getR4(), data);
            break;
        case VT_R8:
            ReadList<double>(e.getR8(), data);
            break;
        case VT_BOOL:
            ReadList<std::int16_t>(e.getBool(), data);
            break;
        case VT_CY: {
            CY* cy = static_cast<CY*>(data);
            auto list = e.getCy();
            for (unsigned i = 0; i < list.size(); ++i) {
                cy[i].int64 = list[i];
            }
            break;
        }
        case VT_DATE:
            ReadList<double>(e.getDate(), data);
            break;
        case VT_ERROR:
            ReadList<std::int32_t>(e.getError(), data);
            break;
        case VT_BSTR: {
            // The array is zero-filled, so SafeArrayDestroy frees exactly what was made.
            BSTR* texts = static_cast<BSTR*>(data);
            auto list = e.getBstr();
            for (unsigned i = 0; i < list.size(); ++i) {
                const HRESULT hr = TakeBstr(list[i].hasText(), list[i].getText(), &texts[i]);
                if (FAILED(hr)) {
                    return hr;
                }
            }
            break;
        }
        case VT_VARIANT: {
            VARIANT* values = static_cast<VARIANT*>(data);
            auto list = e.getVariant();
            for (unsigned i = 0; i < list.size(); ++i) {
                const HRESULT hr = DecodeValue(list[i], &values[i], depth + 1);
                if (FAILED(hr)) {
                    return hr;
                }
            }
            break;
        }
        default:
            return DISP_E_BADVARTYPE;
    }
    return S_OK;
}

HRESULT DecodeArray(wire::SafeArray::Reader in, VARIANT* out, int depth) {
    const VARTYPE vt = in.getElementType();
    const ElementList list = ListFor(vt, in.getElements());
    if (!KnownElementType(vt)) {
        return DISP_E_BADVARTYPE;
    }
    if (!list.matches) {
        return RPC_E_INVALID_DATA;
    }
    auto bounds = in.getBounds();
    if (bounds.size() == 0 || bounds.size() > 64) {
        return RPC_E_INVALID_DATA;
    }
    std::vector<SAFEARRAYBOUND> dims(bounds.size());
    std::uint64_t count = 1;
    for (unsigned d = 0; d < bounds.size(); ++d) {
        dims[d].cElements = bounds[d].getCount();
        dims[d].lLbound = bounds[d].getLowerBound();
        count *= dims[d].cElements;
        // The elements are all there, so the product can never pass their number honestly.
        if (count > list.size && dims[d].cElements != 0) {
            return RPC_E_INVALID_DATA;
        }
    }
    if (count != list.size) {
        return RPC_E_INVALID_DATA;
    }
    // The array owns what is filled in so far, and goes (with it) on a failure or when the
    // reader throws at damaged data.
    struct ArrayGuard {
        SAFEARRAY* psa;
        ~ArrayGuard() { SafeArrayDestroy(psa); }
    } guard{SafeArrayCreate(vt, static_cast<UINT>(dims.size()), dims.data())};
    if (guard.psa == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr =
        list.size == 0 ? S_OK : FillArray(vt, in.getElements(), guard.psa->pvData, depth);
    if (FAILED(hr)) {
        return hr;
    }
    out->vt = static_cast<VARTYPE>(VT_ARRAY | vt);
    out->parray = std::exchange(guard.psa, nullptr);
    return S_OK;
}

HRESULT DecodeValue(wire::Variant::Reader in, VARIANT* out, int depth) {
    VariantInit(out);
    if (depth > kMaxNesting) {
        return RPC_E_INVALID_DATA;
    }
    using W = wire::Variant;
    switch (in.which()) {
        case W::EMPTY:
            break;
        case W::NULL_:
            out->vt = VT_NULL;
            break;
        case W::I1:
            out->vt = VT_I1;
            out->cVal = static_cast<CHAR>(in.getI1());
            break;
        case W::UI1:
            out->vt = VT_UI1;
            out->bVal = in.getUi1();
            break;
        case W::I2:
            out->vt = VT_I2;
            out->iVal = in.getI2();
            break;
        case W::UI2:
            out->vt = VT_UI2;
            out->uiVal = in.getUi2();
            break;
        case W::I4:
            out->vt = VT_I4;
            out->lVal = in.getI4();
            break;
        case W::UI4:
            out->vt = VT_UI4;
            out->ulVal = in.getUi4();
            break;
        case W::I8:
            out->vt = VT_I8;
            out->llVal = in.getI8();
            break;
        case W::UI8:
            out->vt = VT_UI8;
            out->ullVal = in.getUi8();
            break;
        case W::INT:
            out->vt = VT_INT;
            out->intVal = in.getInt();
            break;
        case W::UINT:
            out->vt = VT_UINT;
            out->uintVal = in.getUint();
            break;
        case W::R4:
            out->vt = VT_R4;
            out->fltVal = in.getR4();
            break;
        case W::R8:
            out->vt = VT_R8;
            out->dblVal = in.getR8();
            break;
        case W::BOOL:
            out->vt = VT_BOOL;
            out->boolVal = in.getBool();
            break;
        case W::BSTR: {
            BSTR text = nullptr;
            const HRESULT hr = TakeBstr(in.hasBstr(), in.getBstr(), &text);
            if (FAILED(hr)) {
                return hr;
            }
            out->vt = VT_BSTR;
            out->bstrVal = text;
            break;
        }
        case W::CY:
            out->vt = VT_CY;
            out->cyVal.int64 = in.getCy();
            break;
        case W::DATE:
            out->vt = VT_DATE;
            out->date = in.getDate();
            break;
        case W::ERROR:
            out->vt = VT_ERROR;
            out->scode = in.getError();
            break;
        case W::ARRAY:
            return DecodeArray(in.getArray(), out, depth);
        default:
            // A kind of value from a newer peer.
            return DISP_E_BADVARTYPE;
    }
    return S_OK;
}

}  // namespace

void PutGuid(wire::Guid::Builder out, const GUID& guid) {
    out.setData1(guid.Data1);
    out.setData2(guid.Data2);
    out.setData3(guid.Data3);
    std::uint64_t d4 = 0;
    for (int i = 7; i >= 0; --i) {
        d4 = (d4 << 8) | guid.Data4[i];
    }
    out.setData4(d4);
}

GUID GetGuid(wire::Guid::Reader in) {
    GUID g{};
    g.Data1 = in.getData1();
    g.Data2 = in.getData2();
    g.Data3 = in.getData3();
    std::uint64_t d4 = in.getData4();
    for (int i = 0; i < 8; ++i) {
        g.Data4[i] = static_cast<std::uint8_t>(d4 & 0xFF);
        d4 >>= 8;
    }
    return g;
}

WideArg::WideArg(bool present, WideList::Reader chars) : present_(present) {
    if (present) {
        text_.resize(chars.size());
        for (unsigned i = 0; i < chars.size(); ++i) {
            text_[i] = static_cast<char16_t>(chars[i]);
        }
    }
}

LPWSTR TaskWide(bool present, WideList::Reader chars, HRESULT* hr) {
    if (!present) {
        return nullptr;
    }
    auto* text = static_cast<LPWSTR>(CoTaskMemAlloc((std::size_t{chars.size()} + 1) * 2));
    if (text == nullptr) {
        *hr = E_OUTOFMEMORY;
        return nullptr;
    }
    for (unsigned i = 0; i < chars.size(); ++i) {
        text[i] = static_cast<char16_t>(chars[i]);
    }
    text[chars.size()] = u'\0';
    return text;
}

HRESULT EncodeVariant(const VARIANT& value, wire::Variant::Builder out) {
    const HRESULT hr = EncodeValue(value, out, 0);
    if (FAILED(hr)) {
        out.setEmpty();
    }
    return hr;
}

HRESULT DecodeVariant(wire::Variant::Reader in, VARIANT* out) {
    HRESULT hr = S_OK;
    try {
        hr = DecodeValue(in, out, 0);
    } catch (const kj::Exception&) {
        // A message that breaks the reader's own limits (nesting, size, bad pointers).
        hr = RPC_E_INVALID_DATA;
    }
    if (FAILED(hr)) {
        VariantClear(out);
        VariantInit(out);
    }
    return hr;
}

VariantArray::VariantArray(std::size_t count) : values_(count) {
    for (VARIANT& v : values_) {
        VariantInit(&v);
    }
}

VariantArray& VariantArray::operator=(VariantArray&& other) noexcept {
    if (this != &other) {
        Clear();
        values_ = std::move(other.values_);
    }
    return *this;
}

VariantArray::~VariantArray() {
    Clear();
}

void VariantArray::Clear() {
    for (VARIANT& v : values_) {
        VariantClear(&v);
    }
    values_.clear();
}

HRESULT DecodeVariants(capnp::List<wire::Variant>::Reader in, VariantArray* out) {
    VariantArray values(in.size());
    for (unsigned i = 0; i < in.size(); ++i) {
        const HRESULT hr = DecodeVariant(in[i], &values[i]);
        if (FAILED(hr)) {
            return hr;
        }
    }
    *out = std::move(values);
    return S_OK;
}

}  // namespace tgv::rpc
