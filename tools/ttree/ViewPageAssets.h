#pragma once

#include <string_view>

// The files the page of `ttree view` is made of, carried in the program: CMake generates
// the definitions from the files at build time (cmake/EmbedTextFiles.cmake), so the
// program needs none of them at run time. The three.js library and its orbit controls come
// from the system's libjs-three package (the non-module builds, which define the global
// THREE); the page's own template, script and style from tools/ttree/view/.
// Constants; thread-safe.
class ViewPageAssets {
public:
    static const std::string_view ThreeJs;        // three.min.js
    static const std::string_view OrbitControls;  // examples/js/controls/OrbitControls.js
    static const std::string_view PageHtml;       // view/page.html, with the placeholders
    static const std::string_view PageScript;     // view/page.js
    static const std::string_view PageStyle;      // view/page.css
};
