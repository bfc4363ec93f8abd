// The application-wide object: where the two INI files live, the title and version texts, the web
// addresses, and the few questions the shell asks the system (special folders, writable folders,
// the login name).
#pragma once

#include <string>

namespace tarnel {

enum class TSpecialFolder {
    Settings, // the per-user settings folder, $XDG_CONFIG_HOME/tarnel/ (~/.config/tarnel/)
    Home,     // $HOME
    Videos    // the user's videos folder (XDG_VIDEOS_DIR, else ~/Videos)
};

class TGlobalObject {
public:
    static constexpr const char* kSettingsFileName = "tarnelmain.ini";
    static constexpr const char* kProfileFileName = "tarnelformat.ini";

    TGlobalObject();

    const std::string& HelpUrl() const { return helpUrl_; }
    void SetHelpUrl(const std::string& value);
    const std::string& SettingsFile() const { return settingsFile_; }
    void SetSettingsFile(const std::string& value);
    const std::string& ProfileFile() const { return profileFile_; }
    void SetProfileFile(const std::string& value);
    const std::string& AppTitle() const { return appTitle_; }
    void SetAppTitle(const std::string& value);
    const std::string& VersionText() const { return versionText_; }
    void SetVersionText(const std::string& value);
    const std::string& WebsiteUrl() const { return websiteUrl_; }
    void SetWebsiteUrl(const std::string& value);

    // The folder with a trailing "/"; empty when the system names none.
    static std::string GetSpecialFolder(TSpecialFolder folder);
    // True when a temporary file can be made in the folder and deleted again.
    static bool IsFolderWritable(const std::string& folder);
    static std::string GetLoginName();
    // True for a folder on a read-only mount or on an optical disc's file system (ISO 9660, UDF).
    static bool IsOnReadOnlyMedium(const std::string& folder);
    // " major.minor" + release + build + " ": version 1.8.0.0 reads " 1.800 ".
    static std::string GetFileVersionText();
    static std::string GetFileVersionText(const std::string& version);
    static std::string RightChars(const std::string& text, size_t count);

    // The default output and snapshot folder (the videos folder + "/tarnelout"), and the one used
    // when a folder cannot be written ($HOME + "/tarnelout").
    static std::string DefaultOutputFolder();
    static std::string FallbackOutputFolder();
    // The folder of the running executable, with a trailing "/".
    static std::string ExecutableFolder();
    // The folder with the shipped data (tarnelformat.ini, skin/): data/ next to the executable in a
    // build tree, ../share/tarnel/ when installed. Empty when neither exists.
    static std::string ShippedDataFolder();
    // The profile catalogue in the settings folder, copied there from the shipped one when missing;
    // the shipped one itself when the copy cannot be made. `problem` says what went wrong, if anything.
    static std::string PrepareProfileFile(const std::string& settingsFolder, std::string& problem);

private:
    static void AddMissingProfiles(const std::string& target, const std::string& shipped);
    std::string helpUrl_;
    std::string settingsFile_;
    std::string profileFile_;
    std::string appTitle_;
    std::string versionText_;
    std::string websiteUrl_;
};

} // namespace tarnel
