#pragma once

#include <juce_core/juce_core.h>

#include <cstddef>
#include <functional>
#include <string>

/** What the OS-side stand-ins for the system's write and sync calls (one source file per OS,
    e.g. linux/FileFaults.cpp) ask of the fake device's scripted file faults (FileFaults).
*/
namespace FakeDevice::FileFaultHooks
{
/** What one write or sync of a file may do under the scripted faults. */
struct Decision
{
    /** The file lies below the scripted folder: counted, and subject to the faults. */
    bool affected = false;

    /** For a write: how many of its bytes may reach the file. */
    size_t allowedBytes = 0;

    /** The call fails with `errorNumber` and changes nothing. */
    bool fails = false;
    int errorNumber = 0;

    /** To be called before the call returns (the first failure only). */
    std::function<void()> onFailure;
};

/** False while no faults are scripted: every call goes straight to the system. */
bool isScripted();

/** Before a write of `count` bytes to the file at `filePath`. */
Decision beforeWrite (const std::string& filePath, size_t count);

/** After a write that `beforeWrite` said was affected, with the bytes it wrote (or -1). */
void afterWrite (juce::int64 written);

/** Before a sync of the file at `filePath`. */
Decision beforeSync (const std::string& filePath);

/** Implemented per OS: the folder's full path with links resolved and a trailing separator, as
    the paths of open files show it; empty when the folder does not exist.
*/
std::string canonicalFolderPath (const juce::File& folder);
} // namespace FakeDevice::FileFaultHooks
