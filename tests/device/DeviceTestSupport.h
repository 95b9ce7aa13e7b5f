#pragma once

#include "PrivateFolder.h"

#include <juce_core/juce_core.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>

/** A private folder for a synthetic tree, deleted with everything in it. */
class TempTree
{
public:
    /** The path of something inside the tree. */
    std::string path (const std::string& relative = {}) const
    {
        const auto base = root.get().getFullPathName().toStdString();
        return relative.empty() ? base : base + "/" + relative;
    }

    /** Writes a file, creating the folders on the way. */
    void write (const std::string& relative, const std::string& text) const
    {
        std::filesystem::create_directories (std::filesystem::path (path (relative)).parent_path());
        std::ofstream (path (relative)) << text;
    }

    /** Creates a folder and the folders on the way. */
    void makeFolder (const std::string& relative) const { std::filesystem::create_directories (path (relative)); }

    /** Creates a symbolic link at `relative` whose text is `target`, as given. */
    void link (const std::string& relative, const std::string& target) const
    {
        std::filesystem::create_directories (std::filesystem::path (path (relative)).parent_path());
        std::filesystem::create_symlink (target, path (relative));
    }

private:
    PrivateFolder root { "hl73-device-test" };
};

/** A test name made of the letters and digits of a case's description. */
inline std::string caseName (const char* description)
{
    std::string name;

    for (const char* c = description; *c != 0; ++c)
        if (std::isalnum (static_cast<unsigned char> (*c)))
            name += *c;

    return name;
}
