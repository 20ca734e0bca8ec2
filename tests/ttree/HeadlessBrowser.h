#pragma once

#include <filesystem>
#include <string>

#include "tests/ttree/TtreeRunner.h"

// Runs headless Chromium on a page, for the end-to-end tests of `ttree view`: each
// instance has its own temporary profile folder (removed by the destructor), WebGL comes
// from the SwiftShader software renderer, and every run is bounded by a timeout. Pages run
// for a budget of virtual time, so that a test sees the page after its scripts settled.
class HeadlessBrowser {
public:
    HeadlessBrowser();
    ~HeadlessBrowser();
    HeadlessBrowser(const HeadlessBrowser&) = delete;
    HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

    // Whether the chromium program is installed.
    static bool Available();

    // The DOM of `url` after `budgetMs` milliseconds of virtual time (standard output only).
    TtreeRunner::Result DumpDom(const std::string& url, int budgetMs) const;
    // Writes a screenshot of `url`, `width` x `height` pixels, to `png`.
    TtreeRunner::Result Screenshot(const std::string& url, const std::filesystem::path& png,
                                   int width, int height, int budgetMs) const;

private:
    std::string command(const std::string& arguments, const std::string& url) const;

    std::filesystem::path m_profile;
};
