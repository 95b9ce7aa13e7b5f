// Windows has no stand-ins for the file calls yet: scripted file faults do not happen there, and
// the tests that need them are built for Linux only. The fake device still needs the folder's
// path.

#include "FileFaultHooks.h"

std::string FakeDevice::FileFaultHooks::canonicalFolderPath (const juce::File& folder)
{
    return folder.isDirectory() ? folder.getFullPathName().toStdString() + "\\" : std::string();
}
