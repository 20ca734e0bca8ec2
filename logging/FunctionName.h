#pragma once

#include <array>
#include <cstddef>
#include <string_view>

// The qualified function names that log lines show ("KaCTransformationNodeManager::Lock"),
// derived at compile time from the full signature the compiler gives a function
// (__PRETTY_FUNCTION__, "bool KaCTransformationNodeManager::Lock(...)").
namespace Logging {

namespace FunctionNameDetail {

constexpr bool isIdentifierCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The position of the `open` that matches the `close` at `closing`, or npos.
constexpr std::size_t findOpening(std::string_view text, std::size_t closing, char open,
                                  char close) {
    int depth = 0;
    for (std::size_t i = closing + 1; i-- > 0;) {
        if (text[i] == close) {
            ++depth;
        } else if (text[i] == open && --depth == 0) {
            return i;
        }
    }
    return std::string_view::npos;
}

constexpr std::string_view trimTrailingSpaces(std::string_view text) {
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

// Removes one trailing qualifier of a member function ("const", "&&", ...), if present.
constexpr bool removeTrailingQualifier(std::string_view& text) {
    constexpr std::array<std::string_view, 5> qualifiers = {"const", "volatile", "noexcept", "&&",
                                                            "&"};
    for (std::string_view qualifier : qualifiers) {
        if (text.size() > qualifier.size() && text.ends_with(qualifier)) {
            char before = text[text.size() - qualifier.size() - 1];
            if (before == ' ' || before == ')') {
                text.remove_suffix(qualifier.size());
                text = trimTrailingSpaces(text);
                return true;
            }
        }
    }
    return false;
}

// Where the name starts: after the last space outside template arguments and parentheses
// that precedes an operator name (whose own spaces, "operator bool", are part of it).
constexpr std::size_t findNameStart(std::string_view text) {
    constexpr std::string_view keyword = "operator";
    std::size_t start = 0;
    int depth = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (depth == 0 && text.substr(i).starts_with(keyword) &&
            (i == 0 || !isIdentifierCharacter(text[i - 1])) &&
            (i + keyword.size() == text.size() ||
             !isIdentifierCharacter(text[i + keyword.size()]))) {
            break;
        }
        if (c == '<' || c == '(') {
            ++depth;
        } else if ((c == '>' || c == ')') && depth > 0) {
            --depth;
        } else if (c == ' ' && depth == 0) {
            start = i + 1;
        }
    }
    return start;
}

}  // namespace FunctionNameDetail

// "bool Ns::CClass::Lock(int) const" -> "Ns::CClass::Lock": drops the return type, the
// parameter list, member qualifiers and a bracketed list of template arguments. Names
// without a parameter list (a lambda as GCC writes it) are kept whole.
constexpr std::string_view GetQualifiedFunctionName(std::string_view signature) {
    using namespace FunctionNameDetail;
    std::string_view text = trimTrailingSpaces(signature);
    if (text.ends_with(']')) {
        std::size_t open = findOpening(text, text.size() - 1, '[', ']');
        if (open != std::string_view::npos) {
            text = trimTrailingSpaces(text.substr(0, open));
        }
    }
    std::string_view withoutQualifiers = text;
    while (removeTrailingQualifier(withoutQualifiers)) {
    }
    if (withoutQualifiers.ends_with(')')) {
        std::size_t open = findOpening(withoutQualifiers, withoutQualifiers.size() - 1, '(', ')');
        if (open != std::string_view::npos && open > 0) {
            text = withoutQualifiers.substr(0, open);
        }
    }
    return text.substr(findNameStart(text));
}

// `name` as a zero-terminated character array that can live in static storage.
template <std::size_t Length>
consteval std::array<char, Length + 1> MakeFunctionNameText(std::string_view name) {
    std::array<char, Length + 1> text{};
    for (std::size_t i = 0; i < Length; ++i) {
        text[i] = name[i];
    }
    return text;
}

}  // namespace Logging
