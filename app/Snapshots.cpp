#include "Snapshots.h"

#include "core/GlobalObject.h"
#include "core/MainSettings.h"
#include "core/ShellServices.h"

#include <filesystem>

namespace tarnel {

namespace fs = std::filesystem;

namespace {

bool FolderExistsOrCreated(const std::string& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    return fs::is_directory(folder, ec);
}

std::string SnapshotFolder(TMainSettings& settings, TShellServices& services) {
    std::string folder = settings.SnapshotFolder();
    if (!FolderExistsOrCreated(folder)) {
        const std::string fallback = TGlobalObject::DefaultOutputFolder();
        services.ShowMessage("Cannot create output directory:" + folder +
                                 ".It will create default directory " + fallback + "!",
                             "Warning", TMessageIcon::Warning);
        FolderExistsOrCreated(fallback);
        settings.SetSnapshotFolder(fallback);
        folder = fallback;
    }
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

} // namespace

std::string SaveSnapshotPictures(const QImage& full, const QImage& small, TMainSettings& settings,
                                 TShellServices& services) {
    const std::string folder = SnapshotFolder(settings, services);
    const bool fullSize = settings.SnapFullSize();
    const bool smallSize = settings.SnapSmallSize();
    const bool bmp = settings.SnapBmp();
    const bool jpg = settings.SnapJpg();
    const int quality = settings.JpegQuality();
    const auto save = [&](bool wanted, const QImage& picture, const char* name, const char* format) {
        if (!wanted)
            return;
        const QString path = QString::fromStdString(folder) + name;
        if (!picture.save(path, format, std::string_view(format) == "JPG" ? quality : -1))
            services.ShowMessage("Cannot write " + path.toStdString(), "Warning", TMessageIcon::Warning);
    };
    save(fullSize && bmp, full, "Snapshot_full.bmp", "BMP");
    save(smallSize && bmp, small, "Snapshot_small.bmp", "BMP");
    save(fullSize && jpg, full, "Snapshot_full.jpg", "JPG");
    save(smallSize && jpg, small, "Snapshot_small.jpg", "JPG");
    return folder;
}

} // namespace tarnel
