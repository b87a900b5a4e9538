// Installation descriptions: read as the installer reads them, in both code pages, then every
// rule that takes their values (the load checks, shortcut items, removal order, Reg entries).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "install/ini_text.h"
#include "install/rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The program refuses a larger description before reading it (its seeds of 100,000 sections
    // and 50,000 files, kept for that refusal, would otherwise slow every run).
    if (!install::checkDescriptionSize(size).empty()) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const install::IniText ini(text);
    for (const bool dbcs : {false, true}) {
        const install::Description d = install::readDescription(ini.reader(), dbcs);
        install::checkDescription(d, "C:\\Start Menu\\StartUp", dbcs);
        for (auto place : {install::Place::Menu, install::Place::Desktop, install::Place::Startup})
            install::linkItems(d, "C:\\Soft\\", place, dbcs);
        install::removalTargets(d, "C:\\Soft\\", "install.INF", "install.exe", dbcs);
        for (const auto& reg : d.regs) install::allowedRegKey(install::parseRegEntry(reg), d, dbcs);
        for (auto place : {install::Place::Menu, install::Place::Desktop, install::Place::Startup})
            install::shortcutsStayInside(d, "C:\\Start Menu\\Programs\\", "C:\\Soft\\", place,
                                         dbcs);
        install::opensAnInstalledFile(d, dbcs);
        install::firstForeignSource(d, dbcs);
        install::nameProblem(d.folder, dbcs);
        install::liesInside("C:\\Soft\\", "C:\\Soft\\" + d.open, dbcs);
        install::unsafeUninstallFolder(d.open, "C:\\windows", "C:\\windows\\system32", true, dbcs);
        std::string dir = d.open;
        install::checkDestination(dir, dbcs);
        install::foldersToCreate(dir, dbcs);
        for (const auto& f : d.files) install::subFoldersOf("C:\\Soft\\", f.destination, dbcs);
        install::upper(d.title, dbcs);
        install::uninstallFolder(d.title, dbcs);
    }
    return 0;
}
