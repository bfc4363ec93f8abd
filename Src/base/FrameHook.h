// The frame hooks of one engine session: external modules (shared objects exporting Configure,
// Process and Release) that change every picture in place. Modules are loaded once per process and
// stay loaded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TarnelPicture; // FrameHookApi.h

namespace tarnel {

class FrameHookList {
public:
    FrameHookList();
    ~FrameHookList();
    FrameHookList(const FrameHookList&) = delete;
    FrameHookList& operator=(const FrameHookList&) = delete;

    // args[0] is the module's path, the rest its own arguments. 0 when the hook was added; -1 when
    // the module cannot be loaded, -2 without arguments or without a needed entry point, -12 when out
    // of memory, -22 when the module's Configure refused the arguments.
    int Add(const std::vector<std::string>& args);

    // Hands the picture to every hook in the order they were added.
    void Process(TarnelPicture* picture, int pixFmt, int width, int height, int64_t pts);

    // Calls every hook's Release and empties the list.
    void Release();

    bool Empty() const;

private:
    struct Entry;
    // Expects the module cache's lock held; `modulePath` is args[0] made absolute when it has a
    // directory part. Leaves the text to log in `message`.
    int AddLocked(const std::vector<std::string>& args, const std::string& modulePath, std::string& message);

    std::vector<std::unique_ptr<Entry>> entries_;
};

} // namespace tarnel
