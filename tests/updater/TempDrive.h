#pragma once

#include <juce_core/juce_core.h>

/** A fresh directory that plays the root of a bootloader drive; removed with the object. Its
    name is unique across processes, since ctest runs tests side by side.
*/
struct TempDrive
{
    TempDrive()
        : root (juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("hl73-drive-" + juce::Uuid().toString()))
    {
        root.createDirectory();
    }

    ~TempDrive() { root.deleteRecursively(); }

    juce::File image() const { return root.getChildFile ("VelmorHL73.uf2"); }

    juce::File root;

    JUCE_DECLARE_NON_COPYABLE (TempDrive)
};
