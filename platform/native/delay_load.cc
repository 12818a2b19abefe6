// The maker's three DLLs are loaded when the program first calls one of
// them, not when it starts (delay-loaded, still by ordinal): the usage text
// needs none of them, so that VeskCfg.exe /? works wherever it is, the
// unpacked .zip's folder included, where our stand-ins sit in a folder of
// their own. A command that needs one that is not found says so on standard
// error and ends with 126 (vesknet.exe: 2), where Windows' loader would have
// refused to start.
#include <windows.h>
#include <delayimp.h>

#include <cstdio>

namespace {

#ifdef VESKCFG_VESKNET
// vesknet.exe needs the DLLs for the console's records alone: its usage and
// the commands of the simulated network load none.
constexpr char kMissing[] =
    "vesknet: %s cannot be loaded (error %lu). vesknet.exe reads the console's role records through the maker's "
    "DLLs: run it from the Vesklane product's folder, beside VeskCfg.exe, or, where the product is absent, put "
    "the stand-ins of the standins folder beside it.\n";
constexpr UINT kStatus = 2;
#else
constexpr char kMissing[] =
    "VeskCfg: %s cannot be loaded (error %lu). VeskCfg.exe belongs in the Vesklane product's folder, "
    "beside the maker's DLLs; to try it where the product is absent, put the stand-ins of the "
    "standins folder beside it.\n";
constexpr UINT kStatus = ERROR_MOD_NOT_FOUND;
#endif

FARPROC WINAPI onDelayLoadFailure(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliFailLoadLib && notification != dliFailGetProc) return nullptr;
    std::fflush(stdout);
    std::fprintf(stderr, kMissing, info && info->szDll ? info->szDll : "a DLL of the product",
                 info ? info->dwLastError : 0ul);
    ExitProcess(kStatus);
}

}  // namespace

// Declared with C linkage by delayimp.h; the helper calls it on a failure.
PfnDliHook __pfnDliFailureHook2 = onDelayLoadFailure;
