# The OPC DA interfaces as they cross a process boundary.
#
# Every remote object is reached through capabilities that all extend Unknown: one capability per
# interface of the object, each answering queryInterface with a capability for the same object.
# Interface pointers cross as ObjectRef, which carries the object's identity so that the receiving
# side keeps one proxy per remote object.
#
# Conventions:
# - HRESULTs cross as Int32, unchanged.
# - Wide strings cross as their UTF-16 code units (List(UInt16)); an unset field is a null string.
# - An [in] array crosses as a list of exactly the entries the call's count names; an unset list
#   is a null pointer.
# - "wants" has bit i set when the caller passed the i-th [out] pointer of the method (in the
#   order of the C++ signature); the callee sees null for the others, exactly as in process.
# - Results carry every wanted [out] value, whatever the HRESULT.

@0x8a891515bfe1c74d;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("tgv::wire");

struct Guid {
  data1 @0 :UInt32;
  data2 @1 :UInt16;
  data3 @2 :UInt16;
  data4 @3 :UInt64;  # the eight bytes of Data4, the first in the lowest bits
}

struct ObjectRef {
  cap @0 :Unknown;       # unset for a null interface pointer
  identity @1 :UInt64;   # the exporting side's number for the object
  home @2 :Bool;         # true: the receiver exported this object itself and gets it back
}

struct SafeArrayBound {
  count @0 :UInt32;
  lowerBound @1 :Int32;
}

struct Variant {
  union {
    empty @0 :Void;
    null @1 :Void;
    i1 @2 :Int8;
    ui1 @3 :UInt8;
    i2 @4 :Int16;
    ui2 @5 :UInt16;
    i4 @6 :Int32;
    ui4 @7 :UInt32;
    i8 @8 :Int64;
    ui8 @9 :UInt64;
    int @10 :Int32;
    uint @11 :UInt32;
    r4 @12 :Float32;
    r8 @13 :Float64;
    bool @14 :Int16;            # the VARIANT_BOOL as it stands
    bstr @15 :List(UInt16);     # unset: a null BSTR
    cy @16 :Int64;
    date @17 :Float64;
    error @18 :Int32;
    array @19 :SafeArray;
  }
}

# A SAFEARRAY: its element type, its bounds (leftmost dimension first) and its elements in
# memory order, in the one list that matches the element type.
struct SafeArray {
  elementType @0 :UInt16;
  bounds @1 :List(SafeArrayBound);
  elements :union {
    i1 @2 :List(Int8);
    ui1 @3 :List(UInt8);
    i2 @4 :List(Int16);
    ui2 @5 :List(UInt16);
    i4 @6 :List(Int32);
    ui4 @7 :List(UInt32);
    i8 @8 :List(Int64);
    ui8 @9 :List(UInt64);
    r4 @10 :List(Float32);
    r8 @11 :List(Float64);
    bool @12 :List(Int16);
    bstr @13 :List(WideString);
    cy @14 :List(Int64);
    date @15 :List(Float64);
    error @16 :List(Int32);
    variant @17 :List(Variant);
  }
}

# A possibly null wide string as a list element.
struct WideString {
  text @0 :List(UInt16);
}

struct ServerStatus {
  startTime @0 :UInt64;
  currentTime @1 :UInt64;
  lastUpdateTime @2 :UInt64;
  serverState @3 :UInt32;
  groupCount @4 :UInt32;
  bandWidth @5 :UInt32;
  majorVersion @6 :UInt16;
  minorVersion @7 :UInt16;
  buildNumber @8 :UInt16;
  reserved @9 :UInt16;
  vendorInfo @10 :List(UInt16);
}

struct ItemDef {
  accessPath @0 :List(UInt16);
  itemId @1 :List(UInt16);
  active @2 :Int32;
  client @3 :UInt32;
  blobSize @4 :UInt32;
  blob @5 :Data;                 # unset: a null pBlob
  requestedDataType @6 :UInt16;
  reserved @7 :UInt16;
}

struct ItemResult {
  server @0 :UInt32;
  canonicalDataType @1 :UInt16;
  reserved @2 :UInt16;
  accessRights @3 :UInt32;
  blobSize @4 :UInt32;
  blob @5 :Data;
}

struct ItemState {
  client @0 :UInt32;
  timeStamp @1 :UInt64;
  quality @2 :UInt16;
  reserved @3 :UInt16;
  value @4 :Variant;
}

struct ItemAttributes {
  accessPath @0 :List(UInt16);
  itemId @1 :List(UInt16);
  active @2 :Int32;
  client @3 :UInt32;
  server @4 :UInt32;
  accessRights @5 :UInt32;
  blobSize @6 :UInt32;
  blob @7 :Data;
  requestedDataType @8 :UInt16;
  canonicalDataType @9 :UInt16;
  euType @10 :UInt32;
  euInfo @11 :Variant;
}

struct ConnectData {
  sink @0 :ObjectRef;
  cookie @1 :UInt32;
}

# A clipboard format: registered formats cross by name, since their numbers are per process.
struct ClipFormat {
  union {
    standard @0 :UInt16;
    registered @1 :Text;
  }
}

struct FormatEtc {
  format @0 :ClipFormat;
  targetDevice @1 :Data;         # unset: no target device
  aspect @2 :UInt32;
  index @3 :Int32;
  tymed @4 :UInt32;
}

# A storage medium; only global memory (and no medium at all) can cross.
struct Medium {
  tymed @0 :UInt32;
  hGlobal @1 :Data;              # the block's bytes; unset: a null handle
}

struct StatData {
  format @0 :FormatEtc;
  advf @1 :UInt32;
  sink @2 :ObjectRef;
  connection @3 :UInt32;
}

interface Unknown {
  queryInterface @0 (iid :Guid) -> (hr :Int32, object :ObjectRef);
}

interface ClassFactory extends(Unknown) {
  createInstance @0 (iid :Guid, wants :UInt32) -> (hr :Int32, object :ObjectRef);
  lockServer @1 (lock :Int32) -> (hr :Int32);
  # Answers once every call and release that reached the serving side before it has been
  # carried out there.
  sync @2 () -> ();
}

interface OpcServer extends(Unknown) {
  addGroup @0 (name :List(UInt16), active :Int32, requestedUpdateRate :UInt32,
               clientGroup :UInt32, timeBias :Int32, hasTimeBias :Bool, percentDeadband :Float32,
               hasPercentDeadband :Bool, lcid :UInt32, iid :Guid, wants :UInt32)
      -> (hr :Int32, serverGroup :UInt32, revisedUpdateRate :UInt32, object :ObjectRef);
  getErrorString @1 (error :Int32, locale :UInt32, wants :UInt32)
      -> (hr :Int32, text :List(UInt16));
  getGroupByName @2 (name :List(UInt16), iid :Guid, wants :UInt32)
      -> (hr :Int32, object :ObjectRef);
  getStatus @3 (wants :UInt32) -> (hr :Int32, status :ServerStatus);
  removeGroup @4 (serverGroup :UInt32, force :Int32) -> (hr :Int32);
  createGroupEnumerator @5 (scope :UInt32, iid :Guid, wants :UInt32)
      -> (hr :Int32, object :ObjectRef);
}

interface OpcCommon extends(Unknown) {
  setLocaleId @0 (lcid :UInt32) -> (hr :Int32);
  getLocaleId @1 (wants :UInt32) -> (hr :Int32, lcid :UInt32);
  queryAvailableLocaleIds @2 (wants :UInt32)
      -> (hr :Int32, count :UInt32, lcids :List(UInt32));
  getErrorString @3 (error :Int32, wants :UInt32) -> (hr :Int32, text :List(UInt16));
  setClientName @4 (name :List(UInt16)) -> (hr :Int32);
}

interface OpcBrowseServerAddressSpace extends(Unknown) {
  queryOrganization @0 (wants :UInt32) -> (hr :Int32, nameSpaceType :UInt32);
  changeBrowsePosition @1 (direction :UInt32, name :List(UInt16)) -> (hr :Int32);
  browseOpcItemIds @2 (filterType :UInt32, criteria :List(UInt16), dataTypeFilter :UInt16,
                       accessRightsFilter :UInt32, wants :UInt32)
      -> (hr :Int32, enum :ObjectRef);
  getItemId @3 (itemDataId :List(UInt16), wants :UInt32) -> (hr :Int32, itemId :List(UInt16));
  browseAccessPaths @4 (itemId :List(UInt16), wants :UInt32) -> (hr :Int32, enum :ObjectRef);
}

interface EnumString extends(Unknown) {
  next @0 (count :UInt32, wants :UInt32)
      -> (hr :Int32, items :List(WideString), fetched :UInt32);
  skip @1 (count :UInt32) -> (hr :Int32);
  reset @2 () -> (hr :Int32);
  clone @3 (wants :UInt32) -> (hr :Int32, enum :ObjectRef);
}

interface EnumUnknown extends(Unknown) {
  next @0 (count :UInt32, wants :UInt32)
      -> (hr :Int32, items :List(ObjectRef), fetched :UInt32);
  skip @1 (count :UInt32) -> (hr :Int32);
  reset @2 () -> (hr :Int32);
  clone @3 (wants :UInt32) -> (hr :Int32, enum :ObjectRef);
}

interface OpcGroupStateMgt extends(Unknown) {
  getState @0 (wants :UInt32)
      -> (hr :Int32, updateRate :UInt32, active :Int32, name :List(UInt16), timeBias :Int32,
          percentDeadband :Float32, lcid :UInt32, clientGroup :UInt32, serverGroup :UInt32);
  setState @1 (requestedUpdateRate :UInt32, hasRequestedUpdateRate :Bool, active :Int32,
               hasActive :Bool, timeBias :Int32, hasTimeBias :Bool, percentDeadband :Float32,
               hasPercentDeadband :Bool, lcid :UInt32, hasLcid :Bool, clientGroup :UInt32,
               hasClientGroup :Bool, wants :UInt32)
      -> (hr :Int32, revisedUpdateRate :UInt32);
  setName @2 (name :List(UInt16)) -> (hr :Int32);
  cloneGroup @3 (name :List(UInt16), iid :Guid, wants :UInt32) -> (hr :Int32, object :ObjectRef);
}

interface OpcItemMgt extends(Unknown) {
  addItems @0 (count :UInt32, items :List(ItemDef), wants :UInt32)
      -> (hr :Int32, results :List(ItemResult), errors :List(Int32));
  validateItems @1 (count :UInt32, items :List(ItemDef), blobUpdate :Int32, wants :UInt32)
      -> (hr :Int32, results :List(ItemResult), errors :List(Int32));
  removeItems @2 (count :UInt32, serverHandles :List(UInt32), wants :UInt32)
      -> (hr :Int32, errors :List(Int32));
  setActiveState @3 (count :UInt32, serverHandles :List(UInt32), active :Int32, wants :UInt32)
      -> (hr :Int32, errors :List(Int32));
  setClientHandles @4 (count :UInt32, serverHandles :List(UInt32),
                       clientHandles :List(UInt32), wants :UInt32)
      -> (hr :Int32, errors :List(Int32));
  setDatatypes @5 (count :UInt32, serverHandles :List(UInt32), requestedDatatypes :List(UInt16),
                   wants :UInt32)
      -> (hr :Int32, errors :List(Int32));
  createEnumerator @6 (iid :Guid, wants :UInt32) -> (hr :Int32, object :ObjectRef);
}

interface EnumOpcItemAttributes extends(Unknown) {
  next @0 (count :UInt32, wants :UInt32)
      -> (hr :Int32, items :List(ItemAttributes), fetched :UInt32);
  skip @1 (count :UInt32) -> (hr :Int32);
  reset @2 () -> (hr :Int32);
  clone @3 (wants :UInt32) -> (hr :Int32, enum :ObjectRef);
}

interface OpcSyncIo extends(Unknown) {
  read @0 (source :UInt32, count :UInt32, serverHandles :List(UInt32), wants :UInt32)
      -> (hr :Int32, states :List(ItemState), errors :List(Int32));
  write @1 (count :UInt32, serverHandles :List(UInt32), values :List(Variant), wants :UInt32)
      -> (hr :Int32, errors :List(Int32));
}

interface OpcAsyncIo2 extends(Unknown) {
  read @0 (count :UInt32, serverHandles :List(UInt32), transactionId :UInt32, wants :UInt32)
      -> (hr :Int32, cancelId :UInt32, errors :List(Int32));
  write @1 (count :UInt32, serverHandles :List(UInt32), values :List(Variant),
            transactionId :UInt32, wants :UInt32)
      -> (hr :Int32, cancelId :UInt32, errors :List(Int32));
  refresh2 @2 (source :UInt32, transactionId :UInt32, wants :UInt32)
      -> (hr :Int32, cancelId :UInt32);
  cancel2 @3 (cancelId :UInt32) -> (hr :Int32);
  setEnable @4 (enable :Int32) -> (hr :Int32);
  getEnable @5 (wants :UInt32) -> (hr :Int32, enable :Int32);
}

interface OpcAsyncIo extends(Unknown) {
  read @0 (connection :UInt32, source :UInt32, count :UInt32, serverHandles :List(UInt32),
           wants :UInt32)
      -> (hr :Int32, transactionId :UInt32, errors :List(Int32));
  write @1 (connection :UInt32, count :UInt32, serverHandles :List(UInt32),
            values :List(Variant), wants :UInt32)
      -> (hr :Int32, transactionId :UInt32, errors :List(Int32));
  refresh @2 (connection :UInt32, source :UInt32, wants :UInt32)
      -> (hr :Int32, transactionId :UInt32);
  cancel @3 (transactionId :UInt32) -> (hr :Int32);
}

interface ConnectionPointContainer extends(Unknown) {
  enumConnectionPoints @0 (wants :UInt32) -> (hr :Int32, enum :ObjectRef);
  findConnectionPoint @1 (iid :Guid, wants :UInt32) -> (hr :Int32, point :ObjectRef);
}

interface ConnectionPoint extends(Unknown) {
  getConnectionInterface @0 (wants :UInt32) -> (hr :Int32, iid :Guid);
  getConnectionPointContainer @1 (wants :UInt32) -> (hr :Int32, container :ObjectRef);
  advise @2 (sink :ObjectRef, wants :UInt32) -> (hr :Int32, cookie :UInt32);
  unadvise @3 (cookie :UInt32) -> (hr :Int32);
  enumConnections @4 (wants :UInt32) -> (hr :Int32, enum :ObjectRef);
}

interface EnumConnections extends(Unknown) {
  next @0 (count :UInt32, wants :UInt32)
      -> (hr :Int32, items :List(ConnectData), fetched :UInt32);
  skip @1 (count :UInt32) -> (hr :Int32);
  reset @2 () -> (hr :Int32);
  clone @3 (wants :UInt32) -> (hr :Int32, enum :ObjectRef);
}

interface EnumConnectionPoints extends(Unknown) {
  next @0 (count :UInt32, wants :UInt32)
      -> (hr :Int32, items :List(ObjectRef), fetched :UInt32);
  skip @1 (count :UInt32) -> (hr :Int32);
  reset @2 () -> (hr :Int32);
  clone @3 (wants :UInt32) -> (hr :Int32, enum :ObjectRef);
}

# The client's sinks. The client copies what arrives, answers at once and runs the call later
# on its user-interface thread, so the answer says only that the call was taken.
interface OpcDataCallback extends(Unknown) {
  onDataChange @0 (transactionId :UInt32, group :UInt32, masterQuality :Int32,
                   masterError :Int32, count :UInt32, clientHandles :List(UInt32),
                   values :List(Variant), qualities :List(UInt16), timeStamps :List(UInt64),
                   errors :List(Int32))
      -> (hr :Int32);
  onReadComplete @1 (transactionId :UInt32, group :UInt32, masterQuality :Int32,
                     masterError :Int32, count :UInt32, clientHandles :List(UInt32),
                     values :List(Variant), qualities :List(UInt16), timeStamps :List(UInt64),
                     errors :List(Int32))
      -> (hr :Int32);
  onWriteComplete @2 (transactionId :UInt32, group :UInt32, masterError :Int32, count :UInt32,
                      clientHandles :List(UInt32), errors :List(Int32))
      -> (hr :Int32);
  onCancelComplete @3 (transactionId :UInt32, group :UInt32) -> (hr :Int32);
}

interface OpcShutdown extends(Unknown) {
  shutdownRequest @0 (reason :List(UInt16)) -> (hr :Int32);
}

interface AdviseSink extends(Unknown) {
  onDataChange @0 (format :FormatEtc, medium :Medium) -> ();
  onViewChange @1 (aspect :UInt32, index :Int32) -> ();
  onRename @2 () -> ();
  onSave @3 () -> ();
  onClose @4 () -> ();
}

interface DataObject extends(Unknown) {
  getData @0 (format :FormatEtc, wants :UInt32) -> (hr :Int32, medium :Medium);
  queryGetData @1 (format :FormatEtc) -> (hr :Int32);
  getCanonicalFormatEtc @2 (format :FormatEtc, wants :UInt32)
      -> (hr :Int32, format :FormatEtc);
  setData @3 (format :FormatEtc, medium :Medium, release :Int32) -> (hr :Int32);
  dAdvise @4 (format :FormatEtc, advf :UInt32, sink :ObjectRef, wants :UInt32)
      -> (hr :Int32, connection :UInt32);
  dUnadvise @5 (connection :UInt32) -> (hr :Int32);
}
