// The media libraries are linked at build time; the loader checks that the linked libraries are
// present and of a usable version, installs the log bridge and readies the wide-name layer. It also
// owns CodecLock, held around every codec open and close and around stream probing.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>

namespace tarnel {

enum TLibraryNo { lnAVCodec, lnAVDevice, lnAVFilter, lnAVFormat, lnAVUtil, lnSwScale, lnSwResample, lnSDL };
constexpr int kLibraryCount = 8;

// A set of TLibraryNo values, one bit each.
using TLibrarySet = uint32_t;
constexpr TLibrarySet LibrarySet(std::initializer_list<TLibraryNo> libraries) {
    TLibrarySet set = 0;
    for (TLibraryNo n : libraries)
        set |= 1u << n;
    return set;
}

// What the conversion component and the probe need; the player adds SDL.
constexpr TLibrarySet kConverterLibraries =
    LibrarySet({lnAVCodec, lnAVFilter, lnAVFormat, lnAVUtil, lnSwScale, lnSwResample});
constexpr TLibrarySet kPlayerLibraries = kConverterLibraries | LibrarySet({lnSDL});

class TFFmpegLoader {
public:
    static TFFmpegLoader& Instance();

    void SetLibraryPath(const std::string& directory);
    const std::string& LibraryPath() const;

    // Loads every library of the set in ascending number; at the first failure the whole set is
    // unloaded and the result is false, with the reason in LastLoadError.
    bool LoadSet(TLibrarySet set);
    bool AllLoaded(TLibrarySet set) const;
    bool IsLoaded(TLibraryNo library) const;
    void UnloadSet(TLibrarySet set);
    void UnloadOne(TLibraryNo library);
    std::string LastLoadError() const;

    // The module file name of a library ("libavcodec.so.59").
    static std::string LibraryFileName(TLibraryNo library);

private:
    TFFmpegLoader() = default;
    // Both expect mutex_ held.
    bool LoadOne(TLibraryNo library);
    void UnloadOneLocked(TLibraryNo library);

    struct Status {
        bool present = false;   // the library is part of the process
        void* module = nullptr; // the dlopen handle of a library that is not linked
        bool entryPointsLoaded = false;
    };
    mutable std::mutex mutex_;
    std::string libraryPath_;      // guarded by mutex_
    std::string lastLoadError_;    // guarded by mutex_
    Status status_[kLibraryCount]; // guarded by mutex_
};

inline TFFmpegLoader& Loader() {
    return TFFmpegLoader::Instance();
}

// The process-wide codec lock.
std::mutex& CodecLock();

} // namespace tarnel
