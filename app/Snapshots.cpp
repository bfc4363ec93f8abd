#include "Snapshots.h"

#include "core/MainSettings.h"
#include "core/OutputNaming.h"
#include "core/ShellServices.h"

namespace tarnel {

std::string SaveSnapshotPictures(const QImage& full, const QImage& small, TMainSettings& settings,
                                 TShellServices& services) {
    const std::string folder = FolderOrDefault(
        settings.SnapshotFolder(),
        [&settings](const std::string& fallback) { settings.SetSnapshotFolder(fallback); }, services);
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
