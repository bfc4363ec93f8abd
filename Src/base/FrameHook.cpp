#include "base/FrameHook.h"

#include "base/FFmpegLogger.h"
#include "base/FrameHookApi.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <mutex>
#include <new>
#include <string_view>
#include <unordered_map>

namespace tarnel {

struct FrameHookList::Entry {
    FrameHookConfigure* configure = nullptr;
    FrameHookProcess* process = nullptr;
    FrameHookRelease* release = nullptr;
    void* context = nullptr;
    // Handed to Configure and kept for the hook's lifetime, since a module may keep pointers into them.
    std::vector<std::string> arguments;
    std::vector<char*> argv;
};

namespace {

namespace fs = std::filesystem;

// Loaded modules by lower-cased path, for the whole process. Guarded by ModuleCacheMutex; the same
// mutex serialises the changes of the current directory made while adding a hook.
std::mutex& ModuleCacheMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unordered_map<std::string, void*>& ModuleCacheLocked() {
    static std::unordered_map<std::string, void*> cache;
    return cache;
}

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool PathListContains(std::string_view list, std::string_view directory) {
    auto withoutTrailingSlash = [](std::string_view entry) {
        while (entry.size() > 1 && entry.back() == '/')
            entry.remove_suffix(1);
        return entry;
    };
    directory = withoutTrailingSlash(directory);
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = std::min(list.find(':', start), list.size());
        if (withoutTrailingSlash(list.substr(start, end - start)) == directory)
            return true;
        start = end + 1;
    }
    return false;
}

void PrependToPath(const std::string& directory) {
    const char* current = std::getenv("PATH");
    if (current && PathListContains(current, directory))
        return;
    const std::string value = current && *current ? directory + ":" + current : directory;
    setenv("PATH", value.c_str(), 1);
}

// Makes a module's directory current (and puts it on PATH) while alive; restores the previous current
// directory, also when adding the hook failed.
class ModuleDirectoryScope {
public:
    explicit ModuleDirectoryScope(const fs::path& directory) {
        if (directory.empty())
            return;
        std::error_code error;
        previous_ = fs::current_path(error);
        if (error)
            return;
        PrependToPath(directory.string());
        fs::current_path(directory, error);
        changed_ = !error;
    }
    ~ModuleDirectoryScope() {
        std::error_code ignored;
        if (changed_)
            fs::current_path(previous_, ignored);
    }
    ModuleDirectoryScope(const ModuleDirectoryScope&) = delete;
    ModuleDirectoryScope& operator=(const ModuleDirectoryScope&) = delete;

private:
    fs::path previous_;
    bool changed_ = false;
};

// The module at `path` (absolute when it has a directory part), loading it on first use. Null with
// the loader's text in `error` when it cannot be loaded.
void* ModuleLocked(const std::string& path, std::string& error) {
    auto& cache = ModuleCacheLocked();
    const std::string key = Lowered(path);
    if (auto found = cache.find(key); found != cache.end())
        return found->second;
    dlerror();
    void* module = dlopen(path.c_str(), RTLD_NOW);
    if (!module) {
        const char* text = dlerror();
        error = text ? text : "cannot load " + path;
        return nullptr;
    }
    cache.emplace(key, module);
    return module;
}

template <typename Function>
Function* EntryPoint(void* module, const char* name) {
    return reinterpret_cast<Function*>(dlsym(module, name));
}

} // namespace

FrameHookList::FrameHookList() = default;

FrameHookList::~FrameHookList() {
    Release();
}

int FrameHookList::Add(const std::vector<std::string>& args) {
    if (args.empty())
        return -2;
    const std::string& path = args[0];
    std::string message;
    int result = 0;
    {
        std::lock_guard lock(ModuleCacheMutex());
        // Made absolute first, so that a relative path still names the same file once its directory
        // is current.
        const fs::path given(path);
        const bool hasDirectory = given.has_parent_path();
        std::error_code error;
        const fs::path absolutePath = hasDirectory ? fs::absolute(given, error) : given;
        ModuleDirectoryScope directoryScope(hasDirectory ? absolutePath.parent_path() : fs::path());

        result = AddLocked(args, hasDirectory && !error ? absolutePath.string() : path, message);
    }
    if (!message.empty())
        Logger().Log(nullptr, llError, message);
    return result;
}

int FrameHookList::AddLocked(const std::vector<std::string>& args, const std::string& modulePath,
                             std::string& message) {
    const std::string& path = args[0];
    void* module = ModuleLocked(modulePath, message);
    if (!module) {
        message += "\n";
        return -1;
    }

    std::unique_ptr<Entry> entry;
    try {
        entry = std::make_unique<Entry>();
        entry->arguments = args;
        for (std::string& argument : entry->arguments)
            entry->argv.push_back(argument.data());
        entry->argv.push_back(nullptr);
        entries_.reserve(entries_.size() + 1);
    } catch (const std::bad_alloc&) {
        return -12;
    }
    entry->configure = EntryPoint<FrameHookConfigure>(module, "Configure");
    entry->process = EntryPoint<FrameHookProcess>(module, "Process");
    entry->release = EntryPoint<FrameHookRelease>(module, "Release");

    if (!entry->process) {
        message = "Failed to find Process entrypoint in " + path + "\n";
        return -2;
    }
    if (!entry->configure && args.size() > 1) {
        message = "Failed to find Configure entrypoint in " + path + "\n";
        return -2;
    }
    if (entry->configure &&
        entry->configure(&entry->context, static_cast<int>(args.size()), entry->argv.data()) != 0) {
        message = "Failed to Configure " + path + "\n";
        return -22;
    }
    entries_.push_back(std::move(entry));
    return 0;
}

void FrameHookList::Process(TarnelPicture* picture, int pixFmt, int width, int height, int64_t pts) {
    for (const auto& entry : entries_)
        entry->process(entry->context, picture, pixFmt, width, height, pts);
}

void FrameHookList::Release() {
    for (const auto& entry : entries_)
        if (entry->release)
            entry->release(entry->context);
    entries_.clear();
}

bool FrameHookList::Empty() const {
    return entries_.empty();
}

} // namespace tarnel
