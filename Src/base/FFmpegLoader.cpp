#include "base/FFmpegLoader.h"

#include "base/FFmpegLogger.h"
#include "base/UnicodeProtocol.h"

#include <SDL_version.h>
#include <dlfcn.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#if __has_include(<libavdevice/version_major.h>)
extern "C" {
#include <libavdevice/version_major.h>
}
constexpr int kAVDeviceMajor = LIBAVDEVICE_VERSION_MAJOR;
#else
// The device library is not installed for building; its major number moves with the format library's.
constexpr int kAVDeviceMajor = LIBAVFORMAT_VERSION_MAJOR;
#endif

namespace tarnel {

namespace {

// How a library reports its run-time version.
enum class VersionKind { PackedUnsigned, SDLVersion };

struct LibraryItem {
    const char* baseName;
    const char* fileName; // null: made from the base name and the major version
    const char* versionFunction;
    VersionKind versionKind;
    int requiredMajor;
    // The version function as linked into this program; null for a library that is not linked.
    const void* linkedSymbol;
};

const LibraryItem kLibraries[kLibraryCount] = {
    {"avcodec", nullptr, "avcodec_version", VersionKind::PackedUnsigned, LIBAVCODEC_VERSION_MAJOR,
     reinterpret_cast<const void*>(&avcodec_version)},
    {"avdevice", nullptr, "avdevice_version", VersionKind::PackedUnsigned, kAVDeviceMajor, nullptr},
    {"avfilter", nullptr, "avfilter_version", VersionKind::PackedUnsigned, LIBAVFILTER_VERSION_MAJOR,
     reinterpret_cast<const void*>(&avfilter_version)},
    {"avformat", nullptr, "avformat_version", VersionKind::PackedUnsigned, LIBAVFORMAT_VERSION_MAJOR,
     reinterpret_cast<const void*>(&avformat_version)},
    {"avutil", nullptr, "avutil_version", VersionKind::PackedUnsigned, LIBAVUTIL_VERSION_MAJOR,
     reinterpret_cast<const void*>(&avutil_version)},
    {"swscale", nullptr, "swscale_version", VersionKind::PackedUnsigned, LIBSWSCALE_VERSION_MAJOR,
     reinterpret_cast<const void*>(&swscale_version)},
    {"swresample", nullptr, "swresample_version", VersionKind::PackedUnsigned, LIBSWRESAMPLE_VERSION_MAJOR,
     reinterpret_cast<const void*>(&swresample_version)},
    {"SDL2", "libSDL2-2.0.so.0", "SDL_GetVersion", VersionKind::SDLVersion, SDL_MAJOR_VERSION,
     reinterpret_cast<const void*>(&SDL_GetVersion)},
};

// "lib" + base name + ".so." + major, unless the library's file name does not follow that pattern.
std::string FileNameOf(const LibraryItem& item) {
    if (item.fileName)
        return item.fileName;
    return "lib" + std::string(item.baseName) + ".so." + std::to_string(item.requiredMajor);
}

struct Version {
    int major = 0;
    int minor = 0;
    int micro = 0;
};

std::string DlErrorText(const char* fallback) {
    const char* text = dlerror();
    return text ? text : fallback;
}

// A handle on the already loaded module of a library that is not linked, found by file name. Never
// loads anything new.
void* OpenLoadedModule(const LibraryItem& item, std::string& error) {
    dlerror();
    void* module = dlopen(FileNameOf(item).c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!module)
        error = DlErrorText("not linked into this program");
    return module;
}

// A linked library's version function is called directly: looking it up through the dynamic loader
// walks every loaded module and its dependencies, milliseconds at every start of a process.
bool ReadVersion(void* module, const LibraryItem& item, Version& version, std::string& error) {
    dlerror();
    void* symbol =
        item.linkedSymbol ? const_cast<void*>(item.linkedSymbol) : dlsym(module, item.versionFunction);
    if (!symbol) {
        error = DlErrorText("symbol not found");
        return false;
    }
    if (item.versionKind == VersionKind::SDLVersion) {
        SDL_version sdl{};
        reinterpret_cast<void (*)(SDL_version*)>(symbol)(&sdl);
        version = {sdl.major, sdl.minor, sdl.patch};
    } else {
        const unsigned packed = reinterpret_cast<unsigned (*)()>(symbol)();
        version = {static_cast<int>(AV_VERSION_MAJOR(packed)), static_cast<int>(AV_VERSION_MINOR(packed)),
                   static_cast<int>(AV_VERSION_MICRO(packed))};
    }
    return true;
}

// Checks that the module is the library this program was built for: its major version must match.
bool CheckEntryPoints(void* module, const LibraryItem& item, std::string& error) {
    Version version;
    std::string reason;
    if (!ReadVersion(module, item, version, reason)) {
        error = "Load function " + std::string(item.versionFunction) + "@" + FileNameOf(item) +
                " error: " + reason;
        return false;
    }
    if (version.major == item.requiredMajor)
        return true;
    error = "Load function " + std::string(item.versionFunction) + "@" + FileNameOf(item) +
            " error: version " + std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
            std::to_string(version.micro) + ", need major " + std::to_string(item.requiredMajor);
    return false;
}

std::string WithTrailingSeparator(const std::string& directory) {
    if (directory.empty() || directory.back() == '/')
        return directory;
    return directory + "/";
}

bool InSet(TLibrarySet set, int library) {
    return (set >> library) & 1u;
}

} // namespace

TFFmpegLoader& TFFmpegLoader::Instance() {
    static TFFmpegLoader loader;
    return loader;
}

void TFFmpegLoader::SetLibraryPath(const std::string& directory) {
    std::lock_guard lock(mutex_);
    libraryPath_ = directory;
}

const std::string& TFFmpegLoader::LibraryPath() const {
    std::lock_guard lock(mutex_);
    return libraryPath_;
}

bool TFFmpegLoader::LoadSet(TLibrarySet set) {
    bool utilReady = false;
    bool formatReady = false;
    bool loaded = true;
    {
        std::lock_guard lock(mutex_);
        if ((set & ((1u << kLibraryCount) - 1)) == 0)
            return false;
        for (int n = 0; n < kLibraryCount; ++n) {
            if (!InSet(set, n))
                continue;
            const auto library = static_cast<TLibraryNo>(n);
            if (!LoadOne(library)) {
                for (int m = 0; m < kLibraryCount; ++m)
                    if (InSet(set, m))
                        UnloadOneLocked(static_cast<TLibraryNo>(m));
                loaded = false;
                break;
            }
            utilReady = utilReady || library == lnAVUtil;
            formatReady = formatReady || library == lnAVFormat;
        }
    }
    // Outside the lock: both may log or look at the loader themselves. Both are harmless when repeated.
    if (utilReady)
        Logger().InstallLogBridge();
    if (formatReady)
        RegisterWideProtocol();
    return loaded;
}

bool TFFmpegLoader::LoadOne(TLibraryNo library) {
    const LibraryItem& item = kLibraries[library];
    Status& status = status_[library];
    if (!status.present && !item.linkedSymbol) {
        std::string reason;
        status.module = OpenLoadedModule(item, reason);
        if (!status.module) {
            lastLoadError_ = "Load library " + WithTrailingSeparator(libraryPath_) + FileNameOf(item) +
                             " error: " + reason;
            return false;
        }
    }
    status.present = true;
    if (!status.entryPointsLoaded)
        status.entryPointsLoaded = CheckEntryPoints(status.module, item, lastLoadError_);
    if (!status.entryPointsLoaded)
        UnloadOneLocked(library);
    return status.entryPointsLoaded;
}

bool TFFmpegLoader::AllLoaded(TLibrarySet set) const {
    std::lock_guard lock(mutex_);
    for (int n = 0; n < kLibraryCount; ++n)
        if (InSet(set, n) && !(status_[n].present && status_[n].entryPointsLoaded))
            return false;
    return true;
}

bool TFFmpegLoader::IsLoaded(TLibraryNo library) const {
    return AllLoaded(LibrarySet({library}));
}

void TFFmpegLoader::UnloadSet(TLibrarySet set) {
    std::lock_guard lock(mutex_);
    for (int n = 0; n < kLibraryCount; ++n)
        if (InSet(set, n))
            UnloadOneLocked(static_cast<TLibraryNo>(n));
}

void TFFmpegLoader::UnloadOne(TLibraryNo library) {
    std::lock_guard lock(mutex_);
    UnloadOneLocked(library);
}

void TFFmpegLoader::UnloadOneLocked(TLibraryNo library) {
    Status& status = status_[library];
    status.entryPointsLoaded = false;
    status.present = false;
    if (status.module) {
        // Only drops the reference taken when loading: the linked library itself stays mapped.
        dlclose(status.module);
        status.module = nullptr;
    }
}

std::string TFFmpegLoader::LastLoadError() const {
    std::lock_guard lock(mutex_);
    return lastLoadError_;
}

std::string TFFmpegLoader::LibraryFileName(TLibraryNo library) {
    return FileNameOf(kLibraries[library]);
}

std::mutex& CodecLock() {
    static std::mutex lock;
    return lock;
}

} // namespace tarnel
