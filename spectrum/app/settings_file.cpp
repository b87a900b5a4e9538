// The settings file beside the program: the special filter profile ("Special Filter", keys "0" to
// "255") read and written through the system's profile functions with the engine's value rules,
// and the program's own additions, which follow the scheme of settings_scheme.h.
#include <cstdio>

#include "spectrum/app/app_state.h"
#include "spectrum/engine/filters.h"
#include "spectrum/rules/settings_scheme.h"

namespace voralin {
namespace {

constexpr char kSection[] = "Special Filter";

}  // namespace

void readSpecialProfile(AppState& app) {
    const char* file = app.frame.settingsPath.c_str();
    for (int i = 0; i < spectrum::kProfileSize; ++i) {
        char key[8], fallback[32], value[10] = {};
        std::snprintf(key, sizeof key, "%d", i);
        std::snprintf(fallback, sizeof fallback, "%.5g", spectrum::defaultSpecialValue(i));
        if (app.frame.settingsPath.empty())
            std::snprintf(value, sizeof value, "%s", fallback);
        else
            GetPrivateProfileStringA(kSection, key, fallback, value, sizeof value, file);
        app.savedProfile[i] = spectrum::profileValueFromText(value);
    }
    app.settings.filter.specialProfile = app.savedProfile;
    app.settings.filter.selectedPoint = app.savedSelectedPoint;
}

void writeSpecialProfile(AppState& app) {
    auto& profile = app.settings.filter.specialProfile;
    for (int i = 0; i < spectrum::kProfileSize; ++i) {
        profile[i] = spectrum::clampProfileValue(profile[i]);
        if (app.frame.settingsPath.empty()) continue;
        char key[8];
        std::snprintf(key, sizeof key, "%d", i);
        WritePrivateProfileStringA(kSection, key, spectrum::profileValueText(profile[i]).c_str(),
                                   app.frame.settingsPath.c_str());
    }
    app.savedProfile = profile;
    app.savedSelectedPoint = app.settings.filter.selectedPoint;
}

// --- the additions ------------------------------------------------------------------------------

spectrum::ProfileText loadSettings(const AppState& app) {
    std::string text;
    if (app.frame.settingsPath.empty()) return spectrum::ProfileText();
    HANDLE file = CreateFileA(app.frame.settingsPath.c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return spectrum::ProfileText();
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    CloseHandle(file);
    return spectrum::ProfileText(std::move(text));
}

// The whole text goes to a file beside the old one, which it then replaces: a write cut short
// leaves the old file, the special profile included, as it was.
bool saveSettings(const AppState& app, const spectrum::ProfileText& settings) {
    if (app.frame.settingsPath.empty()) return false;
    const std::string fresh = app.frame.settingsPath + ".new";
    HANDLE file = CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const std::string& text = settings.text();
    DWORD written = 0;
    const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written,
                              nullptr) &&
                    written == text.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (ok && MoveFileExA(fresh.c_str(), app.frame.settingsPath.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(fresh.c_str());
    return false;
}

bool storeSetting(const AppState& app, const char* section, const std::string& key,
                  const std::optional<std::string>& value) {
    if (app.frame.settingsPath.empty()) return false;
    spectrum::ProfileText settings = loadSettings(app);
    const bool changed = value ? settings.set(section, key, *value) : settings.remove(section, key);
    return changed && saveSettings(app, settings);
}

void applyRememberedChoices(AppState& app) {
    const spectrum::RememberedChoices c = spectrum::readChoices(loadSettings(app));
    app.openFileType = c.fileType;
    app.settings.frame = c.frame;
    app.settings.display = c.display;
    app.settings.lineWave.lineWave = c.lineWave;
    app.settings.lineWave.angle = c.lineWaveAngle;
    app.binFactor = c.binning;
}

void rememberChoices(const AppState& app) {
    if (app.frame.settingsPath.empty()) return;
    spectrum::RememberedChoices c;
    c.fileType = app.openFileType;
    c.frame = app.settings.frame;
    c.display = app.settings.display;
    c.lineWave = app.settings.lineWave.lineWave;
    c.lineWaveAngle = app.settings.lineWave.angle;
    c.binning = app.binFactor;
    spectrum::ProfileText settings = loadSettings(app);
    if (spectrum::writeChoices(settings, c)) saveSettings(app, settings);
}

}  // namespace voralin
