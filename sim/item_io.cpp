#include "sim/item_io.h"

#include "opcda/errors.h"
#include "opcda/quality.h"

HRESULT ConversionError(HRESULT conversion) {
    return conversion == DISP_E_OVERFLOW ? OPC_E_RANGE : OPC_E_BADTYPE;
}

ItemReading ReadItem(const AddressSpace& space, const GroupItem& item, std::uint64_t now,
                     std::uint32_t seed, VARIANT* out) {
    out->vt = VT_EMPTY;
    const LeafSource& source = space.Source(item.leaf);
    ItemReading reading;
    if ((source.accessRights & OPC_READABLE) == 0) {
        reading.error = OPC_E_BADRIGHTS;
        reading.quality = OPC_QUALITY_BAD;
        return reading;
    }
    const bool asIs = item.requestedType == VT_EMPTY || item.requestedType == source.type;
    if (asIs) {
        // Straight into the caller's value: no copy of a freshly written VARIANT.
        const HRESULT hr = space.Read(item.leaf, now, seed, out);
        if (FAILED(hr)) {
            out->vt = VT_EMPTY;
            reading.error = hr;
            reading.quality = OPC_QUALITY_BAD;
            return reading;
        }
        if (source.hasRange) {
            reading.analog = out->vt == VT_R4 ? out->fltVal : out->dblVal;
        }
    } else {
        VARIANT raw;
        raw.vt = VT_EMPTY;
        HRESULT hr = space.Read(item.leaf, now, seed, &raw);
        if (FAILED(hr)) {
            reading.error = hr;
            reading.quality = OPC_QUALITY_BAD;
            return reading;
        }
        if (source.hasRange) {
            reading.analog = raw.vt == VT_R4 ? raw.fltVal : raw.dblVal;
        }
        hr = ConvertInto(out, raw, item.requestedType);
        VariantClear(&raw);
        if (FAILED(hr)) {
            reading.error = ConversionError(hr);
            reading.quality = OPC_QUALITY_BAD;
            return reading;
        }
    }
    reading.quality = OPC_QUALITY_GOOD;
    return reading;
}

HRESULT WriteItem(AddressSpace& space, const GroupItem& item, const VARIANT& value) {
    const SimLeaf& leaf = space.Leaf(item.leaf);
    if ((leaf.accessRights & OPC_WRITEABLE) == 0) {
        return OPC_E_BADRIGHTS;
    }
    const HRESULT hr = space.Write(item.leaf, value);
    if (hr == E_ACCESSDENIED) {
        return OPC_E_BADRIGHTS;
    }
    return FAILED(hr) ? ConversionError(hr) : hr;
}
