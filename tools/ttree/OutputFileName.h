#pragma once

#include <string>

// The names of the files the commands write: each command writes one kind of file and
// takes only a name with that kind's extension (in any letter case), so that a mistyped
// argument does not fill a file of one kind with another kind's content. Stateless.
class OutputFileName {
public:
    // Throws CbException unless the extension of `path` is `extension` (".ttree", ".ply",
    // ".png"); `what` names the kind of file for the message.
    static void RequireExtension(const std::string& path, const std::string& extension,
                                 const std::string& what);
};
