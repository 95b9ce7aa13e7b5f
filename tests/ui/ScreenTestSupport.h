#pragma once

#include "ScriptedUpdater.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

/** Runs the message loop until the condition holds or the limit passes; returns the condition. */
inline bool pumpUntil (const std::function<bool()>& condition, int limitMs = 5000)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) limitMs;
    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    }
    return true;
}

/** Runs the message loop for a while, so that anything already posted is handled. */
inline void pumpFor (int ms)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (ms);
}

/** Clicks START or RETRY and waits until the click has started a run. */
inline bool clickToStart (juce::Button& button)
{
    const auto before = ScriptedUpdater::runsStarted();
    button.triggerClick();
    return pumpUntil ([&]
                      { return ScriptedUpdater::runsStarted() > before; });
}

/** The screen's children, in the order the screen adds them. */
struct ScreenChildren
{
    explicit ScreenChildren (juce::Component& screen)
        : header (dynamic_cast<juce::ImageComponent*> (screen.getChildComponent (0)))
        , link (dynamic_cast<juce::HyperlinkButton*> (screen.getChildComponent (1)))
        , button (dynamic_cast<juce::TextButton*> (screen.getChildComponent (2)))
        , bar (dynamic_cast<juce::ProgressBar*> (screen.getChildComponent (3)))
        , label (dynamic_cast<juce::Label*> (screen.getChildComponent (4)))
    {
        jassert (screen.getNumChildComponents() == 5);
        jassert (header != nullptr && link != nullptr && button != nullptr && bar != nullptr && label != nullptr);
    }

    juce::ImageComponent* header;
    juce::HyperlinkButton* link;
    juce::TextButton* button;
    juce::ProgressBar* bar;
    juce::Label* label;
};

/** A gate a scripted run waits at until the test opens it, or until its thread is told to stop. */
struct Gate
{
    void waitIn (ScriptedUpdater::Run& run)
    {
        while (! event.wait (20))
            if (run.shouldExit())
                return;
    }

    void open() { event.signal(); }

    juce::WaitableEvent event { true };
};
