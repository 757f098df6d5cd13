#pragma once

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

// Switches the process locale for one scope and back to "C". The legacy
// locales that the system may lack are made once with localedef into a
// private folder of the build tree and found through LOCPATH, so the
// system's own locale set stays as it is.
class LocaleScope {
 public:
  explicit LocaleScope(const char* name) {
    ok_ = std::setlocale(LC_ALL, name) != nullptr;
    if (!ok_ && MakePrivate(name)) {
      ::setenv("LOCPATH", DIGESTBOX_TEST_LOCALES, 1);
      ok_ = std::setlocale(LC_ALL, name) != nullptr;
    }
  }
  ~LocaleScope() {
    ::unsetenv("LOCPATH");
    std::setlocale(LC_ALL, "C");
  }
  LocaleScope(const LocaleScope&) = delete;
  LocaleScope& operator=(const LocaleScope&) = delete;
  bool ok() const { return ok_; }

 private:
  // "he_IL.CP1255" from the sources of he_IL and the charmap CP1255.
  static bool MakePrivate(const std::string& name) {
    const std::filesystem::path folder =
        std::filesystem::path(DIGESTBOX_TEST_LOCALES) / name;
    if (std::filesystem::exists(folder / "LC_CTYPE")) return true;
    const std::size_t dot = name.find('.');
    if (dot == std::string::npos) return false;
    std::error_code ignored;
    std::filesystem::create_directories(folder.parent_path(), ignored);
    const std::string command = "localedef -i " + name.substr(0, dot) + " -f " +
                                name.substr(dot + 1) + " '" + folder.string() +
                                "' >/dev/null 2>&1";
    // localedef exits 1 after mere warnings; what counts is the locale made.
    return std::system(command.c_str()) != -1 &&
           std::filesystem::exists(folder / "LC_CTYPE");
  }

  bool ok_;
};
