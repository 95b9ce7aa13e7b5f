#include "app/QuitSignals.h"

// A windowed program on Windows has no console whose control events could end it, and the end
// of the session reaches JUCE as WM_QUERYENDSESSION, which it already hands to the quit guard
// (systemRequestedQuit). Nothing is left to route here.

struct QuitSignals::Native
{
};

QuitSignals::QuitSignals (std::function<void()>)
{
}

QuitSignals::~QuitSignals() = default;
