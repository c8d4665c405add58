# The node agent: what a client on another machine may ask of a node. It reads the node's class
# registrations and activates the classes registered there as local servers; the objects it
# hands back are served on the very connection the client opened.
#
# Registry paths are relative to the node's HKEY_LOCAL_MACHINE, parts separated by '\'. Status
# values are Win32 error codes (0 is success); hr values are HRESULTs, unchanged.

@0xfa24f00fe2516f86;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("tgv::wire");

using Da = import "opcda.capnp";

struct QiResult {
  hr @0 :Int32;
  object @1 :Da.ObjectRef;     # unset when hr is a failure
}

interface NodeAgent {
  # Answers at once: tells a client that an agent listens at the address it reached.
  ping @0 () -> (version :UInt32);

  openKey @1 (path :Text) -> (status :Int32);
  queryValue @2 (path :Text, name :Text) -> (status :Int32, type :UInt32, data :Data);
  enumKey @3 (path :Text, index :UInt32) -> (status :Int32, name :Text);

  # Creates one object of the class and asks it for every interface of iids, in order.
  createInstance @4 (clsid :Da.Guid, iids :List(Da.Guid)) -> (hr :Int32, results :List(QiResult));
  getClassObject @5 (clsid :Da.Guid, iid :Da.Guid) -> (hr :Int32, object :Da.ObjectRef);
}
