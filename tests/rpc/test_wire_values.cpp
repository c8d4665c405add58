// The codec of the plain values: VARIANTs of every type the system uses, GUIDs, and messages
// that do not hold together.

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "com/bstr.h"
#include "com/malloc.h"
#include "com/safearray.h"
#include "com/variant.h"
#include "opcda/ids.h"
#include "rpc/wire_values.h"

namespace {

using tgv::rpc::DecodeVariant;
using tgv::rpc::EncodeVariant;
namespace wire = tgv::wire;

// Encodes and decodes through a real message, as the transport does.
HRESULT RoundTrip(const VARIANT& in, VARIANT* out) {
    capnp::MallocMessageBuilder message;
    const HRESULT encoded = EncodeVariant(in, message.initRoot<wire::Variant>());
    if (FAILED(encoded)) {
        return encoded;
    }
    kj::Array<capnp::word> words = capnp::messageToFlatArray(message);
    capnp::FlatArrayMessageReader reader(words);
    VariantInit(out);
    return DecodeVariant(reader.getRoot<wire::Variant>(), out);
}

// A VARIANT that clears itself.
struct Held {
    VARIANT v;
    Held() { VariantInit(&v); }
    ~Held() { VariantClear(&v); }
};

TEST(VariantCodec, EveryScalarTypeCrossesUnchanged) {
    std::vector<VARIANT> values;
    auto add = [&](VARTYPE vt, auto set) {
        VARIANT v;
        VariantInit(&v);
        v.vt = vt;
        set(v);
        values.push_back(v);
    };
    add(VT_EMPTY, [](VARIANT&) {});
    add(VT_NULL, [](VARIANT&) {});
    add(VT_I1, [](VARIANT& v) { v.cVal = -128; });
    add(VT_UI1, [](VARIANT& v) { v.bVal = 255; });
    add(VT_I2, [](VARIANT& v) { v.iVal = -32768; });
    add(VT_UI2, [](VARIANT& v) { v.uiVal = 65535; });
    add(VT_I4, [](VARIANT& v) { v.lVal = -2147483647 - 1; });
    add(VT_UI4, [](VARIANT& v) { v.ulVal = 4294967295u; });
    add(VT_I8, [](VARIANT& v) { v.llVal = -9000000000000000000LL; });
    add(VT_UI8, [](VARIANT& v) { v.ullVal = 18000000000000000000ULL; });
    add(VT_INT, [](VARIANT& v) { v.intVal = -7; });
    add(VT_UINT, [](VARIANT& v) { v.uintVal = 7; });
    add(VT_R4, [](VARIANT& v) { v.fltVal = 3.25f; });
    add(VT_R8, [](VARIANT& v) { v.dblVal = -1.0e300; });
    add(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; });
    add(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_FALSE; });
    add(VT_CY, [](VARIANT& v) { v.cyVal.int64 = -123456789012345LL; });
    add(VT_DATE, [](VARIANT& v) { v.date = 46023.5; });
    add(VT_ERROR, [](VARIANT& v) { v.scode = static_cast<HRESULT>(0xC0040007); });

    for (const VARIANT& in : values) {
        Held out;
        ASSERT_EQ(RoundTrip(in, &out.v), S_OK) << "vt " << in.vt;
        EXPECT_EQ(out.v.vt, in.vt);
        // Every scalar lives in the first eight bytes of the value.
        EXPECT_EQ(
            std::memcmp(&out.v.llVal, &in.llVal, in.vt == VT_EMPTY || in.vt == VT_NULL ? 0 : 8), 0)
            << "vt " << in.vt;
    }
    // NaN and the signed zero keep their bits.
    VARIANT nan;
    VariantInit(&nan);
    nan.vt = VT_R8;
    nan.ullVal = 0x7FF8000000000123ULL;
    Held out;
    ASSERT_EQ(RoundTrip(nan, &out.v), S_OK);
    EXPECT_EQ(out.v.ullVal, nan.ullVal);
}

TEST(VariantCodec, StringsKeepEveryCodeUnitAndNullStaysNull) {
    const std::u16string texts[] = {u"", u"Tag\u00e4\u4e2d", std::u16string(u"a\0b\0", 4),
                                    std::u16string(1, static_cast<char16_t>(0xD800))};
    for (const std::u16string& text : texts) {
        VARIANT in;
        VariantInit(&in);
        in.vt = VT_BSTR;
        in.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        Held out;
        ASSERT_EQ(RoundTrip(in, &out.v), S_OK);
        ASSERT_EQ(out.v.vt, VT_BSTR);
        ASSERT_NE(out.v.bstrVal, nullptr) << "an empty string is not a null one";
        EXPECT_EQ(std::u16string(BstrView(out.v.bstrVal)), text);
        VariantClear(&in);
    }
    VARIANT null;
    VariantInit(&null);
    null.vt = VT_BSTR;
    null.bstrVal = nullptr;
    Held out;
    ASSERT_EQ(RoundTrip(null, &out.v), S_OK);
    EXPECT_EQ(out.v.vt, VT_BSTR);
    EXPECT_EQ(out.v.bstrVal, nullptr);
}

// A one-dimensional array of vt with the given lower bound, filled by fill(data).
template <class Fill>
VARIANT MakeArray(VARTYPE vt, LONG lbound, ULONG count, Fill fill) {
    VARIANT v;
    VariantInit(&v);
    v.vt = static_cast<VARTYPE>(VT_ARRAY | vt);
    v.parray = SafeArrayCreateVector(vt, lbound, count);
    fill(v.parray->pvData);
    return v;
}

TEST(VariantCodec, ArraysKeepTypeBoundsAndElements) {
    const VARTYPE numeric[] = {VT_I1,  VT_UI1,  VT_I2, VT_UI2, VT_I4,   VT_UI4, VT_I8,   VT_UI8,
                               VT_INT, VT_UINT, VT_R4, VT_R8,  VT_BOOL, VT_CY,  VT_DATE, VT_ERROR};
    for (const VARTYPE vt : numeric) {
        VARIANT in = MakeArray(vt, -2, 5, [](void*) {});
        const UINT size = SafeArrayGetElemsize(in.parray);
        auto* bytes = static_cast<unsigned char*>(in.parray->pvData);
        for (UINT i = 0; i < size * 5; ++i) {
            bytes[i] = static_cast<unsigned char>(i * 37 + vt);
        }
        Held out;
        ASSERT_EQ(RoundTrip(in, &out.v), S_OK) << "vt " << vt;
        ASSERT_EQ(out.v.vt, in.vt);
        LONG lbound = 0;
        LONG ubound = 0;
        ASSERT_EQ(SafeArrayGetLBound(out.v.parray, 1, &lbound), S_OK);
        ASSERT_EQ(SafeArrayGetUBound(out.v.parray, 1, &ubound), S_OK);
        EXPECT_EQ(lbound, -2);
        EXPECT_EQ(ubound, 2);
        EXPECT_EQ(std::memcmp(out.v.parray->pvData, in.parray->pvData, size * 5), 0) << "vt " << vt;
        VariantClear(&in);
    }

    // Strings, with a null one and one holding zeros; and no elements at all.
    VARIANT texts = MakeArray(VT_BSTR, 0, 3, [](void* data) {
        auto* b = static_cast<BSTR*>(data);
        b[0] = SysAllocString(u"one");
        b[1] = nullptr;
        b[2] = SysAllocStringLen(u"t\0o", 3);
    });
    Held out;
    ASSERT_EQ(RoundTrip(texts, &out.v), S_OK);
    auto* got = static_cast<BSTR*>(out.v.parray->pvData);
    EXPECT_EQ(std::u16string(BstrView(got[0])), u"one");
    EXPECT_EQ(got[1], nullptr);
    EXPECT_EQ(std::u16string(BstrView(got[2])), std::u16string(u"t\0o", 3));
    VariantClear(&texts);

    VARIANT empty = MakeArray(VT_R8, 1, 0, [](void*) {});
    Held none;
    ASSERT_EQ(RoundTrip(empty, &none.v), S_OK);
    EXPECT_EQ(none.v.vt, VT_ARRAY | VT_R8);
    LONG lbound = 0;
    EXPECT_EQ(SafeArrayGetLBound(none.v.parray, 1, &lbound), S_OK);
    EXPECT_EQ(lbound, 1);
    VariantClear(&empty);
}

TEST(VariantCodec, VariantArraysNestAndTwoDimensionsKeepTheirShape) {
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 10}};
    VARIANT grid;
    VariantInit(&grid);
    grid.vt = VT_ARRAY | VT_I4;
    grid.parray = SafeArrayCreate(VT_I4, 2, bounds);
    for (int i = 0; i < 6; ++i) {
        static_cast<LONG*>(grid.parray->pvData)[i] = i * 11;
    }
    VARIANT mixed = MakeArray(VT_VARIANT, 0, 3, [&](void* data) {
        auto* v = static_cast<VARIANT*>(data);
        v[0].vt = VT_BSTR;
        v[0].bstrVal = SysAllocString(u"x");
        v[1].vt = VT_R4;
        v[1].fltVal = 1.5f;
        VariantCopy(&v[2], &grid);
    });
    Held out;
    ASSERT_EQ(RoundTrip(mixed, &out.v), S_OK);
    auto* got = static_cast<VARIANT*>(out.v.parray->pvData);
    EXPECT_EQ(got[0].vt, VT_BSTR);
    EXPECT_EQ(std::u16string(BstrView(got[0].bstrVal)), u"x");
    EXPECT_EQ(got[1].fltVal, 1.5f);
    ASSERT_EQ(got[2].vt, VT_ARRAY | VT_I4);
    ASSERT_EQ(SafeArrayGetDim(got[2].parray), 2u);
    LONG lbound = 0;
    EXPECT_EQ(SafeArrayGetLBound(got[2].parray, 2, &lbound), S_OK);
    EXPECT_EQ(lbound, 10);
    LONG index[2] = {1, 12};
    LONG element = 0;
    LONG expected = 0;
    ASSERT_EQ(SafeArrayGetElement(got[2].parray, index, &element), S_OK);
    ASSERT_EQ(SafeArrayGetElement(grid.parray, index, &expected), S_OK);
    EXPECT_EQ(element, expected);
    VariantClear(&mixed);
    VariantClear(&grid);
}

TEST(VariantCodec, ValuesThatCannotCrossAreRefused) {
    LONG target = 5;
    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_BYREF | VT_I4;
    byRef.byref = &target;
    VARIANT unknown;
    VariantInit(&unknown);
    unknown.vt = VT_UNKNOWN;
    VARIANT decimal;
    VariantInit(&decimal);
    decimal.vt = VT_DECIMAL;
    for (const VARIANT* v : {&byRef, &unknown, &decimal}) {
        capnp::MallocMessageBuilder message;
        auto built = message.initRoot<wire::Variant>();
        EXPECT_EQ(EncodeVariant(*v, built), DISP_E_BADVARTYPE) << "vt " << v->vt;
        EXPECT_TRUE(built.isEmpty()) << "a refused value leaves an empty one behind";
    }

    // Arrays nested deeper than the codec goes.
    VARIANT deep;
    VariantInit(&deep);
    deep.vt = VT_I4;
    for (int level = 0; level < 20; ++level) {
        VARIANT outer =
            MakeArray(VT_VARIANT, 0, 1, [&](void* data) { *static_cast<VARIANT*>(data) = deep; });
        deep = outer;
    }
    capnp::MallocMessageBuilder message;
    EXPECT_EQ(EncodeVariant(deep, message.initRoot<wire::Variant>()), DISP_E_BADVARTYPE);
    VariantClear(&deep);
}

// Decodes a hand-made message; the decoded value is cleared.
HRESULT DecodeBuilt(capnp::MallocMessageBuilder& message) {
    VARIANT v;
    VariantInit(&v);
    const HRESULT hr = DecodeVariant(message.getRoot<wire::Variant>().asReader(), &v);
    if (FAILED(hr)) {
        EXPECT_EQ(v.vt, VT_EMPTY) << "a refused value leaves VT_EMPTY";
    }
    VariantClear(&v);
    return hr;
}

TEST(VariantCodec, MessagesThatDoNotHoldTogetherAreRefusedWithoutLeaks) {
    const std::size_t blocks = CoTaskMemLiveBlocks();
    {
        // More elements claimed by the bounds than the message carries.
        capnp::MallocMessageBuilder m;
        auto a = m.initRoot<wire::Variant>().initArray();
        a.setElementType(VT_R8);
        auto b = a.initBounds(1);
        b[0].setCount(0xFFFFFFFFu);
        a.getElements().initR8(1);
        EXPECT_EQ(DecodeBuilt(m), RPC_E_INVALID_DATA);
    }
    {
        // Two dimensions whose product overflows 32 bits back to the element count.
        capnp::MallocMessageBuilder m;
        auto a = m.initRoot<wire::Variant>().initArray();
        a.setElementType(VT_I4);
        auto b = a.initBounds(2);
        b[0].setCount(0x10000u);
        b[1].setCount(0x10000u);
        a.getElements().initI4(0);
        EXPECT_EQ(DecodeBuilt(m), RPC_E_INVALID_DATA);
    }
    {
        // Elements of another type than the array says.
        capnp::MallocMessageBuilder m;
        auto a = m.initRoot<wire::Variant>().initArray();
        a.setElementType(VT_BSTR);
        a.initBounds(1)[0].setCount(2);
        a.getElements().initR8(2);
        EXPECT_EQ(DecodeBuilt(m), RPC_E_INVALID_DATA);
    }
    {
        // No bounds at all.
        capnp::MallocMessageBuilder m;
        auto a = m.initRoot<wire::Variant>().initArray();
        a.setElementType(VT_R8);
        a.getElements().initR8(0);
        EXPECT_EQ(DecodeBuilt(m), RPC_E_INVALID_DATA);
    }
    {
        // An element type no array may have.
        capnp::MallocMessageBuilder m;
        auto a = m.initRoot<wire::Variant>().initArray();
        a.setElementType(VT_UNKNOWN);
        a.initBounds(1)[0].setCount(0);
        EXPECT_EQ(DecodeBuilt(m), DISP_E_BADVARTYPE);
    }
    {
        // A string array whose last element is wrong: the strings made before it are freed.
        capnp::MallocMessageBuilder m;
        auto a = m.initRoot<wire::Variant>().initArray();
        a.setElementType(VT_VARIANT);
        a.initBounds(1)[0].setCount(3);
        auto list = a.getElements().initVariant(3);
        list[0].initBstr(4);
        list[1].initBstr(2);
        auto bad = list[2].initArray();
        bad.setElementType(VT_R8);
        bad.initBounds(1)[0].setCount(9);
        bad.getElements().initR8(1);
        EXPECT_EQ(DecodeBuilt(m), RPC_E_INVALID_DATA);
    }
    {
        // Arrays nested deeper than the codec goes.
        capnp::MallocMessageBuilder m;
        auto v = m.initRoot<wire::Variant>();
        for (int level = 0; level < 20; ++level) {
            auto a = v.initArray();
            a.setElementType(VT_VARIANT);
            a.initBounds(1)[0].setCount(1);
            v = a.getElements().initVariant(1)[0];
        }
        v.setI4(1);
        EXPECT_EQ(DecodeBuilt(m), RPC_E_INVALID_DATA);
    }
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocks);
}

TEST(VariantCodec, DamagedMessagesNeverCrashTheReader) {
    // A valid message of nested arrays and strings, then copies of it with random bytes changed:
    // every pointer, count and tag of it gets damaged in some round.
    VARIANT texts = MakeArray(VT_BSTR, 0, 2, [](void* data) {
        static_cast<BSTR*>(data)[0] = SysAllocString(u"alpha");
        static_cast<BSTR*>(data)[1] = SysAllocString(u"beta");
    });
    VARIANT mixed = MakeArray(VT_VARIANT, 0, 3, [&](void* data) {
        auto* v = static_cast<VARIANT*>(data);
        VariantCopy(&v[0], &texts);
        v[1].vt = VT_R8;
        v[1].dblVal = 2.5;
        v[2].vt = VT_BSTR;
        v[2].bstrVal = SysAllocString(u"gamma");
    });
    capnp::MallocMessageBuilder original;
    ASSERT_EQ(EncodeVariant(mixed, original.initRoot<wire::Variant>()), S_OK);
    VariantClear(&mixed);
    VariantClear(&texts);
    const kj::Array<capnp::word> flat = capnp::messageToFlatArray(original);
    const std::size_t bytes = flat.size() * sizeof(capnp::word);

    std::mt19937_64 random(7);
    const std::size_t blocks = CoTaskMemLiveBlocks();
    int accepted = 0;
    int refused = 0;
    for (int round = 0; round < 3000; ++round) {
        kj::Array<capnp::word> copy = kj::heapArray<capnp::word>(flat.size());
        std::memcpy(static_cast<void*>(copy.begin()), flat.begin(), bytes);
        auto* raw = reinterpret_cast<unsigned char*>(copy.begin());
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int c = 0; c < changes; ++c) {
            // The segment table (the first word) stays, so that the reader gets to the value.
            raw[8 + random() % (bytes - 8)] = static_cast<unsigned char>(random());
        }
        try {
            capnp::FlatArrayMessageReader reader(copy);
            VARIANT v;
            VariantInit(&v);
            if (SUCCEEDED(DecodeVariant(reader.getRoot<wire::Variant>(), &v))) {
                ++accepted;
            } else {
                EXPECT_EQ(v.vt, VT_EMPTY);
                ++refused;
            }
            VariantClear(&v);
        } catch (const kj::Exception&) {
            // The message itself was refused before any value was read.
            ++refused;
        }
    }
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocks);
    EXPECT_GT(accepted, 0);
    EXPECT_GT(refused, 0);
}

TEST(WireValues, GuidsAndTimesCrossUnchanged) {
    capnp::MallocMessageBuilder message;
    auto g = message.initRoot<wire::Guid>();
    tgv::rpc::PutGuid(g, IID_IOPCDataCallback);
    EXPECT_TRUE(tgv::rpc::GetGuid(g.asReader()) == IID_IOPCDataCallback);
    const FILETIME t{0x89ABCDEFu, 0x01D9FFFFu};
    const FILETIME back = tgv::rpc::FileTimeFromWire(tgv::rpc::FileTimeToWire(t));
    EXPECT_EQ(back.dwLowDateTime, t.dwLowDateTime);
    EXPECT_EQ(back.dwHighDateTime, t.dwHighDateTime);
}

}  // namespace
