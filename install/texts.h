// The installer's texts in English and Japanese.
//
// The installer works in the system's ANSI code page throughout: the description file, the
// paths and the title arrive in it, and every message is built by joining them with fixed
// texts. The fixed texts are kept here in UTF-8 and pass through one process-wide encoder on
// their way out (UTF-8 to the ANSI code page in the program, unchanged in the tests), so a
// message never mixes two encodings. The language follows core::japaneseTexts().
#pragma once

#include <string>

#include "core/localized.h"

namespace install {

// Converts a UTF-8 fixed text into the encoding of the paths (identity unless set).
using TextEncoder = std::string (*)(const char* utf8);
void setTextEncoder(TextEncoder encoder);

// A fixed text in the chosen language, encoded.
std::string say(const core::Localized& text);
bool japanese();

namespace texts {
// Captions.
std::string error();
std::string confirmation();
// A dialog that could not be shown (caption "System Error").
std::string dialogFailed();

// Start-up and the description.
std::string windows3();
std::string damaged();
std::string descriptionTooLarge();
std::string registryRead();
std::string startUp();
std::string subFolder();
std::string leavesFolder(const std::string& entry);
// A value that must be one plain name (key as "Install/Title", "Group/2").
std::string notAName(const std::string& key);
std::string foreignSource(const std::string& entry);
std::string openNotInstalled(const std::string& open);
// The Uninstall entry named after the folder belongs to another product.
std::string entryTaken(const std::string& folder);

// The destination page.
std::string prompt(const std::string& title);
std::string sheetTitle(const std::string& title);
std::string root();
std::string driveAndPath();
std::string badFolderName();
std::string linkedFolder(const std::string& path);
// A path holding a character outside the system's code page, named in UTF-8 (not encoded:
// the program shows this one through the wide message box).
std::string foreignCharacter(const std::string& characterUtf8);
std::string freeSpace(unsigned megabytes);
std::string destroysUninstall();
std::string folderInTheWay(const std::string& path);
std::string folderFailed(const std::string& path);

// Copying.
std::string inUse(const std::string& path);
std::string copyFailed(const std::string& source);
std::string overwriteQuestion(const std::string& targetUpper, const std::string& targetLine,
                              const std::string& sourceLine);
std::string succeeded();
std::string notSucceeded();
std::string notCompleted();
std::string registerFailed();
std::string renameFailed(const std::string& path);
std::string completed();
std::string interrupted();

// Uninstallation.
std::string willUninstall(const std::string& title, bool resident);
std::string execFailed();
std::string uninstallTitle(const std::string& title);
std::string uninstalled(const std::string& title);
std::string someFileIn(const std::string& installDir);
std::string abnormalReg();
std::string deleteFailed(const std::string& path);
std::string tryAgain(const std::string& path, const std::string& title);
std::string askDelete(const std::string& path);
std::string folderNotDeleted(const std::string& path);
std::string notAnInstallation(const std::string& folder);
}  // namespace texts

}  // namespace install
