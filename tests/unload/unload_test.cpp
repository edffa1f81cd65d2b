// A host frees the library while a session previews: the library stays loaded
// (the streaming thread keeps calling into it safely), and once the session is
// closed through the still-loaded library, freeing that last reference unloads
// it. The host (unload_host.cpp) sits in a shared library of its own so that
// freeing it drops its reference on libkovic.so; this program never links the
// library and reaches it only with dlopen and dlsym.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace {

typedef intptr_t (*StartFunction)();
typedef int (*SessionFunction)(intptr_t);

void *LoadedLibrary() { return dlopen(KOVIC_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD); }

template <class F>
F Find(void *library, const char *name) {
    return reinterpret_cast<F>(dlsym(library, name));
}

TEST(Unload, FreeingTheLibraryWhilePreviewingKeepsItUntilTheSessionCloses) {
    ASSERT_EQ(LoadedLibrary(), nullptr) << "the library is loaded before the host is";
    void *host = dlopen(KOVIC_UNLOAD_HOST_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(host, nullptr) << dlerror();
    const intptr_t session = Find<StartFunction>(host, "UnloadHostStartPreview")();
    ASSERT_NE(session, 0);
    ASSERT_EQ(dlclose(host), 0);

    // The host's reference is gone; frames go on arriving at 200 a second,
    // and the sink is armed again and again through the library.
    void *library = LoadedLibrary();
    ASSERT_NE(library, nullptr) << "the library was unloaded under a previewing session";
    auto arm = Find<SessionFunction>(library, "KOVICGetFrameCall");
    auto previewing = Find<SessionFunction>(library, "KOVICIsPreviewing");
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(arm(session), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(previewing(session), 1);

    // Closing destroys the sink, and with it the library's hold on itself.
    EXPECT_EQ(Find<SessionFunction>(library, "KOVICStopPreview")(session), 1);
    EXPECT_EQ(Find<SessionFunction>(library, "KOVICClose")(session), 1);
    ASSERT_EQ(dlclose(library), 0);  // the reference LoadedLibrary took
    EXPECT_EQ(LoadedLibrary(), nullptr) << "the library stayed loaded after its last session closed";
}

}  // namespace
