#pragma once
// Uniform data transfer: IDataObject and IAdviseSink with FORMATETC and STGMEDIUM, and the
// global memory blocks (HGLOBAL) that carry the data. Only TYMED_HGLOBAL is supported as a
// medium.

#include <cstddef>
#include <map>
#include <mutex>
#include <vector>

#include "com/enum.h"
#include "com/guid.h"
#include "com/hresult.h"
#include "com/types.h"
#include "com/unknown.h"

inline constexpr IID IID_IEnumFORMATETC{
    0x00000103, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IEnumSTATDATA{
    0x00000105, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDataObject{
    0x0000010E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IAdviseSink{
    0x0000010F, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// ---- Global memory blocks --------------------------------------------------------------------

using HGLOBAL = HANDLE;

inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_MOVEABLE = 0x0002;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
inline constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// A block of dwBytes bytes; null when out of memory or for unknown flags. A GMEM_FIXED block's
// handle is its memory address; a GMEM_MOVEABLE block is reached through GlobalLock.
HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
// Resizes a block, keeping its contents (GMEM_ZEROINIT zeroes what grows). Returns the new
// handle (a fixed block may move), or null with the old block unchanged.
HGLOBAL GlobalReAlloc(HGLOBAL hMem, SIZE_T dwBytes, UINT uFlags);
// The block's memory, and one more lock on a moveable block; null for a handle that names no
// live block.
LPVOID GlobalLock(HGLOBAL hMem);
// TRUE while the block stays locked, FALSE once the last lock is gone or it was not locked.
BOOL GlobalUnlock(HGLOBAL hMem);
// The size asked for; 0 for a handle that names no live block.
SIZE_T GlobalSize(HGLOBAL hMem);
// Null on success (null in is fine); the handle itself when it names no live block.
HGLOBAL GlobalFree(HGLOBAL hMem);
// For tests: the global memory blocks not yet freed.
std::size_t GlobalLiveBlocks();

// ---- Formats and media -----------------------------------------------------------------------

using CLIPFORMAT = WORD;

enum TYMED : DWORD {
    TYMED_NULL = 0,
    TYMED_HGLOBAL = 1,
    TYMED_FILE = 2,
    TYMED_ISTREAM = 4,
    TYMED_ISTORAGE = 8,
    TYMED_GDI = 16,
    TYMED_MFPICT = 32,
    TYMED_ENHMF = 64,
};

enum DVASPECT : DWORD {
    DVASPECT_CONTENT = 1,
    DVASPECT_THUMBNAIL = 2,
    DVASPECT_ICON = 4,
    DVASPECT_DOCPRINT = 8,
};

enum DATADIR : DWORD {
    DATADIR_GET = 1,
    DATADIR_SET = 2,
};

enum ADVF : DWORD {
    ADVF_NODATA = 1,
    ADVF_PRIMEFIRST = 2,
    ADVF_ONLYONCE = 4,
    ADVF_DATAONSTOP = 64,
    ADVFCACHE_NOHANDLER = 8,
    ADVFCACHE_FORCEBUILTIN = 16,
    ADVFCACHE_ONSAVE = 32,
};

// A target device; tdSize counts the whole structure with its trailing data.
struct DVTARGETDEVICE {
    DWORD tdSize;
    WORD tdDriverNameOffset;
    WORD tdDeviceNameOffset;
    WORD tdPortNameOffset;
    WORD tdExtDevmodeOffset;
    BYTE tdData[1];
};

struct FORMATETC {
    CLIPFORMAT cfFormat;
    DVTARGETDEVICE* ptd;  // null for the content itself; a task-allocator block otherwise
    DWORD dwAspect;
    LONG lindex;  // -1 for all of the data
    DWORD tymed;
};
using LPFORMATETC = FORMATETC*;

class IStream;
class IStorage;
class IMoniker;
class IAdviseSink;

// A medium holding data. For TYMED_HGLOBAL the receiver frees hGlobal with ReleaseStgMedium
// unless pUnkForRelease is set, in which case releasing that object frees the data.
struct STGMEDIUM {
    DWORD tymed;
    union {
        HGLOBAL hGlobal;
        LPOLESTR lpszFileName;
        IStream* pstm;
        IStorage* pstg;
    };
    IUnknown* pUnkForRelease;
};
using LPSTGMEDIUM = STGMEDIUM*;

// Frees what the medium holds (or releases pUnkForRelease) and leaves it TYMED_NULL. Media
// other than TYMED_HGLOBAL are not owned here and only lose their pUnkForRelease.
void ReleaseStgMedium(STGMEDIUM* pmedium);

// ---- Interfaces ------------------------------------------------------------------------------

struct STATDATA {
    FORMATETC formatetc;
    DWORD advf;
    IAdviseSink* pAdvSink;
    DWORD dwConnection;
};

class IEnumFORMATETC : public IUnknown {
  public:
    static constexpr IID iid = IID_IEnumFORMATETC;
    virtual HRESULT Next(ULONG celt, FORMATETC* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFORMATETC** ppenum) = 0;

  protected:
    ~IEnumFORMATETC() = default;
};
using LPENUMFORMATETC = IEnumFORMATETC*;

class IEnumSTATDATA : public IUnknown {
  public:
    static constexpr IID iid = IID_IEnumSTATDATA;
    virtual HRESULT Next(ULONG celt, STATDATA* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumSTATDATA** ppenum) = 0;

  protected:
    ~IEnumSTATDATA() = default;
};
using LPENUMSTATDATA = IEnumSTATDATA*;

// The receiving end of a data advise connection. The medium given to OnDataChange stays the
// caller's: the sink reads it during the call and does not free it.
class IAdviseSink : public IUnknown {
  public:
    static constexpr IID iid = IID_IAdviseSink;
    virtual void OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) = 0;
    virtual void OnViewChange(DWORD dwAspect, LONG lindex) = 0;
    virtual void OnRename(IMoniker* pmk) = 0;
    virtual void OnSave() = 0;
    virtual void OnClose() = 0;

  protected:
    ~IAdviseSink() = default;
};
using LPADVISESINK = IAdviseSink*;

class IDataObject : public IUnknown {
  public:
    static constexpr IID iid = IID_IDataObject;
    // The data in a new medium the caller releases with ReleaseStgMedium.
    virtual HRESULT GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) = 0;
    virtual HRESULT GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) = 0;
    virtual HRESULT QueryGetData(FORMATETC* pformatetc) = 0;
    virtual HRESULT GetCanonicalFormatEtc(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) = 0;
    // With fRelease TRUE the object takes the medium over.
    virtual HRESULT SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) = 0;
    virtual HRESULT EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) = 0;
    virtual HRESULT DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                            DWORD* pdwConnection) = 0;
    virtual HRESULT DUnadvise(DWORD dwConnection) = 0;
    virtual HRESULT EnumDAdvise(IEnumSTATDATA** ppenumAdvise) = 0;

  protected:
    ~IDataObject() = default;
};
using LPDATAOBJECT = IDataObject*;

// ---- Enumerators and an advise holder for data objects ---------------------------------------

// A FORMATETC as an enumerator keeps it: the target device copied into owned bytes.
struct StoredFormatEtc {
    FORMATETC format{};
    std::vector<BYTE> targetDevice;  // empty when format.ptd is null

    StoredFormatEtc() = default;
    explicit StoredFormatEtc(const FORMATETC& f);  // copies *f.ptd (tdSize bytes)
};
struct EnumCopyFormatEtc {
    // The FORMATETC handed out carries its own task-allocator copy of the target device.
    static HRESULT Copy(FORMATETC* to, const StoredFormatEtc& from);
    static void Destroy(FORMATETC* to);
};
struct StoredStatData {
    StoredFormatEtc format;
    DWORD advf = 0;
    ComPtr<IAdviseSink> sink;
    DWORD connection = 0;
};
struct EnumCopyStatData {
    static HRESULT Copy(STATDATA* to, const StoredStatData& from);
    static void Destroy(STATDATA* to);
};
using CEnumFORMATETC = CEnumOnVector<IEnumFORMATETC, FORMATETC, StoredFormatEtc, EnumCopyFormatEtc>;
using CEnumSTATDATA = CEnumOnVector<IEnumSTATDATA, STATDATA, StoredStatData, EnumCopyStatData>;

HRESULT CreateEnumFORMATETC(const std::vector<FORMATETC>& formats, IEnumFORMATETC** ppenum);

// The advise connections of a data object: DAdvise, DUnadvise and EnumDAdvise delegate here.
// Connection numbers start at 1 and are never 0. Thread-safe; sinks are released outside the
// lock.
class CDataAdviseHolder {
  public:
    CDataAdviseHolder() = default;
    CDataAdviseHolder(const CDataAdviseHolder&) = delete;
    CDataAdviseHolder& operator=(const CDataAdviseHolder&) = delete;

    // E_INVALIDARG for a null format, E_POINTER for a null sink or connection pointer.
    HRESULT Advise(const FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                   DWORD* pdwConnection);
    // OLE_E_NOCONNECTION for a number that names no connection.
    HRESULT Unadvise(DWORD dwConnection);
    HRESULT EnumAdvise(IEnumSTATDATA** ppenumAdvise) const;
    // The connections now, in connection order, for the owner to call OnDataChange on.
    std::vector<StoredStatData> Connections() const;
    void UnadviseAll();

  private:
    mutable std::mutex mutex_;
    std::map<DWORD, StoredStatData> connections_;
    DWORD next_ = 1;
};
