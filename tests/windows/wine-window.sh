# Sourced by the Wine window tests: reading a Wine window's content.

# JUCE's windows under Wine draw their first frame and then wait for a vertical blank that Wine
# never reports, so they do not repaint on their own; a repaint the window system asks for still
# draws the current state. Minimising and restoring the window asks for one.
expose_window() # window id
{
    xdotool windowminimize --sync "$1" 2>/dev/null || xdotool windowminimize "$1"
    sleep 0.2
    xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowactivate "$1" 2>/dev/null || xdotool windowmap "$1"
    sleep 0.3
}

# Prints the text in an area of the window: read_area <work dir> <window x> <window y> x y w h
read_area()
{
    local work=$1 wx=$2 wy=$3
    import -window root -crop "${6}x${7}+$((wx + $4))+$((wy + $5))" +repage \
        -colorspace Gray -negate -resize 300% "$work/area.png"
    tesseract "$work/area.png" - --psm 6 2>/dev/null | tr -s ' \n' ' ' | sed 's/ *$//'
}
