#include "ScreenTestSupport.h"
#include "ui/MainComponent.h"
#include "updater/MakerSite.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

TEST (MainComponentLayout, ChildBoundsFollowTheWidth)
{
    struct Case
    {
        int width;
        juce::Rectangle<int> header, link, button, bar, label;
    };

    const Case cases[] = {
        { 600, { 10, 10, 580, 134 }, { 10, 156, 120, 20 }, { 200, 190, 200, 60 }, { 40, 270, 520, 16 }, { 10, 296, 580, 90 } },
        { 601, { 10, 10, 581, 134 }, { 10, 156, 120, 20 }, { 200, 190, 200, 60 }, { 40, 270, 521, 16 }, { 10, 296, 581, 90 } },
        { 700, { 10, 10, 680, 134 }, { 10, 156, 120, 20 }, { 250, 190, 200, 60 }, { 40, 270, 620, 16 }, { 10, 296, 680, 90 } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.width);
        MainComponent screen;
        screen.setSize (c.width, 400);
        ScreenChildren children (screen);

        EXPECT_EQ (children.header->getBounds(), c.header);
        EXPECT_EQ (children.link->getBounds(), c.link);
        EXPECT_EQ (children.button->getBounds(), c.button);
        EXPECT_EQ (children.bar->getBounds(), c.bar);
        EXPECT_EQ (children.label->getBounds(), c.label);
    }
}

TEST (MainComponentLayout, StartsReadyWithTheInstructionAndNoBar)
{
    MainComponent screen;
    ScreenChildren children (screen);

    EXPECT_EQ (screen.getWidth(), 600);
    EXPECT_EQ (screen.getHeight(), 400);

    EXPECT_EQ (children.button->getButtonText(), "START");
    EXPECT_EQ (children.button->getName(), "START");
    EXPECT_TRUE (children.button->isEnabled());
    EXPECT_EQ (children.button->findColour (juce::TextButton::buttonColourId), juce::Colour (0xff808080));

    EXPECT_EQ (children.label->getText(), "Make sure the device is connected then press Start button.");
    EXPECT_EQ (children.label->getJustificationType(), juce::Justification (juce::Justification::centred));

    EXPECT_FALSE (children.bar->isVisible());
    EXPECT_TRUE (children.header->isVisible() && children.link->isVisible() && children.label->isVisible());

    EXPECT_EQ (children.link->getButtonText(), juce::String (MakerSite::host));
    EXPECT_EQ (children.link->getURL().toString (false), "https://" + juce::String (MakerSite::host));
    EXPECT_FALSE (screen.isBusy());
}

TEST (MainComponentLayout, PaintsTheBackgroundAndTheHeader)
{
    MainComponent screen;
    auto snapshot = screen.createComponentSnapshot (screen.getLocalBounds());

    // Corners and the gap between link and button show the background colour.
    for (auto p : { juce::Point<int> (2, 2), juce::Point<int> (597, 397), juce::Point<int> (300, 180), juce::Point<int> (300, 278) })
        EXPECT_EQ (snapshot.getPixelAt (p.x, p.y), juce::Colour (0xff202020)) << p.toString();

    // The header picture is drawn unscaled at (10, 10): its pixels show through there.
    auto header = juce::ImageFileFormat::loadFrom (BinaryData::HL73_Header_png, (size_t) BinaryData::HL73_Header_pngSize);
    int same = 0;
    for (int y = 0; y < header.getHeight(); y += 7)
        for (int x = 0; x < header.getWidth(); x += 7)
            same += snapshot.getPixelAt (10 + x, 10 + y) == header.getPixelAt (x, y) ? 1 : 0;
    const int sampled = ((header.getHeight() + 6) / 7) * ((header.getWidth() + 6) / 7);
    EXPECT_GT (same, sampled * 95 / 100);
}

TEST (EmbeddedImages, HeaderDecodesTo580By134WithoutAlpha)
{
    auto header = juce::ImageFileFormat::loadFrom (BinaryData::HL73_Header_png, (size_t) BinaryData::HL73_Header_pngSize);
    ASSERT_TRUE (header.isValid());
    EXPECT_EQ (header.getWidth(), 580);
    EXPECT_EQ (header.getHeight(), 134);
    EXPECT_FALSE (header.hasAlphaChannel());

    // PNG header: 8-bit truecolour (type 2), not interlaced.
    auto* png = static_cast<const unsigned char*> (static_cast<const void*> (BinaryData::HL73_Header_png));
    EXPECT_EQ (png[24], 8);
    EXPECT_EQ (png[25], 2);
    EXPECT_EQ (png[28], 0);
}

TEST (EmbeddedImages, IconIs1024SquareWithAlpha)
{
    auto icon = juce::ImageFileFormat::loadFrom (BinaryData::HL73_icon_png, (size_t) BinaryData::HL73_icon_pngSize);
    ASSERT_TRUE (icon.isValid());
    EXPECT_EQ (icon.getWidth(), 1024);
    EXPECT_EQ (icon.getHeight(), 1024);
    EXPECT_TRUE (icon.hasAlphaChannel());
    EXPECT_EQ (icon.getPixelAt (0, 0).getAlpha(), 0);
}
