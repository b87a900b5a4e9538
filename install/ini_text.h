// A description file read from its text, the way the system's profile functions read it:
// sections and keys ignore case, blanks around keys and values fall away, one pair of
// surrounding quotes is removed, lines starting with ";" are comments, and the first occurrence
// of a key in the first section of that name wins. Used where the profile functions are not at
// hand (the tests, the fuzz target) and as the description reader's reference.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "install/rules.h"

namespace install {

class IniText {
  public:
    explicit IniText(std::string_view text);
    // At most bufferChars - 1 characters; empty when absent.
    std::string get(const std::string& section, const std::string& key, int bufferChars) const;
    ProfileReader reader() const;

  private:
    // Section length, lower-case section and key -> value.
    std::unordered_map<std::string, std::string> values_;
};

}  // namespace install
