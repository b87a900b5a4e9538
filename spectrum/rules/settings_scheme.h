// The settings file beside the program, as the program's own additions use it: a profile (INI)
// text read and changed one key at a time, and the scheme every added key follows.
//
// The scheme: one section per feature ("Choices" for what the user last chose, "Lattice",
// "Calibration", "Big images"); key names in words, as the user reads them; values as plain text:
// a choice as one of its lowercase words, a switch as 0 or 1, a number in the C locale. A key
// that is missing, or whose text is not one the scheme accepts, reads as its default, so a
// missing or damaged section gives the program's start values. Writing changes only the line of
// its key (or adds it): every other byte of the file, the special filter profile's included,
// stays as it was.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

class ProfileText {
  public:
    ProfileText() = default;
    explicit ProfileText(std::string text) : text_(std::move(text)) {}

    // The value of the first key of that name in the first section of that name (names compared
    // without case, spaces around names and values ignored), as GetPrivateProfileString finds it.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;
    // Replaces the key's value, or adds the key at the end of its section, or the section at the
    // end of the text. False, and nothing changed, for a name or value that a profile line cannot
    // hold (line breaks, '=' in a key, ']' in a section, spaces around).
    bool set(std::string_view section, std::string_view key, std::string_view value);
    // Removes the key's line; true when there was one.
    bool remove(std::string_view section, std::string_view key);

    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

// A key whose value is one of a few words; the first word is the default.
struct ChoiceKey {
    const char* name;
    std::vector<const char*> words;
};

// The index of the key's word, or 0 when the key is missing or holds another text.
int readChoice(const ProfileText& file, std::string_view section, const ChoiceKey& key);
bool writeChoice(ProfileText& file, std::string_view section, const ChoiceKey& key, int index);

// A switch, "0" or "1".
bool readSwitch(const ProfileText& file, std::string_view section, std::string_view key,
                bool fallback);
bool writeSwitch(ProfileText& file, std::string_view section, std::string_view key, bool on);

// A finite number from `low` to `high`, the whole text in the C locale; else `fallback`.
double readNumber(const ProfileText& file, std::string_view section, std::string_view key,
                  double low, double high, double fallback);
// Written in the fewest digits that read back as the same double.
bool writeNumber(ProfileText& file, std::string_view section, std::string_view key, double value);
std::string numberText(double value);

// Section "Choices": what the user chose last in the open dialog, FFT Mode and the Binning menu.
inline constexpr char kChoicesSection[] = "Choices";

enum class FileType { Bitmap = 0, MicroscopeImages = 1 };

struct RememberedChoices {
    FileType fileType = FileType::Bitmap;  // the open dialog's file type
    int frame = kMirrorFrame;
    DisplaySettings display;
    bool lineWave = false;
    double lineWaveAngle = 0.0;
    int binning = 1;
};

RememberedChoices readChoices(const ProfileText& file);
// Writes every key of the section; false when the text could not take one (never for the values
// the program holds).
bool writeChoices(ProfileText& file, const RememberedChoices& choices);

}  // namespace spectrum
