#include "tests/ttree/HeadlessBrowser.h"

#include <stdlib.h>

#include <string>
#include <vector>

namespace {

// `text` in single quotes for the shell.
std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

}  // namespace

HeadlessBrowser::HeadlessBrowser() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "ttree-chromium-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) != nullptr) {
        m_profile = name.data();
    }
}

HeadlessBrowser::~HeadlessBrowser() {
    std::error_code ignored;
    if (!m_profile.empty()) {
        std::filesystem::remove_all(m_profile, ignored);
    }
}

bool HeadlessBrowser::Available() {
    return TtreeRunner::RunShell("command -v chromium >/dev/null").exitCode == 0;
}

std::string HeadlessBrowser::command(const std::string& arguments, const std::string& url) const {
    // The browser's own complaints (GPU process notes and the like) go to /dev/null, so that
    // standard output is the page alone; the timeout ends a browser that hangs.
    return "{ timeout -k 10 120 chromium --headless --no-sandbox --disable-gpu-sandbox "
           "--use-gl=swiftshader --enable-unsafe-swiftshader --disable-extensions "
           "--no-first-run --no-default-browser-check --hide-scrollbars --user-data-dir=" +
           quoted(m_profile.string()) + " " + arguments + " " + quoted(url) + " 2>/dev/null; }";
}

TtreeRunner::Result HeadlessBrowser::DumpDom(const std::string& url, int budgetMs) const {
    return TtreeRunner::RunShell(command(
        "--window-size=1200,800 --virtual-time-budget=" + std::to_string(budgetMs) + " --dump-dom",
        url));
}

TtreeRunner::Result HeadlessBrowser::Screenshot(const std::string& url,
                                                const std::filesystem::path& png, int width,
                                                int height, int budgetMs) const {
    return TtreeRunner::RunShell(command("--window-size=" + std::to_string(width) + "," +
                                             std::to_string(height) +
                                             " --virtual-time-budget=" + std::to_string(budgetMs) +
                                             " --screenshot=" + quoted(png.string()),
                                         url));
}
