#pragma once

#include <juce_core/juce_core.h>

#include <stdexcept>
#include <string>

#ifdef _WIN32
    #include <direct.h>
#else
    #include <stdlib.h>
#endif

/** A new folder under the temporary folder that belongs to this test alone, deleted with
    everything in it. ctest runs many test processes side by side: the folder is made with
    mkdtemp, which fails rather than share a name another process has just taken.
*/
class PrivateFolder
{
public:
    /** Creates the folder; `prefix` only makes leftovers easy to recognise. */
    explicit PrivateFolder (const std::string& prefix)
        : folder (make (prefix))
    {
    }

    ~PrivateFolder() { folder.deleteRecursively (false); }

    /** The folder itself. */
    const juce::File& get() const noexcept { return folder; }

private:
    static juce::File make (const std::string& prefix)
    {
#ifdef _WIN32
        // No mkdtemp on Windows; _wmkdir likewise fails rather than take a name that exists.
        for (int attempt = 0; attempt < 100; ++attempt)
        {
            const auto candidate = juce::File::getSpecialLocation (juce::File::tempDirectory)
                                       .getChildFile (prefix + "." + juce::Uuid().toString().substring (0, 12).toStdString());

            if (::_wmkdir (candidate.getFullPathName().toWideCharPointer()) == 0)
                return candidate;
        }

        throw std::runtime_error ("cannot create a private folder for " + prefix);
#else
        auto pattern = juce::File::getSpecialLocation (juce::File::tempDirectory)
                           .getChildFile (prefix + ".XXXXXX")
                           .getFullPathName()
                           .toStdString();

        if (::mkdtemp (pattern.data()) == nullptr)
            throw std::runtime_error ("cannot create a private folder from " + pattern);

        return juce::File (pattern);
#endif
    }

    juce::File folder;

    JUCE_DECLARE_NON_COPYABLE (PrivateFolder)
};
