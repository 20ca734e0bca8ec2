#pragma once

#include <string>

#include "tools/ttree/ViewDocument.h"

// Writes the page of `ttree view`: one self-contained HTML file holding three.js, the
// orbit controls, the page's script and style (ViewPageAssets) and the session's data, so
// that a browser shows it from a file, with no server and no network.
//
// The data: the session's tree as JSON in <script type="application/json"
// id="tt-session">, and each point attribute of ViewPoints base64-encoded in its own
// <script type="application/octet-stream"> (ids tt-positions, tt-normals, tt-colors,
// tt-qualities), little-endian as typed arrays read them. Text from the session is escaped
// so that it can end neither a script element nor the markup ('<' is written \u003c in
// JSON, &, <, > and " as entities in HTML).
//
// Throws CbException when an embedded script would end its own element (it holds
// "</script"), which the build's assets never do. Stateless.
class HtmlViewWriter {
public:
    // The page for `document`; `title` names the session (the file name).
    static std::string Write(const ViewDocument& document, const std::string& title);

    // The session's tree and the facts the page shows, as the JSON the page reads.
    static std::string SessionJson(const ViewDocument& document, const std::string& title);
    // `text` as a JSON string, quotes included, with '<' escaped.
    static std::string JsonString(const std::string& text);
    // `text` with &, <, > and " as entities.
    static std::string HtmlText(const std::string& text);
    // The line the page shows (and the file carries as text) when the clouds are thinned
    // out; empty when they are not.
    static std::string SubsamplingNotice(const ViewDocument& document);
};
