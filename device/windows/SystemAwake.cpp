#include "device/SystemAwake.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <windows.h>

namespace
{
const wchar_t* const blockReason = L"Updating the keyboard's firmware";

/** Sets or clears the reason shown when Windows is asked to shut down or log off while this
    program's windows are open. Only the thread that made a window may set its reason, so this
    runs on the message thread. The window's answer to WM_QUERYENDSESSION is the quit guard's:
    "not now" while the keyboard is being changed.
*/
void setShutdownBlockReason (bool block)
{
    auto apply = [block]
    {
        for (int i = 0; i < juce::TopLevelWindow::getNumTopLevelWindows(); ++i)
            if (auto* window = juce::TopLevelWindow::getTopLevelWindow (i))
                if (auto* handle = static_cast<HWND> (window->getWindowHandle()))
                {
                    if (block)
                        ShutdownBlockReasonCreate (handle, blockReason);
                    else
                        ShutdownBlockReasonDestroy (handle);
                }
    };

    if (auto* messages = juce::MessageManager::getInstanceWithoutCreating())
    {
        if (messages->isThisTheMessageThread())
            apply();
        else
            juce::MessageManager::callAsync (apply);
    }
}
} // namespace

struct KeepSystemAwake::Hold
{
    // ES_CONTINUOUS belongs to the thread that set it: it is cleared by the same thread, which
    // is the one that holds this object.
    bool held = SetThreadExecutionState (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
};

KeepSystemAwake::KeepSystemAwake()
    : hold (std::make_unique<Hold>())
{
    setShutdownBlockReason (true);
}

KeepSystemAwake::~KeepSystemAwake()
{
    if (hold->held)
        SetThreadExecutionState (ES_CONTINUOUS);

    setShutdownBlockReason (false);
}

bool KeepSystemAwake::isHeld() const noexcept
{
    return hold->held;
}
