#include <dxgi.h>
#include <windows.h>

#include "gpu_counters.h"
#include "wide_text.h"

namespace {

// The kernel-mode thunks' records for an adapter's segment sizes, as gdi32.dll takes them.
typedef UINT KmtHandle;
struct KmtOpenAdapterFromLuid {
    LUID luid;
    KmtHandle adapter;
};
struct KmtQueryAdapterInfo {
    KmtHandle adapter;
    UINT type;
    void* data;
    UINT size;
};
struct KmtSegmentSizeInfo {
    ULONGLONG dedicatedVideoMemory;
    ULONGLONG dedicatedSystemMemory;
    ULONGLONG sharedSystemMemory;
};
struct KmtCloseAdapter {
    KmtHandle adapter;
};
constexpr UINT kKmtQueryGetSegmentSize = 3;
typedef LONG(APIENTRY* KmtOpenFunction)(KmtOpenAdapterFromLuid*);
typedef LONG(APIENTRY* KmtQueryFunction)(const KmtQueryAdapterInfo*);
typedef LONG(APIENTRY* KmtCloseFunction)(const KmtCloseAdapter*);

template <typename Function>
Function Entry(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

}  // namespace

bool plat_gpu_adapters(std::vector<PlatGpuAdapter>& out) {
    out.clear();
    HMODULE dxgi = LoadLibraryW(L"dxgi.dll");
    if (dxgi == nullptr) return false;
    typedef HRESULT(WINAPI * CreateFactory)(REFIID, void**);
    const CreateFactory create = Entry<CreateFactory>(dxgi, "CreateDXGIFactory1");
    IDXGIFactory1* factory = nullptr;
    if (create == nullptr ||
        FAILED(create(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&factory))) ||
        factory == nullptr)
        return false;
    IDXGIAdapter1* adapter = nullptr;
    for (UINT i = 0; factory->EnumAdapters1(i, &adapter) != DXGI_ERROR_NOT_FOUND; ++i) {
        if (adapter == nullptr) break;
        DXGI_ADAPTER_DESC1 desc;
        if (SUCCEEDED(adapter->GetDesc1(&desc)) && (desc.Flags & DXGI_ADAPTER_FLAG_SOFTWARE) == 0) {
            desc.Description[sizeof desc.Description / sizeof desc.Description[0] - 1] = L'\0';
            out.push_back(PlatGpuAdapter{static_cast<uint32_t>(desc.AdapterLuid.HighPart),
                                         desc.AdapterLuid.LowPart,
                                         utf8_from_wide(desc.Description)});
        }
        adapter->Release();
        adapter = nullptr;
    }
    factory->Release();
    return true;
}

bool plat_gpu_segment_sizes(uint32_t luidHigh, uint32_t luidLow, uint64_t* dedicated,
                            uint64_t* shared) {
    HMODULE gdi = GetModuleHandleW(L"gdi32.dll");
    if (gdi == nullptr) gdi = LoadLibraryW(L"gdi32.dll");
    if (gdi == nullptr) return false;
    const KmtOpenFunction open = Entry<KmtOpenFunction>(gdi, "D3DKMTOpenAdapterFromLuid");
    const KmtQueryFunction query = Entry<KmtQueryFunction>(gdi, "D3DKMTQueryAdapterInfo");
    const KmtCloseFunction close = Entry<KmtCloseFunction>(gdi, "D3DKMTCloseAdapter");
    if (open == nullptr || query == nullptr || close == nullptr) return false;
    KmtOpenAdapterFromLuid opened{};
    opened.luid.HighPart = static_cast<LONG>(luidHigh);
    opened.luid.LowPart = luidLow;
    if (open(&opened) != 0) return false;
    KmtSegmentSizeInfo sizes{};
    const KmtQueryAdapterInfo asked{opened.adapter, kKmtQueryGetSegmentSize, &sizes, sizeof sizes};
    const bool answered = query(&asked) == 0;
    const KmtCloseAdapter closing{opened.adapter};
    close(&closing);
    if (!answered) return false;
    *dedicated = sizes.dedicatedVideoMemory;
    *shared = sizes.sharedSystemMemory;
    return true;
}
