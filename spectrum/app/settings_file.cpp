// The special filter profile in the settings file beside the program ("Special Filter", keys
// "0" to "255"), read and written with the engine's value rules.
#include <cstdio>

#include "spectrum/app/app_state.h"
#include "spectrum/engine/filters.h"

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

}  // namespace voralin
