#pragma once

#include <juce_core/juce_core.h>

#include <stdexcept>
#include <string>

#include <stdlib.h>

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
        auto pattern = juce::File::getSpecialLocation (juce::File::tempDirectory)
                           .getChildFile (prefix + ".XXXXXX")
                           .getFullPathName()
                           .toStdString();

        if (::mkdtemp (pattern.data()) == nullptr)
            throw std::runtime_error ("cannot create a private folder from " + pattern);

        return juce::File (pattern);
    }

    juce::File folder;

    JUCE_DECLARE_NON_COPYABLE (PrivateFolder)
};
