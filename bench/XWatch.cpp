// hl73-bench-xwatch: times what a window shows, by reading its pixels from the X server, so that
// the program under test runs unmodified and unaware.
//
//   hl73-bench-xwatch sample TITLE -- PROGRAM [ARG]...
//       starts the program, waits until its window has settled and prints the colours of a grid
//       of points in it (the reference for "first-frame"), then closes the window
//   hl73-bench-xwatch first-frame TITLE REFERENCE -- PROGRAM [ARG]...
//       starts the program and prints mapped=S painted=S: the seconds from the start until its
//       window is viewable, and until every point of the grid shows its reference colour; then
//       closes the window. REFERENCE is what "sample" printed, or one colour RRGGBB for all points
//   hl73-bench-xwatch run TITLE AREA LIMIT
//       watches AREA (WxH+X+Y, window coordinates) of a window that is already shown: prints
//       "ready" once it knows the area's idle look, then shown=... when the area first changes and
//       seconds=S once it looks idle again (S is the time in between); gives up after LIMIT s
//
// The pointer is moved to the screen's corner first, so that no hover changes what is painted.

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
using Clock = std::chrono::steady_clock;

constexpr int gridColumns = 12, gridRows = 8;

double secondsSince (Clock::time_point start)
{
    return std::chrono::duration<double> (Clock::now() - start).count();
}

void pause (int microseconds)
{
    std::this_thread::sleep_for (std::chrono::microseconds (microseconds));
}

[[noreturn]] void fail (const std::string& message)
{
    std::fprintf (stderr, "hl73-bench-xwatch: %s\n", message.c_str());
    std::exit (1);
}

// A window may vanish or be unmapped between two requests; such errors are expected, not fatal.
int ignoreErrors (Display*, XErrorEvent*) { return 0; }

/** The display, the window found by its title, and the program started for it. */
class Watcher
{
public:
    Watcher()
        : display (XOpenDisplay (nullptr))
    {
        if (display == nullptr)
            fail ("cannot open the display");

        XSetErrorHandler (ignoreErrors);
        root = DefaultRootWindow (display);
        XWarpPointer (display, None, root, 0, 0, 0, 0, 0, 0);
        XSync (display, False);
    }

    ~Watcher() { XCloseDisplay (display); }

    /** Starts the program with its output discarded. */
    void start (char** argv)
    {
        child = fork();

        if (child == 0)
        {
            std::freopen ("/dev/null", "w", stdout);
            execvp (argv[0], argv);
            _exit (127);
        }

        if (child < 0)
            fail ("cannot start " + std::string (argv[0]));
    }

    /** The viewable window whose title is `title`, or 0. */
    Window find (const std::string& title) { return findBelow (root, title, 0); }

    /** Waits up to `limit` seconds for the window to be viewable. */
    Window waitFor (const std::string& title, double limit)
    {
        const auto start = Clock::now();

        while (secondsSince (start) < limit)
        {
            if (const auto window = find (title))
                return window;

            checkChild();
            pause (500);
        }

        fail ("no window titled '" + title + "' within " + std::to_string (limit) + " s");
    }

    /** The colours (0xRRGGBB) of an area of the window, row by row; empty when it cannot be read. */
    std::vector<unsigned long> read (Window window, int x, int y, int width, int height)
    {
        std::vector<unsigned long> pixels;
        XImage* image = XGetImage (display, window, x, y, (unsigned) width, (unsigned) height, AllPlanes, ZPixmap);

        if (image == nullptr)
            return pixels;

        pixels.reserve ((size_t) (width * height));

        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column)
                pixels.push_back (XGetPixel (image, column, row) & 0xffffff);

        XDestroyImage (image);
        return pixels;
    }

    /** The colours of the grid of points, or empty when the window cannot be read. */
    std::vector<unsigned long> readGrid (Window window)
    {
        XWindowAttributes attributes {};

        if (XGetWindowAttributes (display, window, &attributes) == 0 || attributes.map_state != IsViewable)
            return {};

        const auto pixels = read (window, 0, 0, attributes.width, attributes.height);

        if (pixels.empty())
            return {};

        std::vector<unsigned long> grid;

        for (int row = 0; row < gridRows; ++row)
            for (int column = 0; column < gridColumns; ++column)
            {
                const int x = (2 * column + 1) * attributes.width / (2 * gridColumns);
                const int y = (2 * row + 1) * attributes.height / (2 * gridRows);
                grid.push_back (pixels[(size_t) (y * attributes.width + x)]);
            }

        return grid;
    }

    /** Asks the window to close as its close button would, again every second (a request that
        arrives while the program is still starting up can be lost), and waits for the program to
        end; ends it by force after 10 s, which the measurement does not depend on.
    */
    void closeAndWait (Window window)
    {
        for (int i = 0; i < 1000; ++i)
        {
            if (i % 100 == 0)
                sendClose (window);

            if (waitpid (child, nullptr, WNOHANG) == child)
                return;

            pause (10000);
        }

        std::fprintf (stderr, "hl73-bench-xwatch: the program did not close its window; killed it\n");
        kill (child, SIGKILL);
        waitpid (child, nullptr, 0);
    }

private:
    void sendClose (Window window)
    {
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom (display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = (long) XInternAtom (display, "WM_DELETE_WINDOW", False);
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent (display, window, False, NoEventMask, &event);
        XFlush (display);
    }

    Window findBelow (Window parent, const std::string& title, int depth)
    {
        Window rootReturn = 0, parentReturn = 0, *children = nullptr;
        unsigned int count = 0;

        if (depth > 2 || XQueryTree (display, parent, &rootReturn, &parentReturn, &children, &count) == 0)
            return 0;

        Window found = 0;

        for (unsigned int i = 0; i < count && found == 0; ++i)
        {
            // WM_NAME in whichever encoding it was set (JUCE sets UTF8_STRING), compared as bytes.
            XTextProperty name {};

            if (XGetWMName (display, children[i], &name) != 0 && name.value != nullptr)
            {
                XWindowAttributes attributes {};
                const std::string text (reinterpret_cast<const char*> (name.value), name.nitems);

                if (text == title && XGetWindowAttributes (display, children[i], &attributes) != 0 && attributes.map_state == IsViewable)
                    found = children[i];

                XFree (name.value);
            }

            if (found == 0)
                found = findBelow (children[i], title, depth + 1);
        }

        if (children != nullptr)
            XFree (children);

        return found;
    }

    void checkChild()
    {
        if (child > 0 && waitpid (child, nullptr, WNOHANG) == child)
            fail ("the program ended before its window appeared");
    }

    Display* display;
    Window root = 0;
    pid_t child = -1;
};

std::string formatGrid (const std::vector<unsigned long>& grid)
{
    std::string text;

    for (const auto colour : grid)
    {
        char hex[8];
        std::snprintf (hex, sizeof (hex), "%06lx", colour);
        text += (text.empty() ? "" : " ") + std::string (hex);
    }

    return text;
}

std::vector<unsigned long> parseReference (const std::string& text)
{
    std::vector<unsigned long> grid;
    std::istringstream in (text);

    for (std::string hex; in >> hex;)
        grid.push_back (std::strtoul (hex.c_str(), nullptr, 16));

    if (grid.size() == 1)
        grid.assign (gridColumns * gridRows, grid.front());

    if (grid.size() != (size_t) (gridColumns * gridRows))
        fail ("a reference has " + std::to_string (gridColumns * gridRows) + " colours, or one");

    return grid;
}

int sample (const std::string& title, char** program)
{
    Watcher watcher;
    watcher.start (program);
    const auto window = watcher.waitFor (title, 30.0);

    // Settled: the same picture for a whole second.
    std::vector<unsigned long> grid, previous;
    const auto start = Clock::now();
    auto stableSince = Clock::now();

    while (secondsSince (stableSince) < 1.0)
    {
        if (secondsSince (start) > 30.0)
            fail ("the window did not settle");

        grid = watcher.readGrid (window);

        if (grid.empty() || grid != previous)
            stableSince = Clock::now();

        previous = grid;
        pause (20000);
    }

    std::printf ("%s\n", formatGrid (grid).c_str());
    watcher.closeAndWait (window);
    return 0;
}

int firstFrame (const std::string& title, const std::string& referenceText, char** program)
{
    const auto reference = parseReference (referenceText);
    Watcher watcher;
    const auto start = Clock::now();
    watcher.start (program);
    const auto window = watcher.waitFor (title, 30.0);
    const auto mapped = secondsSince (start);

    for (;;)
    {
        if (watcher.readGrid (window) == reference)
            break;

        if (secondsSince (start) > 30.0)
            fail ("the window never showed its reference picture");

        pause (500);
    }

    const auto painted = secondsSince (start);
    std::printf ("mapped=%.6f painted=%.6f\n", mapped, painted);
    watcher.closeAndWait (window);
    return 0;
}

int run (const std::string& title, const std::string& area, double limit)
{
    int width = 0, height = 0, x = 0, y = 0;

    if (std::sscanf (area.c_str(), "%dx%d+%d+%d", &width, &height, &x, &y) != 4)
        fail ("an area is WxH+X+Y, not " + area);

    Watcher watcher;
    const auto window = watcher.waitFor (title, 10.0);
    const auto idle = watcher.read (window, x, y, width, height);

    if (idle.empty())
        fail ("cannot read the window");

    std::printf ("ready\n");
    std::fflush (stdout);

    const auto start = Clock::now();
    std::optional<Clock::time_point> shown;

    while (secondsSince (start) < limit)
    {
        const auto pixels = watcher.read (window, x, y, width, height);

        if (! shown && ! pixels.empty() && pixels != idle)
        {
            shown = Clock::now();
            std::printf ("shown=%.6f\n", secondsSince (start));
            std::fflush (stdout);
        }
        else if (shown && pixels == idle)
        {
            std::printf ("seconds=%.6f\n", std::chrono::duration<double> (Clock::now() - *shown).count());
            return 0;
        }

        pause (1000);
    }

    fail ("the area did not " + std::string (shown ? "return to its idle look" : "change") + " within the limit");
}
} // namespace

int main (int argc, char** argv)
{
    const auto programAt = [&] (int index) -> char**
    {
        if (argc <= index + 1 || std::strcmp (argv[index], "--") != 0)
            fail ("the program to start follows --");

        return argv + index + 1;
    };

    if (argc >= 5 && std::strcmp (argv[1], "sample") == 0)
        return sample (argv[2], programAt (3));

    if (argc >= 6 && std::strcmp (argv[1], "first-frame") == 0)
        return firstFrame (argv[2], argv[3], programAt (4));

    if (argc == 5 && std::strcmp (argv[1], "run") == 0)
        return run (argv[2], argv[3], std::atof (argv[4]));

    std::fprintf (stderr, "usage: hl73-bench-xwatch sample TITLE -- PROGRAM... | first-frame TITLE REFERENCE -- PROGRAM... | run TITLE AREA LIMIT\n");
    return 2;
}
