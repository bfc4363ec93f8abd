// tarnel-skin OUTDIR: writes the pictures that are also shipped as files (list background, splash
// picture, application icons), drawn by the same code the program uses.
#include "SkinPictures.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QString>
#include <cstdio>

namespace {

bool WriteImage(const QImage& image, const QDir& outDir, const QString& fileName, const char* format,
                int quality = -1) {
    const QString path = outDir.filePath(fileName);
    if (image.save(path, format, quality))
        return true;
    std::fprintf(stderr, "tarnel-skin: cannot write %s\n", qPrintable(QDir::toNativeSeparators(path)));
    return false;
}

bool WriteAllPictures(const QDir& outDir) {
    using namespace tarnel::skin;
    bool ok = WriteImage(ListBackground(522, 360).convertToFormat(QImage::Format_RGB888), outDir,
                         QStringLiteral("lvBack.bmp"), "BMP");
    ok = WriteImage(CoverPicture(), outDir, QStringLiteral("tarnelcover.jpg"), "JPG", 90) && ok;
    for (const int size : {48, 128, 256}) {
        const QString name = QStringLiteral("tarnel-%1.png").arg(size);
        ok = WriteImage(AppIconImage(size), outDir, name, "PNG") && ok;
    }
    return ok;
}

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: tarnel-skin OUTDIR\n");
        return 1;
    }
    const QDir outDir(arguments.at(1));
    if (!outDir.exists() && !QDir().mkpath(outDir.path())) {
        std::fprintf(stderr, "tarnel-skin: cannot create %s\n",
                     qPrintable(QDir::toNativeSeparators(outDir.path())));
        return 1;
    }
    return WriteAllPictures(outDir) ? 0 : 1;
}
