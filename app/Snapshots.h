// Saving snapshot pictures: the full-size and the panel-size picture, as BMP and/or JPEG, into the
// snapshot folder, as the settings choose.
#pragma once

#include <QImage>
#include <string>

namespace tarnel {

class TMainSettings;
class TShellServices;

// Writes "Snapshot_full.bmp", "Snapshot_small.bmp", "Snapshot_full.jpg" and "Snapshot_small.jpg"
// (each only when both of its settings are on), replacing older ones; returns the folder used.
std::string SaveSnapshotPictures(const QImage& full, const QImage& small, TMainSettings& settings,
                                 TShellServices& services);

} // namespace tarnel
