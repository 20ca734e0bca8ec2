#include "tools/ttree/HtmlViewWriter.h"

#include <bit>
#include <cstdio>
#include <map>
#include <string_view>

#include "platform/harbor/CbException.h"
#include "tools/ttree/Base64.h"
#include "tools/ttree/ViewPageAssets.h"
#include "tools/ttree/Wording.h"

namespace {

const char* kindName(ViewDocument::EKind kind) {
    switch (kind) {
        case ViewDocument::EKind::eRoot:
            return "root";
        case ViewDocument::EKind::eCluster:
            return "cluster";
        case ViewDocument::EKind::eInner:
            return "inner";
        case ViewDocument::EKind::eScan:
            break;
    }
    return "scan";
}

// A script that could close its element early would break the page silently.
std::string_view script(std::string_view text, const char* name) {
    if (text.find("</script") != std::string_view::npos ||
        text.find("</SCRIPT") != std::string_view::npos) {
        CB_THROW(CbException, std::string("the page's ") + name + " holds \"</script\"");
    }
    return text;
}

template <class T>
std::string base64Of(const std::vector<T>& values) {
    static_assert(std::endian::native == std::endian::little,
                  "the page reads the arrays as little-endian typed arrays");
    std::string out;
    Base64::Append(out, values.data(), values.size() * sizeof(T));
    return out;
}

// Replaces every {{NAME}} of `page` by its value, in one pass: values are not searched
// again. A placeholder without a value throws (the template and the writer disagree).
std::string fill(std::string_view page, const std::map<std::string, std::string_view>& values) {
    size_t size = page.size();
    for (const auto& [name, value] : values) {
        size += value.size();
    }
    std::string out;
    out.reserve(size);
    size_t at = 0;
    for (;;) {
        const size_t open = page.find("{{", at);
        if (open == std::string_view::npos) {
            out.append(page.substr(at));
            return out;
        }
        const size_t close = page.find("}}", open + 2);
        if (close == std::string_view::npos) {
            CB_THROW(CbException, "the page template has an unclosed placeholder");
        }
        const std::string name(page.substr(open + 2, close - open - 2));
        auto value = values.find(name);
        if (value == values.end()) {
            CB_THROW(CbException, "the page template names an unknown placeholder " + name);
        }
        out.append(page.substr(at, open - at));
        out.append(value->second);
        at = close + 2;
    }
}

std::string number(float value) {
    return Wording::Number(value);
}

}  // namespace

std::string HtmlViewWriter::JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20 || c == '<') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string HtmlViewWriter::HtmlText(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string HtmlViewWriter::SubsamplingNotice(const ViewDocument& document) {
    if (!document.IsSubsampled()) {
        return std::string();
    }
    return "Subsampled: " + Wording::Count(document.GetPoints().GetCount(), "point", "points") +
           " of " + Wording::Count(document.GetSourceSurfels(), "surfel", "surfels") +
           ", one per " + Wording::Number(document.GetCellSize()) + " mm grid cell.";
}

std::string HtmlViewWriter::SessionJson(const ViewDocument& document, const std::string& title) {
    std::string json =
        "{\"format\": 1, \"title\": " + JsonString(title) +
        ", \"units\": \"mm\", \"points\": " + std::to_string(document.GetPoints().GetCount()) +
        ", \"sourceSurfels\": " + std::to_string(document.GetSourceSurfels()) +
        ", \"scans\": " + std::to_string(document.GetScanCount()) +
        ", \"scanPoints\": " + std::to_string(document.GetScanPoints()) +
        ", \"modelPoints\": " + std::to_string(document.GetModelPoints()) +
        ", \"subsampled\": " + (document.IsSubsampled() ? "true" : "false") +
        ", \"cellMm\": " + number(document.GetCellSize()) +
        ", \"modelCellMm\": " + number(document.GetModelCellSize()) +
        ", \"spacingMm\": " + number(document.GetPointSpacing()) +
        ", \"notice\": " + JsonString(SubsamplingNotice(document)) + ",\n\"nodes\": [";
    const char* separator = "\n";
    for (const ViewDocument::Node& node : document.GetNodes()) {
        json += separator;
        separator = ",\n";
        json += "{\"id\": " + JsonString(node.id) +
                ", \"description\": " + JsonString(node.description) + ", \"kind\": \"" +
                kindName(node.kind) + "\", \"parent\": " + std::to_string(node.parent) +
                ", \"depth\": " + std::to_string(node.depth) +
                ", \"cluster\": " + std::to_string(node.cluster) +
                ", \"surfels\": " + std::to_string(node.surfels) +
                ", \"sequence\": " + (node.sequence ? std::to_string(*node.sequence) : "null") +
                ", \"keyframe\": " + (node.keyframe ? "true" : "false") +
                ", \"scanCloud\": " + std::to_string(node.scanCloud) +
                ", \"modelCloud\": " + std::to_string(node.modelCloud) + ", \"children\": [";
        for (size_t i = 0; i < node.children.size(); ++i) {
            json += (i == 0 ? "" : ", ") + std::to_string(node.children[i]);
        }
        json += "]}";
    }
    json += "],\n\"clouds\": [";
    separator = "\n";
    for (const ViewDocument::Cloud& cloud : document.GetClouds()) {
        json += separator;
        separator = ",\n";
        json += "[" + std::to_string(cloud.node) + ", " + (cloud.model ? "1" : "0") + ", " +
                std::to_string(cloud.first) + ", " + std::to_string(cloud.count) + "]";
    }
    return json + "]}";
}

std::string HtmlViewWriter::Write(const ViewDocument& document, const std::string& title) {
    const ViewPoints& points = document.GetPoints();
    const std::string session = SessionJson(document, title);
    const std::string positions = base64Of(points.GetPositions());
    const std::string normals = base64Of(points.GetNormals());
    const std::string colors = base64Of(points.GetColors());
    const std::string qualities = base64Of(points.GetQualities());
    const std::string htmlTitle = HtmlText(title);
    const std::string notice = HtmlText(SubsamplingNotice(document));
    return fill(ViewPageAssets::PageHtml,
                {{"TITLE", htmlTitle},
                 {"NOTICE", notice},
                 {"STYLE", ViewPageAssets::PageStyle},
                 {"THREE", script(ViewPageAssets::ThreeJs, "three.js")},
                 {"ORBIT_CONTROLS", script(ViewPageAssets::OrbitControls, "orbit controls")},
                 {"PAGE_SCRIPT", script(ViewPageAssets::PageScript, "script")},
                 {"SESSION", session},
                 {"POSITIONS", positions},
                 {"NORMALS", normals},
                 {"COLORS", colors},
                 {"QUALITIES", qualities}});
}
