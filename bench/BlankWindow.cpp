// hl73-bench-window: the smallest JUCE window program, the yardstick for the program's start-up.
// One DocumentWindow of the program's size, with a native title bar, whose content paints one
// colour; built with the same JUCE library and settings as the program. With the argument
// --text it also draws one line of text, which costs what JUCE's first use of a font costs.

#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
/** Fills itself with one colour that the start-up benchmark looks for, and optionally a line of
    text near its bottom edge, clear of the points the benchmark looks at.
*/
class ColourComponent : public juce::Component
{
public:
    explicit ColourComponent (bool withText)
        : drawText (withText)
    {
        setSize (600, 400);
    }

    void paint (juce::Graphics& g) override
    {
        g.fillAll (juce::Colour (0xff2080c0));

        if (drawText)
        {
            g.setColour (juce::Colours::white);
            g.setFont (15.0f);
            g.drawText ("Make sure the device is connected.", getLocalBounds().removeFromBottom (12), juce::Justification::centred);
        }
    }

private:
    bool drawText;
};

/** One window, centred and visible, that quits when closed. */
class BlankWindow : public juce::DocumentWindow
{
public:
    explicit BlankWindow (bool withText)
        : DocumentWindow ("hl73-bench-window", juce::Colours::black, DocumentWindow::allButtons)
    {
        setUsingNativeTitleBar (true);
        setContentOwned (new ColourComponent (withText), true);
        centreWithSize (getWidth(), getHeight());
        setVisible (true);
    }

    void closeButtonPressed() override { juce::JUCEApplication::getInstance()->systemRequestedQuit(); }
};

/** The application: the window, nothing else. */
class BlankWindowApplication : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override { return "hl73-bench-window"; }
    const juce::String getApplicationVersion() override { return "1.0"; }
    bool moreThanOneInstanceAllowed() override { return true; }
    void initialise (const juce::String& commandLine) override { window = std::make_unique<BlankWindow> (commandLine.contains ("--text")); }
    void shutdown() override { window = nullptr; }

private:
    std::unique_ptr<BlankWindow> window;
};
} // namespace

START_JUCE_APPLICATION (BlankWindowApplication)
