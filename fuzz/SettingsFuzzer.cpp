// Arbitrary settings and profile files: the input is tarnelmain.ini, a NUL byte, then
// tarnelformat.ini (no NUL: the profile file is empty). Both are read through the shell's readers,
// every setting is read, and the current profile is mapped onto a conversion task of a real clip,
// as a batch run does, with the output folder kept in a scratch folder.
#include "Fixtures.h"
#include "FuzzSupport.h"
#include "core/BatchPlan.h"
#include "core/ConsoleShellServices.h"
#include "core/FilesRecord.h"
#include "core/MainSettings.h"
#include "core/ProfileFile.h"

#include <algorithm>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string clip;

void ReadEverySetting(tarnel::TMainSettings& settings) {
    settings.OutputFolder();
    settings.SnapshotFolder();
    settings.VolumeShown();
    settings.Mute();
    settings.FormatName();
    settings.SnapFullSize();
    settings.SnapSmallSize();
    settings.SnapBmp();
    settings.SnapJpg();
    settings.JpegQuality();
    settings.Priority();
    settings.Jobs();
    for (int group = 0; group < 6; ++group)
        settings.GroupCollapsed(group);
}

void MapCurrentProfile(tarnel::TMainSettings& settings, tarnel::TProfileFile& profiles,
                       const std::string& folder) {
    using namespace tarnel;
    const int32_t code = settings.FormatCode();
    settings.OverrideOutputFolder(folder);
    std::ostringstream messages;
    TConsoleShellServices services(messages);
    TMappingContext context{settings, profiles, services};
    TlvFilesRecord record;
    record.SourceFile = clip;
    std::vector<TBatchRow> rows{{0, &record, true}};
    TFFConverter converter;
    try {
        const TBatchPlan plan = BuildBatch(converter, rows, code, context);
        converter.ClearTasks();
        for (const std::string& output : plan.Outputs) {
            std::error_code ignored;
            fs::remove(output, ignored);
        }
    } catch (const std::invalid_argument&) {
        // A profile value that must be a number and is not: the batch refuses to start.
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tarnel::fuzz::LoadQuietly(tarnel::kConverterLibraries);
    clip = tarnel::fixtures::EnsureFixtures(tarnel::fixtures::DefaultFixtureDir()).h264AacMp4;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnel::fuzz;
    static const std::string folder = ScratchName("-settings/");
    static const std::string mainFile = folder + "tarnelmain.ini";
    static const std::string formatFile = folder + "tarnelformat.ini";
    static const std::string outputFolder = folder + "out/";
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(outputFolder, ignored);

    const uint8_t* separator = std::find(data, data + size, 0);
    const uint8_t* formatStart = separator == data + size ? separator : separator + 1;
    if (!WriteBytes(mainFile, data, separator - data) ||
        !WriteBytes(formatFile, formatStart, data + size - formatStart))
        return 0;
    tarnel::TMainSettings settings(mainFile);
    tarnel::TProfileFile profiles(formatFile);
    ReadEverySetting(settings);
    MapCurrentProfile(settings, profiles, outputFolder);
    return 0;
}
