#pragma once

#include <cstddef>
#include <string>

/** True when `a` sorts before `b` with runs of digits compared by value, so that ttyACM2 comes
    before ttyACM10 and RPI-RP2 before RPI-RP21. Other characters compare byte by byte.
*/
inline bool naturalLess (const std::string& a, const std::string& b)
{
    const auto isDigit = [] (char c)
    { return c >= '0' && c <= '9'; };

    std::size_t i = 0, j = 0;

    while (i < a.size() && j < b.size())
    {
        if (isDigit (a[i]) && isDigit (b[j]))
        {
            auto endA = i, endB = j;

            while (endA < a.size() && isDigit (a[endA]))
                ++endA;

            while (endB < b.size() && isDigit (b[endB]))
                ++endB;

            // Leading zeros do not change the value; a longer significant run is the larger number.
            auto startA = i, startB = j;

            while (startA + 1 < endA && a[startA] == '0')
                ++startA;

            while (startB + 1 < endB && b[startB] == '0')
                ++startB;

            const auto lengthA = endA - startA, lengthB = endB - startB;

            if (lengthA != lengthB)
                return lengthA < lengthB;

            if (const auto order = a.compare (startA, lengthA, b, startB, lengthB); order != 0)
                return order < 0;

            // Same value: the shorter spelling (fewer leading zeros) first keeps the order strict.
            if (endA - i != endB - j)
                return endA - i < endB - j;

            i = endA;
            j = endB;
            continue;
        }

        if (a[i] != b[j])
            return static_cast<unsigned char> (a[i]) < static_cast<unsigned char> (b[j]);

        ++i;
        ++j;
    }

    return a.size() - i < b.size() - j;
}
