// The names of the button bitmaps a program's artwork description makes: every skin of its
// "palette" lines ("-" is the plain skin, no letter) times the filler Gap, every "glyph" and the
// filler Space, times the states Up, Dn and In. Read from the description the build draws from,
// so a test compares what the program asks for with what the resources hold.
#pragma once

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace testart {

inline std::set<std::string> artworkBitmapNames(const std::string& description) {
    std::ifstream in(description);
    std::vector<std::string> skins, stems{"Gap", "Space"};
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == ' ' || line[0] == '\t' || line[0] == '#') continue;
        std::istringstream words(line);
        std::string key, name;
        words >> key >> name;
        if (key == "palette") skins.push_back(name == "-" ? "" : name);
        if (key == "glyph") stems.push_back(name);
    }
    std::set<std::string> names;
    for (const auto& skin : skins)
        for (const auto& stem : stems)
            for (const char* state : {"Up", "Dn", "In"}) names.insert(stem + skin + state);
    return names;
}

}  // namespace testart
