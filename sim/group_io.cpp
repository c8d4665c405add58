// Reading a group's items: the periodic update, synchronous reads and writes, and the sinks
// that receive what the group sends.

#include <cmath>

#include "opcda/errors.h"
#include "opcda/quality.h"
#include "sim/group.h"
#include "sim/item_io.h"
#include "sim/sim_state.h"
#include "sim/sim_time.h"
#include "sim/task_memory.h"

bool SimGroup::HasDataCallback() const {
    return enabled_ && dataPoint_.Inner().ConnectionCount() > 0;
}

bool SimGroup::HasDataStream() const {
    const StreamFormats& formats = OpcStreamFormats();
    for (const auto& [connection, format] : streamFormats_) {
        if (format == formats.data || format == formats.dataTime) {
            return true;
        }
    }
    return false;
}

bool SimGroup::WantsUpdates() const {
    if (serverId_ == 0 || !settings_.active) {
        return false;
    }
    return HasDataCallback() || HasDataStream();
}

std::vector<ComPtr<IOPCDataCallback>> SimGroup::DataCallbacks() const {
    return dataPoint_.Inner().SinksAs<IOPCDataCallback>();
}

std::vector<StreamTarget> SimGroup::StreamTargets(DWORD connection, bool writeComplete) const {
    const StreamFormats& formats = OpcStreamFormats();
    std::vector<StreamTarget> targets;
    for (StoredStatData& advise : advises_.Connections()) {
        const auto known = streamFormats_.find(advise.connection);
        if (known == streamFormats_.end() || (connection != 0 && advise.connection != connection)) {
            continue;
        }
        const bool isWrite = known->second == formats.writeComplete;
        if (isWrite == writeComplete) {
            targets.push_back(StreamTarget{std::move(advise.sink), known->second});
        }
    }
    return targets;
}

void SimGroup::RunUpdate(std::uint64_t now, std::vector<Delivery>& out) {
    nextDue_ += settings_.updateRate;
    SkipPast(now);
    const bool callbacks = HasDataCallback();
    const bool streams = HasDataStream();
    if (serverId_ == 0 || !settings_.active || (!callbacks && !streams)) {
        return;
    }
    const AddressSpace& space = state_->space;
    const std::uint32_t seed = state_->options.seed;
    const FILETIME time = SimFileTime(now);
    const double band = settings_.deadband / 100.0;

    ItemBatch batch = pool_->TakeBatch();
    batch.Reserve(items_.Count());
    items_.ForEach([&](OPCHANDLE, GroupItem& item) {
        if (!item.active) {
            return;
        }
        VARIANT& value = *batch.NextValue();
        const ItemReading reading = ReadItem(space, item, now, seed, &value);
        bool changed = !item.sent || reading.quality != item.lastQuality ||
                       reading.error != item.lastError ||
                       !SameValueFast(value, item.lastValue.Get());
        if (changed && item.sent && band > 0.0 && reading.error == S_OK &&
            reading.quality == item.lastQuality) {
            // Analog items change only by more than the deadband's share of their range.
            const SimLeaf& leaf = space.Leaf(item.leaf);
            if (leaf.hasRange && std::fabs(reading.analog - item.lastAnalog) <=
                                     band * (leaf.rangeHigh - leaf.rangeLow)) {
                changed = false;
            }
        }
        if (!changed) {
            ClearValue(value);
            return;
        }
        item.sent = true;
        item.lastQuality = reading.quality;
        item.lastError = reading.error;
        item.lastAnalog = reading.analog;
        item.lastValue.Assign(value);
        batch.Commit(item.clientHandle, reading.quality, time, reading.error);
    });
    if (batch.Count() == 0) {
        pool_->GiveBatch(std::move(batch));
        return;
    }
    if (ServerData* server = state_->FindServer(serverId_)) {
        server->lastUpdateAt = now;
    }
    Delivery d;
    d.kind = Delivery::Kind::DataChange;
    d.clientGroup = settings_.clientGroup;
    d.batch = std::move(batch);
    if (callbacks) {
        d.callbacks = DataCallbacks();
    }
    if (streams) {
        d.streams = StreamTargets(0, false);
    }
    d.pool = pool_;
    out.push_back(std::move(d));
}

void SimGroup::ReadInto(ItemBatch& batch, const std::vector<OPCHANDLE>* handles, std::uint64_t now,
                        bool cacheSource) {
    const FILETIME time = SimFileTime(now);
    auto readOne = [&](const GroupItem& item) {
        VARIANT value;
        VariantInit(&value);
        if (cacheSource && (!settings_.active || !item.active)) {
            batch.Append(item.clientHandle, value, OPC_QUALITY_OUT_OF_SERVICE, time, S_OK);
            return;
        }
        const ItemReading reading =
            ReadItem(state_->space, item, now, state_->options.seed, &value);
        batch.Append(item.clientHandle, value, reading.quality, time, reading.error);
    };
    if (handles == nullptr) {
        batch.Reserve(items_.Count());
        items_.ForEach([&](OPCHANDLE, const GroupItem& item) {
            if (item.active) {
                readOne(item);
            }
        });
        return;
    }
    batch.Reserve(handles->size());
    for (const OPCHANDLE handle : *handles) {
        // An item removed since the request was made is left out of the answer.
        if (const GroupItem* item = items_.Find(handle)) {
            readOne(*item);
        }
    }
}

HRESULT SimGroup::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                       OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
    if (ppItemValues == nullptr || ppErrors == nullptr) {
        return E_INVALIDARG;
    }
    *ppItemValues = nullptr;
    *ppErrors = nullptr;
    CallGate gate(*state_, "IOPCSyncIO", "Read");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if ((dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE) || dwCount == 0 ||
        dwCount > ItemTable::kMaxItems || phServer == nullptr) {
        return E_INVALIDARG;
    }
    TaskArray<OPCITEMSTATE> states(dwCount);
    TaskArray<HRESULT> errors(dwCount);
    if (!states || !errors) {
        return E_OUTOFMEMORY;
    }
    const std::uint64_t now = state_->now;
    const FILETIME time = SimFileTime(now);
    HRESULT overall = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        OPCITEMSTATE& s = states[i];
        VariantInit(&s.vDataValue);
        const GroupItem* const item = items_.Find(phServer[i]);
        if (item == nullptr) {
            errors[i] = OPC_E_INVALIDHANDLE;
            overall = S_FALSE;
            continue;
        }
        s.hClient = item->clientHandle;
        s.ftTimeStamp = time;
        if (dwSource == OPC_DS_CACHE && (!settings_.active || !item->active)) {
            s.wQuality = OPC_QUALITY_OUT_OF_SERVICE;
            errors[i] = S_OK;
            continue;
        }
        const ItemReading reading =
            ReadItem(state_->space, *item, now, state_->options.seed, &s.vDataValue);
        s.wQuality = reading.quality;
        errors[i] = reading.error;
        if (reading.error != S_OK) {
            overall = S_FALSE;
        }
    }
    *ppItemValues = states.Release();
    *ppErrors = errors.Release();
    return overall;
}

HRESULT SimGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                        HRESULT** ppErrors) {
    if (ppErrors == nullptr) {
        return E_INVALIDARG;
    }
    *ppErrors = nullptr;
    CallGate gate(*state_, "IOPCSyncIO", "Write");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (dwCount == 0 || dwCount > ItemTable::kMaxItems || phServer == nullptr ||
        pItemValues == nullptr) {
        return E_INVALIDARG;
    }
    TaskArray<HRESULT> errors(dwCount);
    if (!errors) {
        return E_OUTOFMEMORY;
    }
    HRESULT overall = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        const GroupItem* const item = items_.Find(phServer[i]);
        errors[i] =
            item == nullptr ? OPC_E_INVALIDHANDLE : WriteItem(state_->space, *item, pItemValues[i]);
        if (errors[i] != S_OK) {
            overall = S_FALSE;
        }
    }
    *ppErrors = errors.Release();
    return overall;
}
