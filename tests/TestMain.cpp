#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);

    // The message manager exists for the whole run, so components, timers and callAsync work
    // without a display.
    juce::ScopedJuceInitialiser_GUI juceLifetime;
    return RUN_ALL_TESTS();
}
