#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "com/clipboard_format.h"
#include "com/com_object.h"
#include "com/data_object.h"

namespace {

TEST(GlobalMemory, MoveableBlocksLockCountAndFree) {
    const std::size_t live = GlobalLiveBlocks();
    HGLOBAL h = GlobalAlloc(GHND, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 16u);
    EXPECT_EQ(GlobalLiveBlocks(), live + 1);

    auto* p = static_cast<unsigned char*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    EXPECT_NE(static_cast<void*>(p), h);  // a moveable block is reached through its lock
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(p[i], 0) << "GMEM_ZEROINIT";
    }
    p[15] = 0xAB;
    EXPECT_EQ(GlobalLock(h), p);
    EXPECT_EQ(GlobalUnlock(h), TRUE);  // one lock left
    EXPECT_EQ(GlobalUnlock(h), FALSE);
    EXPECT_EQ(GlobalUnlock(h), FALSE);  // not locked any more

    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalLiveBlocks(), live);
    // The freed handle is refused everywhere instead of being used.
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_EQ(GlobalSize(h), 0u);
    EXPECT_EQ(GlobalFree(h), h);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
    int notAHandle = 0;
    EXPECT_EQ(GlobalLock(&notAHandle), nullptr);
    EXPECT_EQ(GlobalLock(nullptr), nullptr);
}

TEST(GlobalMemory, FixedBlocksAndRefusedRequests) {
    HGLOBAL h = GlobalAlloc(GPTR, 4);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalLock(h), h);  // a fixed block's handle is its address
    EXPECT_EQ(GlobalUnlock(h), FALSE);
    EXPECT_EQ(GlobalFree(h), nullptr);

    const std::size_t live = GlobalLiveBlocks();
    EXPECT_EQ(GlobalAlloc(0x8000, 4), nullptr);  // unknown flag
    EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, std::numeric_limits<SIZE_T>::max()), nullptr);
    EXPECT_EQ(GlobalLiveBlocks(), live);

    HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_NE(GlobalLock(empty), nullptr);
    EXPECT_EQ(GlobalSize(empty), 0u);
    GlobalUnlock(empty);
    GlobalFree(empty);
}

TEST(GlobalMemory, ReAllocKeepsDataAndRefusesLockedBlocks) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 4);
    std::memcpy(GlobalLock(h), "wxyz", 4);
    EXPECT_EQ(GlobalReAlloc(h, 64, GMEM_ZEROINIT), nullptr);  // locked: the pointer must hold
    EXPECT_EQ(GlobalSize(h), 4u);
    GlobalUnlock(h);

    ASSERT_EQ(GlobalReAlloc(h, 8, GMEM_ZEROINIT), h);  // a moveable handle stays
    EXPECT_EQ(GlobalSize(h), 8u);
    auto* p = static_cast<char*>(GlobalLock(h));
    EXPECT_EQ(std::memcmp(p, "wxyz\0\0\0\0", 8), 0);
    GlobalUnlock(h);
    EXPECT_EQ(GlobalReAlloc(h, std::numeric_limits<SIZE_T>::max(), 0), nullptr);
    EXPECT_EQ(GlobalSize(h), 8u);
    GlobalFree(h);

    HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 2);
    std::memcpy(fixed, "ab", 2);
    HGLOBAL grown = GlobalReAlloc(fixed, 1000, 0);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(std::memcmp(grown, "ab", 2), 0);
    EXPECT_EQ(GlobalLock(grown), grown);
    EXPECT_EQ(GlobalFree(grown), nullptr);
}

class CReleaser final : public ComObject<IAdviseSink> {
  public:
    explicit CReleaser(int* destroyed) : destroyed_(destroyed) {}
    ~CReleaser() override { ++*destroyed_; }
    void OnDataChange(FORMATETC*, STGMEDIUM*) override {}
    void OnViewChange(DWORD, LONG) override {}
    void OnRename(IMoniker*) override {}
    void OnSave() override {}
    void OnClose() override {}

  private:
    int* destroyed_;
};

TEST(StgMedium, ReleaseFreesTheBlockOrReleasesItsOwner) {
    const std::size_t live = GlobalLiveBlocks();
    STGMEDIUM m{};
    m.tymed = TYMED_HGLOBAL;
    m.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 32);
    m.pUnkForRelease = nullptr;
    ReleaseStgMedium(&m);
    EXPECT_EQ(GlobalLiveBlocks(), live);
    EXPECT_EQ(m.tymed, static_cast<DWORD>(TYMED_NULL));
    EXPECT_EQ(m.hGlobal, nullptr);
    ReleaseStgMedium(&m);  // releasing an emptied medium again does nothing
    ReleaseStgMedium(nullptr);

    // With an owner, the owner frees the data: the medium only lets go of it.
    int destroyed = 0;
    HGLOBAL owned = GlobalAlloc(GMEM_MOVEABLE, 8);
    m.tymed = TYMED_HGLOBAL;
    m.hGlobal = owned;
    m.pUnkForRelease = MakeComObject<CReleaser>(&destroyed).Detach();
    ReleaseStgMedium(&m);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(GlobalSize(owned), 8u);
    EXPECT_EQ(m.pUnkForRelease, nullptr);
    GlobalFree(owned);
}

TEST(EnumFORMATETC, CopiesTargetDevicesForTheCaller) {
    std::vector<BYTE> tdBytes(20, 0x5A);
    auto* td = reinterpret_cast<DVTARGETDEVICE*>(tdBytes.data());
    td->tdSize = 20;
    const FORMATETC plain{0xC001, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    const FORMATETC withDevice{0xC002, td, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};

    const std::size_t blocks = CoTaskMemLiveBlocks();
    ComPtr<IEnumFORMATETC> e;
    ASSERT_EQ(CreateEnumFORMATETC({plain, withDevice}, e.Put()), S_OK);
    tdBytes.assign(tdBytes.size(), 0);  // the enumerator holds its own copy

    FORMATETC got[3]{};
    ULONG fetched = 0;
    ASSERT_EQ(e->Next(3, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(got[0].cfFormat, 0xC001);
    EXPECT_EQ(got[0].ptd, nullptr);
    EXPECT_EQ(got[1].cfFormat, 0xC002);
    EXPECT_EQ(got[1].lindex, -1);
    EXPECT_EQ(got[1].tymed, static_cast<DWORD>(TYMED_HGLOBAL));
    ASSERT_NE(got[1].ptd, nullptr);
    EXPECT_EQ(got[1].ptd->tdSize, 20u);
    EXPECT_EQ(reinterpret_cast<const BYTE*>(got[1].ptd)[19], 0x5A);
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocks + 1);
    CoTaskMemFree(got[1].ptd);
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocks);
}

TEST(DataAdviseHolder, ConnectionsByNumber) {
    int destroyed = 0;
    CDataAdviseHolder holder;
    ComPtr<IAdviseSink> sink = MakeComObject<CReleaser>(&destroyed);
    const FORMATETC fe{0xC003, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};

    DWORD first = 0, second = 0;
    ASSERT_EQ(holder.Advise(&fe, ADVF_PRIMEFIRST, sink.Get(), &first), S_OK);
    ASSERT_EQ(holder.Advise(&fe, 0, sink.Get(), &second), S_OK);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(holder.Advise(nullptr, 0, sink.Get(), &second), E_INVALIDARG);
    EXPECT_EQ(holder.Advise(&fe, 0, nullptr, &second), E_POINTER);

    ComPtr<IEnumSTATDATA> e;
    ASSERT_EQ(holder.EnumAdvise(e.Put()), S_OK);
    STATDATA sd[2]{};
    ULONG fetched = 0;
    ASSERT_EQ(e->Next(2, sd, &fetched), S_OK);
    EXPECT_EQ(sd[0].dwConnection, first);
    EXPECT_EQ(sd[0].advf, static_cast<DWORD>(ADVF_PRIMEFIRST));
    EXPECT_EQ(sd[1].formatetc.cfFormat, 0xC003);
    EXPECT_EQ(sd[0].pAdvSink, sink.Get());
    for (STATDATA& s : sd) {
        s.pAdvSink->Release();
    }
    e.Reset();

    ASSERT_EQ(holder.Unadvise(first), S_OK);
    EXPECT_EQ(holder.Unadvise(first), OLE_E_NOCONNECTION);
    EXPECT_EQ(holder.Connections().size(), 1u);
    holder.UnadviseAll();
    EXPECT_TRUE(holder.Connections().empty());
    sink.Reset();
    EXPECT_EQ(destroyed, 1);  // no reference left behind anywhere
}

TEST(ClipboardFormat, OneNumberPerNameWhateverItsCase) {
    const UINT data = RegisterClipboardFormatA("OPCSTMFORMATDATA");
    const UINT timed = RegisterClipboardFormatA("OPCSTMFORMATDATATIME");
    const UINT write = RegisterClipboardFormatA("OPCSTMFORMATWRITECOMPLETE");
    for (UINT f : {data, timed, write}) {
        EXPECT_GE(f, 0xC000u);
        EXPECT_LE(f, 0xFFFFu);
    }
    EXPECT_NE(data, timed);
    EXPECT_NE(timed, write);
    EXPECT_NE(data, write);
    EXPECT_EQ(RegisterClipboardFormatA("OPCSTMFORMATDATA"), data);
    EXPECT_EQ(RegisterClipboardFormatA("opcstmformatdatatime"), timed);
    EXPECT_EQ(RegisterClipboardFormatA("OpcStmFormatWriteComplete"), write);

    // The name reads back as first registered.
    const UINT mixed = RegisterClipboardFormatA("Tagvista Test Format");
    EXPECT_EQ(RegisterClipboardFormatA("TAGVISTA TEST FORMAT"), mixed);
    char name[64];
    ASSERT_EQ(GetClipboardFormatNameA(mixed, name, sizeof name), 20);
    EXPECT_STREQ(name, "Tagvista Test Format");
    ASSERT_EQ(GetClipboardFormatNameA(mixed, name, 5), 4);  // cut to the buffer
    EXPECT_STREQ(name, "Tagv");
    EXPECT_EQ(GetClipboardFormatNameA(1, name, sizeof name), 0);  // not a registered number
    EXPECT_EQ(GetClipboardFormatNameA(0xFFFF, name, sizeof name), 0);
    EXPECT_EQ(GetClipboardFormatNameA(mixed, nullptr, 10), 0);
    EXPECT_EQ(GetClipboardFormatNameA(mixed, name, 0), 0);

    // Bytes beyond ASCII are compared as they are.
    EXPECT_NE(RegisterClipboardFormatA("\xc3\xa9t\xc3\xa9"),
              RegisterClipboardFormatA("\xc3\x89T\xc3\x89"));
}

TEST(ClipboardFormat, RefusesUnusableNames) {
    EXPECT_EQ(RegisterClipboardFormatA(nullptr), 0u);
    EXPECT_EQ(RegisterClipboardFormatA(""), 0u);
    const std::string longest(255, 'n');
    EXPECT_NE(RegisterClipboardFormatA(longest.c_str()), 0u);
    const std::string tooLong(256, 'n');
    EXPECT_EQ(RegisterClipboardFormatA(tooLong.c_str()), 0u);
}

TEST(ClipboardFormat, ThreadsRegisteringTheSameNamesAgree) {
    constexpr int kThreads = 4;
    constexpr int kNames = 200;
    std::vector<std::vector<UINT>> numbers(kThreads, std::vector<UINT>(kNames));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&numbers, t] {
            for (int i = 0; i < kNames; ++i) {
                const int n = (t % 2 == 0) ? i : kNames - 1 - i;  // different orders
                std::string name = "concurrent-" + std::to_string(n);
                if (t >= 2) {
                    for (char& c : name) {
                        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                    }
                }
                numbers[t][n] = RegisterClipboardFormatA(name.c_str());
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (int t = 1; t < kThreads; ++t) {
        EXPECT_EQ(numbers[t], numbers[0]);
    }
}

}  // namespace
