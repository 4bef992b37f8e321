// Library entry on Windows: the host loads the library as an extension module
// of its class framework. The framework is not part of this build, so the
// registration is done through small stand-ins with the same shape: a module
// record initialised on attach, a link object bound to it (never freed, as the
// framework owns it once linked), and the record terminated on detach.
#if defined(_WIN32)

#include <new>

#include <windows.h>

namespace {

struct ExtensionModule {
    bool initialized;
    HINSTANCE instance;
    void* savedClassListHead;     // the two module-state list heads the framework's
    void* savedFactoryListHead;   // hook saves into their initialisation slots
};

struct DynLinkLibrary {
    ExtensionModule* module;
    bool system;
};

ExtensionModule amporaModule = {false, nullptr, nullptr, nullptr};

bool InitExtensionModule(ExtensionModule& module, HINSTANCE instance) {
    module.savedClassListHead = nullptr;
    module.savedFactoryListHead = nullptr;
    module.instance = instance;
    module.initialized = true;
    return true;
}

void TermExtensionModule(ExtensionModule& module, bool all) {
    (void)all;
    module.initialized = false;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        if (!InitExtensionModule(amporaModule, instance)) return 0;
        // The link object stays for the life of the process; a failed
        // allocation does not fail the attach.
        new (std::nothrow) DynLinkLibrary{&amporaModule, false};
    } else if (reason == DLL_PROCESS_DETACH) {
        TermExtensionModule(amporaModule, false);
    }
    return 1;
}

#endif
