#pragma once

#include "PrivateFolder.h"

#include <juce_core/juce_core.h>

/** A private folder that plays the root of a bootloader drive; removed with the object. */
struct TempDrive
{
    TempDrive() = default;

    juce::File image() const { return root.getChildFile ("VelmorHL73.uf2"); }

    PrivateFolder folder { "hl73-drive" };
    juce::File root = folder.get();

    JUCE_DECLARE_NON_COPYABLE (TempDrive)
};
